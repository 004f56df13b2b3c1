// The unit Ovpack: CRC-16 check words, the Corvel compression codec, buffer compression, and the pack
// archive component TOvPack with its member handles (OvFILE).
#pragma once

#include "platform/Types.h"

// ============================================================================================
// CRC, Corvel codec and buffer compression
// ============================================================================================

#include <cstdint>
#include <memory>

#include "platform/Component.h"

namespace ovelta {

// ---- CRC-16 ---------------------------------------------------------------------------------

// The two polynomials of TCrcCheck. ctPoly1021 (the default, and the one every check word of the
// library uses) is CRC-16/MCRF4XX: reflected 0x1021 (table constant 0x8408), started from 0xFFFF,
// no final XOR; "123456789" gives 0x6F91. ctPoly8003 uses the reflected constant 0xC001 (0x8003 in
// normal form); "123456789" gives 0x7ABB. Any other value selects 0x8408.
enum TCrcType : std::uint8_t { ctPoly1021 = 0, ctPoly8003 = 1 };

// A 16-bit reflected CRC over byte strings, in one call or over any number of pieces: start from
// 0xFFFF and pass each result into the next UpDateCrc call. There is no finishing step. Each object
// has its own table; objects share nothing and may be used on different threads.
class TCrcCheck : public TObject {
 public:
  // Type ctPoly1021, table built.
  TCrcCheck();
  std::string ClassName() const override { return "TCrcCheck"; }

  // Rebuilds the byte table from the current type.
  void MakeCrcTable();
  // Stores the type, then rebuilds the table.
  void SetCrcType(TCrcType Value);
  TCrcType CrcType() const { return FCrcType; }
  // Entry Index (0 to 255) of the byte-at-a-time table of the current type.
  Word CrcTable(int Index) const { return FCrcTable[Index & 0xFF]; }

  // The check word after feeding Length bytes at Data into the running word Crc. A Length of 0 or
  // less returns Crc unchanged and does not read Data. Reads exactly Length bytes.
  Word UpDateCrc(Word Crc, const void* Data, std::int32_t Length) const;
  // UpDateCrc started from 0xFFFF.
  Word Crc(const void* Data, std::int32_t Length) const { return UpDateCrc(0xFFFF, Data, Length); }
  // The same result as UpDateCrc, one table look-up per byte (the reference the fast update is
  // measured against).
  Word UpDateCrcBytewise(Word Crc, const void* Data, std::int32_t Length) const;

 private:
  TCrcType FCrcType = ctPoly1021;
  Word FCrcTable[256];
  const Word (*FSliceTables)[256] = nullptr;  // 16 tables for sixteen bytes per step, per type
};

// ---- Corvel codec -----------------------------------------------------------------------------

// The Corvel stream: groups of a 32-bit little-endian flag word and up to 32 items (bit 31 first;
// 0 a literal byte, 1 a match token with up to three extension bytes). Window 1535 bytes, matches
// of 1 to 8192 bytes as the encoder writes them. The stream has no header, length or end marker:
// the decoder is told the decoded size and the stored size. doc/corvel_format.md draws it.
inline constexpr std::int32_t kCorvelSliceSize = 16384;     // input and stream slices
inline constexpr std::int32_t kCorvelHistory = 1536;        // history kept ahead of each slice
inline constexpr std::int32_t kCorvelMaxDistance = 1535;    // farthest match
inline constexpr std::int32_t kCorvelMaxLength = 8192;      // longest match the encoder writes
inline constexpr std::int32_t kCorvelWindowSize = 0x8600;   // 34304: history + two slices
inline constexpr std::int32_t kCorvelOutputSize = 0x4A00;   // 18944: one call's output + open group
inline constexpr std::int32_t kCorvelInputSize = 0x4100;    // 16640: one stream slice + 256 carried

struct CorvelMatchFinder;  // the encoder's search state (hash chains), private to pack/

// Compresses a byte string of known size, one 16384-byte slice per call.
//
// Calling order: Open(total size); then while !Finished(): Encode(pointer to slice k) on call k
// (input bytes 16384*k onwards, the last slice shorter; once every slice has been passed, the
// pointer is not read and may be null); after each positive result take that many bytes from the
// start of the buffer Open returned before the next call, which overwrites them; then Close.
// Committed() after the last call is the compressed size. The stream does not depend on how the
// input is sliced in memory, only on its bytes.
//
// Memory is fixed, whatever the input size: the window and output buffers (global heap, 34304 and
// 18944 bytes) and the search tables (200 KB, from the C++ heap). Each encoder has its own search
// state: encoders on different threads do not disturb each other.
class TCorvelEncode : public TObject {
 public:
  TCorvelEncode();
  ~TCorvelEncode() override;
  TCorvelEncode(const TCorvelEncode&) = delete;
  TCorvelEncode& operator=(const TCorvelEncode&) = delete;
  std::string ClassName() const override { return "TCorvelEncode"; }

