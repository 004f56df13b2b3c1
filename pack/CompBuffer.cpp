// TOvCompBuffer: whole buffers in memory through the Corvel codec into global-heap blocks, with a
// check word over the compressed bytes; a block is expanded only when it is exactly a stream of the
// stated sizes.
#include <cstring>

#include "pack/Ovpack.h"
#include "platform/core/Heap.h"

namespace ovelta {

namespace {

constexpr Word kCrcStart = 0xFFFF;
constexpr std::int64_t kGroupItems = 32;
constexpr std::int64_t kFlagBytes = 4;

}  // namespace

TOvCompBuffer::TOvCompBuffer() : FCrcCheck(std::make_unique<TCrcCheck>()) {}

TOvCompBuffer::~TOvCompBuffer() = default;

bool TOvCompBuffer::EncodeBuffer(const void* Source, std::int32_t SourceSize, void*& Dest, std::int32_t& DestSize,
                                 Word& Crc) {
  if (SourceSize <= 0) return false;
  const auto* source = static_cast<const Byte*>(Source);
  TCorvelEncode encoder;
  const Byte* out = encoder.Open(SourceSize);
  // The largest stream: every byte a literal, and a flag word per 32 of them.
  const std::int64_t capacity = SourceSize + kFlagBytes * ((SourceSize + kGroupItems - 1) / kGroupItems);
  GlobalBlock block(out ? GlobalAlloc(GMEM_FIXED, static_cast<std::size_t>(capacity)) : nullptr);
  if (!out || !block) {
    Dest = nullptr;
    return false;
  }
  auto* dest = block.As<Byte>();
  std::int64_t written = 0;
  std::int64_t next = 0;
  while (!encoder.Finished()) {
    const Byte* slice = next < SourceSize ? source + next : nullptr;
    next += kCorvelSliceSize;
    std::int32_t n = encoder.Encode(slice);
    if (n <= 0) continue;
    if (written + n > capacity) break;  // cannot happen with this encoder; never write past the block
    std::memcpy(dest + written, out, static_cast<std::size_t>(n));
    written += n;
  }
  if (encoder.Failed() || written != encoder.Committed()) {
    Dest = nullptr;
    return false;
  }
  DestSize = static_cast<std::int32_t>(written);
  Crc = FCrcCheck->UpDateCrc(kCrcStart, dest, DestSize);
  Dest = block.Release();
  return true;
}

bool TOvCompBuffer::DecodeBuffer(const void* Source, std::int32_t SourceSize, std::int32_t DecodeSize, Word Crc,
                                 void*& Dest) {
  if (SourceSize <= 0 || DecodeSize <= 0) return false;
  if (FCrcCheck->UpDateCrc(kCrcStart, Source, SourceSize) != Crc) return false;
  const auto* source = static_cast<const Byte*>(Source);
  TCorvelDecode decoder;
  const Byte* out = decoder.Open(DecodeSize, SourceSize);
  GlobalBlock block(out ? GlobalAlloc(GMEM_FIXED, static_cast<std::size_t>(DecodeSize)) : nullptr);
  if (!out || !block) {
    Dest = nullptr;
    return false;
  }
  auto* dest = block.As<Byte>();
  std::int64_t written = 0;
  std::int64_t next = 0;
  bool fits = true;
  while (!decoder.Finished()) {
    std::int32_t n;
    if (decoder.NeedInput()) {
      n = decoder.Decode(source + next);
      next += kCorvelSliceSize;
    } else {
      n = decoder.Decode(nullptr);
    }
    if (n <= 0) continue;
    if (written + n > DecodeSize) {  // the decoder never gives more; never write past the block
      fits = false;
      break;
    }
    std::memcpy(dest + written, out, static_cast<std::size_t>(n));
    written += n;
  }
  // Only a stream that fills the stated size exactly and ends exactly at the stated stream size.
  if (!fits || decoder.Failed() || written != DecodeSize || decoder.Consumed() != SourceSize) {
    Dest = nullptr;
    return false;
  }
  Dest = block.Release();
  return true;
}

}  // namespace ovelta
