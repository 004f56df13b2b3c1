// Members read ahead for extraction: what a worker gives is the member's bytes as Ovfopen reads
// them, and everything it cannot vouch for is left to the caller's own pack.
#include <gtest/gtest.h>

#include <cstdio>
#include <filesystem>
#include <system_error>
#include <string>
#include <vector>

#include "pack/Pack.h"
#include "pack/PackReadAhead.h"
#include "pack_support.h"
#include "support/MessageBoxRecorder.h"

namespace ovelta {
namespace {

using namespace pack_test;

// The member at Index as the caller's own pack reads it; nullopt-like "" with Ok false on failure.
std::string ReadOnPack(TOvPack& Pack, int Index, bool& Ok) {
  OvFILE* f = Pack.Ovfopen(Pack.GetFileName(Index));
  Ok = f != nullptr;
  std::string bytes(f ? static_cast<std::size_t>(Pack.Ovfsize(f)) : 0, '\0');
  if (f && !bytes.empty())
    Ok = Pack.Ovfread(bytes.data(), static_cast<unsigned>(bytes.size()), 1, f) == 1;
  Pack.Ovfclose(f);
  return bytes;
}

std::vector<int> AllIndexes(const TOvPack& Pack) {
  std::vector<int> all;
  for (int i = 0; i < Pack.GetFileNum(); ++i) all.push_back(i);
  return all;
}

// Index of each hand-built member below.
enum { kText, kStored, kEmpty, kBadStream, kBadCheckWord, kShadowed, kLarge, kAfter, kCount };

// A version-3 pack whose whole check word is sound (so it loads with cmPackAll) holding members a
// worker must read, and members it must leave to the caller: a stream that does not decode, a
// member whose own check word differs, a second member of an earlier member's name, and one
// above the budget the test uses.
std::string MixedPack() {
  const std::string text = TextBytes(50000);
  std::vector<HandMember> members(kCount);
  members[kText] = {"text", "txt", CorvelStream(text), static_cast<std::int32_t>(text.size()),
                    true};
  members[kStored] = {"noise", "bin", RandomBytes(7000, 2)};
  members[kEmpty] = {"empty", "", ""};
  members[kBadStream] = {"bad", "txt", RandomBytes(300, 3), 5000, true};
  members[kBadCheckWord] = {"crc", "txt", TextBytes(900)};
  members[kShadowed] = {"TEXT", "TXT", "the second of the name"};
  members[kLarge] = {"large", "bin", RandomBytes(1000000, 5)};
  members[kAfter] = {"after", "dat", RandomBytes(20000, 4)};
  std::string pack = HandPack(kPackVersion3, members);
  // Change the one member's own check word, then make the whole pack's word fit again.
  const std::size_t directory = pack.size() - 2 - kCount * sizeof(TOvFileTable3);
  const std::size_t crcAt =
      directory + kBadCheckWord * sizeof(TOvFileTable3) + offsetof(TOvFileTable3, Crc);
  pack[crcAt] = static_cast<char>(pack[crcAt] ^ 0x5A);
  pack.resize(pack.size() - 2);
  PutLE(pack, Crc(pack), 2);
  return pack;
}

TEST(PackReadAhead, WorkersGiveTheMembersOvfopenReadsAndLeaveTheRestToTheCaller) {
  ScratchDir dir;
  WriteAll(dir.File("m.pak"), MixedPack());
  test::MessageBoxRecorder boxes;
  TOvPack pack;
  ASSERT_TRUE(pack.LoadPack(dir.File("m.pak")));
  ASSERT_EQ(pack.GetFileNum(), kCount);
  // Room for any member but the large one.
  const std::int64_t budget = ReadAheadFootprint(*pack.GetFileEntry(kLarge)) - 1;
  for (int workers : {0, 1, 3}) {
    SCOPED_TRACE(workers);
    TMemberReadAhead ahead(pack, AllIndexes(pack), workers, budget);
    for (int i = 0; i < kCount; ++i) {
      SCOPED_TRACE(i);
      TReadMember member = ahead.Take();
      ASSERT_EQ(member.Index, i);
      const bool expected =
          workers > 0 && (i == kText || i == kStored || i == kEmpty || i == kAfter);
      ASSERT_EQ(member.Ready, expected);
      if (!member.Ready) continue;
      bool ok = false;
      const std::string direct = ReadOnPack(pack, i, ok);
      ASSERT_TRUE(ok);
      ASSERT_EQ(member.Size, static_cast<std::int32_t>(direct.size()));
      EXPECT_TRUE(direct ==
                  std::string(member.Data.As<char>() ? member.Data.As<char>() : "", direct.size()));
    }
    EXPECT_EQ(ahead.Take().Index, -1);
    EXPECT_LE(ahead.PeakHeld(), budget);
  }
  EXPECT_TRUE(boxes.Boxes().empty());  // workers show nothing, whatever they found
}

// Workers read only a pack whose load checked every byte, and only the file the caller has open.
TEST(PackReadAhead, OnlyTheCheckedPackTheCallerHasOpenIsReadAhead) {
  ScratchDir dir;
  const std::string text = TextBytes(20000);
  WriteAll(dir.File("a.pak"), HandPack(kPackVersion3, {{"a", "txt", text}}));
  WriteAll(dir.File("b.pak"), HandPack(kPackVersion3, {{"a", "txt", RandomBytes(20000, 8)}}));
  test::MessageBoxRecorder boxes;
  for (TCrcMode mode : {cmNon, cmEachFile}) {
    TOvPack pack;
    pack.SetCrcMode(mode);
    ASSERT_TRUE(pack.LoadPack(dir.File("a.pak")));
    TMemberReadAhead ahead(pack, {0}, 2);
    EXPECT_EQ(ahead.Workers(), 0);
    EXPECT_FALSE(ahead.Take().Ready);
  }
  TOvPack pack;
  ASSERT_TRUE(pack.LoadPack(dir.File("a.pak")));
  {
    TMemberReadAhead ahead(pack, {0}, 2);
    EXPECT_TRUE(ahead.Take().Ready);
  }
  // The name now holds another pack with the same member names: the workers see a directory that
  // is not the caller's and read nothing from it.
  // (Moved aside first: Windows renames nothing over a file that is open.)
  std::error_code renamed;
  std::filesystem::rename(dir.File("a.pak"), dir.File("old.pak"), renamed);
  if (!renamed) std::filesystem::rename(dir.File("b.pak"), dir.File("a.pak"), renamed);
  ASSERT_FALSE(renamed) << renamed.message();
  TMemberReadAhead ahead(pack, {0, 0}, 2);
  EXPECT_FALSE(ahead.Take().Ready);
  EXPECT_FALSE(ahead.Take().Ready);
}

}  // namespace
}  // namespace ovelta
