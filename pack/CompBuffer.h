// Buffer compression: TOvCompBuffer turns a whole buffer in memory into a Corvel stream in a new
// global-heap block with a check word over it, and back. The caller keeps the three numbers a
// block needs (uncompressed size, stream size, check word); no header is written.
#pragma once

#include <cstdint>
#include <memory>

#include "platform/core/Component.h"
#include "platform/core/Types.h"

namespace ovelta {

class TCrcCheck;

// Compresses whole buffers in memory into global-heap blocks guarded by a check word, and expands
// them again. No header is written: the caller keeps the uncompressed size, the compressed size and
// the check word and passes all three back. Failures are a false result only.
class TOvCompBuffer : public TObject {
 public:
  TOvCompBuffer();
  ~TOvCompBuffer() override;
  TOvCompBuffer(const TOvCompBuffer&) = delete;
  TOvCompBuffer& operator=(const TOvCompBuffer&) = delete;
  std::string ClassName() const override { return "TOvCompBuffer"; }

  // Compresses SourceSize (1 or more) bytes at Source into a new global-heap block (released by the
  // caller with GlobalFree) holding the Corvel stream, even when it is larger than the source.
  // On success Dest is the block, DestSize the stream size and Crc the check word over the stream.
  // On failure (size 0 or less, no memory): false; with size 0 or less the outputs are untouched,
  // otherwise Dest is null and nothing stays allocated.
  bool EncodeBuffer(const void* Source, std::int32_t SourceSize, void*& Dest,
                    std::int32_t& DestSize, Word& Crc);
  // Checks Crc over SourceSize bytes at Source, then expands them into a new global-heap block of
  // DecodeSize bytes (released by the caller with GlobalFree). Refused (false, Dest untouched,
  // nothing allocated): a check word mismatch, a size of 0 or less. Refused after allocation
  // (false, Dest null, nothing left allocated): no memory, or a stream that is not exactly a Corvel
  // stream of DecodeSize bytes in SourceSize bytes. Never reads outside the source or writes
  // outside the new block.
  bool DecodeBuffer(const void* Source, std::int32_t SourceSize, std::int32_t DecodeSize, Word Crc,
                    void*& Dest);

 private:
  std::unique_ptr<TCrcCheck> FCrcCheck;
};

}  // namespace ovelta
