// The BMP and ACT decoders (header checks, colour tables, rows either way up, uncompressed or RLE8)
// over any byte source, and the loaders that read from files and module resources.
#include <sys/stat.h>

#include <algorithm>
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
constexpr std::size_t kPixelOffsetAt = 10;  // in the file header
constexpr std::size_t kInfoHeaderBytes = 40;
constexpr std::size_t kInfoV4Bytes = 108;
constexpr std::size_t kInfoV5Bytes = 124;
constexpr int kPaletteEntries = 256;
constexpr std::size_t kPaletteBytes = kPaletteEntries * sizeof(RGBQUAD);
constexpr std::size_t kActBytes = kPaletteEntries * 3;
constexpr DWord kUncompressed = 0;
constexpr DWord kRle8 = 1;
// RLE8 escapes: a zero count followed by one of these, or by an absolute run's length (3 or more).
constexpr Byte kRleEndOfLine = 0;
constexpr Byte kRleEndOfBitmap = 1;
constexpr Byte kRleDelta = 2;
constexpr std::size_t kRleChunk = 4096;  // stream bytes read from the source at a time
// The most pixels an RLE8 image may have for each byte of its stream, and the pixels any image may
// have: a file of a few bytes cannot make a loader allocate and fill a block of a gigabyte. Runs
// give at most 127.5 pixels a byte; only the delta and end-of-bitmap escapes give more.
constexpr std::int64_t kRlePixelsPerByte = 1024;
constexpr std::int64_t kRleAnyPixels = 65536;

DWord Le32(const Byte* P) {
  return static_cast<DWord>(P[0]) | static_cast<DWord>(P[1]) << 8 | static_cast<DWord>(P[2]) << 16 |
         static_cast<DWord>(P[3]) << 24;
}
Word Le16(const Byte* P) { return static_cast<Word>(P[0] | P[1] << 8); }

// The facts of a BMP the loaders act on, all checked against the source's length.
struct TBmpHeader {
  int Width = 0;
  int Height = 0;        // rows, whatever their order
  bool TopDown = false;  // rows stored top row first (a negative height in the file)
  bool Rle = false;      // RLE8-compressed rows
  int BitCount = 0;
  int Colours = 0;           // colour-table entries of an 8-bit image: 1 to kPaletteEntries
  std::int64_t TableAt = 0;  // where the colour table starts (the end of the info header)
  std::int64_t RowsAt = 0;   // where the rows start, at or past the table of TableEntries()

  int TableEntries() const { return BitCount == 8 ? Colours : 0; }
  std::int64_t TableEnd() const { return TableAt + std::int64_t{TableEntries()} * 4; }
  // The block row that stored row Row (0 first in the source) goes to: the output is top row first.
  std::size_t OutRow(std::size_t Row) const {
    return TopDown ? Row : static_cast<std::size_t>(Height) - 1 - Row;
  }
};

// Bytes of one stored row: BytesPerPixel * width, padded to a multiple of 4.
std::int64_t RowBytes(int Width, int BytesPerPixel) {
  return (static_cast<std::int64_t>(Width) * BytesPerPixel + 3) & ~std::int64_t{3};
}

