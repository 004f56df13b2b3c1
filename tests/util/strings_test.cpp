// The text helpers: hstrncpy's bounds and double-byte rule, Ansiprintf at and beyond its local
// buffer, SeparateString's parts and HexToInt's digits.
#include <gtest/gtest.h>

#include <cstring>
#include <string>

#include "platform/core/Text.h"
#include "util/Ovelta.h"

namespace ovelta {
namespace {

// Runs hstrncpy into a buffer guarded by marker bytes, checks that nothing beyond Len + 1 bytes was
// written and that the result is Dest, and returns the copied text.
std::string Copy(const char* Source, unsigned Len, bool StopAtComma) {
  constexpr char kMarker = '#';
  char buffer[64];
  std::memset(buffer, kMarker, sizeof buffer);
  EXPECT_LT(Len + 1, sizeof buffer);
  EXPECT_EQ(hstrncpy(buffer, Source, Len, StopAtComma), buffer);
  const std::size_t copied = std::strlen(buffer);
  EXPECT_LE(copied, Len);
  for (std::size_t i = Len + 1; i < sizeof buffer; ++i)
    EXPECT_EQ(buffer[i], kMarker) << "byte " << i;
  return std::string(buffer, copied);
}

TEST(Hstrncpy, DoubleByteCharactersAreNeverSplit) {
  const std::string three = Sjis("日本語");  // three double-byte characters
  EXPECT_EQ(Copy(three.c_str(), 5, false), three.substr(0, 4));
  EXPECT_EQ(Copy(three.c_str(), 6, false), three);
  EXPECT_EQ(Copy(three.c_str(), 1, false), "");
  const std::string mixed = "ab" + Sjis("字");
  EXPECT_EQ(Copy(mixed.c_str(), 4, false), mixed);
  EXPECT_EQ(Copy(mixed.c_str(), 3, false), "ab");
}

TEST(Hstrncpy, StopsAtCommaCarriageReturnTerminatorAndLength) {
  EXPECT_EQ(Copy("abc,def", 10, true), "abc");
  EXPECT_EQ(Copy("abc,def", 10, false), "abc,def");
  EXPECT_EQ(Copy("abc,def", 5, false), "abc,d");
  EXPECT_EQ(Copy("abc\rdef", 10, false), "abc");
  EXPECT_EQ(Copy("abc\rdef", 10, true), "abc");
  EXPECT_EQ(Copy("abc\ndef", 10, true), "abc\ndef");  // only CR ends a line here
  EXPECT_EQ(Copy("abcdef", 0, false), "");
  EXPECT_EQ(Copy("", 10, false), "");
}

TEST(Hstrncpy, UsesItsOwnFixedLeadByteRange) {
  // 0x80 and 0xE0 to 0xEF start a pair, so the comma after them is its second byte.
  EXPECT_EQ(Copy("\x80,x", 10, true), "\x80,x");
  EXPECT_EQ(Copy("\xEF,x", 10, true), "\xEF,x");
  // 0xF0 and the half-width katakana 0xA0 to 0xDF are single bytes.
  EXPECT_EQ(Copy("\xF0,x", 10, true), "\xF0");
  EXPECT_EQ(Copy("\xB1\xB2", 1, false), "\xB1");
}

TEST(Hstrncpy, LoneLeadByteBeforeTheTerminatorIsDropped) {
  EXPECT_EQ(Copy("ab\x88", 10, false), "ab");
  EXPECT_EQ(Copy("\xE0", 10, false), "");
}

TEST(Hstrncpy, NullArgumentsAreRefused) {
  char buffer[4] = "xyz";
  EXPECT_EQ(hstrncpy(buffer, nullptr, 3, false), buffer);
  EXPECT_STREQ(buffer, "xyz");
  EXPECT_EQ(hstrncpy(nullptr, "abc", 3, false), nullptr);
}

TEST(Ansiprintf, FormatsLikePrintf) {
  EXPECT_EQ(Ansiprintf("%d-%05.1f-%s-%c-%x", 42, 3.14159, "text", 'z', 255u), "42-003.1-text-z-ff");
  EXPECT_EQ(Ansiprintf("%s", ""), "");
  EXPECT_EQ(Ansiprintf("100%%"), "100%");
  const std::string sjis = Sjis("エラー");
  EXPECT_EQ(Ansiprintf("[%s]", sjis.c_str()), "[" + sjis + "]");
}

TEST(Ansiprintf, ResultsOfAnyLengthAreWholeAroundTheLocalBuffer) {
  for (std::size_t length : {1022u, 1023u, 1024u, 1025u, 4096u, 300000u}) {
    const std::string long_text(length, 'k');
    const std::string result = Ansiprintf("<%s>", long_text.c_str());
    ASSERT_EQ(result.size(), length + 2) << length;
    EXPECT_EQ(result, "<" + long_text + ">");
  }
  // Arguments after a long one are still read correctly by the second pass.
  const std::string wide(2000, 'w');
  EXPECT_EQ(Ansiprintf("%s|%d|%s", wide.c_str(), -7, "end"), wide + "|-7|end");
}

TEST(Ansiprintf, EncodingErrorGivesAnEmptyString) {
#ifdef _WIN32
  GTEST_SKIP() << "the Windows C runtime drops a wide character it cannot convert, without error";
#endif
  // A wide character with no form in the C locale's narrow encoding.
  const wchar_t bad[] = {0x3042, 0};
  EXPECT_EQ(Ansiprintf("x%lsy", bad), "");
}

struct SeparateCase {
  std::string Source;
  int Count;
  std::vector<std::string> Parts;
};

TEST(SeparateString, SplitsAtLineFeedsOnly) {
  const std::vector<SeparateCase> cases = {
      {"a\nb\n", 3, {"a", "b", ""}},   {"\nx", 2, {"", "x"}},
      {"a\nb\nc", 2, {"a", "b"}},      {"a\r\nb\r\n", 3, {"a\r", "b\r", ""}},
      {"a\rb", 2, {"a\rb", ""}},       {"", 2, {"", ""}},
      {"\n\n\n", 4, {"", "", "", ""}}, {"only", 1, {"only"}},
      {"x\n\ny", 3, {"x", "", "y"}},
  };
  for (const SeparateCase& test : cases) {
    SCOPED_TRACE(test.Source);
    std::vector<AnsiString> parts(test.Count + 1, "stale");
    SeparateString(test.Source, parts.data(), test.Count);
    for (int i = 0; i < test.Count; ++i) EXPECT_EQ(parts[i], test.Parts[i]) << "part " << i;
    EXPECT_EQ(parts[test.Count], "stale");  // nothing beyond Count is touched
  }
}

TEST(SeparateString, NothingToFill) {
  AnsiString part = "stale";
  SeparateString("a\nb", &part, 0);
  SeparateString("a\nb", &part, -1);
  EXPECT_EQ(part, "stale");
  SeparateString("a\nb", nullptr, 3);
}

TEST(HexToInt, ReadsUpToEightDigitsOfEitherCase) {
  EXPECT_EQ(HexToInt("ff"), 255);
  EXPECT_EQ(HexToInt("Ab"), 0xAB);
  EXPECT_EQ(HexToInt("123456789"), 0x12345678);
  EXPECT_EQ(HexToInt(""), 0);
  EXPECT_EQ(HexToInt("FFFFFFFF"), -1);
  EXPECT_EQ(HexToInt("80000000"), static_cast<int>(0x80000000u));
}

TEST(HexToInt, OtherCharactersCountAsZeroDigits) {
  EXPECT_EQ(HexToInt("0x1F"), 31);
  EXPECT_EQ(HexToInt("g1"), 0x01);
  EXPECT_EQ(HexToInt("1g"), 0x10);
  EXPECT_EQ(HexToInt("-1"), 0x01);
  EXPECT_EQ(HexToInt(" 1 "), 0x10);
}

TEST(HexToInt, DoubleByteCharactersTakeTwoPlacesAndAreUpperCasedAsTheSystemDoes) {
  // Full-width "Ｂ" is 0x82 0x61: its second byte is a small "a" and stays a zero digit.
  EXPECT_EQ(HexToInt(Sjis("Ｂ") + "1"), 0x001);
  // Cyrillic small "б" is 0x84 0x71; upper-cased it is "Б", 0x84 0x41, whose second byte is "A".
  EXPECT_EQ(HexToInt(Sjis("б")), 0x0A);
  EXPECT_EQ(HexToInt(Sjis("Б")), 0x0A);
  // Only the first 8 bytes count, even when they end inside a character.
  EXPECT_EQ(HexToInt("1234567" + Sjis("б")), 0x12345670);
}

}  // namespace
}  // namespace ovelta
