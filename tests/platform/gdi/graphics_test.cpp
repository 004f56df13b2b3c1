// The graphics layer: bitmap sections and their shared views, handle checking, palettes, contexts
// and BitBlt, the canvas (fills and text, with and without smoothing, onto 8-bit and 32-bit
// bitmaps), fonts, TBitmap's ownership of handles, the image control's painting, and module
// resources.
#include <gtest/gtest.h>

#include <QFontInfo>
#include <QPixmap>
#include <QWidget>

#include <algorithm>
#include <cstring>
#include <memory>
#include <set>
#include <utility>
#include <vector>

#include "platform/gdi/Fonts.h"
#include "platform/gdi/Gdi_p.h"
#include "platform/gdi/Graphics.h"
#include "platform/core/Resources.h"
#include "platform/core/Text.h"
#include "platform/gdi/GdiTesting_p.h"

namespace ovelta {
namespace {

// An 8-bit top-down section whose colour table entry i is grey level i, or the given table.
HBITMAP Grey8(int Width, int Height, Byte** Bits = nullptr, const RGBQUAD* Table = nullptr) {
  BITMAPINFO info{};
  info.bmiHeader.biWidth = Width;
  info.bmiHeader.biHeight = -Height;
  info.bmiHeader.biBitCount = 8;
  for (int i = 0; i < 256; ++i) {
    const auto level = static_cast<Byte>(i);
    info.bmiColors[i] = Table ? Table[i] : RGBQUAD{level, level, level, 0x11};
  }
  void* bits = nullptr;
  HBITMAP made = CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0);
  if (Bits) *Bits = static_cast<Byte*>(bits);
  return made;
}

// A memory context with a bitmap selected, given back on destruction.
class Selected {
 public:
  explicit Selected(HBITMAP Bitmap) : FContext(CreateCompatibleDC(nullptr)) {
    FOld = SelectObject(FContext, Bitmap);
  }
  ~Selected() {
    SelectObject(FContext, FOld);
    DeleteDC(FContext);
  }
  Selected(const Selected&) = delete;
  Selected& operator=(const Selected&) = delete;
  operator HDC() const { return FContext; }

