// Pattern blits on the plain surface view: clipping at every edge, the stride rule, colour keys,
// mirroring at both edges, masks, reading blocks back, the source clipping of surface copies, and a
// randomised comparison of every blit with the per-pixel model.
#include <gtest/gtest.h>

#include <random>
#include <vector>

#include "graphics/Ovdib.h"
#include "graphics/Raster_p.h"
#include "platform/gdi/Graphics.h"
#include "raster_reference.h"

namespace ovelta {
namespace {

using reference::Canvas;
using Row = std::vector<Byte>;

Row RowOf(const Canvas& C, int Y) {
  return Row(C.Pixels.begin() + Y * C.Stride, C.Pixels.begin() + Y * C.Stride + C.Width);
}

TEST(BlitClipping, NegativeXDrawsThePatternsRightColumns) {
  const Byte pattern[8] = {1, 2, 3, 4, 5, 6, 7, 8};  // 4 x 2
  Canvas canvas(6, 3);
  EXPECT_TRUE(
      raster::OvPutPat(canvas.View(), -2, 0, 4, 2, pattern, 4, false, 0, raster::kOpSet, false));
  EXPECT_EQ(RowOf(canvas, 0), (Row{3, 4, 0, 0, 0, 0}));
  EXPECT_EQ(RowOf(canvas, 1), (Row{7, 8, 0, 0, 0, 0}));
  EXPECT_EQ(RowOf(canvas, 2), (Row{0, 0, 0, 0, 0, 0}));
}

TEST(BlitClipping, WhollyOutsideDrawsNothingAndSucceeds) {
  const Byte pattern[4] = {1, 2, 3, 4};
  Canvas canvas(4, 4);
  for (auto [x, y] :
       {std::pair{-2, 0}, {4, 0}, {0, -2}, {0, 4}, {INT32_MAX, 0}, {INT32_MIN, INT32_MIN}}) {
    for (bool reverse : {false, true}) {
      EXPECT_TRUE(raster::OvPutPat(canvas.View(), x, y, 2, 2, pattern, 2, false, 0, raster::kOpSet,
                                   reverse));
      EXPECT_TRUE(
          raster::OvPutPatWappi(canvas.View(), x, y, 2, 2, pattern, 2, 9, reverse, raster::kOpXor));
    }
  }
  EXPECT_TRUE(
      raster::OvPutPat(canvas.View(), 0, 0, 0, 2, pattern, 0, false, 0, raster::kOpSet, false));
  EXPECT_TRUE(
      raster::OvPutPat(canvas.View(), 0, 0, -3, 2, pattern, 0, false, 0, raster::kOpSet, false));
  EXPECT_EQ(canvas.Pixels, Row(16, 0));
}

TEST(BlitClipping, StrideBelowWidthIsRaisedToWidth) {
  const Byte pattern[8] = {1, 2, 3, 4, 5, 6, 7, 8};
  Canvas stride2(4, 2), stride4(4, 2);
  raster::OvPutPat(stride2.View(), 0, 0, 4, 2, pattern, 2, false, 0, raster::kOpSet, false);
  raster::OvPutPat(stride4.View(), 0, 0, 4, 2, pattern, 4, false, 0, raster::kOpSet, false);
  EXPECT_EQ(stride2.Pixels, stride4.Pixels);
  EXPECT_EQ(RowOf(stride2, 1), (Row{5, 6, 7, 8}));
}

TEST(BlitRefusals, NoStorageNullPatternAndMirroredWorkersWithoutReverse) {
  const Byte pattern[1] = {1};
  const Byte mask[1] = {0x80};
  Byte buffer[1] = {0};
  const raster::Surface none{nullptr, 8, 8, 8};
  EXPECT_FALSE(raster::OvPutPat(none, 0, 0, 1, 1, pattern, 1, false, 0, raster::kOpSet, false));
  EXPECT_FALSE(raster::OvPutPatM(none, 0, 0, 1, 1, pattern, 1, mask, 1, 1, raster::kOpSet, false));
  EXPECT_FALSE(raster::OvPutPatWappi(none, 0, 0, 1, 1, pattern, 1, 0, false, raster::kOpSet));
  EXPECT_FALSE(raster::OvGetPat(none, 0, 0, 1, 1, buffer));
  Canvas canvas(2, 2);
  EXPECT_FALSE(
      raster::OvPutPat(canvas.View(), 0, 0, 1, 1, nullptr, 1, false, 0, raster::kOpSet, false));
  EXPECT_FALSE(raster::OvGetPat(canvas.View(), 0, 0, 1, 1, nullptr));
  EXPECT_FALSE(
      raster::OvPutPatR(canvas.View(), 0, 0, 1, 1, pattern, 1, false, 0, raster::kOpSet, false));
  EXPECT_FALSE(
      raster::OvPutPatMR(canvas.View(), 0, 0, 1, 1, pattern, 1, mask, 1, 1, raster::kOpSet, false));
  EXPECT_EQ(canvas.Pixels, Row(4, 0));
}

TEST(BlitKey, KeyBytesLeaveThePixelAloneUnderEveryOperator) {
  // 40 bytes: through the 16-byte kernels and their tails, forwards and mirrored.
  Row pattern(40);
  for (int i = 0; i < 40; ++i) pattern[i] = i % 3 == 0 ? 0 : static_cast<Byte>(i);
  for (int method = 0; method <= 7; ++method) {
    for (bool reverse : {false, true}) {
      Canvas canvas(40, 1);
      for (int i = 0; i < 40; ++i) canvas.At(i, 0) = 0xC3;
      EXPECT_TRUE(raster::OvPutPat(canvas.View(), 0, 0, 40, 1, pattern.data(), 40, true, 0, method,
                                   reverse));
      for (int i = 0; i < 40; ++i) {
        const int column = reverse ? 39 - i : i;
        const Byte expected = pattern[i] == 0 ? 0xC3 : reference::Apply(method, 0xC3, pattern[i]);
        EXPECT_EQ(canvas.At(column, 0), expected) << "method " << method << " column " << column;
      }
    }
  }
}

TEST(BlitMirror, ReverseAtBothEdges) {
  const Byte pattern[3] = {1, 2, 3};
  struct Case {
    int x;
    Row expected;
  } cases[] = {{0, {3, 2, 1, 0, 0, 0}}, {-1, {2, 1, 0, 0, 0, 0}}, {4, {0, 0, 0, 0, 3, 2}},
               {2, {0, 0, 3, 2, 1, 0}}, {-2, {1, 0, 0, 0, 0, 0}}, {5, {0, 0, 0, 0, 0, 3}}};
  for (const Case& c : cases) {
    for (int method : {raster::kOpSet, raster::kOpOr}) {  // the row copy and the kernel path
      Canvas canvas(6, 1);
      EXPECT_TRUE(
          raster::OvPutPat(canvas.View(), c.x, 0, 3, 1, pattern, 3, false, 0, method, true));
      EXPECT_EQ(RowOf(canvas, 0), c.expected) << "x " << c.x << " method " << method;
      Canvas wappi(6, 1);
      EXPECT_TRUE(raster::OvPutPatWappi(wappi.View(), c.x, 0, 3, 1, pattern, 3, 0, true, method));
      EXPECT_EQ(RowOf(wappi, 0), c.expected) << "wappi x " << c.x;
    }
  }
}

TEST(BlitMirror, WappiFollowsItsOwnArgumentNotReverse) {
  std::mt19937 rng(3);
  for (int round = 0; round < 200; ++round) {
    const int w = 1 + rng() % 30, h = 1 + rng() % 6, x = static_cast<int>(rng() % 50) - 25;
    const int y = static_cast<int>(rng() % 16) - 6;
    const Byte key = static_cast<Byte>(rng() % 4);
    const auto pattern = reference::RandomPattern(rng, w, h, w, 4);
    Canvas keyed(20, 8), wappi(20, 8);
    keyed.Randomise(rng);
    wappi.Pixels = keyed.Pixels;
    raster::OvPutPat(keyed.View(), x, y, w, h, pattern.data(), w, true, key, raster::kOpSet, true);
    raster::OvPutPatWappi(wappi.View(), x, y, w, h, pattern.data(), w, key, true, raster::kOpSet);
    ASSERT_EQ(keyed.Pixels, wappi.Pixels) << "round " << round;
    raster::OvPutPat(keyed.View(), x, y, w, h, pattern.data(), w, true, key, raster::kOpXor, false);
    raster::OvPutPatWappi(wappi.View(), x, y, w, h, pattern.data(), w, key, false, raster::kOpXor);
    ASSERT_EQ(keyed.Pixels, wappi.Pixels) << "round " << round;
  }
}

TEST(BlitMask, FullEmptyAndNullMasks) {
  const Byte pattern[6] = {0, 1, 2, 3, 4, 255};  // 3 x 2, a 0 byte included: masks have no key
  const Byte full[1] = {0x80}, empty[1] = {0x00};
  Canvas canvas(4, 3);
  for (Byte& b : canvas.Pixels) b = 9;
  EXPECT_TRUE(
      raster::OvPutPatM(canvas.View(), 1, 1, 3, 2, pattern, 3, empty, 1, 1, raster::kOpSet, false));
  EXPECT_EQ(canvas.Pixels, Row(12, 9));
  EXPECT_FALSE(raster::OvPutPatM(canvas.View(), 1, 1, 3, 2, pattern, 3, nullptr, 1, 1,
                                 raster::kOpSet, false));
  EXPECT_FALSE(
      raster::OvPutPatM(canvas.View(), 1, 1, 3, 2, pattern, 3, full, 0, 1, raster::kOpSet, false));
  EXPECT_FALSE(
      raster::OvPutPatM(canvas.View(), 1, 1, 3, 2, pattern, 3, full, 1, 0, raster::kOpSet, false));
  EXPECT_EQ(canvas.Pixels, Row(12, 9));
  EXPECT_TRUE(
      raster::OvPutPatM(canvas.View(), 1, 1, 3, 2, pattern, 3, full, 1, 1, raster::kOpSet, false));
  EXPECT_EQ(RowOf(canvas, 1), (Row{9, 0, 1, 2}));
  EXPECT_EQ(RowOf(canvas, 2), (Row{9, 3, 4, 255}));
}

TEST(BlitMask, MirroredMaskTravelsWithThePattern) {
  const Byte pattern[4] = {1, 2, 3, 4};
  const Byte mask[1] = {0xA0};  // 4 wide: columns 0 and 2 drawn
  Canvas canvas(4, 1);
  EXPECT_TRUE(
      raster::OvPutPatM(canvas.View(), 0, 0, 4, 1, pattern, 4, mask, 4, 1, raster::kOpSet, true));
  EXPECT_EQ(RowOf(canvas, 0), (Row{0, 3, 0, 1}));
}

TEST(BlitGetPat, PartlyOffBlockFillsOnlyItsVisiblePartAndRoundTrips) {
  Canvas canvas(12, 12);
  std::mt19937 rng(11);
  canvas.Randomise(rng);
  Row buffer(100, 0xEE);
  EXPECT_TRUE(raster::OvGetPat(canvas.View(), -5, -5, 10, 10, buffer.data()));
  for (int r = 0; r < 10; ++r)
    for (int i = 0; i < 10; ++i)
      EXPECT_EQ(buffer[r * 10 + i], r >= 5 && i >= 5 ? canvas.At(i - 5, r - 5) : 0xEE)
          << i << "," << r;
  const Row original = canvas.Pixels;
  for (int y = 0; y < 5; ++y)
    for (int x = 0; x < 5; ++x) canvas.At(x, y) = 0;
  EXPECT_TRUE(raster::OvPutPat(canvas.View(), -5, -5, 10, 10, buffer.data(), 10, false, 0,
                               raster::kOpSet, false));
  EXPECT_EQ(canvas.Pixels, original);
}

TEST(BlitSourceBlock, NegativeSourceXMovesTheDestination) {
  Canvas source(8, 4);
  raster::SourceBlock block;
  ASSERT_TRUE(raster::ClipSourceBlock(source.View(), 10, 20, -3, 1, 5, 10, &block));
  EXPECT_EQ(block.X, 13);
  EXPECT_EQ(block.Y, 20);
  EXPECT_EQ(block.Width, 2);
  EXPECT_EQ(block.Height, 3);  // rows 1 to 3 of the source
  EXPECT_EQ(block.Bits, source.Pixels.data() + 1 * 8 + 0);
  EXPECT_FALSE(raster::ClipSourceBlock(source.View(), 0, 0, 8, 0, 5, 5, &block));
  EXPECT_FALSE(raster::ClipSourceBlock(source.View(), 0, 0, -5, 0, 5, 5, &block));
  EXPECT_FALSE(raster::ClipSourceBlock(raster::Surface{}, 0, 0, 0, 0, 5, 5, &block));
}

// Every blit, on random surfaces with row padding, against the per-pixel model: positions around
// and beyond every edge, strides below and above the width, every operator value, keys, masks,
// both mirrorings. Patterns are allocated to the byte, so a read past them is caught too.
TEST(BlitRandomised, EveryBlitMatchesThePerPixelModel) {
  std::mt19937 rng(1717);
  for (int round = 0; round < 4000; ++round) {
    const int sw = 1 + rng() % 48, sh = 1 + rng() % 24, sstride = sw + rng() % 5;
    Canvas fast(sw, sh, sstride);
    fast.Randomise(rng);
    Canvas model = fast;
    reference::BlitArgs a;
    a.Width = static_cast<int>(rng() % 60) - 4;
    a.Height = static_cast<int>(rng() % 20) - 2;
    a.Stride = a.Width + static_cast<int>(rng() % 9) - 4;
    a.X = static_cast<int>(rng() % (sw + 80)) - 60;
    a.Y = static_cast<int>(rng() % (sh + 30)) - 20;
    a.Method = rng() % 9;
    a.Key = static_cast<Byte>(rng() % 4);
    const bool reverse = rng() % 2;
    const auto pattern =
        reference::RandomPattern(rng, a.Width, a.Height, a.Stride, rng() % 2 ? 4 : 256);
    const int kind = rng() % 3;
    std::vector<Byte> mask;
    bool ok = false;
    if (kind == 0) {  // OvPutPat, plain or keyed, Reverse as drawn
      a.Keyed = rng() % 2;
      a.Mirrored = reverse;
      ok = raster::OvPutPat(fast.View(), a.X, a.Y, a.Width, a.Height, pattern.data(), a.Stride,
                            a.Keyed, a.Key, a.Method, reverse);
    } else if (kind == 1) {  // OvPutPatM
      a.MaskWidth = 1 + rng() % 20;
      a.MaskHeight = 1 + rng() % 4;
      mask.resize(static_cast<size_t>((a.MaskWidth + 7) / 8) * a.MaskHeight);
      for (Byte& b : mask) b = static_cast<Byte>(rng());
      a.Mask = mask.data();
      a.Mirrored = reverse;
      ok = raster::OvPutPatM(fast.View(), a.X, a.Y, a.Width, a.Height, pattern.data(), a.Stride,
                             a.Mask, a.MaskWidth, a.MaskHeight, a.Method, reverse);
    } else {  // OvPutPatWappi
      a.Keyed = true;
      a.Mirrored = rng() % 2;
      ok = raster::OvPutPatWappi(fast.View(), a.X, a.Y, a.Width, a.Height, pattern.data(), a.Stride,
                                 a.Key, a.Mirrored, a.Method);
    }
    ASSERT_TRUE(ok);
    reference::Blit(model, pattern.data(), a);
    ASSERT_EQ(fast.Pixels, model.Pixels)
        << "round " << round << " kind " << kind << " at " << a.X << "," << a.Y << " size "
        << a.Width << "x" << a.Height << " stride " << a.Stride << " method " << a.Method
        << " mirrored " << a.Mirrored << " on " << sw << "x" << sh;

    // And the block read back from the same place.
    if (a.Width > 0 && a.Height > 0) {
      Row got(static_cast<size_t>(a.Width) * a.Height), want;
      for (Byte& b : got) b = static_cast<Byte>(rng());
      want = got;
      ASSERT_TRUE(raster::OvGetPat(fast.View(), a.X, a.Y, a.Width, a.Height, got.data()));
      reference::GetPat(fast, a.X, a.Y, a.Width, a.Height, want.data());
      ASSERT_EQ(got, want) << "round " << round;
    }
  }
}

}  // namespace
}  // namespace ovelta

