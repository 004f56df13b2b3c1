// Drawing primitives of the 8-bit surface: the operator table, points, lines (the integer walk from
// the upper end down), outlined boxes and filled boxes, plain or through a repeating 1-bit mask,
// first as workers on a plain surface view, then as the TOvDib members that hand their storage to
// those workers, keep the pen and record each change.
#include <algorithm>
#include <cstdint>
#include <cstring>
#include <utility>

#include "graphics/Ovdib.h"
#include "graphics/RasterKernels_p.h"
#include "graphics/Raster_p.h"

namespace ovelta::raster {

namespace {

using kernels::WithOperator;

int Clamp(int V) { return std::clamp(V, -kCoordLimit, kCoordLimit); }

bool Exists(const Surface& S, int X, int Y) {
  return X >= 0 && X < S.Width && Y >= 0 && Y < S.Height;
}

Byte* PixelAt(const Surface& S, int X, int Y) {
  return S.Bits + static_cast<std::ptrdiff_t>(Y) * S.Stride + X;
}

// The bit for column Column of one mask row (most significant bit leftmost).
bool MaskBit(const Byte* MaskRow, int Column) {
  return (MaskRow[Column >> 3] & (0x80 >> (Column & 7))) != 0;
}

std::ptrdiff_t MaskRowBytes(int MaskWidth) {
  return (static_cast<std::ptrdiff_t>(MaskWidth) + 7) / 8;
}

// The line walk on clamped, upper-end-first coordinates (Y1 <= Y2). Points off the surface are
// stepped over; the walk always reaches the end point.
template <class Op>
void WalkLine(const Surface& S, int X1, int Y1, int X2, int Y2, Byte Colour, bool LeaveEnds) {
  auto draw = [&](int x, int y) {
    if (Exists(S, x, y)) {
      Byte* p = PixelAt(S, x, y);
      *p = Op::Pixel(*p, Colour);
    }
  };
  if (X1 == X2 && Y1 == Y2) {  // one pixel, drawn once whatever the operator
    if (!LeaveEnds) draw(X1, Y1);
    return;
  }
  const int nx = (X2 > X1 ? X2 - X1 : X1 - X2) + 1;  // pixel counts, not differences
  const int ny = Y2 - Y1 + 1;
  const int sx = X2 > X1 ? 1 : -1;
  int e = 0, x = X1, y = Y1;
  if (!LeaveEnds) draw(x, y);
  for (;;) {
    if (nx > ny) {  // wide: one column per step
      e += ny;
      if (e >= nx) {
        e -= nx;
        ++y;
      }
      x += sx;
    } else {  // tall or diagonal: one row per step
      e += nx;
      if (e >= ny) {
        e -= ny;
        x += sx;
      }
      ++y;
    }
    if (x == X2 && y == Y2) break;
    draw(x, y);
  }
  if (!LeaveEnds) draw(X2, Y2);
}

}  // namespace

PixelOperator OperatorOf(int Method) {
  return WithOperator(Method, [](auto op) -> PixelOperator { return &decltype(op)::Pixel; });
}

bool PSet(const Surface& S, int X, int Y, Byte Colour, int Method) {
  if (!S.Bits || !Exists(S, X, Y)) return false;
  Byte* p = PixelAt(S, X, Y);
  *p = OperatorOf(Method)(*p, Colour);
  return true;
}

Byte PGet(const Surface& S, int X, int Y) {
  if (!S.Bits || !Exists(S, X, Y)) return 0;
  return *PixelAt(S, X, Y);
}

bool OvLine(const Surface& S, int X1, int Y1, int X2, int Y2, Byte Colour, bool LeaveEnds,
            int Method) {
  if (!S.Bits) return false;
  X1 = Clamp(X1), Y1 = Clamp(Y1), X2 = Clamp(X2), Y2 = Clamp(Y2);
  if (Y1 > Y2) {
    std::swap(X1, X2);
    std::swap(Y1, Y2);
  }
  WithOperator(Method,
               [&](auto op) { WalkLine<decltype(op)>(S, X1, Y1, X2, Y2, Colour, LeaveEnds); });
  return true;
}

bool Box(const Surface& S, int X1, int Y1, int X2, int Y2, Byte Colour, int Method) {
  if (!S.Bits) return false;
  X1 = Clamp(X1), Y1 = Clamp(Y1), X2 = Clamp(X2), Y2 = Clamp(Y2);
  if (X1 == X2 || Y1 == Y2) return OvLine(S, X1, Y1, X2, Y2, Colour, false, Method);
  // Top and bottom edges with their corners, the sides without them: no pixel twice.
  bool ok = OvLine(S, X1, Y1, X2, Y1, Colour, false, Method);
  ok = OvLine(S, X1, Y1, X1, Y2, Colour, true, Method) && ok;
  ok = OvLine(S, X1, Y2, X2, Y2, Colour, false, Method) && ok;
  ok = OvLine(S, X2, Y1, X2, Y2, Colour, true, Method) && ok;
  return ok;
}

bool OvBoxFill(const Surface& S, int X1, int Y1, int X2, int Y2, Byte Colour, const Byte* Mask,
               int MaskWidth, int MaskHeight, int Method) {
  if (!S.Bits) return false;
  if (Mask && (MaskWidth < 1 || MaskHeight < 1)) return false;
  X1 = Clamp(X1), Y1 = Clamp(Y1), X2 = Clamp(X2), Y2 = Clamp(Y2);
  if (X1 > X2) std::swap(X1, X2);
  if (Y1 > Y2) std::swap(Y1, Y2);
  // Only the visible part is visited; the mask position of a pixel follows from its distance to
  // the box's top-left corner, so the mask stays anchored there wherever the box lies.
  const int left = std::max(X1, 0), right = std::min(X2, S.Width - 1);
  const int top = std::max(Y1, 0), bottom = std::min(Y2, S.Height - 1);
  if (left > right || top > bottom) return true;
  const int count = right - left + 1;
  if (!Mask && Method == kOpSet) {
    if (count == S.Stride) {  // whole rows without padding: one run
      std::memset(PixelAt(S, 0, top), Colour, static_cast<std::size_t>(count) * (bottom - top + 1));
      return true;
    }
    for (int y = top; y <= bottom; ++y) std::memset(PixelAt(S, left, y), Colour, count);
    return true;
  }
  WithOperator(Method, [&](auto op) {
    using Op = decltype(op);
    for (int y = top; y <= bottom; ++y) {
      Byte* row = PixelAt(S, left, y);
      if (!Mask) {
        kernels::FillRow<Op>(row, count, Colour);
        continue;
      }
      const Byte* maskRow = Mask + ((y - Y1) % MaskHeight) * MaskRowBytes(MaskWidth);
      int bit = (left - X1) % MaskWidth;
      for (int i = 0; i < count; ++i) {
        if (MaskBit(maskRow, bit)) row[i] = Op::Pixel(row[i], Colour);
        if (++bit == MaskWidth) bit = 0;
      }
    }
  });
  return true;
}

}  // namespace ovelta::raster