 private:
  HDC FContext;
  HGDIOBJ FOld;
};

TEST(BitmapSections, DescriptionsTheLayerCannotHoldAreRefused) {
  struct Case {
    const char* Name;
    int Width, Height, BitCount, Planes;
    DWord Compression;
  } cases[] = {
      {"bottom-up", 4, 4, 8, 1, BI_RGB},     {"4-bit", 4, -4, 4, 1, BI_RGB},
      {"24-bit", 4, -4, 24, 1, BI_RGB},      {"zero width", 0, -4, 8, 1, BI_RGB},
      {"too wide", 40000, -1, 8, 1, BI_RGB}, {"two planes", 4, -4, 8, 2, BI_RGB},
      {"compressed", 4, -4, 8, 1, 1},
  };
  const int objects = graphics_testing::LiveObjects();
  for (const Case& c : cases) {
    BITMAPINFO info{};
    info.bmiHeader.biWidth = c.Width;
    info.bmiHeader.biHeight = c.Height;
    info.bmiHeader.biBitCount = static_cast<Word>(c.BitCount);
    info.bmiHeader.biPlanes = static_cast<Word>(c.Planes);
    info.bmiHeader.biCompression = c.Compression;
    void* bits = reinterpret_cast<void*>(1);
    EXPECT_EQ(CreateDIBSection(nullptr, &info, DIB_RGB_COLORS, &bits, nullptr, 0), nullptr)
        << c.Name;
    EXPECT_EQ(bits, nullptr) << c.Name;
  }
  EXPECT_EQ(graphics_testing::LiveObjects(), objects);
}

TEST(BitmapSections, RowsArePaddedZeroedAndSharedWithTheQtView) {
  Byte* bits = nullptr;
  HBITMAP bitmap = Grey8(5, 3, &bits);
  ASSERT_NE(bitmap, nullptr);
  TBitmapFacts facts;
  ASSERT_TRUE(GetBitmapFacts(bitmap, &facts));
  EXPECT_EQ(facts.Stride, 8);
  EXPECT_EQ(facts.Bits, bits);
  EXPECT_TRUE(std::all_of(bits, bits + 24, [](Byte b) { return b == 0; }));

  gdi::TSection* section = gdi::SectionOf(bitmap);
  ASSERT_NE(section, nullptr);
  bits[2 * 8 + 4] = 200;
  const QImage view = section->View();
  EXPECT_EQ(view.format(), QImage::Format_Indexed8);
  EXPECT_EQ(view.constBits(), bits);  // nothing copied
  EXPECT_EQ(view.pixelIndex(4, 2), 200);
  EXPECT_EQ(view.pixel(4, 2), qRgb(200, 200, 200));
  EXPECT_EQ(section->Colours[9].rgbReserved, 0);  // the reserved bytes are cleared

  // A new colour table shows in the next view.
  Selected context(bitmap);
  const RGBQUAD red{0, 0, 255, 0};
  EXPECT_EQ(SetDIBColorTable(context, 200, 1, &red), 1u);
  EXPECT_EQ(section->View().pixel(4, 2), qRgb(255, 0, 0));
  RGBQUAD back[3];
  EXPECT_EQ(GetDIBColorTable(context, 254, 3, back), 2u);  // cut at the table's end
  EXPECT_EQ(back[1].rgbRed, 255);
  DeleteObject(bitmap);
}

TEST(GraphicsHandles, StaleStockAndForeignHandlesAreRefused) {
  HBITMAP bitmap = Grey8(2, 2);
  HDC context = CreateCompatibleDC(nullptr);
  HGDIOBJ placeholder = SelectObject(context, bitmap);
  ASSERT_NE(placeholder, nullptr);
  EXPECT_TRUE(DeleteObject(bitmap));
  EXPECT_FALSE(DeleteObject(bitmap));
  TBitmapFacts facts;
  EXPECT_FALSE(GetBitmapFacts(bitmap, &facts));
  EXPECT_EQ(GetPixel(context, 0, 0), CLR_INVALID);  // the context's bitmap is gone
  EXPECT_EQ(SelectObject(context, bitmap), nullptr);
  EXPECT_FALSE(DeleteObject(placeholder));  // stock
  EXPECT_EQ(SelectObject(context, placeholder), bitmap);
  EXPECT_TRUE(DeleteDC(context));
  EXPECT_FALSE(DeleteDC(context));
  EXPECT_EQ(CreateCompatibleDC(context), nullptr);
  EXPECT_EQ(SelectObject(reinterpret_cast<HDC>(std::uintptr_t{0x12345}), placeholder), nullptr);

  HDC screen = GetDC(GetDesktopWindow());
  EXPECT_FALSE(DeleteDC(screen));
  EXPECT_EQ(ReleaseDC(GetDesktopWindow(), screen), 1);
  EXPECT_EQ(ReleaseDC(GetDesktopWindow(), screen), 0);
}

TEST(Palettes, TheDefaultPaletteHoldsTheTwentySystemColoursAndCannotChange) {
  auto stock = static_cast<HPALETTE>(GetStockObject(DEFAULT_PALETTE));
  PALETTEENTRY entries[24];
  ASSERT_EQ(GetPaletteEntries(stock, 0, 24, entries), 20u);
  EXPECT_EQ(std::memcmp(entries, SystemColours(), 20 * sizeof(PALETTEENTRY)), 0);
  EXPECT_EQ(entries[19].peRed + entries[19].peGreen + entries[19].peBlue, 3 * 255);
  EXPECT_EQ(entries[7].peRed, 192);
  EXPECT_EQ(SetPaletteEntries(stock, 0, 1, entries), 0u);
  EXPECT_FALSE(DeleteObject(stock));

  LOGPALETTE description;
  description.palNumEntries = 256;
  for (int i = 0; i < 256; ++i)
    description.palPalEntry[i] = PALETTEENTRY{static_cast<Byte>(i), 0, 0, 0};
  HPALETTE palette = CreatePalette(&description);
  ASSERT_NE(palette, nullptr);
  const PALETTEENTRY blue{0, 0, 255, 0};
  EXPECT_EQ(SetPaletteEntries(palette, 255, 2, &blue), 1u);
  PALETTEENTRY read;
  EXPECT_EQ(GetPaletteEntries(palette, 255, 1, &read), 1u);
  EXPECT_EQ(read.peBlue, 255);
  EXPECT_EQ(GetPaletteEntries(palette, 256, 1, &read), 0u);
  EXPECT_TRUE(DeleteObject(palette));
  description.palNumEntries = 0;
  EXPECT_EQ(CreatePalette(&description), nullptr);
}

TEST(BitBlt, CopiesAreClippedToBothBitmapsAndTheClipRegion) {
  Byte *from = nullptr, *to = nullptr;
  HBITMAP source = Grey8(4, 4, &from), dest = Grey8(4, 4, &to);
  for (int i = 0; i < 16; ++i) from[i] = static_cast<Byte>(i + 1);
  {
    Selected s(source), d(dest);
    // Source rows -1..2 and columns 2..5 land at (1, 1); only what exists on both sides is copied.
    EXPECT_TRUE(BitBlt(d, 1, 1, 4, 4, s, 2, -1, SRCCOPY));
    const std::vector<Byte> expected = {0, 0, 0, 0,  //
                                        0, 0, 0, 0,  //
                                        0, 3, 4, 0,  //
                                        0, 7, 8, 0};
    EXPECT_EQ(std::vector<Byte>(to, to + 16), expected);

    std::memset(to, 0, 16);
    HRGN region = CreateRectRgn(1, 0, 3, 2);
    EXPECT_EQ(SelectClipRgn(d, region), 1);
    DeleteObject(region);  // the context keeps its own copy
    EXPECT_TRUE(BitBlt(d, 0, 0, 4, 4, s, 0, 0, SRCCOPY));
    EXPECT_EQ(std::vector<Byte>(to, to + 8), (std::vector<Byte>{0, 2, 3, 0, 0, 6, 7, 0}));
    EXPECT_EQ(to[9], 0);
    SelectClipRgn(d, nullptr);
    EXPECT_TRUE(BitBlt(d, 0, 0, 4, 4, s, 0, 0, SRCCOPY));
    EXPECT_EQ(to[15], 16);

    EXPECT_FALSE(BitBlt(d, 0, 0, 1, 1, s, 0, 0, 0x00660046));  // not SRCCOPY
    HDC screen = GetDC(GetDesktopWindow());
    EXPECT_FALSE(BitBlt(d, 0, 0, 1, 1, screen, 0, 0, SRCCOPY));
    EXPECT_FALSE(BitBlt(screen, 0, 0, 1, 1, s, 0, 0, SRCCOPY));
    ReleaseDC(GetDesktopWindow(), screen);
  }
  DeleteObject(source);
  DeleteObject(dest);
}

TEST(BitBlt, OverlappingCopiesWithinOneBitmapReadBeforeTheyWrite) {
  Byte* bits = nullptr;
  HBITMAP bitmap = Grey8(6, 6, &bits);
  for (int i = 0; i < 48; ++i) bits[i] = static_cast<Byte>(i);  // stride 8
  std::vector<Byte> expected(bits, bits + 48);
  for (int y = 3; y >= 0; --y)
    for (int x = 3; x >= 0; --x) expected[(y + 1) * 8 + x + 1] = bits[y * 8 + x];
  {
    Selected context(bitmap);
    EXPECT_TRUE(BitBlt(context, 1, 1, 4, 4, context, 0, 0, SRCCOPY));
  }
  EXPECT_EQ(std::vector<Byte>(bits, bits + 48), expected);
  DeleteObject(bitmap);
}

TEST(BitBlt, DifferentColourTablesAreMatchedByColour) {
  RGBQUAD reversed[256];
  for (int i = 0; i < 256; ++i) {
    const auto level = static_cast<Byte>(255 - i);
    reversed[i] = RGBQUAD{level, level, level, 0};
  }
  Byte *from = nullptr, *to = nullptr;
  HBITMAP source = Grey8(3, 1, &from), dest = Grey8(3, 1, &to, reversed);
  from[0] = 0;
  from[1] = 10;
  from[2] = 255;
  {
    Selected s(source), d(dest);
    EXPECT_TRUE(BitBlt(d, 0, 0, 3, 1, s, 0, 0, SRCCOPY));
  }
  EXPECT_EQ(to[0], 255);
  EXPECT_EQ(to[1], 245);
  EXPECT_EQ(to[2], 0);
  DeleteObject(source);
  DeleteObject(dest);
}

TEST(Canvas, FillsTakeTheNearestIndexAndHonourTheClipRegion) {
  TBitmap bitmap;
  Byte* bits = nullptr;
  bitmap.SetHandle(Grey8(6, 2, &bits));
  TCanvas* canvas = bitmap.Canvas();
  canvas->Brush()->SetColor(static_cast<TColor>(RGB(101, 99, 100)));
  canvas->FillRect(TRect(-3, 0, 2, 1));  // right and bottom outside
  EXPECT_EQ(bits[0], 100);
  EXPECT_EQ(bits[1], 100);
  EXPECT_EQ(bits[2], 0);
  EXPECT_EQ(bits[8], 0);

  HRGN region = CreateRectRgn(3, 0, 4, 2);
  SelectClipRgn(canvas->Handle(), region);
  DeleteObject(region);
  canvas->Brush()->SetColor(clWhite);
  canvas->FillRect(TRect(0, 0, 6, 2));
  EXPECT_EQ(bits[2], 0);
  EXPECT_EQ(bits[3], 255);
  EXPECT_EQ(bits[8 + 3], 255);
  EXPECT_EQ(bits[4], 0);

  canvas->Brush()->SetStyle(TBrushStyle::bsClear);
  SelectClipRgn(canvas->Handle(), nullptr);
  canvas->FillRect(TRect(0, 0, 6, 2));
  EXPECT_EQ(bits[5], 0);
}

// The distinct indices in a block of an 8-bit bitmap.
std::set<Byte> IndicesIn(const Byte* Bits, int Stride, int Width, int Height) {
  std::set<Byte> found;
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x) found.insert(Bits[y * Stride + x]);
  return found;
}

