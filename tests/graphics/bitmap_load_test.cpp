// The BMP and ACT loaders on files, module resources and pack members written by the tests: colour
// tables, row padding, both row orders, the longer info headers, RLE8 rows, the output-block rules,
// and refusal of damaged or hostile images with nothing allocated and no output touched.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <functional>
#include <string>
#include <tuple>
#include <vector>

#include "bitmap_source.h"
#include "graphics/Ovbitmap.h"
#include "pack/Pack.h"
#include "platform/core/Heap.h"
#include "platform/core/HeapTesting_p.h"

namespace ovelta {
namespace {

using test::BmpLayout;
using test::BuildAct;
using test::BuildBmp;
using test::Bytes;
using test::LoaderSource;
using test::Numbered;
using test::RampTable;
using test::Via;

// Owns what a loader hands back.
struct Outputs {
  RGBQUAD* Palette = nullptr;
  Byte* Pixels = nullptr;
  TOvRGB* Pixels24 = nullptr;
  int Width = -7;
  int Height = -7;
  ~Outputs() {
    GlobalFree(Palette);
    GlobalFree(Pixels);
    GlobalFree(Pixels24);
  }
};

BmpLayout Image8(int Width, int Height, std::uint32_t ColoursUsed, int TableEntries) {
  BmpLayout layout;
  layout.Width = Width;
  layout.Height = Height;
  layout.BitCount = 8;
  layout.ColoursUsed = ColoursUsed;
  layout.Table = RampTable(TableEntries);
  layout.Pixels = Numbered(Width, Height);
  layout.Padding = 0xCC;  // padding that leaked into a row would show
  return layout;
}

BmpLayout Image24(int Width, int Height) {
  BmpLayout layout;
  layout.Width = Width;
  layout.Height = Height;
  layout.BitCount = 24;
  layout.Pixels = Numbered(Width, Height, 3);
  layout.Padding = 0xCC;
  return layout;
}

class BmpLoader : public ::testing::TestWithParam<Via> {
 protected:
  LoaderSource Source{GetParam()};
};

TEST_P(BmpLoader, EightBitImagesComeOutTopRowFirstWithoutPadding) {
  for (int width : {3, 4, 5}) {
    SCOPED_TRACE(width);
    const BmpLayout layout = Image8(width, 3, 0, 256);
    Outputs out;
    ASSERT_TRUE(Source.Bmp8(BuildBmp(layout), &out.Palette, &out.Pixels, &out.Width, &out.Height));
    EXPECT_EQ(out.Width, width);
    EXPECT_EQ(out.Height, 3);
    EXPECT_EQ(GlobalSize(out.Pixels), static_cast<std::size_t>(width * 3));
    EXPECT_EQ(Bytes(out.Pixels, out.Pixels + width * 3), layout.Pixels);
    ASSERT_EQ(GlobalSize(out.Palette), 1024u);
    for (int i = 0; i < 256; ++i) {
      EXPECT_EQ(out.Palette[i].rgbRed, layout.Table[static_cast<std::size_t>(i)].rgbRed);
      EXPECT_EQ(out.Palette[i].rgbGreen, layout.Table[static_cast<std::size_t>(i)].rgbGreen);
      EXPECT_EQ(out.Palette[i].rgbBlue, layout.Table[static_cast<std::size_t>(i)].rgbBlue);
      EXPECT_EQ(out.Palette[i].rgbReserved, 0);
    }
  }
}

TEST_P(BmpLoader, ColoursUsedSixteenReadsSixteenEntriesAndTheRestAreZero) {
  const BmpLayout layout = Image8(4, 2, 16, 16);
  Outputs out;
  ASSERT_TRUE(Source.Bmp8(BuildBmp(layout), &out.Palette, &out.Pixels, &out.Width, &out.Height));
  EXPECT_EQ(Bytes(out.Pixels, out.Pixels + 8), layout.Pixels);  // rows right after 64 table bytes
  EXPECT_EQ(out.Palette[15].rgbRed, 15);
  for (int i = 16; i < 256; ++i) {
    EXPECT_EQ(out.Palette[i].rgbRed | out.Palette[i].rgbGreen | out.Palette[i].rgbBlue |
                  out.Palette[i].rgbReserved,
              0)
        << i;
  }
}

TEST_P(BmpLoader, NullParametersSkipTheirOutputs) {
  const BmpLayout layout = Image8(3, 2, 16, 16);
  const Bytes file = BuildBmp(layout);
  const std::int64_t blocks = heap_testing::LiveBlocks();
  {
    Outputs out;
    ASSERT_TRUE(Source.Bmp8(file, nullptr, &out.Pixels, &out.Width, nullptr));
    EXPECT_EQ(Bytes(out.Pixels, out.Pixels + 6), layout.Pixels);
    EXPECT_EQ(out.Width, 3);
    EXPECT_EQ(out.Height, -7);
  }
  {
    Outputs out;
    ASSERT_TRUE(Source.Bmp8(file, &out.Palette, nullptr, nullptr, &out.Height));
    EXPECT_NE(out.Palette, nullptr);
    EXPECT_EQ(out.Height, 2);
  }
  EXPECT_TRUE(Source.Bmp8(file, nullptr, nullptr, nullptr, nullptr));
  EXPECT_EQ(heap_testing::LiveBlocks(), blocks);
}

TEST_P(BmpLoader, CallersBlocksAreWrittenIntoAndKept) {
  const BmpLayout layout = Image8(3, 2, 16, 16);
  RGBQUAD palette[256];
  std::fill(std::begin(palette), std::end(palette), RGBQUAD{0x77, 0x77, 0x77, 0x77});
  Byte pixels[7];
  std::memset(pixels, 0x77, sizeof pixels);
  RGBQUAD* paletteOut = palette;
  Byte* pixelsOut = pixels;
  const std::int64_t blocks = heap_testing::LiveBlocks();
  ASSERT_TRUE(Source.Bmp8(BuildBmp(layout), &paletteOut, &pixelsOut, nullptr, nullptr));
  EXPECT_EQ(paletteOut, palette);
  EXPECT_EQ(pixelsOut, pixels);
  EXPECT_EQ(heap_testing::LiveBlocks(), blocks);
  EXPECT_EQ(Bytes(pixels, pixels + 6), layout.Pixels);
  EXPECT_EQ(pixels[6], 0x77);
  EXPECT_EQ(palette[15].rgbGreen, 240);
  EXPECT_EQ(palette[16].rgbGreen, 0x77);  // beyond the colour count: the caller's bytes stay
}

TEST_P(BmpLoader, TwentyFourBitImagesLoadWithTheirPadding) {
  for (int width : {1, 4, 5}) {
    SCOPED_TRACE(width);
    const BmpLayout layout = Image24(width, 2);
    Outputs out;
    ASSERT_TRUE(Source.Bmp24(BuildBmp(layout), &out.Pixels24, &out.Width, &out.Height));
    EXPECT_EQ(out.Width, width);
    EXPECT_EQ(out.Height, 2);
    ASSERT_EQ(GlobalSize(out.Pixels24), static_cast<std::size_t>(3 * width * 2));
    const auto* bytes = reinterpret_cast<const Byte*>(out.Pixels24);
    EXPECT_EQ(Bytes(bytes, bytes + 3 * width * 2), layout.Pixels);
  }
}

TEST_P(BmpLoader, EightBitImagesExpandThroughTheirColourTable) {
  BmpLayout layout = Image8(3, 2, 4, 4);
  layout.Pixels = {0, 1, 2, 3, 200, 1};  // 200 lies beyond the four colours: black
  Outputs out;
  ASSERT_TRUE(Source.Bmp24(BuildBmp(layout), &out.Pixels24, &out.Width, &out.Height));
  for (int i = 0; i < 6; ++i) {
    const Byte index = layout.Pixels[static_cast<std::size_t>(i)];
    const TOvRGB expected = index < 4 ? TOvRGB(layout.Table[index]) : TOvRGB();
    EXPECT_EQ(out.Pixels24[i], expected) << i;
  }
  // Without a pixel output only the size is read.
  int width = 0;
  EXPECT_TRUE(Source.Bmp24(BuildBmp(layout), nullptr, &width, nullptr));
  EXPECT_EQ(width, 3);
}

TEST_P(BmpLoader, OtherBitCountsAreRefusedWithNothingAllocated) {
  BmpLayout fourBit = Image8(4, 2, 16, 16);
  fourBit.BitCount = 4;
  struct Case {
    const char* Name;
    Bytes File;
    bool By8;
  } cases[] = {
      {"4-bit by the 8-bit loader", BuildBmp(fourBit), true},
      {"24-bit by the 8-bit loader", BuildBmp(Image24(4, 2)), true},
      {"4-bit by the 24-bit loader", BuildBmp(fourBit), false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.Name);
    Outputs out;
    const std::int64_t blocks = heap_testing::LiveBlocks();
    const bool loaded =
        c.By8 ? Source.Bmp8(c.File, &out.Palette, &out.Pixels, &out.Width, &out.Height)
              : Source.Bmp24(c.File, &out.Pixels24, &out.Width, &out.Height);
    EXPECT_FALSE(loaded);
    EXPECT_EQ(heap_testing::LiveBlocks(), blocks);
    EXPECT_EQ(out.Palette, nullptr);
    EXPECT_EQ(out.Pixels, nullptr);
    EXPECT_EQ(out.Pixels24, nullptr);
    EXPECT_EQ(out.Width, -7);
    EXPECT_EQ(out.Height, -7);
  }
}

// A damaged or hostile header, as a change to the good file's bytes.
struct Damage {
  const char* Name;
  std::function<void(Bytes&, std::size_t InfoAt)> Apply;
};

const Damage kDamages[] = {
    {"info header of 12 bytes", [](Bytes& b, std::size_t i) { test::PutLe(b, i, 12, 4); }},
    {"info header of 124 bytes", [](Bytes& b, std::size_t i) { test::PutLe(b, i, 124, 4); }},
    {"run-length compressed", [](Bytes& b, std::size_t i) { test::PutLe(b, i + 16, 1, 4); }},
    {"zero width", [](Bytes& b, std::size_t i) { test::PutLe(b, i + 4, 0, 4); }},
    {"negative width", [](Bytes& b, std::size_t i) { test::PutLe(b, i + 4, 0xFFFFFFFF, 4); }},
    {"zero height", [](Bytes& b, std::size_t i) { test::PutLe(b, i + 8, 0, 4); }},
    {"top-down taller than 32768",
     [](Bytes& b, std::size_t i) { test::PutLe(b, i + 8, static_cast<std::uint32_t>(-32769), 4); }},
    {"height of -2^31", [](Bytes& b, std::size_t i) { test::PutLe(b, i + 8, 0x80000000, 4); }},
    {"info header of 64 bytes", [](Bytes& b, std::size_t i) { test::PutLe(b, i, 64, 4); }},
    {"bit fields", [](Bytes& b, std::size_t i) { test::PutLe(b, i + 16, 3, 4); }},
    {"4-bit run-length compressed", [](Bytes& b, std::size_t i) { test::PutLe(b, i + 16, 2, 4); }},
    {"PNG inside", [](Bytes& b, std::size_t i) { test::PutLe(b, i + 16, 5, 4); }},
    {"width above 32768", [](Bytes& b, std::size_t i) { test::PutLe(b, i + 4, 32769, 4); }},
    {"height above 32768", [](Bytes& b, std::size_t i) { test::PutLe(b, i + 8, 32769, 4); }},
    {"huge size in a small file",
     [](Bytes& b, std::size_t i) {
       test::PutLe(b, i + 4, 32768, 4);
       test::PutLe(b, i + 8, 32768, 4);
     }},
    {"257 colours", [](Bytes& b, std::size_t i) { test::PutLe(b, i + 32, 257, 4); }},
    {"65535 colours", [](Bytes& b, std::size_t i) { test::PutLe(b, i + 32, 0xFFFF, 4); }},
    {"ends inside the info header", [](Bytes& b, std::size_t i) { b.resize(i + 39); }},
    {"ends inside the colour table", [](Bytes& b, std::size_t i) { b.resize(i + 40 + 60); }},
    {"last row one byte short", [](Bytes& b, std::size_t) { b.pop_back(); }},
    {"empty", [](Bytes& b, std::size_t) { b.clear(); }},
};

TEST_P(BmpLoader, DamagedImagesAreRefusedAndLeaveTheOutputsAlone) {
  for (const Damage& damage : kDamages) {
    SCOPED_TRACE(damage.Name);
    for (int bits : {8, 24}) {
      SCOPED_TRACE(bits);
      Bytes file = BuildBmp(bits == 8 ? Image8(5, 3, 16, 16) : Image24(5, 3));
      if (bits == 24 && std::string(damage.Name).find("colour") != std::string::npos) continue;
      damage.Apply(file, 14);
      Outputs out;
      RGBQUAD callersPalette[256];
      std::fill(std::begin(callersPalette), std::end(callersPalette),
                RGBQUAD{0x33, 0x33, 0x33, 0x33});
      out.Palette = nullptr;
      RGBQUAD* paletteOut = callersPalette;  // a caller's block must not be half-written either
      const std::int64_t blocks = heap_testing::LiveBlocks();
      EXPECT_FALSE(Source.Bmp8(file, &paletteOut, &out.Pixels, &out.Width, &out.Height));
      EXPECT_FALSE(Source.Bmp24(file, &out.Pixels24, &out.Width, &out.Height));
      EXPECT_EQ(heap_testing::LiveBlocks(), blocks);
      EXPECT_EQ(paletteOut, callersPalette);
      EXPECT_EQ(callersPalette[0].rgbRed, 0x33);
      EXPECT_EQ(out.Pixels, nullptr);
      EXPECT_EQ(out.Pixels24, nullptr);
      EXPECT_EQ(out.Width, -7);
      EXPECT_EQ(out.Height, -7);
    }
  }
}

// Files that really hold the colour table they announce: a table longer than the 256 entries the
// loaders keep must be refused, not read past the end of their tables.
TEST_P(BmpLoader, ColourTablesLongerThan256EntriesAreRefused) {
  for (std::uint32_t entries : {257u, 65535u}) {
    SCOPED_TRACE(entries);
    const Bytes file = BuildBmp(Image8(1, 1, entries, static_cast<int>(entries)));
    ASSERT_EQ(file.size(), 14 + 40 + 4 * std::size_t{entries} + 4);
    Outputs out;
    const std::int64_t blocks = heap_testing::LiveBlocks();
    EXPECT_FALSE(Source.Bmp8(file, &out.Palette, &out.Pixels, &out.Width, &out.Height));
    EXPECT_FALSE(Source.Bmp8(file, &out.Palette, nullptr, nullptr, nullptr));
    EXPECT_FALSE(Source.Bmp24(file, &out.Pixels24, &out.Width, &out.Height));
    EXPECT_EQ(heap_testing::LiveBlocks(), blocks);
    EXPECT_EQ(out.Palette, nullptr);
    EXPECT_EQ(out.Pixels24, nullptr);
    EXPECT_EQ(out.Width, -7);
  }
}

// A 24-bit image reads no colour table, so its colours-used field cannot make anything overflow.
TEST_P(BmpLoader, TwentyFourBitImagesLoadWhateverTheirColoursUsed) {
  for (std::uint32_t coloursUsed : {300u, 65535u}) {
    SCOPED_TRACE(coloursUsed);
    BmpLayout layout = Image24(3, 2);
    layout.ColoursUsed = coloursUsed;
    Outputs out;
    ASSERT_TRUE(Source.Bmp24(BuildBmp(layout), &out.Pixels24, &out.Width, &out.Height));
    const auto* bytes = reinterpret_cast<const Byte*>(out.Pixels24);
    EXPECT_EQ(Bytes(bytes, bytes + 18), layout.Pixels);
  }
}

// The 108- and 124-byte headers: the colour table follows the header and the rows start at the
// file header's pixel offset (in a resource, right after the table). With the 40-byte header
// that offset is not looked at.
TEST_P(BmpLoader, LongerInfoHeadersFindTheRowsAtThePixelOffset) {
  const bool resource = Source.Kind() == Via::Resource;
  for (std::uint32_t info : {108u, 124u}) {
    for (int bits : {8, 24}) {
      SCOPED_TRACE(std::to_string(info) + " bytes, " + std::to_string(bits) + " bits");
      BmpLayout layout = bits == 8 ? Image8(5, 3, 16, 16) : Image24(5, 3);
      layout.InfoSize = info;
      layout.Gap = resource ? 0 : 6;
      Outputs out;
      if (bits == 8) {
        ASSERT_TRUE(Source.Bmp8(BuildBmp(layout), &out.Palette, &out.Pixels, nullptr, nullptr));
        EXPECT_EQ(Bytes(out.Pixels, out.Pixels + 15), layout.Pixels);
        EXPECT_EQ(out.Palette[15].rgbGreen, 240);
      }
      ASSERT_TRUE(Source.Bmp24(BuildBmp(layout), &out.Pixels24, nullptr, nullptr));
      const TOvRGB* expected =
          bits == 8 ? nullptr : reinterpret_cast<const TOvRGB*>(layout.Pixels.data());
      for (std::size_t i = 0; i < 15; ++i) {
        const Byte index = layout.Pixels[i];
        const TOvRGB colour = index < layout.Table.size() ? TOvRGB(layout.Table[index]) : TOvRGB();
        EXPECT_EQ(out.Pixels24[i], expected ? expected[i] : colour) << i;
      }
      if (resource) continue;

      // Offsets that cannot be the rows': inside the table (or header), past the data, or too
      // late for the rows to fit.
      const Bytes good = BuildBmp(layout);
      const std::uint32_t tableEnd = 14 + info + (bits == 8 ? 64 : 0);
      for (std::uint32_t offset :
           {tableEnd - 1, static_cast<std::uint32_t>(good.size() + 1),
            static_cast<std::uint32_t>(good.size() - 3 * 16 + 1), 0xFFFFFFFFu}) {
        SCOPED_TRACE(offset);
        Bytes file = good;
        test::PutLe(file, 10, offset, 4);
        Outputs refused;
        const std::int64_t blocks = heap_testing::LiveBlocks();
        EXPECT_FALSE(Source.Bmp8(file, &refused.Palette, &refused.Pixels, &refused.Width, nullptr));
        EXPECT_FALSE(Source.Bmp24(file, &refused.Pixels24, &refused.Width, nullptr));
        EXPECT_EQ(heap_testing::LiveBlocks(), blocks);
        EXPECT_EQ(refused.Width, -7);
      }
    }
  }
  if (resource) return;
  Bytes file = BuildBmp(Image8(3, 2, 0, 256));
  test::PutLe(file, 10, 0xFFFFFFFF, 4);
  Outputs out;
  ASSERT_TRUE(Source.Bmp8(file, nullptr, &out.Pixels, nullptr, nullptr));
  EXPECT_EQ(Bytes(out.Pixels, out.Pixels + 6), Image8(3, 2, 0, 256).Pixels);
}

TEST_P(BmpLoader, TopDownRowsAreTakenInTheOrderStored) {
  for (std::uint32_t info : {40u, 124u}) {
    SCOPED_TRACE(info);
    BmpLayout eight = Image8(3, 3, 4, 4);
    BmpLayout twentyFour = Image24(5, 3);
    for (BmpLayout* layout : {&eight, &twentyFour}) {
      layout->TopDown = true;
      layout->InfoSize = info;
    }
    Outputs out;
    ASSERT_TRUE(Source.Bmp8(BuildBmp(eight), nullptr, &out.Pixels, &out.Width, &out.Height));
    EXPECT_EQ(out.Height, 3);
    EXPECT_EQ(Bytes(out.Pixels, out.Pixels + 9), eight.Pixels);
    ASSERT_TRUE(Source.Bmp24(BuildBmp(twentyFour), &out.Pixels24, nullptr, nullptr));
    const auto* bytes = reinterpret_cast<const Byte*>(out.Pixels24);
    EXPECT_EQ(Bytes(bytes, bytes + 45), twentyFour.Pixels);
  }
}

// An 8-bit image of 5 x 4 pixels whose rows are the RLE8 Stream.
BmpLayout Rle8(const Bytes& Stream, bool TopDown = false) {
  BmpLayout layout = Image8(5, 4, 16, 16);
  layout.Compression = 1;
  layout.Stream = Stream;
  layout.TopDown = TopDown;
  return layout;
}

TEST_P(BmpLoader, Rle8StreamsDecodeWithEveryEscape) {
  // Stored rows: an encoded and an odd absolute run (with its pad byte); an even absolute run and
  // a run reaching into the row's padding (which is dropped); a delta over the third row into the
  // fourth; a run short of the row's end; end of bitmap; bytes after it, never read.
  const Bytes stream = {2, 7, 0, 3, 1, 2, 3, 0, 0, 0, 0, 4, 9, 8,    7,
                        6, 3, 4, 0, 0, 0, 2, 2, 1, 2, 5, 0, 1, 0xFF, 0xFF};
  const Bytes stored = {7, 7, 1, 2, 3, 9, 8, 7, 6, 4, 0, 0, 0, 0, 0, 0, 0, 5, 5, 0};
  for (bool topDown : {false, true}) {
    SCOPED_TRACE(topDown ? "top-down" : "bottom-up");
    Bytes expected;
    for (int k = 0; k < 4; ++k) {
      const int row = topDown ? k : 3 - k;
      expected.insert(expected.end(), stored.begin() + 5 * row, stored.begin() + 5 * row + 5);
    }
    for (std::uint32_t info : {40u, 108u}) {
      BmpLayout layout = Rle8(stream, topDown);
      layout.InfoSize = info;
      Outputs out;
      ASSERT_TRUE(Source.Bmp8(BuildBmp(layout), &out.Palette, &out.Pixels, &out.Width, nullptr));
      EXPECT_EQ(Bytes(out.Pixels, out.Pixels + 20), expected);
      ASSERT_TRUE(Source.Bmp24(BuildBmp(layout), &out.Pixels24, nullptr, nullptr));
      for (std::size_t i = 0; i < 20; ++i)
        EXPECT_EQ(out.Pixels24[i], TOvRGB(layout.Table[expected[i]])) << i;
    }
  }
  // End of bitmap at once: every pixel 0, in a caller's block too.
  Byte pixels[20];
  std::memset(pixels, 0x77, sizeof pixels);
  Byte* pixelsOut = pixels;
  ASSERT_TRUE(Source.Bmp8(BuildBmp(Rle8({0, 1})), nullptr, &pixelsOut, nullptr, nullptr));
  EXPECT_EQ(Bytes(pixels, pixels + 20), Bytes(20, 0));
}

TEST_P(BmpLoader, HostileRle8StreamsAreRefusedWithNothingLeft) {
  const struct {
    const char* Name;
    Bytes Stream;
  } cases[] = {
      // The rows are 5 pixels and 3 bytes of padding.
      {"run past the padded row end", {9, 1, 0, 1}},
      {"run after a full padded row", {8, 1, 1, 1, 0, 1}},
      {"absolute run past the padded row end", {0, 9, 1, 2, 3, 4, 5, 6, 7, 8, 9, 0, 0, 1}},
      {"delta past the padded row end", {2, 1, 0, 2, 7, 0, 0, 1}},
      {"delta past the last row", {0, 2, 0, 4, 0, 1}},
      {"end of line past the last row", {0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 1}},
      {"run below the last row", {0, 0, 0, 0, 0, 0, 0, 0, 1, 1, 0, 1}},
      {"no end of bitmap", {5, 1, 0, 0, 5, 2, 0, 0}},
      {"absolute run longer than the data", {0, 5, 1, 2}},
      {"absolute run without its pad byte", {0, 3, 1, 2, 3}},
      {"delta cut short", {0, 2, 1}},
      {"odd byte at the end", {5, 1, 0}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Name);
    for (bool topDown : {false, true}) {
      const Bytes file = BuildBmp(Rle8(c.Stream, topDown));
      Outputs out;
      const std::int64_t blocks = heap_testing::LiveBlocks();
      EXPECT_FALSE(Source.Bmp8(file, &out.Palette, &out.Pixels, &out.Width, &out.Height));
      EXPECT_FALSE(Source.Bmp24(file, &out.Pixels24, &out.Width, &out.Height));
      EXPECT_EQ(heap_testing::LiveBlocks(), blocks);
      EXPECT_EQ(out.Palette, nullptr);
      EXPECT_EQ(out.Pixels, nullptr);
      EXPECT_EQ(out.Pixels24, nullptr);
      EXPECT_EQ(out.Width, -7);
      // A caller's block of exactly the image's size is written only within it.
      std::vector<Byte> block(20);
      Byte* blockOut = block.data();
      EXPECT_FALSE(Source.Bmp8(file, nullptr, &blockOut, nullptr, nullptr));
      EXPECT_EQ(blockOut, block.data());
    }
  }
  // A few bytes of stream cannot stand for a huge image (1024 pixels a byte, above 65536 pixels):
  // refused before anything is allocated.
  for (auto [width, height, padding] : {std::tuple{32768, 32768, 0}, std::tuple{1024, 65, 62}}) {
    BmpLayout layout = Rle8({0, 1});
    layout.Width = width;
    layout.Height = height;
    layout.Stream.insert(layout.Stream.end(), padding, 0);
    Outputs out;
    heap_testing::ResetLargestRequest();
    EXPECT_FALSE(Source.Bmp8(BuildBmp(layout), &out.Palette, &out.Pixels, nullptr, nullptr));
    EXPECT_FALSE(Source.Bmp24(BuildBmp(layout), &out.Pixels24, nullptr, nullptr));
    EXPECT_LT(heap_testing::LargestRequest(), 65536u);
  }
  {
    BmpLayout layout = Rle8({0, 1});
    layout.Width = 1024;
    layout.Height = 65;  // 66560 pixels: 65 bytes of stream are enough
    layout.Stream.insert(layout.Stream.end(), 63, 0);
    Outputs out;
    ASSERT_TRUE(Source.Bmp8(BuildBmp(layout), nullptr, &out.Pixels, nullptr, nullptr));
    EXPECT_EQ(out.Pixels[1024 * 65 - 1], 0);
  }
  // Sizes of zero, and RLE8 on a 24-bit image.
  for (auto [width, height, bits] :
       {std::tuple{0, 4, 8}, std::tuple{5, 0, 8}, std::tuple{5, 4, 24}}) {
    BmpLayout layout = Rle8({0, 1});
    layout.Width = width;
    layout.Height = height;
    layout.BitCount = bits;
    layout.Table = bits == 8 ? layout.Table : std::vector<RGBQUAD>{};
    Outputs out;
    EXPECT_FALSE(Source.Bmp8(BuildBmp(layout), &out.Palette, &out.Pixels, nullptr, nullptr));
    EXPECT_FALSE(Source.Bmp24(BuildBmp(layout), &out.Pixels24, nullptr, nullptr));
    EXPECT_EQ(out.Pixels24, nullptr);
  }
}

TEST_P(BmpLoader, FailedAllocationsLeaveNothingBehind) {
  const Bytes eight = BuildBmp(Image8(3, 2, 0, 256));
  const Bytes twentyFour = BuildBmp(Image24(3, 2));
  for (int allowed : {0, 1}) {
    SCOPED_TRACE(allowed);
    Outputs out;
    const std::int64_t blocks = heap_testing::LiveBlocks();
    heap_testing::FailAfter(allowed);
    EXPECT_FALSE(Source.Bmp8(eight, &out.Palette, &out.Pixels, &out.Width, &out.Height));
    heap_testing::FailAfter(allowed);
    // An 8-bit image in the 24-bit loader needs the output and one scratch row.
    EXPECT_FALSE(Source.Bmp24(eight, &out.Pixels24, &out.Width, &out.Height));
    heap_testing::FailAfter(0);
    EXPECT_FALSE(Source.Bmp24(twentyFour, &out.Pixels24, &out.Width, &out.Height));
    heap_testing::FailAfter(-1);
    EXPECT_EQ(heap_testing::LiveBlocks(), blocks);
    EXPECT_EQ(out.Palette, nullptr);
    EXPECT_EQ(out.Pixels, nullptr);
    EXPECT_EQ(out.Pixels24, nullptr);
    EXPECT_EQ(out.Width, -7);
  }
}

TEST_P(BmpLoader, ActPalettesNeedAllOf768Bytes) {
  const Bytes act = BuildAct();
  Outputs exact, longer;
  ASSERT_TRUE(Source.Act(act, &exact.Palette));
  ASSERT_TRUE(Source.Act(BuildAct(4), &longer.Palette));  // 772 bytes: the tail is ignored
  ASSERT_EQ(GlobalSize(exact.Palette), 1024u);
  EXPECT_EQ(std::memcmp(exact.Palette, longer.Palette, 1024), 0);
  for (int i = 0; i < 256; ++i) {
    EXPECT_EQ(exact.Palette[i].rgbRed, act[static_cast<std::size_t>(3 * i)]);
    EXPECT_EQ(exact.Palette[i].rgbGreen, act[static_cast<std::size_t>(3 * i + 1)]);
    EXPECT_EQ(exact.Palette[i].rgbBlue, act[static_cast<std::size_t>(3 * i + 2)]);
    EXPECT_EQ(exact.Palette[i].rgbReserved, 0);
  }

  const std::int64_t blocks = heap_testing::LiveBlocks();
  Outputs refused;
  EXPECT_FALSE(Source.Act(Bytes(act.begin(), act.end() - 1), &refused.Palette));
  EXPECT_FALSE(Source.Act(Bytes(), &refused.Palette));
  EXPECT_FALSE(Source.Act(Bytes(act.begin(), act.end() - 1), nullptr));
  EXPECT_EQ(refused.Palette, nullptr);
  EXPECT_EQ(heap_testing::LiveBlocks(), blocks);
  EXPECT_TRUE(Source.Act(act, nullptr));
}

INSTANTIATE_TEST_SUITE_P(Sources, BmpLoader,
                         ::testing::Values(Via::File, Via::Resource, Via::StoredMember,
                                           Via::CompressedMember),
                         [](const auto& Info) { return test::ViaName(Info.param); });

TEST(BmpFiles, MissingFilesAndFoldersAreNotImages) {
  test::TempDir dir;
  Outputs out;
  EXPECT_FALSE(LoadBmpFile(dir.Path() + "/none.bmp", &out.Palette, &out.Pixels, nullptr, nullptr));
  EXPECT_FALSE(LoadBmpFile(dir.Path(), &out.Palette, &out.Pixels, nullptr, nullptr));
  EXPECT_FALSE(LoadBmp24File(dir.Path(), &out.Pixels24, nullptr, nullptr));
  EXPECT_FALSE(LoadActFile(dir.Path(), &out.Palette));
  const std::string good = dir.Write("a.bmp", BuildBmp(Image8(2, 2, 0, 256)));
  EXPECT_FALSE(
      LoadBmpFile(good + std::string(1, '\0') + "x", &out.Palette, nullptr, nullptr, nullptr));
  EXPECT_EQ(out.Palette, nullptr);
}

TEST(BmpResources, FoundByNameOrIdentifierInTheirModuleOnly) {
  BmpLayout layout = Image8(2, 2, 2, 2);
  layout.FileHeader = false;
  static const Bytes resource = BuildBmp(layout);  // resources live in their module's storage
  TResourceRegistration byName(&resource, RT_BITMAP, "Logo", resource.data(), resource.size());
  TResourceRegistration byId(&resource, RT_BITMAP, MAKEINTRESOURCE(101), resource.data(),
                             resource.size());
  for (const char* name : {"Logo", "LOGO", "#101"}) {
    Outputs out;
    ASSERT_TRUE(LoadBmpResource(MainInstance(), name, &out.Palette, &out.Pixels, nullptr, nullptr))
        << name;
    EXPECT_EQ(out.Pixels[3], layout.Pixels[3]);
  }
  Outputs out;
  EXPECT_TRUE(LoadBmpResource(MainInstance(), MAKEINTRESOURCE(101), nullptr, &out.Pixels, nullptr,
                              nullptr));
  EXPECT_FALSE(
      LoadBmpResource(MainInstance(), MAKEINTRESOURCE(102), nullptr, nullptr, nullptr, nullptr));
  EXPECT_FALSE(LoadBmpResource(MainInstance(), "Other", nullptr, nullptr, nullptr, nullptr));
  // The library is another module: the program's resources are not its own.
  // (Text the library keeps: a function's address may be the program's own import stub.)
  const HINSTANCE library = ModuleOfAddress(PackReasonText(TPackReason::ReadFailed));
  ASSERT_NE(library, MainInstance());
  EXPECT_FALSE(LoadBmpResource(library, "Logo", nullptr, nullptr, nullptr, nullptr));
  EXPECT_FALSE(LoadBmp24Resource(nullptr, "Logo", nullptr, nullptr, nullptr));
}

}  // namespace
}  // namespace ovelta