  // Starts encoding Size bytes (1 or more, and small enough that the worst-case stream of
  // Size + 4 bytes per 32 fits in 31 bits). An open encoder is closed first. Returns the output
  // buffer (kCorvelOutputSize bytes, owned by the encoder until Close), or null when the size is
  // refused or memory cannot be had; nothing stays allocated then and the encoder is finished.
  Byte* Open(std::int32_t Size);
  // Takes the next slice (see the calling order) and encodes what the window allows. Returns the
  // number of stream bytes ready at the start of the output buffer, 0 if none yet, and 0 when
  // closed or finished. Reads at most 16384 bytes at Source, and only while input remains.
  std::int32_t Encode(const void* Source);
  // Frees the buffers if open. Always true.
  bool Close();

  // The longest match for the byte at Current, input position Position of an input of Size bytes:
  // the match length (0 if not even one byte matches, at most 8192 and at most Size - Position)
  // and, among matches of that length, the smallest distance (1 to min(Position, 1535)). Reads up
  // to min(Position, 1535) bytes before Current and up to the length limit from Current.
  void NewSearch(const Byte* Current, std::int32_t Position, std::int32_t Size, Word& Length,
                 Word& Distance) const;
  // The number of leading bytes, at most Count, in which A and B agree.
  static Word Search(const Byte* A, const Byte* B, Word Count);

  bool Opened() const { return FOpen; }
  bool Finished() const { return FFinished; }
  // True when a call needed input and was given a null pointer; the encoder is finished then.
  bool Failed() const { return FFailed; }
  std::int32_t Total() const { return FTotal; }
  std::int32_t InputPosition() const { return FInputPos; }
  // Stream bytes completed so far; after the last call, the compressed size.
  std::int32_t Committed() const { return FCommitted; }

 private:
  void FreeBuffers();

  bool FOpen = false;
  bool FFinished = true;
  bool FFailed = false;
  std::int32_t FTotal = 0;
  std::int32_t FSlicesLoaded = 0;
  Byte* FWindow = nullptr;
  Byte* FOutput = nullptr;
  std::int32_t FInputPos = 0;
  std::int32_t FOutCount = 0;
  std::int32_t FWindowBase = 0;
  std::int32_t FOutBase = 0;
  std::int32_t FCommitted = 0;
  DWord FFlagWord = 0;
  DWord FFlagMask = 0x80000000u;
  std::int32_t FGroupItems = 0;
  std::int32_t FFlagSlot = 0;
  std::unique_ptr<CorvelMatchFinder> FFinder;
};

// Expands a Corvel stream of known decoded and stored sizes, one 16384-byte stream slice per call.
//
// Calling order: Open(decoded size, stored size); then while !Finished(): if NeedInput(), pass the
// next slice of the stream (the lesser of 16384 bytes and what remains of the stored size),
// otherwise any pointer (not read); after each positive result take that many bytes from the
// pointer Open returned before calling again; then Close.
//
// The decoder never trusts the stream: a match of length 0, at distance 0, reaching before the
// first byte, or running past the decoded size or the window, and items running past the stored
// size make it stop at once without reading or writing outside its buffers: Failed() becomes true,
// Decode returns 0 and the decoder is finished. Bytes handed out before a failure are not to be
// trusted either. Stream bytes left over once the decoded size is reached are not read; a caller
// that wants the stream to end exactly there compares Consumed() with the stored size.
class TCorvelDecode : public TObject {
 public:
  TCorvelDecode();
  ~TCorvelDecode() override;
  TCorvelDecode(const TCorvelDecode&) = delete;
  TCorvelDecode& operator=(const TCorvelDecode&) = delete;
  std::string ClassName() const override { return "TCorvelDecode"; }