TEST(Canvas, TextWithoutSmoothingIsExactlyForegroundAndBackground) {
  TBitmap bitmap;
  Byte* bits = nullptr;
  bitmap.SetHandle(Grey8(32, 32, &bits));
  TCanvas* canvas = bitmap.Canvas();
  canvas->Font()->SetName(Sjis("ＭＳ ゴシック"));
  canvas->Font()->SetHeight(-24);
  canvas->Font()->SetQuality(TFontQuality::fqNonAntialiased);
  canvas->Font()->SetColor(clBlack);
  canvas->Brush()->SetColor(clWhite);
  for (const char* text : {"A", "漢", "ｱ"}) {
    SCOPED_TRACE(text);
    canvas->FillRect(TRect(0, 0, 32, 32));
    canvas->TextOut(0, 0, Sjis(text));
    const std::set<Byte> found = IndicesIn(bits, 32, 32, 32);
    EXPECT_EQ(found, (std::set<Byte>{0, 255}));
  }
  // Smoothed text on the same bitmap brings in levels between.
  canvas->Font()->SetQuality(TFontQuality::fqAntialiased);
  canvas->FillRect(TRect(0, 0, 32, 32));
  canvas->TextOut(0, 0, Sjis("漢"));
  EXPECT_GT(IndicesIn(bits, 32, 32, 32).size(), 2u);
}

