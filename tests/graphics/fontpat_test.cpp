// TFontPat: stepping through single- and double-byte characters, the index rules, recolouring
// without redrawing, size changes from both sides (the component and its font), the black font,
// and what the rendered patterns look like in the fixed-pitch gothic face.
#include <gtest/gtest.h>

#include <algorithm>
#include <vector>

#include "graphics/Ovfpat.h"
#include "platform/gdi/Graphics.h"
#include "platform/core/Heap.h"
#include "platform/core/Text.h"
#include "platform/core/HeapTesting_p.h"

namespace ovelta {
namespace {

using Bytes = std::vector<Byte>;

class FontPatTest : public ::testing::Test {
 protected:
  void SetUp() override {
    pat.SetOnChange([this](TObject* Sender) {
      EXPECT_EQ(Sender, &pat);
      ++changes;
    });
  }
  Bytes Pattern() const {
    return Bytes(pat.Pattern, pat.Pattern + static_cast<size_t>(pat.Size()) * pat.Size());
  }
  long Count(Byte Value) const {
    return std::count(pat.Pattern, pat.Pattern + static_cast<size_t>(pat.Size()) * pat.Size(),
                      Value);
  }
  // Every byte is the foreground or the background, and both occur (a glyph was drawn).
  void ExpectGlyph() const {
    EXPECT_GT(Count(pat.Foreground()), 0);
    EXPECT_GT(Count(pat.Background()), 0);
    EXPECT_EQ(Count(pat.Foreground()) + Count(pat.Background()), pat.Size() * pat.Size());
  }
  void ExpectBlank() const { EXPECT_EQ(Count(pat.Background()), pat.Size() * pat.Size()); }
  // The rightmost column holding a glyph pixel, or -1.
  int RightmostInk() const {
    int right = -1;
    for (int y = 0; y < pat.Size(); ++y)
      for (int x = 0; x < pat.Size(); ++x)
        if (pat.Pattern[y * pat.Size() + x] == pat.Foreground()) right = std::max(right, x);
    return right;
  }