// Reads the file header (when present) and the info header, leaving the source at the colour
// table, and refuses what the loaders cannot take safely. Taken: an info header of 40, 108 or 124
// bytes; a width of 1 to kBmpMaxSide and a height of 1 to kBmpMaxSide either way up; 8 or 24 bits
// a pixel; uncompressed rows, or RLE8 at 8 bits. An 8-bit image has a colour table of colours-used
// entries (256 when 0), at most 256. With a 40-byte header the rows follow the colour table (or,
// at 24 bits, the header) directly; with 108 or 124 bytes they start at the file header's pixel
// offset (resources: right after the table), which must lie within the source and not before the
// table's end. Uncompressed rows must lie wholly within the source; an RLE8 image of more than
// kRleAnyPixels pixels needs a byte of stream for every kRlePixelsPerByte.
bool ReadHeader(TByteSource& Source, TBmpForm Form, TBmpHeader* Header) {
  std::int64_t pixelOffset = 0;
  if (Form == TBmpForm::File) {
    Byte file[kFileHeaderBytes];
    if (!Source.Read(file, sizeof file)) return false;
    pixelOffset = Le32(file + kPixelOffsetAt);
  }
  Byte bytes[kInfoHeaderBytes];
  if (!Source.Read(bytes, sizeof bytes)) return false;
  const DWord infoSize = Le32(bytes + 0);
  const auto width = static_cast<std::int32_t>(Le32(bytes + 4));
  const std::int64_t height = static_cast<std::int32_t>(Le32(bytes + 8));
  const Word bitCount = Le16(bytes + 14);
  const DWord compression = Le32(bytes + 16);
  const DWord coloursUsed = Le32(bytes + 32) & 0xFFFF;  // only the low word counts
  if (infoSize != kInfoHeaderBytes && infoSize != kInfoV4Bytes && infoSize != kInfoV5Bytes)
    return false;
  if (bitCount != 8 && bitCount != 24) return false;
  if (compression != kUncompressed && !(compression == kRle8 && bitCount == 8)) return false;
  const std::int64_t rows = height < 0 ? -height : height;
  if (width < 1 || width > kBmpMaxSide || rows < 1 || rows > kBmpMaxSide) return false;
  // The tables the colours are read into hold kPaletteEntries: a longer table is refused here,
  // before any loader reads it. A 24-bit image reads no table, whatever the count says.
  if (bitCount == 8 && coloursUsed > static_cast<DWord>(kPaletteEntries)) return false;
  if (infoSize > kInfoHeaderBytes && !Source.Skip(infoSize - kInfoHeaderBytes)) return false;

  TBmpHeader header;
  header.Width = width;
  header.Height = static_cast<int>(rows);
  header.TopDown = height < 0;
  header.Rle = compression == kRle8;
  header.BitCount = bitCount;
  header.Colours = coloursUsed == 0 ? kPaletteEntries : static_cast<int>(coloursUsed);
  header.TableAt = static_cast<std::int64_t>(Form == TBmpForm::File ? kFileHeaderBytes : 0) +
                   static_cast<std::int64_t>(infoSize);
  header.RowsAt = header.TableEnd();
  if (infoSize != kInfoHeaderBytes && Form == TBmpForm::File) {
    if (pixelOffset < header.TableEnd() || pixelOffset > Source.Size()) return false;
    header.RowsAt = pixelOffset;
  }
  if (Source.Size() < header.RowsAt) return false;
  const std::int64_t rowBytes = RowBytes(header.Width, header.BitCount / 8);
  if (!header.Rle && Source.Size() - header.RowsAt < header.Height * rowBytes) return false;
  const std::int64_t pixels = std::int64_t{header.Width} * header.Height;
  if (header.Rle && pixels > kRleAnyPixels &&
      pixels / kRlePixelsPerByte > Source.Size() - header.RowsAt)
    return false;
  *Header = header;
  return true;
}

// Moves the source from the end of the colour table to the first row.
bool SkipToRows(TByteSource& Source, const TBmpHeader& Header) {
  return Source.Skip(static_cast<std::size_t>(Header.RowsAt - Header.TableEnd()));
}

// The stream bytes of RLE8 rows, from the first row to the source's end, read a chunk at a time.
class TRleStream {
 public:
  TRleStream(TByteSource& Source, std::int64_t Length) : FSource(Source), FLeft(Length) {}
  // The next byte; false when the stream has ended (or the source fails).
  bool Next(Byte* Value) {
    if (FAt == FEnd) {
      const auto count = static_cast<std::size_t>(std::min<std::int64_t>(FLeft, kRleChunk));
      if (count == 0 || !FSource.Read(FChunk.data(), count)) return false;
      FLeft -= static_cast<std::int64_t>(count);
      FAt = 0;
      FEnd = count;
    }
    *Value = FChunk[FAt++];
    return true;
  }

 private:
  TByteSource& FSource;
  std::int64_t FLeft;
  std::array<Byte, kRleChunk> FChunk{};
  std::size_t FAt = 0;
  std::size_t FEnd = 0;
};

// Decodes RLE8 rows into Row (scratch of RowBytes(Width, 1) bytes: a stored row with its padding)
// and hands each finished row to RowDone(stored row index, Row), every row of the image exactly
// once and in stored order, pixels the stream does not write being 0. Encoded runs, absolute runs
// (padded to an even length) and the end-of-line, end-of-bitmap and delta escapes are taken. A run
// may reach into the row's padding, as some writers encode it, and what lands there is dropped; a
// run or delta that would leave the padded row or the image, an end-of-line past the last row, or
// a stream that ends before its end-of-bitmap is refused (false; rows already handed over stay
// handed over). Every item takes stream bytes, so the loop ends.
template <typename Done>
bool DecodeRle8(TRleStream& In, int Width, int Height, Byte* Row, Done&& RowDone) {
  const auto stride = static_cast<std::size_t>(RowBytes(Width, 1));
  const auto h = static_cast<std::size_t>(Height);
  std::size_t x = 0, y = 0;
  std::memset(Row, 0, stride);
  // Finishes rows up to (not including) Until.
  const auto finishRows = [&](std::size_t Until) {
    for (; y < Until; ++y) {
      if (y < h) RowDone(y, Row);
      std::memset(Row, 0, stride);
    }
  };
  for (;;) {
    Byte count, value;
    if (!In.Next(&count) || !In.Next(&value)) return false;
    if (count > 0) {
      if (y >= h || count > stride - x) return false;
      std::memset(Row + x, value, count);
      x += count;
    } else if (value == kRleEndOfLine) {
      if (y >= h) return false;
      finishRows(y + 1);
      x = 0;
    } else if (value == kRleEndOfBitmap) {
      finishRows(h);
      return true;
    } else if (value == kRleDelta) {
      Byte right, up;
      if (!In.Next(&right) || !In.Next(&up)) return false;
      if (right > stride - x || y + up >= h) return false;
      finishRows(y + up);
      x += right;
    } else {
      if (y >= h || value > stride - x) return false;
      for (std::size_t i = 0; i < value; ++i)
        if (!In.Next(Row + x + i)) return false;
      x += value;
      Byte pad;
      if (value % 2 != 0 && !In.Next(&pad)) return false;
    }
  }
}