TEST(Canvas, ClearBrushTextLeavesTheBackgroundAndDrawsOn32BitBitmaps) {
  TBitmap bitmap;
  bitmap.SetWidth(40);
  bitmap.SetHeight(20);  // a 32-bit image, white
  TCanvas* canvas = bitmap.Canvas();
  EXPECT_EQ(canvas->Pixel(39, 19), RGB(255, 255, 255));
  canvas->Brush()->SetColor(clBlue);
  canvas->FillRect(TRect(0, 0, 40, 20));
  canvas->Brush()->SetStyle(TBrushStyle::bsClear);
  canvas->Font()->SetColor(clRed);
  canvas->Font()->SetHeight(-16);
  canvas->Font()->SetQuality(TFontQuality::fqNonAntialiased);
  canvas->TextOut(2, 2, "W");
  int red = 0, blue = 0;
  for (int y = 0; y < 20; ++y)
    for (int x = 0; x < 40; ++x) {
      const COLORREF pixel = canvas->Pixel(x, y);
      red += pixel == RGB(255, 0, 0);
      blue += pixel == RGB(0, 0, 255);
    }
  EXPECT_GT(red, 10);
  EXPECT_EQ(red + blue, 40 * 20);
  EXPECT_GT(canvas->TextWidth("WW"), canvas->TextWidth("W"));
}

