// TOvCompBuffer: whole buffers in memory through the Corvel codec into global-heap blocks, with a
// check word over the compressed bytes; a block is expanded only when it is exactly a stream of the
// stated sizes.
#include <cstring>

#include "pack/CompBuffer.h"
#include "pack/Corvel.h"
#include "pack/Crc.h"
#include "platform/core/Heap.h"

namespace ovelta {

namespace {

constexpr Word kCrcStart = 0xFFFF;
constexpr std::int64_t kGroupItems = 32;
constexpr std::int64_t kFlagBytes = 4;

}  // namespace

TOvCompBuffer::TOvCompBuffer() : FCrcCheck(std::make_unique<TCrcCheck>()) {}

TOvCompBuffer::~TOvCompBuffer() = default;

bool TOvCompBuffer::EncodeBuffer(const void* Source, std::int32_t SourceSize, void*& Dest,
                                 std::int32_t& DestSize, Word& Crc) {
  if (SourceSize <= 0) return false;
  // The largest stream: every byte a literal, and a flag word per 32 of them.
  const std::int64_t capacity =
      SourceSize + kFlagBytes * ((SourceSize + kGroupItems - 1) / kGroupItems);
  // The block is taken when the first bytes arrive, after the encoder's own buffers.
  GlobalBlock block;
  std::int64_t written = 0;
  TCorvelEncode encoder;
  const TCorvelRun run =
      CorvelEncodeAll(encoder, Source, SourceSize, [&](const Byte* Data, std::int32_t Count) {
        if (!block) block.Reset(GlobalAlloc(GMEM_FIXED, static_cast<std::size_t>(capacity)));
        if (!block) return false;
        if (written + Count > capacity)
          return false;  // cannot happen with this encoder; never write past the block
        std::memcpy(block.As<Byte>() + written, Data, static_cast<std::size_t>(Count));
        written += Count;
        return true;
      });
  if (!run.Ok()) {
    Dest = nullptr;
    return false;
  }
  DestSize = static_cast<std::int32_t>(written);
  Crc = FCrcCheck->UpDateCrc(kCrcStart, block.Get(), DestSize);
  Dest = block.Release();
  return true;
}

bool TOvCompBuffer::DecodeBuffer(const void* Source, std::int32_t SourceSize,
                                 std::int32_t DecodeSize, Word Crc, void*& Dest) {
  if (SourceSize <= 0 || DecodeSize <= 0) return false;
  if (FCrcCheck->UpDateCrc(kCrcStart, Source, SourceSize) != Crc) return false;
  // The block is taken when the first bytes arrive, after the decoder's own buffers.
  GlobalBlock block;
  std::int64_t written = 0;
  TCorvelDecode decoder;
  // The driver never hands out more than DecodeSize bytes.
  const TCorvelRun run = CorvelDecodeAll(
      decoder, Source, DecodeSize, SourceSize, [&](const Byte* Data, std::int32_t Count) {
        if (!block) block.Reset(GlobalAlloc(GMEM_FIXED, static_cast<std::size_t>(DecodeSize)));
        if (!block) return false;
        std::memcpy(block.As<Byte>() + written, Data, static_cast<std::size_t>(Count));
        written += Count;
        return true;
      });
  // Only a stream that fills the stated size exactly and ends exactly at the stated stream size.
  if (!run.Ok() || run.Consumed != SourceSize) {
    Dest = nullptr;
    return false;
  }
  Dest = block.Release();
  return true;
}

}  // namespace ovelta
