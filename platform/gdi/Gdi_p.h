// Inside the graphics layer: the objects behind the handles of platform/gdi/Graphics.h (bitmap
// sections, palettes, regions, contexts) and the helpers the canvas and the image control share. Qt
// appears here; only platform/*.cpp include this file.
#pragma once

#include <QFont>
#include <QImage>
#include <QRect>
#include <QRgb>

#include <array>
#include <memory>
#include <optional>
#include <unordered_map>

#include "platform/gdi/Graphics.h"

namespace ovelta::gdi {

// A bitmap section: its own top-down pixel bytes (rows padded to 4 bytes) and, for 8 bits a pixel,
// a 256-entry colour table.
struct TSection {
  int Width = 0;
  int Height = 0;
  int BitCount = 0;  // 8 or 32
  int Stride = 0;
  std::unique_ptr<Byte[]> Bits;
  std::array<RGBQUAD, 256> Colours{};

  // A QImage over the very same bytes (Format_Indexed8 with the colour table, or Format_RGB32):
  // nothing is copied, so it is valid only while the section lives and must not be kept.
  QImage View() const;
  QRect Bounds() const { return QRect(0, 0, Width, Height); }
  Byte* Row(int Y) const { return Bits.get() + static_cast<std::ptrdiff_t>(Y) * Stride; }
  // The colour of one pixel, as 0xffRRGGBB.
  QRgb ColourAt(int X, int Y) const;
};

// The section of a bitmap handle, or null for a bad handle.
TSection* SectionOf(HBITMAP Bitmap);
// The section selected into a memory context, or null (screen context, bad handle, section gone).
TSection* SectionOfContext(HDC Context);
// The context's clip rectangle, if a region is selected.
std::optional<QRect> ClipOf(HDC Context);
// The part of the section a context may draw on: its bounds, cut to the clip region.
QRect DrawableRect(HDC Context, const TSection& Section);

// Finds the colour-table index nearest to a colour (an exact match first, the lowest such index;
// otherwise the smallest squared distance), remembering earlier answers.
class TNearestIndex {
 public:
  explicit TNearestIndex(const std::array<RGBQUAD, 256>& Colours) : FColours(Colours) {}
  Byte operator()(QRgb Colour);

 private:
  const std::array<RGBQUAD, 256>& FColours;
  std::unordered_map<QRgb, Byte> FFound;
};

// Stores a colour into a pixel of the section (nearest index for 8 bits).
class TPixelWriter {
 public:
  explicit TPixelWriter(TSection& Section) : FSection(Section), FNearest(Section.Colours) {}
  void Put(int X, int Y, QRgb Colour);

 private:
  TSection& FSection;
  TNearestIndex FNearest;
};

// The Qt font for a framework font: the face (Windows Japanese faces mapped to the IPA fonts),
// pitch, weight, height (negative: em pixels; positive: cell pixels) and, for fqNonAntialiased,
// glyphs drawn without smoothing.
QFont QFontOf(const TFont& Font);

inline QRgb ToQRgb(const RGBQUAD& Quad) { return qRgb(Quad.rgbRed, Quad.rgbGreen, Quad.rgbBlue); }
inline QRgb ToQRgb(TColor Colour) {
  const auto c = static_cast<COLORREF>(Colour);
  return qRgb(GetRValue(c), GetGValue(c), GetBValue(c));
}
inline COLORREF ToColorRef(QRgb Colour) {
  return RGB(static_cast<Byte>(qRed(Colour)), static_cast<Byte>(qGreen(Colour)),
             static_cast<Byte>(qBlue(Colour)));
}

}  // namespace ovelta::gdi