  // Starts expanding a stream of StoredSize bytes into DecodedSize bytes (both 1 or more). An open
  // decoder is closed first. Returns where each call's decoded bytes appear (owned by the decoder
  // until Close), or null when a size is refused (Failed() true) or memory cannot be had; nothing
  // stays allocated then and the decoder is finished.
  Byte* Open(std::int32_t DecodedSize, std::int32_t StoredSize);
  // One step (see the calling order). Returns the number of decoded bytes ready at the pointer Open
  // returned, 0 if none yet, and 0 when closed, finished or failed. Reads at most 16384 bytes at
  // Source, and only when NeedInput() was true.
  std::int32_t Decode(const void* Source);
  // Frees the buffers if open. Always true.
  bool Close();

  bool Opened() const { return FOpen; }
  bool Finished() const { return FFinished; }
  bool NeedInput() const { return FNeedInput; }
  bool Failed() const { return FFailed; }
  std::int32_t DecodedSize() const { return FDecodedSize; }
  std::int32_t StoredSize() const { return FStoredSize; }
  std::int32_t Produced() const { return static_cast<std::int32_t>(FProduced); }
  std::int32_t Consumed() const { return static_cast<std::int32_t>(FConsumed); }

 private:
  bool DecodeItems();
  void Fail();
  void FreeBuffers();

  bool FOpen = false;
  bool FFinished = true;
  bool FNeedInput = false;
  bool FFailed = false;
  std::int32_t FDecodedSize = 0;
  std::int32_t FStoredSize = 0;
  Byte* FInput = nullptr;
  Byte* FWindow = nullptr;
  std::int64_t FConsumed = 0;
  std::int64_t FLoaded = 0;
  std::int64_t FInputBase = 0;
  std::int64_t FProduced = 0;
  std::int64_t FOutBase = 0;
  std::uint64_t FFlags = 0;  // the open group's flag bits, next item first, and a stop bit
};

// ---- Buffer compression -----------------------------------------------------------------------

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
  bool EncodeBuffer(const void* Source, std::int32_t SourceSize, void*& Dest, std::int32_t& DestSize,
                    Word& Crc);
  // Checks Crc over SourceSize bytes at Source, then expands them into a new global-heap block of
  // DecodeSize bytes (released by the caller with GlobalFree). Refused (false, Dest untouched, nothing
  // allocated): a check word mismatch, a size of 0 or less. Refused after allocation (false, Dest
  // null, nothing left allocated): no memory, or a stream that is not exactly a Corvel stream of
  // DecodeSize bytes in SourceSize bytes. Never reads outside the source or writes outside the
  // new block.
  bool DecodeBuffer(const void* Source, std::int32_t SourceSize, std::int32_t DecodeSize, Word Crc,
                    void*& Dest);

 private:
  std::unique_ptr<TCrcCheck> FCrcCheck;
};

}  // namespace ovelta

// (end of the CRC, codec and buffer compression section)
//
//
//
//
//
//
//
//
// ============================================================================================
// Pack archives: TOvPack and OvFILE
// ============================================================================================

namespace ovelta {}  // namespace ovelta

// (end of the pack archive section)
