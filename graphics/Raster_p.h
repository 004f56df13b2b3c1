// The pixel machinery behind TOvDib's drawing primitives and pattern blits: a plain view of an
// 8-bit surface (bits, stride, width, height), the eight per-pixel operators with their row
// kernels, and the workers that draw points, lines, boxes, fills and patterns on such a view and
// read blocks back. TOvDib hands its storage to these workers and records the modification
// itself; nothing here knows about components, palettes or linked bitmaps. Private: not installed.
#pragma once

#include <cstddef>
#include <cstdint>
#include <cstring>

#include "platform/core/Types.h"

namespace ovelta::raster {

// A surface's pixel bytes: Height rows of Stride bytes, row 0 first; byte x of row y is the palette
// index of pixel (x, y). Pixels exist where 0 <= x < Width and 0 <= y < Height. A null Bits means a
// surface without storage: every worker then does nothing and reports false. The view does not own
// the bytes.
struct Surface {
  Byte* Bits = nullptr;
  int Stride = 0;
  int Width = 0;
  int Height = 0;
};

// The view of a surface object (TOvDib) through its public storage facts.
template <class Dib> Surface ViewOf(const Dib& D) {
  return Surface{D.ImagePtr(), D.Stride(), D.Width(), D.Height()};
}

// The per-pixel operators, by the values of TOvMethod. Any other value stores like kOpSet.
inline constexpr int kOpSet = 0;  // s
inline constexpr int kOpNot = 1;  // s, but never through a plain-copy shortcut
inline constexpr int kOpAnd = 2;  // d AND s
inline constexpr int kOpOr = 3;   // d OR s
inline constexpr int kOpXor = 4;  // d XOR s
inline constexpr int kOpAdd = 5;  // d + s, at most 255
inline constexpr int kOpSub = 6;  // d - s when s < d, otherwise 0
inline constexpr int kOpMed = 7;  // (d + s) / 2, rounded down

// Coordinates of lines, boxes and fills are clamped to this range before anything is drawn.
inline constexpr int kCoordLimit = 50000;

// The operator table: the operator of Method applied to the current index D and the value S.
using PixelOperator = Byte (*)(Byte D, Byte S);
PixelOperator OperatorOf(int Method);

// Drawing primitives. Method is a TOvMethod value. Pixels off the surface are skipped one by one;
// a shape may lie partly or wholly outside. Each returns false only for a surface without storage
// (or where noted).

// Applies the operator to pixel (X, Y); false (nothing changed) when the pixel does not exist.
bool PSet(const Surface& S, int X, int Y, Byte Colour, int Method);
// The index of pixel (X, Y), or 0 when it does not exist. Method plays no part.
Byte PGet(const Surface& S, int X, int Y);
// The line from (X1, Y1) to (X2, Y2), walked from its upper end down so that a line and its reverse
// give the same pixels; LeaveEnds leaves both end points out. A line whose end points coincide
// draws its one pixel once.
bool OvLine(const Surface& S, int X1, int Y1, int X2, int Y2, Byte Colour, bool LeaveEnds,
            int Method);
// The outline of the box with corners (X1, Y1) and (X2, Y2), each pixel drawn exactly once.
bool Box(const Surface& S, int X1, int Y1, int X2, int Y2, Byte Colour, int Method);
// The filled box with corners (X1, Y1) and (X2, Y2), both included, in any order. With a Mask
// (1 bit per pixel, most significant bit leftmost, rows of (MaskWidth + 7) / 8 bytes), only pixels
// whose bit is 1 are drawn; the mask repeats from the box's top-left corner wherever that lies.
// A mask width or height below 1 draws nothing and returns false. A null Mask fills every pixel.
bool OvBoxFill(const Surface& S, int X1, int Y1, int X2, int Y2, Byte Colour, const Byte* Mask,
               int MaskWidth, int MaskHeight, int Method);

// Pattern blits. A pattern is Width x Height palette indices, row r at Pattern + r * Stride (a
// Stride below Width is raised to Width); only the part that lands on the surface is read. (X, Y)
// is where the pattern's top-left pixel goes unmirrored; mirrored, pattern column i lands at
// X + Width - 1 - i. A null Pattern is refused with false.

// Draws the pattern, skipping bytes equal to Key when Keyed. With Reverse it hands over to
// OvPutPatR. Unkeyed kOpSet copies whole rows.
bool OvPutPat(const Surface& S, int X, int Y, int Width, int Height, const Byte* Pattern,
              int Stride, bool Keyed, Byte Key, int Method, bool Reverse);
// The mirrored form of OvPutPat; false at once when Reverse is false.
bool OvPutPatR(const Surface& S, int X, int Y, int Width, int Height, const Byte* Pattern,
               int Stride, bool Keyed, Byte Key, int Method, bool Reverse);
// Draws pattern pixel (i, r) only where mask bit (i mod MaskWidth, r mod MaskHeight) is 1. With
// Reverse it hands over to OvPutPatMR. False for a null Mask or a mask width or height below 1.
bool OvPutPatM(const Surface& S, int X, int Y, int Width, int Height, const Byte* Pattern,
               int Stride, const Byte* Mask, int MaskWidth, int MaskHeight, int Method,
               bool Reverse);
// The mirrored form of OvPutPatM (the mask is mirrored with the pattern); false at once when
// Reverse is false.
bool OvPutPatMR(const Surface& S, int X, int Y, int Width, int Height, const Byte* Pattern,
                int Stride, const Byte* Mask, int MaskWidth, int MaskHeight, int Method,
                bool Reverse);
// Keyed blit, mirrored by its own argument (Reverse plays no part); the operator is applied to
// every drawn pixel.
bool OvPutPatWappi(const Surface& S, int X, int Y, int Width, int Height, const Byte* Pattern,
                   int Stride, Byte Key, bool Mirrored, int Method);
// Copies the block of Width x Height pixels at (X, Y) into Buffer (stride Width). Buffer bytes
// for pixels outside the surface are left as they were. False for a null Buffer.
bool OvGetPat(const Surface& S, int X, int Y, int Width, int Height, Byte* Buffer);

// A block of a source surface to be drawn at (X, Y) of another: clips it to the source (moving the
// destination with the source's left and top clipping) and gives the block's address. False when
// nothing of the block lies on the source (or the source has no storage).
struct SourceBlock {
  int X = 0, Y = 0, Width = 0, Height = 0;
  const Byte* Bits = nullptr;
  int Stride = 0;
};
bool ClipSourceBlock(const Surface& Source, int X, int Y, int SourceX, int SourceY, int Width,
                     int Height, SourceBlock* Block);

// The inclusive rectangle (X, Y)-(X + Width - 1, Y + Height - 1) as requested, with the far corner
// held to the int range.
inline int FarCorner(int Origin, int Extent) {
  const std::int64_t far = static_cast<std::int64_t>(Origin) + Extent - 1;
  if (far > INT32_MAX) return INT32_MAX;
  if (far < INT32_MIN) return INT32_MIN;
  return static_cast<int>(far);
}

}  // namespace ovelta::raster
