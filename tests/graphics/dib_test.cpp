// The TOvDib surface: storage and stride, the default palette, resizing that keeps the picture, the
// palette operations, linking to bitmaps and image controls, modification tracking and its nesting,
// contexts and block copies, loading images and palettes, and removal of the linked image.
#include <gtest/gtest.h>

#include <algorithm>
#include <array>
#include <cstring>
#include <limits>
#include <memory>
#include <vector>

#include "bmp_builder.h"
#include "graphics/Ovdib.h"
#include "pack/Ovpack.h"
#include "platform/core/Heap.h"
#include "support/TempDir.h"
#include "platform/core/HeapTesting_p.h"
#include "platform/gdi/GdiTesting_p.h"

namespace ovelta {
namespace {

using test::BuildAct;
using test::Bytes;
using test::TempDir;

bool SameColour(const RGBQUAD& A, const PALETTEENTRY& B) {
  return A.rgbRed == B.peRed && A.rgbGreen == B.peGreen && A.rgbBlue == B.peBlue &&
         A.rgbReserved == 0;
}

// Counts the notifications of a bitmap and of a surface.
struct Counters {
  int BitmapChanges = 0;
  int SurfaceChanges = 0;
  void Watch(TBitmap& Bitmap, TOvDib& Dib) {
    Bitmap.SetOnChange([this](TObject*) { ++BitmapChanges; });
    Dib.SetOnChange([this, &Dib](TObject* Sender) {
      EXPECT_EQ(Sender, &Dib);
      ++SurfaceChanges;
    });
  }
};

TEST(OvDibStorage, DefaultSurfaceAndRowStrides) {
  TOvDib dib(nullptr);
  EXPECT_EQ(dib.Width(), 640);
  EXPECT_EQ(dib.Height(), 480);
  EXPECT_EQ(dib.Stride(), 640);
  EXPECT_EQ(dib.Method(), Ov_SET);
  EXPECT_FALSE(dib.Reverse());
  EXPECT_EQ(dib.Image(), nullptr);
  ASSERT_NE(dib.ImagePtr(), nullptr);

  for (int width : {29, 30, 31, 32, 1}) {
    TOvDib narrow(nullptr, width, 3);
    EXPECT_EQ(narrow.Stride(), (width + 3) / 4 * 4) << width;
  }
}

TEST(OvDibStorage, ClsClearsEveryByteOfEveryRowWhateverTheMethod) {
  TOvDib dib(nullptr, 30, 4);
  std::memset(dib.ImagePtr(), 0xAB, 32 * 4);
  dib.SetMethod(Ov_OR);
  dib.Cls();
  const Byte* bits = dib.ImagePtr();
  EXPECT_TRUE(std::all_of(bits, bits + 32 * 4, [](Byte b) { return b == 0; }));
}

TEST(OvDibStorage, DefaultPaletteHasTheSystemColoursAtBothEnds) {
  TOvDib dib(nullptr, 8, 8);
  RGBQUAD table[256];
  ASSERT_EQ(dib.AskPal2(table), table);
  const PALETTEENTRY* system = SystemColours();
  for (int i = 0; i < 256; ++i) {
    const PALETTEENTRY& expected = i < 10 ? system[i] : i >= 246 ? system[i - 236] : system[0];
    EXPECT_TRUE(SameColour(table[i], expected)) << i;
  }
  RGBQUAD five;
  dib.AskPal1(5, &five);
  EXPECT_TRUE(SameColour(five, system[5]));
  EXPECT_TRUE(SameColour(table[255], PALETTEENTRY{255, 255, 255, 0}));
}

TEST(OvDibStorage, ResizingKeepsTheTopLeftPictureAndThePalette) {
  TOvDib dib(nullptr);
  for (int y = 0; y < 480; ++y)
    for (int x = 0; x < 640; ++x) dib.ImagePtr()[y * 640 + x] = static_cast<Byte>(x * 7 + y);
  const RGBQUAD marker{1, 2, 3, 0};
  dib.SetPal1(77, &marker);

  dib.SetWidth(100);
  ASSERT_EQ(dib.Width(), 100);
  EXPECT_EQ(dib.Stride(), 100);
  EXPECT_EQ(dib.ImagePtr()[5 * 100 + 99], static_cast<Byte>(99 * 7 + 5));
  RGBQUAD kept;
  dib.AskPal1(77, &kept);
  EXPECT_EQ(kept.rgbBlue, 1);
  EXPECT_EQ(kept.rgbRed, 3);

  dib.SetWidth(800);
  EXPECT_EQ(dib.ImagePtr()[479 * 800 + 99], static_cast<Byte>(99 * 7 + 479));
  EXPECT_EQ(dib.ImagePtr()[479 * 800 + 100], 0);  // new columns are 0
  dib.SetHeight(2);
  EXPECT_EQ(dib.Height(), 2);
  EXPECT_EQ(dib.ImagePtr()[800 + 50], static_cast<Byte>(50 * 7 + 1));
}

TEST(OvDibStorage, WithoutStorageEverythingIsRefusedUntilASizeIsSet) {
  TOvDib dib(nullptr, 0, 10);  // no section can be made
  EXPECT_EQ(dib.ImagePtr(), nullptr);
  RGBQUAD colour{9, 9, 9, 9};
  dib.SetPal1(1, &colour);
  EXPECT_EQ(dib.AskPal1(1, &colour), &colour);
  EXPECT_EQ(colour.rgbRed, 9);
  dib.Cls();
  EXPECT_EQ(dib.GetBmpDC(), nullptr);
  EXPECT_FALSE(dib.PutBitBlt(0, 0, nullptr, 0, 0, 1, 1));
  EXPECT_FALSE(dib.GetBitBlt(nullptr, 0, 0, 0, 0, 1, 1));
  dib.ResizeDib(5, 5);  // without storage nothing changes
  EXPECT_EQ(dib.Width(), 0);

  dib.SetWidth(6);
  ASSERT_NE(dib.ImagePtr(), nullptr);
  EXPECT_EQ(dib.Width(), 6);
  EXPECT_EQ(dib.Stride(), 8);
  dib.EndDib();
  EXPECT_EQ(dib.ImagePtr(), nullptr);
  dib.SetHeight(3);
  EXPECT_NE(dib.ImagePtr(), nullptr);
}

TEST(OvDibStorage, ASizeThatCannotBeMadeKeepsThePicture) {
  TOvDib dib(nullptr, 4, 4);
  dib.ImagePtr()[5] = 42;
  dib.SetWidth(0);
  dib.SetHeight(-3);
  dib.SetWidth(1 << 20);
  EXPECT_EQ(dib.Width(), 4);
  EXPECT_EQ(dib.Height(), 4);
  ASSERT_NE(dib.ImagePtr(), nullptr);
  EXPECT_EQ(dib.ImagePtr()[5], 42);
}

TEST(OvDibStorage, SectionsPalettesAndContextsAreAllGivenBack) {
  const int objects = graphics_testing::LiveObjects();
  const int contexts = graphics_testing::LiveContexts();
  {
    TOvDib dib(nullptr, 10, 10);
    TBitmap bitmap;
    dib.StartBitmap(&bitmap);
    dib.GetBmpDC();
    dib.SetWidth(20);
    RGBQUAD colour{};
    dib.SetPal1(3, &colour);
    dib.EndBitmap();
  }
  { TOvDib failed(nullptr, -1, 5); }
  EXPECT_EQ(graphics_testing::LiveObjects(), objects);
  EXPECT_EQ(graphics_testing::LiveContexts(), contexts);
}

TEST(OvDibPalette, BothFormsWriteAndReadTheColourTable) {
  TOvDib dib(nullptr, 4, 4);
  const TOvRGB orange(255, 128, 0);
  dib.SetPal1(20, &orange);
  TOvRGB back;
  EXPECT_EQ(dib.AskPal1(20, &back), &back);
  EXPECT_EQ(back, orange);
  RGBQUAD quad;
  dib.AskPal1(20, &quad);
  EXPECT_EQ(quad.rgbRed, 255);
  EXPECT_EQ(quad.rgbGreen, 128);
  EXPECT_EQ(quad.rgbBlue, 0);

  TOvRGB ramp[256];
  for (int i = 0; i < 256; ++i)
    ramp[i] = TOvRGB(static_cast<Byte>(i), 0, static_cast<Byte>(255 - i));
  dib.SetPal2(ramp);
  TOvRGB read[256];
  dib.AskPal2(read);
  EXPECT_TRUE(std::equal(ramp, ramp + 256, read));

  // Indices outside the table are ignored.
  dib.SetPal1(256, &orange);
  dib.SetPal1(-1, &orange);
  TOvRGB untouched(1, 2, 3);
  dib.AskPal1(300, &untouched);
  EXPECT_EQ(untouched, TOvRGB(1, 2, 3));

  dib.InitPal();
  RGBQUAD table[256];
  dib.AskPal2(table);
  EXPECT_TRUE(SameColour(table[9], SystemColours()[9]));
  EXPECT_TRUE(SameColour(table[100], SystemColours()[0]));
}

TEST(OvDibLinks, ALinkedBitmapSharesThePixelsAndItsCanvasDrawsIntoThem) {
  TOvDib dib(nullptr, 16, 8);
  TBitmap bitmap;
  dib.StartBitmap(&bitmap);
  TBitmapFacts facts;
  ASSERT_TRUE(GetBitmapFacts(bitmap.Handle(), &facts));
  EXPECT_EQ(facts.Bits, dib.ImagePtr());
  EXPECT_EQ(bitmap.Width(), 16);

  // White is entry 255 of the default palette: the canvas finds that index.
  bitmap.Canvas()->Brush()->SetColor(clWhite);
  bitmap.Canvas()->FillRect(TRect(2, 1, 5, 3));
  EXPECT_EQ(dib.ImagePtr()[1 * 16 + 2], 255);
  EXPECT_EQ(dib.ImagePtr()[2 * 16 + 4], 255);
  EXPECT_EQ(dib.ImagePtr()[3 * 16 + 4], 0);

  // Resizing hands the bitmap the new section.
  dib.SetWidth(20);
  ASSERT_TRUE(GetBitmapFacts(bitmap.Handle(), &facts));
  EXPECT_EQ(facts.Bits, dib.ImagePtr());
  EXPECT_EQ(facts.Width, 20);

  dib.EndBitmap();
  EXPECT_TRUE(bitmap.Empty());
  EXPECT_NE(dib.ImagePtr(), nullptr);
}

TEST(OvDibLinks, SetBitmapLinksOutsideDesignModeOnly) {
  TOvDib dib(nullptr, 4, 4);
  TBitmap bitmap, other;
  dib.SetBitmap(nullptr);
  dib.SetBitmap(&bitmap);
  EXPECT_FALSE(bitmap.Empty());
  dib.SetBitmap(&other);  // the first bitmap is let go
  EXPECT_TRUE(bitmap.Empty());
  EXPECT_FALSE(other.Empty());
  dib.EndBitmap();

  TOvDib designed(nullptr, 4, 4);
  designed.SetDesigning(true);
  designed.SetBitmap(&bitmap);
  EXPECT_TRUE(bitmap.Empty());
}

TEST(OvDibModified, DrawingWithoutALinkedBitmapTellsNoOne) {
  TOvDib dib(nullptr, 4, 4);
  int changes = 0;
  dib.SetOnChange([&](TObject*) { ++changes; });
  dib.Cls();
  dib.SetModified(0, 0, 1, 1);
  dib.SetModified();
  EXPECT_EQ(changes, 0);
  dib.Change();
  EXPECT_EQ(changes, 1);
}

TEST(OvDibModified, EveryModificationMarksTheBitmapAndFiresOnChange) {
  TBitmap bitmap;  // outlives the surface that links it
  TOvDib dib(nullptr, 4, 4);
  dib.StartBitmap(&bitmap);
  Counters counted;
  counted.Watch(bitmap, dib);
  bitmap.SetModified(false);
  dib.Cls();
  EXPECT_TRUE(bitmap.Modified());
  dib.SetModified(3, 3, 0, 0);
  EXPECT_EQ(counted.BitmapChanges, 2);
  EXPECT_EQ(counted.SurfaceChanges, 2);
}

TEST(OvDibModified, ModifiedOffAndOnNest) {
  TBitmap bitmap;  // outlives the surface that links it
  TOvDib dib(nullptr, 4, 4);
  dib.StartBitmap(&bitmap);
  Counters counted;
  counted.Watch(bitmap, dib);

  dib.ModifiedOff();
  dib.ModifiedOff();
  dib.Cls();
  dib.Cls();
  dib.ModifiedOn();
  EXPECT_EQ(counted.BitmapChanges, 0);   // one ModifiedOff still open
  EXPECT_EQ(counted.SurfaceChanges, 2);  // OnChange is not held back
  dib.ModifiedOn();
  EXPECT_EQ(counted.BitmapChanges, 1);  // the outermost ModifiedOn tells the bitmap once

  dib.ModifiedOn();  // without a ModifiedOff: nothing
  EXPECT_EQ(counted.BitmapChanges, 1);
  dib.Cls();
  EXPECT_EQ(counted.BitmapChanges, 2);

  // A switch turned off directly is turned on by one ModifiedOn.
  dib.ChgModifiedSw(false);
  dib.Cls();
  EXPECT_EQ(counted.BitmapChanges, 2);
  dib.ModifiedOn();
  EXPECT_EQ(counted.BitmapChanges, 3);
  // Switching on with nothing pending tells nothing.
  dib.ModifiedOff();
  dib.ModifiedOn();
  EXPECT_EQ(counted.BitmapChanges, 3);
}

TEST(OvDibModified, APaletteChangeIsPassedOnOnceWithoutTheBitmapKeepingThePalette) {
  TBitmap bitmap;  // outlives the surface that links it
  TOvDib dib(nullptr, 4, 4);
  dib.StartBitmap(&bitmap);
  const HBITMAP section = bitmap.Handle();
  dib.ModifiedOff();
  const RGBQUAD red{0, 0, 255, 0};
  dib.SetPal1(1, &red);
  dib.SetPal1(2, &red);
  EXPECT_FALSE(bitmap.PaletteModified());
  dib.ModifiedOn();
  EXPECT_TRUE(bitmap.PaletteModified());
  EXPECT_EQ(bitmap.Palette(), nullptr);  // released again: the surface keeps owning it
  EXPECT_EQ(bitmap.Handle(), section);
  bitmap.SetPaletteModified(false);
  dib.Cls();
  EXPECT_FALSE(bitmap.PaletteModified());
}

TEST(OvDibImage, TheImageShowsTheSurfaceAndRepaintsWhenDrawnOn) {
  TOvDib dib(nullptr, 8, 6);
  auto image = std::make_unique<TImage>(nullptr);
  dib.SetImage(image.get());
  EXPECT_EQ(dib.Image(), image.get());
  TBitmapFacts facts;
  ASSERT_TRUE(GetBitmapFacts(image->Picture()->Bitmap()->Handle(), &facts));
  EXPECT_EQ(facts.Bits, dib.ImagePtr());

  const int before = image->RepaintRequests();
  dib.Cls();
  EXPECT_GT(image->RepaintRequests(), before);
  const int afterCls = image->RepaintRequests();
  const RGBQUAD colour{10, 20, 30, 0};
  dib.SetPal1(4, &colour);
  EXPECT_GT(image->RepaintRequests(), afterCls);

  dib.SetImage(nullptr);
  EXPECT_EQ(dib.Image(), nullptr);
  EXPECT_TRUE(image->Picture()->Bitmap()->Empty());
  EXPECT_NE(dib.ImagePtr(), nullptr);
}

TEST(OvDibImage, RemovingTheImageGivesFreshStorageWithTheDefaultPalette) {
  const int objects = graphics_testing::LiveObjects();
  {
    TOvDib dib(nullptr, 12, 5);
    auto image = std::make_unique<TImage>(nullptr);
    dib.SetImage(image.get());
    dib.GetBmpDC();
    std::memset(dib.ImagePtr(), 7, 12 * 5);
    const RGBQUAD green{0, 255, 0, 0};
    dib.SetPal1(50, &green);

    image.reset();
    EXPECT_EQ(dib.Image(), nullptr);
    ASSERT_NE(dib.ImagePtr(), nullptr);
    EXPECT_EQ(dib.Width(), 12);
    EXPECT_EQ(dib.Height(), 5);
    EXPECT_TRUE(
        std::all_of(dib.ImagePtr(), dib.ImagePtr() + 12 * 5, [](Byte b) { return b == 0; }));
    RGBQUAD entry;
    dib.AskPal1(50, &entry);
    EXPECT_TRUE(SameColour(entry, SystemColours()[0]));
    dib.Cls();  // and drawing goes on without a link
  }
  EXPECT_EQ(graphics_testing::LiveObjects(), objects);
}

TEST(OvDibImage, InDesignModeTheImageLendsItsSizeAndNoStorageIsMade) {
  TOvDib dib(nullptr, 4, 4);
  dib.EndDib();
  dib.SetDesigning(true);
  TImage image(nullptr);
  image.SetBounds(0, 0, 33, 22);
  dib.SetImage(&image);
  EXPECT_EQ(dib.Width(), 33);
  EXPECT_EQ(dib.Height(), 22);
  EXPECT_EQ(dib.ImagePtr(), nullptr);
  dib.Notification(&image, TOperation::opRemove);
  EXPECT_EQ(dib.Image(), nullptr);
  EXPECT_EQ(dib.ImagePtr(), nullptr);
}

TEST(OvDibContexts, TheHeldContextReachesTheSurfaceUntilReleased) {
  const int contexts = graphics_testing::LiveContexts();
  TOvDib dib(nullptr, 8, 8);
  HDC context = dib.GetBmpDC();
  ASSERT_NE(context, nullptr);
  EXPECT_EQ(dib.GetBmpDC(), context);
  dib.ImagePtr()[3 * 8 + 2] = 255;  // white
  EXPECT_EQ(GetPixel(context, 2, 3), RGB(255, 255, 255));
  dib.SetWidth(12);  // the context follows the new section
  EXPECT_EQ(GetPixel(context, 2, 3), RGB(255, 255, 255));
  EXPECT_EQ(GetPixel(context, 11, 0), RGB(0, 0, 0));
  dib.ReleaseBmpDC();
  dib.ReleaseBmpDC();
  EXPECT_EQ(graphics_testing::LiveContexts(), contexts);
}

TEST(OvDibContexts, BlockCopiesBetweenSurfacesAndBitmaps) {
  TOvDib from(nullptr, 8, 8), to(nullptr, 8, 8);
  for (int i = 0; i < 64; ++i) from.ImagePtr()[i] = static_cast<Byte>(i);
  HDC source = from.GetBmpDC();
  // Same palettes: the indices themselves are copied, clipped to both surfaces.
  EXPECT_TRUE(to.PutBitBlt(-1, 6, source, 0, 0, 4, 4));
  EXPECT_EQ(to.ImagePtr()[6 * 8 + 0], 1);
  EXPECT_EQ(to.ImagePtr()[7 * 8 + 2], 11);
  EXPECT_EQ(to.ImagePtr()[5 * 8 + 0], 0);

  // Out to a 32-bit bitmap and back through colours.
  TBitmap rgb;
  rgb.SetWidth(4);
  rgb.SetHeight(4);
  from.ImagePtr()[0] = 249;  // the default palette's red
  EXPECT_TRUE(from.GetBitBlt(rgb.Canvas()->Handle(), 0, 0, 0, 0, 2, 2));
  EXPECT_EQ(rgb.Canvas()->Pixel(0, 0), RGB(255, 0, 0));
  to.Cls();
  EXPECT_TRUE(to.PutBitBlt(1, 1, rgb.Canvas()->Handle(), 0, 0, 1, 1));
  EXPECT_EQ(to.ImagePtr()[1 * 8 + 1], 249);

  // A copy from a context without pixels fails, and still counts as a modification.
  TBitmap bitmap;
  to.StartBitmap(&bitmap);
  int changes = 0;
  to.SetOnChange([&](TObject*) { ++changes; });
  HDC screen = GetDC(GetDesktopWindow());
  EXPECT_FALSE(to.PutBitBlt(0, 0, screen, 0, 0, 2, 2));
  ReleaseDC(GetDesktopWindow(), screen);
  EXPECT_EQ(changes, 1);
  to.EndBitmap();
  from.ReleaseBmpDC();
}

// Corners and sizes at the ends of the int range clip like any others: nothing outside either
// surface is touched, and the part that does overlap is copied.
TEST(OvDibContexts, BlockCopiesClipNearTheEndsOfTheIntRange) {
  constexpr int kMax = std::numeric_limits<int>::max();
  constexpr int kMin = std::numeric_limits<int>::min();
  TOvDib from(nullptr, 8, 8), to(nullptr, 8, 8);
  for (int i = 0; i < 64; ++i) from.ImagePtr()[i] = static_cast<Byte>(i + 1);
  HDC source = from.GetBmpDC();
  const std::vector<Byte> blank(to.ImagePtr(), to.ImagePtr() + 64);
  for (const auto& [x, y, sx, sy, w, h] : {std::array<int, 6>{kMax - 1, 0, 0, 0, 4, 4},
                                           {0, kMax - 2, 0, 0, 4, 4},
                                           {kMin, 0, 0, 0, 4, 4},
                                           {0, kMin + 1, 0, 0, kMax, kMax},
                                           {0, 0, kMax - 1, 0, 4, 4},
                                           {0, 0, kMin, kMin, kMax, kMax},
                                           {kMax, kMax, kMax, kMax, kMax, kMax}}) {
    SCOPED_TRACE(::testing::Message()
                 << x << ", " << y << " from " << sx << ", " << sy << " size " << w << " x " << h);
    EXPECT_TRUE(to.PutBitBlt(x, y, source, sx, sy, w, h));
    EXPECT_TRUE(std::equal(blank.begin(), blank.end(), to.ImagePtr()));
    EXPECT_TRUE(from.GetBitBlt(to.GetBmpDC(), x, y, sx, sy, w, h));
    to.ReleaseBmpDC();
    EXPECT_TRUE(std::equal(blank.begin(), blank.end(), to.ImagePtr()));
  }
  // Sizes up to INT_MAX from inside both surfaces: the overlap, a 2 x 2 corner, is copied.
  EXPECT_TRUE(to.PutBitBlt(6, 6, source, 3, 3, kMax, kMax));
  EXPECT_EQ(to.ImagePtr()[6 * 8 + 6], from.ImagePtr()[3 * 8 + 3]);
  EXPECT_EQ(to.ImagePtr()[7 * 8 + 7], from.ImagePtr()[4 * 8 + 4]);
  EXPECT_EQ(to.ImagePtr()[5 * 8 + 5], 0);
  EXPECT_EQ(to.ImagePtr()[6 * 8 + 5], 0);
  from.ReleaseBmpDC();
}

TEST(OvDibFiles, SetActFileReplacesThePalette) {
  TempDir dir;
  const std::string act = dir.Write("p.act", BuildAct());
  TOvDib dib(nullptr, 4, 4);
  const std::int64_t blocks = heap_testing::LiveBlocks();
  ASSERT_TRUE(dib.SetActFile(act));
  TOvRGB entry;
  dib.AskPal1(10, &entry);
  EXPECT_EQ(entry, TOvRGB(10, 245, 10 ^ 0x55));
  EXPECT_FALSE(dib.SetActFile(dir.Path() + "/none.act"));
  EXPECT_FALSE(dib.SetActFile(dir.Write("short.act", Bytes(700, 1))));
  dib.EndDib();
  EXPECT_TRUE(dib.SetActFile(act));  // loaded, with nowhere to put it
  EXPECT_EQ(heap_testing::LiveBlocks(), blocks);
}

// A 32 x 16 image of 16 colours whose pixel (x, y) is (x + y) mod 16, in its file form.
Bytes Picture32x16(bool FileHeader = true) {
  test::BmpLayout layout;
  layout.Width = 32;
  layout.Height = 16;
  layout.ColoursUsed = 16;
  layout.Table = test::RampTable(16);
  layout.FileHeader = FileHeader;
  for (int y = 0; y < 16; ++y)
    for (int x = 0; x < 32; ++x) layout.Pixels.push_back(static_cast<Byte>((x + y) % 16));
  return test::BuildBmp(layout);
}

TEST(OvDibFiles, DrawBmpFileMakesStorageOfTheImagesSizeWhenThereIsNone) {
  TempDir dir;
  const std::string path = dir.Write("p.bmp", Picture32x16());
  TOvDib dib(nullptr, 4, 4);
  dib.EndDib();
  const std::int64_t blocks = heap_testing::LiveBlocks();
  ASSERT_TRUE(dib.DrawBmpFile(path, 10, 5));
  EXPECT_EQ(heap_testing::LiveBlocks(), blocks);
  ASSERT_NE(dib.ImagePtr(), nullptr);
  EXPECT_EQ(dib.Width(), 42);
  EXPECT_EQ(dib.Height(), 21);
  const int stride = dib.Stride();
  EXPECT_EQ(dib.ImagePtr()[5 * stride + 10], 0);
  EXPECT_EQ(dib.ImagePtr()[(5 + 3) * stride + 10 + 7], 10);
  EXPECT_EQ(dib.ImagePtr()[20 * stride + 41], (31 + 15) % 16);
  // The whole palette is replaced: the image's 16 colours, then zeros.
  RGBQUAD table[256];
  dib.AskPal2(table);
  EXPECT_EQ(table[15].rgbRed, 15);
  EXPECT_EQ(table[15].rgbGreen, 240);
  EXPECT_TRUE(SameColour(table[255], PALETTEENTRY{0, 0, 0, 0}));
}

TEST(OvDibFiles, DrawBmpGoesThroughPutPatWithClippingAndReverse) {
  TempDir dir;
  const std::string path = dir.Write("p.bmp", Picture32x16());
  TOvDib dib(nullptr, 8, 4);
  TBitmap bitmap;
  dib.StartBitmap(&bitmap);
  int changes = 0;
  dib.SetOnChange([&](TObject*) { ++changes; });
  ASSERT_TRUE(dib.DrawBmpFile(path, -2, -1));  // clipped to the 8 x 4 surface
  EXPECT_GE(changes, 1);
  EXPECT_EQ(dib.Width(), 8);
  EXPECT_EQ(dib.ImagePtr()[0], (2 + 1) % 16);
  EXPECT_EQ(dib.ImagePtr()[3 * 8 + 7], (9 + 4) % 16);

  dib.SetReverse(true);  // mirrored inside the same rectangle: column 0 shows pattern column 9
  ASSERT_TRUE(dib.DrawBmpFile(path, -22, 0));
  EXPECT_EQ(dib.ImagePtr()[0], 9 % 16);
  EXPECT_EQ(dib.ImagePtr()[7], 2 % 16);
  dib.EndBitmap();
}

TEST(OvDibFiles, AFailedLoadLeavesTheSurfaceAlone) {
  TempDir dir;
  Bytes damaged = Picture32x16();
  damaged.pop_back();
  TOvDib dib(nullptr, 4, 4);
  std::memset(dib.ImagePtr(), 3, 16);
  const std::int64_t blocks = heap_testing::LiveBlocks();
  EXPECT_FALSE(dib.DrawBmpFile(dir.Write("d.bmp", damaged), 0, 0));
  EXPECT_FALSE(dib.DrawBmpFile(dir.Path() + "/none.bmp", 0, 0));
  EXPECT_FALSE(dib.DrawBmpResource(MainInstance(), "NOSUCHBITMAP", 0, 0));
  EXPECT_EQ(heap_testing::LiveBlocks(), blocks);
  EXPECT_EQ(dib.ImagePtr()[15], 3);
  RGBQUAD entry;
  dib.AskPal1(255, &entry);
  EXPECT_TRUE(SameColour(entry, PALETTEENTRY{255, 255, 255, 0}));
}

TEST(OvDibFiles, DrawBmpResourceDrawsAModulesBitmap) {
  static const Bytes resource = Picture32x16(false);
  TResourceRegistration registration(&resource, RT_BITMAP, MAKEINTRESOURCE(7), resource.data(),
                                     resource.size());
  TOvDib dib(nullptr, 40, 20);
  ASSERT_TRUE(dib.DrawBmpResource(MainInstance(), "#7", 1, 1));
  EXPECT_EQ(dib.ImagePtr()[1 * 40 + 1], 0);
  EXPECT_EQ(dib.ImagePtr()[2 * 40 + 3], 3);
}

TEST(OvDibFiles, DrawBmpPackAndSetActPackReadPackMembers) {
  TempDir dir;
  const std::string path = dir.Path() + "/art.pak";
  TOvPack pack;
  pack.SetReadOnly(false);
  ASSERT_TRUE(pack.NewPack(path));
  ASSERT_TRUE(pack.AddFile("tiles.bmp", dir.Write("tiles.bmp", Picture32x16()), true));
  ASSERT_TRUE(pack.AddFile("night.act", dir.Write("night.act", BuildAct(4)), false));
  ASSERT_TRUE(pack.EndPack());
  pack.SetReadOnly(true);
  ASSERT_TRUE(pack.LoadPack(path));

  TOvDib dib(nullptr, 4, 4);
  dib.EndDib();
  const std::int64_t blocks = heap_testing::LiveBlocks();
  ASSERT_TRUE(dib.DrawBmpPack(&pack, "TILES.BMP", 0, 0));
  EXPECT_EQ(dib.Width(), 32);
  EXPECT_EQ(dib.ImagePtr()[15 * 32 + 31], (31 + 15) % 16);
  ASSERT_TRUE(dib.SetActPack(&pack, "night.act"));
  TOvRGB entry;
  dib.AskPal1(200, &entry);
  EXPECT_EQ(entry, TOvRGB(200, 55, 200 ^ 0x55));
  EXPECT_FALSE(dib.DrawBmpPack(&pack, "night.act", 0, 0));  // not an image
  EXPECT_FALSE(dib.SetActPack(&pack, "missing.act"));
  EXPECT_FALSE(dib.DrawBmpPack(nullptr, "tiles.bmp", 0, 0));
  EXPECT_EQ(heap_testing::LiveBlocks(), blocks);
}

TEST(OvDibRegister, PutsTheSurfaceOnTheOveltaPage) {
  Ovdib::Register();
  const auto classes = RegisteredComponents(kOveltaPage);
  EXPECT_NE(std::find(classes.begin(), classes.end(), "TOvDib"), classes.end());
}

}  // namespace
}  // namespace ovelta