TEST(Fonts, WindowsJapaneseFacesAndHeightsMapToTheIpaFonts) {
  TFont font;
  font.SetName(Sjis("ＭＳ ゴシック"));
  font.SetPitch(TFontPitch::fpFixed);
  font.SetHeight(-16);
  const QFont mapped = gdi::QFontOf(font);
  EXPECT_EQ(QFontInfo(mapped).family(), "IPAGothic");
  EXPECT_EQ(mapped.pixelSize(), 16);
  font.SetName(Sjis("ＭＳ Ｐゴシック"));
  EXPECT_EQ(QFontInfo(gdi::QFontOf(font)).family(), "IPAPGothic");
  // The Mincho faces are installed Mincho faces (fonts-ipafont-mincho), as on the forms.
  for (const auto& [face, family] : {std::pair{"ＭＳ 明朝", "IPAMincho"},
                                     {"ＭＳ Ｐ明朝", "IPAPMincho"},
                                     {"MS Mincho", "IPAMincho"},
                                     {"MS UI Gothic", "IPAPGothic"}}) {
    font.SetName(Sjis(face));
    EXPECT_EQ(QFontInfo(gdi::QFontOf(font)).family(), family) << face;
    EXPECT_EQ(FontFamilyFor(Sjis(face)), family) << face;
  }

  font.SetHeight(20);  // a cell height
  const QFont cell = gdi::QFontOf(font);
  EXPECT_NEAR(QFontMetrics(cell).height(), 20, 1);
  EXPECT_LT(cell.pixelSize(), 20);
}

TEST(Fonts, OnChangeFiresForRealChangesOnly) {
  TFont font, other;
  int changes = 0;
  font.SetOnChange([&](TObject* Sender) {
    EXPECT_EQ(Sender, &font);
    ++changes;
  });
  font.SetHeight(font.Height());
  font.SetColor(clBlack);
  EXPECT_EQ(changes, 0);
  font.SetSize(12);
  EXPECT_EQ(font.Height(), -16);
  EXPECT_EQ(font.Size(), 12);
  EXPECT_EQ(changes, 1);
  other.SetHeight(-30);
  other.SetColor(clRed);
  other.SetBold(true);
  font.Assign(other);
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(font.Height(), -30);
  EXPECT_TRUE(font.Bold());
  font.Assign(other);
  EXPECT_EQ(changes, 2);
}

