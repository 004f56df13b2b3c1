// Nearest-neighbour scaling of 8-bit and 24-bit pixel blocks (Zooming, Zooming24).
#include "graphics/Ovbitmap.h"

#include <algorithm>
#include <cstddef>

namespace ovelta {

namespace {

// Walks max(source, destination) positions in each direction with one accumulator per side, so that
// enlarging repeats source pixels and reducing keeps the last source pixel of each destination
// pixel.
template <typename Pixel>
void Zoom(const Pixel* Source, int SourceWidth, int SourceHeight, std::ptrdiff_t SourceStride,
          Pixel* Dest, int DestWidth, int DestHeight, std::ptrdiff_t DestStride) {
  if (!Source || !Dest || SourceWidth < 1 || SourceHeight < 1 || DestWidth < 1 || DestHeight < 1)
    return;
  const int nx = std::max(SourceWidth, DestWidth);
  const int ny = std::max(SourceHeight, DestHeight);
  std::ptrdiff_t sourceRow = 0, destRow = 0;
  int sourceRowAcc = 0, destRowAcc = 0;
  for (int y = 0; y < ny; ++y) {
    const Pixel* from = Source + sourceRow * SourceStride;
    Pixel* to = Dest + destRow * DestStride;
    int sourceAcc = 0, destAcc = 0;
    for (int x = 0; x < nx; ++x) {
      *to = *from;
      sourceAcc += SourceWidth;
      if (sourceAcc >= nx) {
        ++from;
        sourceAcc -= nx;
      }
      destAcc += DestWidth;
      if (destAcc >= nx) {
        ++to;
        destAcc -= nx;
      }
    }
    sourceRowAcc += SourceHeight;
    if (sourceRowAcc >= ny) {
      ++sourceRow;
      sourceRowAcc -= ny;
    }
    destRowAcc += DestHeight;
    if (destRowAcc >= ny) {
      ++destRow;
      destRowAcc -= ny;
    }
  }
}

}  // namespace

void Zooming(const Byte* Source, int SourceWidth, int SourceHeight, int SourceStride, Byte* Dest,
             int DestWidth, int DestHeight, int DestStride) {
  Zoom(Source, SourceWidth, SourceHeight, SourceStride, Dest, DestWidth, DestHeight, DestStride);
}

void Zooming24(const TOvRGB* Source, int SourceWidth, int SourceHeight, int SourceStride,
               TOvRGB* Dest, int DestWidth, int DestHeight, int DestStride) {
  Zoom(Source, SourceWidth, SourceHeight, SourceStride, Dest, DestWidth, DestHeight, DestStride);
}

}  // namespace ovelta
