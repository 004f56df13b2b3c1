// The framework's graphic classes on Qt: TFont (with the Windows Japanese faces mapped to the IPA
// fonts), TCanvas (brush fills and text drawn through an RGB layer and back to the nearest
// colour-table index on 8-bit bitmaps), TBitmap (which adopts bitmap sections) and TPicture.
#include <QApplication>
#include <QFont>
#include <QFontMetrics>
#include <QGuiApplication>
#include <QPainter>

#include <algorithm>
#include <cmath>
#include <cstring>

#include "platform/gdi/Fonts.h"
#include "platform/gdi/Gdi_p.h"
#include "platform/core/Text.h"

namespace ovelta {

void EnsureGuiApplication() {
  if (QCoreApplication::instance()) return;
  static int argc = 1;
  static char name[] = "ovelta";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);  // kept for the rest of the process
}

// ---------------------------------------------------------------------------------------------
// TFont
// ---------------------------------------------------------------------------------------------

namespace {

constexpr int kPixelsPerInch = 96;
constexpr int kPointsPerInch = 72;

}  // namespace

QFont gdi::QFontOf(const TFont& Font) {
  EnsureGuiApplication();
  QFont font(QString::fromStdString(FontFamilyFor(Font.Name())));
  if (Font.Pitch() == TFontPitch::fpFixed) {
    font.setFixedPitch(true);
    font.setStyleHint(QFont::Monospace);
  }
  font.setBold(Font.Bold());
  font.setHintingPreference(QFont::PreferFullHinting);
  if (Font.Quality() == TFontQuality::fqNonAntialiased)
    font.setStyleStrategy(QFont::StyleStrategy(QFont::NoAntialias | QFont::PreferMatch));
  const int height = Font.Height();
  if (height < 0) {
    font.setPixelSize(-height);
  } else if (height > 0) {
    // A cell height: scale the em so that ascent plus descent comes to the height asked for.
    font.setPixelSize(height);
    const int cell = QFontMetrics(font).height();
    if (cell > 0)
      font.setPixelSize(std::max(1, static_cast<int>(std::lround(double(height) * height / cell))));
  }
  return font;
}

TFont::TFont() : FName(Sjis("ＭＳ Ｐゴシック")) {}

int TFont::Size() const {
  return static_cast<int>(std::lround(-double(FHeight) * kPointsPerInch / kPixelsPerInch));
}
void TFont::SetSize(int Value) {
  SetHeight(-static_cast<int>(std::lround(double(Value) * kPixelsPerInch / kPointsPerInch)));
}

void TFont::SetHeight(int Value) {
  if (FHeight == Value) return;
  FHeight = Value;
  Changed();
}
void TFont::SetName(const AnsiString& Value) {
  if (FName == Value) return;
  FName = Value;
  Changed();
}
void TFont::SetPitch(TFontPitch Value) {
  if (FPitch == Value) return;
  FPitch = Value;
  Changed();
}
void TFont::SetColor(TColor Value) {
  if (FColor == Value) return;
  FColor = Value;
  Changed();
}
void TFont::SetBold(bool Value) {
  if (FBold == Value) return;
  FBold = Value;
  Changed();
}
void TFont::SetQuality(TFontQuality Value) {
  if (FQuality == Value) return;
  FQuality = Value;
  Changed();
}

void TFont::SetCharset(int Value) {
  if (FCharset == Value) return;
  FCharset = Value;
  Changed();
}

void TFont::Assign(const TFont& Source) {
  if (&Source == this) return;
  const bool differs = FHeight != Source.FHeight || FName != Source.FName ||
                       FPitch != Source.FPitch || FColor != Source.FColor ||
                       FBold != Source.FBold || FQuality != Source.FQuality ||
                       FCharset != Source.FCharset;
  FHeight = Source.FHeight;
  FName = Source.FName;
  FPitch = Source.FPitch;
  FColor = Source.FColor;
  FBold = Source.FBold;
  FQuality = Source.FQuality;
  FCharset = Source.FCharset;
  if (differs) Changed();
}

void TFont::Changed() { Fire(FOnChange, this); }

// ---------------------------------------------------------------------------------------------
// TCanvas
// ---------------------------------------------------------------------------------------------

TCanvas::TCanvas(TBitmap* Owner) : FOwner(Owner) {}

TCanvas::~TCanvas() { Detach(); }