TEST(Bitmaps, TheBitmapOwnsItsHandleUntilItReleasesIt) {
  const int objects = graphics_testing::LiveObjects();
  {
    TBitmap bitmap;
    int changes = 0;
    bitmap.SetOnChange([&](TObject*) { ++changes; });
    HBITMAP first = Grey8(2, 2), second = Grey8(3, 3);
    bitmap.SetHandle(first);
    bitmap.SetHandle(first);
    EXPECT_EQ(changes, 1);
    bitmap.SetHandle(second);  // the first is destroyed
    TBitmapFacts facts;
    EXPECT_FALSE(GetBitmapFacts(first, &facts));
    EXPECT_EQ(bitmap.Width(), 3);
    EXPECT_EQ(bitmap.ReleaseHandle(), second);
    EXPECT_TRUE(bitmap.Empty());
    EXPECT_TRUE(GetBitmapFacts(second, &facts));
    bitmap.SetHandle(second);

    LOGPALETTE description;
    description.palNumEntries = 1;
    HPALETTE palette = CreatePalette(&description);
    bitmap.SetPalette(palette);
    EXPECT_TRUE(bitmap.PaletteModified());
    EXPECT_EQ(bitmap.ReleasePalette(), palette);
    DeleteObject(palette);
    bitmap.SetModified(false);
    EXPECT_FALSE(bitmap.Modified());
    bitmap.SetModified(true);
    EXPECT_TRUE(bitmap.Modified());
  }
  EXPECT_EQ(graphics_testing::LiveObjects(), objects);
}

TEST(Bitmaps, ResizingKeepsTheOverlapAndAnEightBitTable) {
  TBitmap bitmap;
  EXPECT_EQ(bitmap.Canvas()->Handle(), nullptr);  // no image yet
  Byte* bits = nullptr;
  bitmap.SetHandle(Grey8(4, 2, &bits));
  bits[1] = 77;
  bitmap.SetWidth(6);
  TBitmapFacts facts;
  ASSERT_TRUE(GetBitmapFacts(bitmap.Handle(), &facts));
  EXPECT_EQ(facts.BitCount, 8);
  EXPECT_EQ(facts.Width, 6);
  EXPECT_EQ(facts.Bits[1], 77);
  EXPECT_EQ(bitmap.Canvas()->Pixel(1, 0), RGB(77, 77, 77));
  bitmap.SetHeight(0);
  EXPECT_TRUE(bitmap.Empty());
}

TEST(ImageControl, PaintsTheBitmapsOwnPixelsAndRepaintsOnChange) {
  TImage image(nullptr);
  image.SetBounds(0, 0, 4, 2);
  TBitmap* bitmap = image.Picture()->Bitmap();
  Byte* bits = nullptr;
  const int requests = image.RepaintRequests();
  bitmap->SetHandle(Grey8(4, 2, &bits));
  EXPECT_GT(image.RepaintRequests(), requests);
  bits[2] = 128;
  QImage shown = image.Widget()->grab().toImage();
  EXPECT_EQ(shown.pixel(2, 0), qRgb(128, 128, 128));
  EXPECT_EQ(shown.pixel(1, 0), qRgb(0, 0, 0));

  const RGBQUAD green{0, 255, 0, 0};
  SetDIBColorTable(bitmap->Canvas()->Handle(), 128, 1, &green);
  const int before = image.RepaintRequests();
  bitmap->SetModified(true);
  EXPECT_EQ(image.RepaintRequests(), before + 1);
  shown = image.Widget()->grab().toImage();
  EXPECT_EQ(shown.pixel(2, 0), qRgb(0, 255, 0));

  image.SetStretch(true);
  image.SetBounds(0, 0, 8, 4);
  shown = image.Widget()->grab().toImage();
  EXPECT_EQ(shown.pixel(5, 1), qRgb(0, 255, 0));
}

