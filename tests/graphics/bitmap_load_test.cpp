// The BMP and ACT loaders on files, module resources and pack members written by the tests: colour
// tables, row padding, bottom-up order, the output-block rules, and refusal of damaged or hostile
// images with nothing allocated and no output touched.
#include <gtest/gtest.h>

#include <algorithm>
#include <cstring>
#include <iterator>
#include <functional>

#include "bitmap_source.h"
#include "graphics/Ovbitmap.h"
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
    {"top-down (negative height)",
     [](Bytes& b, std::size_t i) { test::PutLe(b, i + 8, 0xFFFFFFFE, 4); }},
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
  const HINSTANCE library = ModuleOfAddress(reinterpret_cast<const void*>(&LoadBmpFile));
  ASSERT_NE(library, MainInstance());
  EXPECT_FALSE(LoadBmpResource(library, "Logo", nullptr, nullptr, nullptr, nullptr));
  EXPECT_FALSE(LoadBmp24Resource(nullptr, "Logo", nullptr, nullptr, nullptr));
}

}  // namespace
}  // namespace ovelta
