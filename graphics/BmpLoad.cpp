// The BMP and ACT decoders (header checks, colour tables, bottom-up rows) over any byte source, and
// the loaders that read from files and module resources.
#include <sys/stat.h>

#include <array>
#include <cstdio>
#include <cstring>

#include "graphics/BmpSource_p.h"
#include "graphics/Ovbitmap.h"
#include "platform/core/Heap.h"

namespace ovelta {

namespace bmp_detail {

namespace {

constexpr std::size_t kFileHeaderBytes = 14;
constexpr std::size_t kInfoHeaderBytes = 40;
constexpr int kPaletteEntries = 256;
constexpr std::size_t kPaletteBytes = kPaletteEntries * sizeof(RGBQUAD);
constexpr std::size_t kActBytes = kPaletteEntries * 3;
constexpr DWord kUncompressed = 0;

DWord Le32(const Byte* P) {
  return static_cast<DWord>(P[0]) | static_cast<DWord>(P[1]) << 8 | static_cast<DWord>(P[2]) << 16 |
         static_cast<DWord>(P[3]) << 24;
}
Word Le16(const Byte* P) { return static_cast<Word>(P[0] | P[1] << 8); }

// The facts of a BMP the loaders act on, all checked against the source's length.
struct TBmpHeader {
  int Width = 0;
  int Height = 0;
  int BitCount = 0;
  int Colours = 0;  // colour-table entries (8-bit images): 1 to kPaletteEntries
  std::int64_t HeaderBytes = 0;
};

// Reads the file header (when present) and the info header, and refuses what the loaders cannot
// take safely: an info header of other than 40 bytes, compression, sizes outside 1 to kBmpMaxSide
// (a negative height, a top-down image, included), more than 256 colours.
bool ReadHeader(TByteSource& Source, TBmpForm Form, TBmpHeader* Header) {
  Byte bytes[kInfoHeaderBytes];
  if (Form == TBmpForm::File && !Source.Skip(kFileHeaderBytes)) return false;
  if (!Source.Read(bytes, sizeof bytes)) return false;
  const DWord infoSize = Le32(bytes + 0);
  const auto width = static_cast<std::int32_t>(Le32(bytes + 4));
  const auto height = static_cast<std::int32_t>(Le32(bytes + 8));
  const Word bitCount = Le16(bytes + 14);
  const DWord compression = Le32(bytes + 16);
  const DWord coloursUsed = Le32(bytes + 32) & 0xFFFF;  // only the low word counts
  if (infoSize != kInfoHeaderBytes || compression != kUncompressed) return false;
  if (width < 1 || width > kBmpMaxSide || height < 1 || height > kBmpMaxSide) return false;
  // The tables the colours are read into hold kPaletteEntries: a longer table is refused here,
  // before any loader reads it.
  if (coloursUsed > static_cast<DWord>(kPaletteEntries)) return false;
  Header->Width = width;
  Header->Height = height;
  Header->BitCount = bitCount;
  Header->Colours = coloursUsed == 0 ? kPaletteEntries : static_cast<int>(coloursUsed);
  Header->HeaderBytes =
      static_cast<std::int64_t>((Form == TBmpForm::File ? kFileHeaderBytes : 0) + kInfoHeaderBytes);
  return true;
}

// Bytes of one stored row: BytesPerPixel * width, padded to a multiple of 4.
std::int64_t RowBytes(int Width, int BytesPerPixel) {
  return (static_cast<std::int64_t>(Width) * BytesPerPixel + 3) & ~std::int64_t{3};
}

// True when the whole image (colour table and every row) lies inside the source.
bool ImageFits(const TByteSource& Source, const TBmpHeader& Header, int TableEntries,
               int BytesPerPixel) {
  const std::int64_t needed = Header.HeaderBytes + std::int64_t{TableEntries} * 4 +
                              Header.Height * RowBytes(Header.Width, BytesPerPixel);
  return Source.Size() >= needed;
}

// A block from the global heap, or the caller's own when its variable already holds one.
template <typename T>
T* OutputBlock(T** Variable, std::size_t Bytes, GlobalBlock* Own, unsigned Flags) {
  if (*Variable) return *Variable;
  Own->Reset(GlobalAlloc(Flags, Bytes));
  return Own->As<T>();
}

}  // namespace

bool TMemorySource::Read(void* Buffer, std::size_t Bytes) {
  if (Bytes > FSize - FPosition) return false;
  if (Bytes > 0) std::memcpy(Buffer, FData + FPosition, Bytes);
  FPosition += Bytes;
  return true;
}

bool TMemorySource::Skip(std::size_t Bytes) {
  if (Bytes > FSize - FPosition) return false;
  FPosition += Bytes;
  return true;
}

bool LoadBmp8(TByteSource& Source, TBmpForm Form, RGBQUAD** Palette, Byte** Pixels, int* Width,
              int* Height) {
  TBmpHeader header;
  if (!ReadHeader(Source, Form, &header) || header.BitCount != 8) return false;
  if (!ImageFits(Source, header, header.Colours, 1)) return false;

  GlobalBlock ownPalette, ownPixels;
  RGBQUAD* palette = nullptr;
  Byte* pixels = nullptr;
  const auto w = static_cast<std::size_t>(header.Width);
  const auto h = static_cast<std::size_t>(header.Height);
  if (Palette) {
    palette = OutputBlock(Palette, kPaletteBytes, &ownPalette, GPTR);
    if (!palette) return false;
  }
  if (Pixels) {
    pixels = OutputBlock(Pixels, w * h, &ownPixels, GMEM_FIXED);
    if (!pixels) return false;
  }

  std::array<RGBQUAD, kPaletteEntries> table{};
  const std::size_t tableBytes = static_cast<std::size_t>(header.Colours) * sizeof(RGBQUAD);
  if (palette ? !Source.Read(table.data(), tableBytes) : !Source.Skip(tableBytes)) return false;
  if (pixels) {
    const std::size_t stored = static_cast<std::size_t>(RowBytes(header.Width, 1));
    for (std::size_t row = h; row-- > 0;) {
      if (!Source.Read(pixels + row * w, w) || !Source.Skip(stored - w)) return false;
    }
  }

  if (palette) {
    for (int i = 0; i < header.Colours; ++i) table[static_cast<std::size_t>(i)].rgbReserved = 0;
    std::memcpy(palette, table.data(), tableBytes);
    *Palette = palette;
    ownPalette.Release();
  }
  if (pixels) {
    *Pixels = pixels;
    ownPixels.Release();
  }
  if (Width) *Width = header.Width;
  if (Height) *Height = header.Height;
  return true;
}

bool LoadBmp24(TByteSource& Source, TBmpForm Form, TOvRGB** Pixels, int* Width, int* Height) {
  TBmpHeader header;
  if (!ReadHeader(Source, Form, &header)) return false;
  const bool indexed = header.BitCount == 8;
  if (!indexed && header.BitCount != 24) return false;
  if (!ImageFits(Source, header, indexed ? header.Colours : 0, indexed ? 1 : 3)) return false;

  if (Pixels) {
    const auto w = static_cast<std::size_t>(header.Width);
    const auto h = static_cast<std::size_t>(header.Height);
    GlobalBlock ownPixels;
    TOvRGB* pixels = OutputBlock(Pixels, w * h * sizeof(TOvRGB), &ownPixels, GMEM_FIXED);
    if (!pixels) return false;
    if (indexed) {
      // Indices at or beyond the colour count take the zero entries: black.
      std::array<RGBQUAD, kPaletteEntries> quads{};
      std::array<TOvRGB, kPaletteEntries> colours{};
      GlobalBlock row(GlobalAlloc(GMEM_FIXED, w));
      if (!row) return false;
      if (!Source.Read(quads.data(), static_cast<std::size_t>(header.Colours) * sizeof(RGBQUAD)))
        return false;
      for (int i = 0; i < header.Colours; ++i)
        colours[static_cast<std::size_t>(i)] = quads[static_cast<std::size_t>(i)];
      const std::size_t stored = static_cast<std::size_t>(RowBytes(header.Width, 1));
      Byte* indices = row.As<Byte>();
      for (std::size_t r = h; r-- > 0;) {
        if (!Source.Read(indices, w) || !Source.Skip(stored - w)) return false;
        TOvRGB* out = pixels + r * w;
        for (std::size_t i = 0; i < w; ++i) out[i] = colours[indices[i]];
      }
    } else {
      const std::size_t stored = static_cast<std::size_t>(RowBytes(header.Width, 3));
      for (std::size_t r = h; r-- > 0;) {
        if (!Source.Read(pixels + r * w, 3 * w) || !Source.Skip(stored - 3 * w)) return false;
      }
    }
    *Pixels = pixels;
    ownPixels.Release();
  }
  if (Width) *Width = header.Width;
  if (Height) *Height = header.Height;
  return true;
}

bool LoadAct(TByteSource& Source, RGBQUAD** Palette) {
  if (Source.Size() < static_cast<std::int64_t>(kActBytes)) return false;
  if (!Palette) return true;
  std::array<Byte, kActBytes> triples;
  if (!Source.Read(triples.data(), triples.size())) return false;
  GlobalBlock own;
  RGBQUAD* palette = OutputBlock(Palette, kPaletteBytes, &own, GPTR);
  if (!palette) return false;
  for (std::size_t i = 0; i < kPaletteEntries; ++i) {
    palette[i].rgbRed = triples[3 * i];
    palette[i].rgbGreen = triples[3 * i + 1];
    palette[i].rgbBlue = triples[3 * i + 2];
    palette[i].rgbReserved = 0;
  }
  *Palette = palette;
  own.Release();
  return true;
}

namespace {

// A regular file opened "rb".
class TFileSource final : public TByteSource {
 public:
  explicit TFileSource(const AnsiString& FileName) {
    if (FileName.find('\0') != AnsiString::npos) return;  // would name another file
    FFile = std::fopen(FileName.c_str(), "rb");
    struct stat facts {};
    if (FFile && fstat(fileno(FFile), &facts) == 0 && S_ISREG(facts.st_mode)) {
      FSize = facts.st_size;
    } else {
      Close();
    }
  }
  ~TFileSource() override { Close(); }
  TFileSource(const TFileSource&) = delete;
  TFileSource& operator=(const TFileSource&) = delete;