HDC TCanvas::Handle() {
  HBITMAP bitmap = FOwner->Handle();
  if (!bitmap) return nullptr;
  if (!FContext) {
    FContext = CreateCompatibleDC(nullptr);
    if (!FContext) return nullptr;
    FOldBitmap = SelectObject(FContext, bitmap);
  }
  return FContext;
}

void TCanvas::Detach() {
  if (!FContext) return;
  SelectObject(FContext, FOldBitmap);
  DeleteDC(FContext);
  FContext = nullptr;
  FOldBitmap = nullptr;
}

void TCanvas::FillRect(const TRect& Rect) {
  HDC context = Handle();
  gdi::TSection* section = gdi::SectionOfContext(context);
  if (!section || FBrush.Style() == TBrushStyle::bsClear) return;
  const QRect area = QRect(QPoint(Rect.Left, Rect.Top), QPoint(Rect.Right - 1, Rect.Bottom - 1)) &
                     gdi::DrawableRect(context, *section);
  if (area.isEmpty()) return;
  const QRgb colour = gdi::ToQRgb(FBrush.Color());
  if (section->BitCount == 8) {
    const Byte index = gdi::TNearestIndex(section->Colours)(colour);
    for (int y = area.top(); y <= area.bottom(); ++y)
      std::memset(section->Row(y) + area.left(), index, static_cast<std::size_t>(area.width()));
    return;
  }
  gdi::TPixelWriter writer(*section);
  for (int y = area.top(); y <= area.bottom(); ++y)
    for (int x = area.left(); x <= area.right(); ++x) writer.Put(x, y, colour);
}

void TCanvas::TextOut(int X, int Y, const AnsiString& Text) {
  HDC context = Handle();
  gdi::TSection* section = gdi::SectionOfContext(context);
  if (!section || Text.empty()) return;
  const QFont font = gdi::QFontOf(FFont);
  const QFontMetrics metrics(font);
  const QString text = QString::fromStdString(Cp932ToUtf8(Text));
  const QRect cell(X, Y, metrics.horizontalAdvance(text), metrics.height());
  const QPoint baseline(X, Y + metrics.ascent());
  // The layer covers the cell and whatever ink reaches outside it.
  const QRect ink = metrics.boundingRect(text).translated(baseline);
  const QRect area = (cell | ink) & gdi::DrawableRect(context, *section);
  if (area.isEmpty()) return;

  QImage layer(area.size(), QImage::Format_ARGB32_Premultiplied);
  layer.fill(Qt::transparent);
  {
    QPainter painter(&layer);
    painter.translate(-area.topLeft());
    if (FBrush.Style() == TBrushStyle::bsSolid)
      painter.fillRect(cell, QColor(gdi::ToQRgb(FBrush.Color())));
    const bool smooth = FFont.Quality() != TFontQuality::fqNonAntialiased;
    painter.setRenderHint(QPainter::TextAntialiasing, smooth);
    painter.setRenderHint(QPainter::Antialiasing, smooth);
    painter.setFont(font);
    painter.setPen(QColor(gdi::ToQRgb(FFont.Color())));
    painter.drawText(baseline, text);
  }
  // Put the layer over the bitmap: covered pixels take the blended colour (the nearest index on an
  // 8-bit bitmap), uncovered ones keep their index.
  gdi::TPixelWriter writer(*section);
  for (int y = 0; y < layer.height(); ++y) {
    const auto* row = reinterpret_cast<const QRgb*>(layer.constScanLine(y));
    for (int x = 0; x < layer.width(); ++x) {
      const QRgb over = row[x];
      const int alpha = qAlpha(over);
      if (alpha == 0) continue;
      const int px = area.left() + x, py = area.top() + y;
      QRgb colour = over;
      if (alpha < 255) {
        const QRgb under = section->ColourAt(px, py);
        auto mix = [&](int top, int bottom) { return top + bottom * (255 - alpha) / 255; };
        colour = qRgb(mix(qRed(over), qRed(under)), mix(qGreen(over), qGreen(under)),
                      mix(qBlue(over), qBlue(under)));
      }
      writer.Put(px, py, colour);
    }
  }
}

int TCanvas::TextWidth(const AnsiString& Text) {
  return QFontMetrics(gdi::QFontOf(FFont))
      .horizontalAdvance(QString::fromStdString(Cp932ToUtf8(Text)));
}

int TCanvas::TextHeight(const AnsiString&) { return QFontMetrics(gdi::QFontOf(FFont)).height(); }