  // Fonts need the GUI application before the first canvas is made.
  const bool gui = (EnsureGuiApplication(), true);
  TFontPat pat{nullptr};
  int changes = 0;
};

TEST_F(FontPatTest, StartsEmptyAtSize32WithAnEmHeightFont) {
  EXPECT_EQ(pat.Text(), "");
  EXPECT_EQ(pat.Index(), 0);
  EXPECT_EQ(pat.Size(), 32);
  EXPECT_EQ(pat.Foreground(), 0);
  EXPECT_EQ(pat.Background(), 255);
  ASSERT_NE(pat.Pattern, nullptr);
  EXPECT_EQ(GlobalSize(pat.Pattern), 32u * 32u);
  EXPECT_EQ(pat.Font()->Height(), -32);
  EXPECT_EQ(pat.Font()->Name(), Sjis("ＭＳ ゴシック"));
  EXPECT_EQ(pat.Font()->Pitch(), TFontPitch::fpFixed);
  EXPECT_EQ(pat.Font()->Color(), clBlack);
}

TEST_F(FontPatTest, EmptyTextGivesIndexZeroAndABlankPattern) {
  pat.SetText("A");
  pat.SetText("");
  EXPECT_EQ(pat.Index(), 0);
  ExpectBlank();
  EXPECT_EQ(changes, 2);
  EXPECT_EQ(pat.NextLetter(), 0);
  EXPECT_EQ(changes, 2);  // nothing happens without a letter
}

TEST_F(FontPatTest, DoubleByteCharacterThenALetter) {
  pat.SetText(Sjis("漢A"));
  ASSERT_EQ(pat.Text().size(), 3u);
  EXPECT_EQ(pat.Index(), 1);
  ExpectGlyph();
  const Bytes kanji = Pattern();
  EXPECT_EQ(pat.NextLetter(), 3);
  ExpectGlyph();
  EXPECT_NE(Pattern(), kanji);
  EXPECT_EQ(pat.NextLetter(), 0);
  ExpectBlank();
  EXPECT_EQ(pat.NextLetter(), 0);

  // The trail byte draws the whole character and steps on to the letter.
  pat.SetIndex(2);
  EXPECT_EQ(pat.Index(), 2);
  EXPECT_EQ(Pattern(), kanji);
  EXPECT_EQ(pat.NextLetter(), 3);
}

TEST_F(FontPatTest, ATrailByteInTheLeadRangeIsStillATrailByte) {
  // "メ" is 0x83 0x81: its second byte is also a lead-byte value.
  pat.SetText(Sjis("メA"));
  ASSERT_EQ(static_cast<Byte>(pat.Text()[1]), 0x81);
  const Bytes first = Pattern();
  pat.SetIndex(2);
  EXPECT_EQ(Pattern(), first);
  EXPECT_EQ(pat.NextLetter(), 3);
}

TEST_F(FontPatTest, NextLetterVisitsEveryCharacterOnce) {
  pat.SetText(Sjis("aあbメ。c"));  // 1 + 2 + 1 + 2 + 2 + 1 bytes
  std::vector<int> visited = {pat.Index()};
  while (int index = pat.NextLetter()) visited.push_back(index);
  EXPECT_EQ(visited, (std::vector<int>{1, 2, 4, 5, 7, 9}));
}

TEST_F(FontPatTest, IndexIsHeldToTheText) {
  pat.SetText("abc");
  pat.SetIndex(0);
  EXPECT_EQ(pat.Index(), 1);
  pat.SetIndex(-4);
  EXPECT_EQ(pat.Index(), 1);
  pat.SetIndex(99);
  EXPECT_EQ(pat.Index(), 3);
  pat.SetText("");
  pat.SetIndex(5);
  EXPECT_EQ(pat.Index(), 0);
  pat.SetIndex(-2);
  EXPECT_EQ(pat.Index(), -2);
  ExpectBlank();
}

TEST_F(FontPatTest, ColoursRecolourWithoutRedrawing) {
  pat.SetText("W");
  const Bytes drawn = Pattern();
  // A face change waits for the next rebuild: the recoloured pattern keeps the old shape.
  pat.Font()->SetBold(true);
  changes = 0;
  pat.SetFore(7);
  pat.SetBack(9);
  EXPECT_EQ(changes, 2);
  const Bytes recoloured = Pattern();
  for (size_t i = 0; i < drawn.size(); ++i) ASSERT_EQ(recoloured[i], drawn[i] == 0 ? 7 : 9) << i;
  pat.MakeFontPat();
  EXPECT_GT(Count(7), std::count(drawn.begin(), drawn.end(), Byte{0}));  // bold now
  pat.SetBack(7);
  EXPECT_EQ(Count(7), 32 * 32);
}

TEST_F(FontPatTest, SizeChangesAndTheirLimits) {
  pat.SetText("A");
  Byte* before = pat.Pattern;
  pat.SetSize(0);
  pat.SetSize(-1);
  EXPECT_EQ(pat.Size(), 32);
  EXPECT_EQ(pat.Pattern, before);
  pat.SetSize(16);
  EXPECT_EQ(pat.Size(), 16);
  EXPECT_EQ(GlobalSize(pat.Pattern), 256u);
  EXPECT_EQ(pat.Font()->Height(), -16);
  ExpectGlyph();

  // A block that cannot be had leaves the old size and pattern.
  before = pat.Pattern;
  heap_testing::FailAfter(0);
  pat.SetSize(64);
  heap_testing::FailAfter(-1);
  EXPECT_EQ(pat.Size(), 16);
  EXPECT_EQ(pat.Pattern, before);
  ExpectGlyph();
}

TEST_F(FontPatTest, FontHeightAndColourFollowTheComponent) {
  pat.SetText(Sjis("字"));
  pat.Font()->SetHeight(-24);
  EXPECT_EQ(pat.Size(), 24);
  EXPECT_EQ(GlobalSize(pat.Pattern), 24u * 24u);
  ExpectGlyph();
  pat.Font()->SetHeight(30);  // a cell height changes nothing here
  EXPECT_EQ(pat.Size(), 24);
  pat.Font()->SetColor(clRed);
  EXPECT_EQ(pat.Font()->Color(), clBlack);

  TFont other;
  other.SetHeight(-20);
  other.SetColor(clBlue);
  other.SetName(Sjis("ＭＳ ゴシック"));
  other.SetQuality(TFontQuality::fqAntialiased);
  pat.SetFont(&other);
  EXPECT_EQ(pat.Size(), 20);
  EXPECT_EQ(pat.Font()->Color(), clBlack);
  EXPECT_EQ(pat.Font()->Quality(), TFontQuality::fqNonAntialiased);
  ExpectGlyph();
}

TEST_F(FontPatTest, FixedPitchFaceDrawsHalfAndFullWidthCharacters) {
  pat.SetText("I");
  const int narrow = RightmostInk();
  pat.SetText(Sjis("漢"));
  const int wide = RightmostInk();
  EXPECT_GE(narrow, 0);
  EXPECT_LT(narrow, 16);  // a single-byte letter keeps to its half-width cell
  EXPECT_GE(wide, 16);
}

TEST(FontPatRegister, RegistersOnTheOveltaPage) {
  Ovfpat::Register();
  const auto classes = RegisteredComponents(kOveltaPage);
  EXPECT_NE(std::find(classes.begin(), classes.end(), "TFontPat"), classes.end());
}

TEST(FontPatOwnership, OwnerFreesThePatternAndItsSurface) {
  EnsureGuiApplication();
  const auto live = heap_testing::LiveBlocks();
  {
    TComponent owner(nullptr);
    auto* pat = new TFontPat(&owner);
    pat->SetText("x");
    pat->SetSize(8);
  }
  EXPECT_EQ(heap_testing::LiveBlocks(), live);
}

}  // namespace
}  // namespace ovelta
