// TStream's shared helpers and TMemoryStream on a malloc'ed block; TFileStream is the platform's
// (Streams_posix.cpp, Streams_win.cpp).
#include "platform/core/Streams.h"

#include <algorithm>
#include <cstdlib>
#include <cstring>
#include <limits>
#include <vector>

namespace ovelta {

namespace {

constexpr std::int32_t kCopyBlock = 64 * 1024;
// No memory stream grows beyond this (far beyond any real memory, and within what the sanitizers'
// allocators accept without aborting).
constexpr std::int64_t kMaxMemoryStream = std::int64_t{1} << 38;

}  // namespace

// ---- TStream --------------------------------------------------------------------------------

std::int64_t TStream::Size() {
  std::int64_t here = Seek(0, TSeekOrigin::soCurrent);
  std::int64_t end = Seek(0, TSeekOrigin::soEnd);
  Seek(here, TSeekOrigin::soBeginning);
  return end;
}

void TStream::ReadBuffer(void* Buffer, std::int32_t Count) {
  if (Count > 0 && Read(Buffer, Count) != Count) throw EReadError("Stream read error");
}

void TStream::WriteBuffer(const void* Buffer, std::int32_t Count) {
  if (Count > 0 && Write(Buffer, Count) != Count) throw EWriteError("Stream write error");
}

std::int64_t TStream::CopyFrom(TStream& Source, std::int64_t Count) {
  if (Count <= 0) {
    Source.SetPosition(0);
    Count = Source.Size();
  }
  std::vector<Byte> block(static_cast<std::size_t>(std::min<std::int64_t>(Count, kCopyBlock)));
  std::int64_t left = Count;
  while (left > 0) {
    auto piece = static_cast<std::int32_t>(std::min<std::int64_t>(left, kCopyBlock));
    Source.ReadBuffer(block.data(), piece);
    WriteBuffer(block.data(), piece);
    left -= piece;
  }
  return Count;
}

// ---- TMemoryStream --------------------------------------------------------------------------

TMemoryStream::~TMemoryStream() { std::free(FMemory); }

void TMemoryStream::Reserve(std::int64_t Capacity) {
  if (Capacity <= FCapacity) return;
  if (Capacity > kMaxMemoryStream) throw EStreamError("Memory stream too large");
  // Grow by half again at least, so that many small writes cost amortised constant time.
  std::int64_t wanted = std::max(Capacity, FCapacity + FCapacity / 2);
  wanted = std::min((wanted + 4095) & ~std::int64_t{4095}, kMaxMemoryStream);
  void* grown = std::realloc(FMemory, static_cast<std::size_t>(wanted));
  if (!grown) {
    // Try the exact amount before giving up.
    grown = std::realloc(FMemory, static_cast<std::size_t>(Capacity));
    if (!grown) throw EStreamError("Out of memory while growing a memory stream");
    wanted = Capacity;
  }
  FMemory = static_cast<Byte*>(grown);
  FCapacity = wanted;
}

std::int32_t TMemoryStream::Read(void* Buffer, std::int32_t Count) {
  if (Count <= 0 || FPosition >= FSize) return 0;
  auto n = static_cast<std::int32_t>(std::min<std::int64_t>(Count, FSize - FPosition));
  std::memcpy(Buffer, FMemory + FPosition, static_cast<std::size_t>(n));
  FPosition += n;
  return n;
}

std::int32_t TMemoryStream::Write(const void* Buffer, std::int32_t Count) {
  if (Count <= 0) return 0;
  if (FPosition > std::numeric_limits<std::int64_t>::max() - Count)
    throw EWriteError("Write beyond the largest memory stream");
  const std::int64_t end = FPosition + Count;
  if (end > FSize) {
    Reserve(end);
    if (FPosition > FSize)
      std::memset(FMemory + FSize, 0, static_cast<std::size_t>(FPosition - FSize));
    FSize = end;
  }
  std::memcpy(FMemory + FPosition, Buffer, static_cast<std::size_t>(Count));
  FPosition = end;
  return Count;
}

std::int64_t TMemoryStream::Seek(std::int64_t Offset, TSeekOrigin Origin) {
  std::int64_t base = Origin == TSeekOrigin::soCurrent ? FPosition
                      : Origin == TSeekOrigin::soEnd   ? FSize
                                                       : 0;
  if ((Offset < 0 && base + Offset < 0) ||
      (Offset > 0 && base > std::numeric_limits<std::int64_t>::max() - Offset))
    throw EStreamError("Seek before the start of a memory stream");
  FPosition = base + Offset;
  return FPosition;
}

void TMemoryStream::SetSize(std::int64_t NewSize) {
  if (NewSize < 0) throw EStreamError("Negative memory stream size");
  Reserve(NewSize);
  if (NewSize > FSize) std::memset(FMemory + FSize, 0, static_cast<std::size_t>(NewSize - FSize));
  FSize = NewSize;
  if (FPosition > FSize) FPosition = FSize;
}

void TMemoryStream::Clear() {
  std::free(FMemory);
  FMemory = nullptr;
  FSize = FCapacity = FPosition = 0;
}

void TMemoryStream::LoadFromFile(const AnsiString& FileName) {
  TFileStream file(FileName, fmOpenRead | fmShareDenyWrite);
  const std::int64_t size = file.Size();
  TMemoryStream loaded;
  loaded.SetSize(size);
  std::int64_t done = 0;
  while (done < size) {
    auto piece = static_cast<std::int32_t>(std::min<std::int64_t>(size - done, kCopyBlock));
    file.ReadBuffer(loaded.FMemory + done, piece);
    done += piece;
  }
  std::swap(FMemory, loaded.FMemory);
  std::swap(FSize, loaded.FSize);
  std::swap(FCapacity, loaded.FCapacity);
  FPosition = 0;
}

void TMemoryStream::SaveToFile(const AnsiString& FileName) {
  TFileStream file(FileName, fmCreate);
  std::int64_t done = 0;
  while (done < FSize) {
    auto piece = static_cast<std::int32_t>(std::min<std::int64_t>(FSize - done, kCopyBlock));
    file.WriteBuffer(FMemory + done, piece);
    done += piece;
  }
}

}  // namespace ovelta
