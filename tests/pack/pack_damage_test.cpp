// Damaged and hostile packs: impossible counts, sizes and offsets refuse the load or the member
// without large allocations; invalid compressed streams fail their open; memory shortage on open
// gives null and leaves no block behind.
#include <cerrno>

#include "pack/Pack.h"
#include "pack_support.h"
#include "platform/core/Dialogs.h"
#include "platform/core/Text.h"
#include "platform/core/HeapTesting_p.h"
#include "support/MessageBoxRecorder.h"

namespace ovelta {
namespace {

using namespace pack_test;

class PackDamage : public ::testing::Test {
 protected:
  PackDamage() { heap_testing::ResetLargestRequest(); }
  ~PackDamage() override { heap_testing::FailAfter(-1); }

  bool Load(const std::string& Bytes, TCrcMode Mode = cmNon) {
    Stream = std::make_unique<TMemoryStream>();
    Stream->WriteBuffer(Bytes.data(), static_cast<std::int32_t>(Bytes.size()));
    Pack.SetCrcMode(Mode);
    return Pack.LoadPackStream(Stream.get());
  }

  TOvPack Pack;
  std::unique_ptr<TMemoryStream> Stream;
  test::MessageBoxRecorder Boxes;
};

constexpr std::size_t kSmallRequest = 1 << 20;

TEST_F(PackDamage, HeadersThatDoNotFitTheFileAreRefusedBeforeAllocating) {
  const std::vector<HandMember> one = {{"a", "", "abc"}};
  const struct {
    const char* What;
    std::int64_t DataSize, Count;
  } cases[] = {
      {"negative count", -1, 0xFFFFFFFF},
      {"huge count", -1, 0x7FFFFFFF},
      {"count one too many", -1, 2},
      {"negative data size", 0xFFFFFFF0, -1},
      {"data size past the end", 0x7FFFFFF0, -1},
      {"largest data size", 0x7FFFFFFF, -1},
  };
  for (Word version : {kPackVersion1, kPackVersion2, kPackVersion3}) {
    for (const auto& c : cases) {
      SCOPED_TRACE(std::string(c.What) + " in version " + std::to_string(version >> 8));
      heap_testing::ResetLargestRequest();
      for (TCrcMode mode : {cmNon, cmPackAll}) {
        EXPECT_FALSE(Load(HandPack(version, one, c.DataSize, c.Count), mode));
        EXPECT_FALSE(Pack.PackOpen());
        EXPECT_EQ(Pack.LastError().Reason, TPackReason::DamagedDirectory);
      }
      EXPECT_LT(heap_testing::LargestRequest(), kSmallRequest);
    }
  }
  EXPECT_TRUE(Boxes.Boxes().empty());
}

// What a file can be instead of a sound pack, and the reason each refusal gives.
TEST_F(PackDamage, RefusedLoadsSayWhy) {
  const std::vector<HandMember> one = {{"a", "", "abc"}};
  const std::string sound = HandPack(kPackVersion3, one);
  std::string unmarked = HandPack(kPackVersion3, one, -1, 2);  // a count that does not fit
  unmarked.replace(0, 6, "NoPack");
  std::string changed = sound;
  changed[kPackHeaderSize] ^= 1;  // a stored byte: the whole-pack check word no longer agrees
  const struct {
    const char* What;
    std::string Bytes;
    TPackReason Reason;
  } cases[] = {
      {"shorter than a header", "OvPack", TPackReason::NotAPack},
      {"text", "Dear reader, this is a letter and no pack at all.", TPackReason::NotAPack},
      {"a header not marked as a pack's that does not fit", unmarked, TPackReason::NotAPack},
      {"a changed byte", changed, TPackReason::CheckWordMismatch},
      {"no whole-pack check word", sound.substr(0, sound.size() - 2),
       TPackReason::CheckWordMismatch},
  };
  for (const auto& c : cases) {
    EXPECT_FALSE(Load(c.Bytes, cmPackAll)) << c.What;
    EXPECT_EQ(Pack.LastError().Reason, c.Reason) << c.What;
    EXPECT_EQ(Pack.LastError().SystemError, 0) << c.What;
  }
  ASSERT_TRUE(Load(sound, cmPackAll));
  EXPECT_FALSE(Pack.LastError());  // cleared by the success

  ScratchDir dir;
  EXPECT_FALSE(Pack.LoadPack(dir.File("absent.pak")));
  EXPECT_EQ(Pack.LastError().Reason, TPackReason::CannotOpen);
  EXPECT_EQ(Pack.LastError().SystemError, ENOENT);
  // A disk that fails its reads: the system's error comes with the reason.
  struct FailingDisk : TMemoryStream {
    std::int32_t Read(void*, std::int32_t) override {
      errno = EIO;
      throw EReadError("Cannot read");
    }
  } disk;
  disk.WriteBuffer(sound.data(), static_cast<std::int32_t>(sound.size()));
  EXPECT_FALSE(Pack.LoadPackStream(&disk));
  EXPECT_EQ(Pack.LastError().Reason, TPackReason::ReadFailed);
  EXPECT_EQ(Pack.LastError().SystemError, EIO);
  EXPECT_EQ(Pack.LastError().Text(), "read failure: Input/output error");
}

// With each member checked, a changed member fails its own open with a check-word mismatch, and
// a name not in the pack says so.
TEST_F(PackDamage, RefusedMemberOpensSayWhy) {
  std::string bytes = HandPack(kPackVersion3, {{"a", "", "first"}, {"b", "", "second"}});
  bytes[kPackHeaderSize] ^= 1;  // inside "a"
  ASSERT_TRUE(Load(bytes, cmEachFile));
  EXPECT_EQ(Pack.Ovfopen("a"), nullptr);
  EXPECT_EQ(Pack.LastError().Reason, TPackReason::CheckWordMismatch);
  EXPECT_EQ(Pack.Ovfopen("c"), nullptr);
  EXPECT_EQ(Pack.LastError().Reason, TPackReason::NoSuchMember);
  OvFILE* b = Pack.Ovfopen("b");
  ASSERT_NE(b, nullptr);
  EXPECT_FALSE(Pack.LastError());
  Pack.Ovfclose(b);
}

TEST_F(PackDamage, EntriesOutsideTheDataAreaFailOnlyTheirOwnOpen) {
  const std::string stream = CorvelStream(TextBytes(5000));
  HandMember good{"good", "", "fine bytes"};
  std::vector<HandMember> bad(8);
  bad[0] = {"negoff", "", "x"};
  bad[0].Offset = 0xFFFFFFF0;
  bad[1] = {"pastend", "", "x"};
  bad[1].Offset = 0x7FFFFFF0;
  bad[2] = {"longer", "", "x"};
  bad[2].CompSize = 1000;  // runs past the data area
  bad[3] = {"negsize", "", "x"};
  bad[3].Size = -5;
  bad[4] = {"negstored", "", "x"};
  bad[4].CompSize = -5;
  bad[5] = {"mismatch", "", "abcdef"};
  bad[5].Size = 100;  // stored unchanged, yet claims more bytes than it holds
  bad[6] = {"bomb", "", stream};
  bad[6].Comp = true;
  bad[6].Size = 0x7FFFFFF0;  // far more than its stream could expand to
  bad[7] = {"nostream", "", ""};
  bad[7].Comp = true;
  bad[7].Size = 100;  // a compressed member with no stored bytes
  std::vector<HandMember> members = bad;
  members.push_back(good);

  for (TCrcMode mode : {cmNon, cmPackAll, cmEachFile}) {
    ASSERT_TRUE(Load(HandPack(kPackVersion3, members), mode)) << mode;
    Boxes.Clear();
    const std::int64_t blocks = heap_testing::LiveBlocks();
    for (const auto& m : bad) {
      EXPECT_EQ(Pack.OvfopenComp(m.Name, true), nullptr) << m.Name;
      EXPECT_EQ(Pack.OvfopenComp(m.Name, false), nullptr) << m.Name;
      EXPECT_FALSE(Pack.OvMakeStream(m.Name)) << m.Name;
      EXPECT_EQ(Pack.LastError().Reason, TPackReason::DamagedMember) << m.Name;
    }
    EXPECT_EQ(heap_testing::LiveBlocks(), blocks);
    EXPECT_LT(heap_testing::LargestRequest(), kSmallRequest);
    // Checking each member, the user is told of every refused open as of a failed check word;
    // otherwise the opens fail quietly.
    if (mode == cmEachFile) {
      ASSERT_EQ(Boxes.Boxes().size(), 3 * bad.size());
      for (const auto& box : Boxes.Boxes()) {
        EXPECT_EQ(box.Text, Sjis("Packﾌｧｲﾙが壊れています。"));
        EXPECT_EQ(box.Caption, Sjis("CRCｴﾗｰ"));
        EXPECT_EQ(box.Flags, static_cast<unsigned>(MB_OK | MB_ICONSTOP));
      }
    } else {
      EXPECT_TRUE(Boxes.Boxes().empty()) << mode;
    }
    Boxes.Clear();
    std::unique_ptr<TMemoryStream> fine = Pack.OvMakeStream("good");
    ASSERT_TRUE(fine);
    EXPECT_EQ(fine->Size(), 10);
    EXPECT_TRUE(Boxes.Boxes().empty());
  }
}

TEST_F(PackDamage, InvalidCompressedStreamsFailTheOpenCleanly) {
  const std::string text = TextBytes(40000);
  const std::string stream = CorvelStream(text);
  const struct {
    const char* What;
    std::string Stored;
    std::int32_t Size;
  } cases[] = {
      // A match before the first byte: flag bit set, token of length 3 at distance 5.
      {"match before the start", std::string("\0\0\0\x80\x24", 5), 10},
      {"stream one byte short", stream.substr(0, stream.size() - 1),
       static_cast<std::int32_t>(text.size())},
      {"stream with a byte left over", stream + "x", static_cast<std::int32_t>(text.size())},
      {"size one too large", stream, static_cast<std::int32_t>(text.size()) + 1},
      {"size one too small", stream, static_cast<std::int32_t>(text.size()) - 1},
      {"random bytes", RandomBytes(3000, 9), 20000},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.What);
    HandMember m{"m", "", c.Stored};
    m.Comp = true;
    m.Size = c.Size;
    ASSERT_TRUE(Load(HandPack(kPackVersion3, {m}), cmPackAll));  // the check words agree
    const std::int64_t blocks = heap_testing::LiveBlocks();
    EXPECT_EQ(Pack.Ovfopen("m"), nullptr);
    EXPECT_EQ(Pack.LastError().Reason, TPackReason::DamagedMember);
    EXPECT_EQ(heap_testing::LiveBlocks(), blocks);
    // Read raw, the stored bytes are still there for whoever wants to look at them.
    OvFILE* raw = Pack.OvfopenComp("m", false);
    ASSERT_NE(raw, nullptr);
    Pack.Ovfclose(raw);
  }
  EXPECT_TRUE(Boxes.Boxes().empty());
}

TEST_F(PackDamage, OutOfMemoryOnOpenGivesNullAndLeavesNothingAllocated) {
  const std::string text = TextBytes(60000);
  HandMember packed{"packed", "", CorvelStream(text)};
  packed.Comp = true;
  packed.Size = static_cast<std::int32_t>(text.size());
  HandMember plain{"plain", "", "plain"};
  for (TCrcMode mode : {cmNon, cmEachFile}) {
    ASSERT_TRUE(Load(HandPack(kPackVersion3, {packed, plain}), mode));
    for (const char* name : {"packed", "plain"}) {
      // Fail the n-th allocation of the open for every n until the open no longer allocates.
      bool opened = false;
      for (int n = 0; n < 20 && !opened; ++n) {
        const std::int64_t blocks = heap_testing::LiveBlocks();
        heap_testing::FailAfter(n);
        OvFILE* f = Pack.Ovfopen(name);
        heap_testing::FailAfter(-1);
        if (!f) {
          EXPECT_EQ(heap_testing::LiveBlocks(), blocks) << name << " failing allocation " << n;
          EXPECT_EQ(Pack.LastError().Reason, TPackReason::OutOfMemory)
              << name << " failing allocation " << n;
          continue;
        }
        opened = true;
        std::string back(static_cast<std::size_t>(Pack.Ovfsize(f)), '\0');
        EXPECT_EQ(Pack.Ovfread(back.data(), static_cast<unsigned>(back.size()), 1, f), 1u);
        EXPECT_EQ(back, std::string(name) == "packed" ? text : "plain");
        Pack.Ovfclose(f);
        EXPECT_EQ(heap_testing::LiveBlocks(), blocks);
      }
      EXPECT_TRUE(opened) << name;
    }
  }
  EXPECT_TRUE(Boxes.Boxes().empty());
}

TEST_F(PackDamage, BuildingUnderMemoryShortageRecordsNoEntryWithoutItsBytes) {
  ScratchDir dir;
  WriteAll(dir.File("src"), TextBytes(100000));
  TOvPack writer;
  writer.SetReadOnly(false);
  ASSERT_TRUE(writer.NewPack(dir.File("w.pak")));
  for (int n = 0; n < 6; ++n) {
    heap_testing::FailAfter(n);
    const bool added = writer.AddFile("m" + std::to_string(n), dir.File("src"), true);
    heap_testing::FailAfter(-1);
    if (!added) {
      EXPECT_EQ(writer.CheckFileName("m" + std::to_string(n)), -1);
      EXPECT_EQ(writer.LastError().Reason, TPackReason::OutOfMemory);
    }
  }
  const int count = writer.GetFileNum();
  ASSERT_TRUE(writer.EndPack());

  TOvPack reader;
  reader.SetCrcMode(cmEachFile);
  ASSERT_TRUE(reader.LoadPack(dir.File("w.pak")));
  ASSERT_EQ(reader.GetFileNum(), count);
  for (int i = 0; i < count; ++i) {
    std::unique_ptr<TMemoryStream> m = reader.OvMakeStream(reader.GetFileName(i));
    ASSERT_TRUE(m) << reader.GetFileName(i);
    EXPECT_EQ(std::string(static_cast<char*>(m->Memory()), 100000), TextBytes(100000));
  }
  // Every failure went to the exception display; nothing from a check word.
  for (const auto& box : Boxes.Boxes()) EXPECT_NE(box.Caption, Sjis("CRCｴﾗｰ"));
}

}  // namespace
}  // namespace ovelta