COLORREF TCanvas::Pixel(int X, int Y) { return GetPixel(Handle(), X, Y); }

void TCanvas::SetPixel(int X, int Y, TColor Colour) {
  ovelta::SetPixel(Handle(), X, Y, static_cast<COLORREF>(Colour));
}

// ---------------------------------------------------------------------------------------------
// TBitmap
// ---------------------------------------------------------------------------------------------

TBitmap::TBitmap() = default;

TBitmap::~TBitmap() {
  FCanvas.Detach();
  if (FHandle) DeleteObject(FHandle);
  if (FPalette) DeleteObject(FPalette);
}

void TBitmap::SetHandle(HBITMAP Value) {
  if (Value == FHandle) return;
  FCanvas.Detach();
  if (FHandle) DeleteObject(FHandle);
  FHandle = Value;
  Changed();
}

HBITMAP TBitmap::ReleaseHandle() {
  FCanvas.Detach();
  HBITMAP handle = FHandle;
  FHandle = nullptr;
  return handle;
}

void TBitmap::SetPalette(HPALETTE Value) {
  if (Value == FPalette) return;
  if (FPalette) DeleteObject(FPalette);
  FPalette = Value;
  FPaletteModified = true;
  Changed();
}

HPALETTE TBitmap::ReleasePalette() {
  HPALETTE palette = FPalette;
  FPalette = nullptr;
  return palette;
}

int TBitmap::Width() const {
  const gdi::TSection* section = gdi::SectionOf(FHandle);
  return section ? section->Width : FPendingWidth;
}

int TBitmap::Height() const {
  const gdi::TSection* section = gdi::SectionOf(FHandle);
  return section ? section->Height : FPendingHeight;
}

void TBitmap::SetWidth(int Value) { Resize(Value, FHandle ? Height() : FPendingHeight); }
void TBitmap::SetHeight(int Value) { Resize(FHandle ? Width() : FPendingWidth, Value); }

void TBitmap::Resize(int NewWidth, int NewHeight) {
  const gdi::TSection* old = gdi::SectionOf(FHandle);
  if (old && old->Width == NewWidth && old->Height == NewHeight) return;
  FPendingWidth = std::max(0, NewWidth);
  FPendingHeight = std::max(0, NewHeight);
  if (NewWidth < 1 || NewHeight < 1) {
    if (FHandle) SetHandle(nullptr);
    return;
  }
  // The new image has the old one's format (an 8-bit image keeps its colour table); new pixels are
  // the background: index 0, or white.
  BITMAPINFO info{};
  info.bmiHeader.biWidth = NewWidth;
  info.bmiHeader.biHeight = -NewHeight;
  info.bmiHeader.biBitCount = old && old->BitCount == 8 ? 8 : 32;
  if (old && old->BitCount == 8)
    std::copy(old->Colours.begin(), old->Colours.end(), info.bmiColors);
  void* bits = nullptr;
  HBITMAP made = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  gdi::TSection* fresh = gdi::SectionOf(made);
  if (!fresh) return;
  if (fresh->BitCount == 32)
    std::memset(fresh->Bits.get(), 0xFF, static_cast<std::size_t>(fresh->Stride) * fresh->Height);
  if (old) {
    const int rows = std::min(old->Height, fresh->Height);
    const std::size_t bytes =
        static_cast<std::size_t>(std::min(old->Width, fresh->Width)) * (fresh->BitCount / 8);
    for (int y = 0; y < rows; ++y) std::memcpy(fresh->Row(y), old->Row(y), bytes);
  }
  SetHandle(made);
}

void TBitmap::SetModified(bool Value) {
  if (Value)
    Changed();
  else
    FModified = false;
}

void TBitmap::Changed() {
  FModified = true;
  Fire(FOnChange, this);
}

// ---------------------------------------------------------------------------------------------
// TPicture
// ---------------------------------------------------------------------------------------------

TPicture::TPicture() = default;
TPicture::~TPicture() = default;

TBitmap* TPicture::Bitmap() {
  if (!FBitmap) {
    FBitmap = std::make_unique<TBitmap>();
    FBitmap->SetOnChange([this](TObject*) { Fire(FOnChange, this); });
    Fire(FOnChange, this);
  }
  return FBitmap.get();
}

int TPicture::Width() const { return FBitmap ? FBitmap->Width() : 0; }
int TPicture::Height() const { return FBitmap ? FBitmap->Height() : 0; }

}  // namespace ovelta
