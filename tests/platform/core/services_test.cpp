// The plain platform services: the global heap, CP932 text and the message-box service.
#include <gtest/gtest.h>

#include "platform/core/Dialogs.h"
#include "platform/core/Heap.h"
#include "platform/core/Text.h"
#include "platform/core/HeapTesting_p.h"
#include "support/MessageBoxRecorder.h"

namespace ovelta {
namespace {

TEST(GlobalHeap, BlocksKeepTheirSizeZeroInitAndAreCounted) {
  std::int64_t before = heap_testing::LiveBlocks();
  HGLOBAL block = GlobalAlloc(GHND, 100);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(GlobalSize(block), 100u);
  auto* bytes = static_cast<unsigned char*>(GlobalLock(block));
  for (int i = 0; i < 100; ++i) ASSERT_EQ(bytes[i], 0);
  EXPECT_EQ(heap_testing::LiveBlocks(), before + 1);
  block = GlobalReAlloc(block, 300, GMEM_ZEROINIT);
  ASSERT_NE(block, nullptr);
  EXPECT_EQ(GlobalSize(block), 300u);
  EXPECT_EQ(static_cast<unsigned char*>(block)[299], 0);
  EXPECT_EQ(GlobalFree(block), nullptr);
  EXPECT_EQ(heap_testing::LiveBlocks(), before);
}

TEST(GlobalHeap, InjectedFailuresAndImpossibleSizesGiveNull) {
  heap_testing::FailAfter(1);
  GlobalBlock first(GlobalAlloc(GMEM_FIXED, 8));
  GlobalBlock second(GlobalAlloc(GMEM_FIXED, 8));
  heap_testing::FailAfter(-1);
  EXPECT_TRUE(first);
  EXPECT_FALSE(second);
  EXPECT_EQ(GlobalAlloc(GMEM_FIXED, SIZE_MAX), nullptr);
}

TEST(Cp932Text, LeadBytesAndRoundTrip) {
  EXPECT_FALSE(IsDBCSLeadByte(Byte{0x80}));
  EXPECT_TRUE(IsDBCSLeadByte(Byte{0x81}));
  EXPECT_TRUE(IsDBCSLeadByte(Byte{0x9F}));
  EXPECT_FALSE(IsDBCSLeadByte(Byte{0xA0}));
  EXPECT_FALSE(IsDBCSLeadByte(Byte{0xDF}));
  EXPECT_TRUE(IsDBCSLeadByte(Byte{0xE0}));
  EXPECT_TRUE(IsDBCSLeadByte(Byte{0xFC}));
  EXPECT_FALSE(IsDBCSLeadByte(Byte{0xFD}));

  AnsiString started = Sjis("* Merlig 開始");
  EXPECT_EQ(started, "* Merlig \x8A\x4A\x8E\x6E");
  EXPECT_EQ(Cp932ToUtf8(started), "* Merlig 開始");
  // Half-width katakana are single bytes.
  EXPECT_EQ(Sjis("ｴﾗｰ"), "\xB4\xD7\xB0");
}

TEST(Cp932Text, InvalidInputIsReplacedNotDropped) {
  EXPECT_EQ(Cp932ToUtf8("a\x81"), "a\xEF\xBF\xBD");
  EXPECT_EQ(Utf8ToCp932("a\xF0\x9F\x98\x80"
                        "b"),
            "a?b");  // an emoji has no CP932 form
}

TEST(MessageBoxes, RecorderSeesTextCaptionFlagsAndExceptionDisplayUsesTheTitle) {
  test::MessageBoxRecorder recorder;
  SetApplicationTitle("MERLIG");
  MessageBox("text", "caption", MB_ICONSTOP);
  ShowExceptionMessage("oops");
  ASSERT_EQ(recorder.Boxes().size(), 2u);
  EXPECT_EQ(recorder.Boxes()[0].Caption, "caption");
  EXPECT_EQ(recorder.Boxes()[0].Flags, MB_ICONSTOP);
  EXPECT_EQ(recorder.Boxes()[1].Text, "oops");
  EXPECT_EQ(recorder.Boxes()[1].Caption, "MERLIG");
  EXPECT_EQ(recorder.Boxes()[1].Flags & MB_ICONSTOP, MB_ICONSTOP);
}

}  // namespace
}  // namespace ovelta
