// The unit Ovbitmap: the packed 3-byte colour TOvRGB, loaders that read 8-bit (uncompressed or
// RLE8) and 24-bit BMP images and 256-colour ACT palettes into plain global-heap blocks (from
// files, module bitmap resources and pack members), and nearest-neighbour scaling of 8-bit and
// 24-bit pixel arrays. The unit keeps no state.
#pragma once

#include "platform/core/Resources.h"
#include "platform/core/Types.h"
#include "platform/core/Win32Names.h"  // after every other include: see there

namespace ovelta {

class TOvPack;

#pragma pack(push, 1)
// A colour as three bytes: blue, green, red. This is the byte order of a pixel in a 24-bit BMP row,
// so a row can be read straight into an array of TOvRGB; arrays are packed at 3 bytes an element.
// The 32-bit form (ToDWORD) is 0x00RRGGBB: a colour-table entry read as a little-endian word, not
// the platform's COLORREF.
struct TOvRGB {
  Byte Blue = 0;
  Byte Green = 0;
  Byte Red = 0;

  TOvRGB() = default;  // black
  TOvRGB(Byte R, Byte G, Byte B) : Blue(B), Green(G), Red(R) {}
  TOvRGB(RGBQUAD Quad) : Blue(Quad.rgbBlue), Green(Quad.rgbGreen), Red(Quad.rgbRed) {}
  // Bits 0-7 blue, 8-15 green, 16-23 red; bits 24-31 are dropped.
  TOvRGB(DWord Value)
      : Blue(static_cast<Byte>(Value)),
        Green(static_cast<Byte>(Value >> 8)),
        Red(static_cast<Byte>(Value >> 16)) {}

  TOvRGB(const TOvRGB&) = default;
  TOvRGB& operator=(const TOvRGB&) = default;
  TOvRGB& operator=(const RGBQUAD& Quad) { return *this = TOvRGB(Quad); }
  TOvRGB& operator=(const DWord& Value) { return *this = TOvRGB(Value); }

  // Blue, green and red with the reserved byte 0.
  RGBQUAD ToRGBQUAD() const {
    RGBQUAD quad;
    quad.rgbBlue = Blue;
    quad.rgbGreen = Green;
    quad.rgbRed = Red;
    quad.rgbReserved = 0;
    return quad;
  }
  // Blue + green * 256 + red * 65536.
  DWord ToDWORD() const {
    return static_cast<DWord>(Blue) | static_cast<DWord>(Green) << 8 |
           static_cast<DWord>(Red) << 16;
  }

  friend bool operator==(const TOvRGB&, const TOvRGB&) = default;
};
#pragma pack(pop)
static_assert(sizeof(TOvRGB) == 3, "TOvRGB is packed at 3 bytes");

// Loaders. Each returns true on success and false otherwise, and never reads or writes outside the
// blocks it is given or makes.
//
// Output blocks: every block-producing parameter points to the caller's pointer variable.
//   - A null parameter skips that output (the palette is not read, the pixels are not read).
//   - A variable holding null receives a new block from the global heap (platform/core/Heap.h),
//   which the
//     caller owns and releases with GlobalFree: palettes are always 1024 bytes (256 RGBQUAD,
//     entries beyond the file's colour count zero), 8-bit pixels w*h bytes, 24-bit pixels 3*w*h
//     bytes.
//   - A variable holding a block is written into; the caller must have made it large enough.
// Pixel blocks are top row first with no row padding. Width and height outputs may be null.
//
// BMP forms read: an info header of 40, 108 (V4) or 124 (V5) bytes; 8 bits a pixel, uncompressed or
// RLE8, or 24 bits uncompressed; a width of 1 to kBmpMaxSide and a height of 1 to kBmpMaxSide, a
// negative height being a top-down image. An 8-bit image's colour table follows the info header,
// colours-used entries (256 when 0); a 24-bit image has none read, whatever colours-used says. The
// rows follow the table (24-bit: the header) directly with a 40-byte header, and start at the file
// header's pixel offset with the longer ones (in a resource, which has no file header: right after
// the table). RLE8 pixels the stream does not write are index 0; a run may reach into the row's
// padding, and what lands there is dropped. An RLE8 image of more than 65536 pixels needs a byte of
// stream (from the rows to the end of the data) for every 1024 pixels.
//
// Every check of the headers, sizes and offsets comes before anything is allocated or written: a
// loader that returns false has left no block of its own allocated, and the caller's outputs
// (variables, width, height, palette block) unchanged; only an RLE8 stream found bad while being
// decoded leaves a caller's pixel block written as far as it got. Refused: a source that cannot be
// opened or ends early; another info header size; another compression (RLE4, bit fields, JPEG,
// PNG); a width or height outside the bounds above; more than 256 colours in an 8-bit image; a bit
// count the loader does not take; an RLE8 stream whose run or delta leaves the image or the row's
// padding, that ends a line past the last row, or that ends before its end-of-bitmap. Asked for no
// pixels, a loader does not read the rows.

// The largest width and height the loaders accept.
inline constexpr int kBmpMaxSide = 32768;

// An 8-bit BMP file: palette (colour table) and palette-index pixels.
bool LoadBmpFile(const AnsiString& FileName, RGBQUAD** Palette, Byte** Pixels, int* Width,
                 int* Height);
// The same from a bitmap resource (type RT_BITMAP: the BMP without its 14-byte file header) of a
// module. Name is a zero-terminated string or an integer identifier made with MAKEINTRESOURCE.
bool LoadBmpResource(HINSTANCE Module, const char* Name, RGBQUAD** Palette, Byte** Pixels,
                     int* Width, int* Height);
// The same from the member Name of an open pack (read through Ovfopen/Ovfread/Ovfseek/Ovfclose).
bool LoadBmpPack(TOvPack* Pack, const AnsiString& Name, RGBQUAD** Palette, Byte** Pixels,
                 int* Width, int* Height);

// An ACT palette: 256 triples red, green, blue (768 bytes; anything after them is ignored). A file
// shorter than 768 bytes is refused.
bool LoadActFile(const AnsiString& FileName, RGBQUAD** Palette);
bool LoadActPack(TOvPack* Pack, const AnsiString& Name, RGBQUAD** Palette);

// An 8-bit BMP (expanded through its colour table; indices at or beyond the colour count give
// black) or 24-bit BMP as TOvRGB pixels.
bool LoadBmp24File(const AnsiString& FileName, TOvRGB** Pixels, int* Width, int* Height);
bool LoadBmp24Resource(HINSTANCE Module, const char* Name, TOvRGB** Pixels, int* Width,
                       int* Height);
bool LoadBmp24Pack(TOvPack* Pack, const AnsiString& Name, TOvRGB** Pixels, int* Width, int* Height);

// Nearest-neighbour scaling of a source block onto a destination block. The walk visits
// max(source, destination) positions in each direction: enlarging repeats source pixels (2 to 4
// gives s0 s0 s1 s1), reducing keeps the last source pixel that lands on a destination pixel (4 to
// 2 gives s1 s3, 3 to 2 gives s1 s2). Nothing is clipped: both blocks must hold the given sizes.
// Sizes below 1 draw nothing. Zooming strides are in bytes, Zooming24 strides in pixels.
void Zooming(const Byte* Source, int SourceWidth, int SourceHeight, int SourceStride, Byte* Dest,
             int DestWidth, int DestHeight, int DestStride);
void Zooming24(const TOvRGB* Source, int SourceWidth, int SourceHeight, int SourceStride,
               TOvRGB* Dest, int DestWidth, int DestHeight, int DestStride);

}  // namespace ovelta
