// Drawing primitives on the plain surface view: the operators at their limits and over every pair
// of indices, the line walk's known answers, boxes, plain and masked fills, clamping, and a
// randomised comparison of every primitive with the per-pixel model.
#include <gtest/gtest.h>

#include <random>
#include <set>
#include <utility>
#include <vector>

#include "graphics/Ovdib.h"
#include "graphics/Raster_p.h"
#include "platform/gdi/Graphics.h"
#include "raster_reference.h"

namespace ovelta {
namespace {

using reference::Canvas;
using Pixels = std::set<std::pair<int, int>>;

// The pixels that differ from index 0.
Pixels Drawn(const Canvas& C) {
  Pixels out;
  for (int y = 0; y < C.Height; ++y)
    for (int x = 0; x < C.Width; ++x)
      if (C.At(x, y)) out.emplace(x, y);
  return out;
}

TEST(DrawOperators, LimitsOfEachOperator) {
  struct Case {
    int method;
    Byte d, s, expected;
  } cases[] = {
      {raster::kOpSet, 9, 200, 200},
      {raster::kOpNot, 9, 200, 200},
      {raster::kOpAnd, 0xF0, 0x3C, 0x30},
      {raster::kOpOr, 0xF0, 0x0F, 0xFF},
      {raster::kOpXor, 0xFF, 0x0F, 0xF0},
      {raster::kOpAdd, 200, 100, 255},
      {raster::kOpAdd, 200, 55, 255},
      {raster::kOpAdd, 200, 54, 254},
      {raster::kOpSub, 50, 60, 0},
      {raster::kOpSub, 60, 60, 0},
      {raster::kOpSub, 61, 60, 1},
      {raster::kOpMed, 3, 4, 3},
      {raster::kOpMed, 255, 255, 255},
      {raster::kOpMed, 255, 0, 127},
      {8, 9, 7, 7},
      {255, 9, 7, 7},
      {-1, 9, 7, 7},
  };
  for (const Case& c : cases) {
    Canvas canvas(1, 1);
    canvas.At(0, 0) = c.d;
    EXPECT_TRUE(raster::PSet(canvas.View(), 0, 0, c.s, c.method));
    EXPECT_EQ(canvas.At(0, 0), c.expected)
        << "method " << c.method << " d " << int(c.d) << " s " << int(c.s);
    EXPECT_EQ(raster::OperatorOf(c.method)(c.d, c.s), c.expected);
  }
}

// Every (d, s) pair through the 16-byte row kernel of the fill: a 256-wide row holds every d, and
// each row of the box is filled with one s.
TEST(DrawOperators, RowKernelsAgreeWithTheOperatorOnEveryPair) {
  for (int method = 0; method <= 8; ++method) {
    Canvas canvas(256, 256);
    for (int y = 0; y < 256; ++y)
      for (int x = 0; x < 256; ++x) canvas.At(x, y) = static_cast<Byte>(x);
    for (int s = 0; s < 256; ++s)
      ASSERT_TRUE(raster::OvBoxFill(canvas.View(), 0, s, 255, s, static_cast<Byte>(s), nullptr, 0,
                                    0, method));
    for (int s = 0; s < 256; ++s)
      for (int d = 0; d < 256; ++d)
        ASSERT_EQ(canvas.At(d, s),
                  reference::Apply(method, static_cast<Byte>(d), static_cast<Byte>(s)))
            << "method " << method << " d " << d << " s " << s;
  }
}

TEST(DrawPoints, OffSurfaceIsRefusedAndReadsZero) {
  Canvas canvas(8, 4, 12);
  canvas.At(0, 0) = 5;
  const auto before = canvas.Pixels;
  EXPECT_FALSE(raster::PSet(canvas.View(), -1, 0, 7, raster::kOpSet));
  EXPECT_FALSE(raster::PSet(canvas.View(), 8, 0, 7, raster::kOpSet));  // in the row padding
  EXPECT_FALSE(raster::PSet(canvas.View(), 0, 4, 7, raster::kOpSet));
  EXPECT_EQ(canvas.Pixels, before);
  EXPECT_EQ(raster::PGet(canvas.View(), -1, 0), 0);
  EXPECT_EQ(raster::PGet(canvas.View(), 8, 0), 0);
  EXPECT_EQ(raster::PGet(canvas.View(), 0, 0), 5);
}

TEST(DrawPoints, NoStorageRefusesEverything) {
  const raster::Surface none{nullptr, 640, 640, 480};
  const Byte mask[1] = {0x80};
  EXPECT_FALSE(raster::PSet(none, 0, 0, 1, raster::kOpSet));
  EXPECT_EQ(raster::PGet(none, 0, 0), 0);
  EXPECT_FALSE(raster::OvLine(none, 0, 0, 5, 5, 1, false, raster::kOpSet));
  EXPECT_FALSE(raster::Box(none, 0, 0, 5, 5, 1, raster::kOpSet));
  EXPECT_FALSE(raster::OvBoxFill(none, 0, 0, 5, 5, 1, nullptr, 0, 0, raster::kOpSet));
  EXPECT_FALSE(raster::OvBoxFill(none, 0, 0, 5, 5, 1, mask, 1, 1, raster::kOpXor));
}

struct LineCase {
  int x1, y1, x2, y2;
  Pixels expected;
};

TEST(DrawLine, KnownAnswersForwardAndReversed) {
  const LineCase cases[] = {
      {0, 0, 3, 1, {{0, 0}, {1, 0}, {2, 1}, {3, 1}}},
      {0, 0, 1, 3, {{0, 0}, {0, 1}, {1, 2}, {1, 3}}},
      {0, 1, 3, 0, {{3, 0}, {2, 0}, {1, 1}, {0, 1}}},
      {0, 0, 4, 0, {{0, 0}, {1, 0}, {2, 0}, {3, 0}, {4, 0}}},
      {0, 0, 3, 3, {{0, 0}, {1, 1}, {2, 2}, {3, 3}}},
      {2, 0, 2, 3, {{2, 0}, {2, 1}, {2, 2}, {2, 3}}},
  };
  for (const LineCase& c : cases) {
    for (bool reversed : {false, true}) {
      Canvas canvas(8, 8);
      if (reversed)
        raster::OvLine(canvas.View(), c.x2, c.y2, c.x1, c.y1, 1, false, raster::kOpXor);
      else
        raster::OvLine(canvas.View(), c.x1, c.y1, c.x2, c.y2, 1, false, raster::kOpXor);
      // Under XOR a pixel drawn twice would vanish: equality also proves each is drawn once.
      EXPECT_EQ(Drawn(canvas), c.expected)
          << c.x1 << "," << c.y1 << "-" << c.x2 << "," << c.y2 << (reversed ? " reversed" : "");
    }
  }
}

TEST(DrawLine, LeavingEndsOutDrawsOnlyTheInside) {
  Canvas canvas(8, 8);
  raster::OvLine(canvas.View(), 0, 0, 4, 0, 1, true, raster::kOpSet);
  EXPECT_EQ(Drawn(canvas), (Pixels{{1, 0}, {2, 0}, {3, 0}}));
  Canvas two(8, 8);
  raster::OvLine(two.View(), 0, 0, 1, 1, 1, true, raster::kOpSet);
  EXPECT_TRUE(Drawn(two).empty());
}

TEST(DrawLine, CoincidingEndsDrawThePixelOnce) {
  Canvas canvas(4, 4);
  canvas.At(2, 2) = 0x0F;
  EXPECT_TRUE(raster::OvLine(canvas.View(), 2, 2, 2, 2, 0xFF, false, raster::kOpXor));
  EXPECT_EQ(canvas.At(2, 2), 0xF0);
  EXPECT_TRUE(raster::OvLine(canvas.View(), 2, 2, 2, 2, 10, false, raster::kOpAdd));
  EXPECT_EQ(canvas.At(2, 2), 0xFA);
  EXPECT_TRUE(
      raster::OvLine(canvas.View(), 2, 2, 2, 2, 10, true, raster::kOpSet));  // ends left out
  EXPECT_EQ(canvas.At(2, 2), 0xFA);
}

TEST(DrawLine, ClippedAndClampedLines) {
  Canvas canvas(20, 10);
  raster::OvLine(canvas.View(), -10, 5, 10, 5, 1, false, raster::kOpSet);
  Pixels row5;
  for (int x = 0; x <= 10; ++x) row5.emplace(x, 5);
  EXPECT_EQ(Drawn(canvas), row5);

  // An end point beyond the limit is drawn towards the clamped point.
  Canvas far(64, 64), clamped(64, 64);
  raster::OvLine(far.View(), 0, 0, 900000, 30, 1, false, raster::kOpSet);
  raster::OvLine(clamped.View(), 0, 0, 50000, 30, 1, false, raster::kOpSet);
  EXPECT_EQ(far.Pixels, clamped.Pixels);
  raster::OvLine(far.View(), INT32_MIN, INT32_MIN, INT32_MAX, INT32_MAX, 2, false, raster::kOpSet);
  raster::OvLine(clamped.View(), -50000, -50000, 50000, 50000, 2, false, raster::kOpSet);
  EXPECT_EQ(far.Pixels, clamped.Pixels);
}

TEST(DrawBox, XorTwiceRestoresTheSurface) {
  for (auto [x1, y1, x2, y2] : {std::tuple{0, 0, 3, 2},
                                {3, 2, 0, 0},
                                {1, 1, 1, 5},
                                {1, 1, 6, 1},
                                {2, 2, 2, 2},
                                {-1, -1, 4, 3},
                                {0, 0, 1, 1}}) {
    Canvas canvas(8, 8);
    std::mt19937 rng(7);
    canvas.Randomise(rng);
    const auto before = canvas.Pixels;
    EXPECT_TRUE(raster::Box(canvas.View(), x1, y1, x2, y2, 0xA5, raster::kOpXor));
    EXPECT_NE(canvas.Pixels, before);
    raster::Box(canvas.View(), x1, y1, x2, y2, 0xA5, raster::kOpXor);
    EXPECT_EQ(canvas.Pixels, before) << x1 << "," << y1 << "-" << x2 << "," << y2;
  }
}

TEST(DrawBox, OutlineOfTheBox) {
  Canvas canvas(6, 5);
  raster::Box(canvas.View(), 0, 0, 3, 2, 1, raster::kOpXor);
  EXPECT_EQ(
      Drawn(canvas),
      (Pixels{{0, 0}, {1, 0}, {2, 0}, {3, 0}, {0, 1}, {3, 1}, {0, 2}, {1, 2}, {2, 2}, {3, 2}}));
}

TEST(DrawFill, CornersInAnyOrderAndSinglePixel) {
  Canvas a(16, 16), b(16, 16), one(4, 4);
  EXPECT_TRUE(raster::OvBoxFill(a.View(), 10, 10, 5, 5, 7, nullptr, 0, 0, raster::kOpSet));
  EXPECT_TRUE(raster::OvBoxFill(b.View(), 5, 5, 10, 10, 7, nullptr, 0, 0, raster::kOpSet));
  EXPECT_EQ(a.Pixels, b.Pixels);
  EXPECT_EQ(Drawn(a).size(), 36u);
  raster::OvBoxFill(one.View(), 0, 0, 0, 0, 7, nullptr, 0, 0, raster::kOpSet);
  EXPECT_EQ(Drawn(one), (Pixels{{0, 0}}));
}

TEST(DrawFill, WholeSurfaceAndNothingElse) {
  for (int method : {raster::kOpSet, raster::kOpOr}) {
    for (int stride : {13, 16}) {  // rows without and with padding
      Canvas canvas(13, 7, stride);
      EXPECT_TRUE(
          raster::OvBoxFill(canvas.View(), -5, -5, 13 + 5, 7 + 5, 7, nullptr, 0, 0, method));
      for (int y = 0; y < 7; ++y)
        for (int x = 0; x < stride; ++x)
          EXPECT_EQ(canvas.At(x, y), x < 13 ? 7 : 0) << x << "," << y;
    }
  }
}

TEST(DrawFill, CheckerboardMaskIsAnchoredAtTheBoxCornerAlsoOffTheSurface) {
  const Byte mask[2] = {0x80, 0x40};  // 2 x 2: set at (0,0) and (1,1)
  for (auto [x1, y1] : {std::pair{0, 0}, {-3, 0}, {0, -5}, {-7, -2}}) {
    Canvas canvas(10, 10);
    EXPECT_TRUE(raster::OvBoxFill(canvas.View(), x1, y1, 9, 9, 1, mask, 2, 2, raster::kOpSet));
    for (int y = 0; y < 10; ++y)
      for (int x = 0; x < 10; ++x)
        EXPECT_EQ(canvas.At(x, y), ((x - x1) + (y - y1)) % 2 == 0 ? 1 : 0) << x1 << "," << y1;
  }
}

TEST(DrawFill, MaskSizeBelowOneDrawsNothing) {
  const Byte mask[1] = {0xFF};
  Canvas canvas(4, 4);
  EXPECT_FALSE(raster::OvBoxFill(canvas.View(), 0, 0, 3, 3, 1, mask, 0, 1, raster::kOpSet));
  EXPECT_FALSE(raster::OvBoxFill(canvas.View(), 0, 0, 3, 3, 1, mask, 1, -1, raster::kOpSet));
  EXPECT_TRUE(Drawn(canvas).empty());
}

// Random shapes on random surfaces (stride padding included) against the per-pixel model.
TEST(DrawRandomised, EveryPrimitiveMatchesThePerPixelModel) {
  std::mt19937 rng(20240611);
  auto coord = [&](int limit) { return static_cast<int>(rng() % (limit + 40)) - 20; };
  for (int round = 0; round < 3000; ++round) {
    const int w = 1 + rng() % 40, h = 1 + rng() % 30, stride = w + rng() % 5;
    Canvas fast(w, h, stride);
    fast.Randomise(rng);
    Canvas model = fast;
    const int method = rng() % 10;
    const Byte colour = static_cast<Byte>(rng());
    const int x1 = coord(w), y1 = coord(h), x2 = coord(w), y2 = coord(h);
    const int kind = rng() % 4;
    if (kind == 0) {
      const bool leave = rng() % 2;
      ASSERT_TRUE(raster::OvLine(fast.View(), x1, y1, x2, y2, colour, leave, method));
      reference::Line(model, x1, y1, x2, y2, colour, leave, method);
    } else if (kind == 1) {
      ASSERT_TRUE(raster::Box(fast.View(), x1, y1, x2, y2, colour, method));
      reference::Box(model, x1, y1, x2, y2, colour, method);
    } else if (kind == 2) {
      ASSERT_TRUE(raster::OvBoxFill(fast.View(), x1, y1, x2, y2, colour, nullptr, 0, 0, method));
      reference::BoxFill(model, x1, y1, x2, y2, colour, nullptr, 1, 1, method);
    } else {
      const int mw = 1 + rng() % 19, mh = 1 + rng() % 5;
      std::vector<Byte> mask(static_cast<size_t>((mw + 7) / 8) * mh);
      for (Byte& b : mask) b = static_cast<Byte>(rng());
      ASSERT_TRUE(
          raster::OvBoxFill(fast.View(), x1, y1, x2, y2, colour, mask.data(), mw, mh, method));
      reference::BoxFill(model, x1, y1, x2, y2, colour, mask.data(), mw, mh, method);
    }
    ASSERT_EQ(fast.Pixels, model.Pixels)
        << "round " << round << " kind " << kind << " method " << method << " " << x1 << "," << y1
        << "-" << x2 << "," << y2 << " on " << w << "x" << h;
  }
}

}  // namespace
}  // namespace ovelta

