// A plain per-pixel model of the drawing primitives and pattern blits, written straight from their
// definitions (one operator switch, one bounds test per pixel, the closed-form line, the mask bit
// of each pattern pixel), used as the oracle for the fast workers; plus a surface that owns exactly
// its bytes, so that the sanitizers catch any write past it.
#pragma once

#include <algorithm>
#include <cstdint>
#include <random>
#include <vector>

#include "graphics/Raster_p.h"

namespace ovelta::reference {

using raster::Surface;

// Pixel bytes of a surface with its own stride, allocated to the byte.
struct Canvas {
  int Width = 0, Height = 0, Stride = 0;
  std::vector<Byte> Pixels;

  Canvas(int W, int H, int S = -1) : Width(W), Height(H), Stride(S < 0 ? W : S) {
    Pixels.assign(static_cast<size_t>(Stride) * Height, 0);
  }
  Surface View() {
    return Surface{Pixels.empty() ? nullptr : Pixels.data(), Stride, Width, Height};
  }
  Byte& At(int X, int Y) { return Pixels[static_cast<size_t>(Y) * Stride + X]; }
  Byte At(int X, int Y) const { return Pixels[static_cast<size_t>(Y) * Stride + X]; }
  void Randomise(std::mt19937& Rng) {
    for (Byte& b : Pixels) b = static_cast<Byte>(Rng());
  }
};

inline Byte Apply(int Method, Byte D, Byte S) {
  switch (Method) {
    case 2:
      return D & S;
    case 3:
      return D | S;
    case 4:
      return D ^ S;
    case 5:
      return static_cast<Byte>(std::min(255, D + S));
    case 6:
      return S < D ? static_cast<Byte>(D - S) : 0;
    case 7:
      return static_cast<Byte>((D + S) / 2);
    default:
      return S;
  }
}

inline void Plot(Canvas& C, int X, int Y, Byte Colour, int Method) {
  if (X < 0 || Y < 0 || X >= C.Width || Y >= C.Height) return;
  C.At(X, Y) = Apply(Method, C.At(X, Y), Colour);
}

inline int Clamp(int V) { return std::clamp(V, -50000, 50000); }

// The pixels of a line in walk order (upper end first): pixel k of a wide line at column
// x1 + sx*k, row y1 + floor(k*ny/nx); of a tall line at row y1 + k, column x1 + sx*floor(k*nx/ny).
inline std::vector<std::pair<int, int>> LinePixels(int X1, int Y1, int X2, int Y2) {
  X1 = Clamp(X1), Y1 = Clamp(Y1), X2 = Clamp(X2), Y2 = Clamp(Y2);
  if (Y1 > Y2) std::swap(X1, X2), std::swap(Y1, Y2);
  const int64_t nx = std::abs(X2 - X1) + 1, ny = Y2 - Y1 + 1;
  const int sx = X2 > X1 ? 1 : -1;
  std::vector<std::pair<int, int>> out;
  if (nx > ny) {
    for (int64_t k = 0; k < nx; ++k) out.emplace_back(X1 + sx * k, Y1 + k * ny / nx);
  } else {
    for (int64_t k = 0; k < ny; ++k) out.emplace_back(X1 + sx * (k * nx / ny), Y1 + k);
  }
  return out;
}

inline void Line(Canvas& C, int X1, int Y1, int X2, int Y2, Byte Colour, bool LeaveEnds,
                 int Method) {
  auto pixels = LinePixels(X1, Y1, X2, Y2);
  for (size_t k = 0; k < pixels.size(); ++k) {
    if (LeaveEnds && (k == 0 || k + 1 == pixels.size())) continue;
    Plot(C, pixels[k].first, pixels[k].second, Colour, Method);
  }
}

// The outline: every pixel of the box's border, once.
inline void Box(Canvas& C, int X1, int Y1, int X2, int Y2, Byte Colour, int Method) {
  X1 = Clamp(X1), Y1 = Clamp(Y1), X2 = Clamp(X2), Y2 = Clamp(Y2);
  if (X1 == X2 || Y1 == Y2) return Line(C, X1, Y1, X2, Y2, Colour, false, Method);
  const int l = std::min(X1, X2), r = std::max(X1, X2), t = std::min(Y1, Y2), b = std::max(Y1, Y2);
  for (int y = std::max(t, 0); y <= std::min(b, C.Height - 1); ++y)
    for (int x = std::max(l, 0); x <= std::min(r, C.Width - 1); ++x)
      if (y == t || y == b || x == l || x == r) Plot(C, x, y, Colour, Method);
}

inline bool MaskBit(const Byte* Mask, int MaskWidth, int I, int R) {
  const Byte* row = Mask + static_cast<size_t>(R) * ((MaskWidth + 7) / 8);
  return (row[I / 8] >> (7 - I % 8)) & 1;
}

inline void BoxFill(Canvas& C, int X1, int Y1, int X2, int Y2, Byte Colour, const Byte* Mask,
                    int MaskWidth, int MaskHeight, int Method) {
  X1 = Clamp(X1), Y1 = Clamp(Y1), X2 = Clamp(X2), Y2 = Clamp(Y2);
  if (X1 > X2) std::swap(X1, X2);
  if (Y1 > Y2) std::swap(Y1, Y2);
  for (int y = std::max(Y1, 0); y <= std::min(Y2, C.Height - 1); ++y)
    for (int x = std::max(X1, 0); x <= std::min(X2, C.Width - 1); ++x)
      if (!Mask || MaskBit(Mask, MaskWidth, (x - X1) % MaskWidth, (y - Y1) % MaskHeight))
        Plot(C, x, y, Colour, Method);
}

// Every pattern blit: pattern pixel (i, r) lands at (x + i, y + r), or at (x + w - 1 - i, y + r)
// mirrored; it is skipped when keyed and equal to the key, or when its mask bit is 0.
struct BlitArgs {
  int X = 0, Y = 0, Width = 0, Height = 0, Stride = 0;
  bool Keyed = false;
  Byte Key = 0;
  const Byte* Mask = nullptr;
  int MaskWidth = 1, MaskHeight = 1;
  bool Mirrored = false;
  int Method = 0;
};

inline void Blit(Canvas& C, const Byte* Pattern, const BlitArgs& A) {
  const int64_t stride = std::max(A.Stride, A.Width);
  for (int r = 0; r < A.Height; ++r)
    for (int i = 0; i < A.Width; ++i) {
      const int64_t x = A.Mirrored ? int64_t{A.X} + A.Width - 1 - i : int64_t{A.X} + i;
      const int64_t y = int64_t{A.Y} + r;
      if (x < 0 || y < 0 || x >= C.Width || y >= C.Height) continue;
      const Byte s = Pattern[r * stride + i];
      if (A.Keyed && s == A.Key) continue;
      if (A.Mask && !MaskBit(A.Mask, A.MaskWidth, i % A.MaskWidth, r % A.MaskHeight)) continue;
      C.At(static_cast<int>(x), static_cast<int>(y)) =
          Apply(A.Method, C.At(static_cast<int>(x), static_cast<int>(y)), s);
    }
}

inline void GetPat(const Canvas& C, int X, int Y, int W, int H, Byte* Buffer) {
  for (int r = 0; r < H; ++r)
    for (int i = 0; i < W; ++i) {
      const int64_t x = int64_t{X} + i, y = int64_t{Y} + r;
      if (x >= 0 && y >= 0 && x < C.Width && y < C.Height)
        Buffer[r * W + i] = C.At(static_cast<int>(x), static_cast<int>(y));
    }
}

// A pattern of exactly the bytes a blit of W x H with this stride may read.
inline std::vector<Byte> RandomPattern(std::mt19937& Rng, int W, int H, int Stride, int Colours) {
  const int64_t stride = std::max(Stride, W);
  const int64_t bytes = (W > 0 && H > 0) ? (H - 1) * stride + W : 0;
  std::vector<Byte> p(static_cast<size_t>(std::max<int64_t>(bytes, 1)));  // data() never null
  for (Byte& b : p) b = static_cast<Byte>(Rng() % Colours);
  return p;
}

}  // namespace ovelta::reference