namespace ovelta {

static_assert(Ov_SET == raster::kOpSet && Ov_NOT == raster::kOpNot && Ov_AND == raster::kOpAnd &&
              Ov_OR == raster::kOpOr && Ov_XOR == raster::kOpXor && Ov_ADD == raster::kOpAdd &&
              Ov_SUB == raster::kOpSub && Ov_MED == raster::kOpMed);

bool TOvDib::PSet(int X, int Y, Byte Colour) {
  if (!raster::PSet(raster::ViewOf(*this), X, Y, Colour, Method())) return false;
  SetModified(X, Y, X, Y);
  return true;
}

Byte TOvDib::PGet(int X, int Y) { return raster::PGet(raster::ViewOf(*this), X, Y); }

bool TOvDib::OvLine(int X1, int Y1, int X2, int Y2, Byte Colour, bool LeaveEnds) {
  return raster::OvLine(raster::ViewOf(*this), X1, Y1, X2, Y2, Colour, LeaveEnds, Method());
}

bool TOvDib::Line(int X1, int Y1, int X2, int Y2, Byte Colour) {
  const bool drawn = OvLine(X1, Y1, X2, Y2, Colour, false);
  if (drawn) SetModified(X1, Y1, X2, Y2);
  FPenX = X2;
  FPenY = Y2;
  return drawn;
}

bool TOvDib::CLine(int X, int Y, Byte Colour) {
  // The pen's point belongs to the previous segment: leave both ends out, then set the new end
  // once.
  const bool drawn = OvLine(FPenX, FPenY, X, Y, Colour, true);
  PSet(X, Y, Colour);
  if (drawn) SetModified(FPenX, FPenY, X, Y);
  FPenX = X;
  FPenY = Y;
  return drawn;
}

bool TOvDib::Box(int X1, int Y1, int X2, int Y2, Byte Colour) {
  if (!raster::Box(raster::ViewOf(*this), X1, Y1, X2, Y2, Colour, Method())) return false;
  SetModified(X1, Y1, X2, Y2);
  return true;
}

bool TOvDib::OvBoxFill(int X1, int Y1, int X2, int Y2, Byte Colour, const Byte* Mask, int MaskWidth,
                       int MaskHeight) {
  return raster::OvBoxFill(raster::ViewOf(*this), X1, Y1, X2, Y2, Colour, Mask, MaskWidth,
                           MaskHeight, Method());
}

bool TOvDib::BoxFill(int X1, int Y1, int X2, int Y2, Byte Colour) {
  if (!OvBoxFill(X1, Y1, X2, Y2, Colour, nullptr, 0, 0)) return false;
  SetModified(X1, Y1, X2, Y2);
  return true;
}

bool TOvDib::BoxFillM(int X1, int Y1, int X2, int Y2, Byte Colour, const Byte* Mask, int MaskWidth,
                      int MaskHeight) {
  if (!OvBoxFill(X1, Y1, X2, Y2, Colour, Mask, MaskWidth, MaskHeight)) return false;
  SetModified(X1, Y1, X2, Y2);
  return true;
}

}  // namespace ovelta
