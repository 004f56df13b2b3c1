// The byte sources the BMP and ACT loaders read from (a file, a block of memory such as a module
// resource, a pack member), and the decoders that run over any of them.
#pragma once

#include <cstddef>
#include <cstdint>

#include "graphics/Ovbitmap.h"

namespace ovelta::bmp_detail {

// A sequential reader over a source of known length.
class TByteSource {
 public:
  virtual ~TByteSource() = default;
  // Total length in bytes, from offset 0.
  virtual std::int64_t Size() const = 0;
  // Reads exactly Bytes bytes from the current position; false (the position then undefined) when
  // the source ends first or fails.
  virtual bool Read(void* Buffer, std::size_t Bytes) = 0;
  // Moves the position Bytes forward; false when that passes the end.
  virtual bool Skip(std::size_t Bytes) = 0;
};

// A block of memory (a module resource, or a test's bytes). The memory must outlive the source.
class TMemorySource final : public TByteSource {
 public:
  TMemorySource(const void* Data, std::size_t Size)
      : FData(static_cast<const Byte*>(Data)), FSize(Size) {}
  std::int64_t Size() const override { return static_cast<std::int64_t>(FSize); }
  bool Read(void* Buffer, std::size_t Bytes) override;
  bool Skip(std::size_t Bytes) override;

 private:
  const Byte* FData;
  std::size_t FSize;
  std::size_t FPosition = 0;
};

// What the file header holds before the info header: 14 bytes in files and pack members, none in
// module resources.
enum class TBmpForm { File, Resource };

// The decoders behind the public loaders, with the contracts of graphics/Ovbitmap.h.
bool LoadBmp8(TByteSource& Source, TBmpForm Form, RGBQUAD** Palette, Byte** Pixels, int* Width,
              int* Height);
bool LoadBmp24(TByteSource& Source, TBmpForm Form, TOvRGB** Pixels, int* Width, int* Height);
bool LoadAct(TByteSource& Source, RGBQUAD** Palette);

}  // namespace ovelta::bmp_detail