// ---- The surface's members ----

namespace ovelta {
namespace {

Row DibRow(TOvDib& Dib, int Y) {
  Row out;
  for (int x = 0; x < Dib.Width(); ++x) out.push_back(Dib.PGet(x, Y));
  return out;
}

TEST(DibBlit, ReverseMirrorsThePublicFormsButNotWappi) {
  const Byte pattern[3] = {1, 2, 3};
  TOvDib dib(nullptr, 6, 3);
  dib.SetReverse(true);
  EXPECT_TRUE(dib.PutPat(0, 0, 3, 1, pattern));
  EXPECT_TRUE(dib.PasPat(4, 1, 3, 1, pattern, 9));
  EXPECT_TRUE(dib.PasPatWappi(0, 2, 3, 1, pattern, 9, false));
  EXPECT_EQ(DibRow(dib, 0), (Row{3, 2, 1, 0, 0, 0}));
  EXPECT_EQ(DibRow(dib, 1), (Row{0, 0, 0, 0, 3, 2}));
  EXPECT_EQ(DibRow(dib, 2), (Row{1, 2, 3, 0, 0, 0}));
  dib.SetReverse(false);
  EXPECT_FALSE(dib.OvPutPatR(0, 0, 3, 1, pattern, 3, false, 0));
  EXPECT_TRUE(dib.PasPat2Wappi(3, 0, 3, 1, pattern, 0, 9, true));
  EXPECT_EQ(DibRow(dib, 0), (Row{3, 2, 1, 3, 2, 1}));
}

TEST(DibBlit, KeyedXorLeavesKeyPixelsAlone) {
  const Byte pattern[4] = {0, 5, 0, 6};
  TOvDib dib(nullptr, 4, 1);
  for (int x = 0; x < 4; ++x) dib.PSet(x, 0, 0x30);
  dib.SetMethod(Ov_XOR);
  EXPECT_TRUE(dib.PasPat(0, 0, 4, 1, pattern, 0));
  EXPECT_EQ(DibRow(dib, 0), (Row{0x30, 0x35, 0x30, 0x36}));
}

TEST(DibBlit, RecordingFollowsTheWorkersResult) {
  TBitmap bitmap;
  TOvDib dib(nullptr, 8, 8);
  dib.StartBitmap(&bitmap);
  int changes = 0;
  dib.SetOnChange([&](TObject*) { ++changes; });
  const Byte pattern[4] = {1, 2, 3, 4};
  const Byte mask[1] = {0x80};
  Byte buffer[4];
  EXPECT_TRUE(dib.PutPat(-10, -10, 2, 2, pattern));  // nothing visible: still a success
  EXPECT_TRUE(dib.PutPat2(0, 0, 2, 2, pattern, 2));
  EXPECT_TRUE(dib.PasPat(0, 0, 2, 2, pattern, 1));
  EXPECT_TRUE(dib.PasPat2(0, 0, 2, 2, pattern, 2, 1));
  EXPECT_TRUE(dib.PasMPat(0, 0, 2, 2, pattern, mask, 1, 1));
  EXPECT_TRUE(dib.PasPatWappi(0, 0, 2, 2, pattern, 1, true));
  EXPECT_TRUE(dib.PasPat2Wappi(0, 0, 2, 2, pattern, 2, 1, false));
  EXPECT_EQ(changes, 7);
  EXPECT_FALSE(dib.PasMPat(0, 0, 2, 2, pattern, nullptr, 1, 1));
  EXPECT_FALSE(dib.PutPat(0, 0, 2, 2, nullptr));
  EXPECT_TRUE(dib.GetPat(0, 0, 2, 2, buffer));
  EXPECT_EQ(changes, 7);
  dib.EndBitmap();
}

TEST(DibBlit, PutDibClipsToTheSourceAndThenToTheSurface) {
  TOvDib source(nullptr, 8, 2), dest(nullptr, 8, 2);
  for (int x = 0; x < 8; ++x) source.PSet(x, 0, static_cast<Byte>(10 + x));
  // Source x -3: the block's first 3 columns lie outside the source; the destination moves right.
  EXPECT_TRUE(dest.PutDib(1, 0, &source, -3, 0, 6, 1));
  EXPECT_EQ(DibRow(dest, 0), (Row{0, 0, 0, 0, 10, 11, 12, 0}));
  EXPECT_TRUE(dest.PasDib(-1, 1, &source, 0, 0, 8, 1, 12));
  EXPECT_EQ(DibRow(dest, 1), (Row{11, 0, 13, 14, 15, 16, 17, 0}));
  EXPECT_TRUE(dest.PutDib(0, 0, &source, 8, 0, 4, 1));  // nothing of the block on the source
  TOvDib empty(nullptr, 8, 2);
  empty.EndDib();
  EXPECT_FALSE(dest.PutDib(0, 0, &empty, 0, 0, 4, 1));
  EXPECT_FALSE(dest.PasDib(0, 0, &empty, 0, 0, 4, 1, 0));
  EXPECT_FALSE(dest.PutDib(0, 0, nullptr, 0, 0, 4, 1));
  EXPECT_FALSE(empty.PutDib(0, 0, &source, 0, 0, 4, 1));
}

TEST(DibBlit, PutDibOntoItselfReadsTheBlockFirst) {
  TOvDib dib(nullptr, 4, 4);
  for (int y = 0; y < 4; ++y)
    for (int x = 0; x < 4; ++x) dib.PSet(x, y, static_cast<Byte>(y * 4 + x + 1));
  EXPECT_TRUE(dib.PutDib(1, 1, &dib, 0, 0, 3, 3));  // scroll down and right by one
  EXPECT_EQ(DibRow(dib, 0), (Row{1, 2, 3, 4}));
  EXPECT_EQ(DibRow(dib, 1), (Row{5, 1, 2, 3}));
  EXPECT_EQ(DibRow(dib, 2), (Row{9, 5, 6, 7}));
  EXPECT_EQ(DibRow(dib, 3), (Row{13, 9, 10, 11}));
}

TEST(DibBlit, SurfaceWithoutStorageRefusesEveryBlit) {
  TOvDib dib(nullptr, 8, 8);
  dib.EndDib();
  const Byte pattern[4] = {1, 2, 3, 4};
  const Byte mask[1] = {0x80};
  Byte buffer[4] = {};
  EXPECT_FALSE(dib.PutPat(0, 0, 2, 2, pattern));
  EXPECT_FALSE(dib.PasPat(0, 0, 2, 2, pattern, 0));
  EXPECT_FALSE(dib.PasMPat(0, 0, 2, 2, pattern, mask, 1, 1));
  EXPECT_FALSE(dib.PasPatWappi(0, 0, 2, 2, pattern, 0, true));
  EXPECT_FALSE(dib.GetPat(0, 0, 2, 2, buffer));
}

}  // namespace
}  // namespace ovelta