// ---- The surface's members ----

namespace ovelta {
namespace {

// A surface of W x H with a linked bitmap, counting the modifications it records.
struct Recorded {
  TBitmap bitmap;
  TOvDib dib;
  int changes = 0;
  Recorded(int W, int H) : dib(nullptr, W, H) {
    dib.StartBitmap(&bitmap);
    dib.SetOnChange([this](TObject*) { ++changes; });
  }
  int Take() { return std::exchange(changes, 0); }
};

TEST(DibDraw, EachPublicOperationRecordsItsChangeAndFailuresRecordNothing) {
  Recorded r(16, 8);
  const Byte mask[1] = {0x80};
  EXPECT_TRUE(r.dib.PSet(1, 1, 3));
  EXPECT_EQ(r.Take(), 1);
  EXPECT_FALSE(r.dib.PSet(16, 1, 3));
  EXPECT_EQ(r.Take(), 0);
  EXPECT_TRUE(r.dib.Line(0, 0, 5, 5, 1));
  EXPECT_EQ(r.Take(), 1);
  EXPECT_TRUE(r.dib.Box(0, 0, 5, 5, 1));
  EXPECT_EQ(r.Take(), 1);
  EXPECT_TRUE(r.dib.BoxFill(0, 0, 5, 5, 1));
  EXPECT_EQ(r.Take(), 1);
  EXPECT_TRUE(r.dib.BoxFillM(0, 0, 5, 5, 1, mask, 1, 1));
  EXPECT_EQ(r.Take(), 1);
  EXPECT_FALSE(r.dib.BoxFillM(0, 0, 5, 5, 1, mask, 0, 1));
  EXPECT_EQ(r.Take(), 0);
  EXPECT_TRUE(r.dib.CLine(9, 5, 2));
  EXPECT_GE(r.Take(), 1);
  // The workers draw without recording.
  EXPECT_TRUE(r.dib.OvLine(0, 0, 5, 5, 1, false));
  EXPECT_TRUE(r.dib.OvBoxFill(0, 0, 5, 5, 1, nullptr, 0, 0));
  EXPECT_EQ(r.Take(), 0);
}

TEST(DibDraw, PolylineKeepsItsCornerUnderXor) {
  TOvDib dib(nullptr, 10, 10);
  dib.SetMethod(Ov_XOR);
  dib.Line(0, 0, 5, 0, 7);
  dib.CLine(5, 5, 7);
  for (int x = 0; x <= 5; ++x) EXPECT_EQ(dib.PGet(x, 0), 7) << x;
  for (int y = 1; y <= 5; ++y) EXPECT_EQ(dib.PGet(5, y), 7) << y;
  EXPECT_EQ(dib.PGet(6, 0), 0);
  // Back to the start: the pen's point is not drawn again, the closing point is.
  dib.CLine(0, 0, 7);
  EXPECT_EQ(dib.PGet(0, 0), 0);  // XORed by the first line and by the closing segment's end
  EXPECT_EQ(dib.PGet(5, 5), 7);
}

TEST(DibDraw, PenStartsAtTheOrigin) {
  TOvDib dib(nullptr, 8, 8);
  dib.CLine(3, 0, 1);
  EXPECT_EQ(dib.PGet(0, 0), 0);
  for (int x = 1; x <= 3; ++x) EXPECT_EQ(dib.PGet(x, 0), 1) << x;
}

TEST(DibDraw, MethodAndStridePaddingOnTheSurface) {
  TOvDib dib(nullptr, 30, 4);
  ASSERT_EQ(dib.Stride(), 32);
  dib.SetMethod(Ov_ADD);
  dib.BoxFill(-5, -5, 100, 100, 200);
  dib.BoxFill(-5, -5, 100, 100, 100);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 32; ++x)
      EXPECT_EQ(dib.ImagePtr()[y * 32 + x], x < 30 ? 255 : 0) << x << "," << y;
}

TEST(DibDraw, SurfaceWithoutStorageDoesNothing) {
  TOvDib dib(nullptr, 8, 8);
  dib.EndDib();
  ASSERT_EQ(dib.ImagePtr(), nullptr);
  const Byte mask[1] = {0xFF};
  EXPECT_FALSE(dib.PSet(0, 0, 1));
  EXPECT_EQ(dib.PGet(0, 0), 0);
  EXPECT_FALSE(dib.Line(0, 0, 3, 3, 1));
  EXPECT_FALSE(dib.CLine(3, 3, 1));
  EXPECT_FALSE(dib.Box(0, 0, 3, 3, 1));
  EXPECT_FALSE(dib.BoxFill(0, 0, 3, 3, 1));
  EXPECT_FALSE(dib.BoxFillM(0, 0, 3, 3, 1, mask, 1, 1));
}

}  // namespace
}  // namespace ovelta
