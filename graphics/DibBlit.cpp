// Pattern blits of the 8-bit surface: plain, colour-keyed, masked and mirrored drawing of a block
// of palette indices, reading a block back, and the surface-to-surface copies, first as workers on
// a plain surface view (all clipping done in 64-bit arithmetic, only the visible part of a pattern
// read), then as the TOvDib members that hand their storage to those workers and record each
// change.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <vector>

#include "graphics/Ovdib.h"
#include "graphics/RasterKernels_p.h"
#include "graphics/Raster_p.h"

namespace ovelta::raster {

namespace {

using kernels::WithOperator;
using std::int64_t;

// The visible part of a blit: Width x Height surface pixels from (X, Y); pattern row r starts at
// byte Offset + r * Stride. Mirrored, the pattern row's byte i lands at column X + Width - 1 - i
// (Offset then names the byte that lands at the rightmost column).
struct Clip {
  int64_t X = 0, Y = 0, Width = 0, Height = 0;
  int64_t Offset = 0, Stride = 0;
  bool Empty() const { return Width <= 0 || Height <= 0; }
};

int64_t RaisedStride(int Stride, int Width) { return std::max<int64_t>(Stride, Width); }

// Rows: drop those above row 0 and below the last row.
void ClipRows(const Surface& S, Clip& C) {
  if (C.Y < 0) {
    C.Height += C.Y;
    C.Offset -= C.Y * C.Stride;
    C.Y = 0;
  }
  if (C.Y + C.Height > S.Height) C.Height = S.Height - C.Y;
}

// The unmirrored geometry: pattern column i at X + i.
Clip ClipForward(const Surface& S, int X, int Y, int Width, int Height, int Stride) {
  Clip c{X, Y, Width, Height, 0, RaisedStride(Stride, Width)};
  if (c.X < 0) {
    c.Width += c.X;
    c.Offset -= c.X;
    c.X = 0;
  }
  if (c.X + c.Width > S.Width) c.Width = S.Width - c.X;
  ClipRows(S, c);
  return c;
}

// The mirrored geometry: pattern column i at X + Width - 1 - i. Columns past the right edge are
// the pattern's first ones, columns left of 0 its last ones.
Clip ClipMirrored(const Surface& S, int X, int Y, int Width, int Height, int Stride) {
  Clip c{X, Y, Width, Height, 0, RaisedStride(Stride, Width)};
  int64_t right = c.X + c.Width - 1;
  if (right >= S.Width) {
    const int64_t off = right + 1 - S.Width;
    c.Offset += off;
    c.Width -= off;
    right = S.Width - 1;
  }
  if (right + 1 - c.Width < 0) c.Width = right + 1;
  c.X = right + 1 - c.Width;
  ClipRows(S, c);
  return c;
}

Byte* RowAt(const Surface& S, int64_t X, int64_t Y) {
  return S.Bits + static_cast<std::ptrdiff_t>(Y * S.Stride + X);
}

// Draws the clipped pattern: forwards or mirrored, with the row copy for unkeyed kOpSet and the
// operator kernels otherwise.
void DrawRows(const Surface& S, const Clip& C, const Byte* Pattern, bool Mirrored, bool Keyed,
              Byte Key, int Method) {
  const int count = static_cast<int>(C.Width);
  if (!Keyed && Method == kOpSet && !Mirrored) {
    for (int64_t r = 0; r < C.Height; ++r)
      std::memmove(RowAt(S, C.X, C.Y + r), Pattern + C.Offset + r * C.Stride, count);
    return;
  }
  WithOperator(Method, [&](auto op) {
    using Op = decltype(op);
    for (int64_t r = 0; r < C.Height; ++r) {
      const Byte* src = Pattern + C.Offset + r * C.Stride;
      if (Mirrored) {
        Byte* right = RowAt(S, C.X + C.Width - 1, C.Y + r);
        if (Keyed)
          kernels::BlendRowMirrored<Op, true>(right, src, count, Key);
        else
          kernels::BlendRowMirrored<Op, false>(right, src, count, Key);
      } else {
        Byte* dst = RowAt(S, C.X, C.Y + r);
        if (Keyed)
          kernels::BlendRow<Op, true>(dst, src, count, Key);
        else
          kernels::BlendRow<Op, false>(dst, src, count, Key);
      }
    }
  });
}

// The masked walk, forwards or mirrored: pattern pixel (i, r) is drawn where mask bit
// (i mod MaskWidth, r mod MaskHeight) is 1. Only visible rows and columns are visited; the mask
// position follows from the pattern position, so clipped pixels step the mask as drawn ones do.
bool MaskedBlit(const Surface& S, int X, int Y, int Width, int Height, const Byte* Pattern,
                int Stride, const Byte* Mask, int MaskWidth, int MaskHeight, int Method,
                bool Mirrored) {
  if (!Mask || !S.Bits || !Pattern) return false;
  if (MaskWidth < 1 || MaskHeight < 1) return false;
  const int64_t stride = RaisedStride(Stride, Width);
  const int64_t maskRowBytes = (static_cast<int64_t>(MaskWidth) + 7) / 8;
  // Pattern columns [first, last) land on the surface; rows likewise.
  const int64_t x = X, w = Width;
  int64_t first, last;
  if (Mirrored) {  // column x + w - 1 - i must lie in [0, S.Width)
    first = std::max<int64_t>(0, x + w - S.Width);
    last = std::min<int64_t>(w, x + w);
  } else {
    first = std::max<int64_t>(0, -x);
    last = std::min<int64_t>(w, S.Width - x);
  }
  const int64_t top = std::max<int64_t>(0, -static_cast<int64_t>(Y));
  const int64_t bottom = std::min<int64_t>(Height, static_cast<int64_t>(S.Height) - Y);
  if (first >= last || top >= bottom) return true;
  WithOperator(Method, [&](auto op) {
    using Op = decltype(op);
    for (int64_t r = top; r < bottom; ++r) {
      const Byte* src = Pattern + r * stride;
      const Byte* maskRow = Mask + (r % MaskHeight) * maskRowBytes;
      Byte* row = RowAt(S, 0, Y + r);
      int bit = static_cast<int>(first % MaskWidth);
      for (int64_t i = first; i < last; ++i) {
        if (maskRow[bit >> 3] & (0x80 >> (bit & 7))) {
          Byte* p = row + (Mirrored ? x + w - 1 - i : x + i);
          *p = Op::Pixel(*p, src[i]);
        }
        if (++bit == MaskWidth) bit = 0;
      }
    }
  });
  return true;
}

}  // namespace

bool OvPutPat(const Surface& S, int X, int Y, int Width, int Height, const Byte* Pattern,
              int Stride, bool Keyed, Byte Key, int Method, bool Reverse) {
  if (Reverse)
    return OvPutPatR(S, X, Y, Width, Height, Pattern, Stride, Keyed, Key, Method, Reverse);
  if (!S.Bits || !Pattern) return false;
  const Clip c = ClipForward(S, X, Y, Width, Height, Stride);
  if (!c.Empty()) DrawRows(S, c, Pattern, false, Keyed, Key, Method);
  return true;
}

bool OvPutPatR(const Surface& S, int X, int Y, int Width, int Height, const Byte* Pattern,
               int Stride, bool Keyed, Byte Key, int Method, bool Reverse) {
  if (!Reverse || !S.Bits || !Pattern) return false;
  const Clip c = ClipMirrored(S, X, Y, Width, Height, Stride);
  if (!c.Empty()) DrawRows(S, c, Pattern, true, Keyed, Key, Method);
  return true;
}

bool OvPutPatM(const Surface& S, int X, int Y, int Width, int Height, const Byte* Pattern,
               int Stride, const Byte* Mask, int MaskWidth, int MaskHeight, int Method,
               bool Reverse) {
  if (Reverse)
    return OvPutPatMR(S, X, Y, Width, Height, Pattern, Stride, Mask, MaskWidth, MaskHeight, Method,
                      Reverse);
  return MaskedBlit(S, X, Y, Width, Height, Pattern, Stride, Mask, MaskWidth, MaskHeight, Method,
                    false);
}

bool OvPutPatMR(const Surface& S, int X, int Y, int Width, int Height, const Byte* Pattern,
                int Stride, const Byte* Mask, int MaskWidth, int MaskHeight, int Method,
                bool Reverse) {
  if (!Reverse) return false;
  return MaskedBlit(S, X, Y, Width, Height, Pattern, Stride, Mask, MaskWidth, MaskHeight, Method,
                    true);
}

bool OvPutPatWappi(const Surface& S, int X, int Y, int Width, int Height, const Byte* Pattern,
                   int Stride, Byte Key, bool Mirrored, int Method) {
  if (!S.Bits || !Pattern) return false;
  const Clip c = Mirrored ? ClipMirrored(S, X, Y, Width, Height, Stride)
                          : ClipForward(S, X, Y, Width, Height, Stride);
  if (!c.Empty()) DrawRows(S, c, Pattern, Mirrored, true, Key, Method);
  return true;
}

bool OvGetPat(const Surface& S, int X, int Y, int Width, int Height, Byte* Buffer) {
  if (!S.Bits || !Buffer) return false;
  // The buffer's stride is the width as requested, whatever the stride rule of the blits says.
  Clip c{X, Y, Width, Height, 0, Width};
  if (c.X < 0) {
    c.Width += c.X;
    c.Offset -= c.X;
    c.X = 0;
  }
  if (c.X + c.Width > S.Width) c.Width = S.Width - c.X;
  ClipRows(S, c);
  if (c.Empty()) return true;
  for (int64_t r = 0; r < c.Height; ++r)
    std::memmove(Buffer + c.Offset + r * c.Stride, RowAt(S, c.X, c.Y + r),
                 static_cast<std::size_t>(c.Width));
  return true;
}

bool ClipSourceBlock(const Surface& Source, int X, int Y, int SourceX, int SourceY, int Width,
                     int Height, SourceBlock* Block) {
  if (!Source.Bits) return false;
  int64_t x = X, y = Y, sx = SourceX, sy = SourceY, w = Width, h = Height;
  if (sx < 0) {
    x -= sx;
    w += sx;
    sx = 0;
  }
  if (sy < 0) {
    y -= sy;
    h += sy;
    sy = 0;
  }
  if (sx + w > Source.Width) w = Source.Width - sx;
  if (sy + h > Source.Height) h = Source.Height - sy;
  // A destination moved beyond the int range cannot land on any surface.
  if (w < 1 || h < 1 || x > INT32_MAX || y > INT32_MAX) return false;
  Block->X = static_cast<int>(x);
  Block->Y = static_cast<int>(y);
  Block->Width = static_cast<int>(w);
  Block->Height = static_cast<int>(h);
  Block->Bits = Source.Bits + static_cast<std::ptrdiff_t>(sy * Source.Stride + sx);
  Block->Stride = Source.Stride;
  return true;
}

}  // namespace ovelta::raster

