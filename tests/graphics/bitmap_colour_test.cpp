// TOvRGB's byte layout and conversions, and the nearest-neighbour scaling of Zooming and Zooming24.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "graphics/Ovbitmap.h"

namespace ovelta {
namespace {

TEST(OvRgb, ThreeBytesBlueGreenRedPackedInArrays) {
  static_assert(sizeof(TOvRGB[5]) == 15);
  const TOvRGB colour(0x12, 0x34, 0x56);  // red, green, blue
  const auto* bytes = reinterpret_cast<const Byte*>(&colour);
  EXPECT_EQ(bytes[0], 0x56);
  EXPECT_EQ(bytes[1], 0x34);
  EXPECT_EQ(bytes[2], 0x12);
  EXPECT_EQ(TOvRGB().ToDWORD(), 0u);
}

TEST(OvRgb, ConversionsBetweenTheThreeForms) {
  const TOvRGB colour(0x12, 0x34, 0x56);
  EXPECT_EQ(colour.ToDWORD(), 0x00123456u);
  const RGBQUAD quad = colour.ToRGBQUAD();
  EXPECT_EQ(quad.rgbBlue, 0x56);
  EXPECT_EQ(quad.rgbGreen, 0x34);
  EXPECT_EQ(quad.rgbRed, 0x12);
  EXPECT_EQ(quad.rgbReserved, 0);

  // The reserved byte and the top byte of the word are dropped.
  const RGBQUAD withReserved{0x56, 0x34, 0x12, 0xFF};
  EXPECT_EQ(TOvRGB(withReserved), colour);
  EXPECT_EQ(TOvRGB(DWord{0xAB123456}), colour);
  EXPECT_EQ(TOvRGB(DWord{0xAB123456}).ToDWORD(), 0x00123456u);

  TOvRGB assigned;
  EXPECT_EQ(&(assigned = withReserved), &assigned);
  EXPECT_EQ(assigned, colour);
  assigned = DWord{0x00FF8001};
  EXPECT_EQ(assigned.Red, 0xFF);
  EXPECT_EQ(assigned.Green, 0x80);
  EXPECT_EQ(assigned.Blue, 0x01);
  assigned = colour;
  EXPECT_EQ(assigned.ToDWORD(), 0x00123456u);
}

// A block of Width x Height bytes numbered 1, 2, 3, ... row by row, in rows of Stride bytes.
std::vector<Byte> Block(int Width, int Height, int Stride) {
  std::vector<Byte> block(static_cast<std::size_t>(Stride * Height), 0xEE);
  Byte next = 1;
  for (int y = 0; y < Height; ++y)
    for (int x = 0; x < Width; ++x) block[static_cast<std::size_t>(y * Stride + x)] = next++;
  return block;
}

std::vector<Byte> Zoomed(const std::vector<Byte>& Source, int Sw, int Sh, int Ss, int Dw, int Dh,
                         int Ds) {
  std::vector<Byte> dest(static_cast<std::size_t>(Ds * std::max(Dh, 1)), 0xEE);
  Zooming(Source.data(), Sw, Sh, Ss, dest.data(), Dw, Dh, Ds);
  return dest;
}

TEST(Zooming, KnownWalks) {
  struct Case {
    const char* Name;
    int Sw, Sh, Dw, Dh;
    std::vector<Byte> Expected;
  } cases[] = {
      {"equal sizes copy", 3, 2, 3, 2, {1, 2, 3, 4, 5, 6}},
      {"one pixel to three", 1, 1, 3, 1, {1, 1, 1}},
      {"two to four repeats", 2, 1, 4, 1, {1, 1, 2, 2}},
      {"four to two keeps s1 s3", 4, 1, 2, 1, {2, 4}},
      {"three to two keeps s1 s2", 3, 1, 2, 1, {2, 3}},
      {"three rows to one keeps the last", 2, 3, 2, 1, {5, 6}},
      {"one row to three", 2, 1, 2, 3, {1, 2, 1, 2, 1, 2}},
      {"both ways at once", 2, 2, 1, 4, {2, 2, 4, 4}},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    EXPECT_EQ(Zoomed(Block(c.Sw, c.Sh, c.Sw), c.Sw, c.Sh, c.Sw, c.Dw, c.Dh, c.Dw), c.Expected);
  }
}

TEST(Zooming, StridesAreHonouredAndBytesBeyondTheWidthLeftAlone) {
  const std::vector<Byte> source = Block(2, 2, 5);
  const std::vector<Byte> dest = Zoomed(source, 2, 2, 5, 4, 2, 6);
  EXPECT_EQ(dest, (std::vector<Byte>{1, 1, 2, 2, 0xEE, 0xEE, 3, 3, 4, 4, 0xEE, 0xEE}));
}

TEST(Zooming, EmptySizesDrawNothing) {
  const std::vector<Byte> source = Block(2, 2, 2);
  for (auto sizes : {std::vector<int>{0, 2, 2, 2}, {2, 0, 2, 2}, {2, 2, 0, 2}, {2, 2, 2, -1}}) {
    const std::vector<Byte> dest = Zoomed(source, sizes[0], sizes[1], 2, sizes[2], sizes[3], 2);
    EXPECT_EQ(dest, std::vector<Byte>(dest.size(), 0xEE));
  }
}

TEST(Zooming24, SameWalkOnThreeBytePixelsWithStridesInPixels) {
  std::vector<TOvRGB> source = {TOvRGB(1, 0, 0), TOvRGB(2, 0, 0), TOvRGB(3, 0, 0), TOvRGB(4, 0, 0),
                                TOvRGB(9, 9, 9),  // padding pixel of a stride-5 row
                                TOvRGB(5, 0, 0), TOvRGB(6, 0, 0), TOvRGB(7, 0, 0), TOvRGB(8, 0, 0)};
  std::vector<TOvRGB> dest(2, TOvRGB(0xEE, 0xEE, 0xEE));
  Zooming24(source.data(), 4, 2, 5, dest.data(), 2, 1, 2);
  EXPECT_EQ(dest[0], TOvRGB(6, 0, 0));
  EXPECT_EQ(dest[1], TOvRGB(8, 0, 0));
}

}  // namespace
}  // namespace ovelta