TEST(ImageControl, AParentWindowMayGoFirst) {
  EnsureGuiApplication();  // widgets need the application object
  auto window = std::make_unique<QWidget>();
  TImage image(nullptr);
  image.SetParentWidget(window.get());
  EXPECT_EQ(image.Widget()->parentWidget(), window.get());
  window.reset();
  EXPECT_EQ(image.Widget(), nullptr);
  EXPECT_EQ(image.Width(), 0);
  image.Invalidate();
}

int gAnchor = 0;  // an object of the test program, to find its module by

TEST(ModuleResources, FoundByModuleTypeAndNameInThePlatformsConvention) {
  EXPECT_EQ(ModuleOfAddress(&gAnchor), MainInstance());
  EXPECT_EQ(ModuleOfAddress(nullptr), nullptr);
  EXPECT_NE(ModuleOfAddress(reinterpret_cast<const void*>(&GetDesktopWindow)), MainInstance());

  static const Byte first[] = {1, 2, 3}, second[] = {4};
  TResourceData found;
  {
    TResourceRegistration named(&gAnchor, RT_RCDATA, "Sample", first, sizeof first);
    ASSERT_TRUE(FindResourceData(MainInstance(), RT_RCDATA, "sAMPLE", &found));
    EXPECT_EQ(found.Data, first);
    EXPECT_EQ(found.Size, 3u);
    EXPECT_FALSE(FindResourceData(MainInstance(), RT_BITMAP, "Sample", &found));
    EXPECT_FALSE(FindResourceData(MainInstance(), "10", "Sample", &found));  // "10" is a name
    EXPECT_TRUE(FindResourceData(MainInstance(), "#10", "Sample", &found));
  }
  EXPECT_FALSE(FindResourceData(MainInstance(), RT_RCDATA, "Sample", &found));

  RegisterResource(MainInstance(), RT_RCDATA, MAKEINTRESOURCE(300), first, sizeof first);
  RegisterResource(MainInstance(), RT_RCDATA, "#300", second, sizeof second);  // the same id
  ASSERT_TRUE(FindResourceData(MainInstance(), RT_RCDATA, MAKEINTRESOURCE(300), &found));
  EXPECT_EQ(found.Data, second);
  UnregisterResource(MainInstance(), RT_RCDATA, MAKEINTRESOURCE(300));
  EXPECT_FALSE(FindResourceData(MainInstance(), RT_RCDATA, "#300", &found));
  EXPECT_FALSE(FindResourceData(MainInstance(), RT_RCDATA, MAKEINTRESOURCE(0), &found));
  EXPECT_FALSE(FindResourceData(MainInstance(), RT_RCDATA, "#70000", &found));
  EXPECT_TRUE(IS_INTRESOURCE(MAKEINTRESOURCE(65535)));
  EXPECT_FALSE(IS_INTRESOURCE("#1"));
}

TEST(ModuleResources, ResourcesCompiledIntoTheProgramAreFound) {
  TResourceData note;
  ASSERT_TRUE(FindResourceData(MainInstance(), RT_RCDATA, MAKEINTRESOURCE(42), &note));
  EXPECT_EQ(std::string(reinterpret_cast<const char*>(note.Data), note.Size), "embedded bytes\n");
  // A bitmap is kept without its 14-byte file header, as the platform keeps bitmap resources.
  TResourceData tiny;
  ASSERT_TRUE(FindResourceData(MainInstance(), RT_BITMAP, "tiny", &tiny));
  ASSERT_EQ(tiny.Size, 40u + 8u + 8u);
  EXPECT_EQ(tiny.Data[0], 40);
  EXPECT_EQ(tiny.Data[40 + 4], 255);  // the second colour-table entry
}

}  // namespace
}  // namespace ovelta