namespace ovelta {

namespace {

using raster::ViewOf;

// The drawing forms record the rectangle as requested (before clipping) once their worker
// succeeded.
bool Recorded(TOvDib& Dib, bool Drawn, int X, int Y, int Width, int Height) {
  if (Drawn) Dib.SetModified(X, Y, raster::FarCorner(X, Width), raster::FarCorner(Y, Height));
  return Drawn;
}

}  // namespace

bool TOvDib::OvPutPat(int X, int Y, int AWidth, int AHeight, const Byte* Pattern, int Stride,
                      bool Keyed, Byte Key) {
  return raster::OvPutPat(ViewOf(*this), X, Y, AWidth, AHeight, Pattern, Stride, Keyed, Key,
                          Method(), Reverse());
}

bool TOvDib::OvPutPatR(int X, int Y, int AWidth, int AHeight, const Byte* Pattern, int Stride,
                       bool Keyed, Byte Key) {
  return raster::OvPutPatR(ViewOf(*this), X, Y, AWidth, AHeight, Pattern, Stride, Keyed, Key,
                           Method(), Reverse());
}

bool TOvDib::OvPutPatM(int X, int Y, int AWidth, int AHeight, const Byte* Pattern, int Stride,
                       const Byte* Mask, int MaskWidth, int MaskHeight) {
  return raster::OvPutPatM(ViewOf(*this), X, Y, AWidth, AHeight, Pattern, Stride, Mask, MaskWidth,
                           MaskHeight, Method(), Reverse());
}

bool TOvDib::OvPutPatMR(int X, int Y, int AWidth, int AHeight, const Byte* Pattern, int Stride,
                        const Byte* Mask, int MaskWidth, int MaskHeight) {
  return raster::OvPutPatMR(ViewOf(*this), X, Y, AWidth, AHeight, Pattern, Stride, Mask, MaskWidth,
                            MaskHeight, Method(), Reverse());
}

bool TOvDib::OvPutPatWappi(int X, int Y, int AWidth, int AHeight, const Byte* Pattern, int Stride,
                           Byte Key, bool Mirrored) {
  return raster::OvPutPatWappi(ViewOf(*this), X, Y, AWidth, AHeight, Pattern, Stride, Key, Mirrored,
                               Method());
}

bool TOvDib::OvGetPat(int X, int Y, int AWidth, int AHeight, Byte* Buffer) {
  return raster::OvGetPat(ViewOf(*this), X, Y, AWidth, AHeight, Buffer);
}

bool TOvDib::PutPat(int X, int Y, int AWidth, int AHeight, const Byte* Pattern) {
  return Recorded(*this, OvPutPat(X, Y, AWidth, AHeight, Pattern, AWidth, false, 0), X, Y, AWidth,
                  AHeight);
}

bool TOvDib::PutPat2(int X, int Y, int AWidth, int AHeight, const Byte* Pattern, int Stride) {
  return Recorded(*this, OvPutPat(X, Y, AWidth, AHeight, Pattern, Stride, false, 0), X, Y, AWidth,
                  AHeight);
}

bool TOvDib::PasPat(int X, int Y, int AWidth, int AHeight, const Byte* Pattern, Byte Key) {
  return Recorded(*this, OvPutPat(X, Y, AWidth, AHeight, Pattern, AWidth, true, Key), X, Y, AWidth,
                  AHeight);
}

bool TOvDib::PasPat2(int X, int Y, int AWidth, int AHeight, const Byte* Pattern, int Stride,
                     Byte Key) {
  return Recorded(*this, OvPutPat(X, Y, AWidth, AHeight, Pattern, Stride, true, Key), X, Y, AWidth,
                  AHeight);
}

bool TOvDib::PasMPat(int X, int Y, int AWidth, int AHeight, const Byte* Pattern, const Byte* Mask,
                     int MaskWidth, int MaskHeight) {
  return Recorded(*this,
                  OvPutPatM(X, Y, AWidth, AHeight, Pattern, AWidth, Mask, MaskWidth, MaskHeight), X,
                  Y, AWidth, AHeight);
}

bool TOvDib::PasPatWappi(int X, int Y, int AWidth, int AHeight, const Byte* Pattern, Byte Key,
                         bool Mirrored) {
  return Recorded(*this, OvPutPatWappi(X, Y, AWidth, AHeight, Pattern, AWidth, Key, Mirrored), X, Y,
                  AWidth, AHeight);
}

bool TOvDib::PasPat2Wappi(int X, int Y, int AWidth, int AHeight, const Byte* Pattern, int Stride,
                          Byte Key, bool Mirrored) {
  return Recorded(*this, OvPutPatWappi(X, Y, AWidth, AHeight, Pattern, Stride, Key, Mirrored), X, Y,
                  AWidth, AHeight);
}

bool TOvDib::GetPat(int X, int Y, int AWidth, int AHeight, Byte* Buffer) {
  return OvGetPat(X, Y, AWidth, AHeight, Buffer);
}

namespace {

// PutDib and PasDib: the block of Source, clipped to the source, drawn through PutPat2 or PasPat2.
bool DrawSurfaceBlock(TOvDib& Dest, int X, int Y, TOvDib* Source, int SourceX, int SourceY,
                      int Width, int Height, bool Keyed, Byte Key) {
  if (!Dest.ImagePtr() || !Source || !Source->ImagePtr()) return false;
  raster::SourceBlock block;
  if (!raster::ClipSourceBlock(ViewOf(*Source), X, Y, SourceX, SourceY, Width, Height, &block))
    return true;  // nothing of the block lies on the source
  std::vector<Byte> copy;
  if (Source == &Dest) {
    // Drawing onto the rows being read would smear an overlapping block: read it out first.
    copy.resize(static_cast<std::size_t>(block.Width) * block.Height);
    for (int r = 0; r < block.Height; ++r)
      std::memcpy(copy.data() + static_cast<std::size_t>(r) * block.Width,
                  block.Bits + static_cast<std::ptrdiff_t>(r) * block.Stride, block.Width);
    block.Bits = copy.data();
    block.Stride = block.Width;
  }
  return Keyed
             ? Dest.PasPat2(block.X, block.Y, block.Width, block.Height, block.Bits, block.Stride,
                            Key)
             : Dest.PutPat2(block.X, block.Y, block.Width, block.Height, block.Bits, block.Stride);
}

}  // namespace

bool TOvDib::PutDib(int X, int Y, TOvDib* Source, int SourceX, int SourceY, int AWidth,
                    int AHeight) {
  return DrawSurfaceBlock(*this, X, Y, Source, SourceX, SourceY, AWidth, AHeight, false, 0);
}

bool TOvDib::PasDib(int X, int Y, TOvDib* Source, int SourceX, int SourceY, int AWidth, int AHeight,
                    Byte Key) {
  return DrawSurfaceBlock(*this, X, Y, Source, SourceX, SourceY, AWidth, AHeight, true, Key);
}

}  // namespace ovelta
