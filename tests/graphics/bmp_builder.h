// Test helpers for the graphics tests: BMP and ACT files built byte by byte (so that every field,
// the header size, the row padding and the row order are the test's own) and damaged on purpose;
// written to files with test::TempDir (support/TempDir.h).
#pragma once

#include <cstdint>
#include <string>
#include <vector>

#include "platform/core/Types.h"

namespace ovelta::test {

using Bytes = std::vector<Byte>;

inline void PutLe(Bytes& Out, std::size_t Offset, std::uint32_t Value, int Size) {
  for (int i = 0; i < Size; ++i)
    Out[Offset + static_cast<std::size_t>(i)] = static_cast<Byte>(Value >> (8 * i));
}

// The info-header fields a test may want to change after building.
inline constexpr std::size_t kInfoSize = 0, kInfoWidth = 4, kInfoHeight = 8, kInfoBitCount = 14,
                             kInfoCompression = 16, kInfoColoursUsed = 32;

struct BmpLayout {
  int Width = 0;
  int Height = 0;
  int BitCount = 8;
  std::uint32_t ColoursUsed = 0;  // written as is; the table holds Table.size() entries
  std::vector<RGBQUAD> Table;     // colour table (8-bit and 4-bit)
  Bytes Pixels;                   // top row first: indices, or blue-green-red triples
  bool FileHeader = true;         // false: the resource form
  Byte Padding = 0;               // value of the row padding bytes
  std::uint32_t InfoSize = 40;    // 108 and 124: the longer headers, zero past the 40 bytes
  std::uint32_t Compression = 0;
  bool TopDown = false;  // rows stored top row first, the height written negative
  std::size_t Gap = 0;   // bytes of 0xEE between the table and the rows
  Bytes Stream;          // when not empty: stored in place of the rows (RLE8 data)
};

// The BMP bytes: file header (unless the resource form) whose pixel offset names the rows, info
// header, colour table, Gap bytes, then the rows bottom row first (top row first when TopDown),
// each padded to a multiple of 4 bytes, or the Stream.
inline Bytes BuildBmp(const BmpLayout& Layout) {
  const int bytesPerPixel = Layout.BitCount == 24 ? 3 : 1;
  const std::size_t rowIn = Layout.BitCount == 4
                                ? static_cast<std::size_t>((Layout.Width + 1) / 2)
                                : static_cast<std::size_t>(Layout.Width * bytesPerPixel);
  const std::size_t rowStored = (rowIn + 3) & ~std::size_t{3};
  Bytes out;
  const std::size_t header = Layout.FileHeader ? 14 : 0;
  const std::size_t info = Layout.InfoSize;
  out.resize(header + info + Layout.Table.size() * 4);
  out.insert(out.end(), Layout.Gap, 0xEE);
  if (Layout.FileHeader) {
    out[0] = 'B';
    out[1] = 'M';
    PutLe(out, 10, static_cast<std::uint32_t>(out.size()), 4);
  }
  PutLe(out, header + kInfoSize, Layout.InfoSize, 4);
  PutLe(out, header + kInfoWidth, static_cast<std::uint32_t>(Layout.Width), 4);
  PutLe(out, header + kInfoHeight,
        static_cast<std::uint32_t>(Layout.TopDown ? -Layout.Height : Layout.Height), 4);
  PutLe(out, header + 12, 1, 2);
  PutLe(out, header + kInfoBitCount, static_cast<std::uint32_t>(Layout.BitCount), 2);
  PutLe(out, header + kInfoCompression, Layout.Compression, 4);
  PutLe(out, header + kInfoColoursUsed, Layout.ColoursUsed, 4);
  for (std::size_t i = 0; i < Layout.Table.size(); ++i) {
    out[header + info + 4 * i] = Layout.Table[i].rgbBlue;
    out[header + info + 4 * i + 1] = Layout.Table[i].rgbGreen;
    out[header + info + 4 * i + 2] = Layout.Table[i].rgbRed;
    out[header + info + 4 * i + 3] = Layout.Table[i].rgbReserved;
  }
  if (!Layout.Stream.empty()) {
    out.insert(out.end(), Layout.Stream.begin(), Layout.Stream.end());
  } else {
    for (int k = 0; k < Layout.Height; ++k) {
      const int row = Layout.TopDown ? k : Layout.Height - 1 - k;
      const std::size_t from = static_cast<std::size_t>(row) * rowIn;
      for (std::size_t i = 0; i < rowIn; ++i)
        out.push_back(from + i < Layout.Pixels.size() ? Layout.Pixels[from + i] : 0);
      for (std::size_t i = rowIn; i < rowStored; ++i) out.push_back(Layout.Padding);
    }
  }
  if (Layout.FileHeader) PutLe(out, 2, static_cast<std::uint32_t>(out.size()), 4);
  return out;
}

// A colour table whose entry i is (red i, green 255 - i, blue i / 2), reserved byte set to show
// that loaders clear it.
inline std::vector<RGBQUAD> RampTable(int Entries) {
  std::vector<RGBQUAD> table;
  for (int i = 0; i < Entries; ++i)
    table.push_back(
        RGBQUAD{static_cast<Byte>(i / 2), static_cast<Byte>(255 - i), static_cast<Byte>(i), 0x5A});
  return table;
}

// Pixel bytes whose value at (x, y) is distinct for small images: y * 16 + x + 1 (mod 256).
inline Bytes Numbered(int Width, int Height, int BytesPerPixel = 1) {
  Bytes pixels;
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width * BytesPerPixel; ++x)
      pixels.push_back(static_cast<Byte>(y * 16 + x + 1));
  return pixels;
}

// An ACT palette: triple i is (i, 255 - i, i ^ 0x55), then Extra further bytes.
inline Bytes BuildAct(std::size_t Extra = 0) {
  Bytes out;
  for (int i = 0; i < 256; ++i) {
    out.push_back(static_cast<Byte>(i));
    out.push_back(static_cast<Byte>(255 - i));
    out.push_back(static_cast<Byte>(i ^ 0x55));
  }
  for (std::size_t i = 0; i < Extra; ++i) out.push_back(0xEE);
  return out;
}

}  // namespace ovelta::test