  bool IsOpen() const { return FFile != nullptr; }
  std::int64_t Size() const override { return FSize; }
  bool Read(void* Buffer, std::size_t Bytes) override {
    return Bytes == 0 || std::fread(Buffer, 1, Bytes, FFile) == Bytes;
  }
  bool Skip(std::size_t Bytes) override {
    const long here = std::ftell(FFile);
    if (here < 0 || static_cast<std::int64_t>(Bytes) > FSize - here) return false;
    return Bytes == 0 || std::fseek(FFile, static_cast<long>(Bytes), SEEK_CUR) == 0;
  }

 private:
  void Close() {
    if (FFile) std::fclose(FFile);
    FFile = nullptr;
  }
  std::FILE* FFile = nullptr;
  std::int64_t FSize = 0;
};

// A module's bitmap resource, or nothing.
bool FindBitmap(HINSTANCE Module, const char* Name, TResourceData* Found) {
  return FindResourceData(Module, RT_BITMAP, Name, Found);
}

}  // namespace

}  // namespace bmp_detail

using bmp_detail::TBmpForm;
using bmp_detail::TFileSource;
using bmp_detail::TMemorySource;

bool LoadBmpFile(const AnsiString& FileName, RGBQUAD** Palette, Byte** Pixels, int* Width,
                 int* Height) {
  TFileSource source(FileName);
  return source.IsOpen() &&
         bmp_detail::LoadBmp8(source, TBmpForm::File, Palette, Pixels, Width, Height);
}

bool LoadBmpResource(HINSTANCE Module, const char* Name, RGBQUAD** Palette, Byte** Pixels,
                     int* Width, int* Height) {
  TResourceData found;
  if (!bmp_detail::FindBitmap(Module, Name, &found)) return false;
  TMemorySource source(found.Data, found.Size);
  return bmp_detail::LoadBmp8(source, TBmpForm::Resource, Palette, Pixels, Width, Height);
}

bool LoadActFile(const AnsiString& FileName, RGBQUAD** Palette) {
  TFileSource source(FileName);
  return source.IsOpen() && bmp_detail::LoadAct(source, Palette);
}

bool LoadBmp24File(const AnsiString& FileName, TOvRGB** Pixels, int* Width, int* Height) {
  TFileSource source(FileName);
  return source.IsOpen() && bmp_detail::LoadBmp24(source, TBmpForm::File, Pixels, Width, Height);
}

bool LoadBmp24Resource(HINSTANCE Module, const char* Name, TOvRGB** Pixels, int* Width,
                       int* Height) {
  TResourceData found;
  if (!bmp_detail::FindBitmap(Module, Name, &found)) return false;
  TMemorySource source(found.Data, found.Size);
  return bmp_detail::LoadBmp24(source, TBmpForm::Resource, Pixels, Width, Height);
}

}  // namespace ovelta