// A block from the global heap, or the caller's own when its variable already holds one.
template <typename T>
T* OutputBlock(T** Variable, std::size_t Bytes, GlobalBlock* Own, unsigned Flags) {
  if (*Variable) return *Variable;
  Own->Reset(GlobalAlloc(Flags, Bytes));
  return Own->As<T>();
}

// Reads the rows of an 8-bit image (uncompressed or RLE8) from the first row on and hands each to
// RowDone(block row, indices), indices valid during the call only. Row is RowBytes(Width, 1) bytes
// of scratch.
template <typename Done>
bool ReadIndexRows(TByteSource& Source, const TBmpHeader& Header, Byte* Row, Done&& RowDone) {
  const auto w = static_cast<std::size_t>(Header.Width);
  if (Header.Rle) {
    TRleStream in(Source, Source.Size() - Header.RowsAt);
    return DecodeRle8(
        in, Header.Width, Header.Height, Row,
        [&](std::size_t Stored, const Byte* Indices) { RowDone(Header.OutRow(Stored), Indices); });
  }
  const std::size_t stored = static_cast<std::size_t>(RowBytes(Header.Width, 1));
  for (std::size_t r = 0; r < static_cast<std::size_t>(Header.Height); ++r) {
    if (!Source.Read(Row, w) || !Source.Skip(stored - w)) return false;
    RowDone(Header.OutRow(r), Row);
  }
  return true;
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

  GlobalBlock ownPalette, ownPixels, scratch;
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
    if (header.Rle) {
      scratch.Reset(GlobalAlloc(GMEM_FIXED, static_cast<std::size_t>(RowBytes(header.Width, 1))));
      if (!scratch) return false;
    }
  }

  std::array<RGBQUAD, kPaletteEntries> table{};
  const std::size_t tableBytes = static_cast<std::size_t>(header.Colours) * sizeof(RGBQUAD);
  if (palette ? !Source.Read(table.data(), tableBytes) : !Source.Skip(tableBytes)) return false;
  if (pixels) {
    if (!SkipToRows(Source, header)) return false;
    if (header.Rle) {
      if (!ReadIndexRows(Source, header, scratch.As<Byte>(),
                         [&](std::size_t Out, const Byte* Indices) {
                           std::memcpy(pixels + Out * w, Indices, w);
                         }))
        return false;
    } else {
      // Uncompressed rows go straight to their place in the block.
      const std::size_t stored = static_cast<std::size_t>(RowBytes(header.Width, 1));
      for (std::size_t r = 0; r < h; ++r) {
        if (!Source.Read(pixels + header.OutRow(r) * w, w) || !Source.Skip(stored - w))
          return false;
      }
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
      GlobalBlock row(GlobalAlloc(GMEM_FIXED, static_cast<std::size_t>(RowBytes(header.Width, 1))));
      if (!row) return false;
      if (!Source.Read(quads.data(), static_cast<std::size_t>(header.Colours) * sizeof(RGBQUAD)))
        return false;
      for (int i = 0; i < header.Colours; ++i)
        colours[static_cast<std::size_t>(i)] = quads[static_cast<std::size_t>(i)];
      if (!SkipToRows(Source, header) ||
          !ReadIndexRows(Source, header, row.As<Byte>(), [&](std::size_t Out, const Byte* Indices) {
            TOvRGB* out = pixels + Out * w;
            for (std::size_t i = 0; i < w; ++i) out[i] = colours[Indices[i]];
          }))
        return false;
    } else {
      const std::size_t stored = static_cast<std::size_t>(RowBytes(header.Width, 3));
      if (!SkipToRows(Source, header)) return false;
      for (std::size_t r = 0; r < h; ++r) {
        if (!Source.Read(pixels + header.OutRow(r) * w, 3 * w) || !Source.Skip(stored - 3 * w))
          return false;
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
