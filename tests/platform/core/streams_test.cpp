// File and memory streams, sharing locks, and FILETIME conversion.
#include <gtest/gtest.h>

#include <cerrno>
#include <cstdlib>
#include <cstring>
#include <filesystem>
#include <string>
#include <vector>

#include "platform/core/FileTime.h"
#include "platform/core/Streams.h"
#include "support/TempDir.h"

namespace ovelta {
namespace {

using test::TempDir;

TEST(FileStream, CreateWriteSeekReadAndResize) {
  TempDir dir;
  const std::string path = dir.File("a.bin");
  {
    TFileStream out(path, fmCreate);
    out.WriteBuffer("hello world", 11);
    EXPECT_EQ(out.Size(), 11);
    EXPECT_EQ(out.Seek(-5, TSeekOrigin::soEnd), 6);
    char word[5];
    out.ReadBuffer(word, 5);
    EXPECT_EQ(std::string(word, 5), "world");
    // Writing beyond the end fills the gap with zero bytes.
    out.Seek(20, TSeekOrigin::soBeginning);
    out.WriteBuffer("!", 1);
    EXPECT_EQ(out.Size(), 21);
    out.SetSize(5);
    EXPECT_EQ(out.Size(), 5);
    EXPECT_EQ(out.Position(), 5);
  }
  TFileStream in(path, fmOpenRead);
  char buffer[16] = {};
  EXPECT_EQ(in.Read(buffer, 16), 5);  // short read at the end, no exception
  EXPECT_EQ(std::string(buffer), "hello");
  EXPECT_EQ(in.Read(buffer, 16), 0);
  EXPECT_THROW(in.ReadBuffer(buffer, 1), EReadError);
  EXPECT_THROW(in.Seek(-1, TSeekOrigin::soBeginning), EStreamError);
  // A read-only stream refuses writes with an exception the pack code can catch.
  EXPECT_THROW(in.WriteBuffer("x", 1), EStreamError);
}

TEST(FileStream, OpenFailuresRaiseStreamErrorsNamingTheFile) {
  TempDir dir;
  try {
    TFileStream missing(dir.File("none"), fmOpenRead);
    FAIL() << "opened a missing file";
  } catch (const EFOpenError& e) {
    EXPECT_NE(std::string(e.what()).find("none"), std::string::npos);
    EXPECT_EQ(e.ClassName(), "EFOpenError");
  }
  EXPECT_THROW(TFileStream(dir.File("no/such/dir"), fmCreate), EFCreateError);
  EXPECT_THROW(TFileStream(dir.File(""), fmOpenRead), EFOpenError);  // a directory
  // Everything derives from Exception.
  EXPECT_THROW(TFileStream(dir.File("none"), fmOpenRead), Exception);
}

TEST(FileStream, DenyWriteSharingExcludesWritersNotReaders) {
  TempDir dir;
  const std::string path = dir.File("shared");
  { TFileStream make(path, fmCreate); }
  {
    TFileStream reader(path, fmOpenRead | fmShareDenyWrite);
    TFileStream second(path, fmOpenRead | fmShareDenyWrite);
    EXPECT_THROW(TFileStream(path, fmOpenReadWrite | fmShareDenyWrite), EFOpenError);
#ifdef _WIN32
    // The share modes stop every opener, one without a sharing mode too.
    EXPECT_THROW(TFileStream(path, fmOpenReadWrite), EFOpenError);
#else
    // An opener without a sharing mode is not stopped: the locks are advisory.
    TFileStream plain(path, fmOpenReadWrite);
#endif
  }
  {
    TFileStream writer(path, fmOpenReadWrite | fmShareDenyWrite);
    EXPECT_THROW(TFileStream(path, fmOpenRead | fmShareDenyWrite), EFOpenError);
  }
  {
    TFileStream only(path, fmOpenRead | fmShareExclusive);
    EXPECT_THROW(TFileStream(path, fmOpenRead | fmShareDenyWrite), EFOpenError);
  }
  TFileStream again(path, fmOpenReadWrite | fmShareDenyWrite);  // locks went with their streams
}

// Replacers exclude each other and writers in place, not deny-write readers; a file renamed over
// between the open and the lock is reported, so that the replacer opens the name again.
TEST(FileStream, ReplacingLockExcludesReplacersAndWritersInPlaceNotReaders) {
#ifdef _WIN32
  GTEST_SKIP() << "under Windows share modes a writable handle shuts deny-write readers out";
#endif
  TempDir dir;
  const std::string path = dir.File("pack");
  {
    TFileStream make(path, fmCreate);
    make.WriteBuffer("old", 3);
  }
  using R = TFileStream::TReplacing;
  {
    TFileStream refused(path, fmOpenReadWrite);
    {
      TFileStream reader(path, fmOpenRead | fmShareDenyWrite);
      TFileStream replacer(path, fmOpenReadWrite);
      EXPECT_EQ(replacer.LockForReplacing(), R::Locked);
      EXPECT_EQ(refused.LockForReplacing(), R::InUse);
      TFileStream laterReader(path, fmOpenRead | fmShareDenyWrite);
      EXPECT_THROW(TFileStream(path, fmOpenReadWrite | fmShareDenyWrite), EFOpenError);
      EXPECT_THROW(TFileStream(path, fmCreate), EFCreateError);
    }
    // The refused stream holds nothing: a writer in place gets in, and shuts replacers out.
    TFileStream writer(path, fmOpenReadWrite | fmShareDenyWrite);
    EXPECT_EQ(writer.Size(), 3);
    TFileStream replacer(path, fmOpenReadWrite);
    EXPECT_EQ(replacer.LockForReplacing(), R::InUse);
  }
  TFileStream late(path, fmOpenReadWrite);
  { TFileStream make(path + ".new", fmCreate); }
  ASSERT_EQ(std::rename((path + ".new").c_str(), path.c_str()), 0);
  EXPECT_EQ(late.LockForReplacing(), R::Replaced);
  TFileStream again(path, fmOpenReadWrite);
  EXPECT_EQ(again.LockForReplacing(), R::Locked);
}

// The same lock in an order that both platforms' sharing admits: a writable stream opens only while
// no stream with a sharing mode has the file open.
TEST(FileStream, ReplacingLockLetsReadersInAfterItAndReportsARenameOver) {
  TempDir dir;
  const std::string path = dir.File("pack");
  {
    TFileStream make(path, fmCreate);
    make.WriteBuffer("old", 3);
  }
  using R = TFileStream::TReplacing;
  {
    TFileStream replacer(path, fmOpenReadWrite);
    replacer.Seek(1, TSeekOrigin::soBeginning);
    ASSERT_EQ(replacer.LockForReplacing(), R::Locked);
    {
      TFileStream other(path, fmOpenReadWrite);
      EXPECT_EQ(other.LockForReplacing(), R::InUse);
    }
    TFileStream reader(path, fmOpenRead | fmShareDenyWrite);
    EXPECT_THROW(TFileStream(path, fmOpenReadWrite | fmShareDenyWrite), EFOpenError);
    char rest[2] = {};
    replacer.ReadBuffer(rest, 2);  // the locked stream reads on where it was
    EXPECT_EQ(std::string(rest, 2), "ld");
  }
  TFileStream late(path, fmOpenReadWrite);
  { TFileStream make(path + ".new", fmCreate); }
  // Moved aside, then replaced (Windows renames nothing over a file open for writing).
  std::filesystem::rename(path, path + ".old");
  std::filesystem::rename(path + ".new", path);
  EXPECT_EQ(late.LockForReplacing(), R::Replaced);
  TFileStream again(path, fmOpenReadWrite);
  EXPECT_EQ(again.LockForReplacing(), R::Locked);
}

// Creating is writing: a file another locking stream has open is not emptied under it.
TEST(FileStream, CreatingOverAFileInUseFailsAndLeavesItWhole) {
  TempDir dir;
  const std::string path = dir.File("busy");
  {
    TFileStream make(path, fmCreate);
    make.WriteBuffer("0123456789", 10);
  }
  {
    TFileStream reader(path, fmOpenRead | fmShareDenyWrite);
    EXPECT_THROW(TFileStream(path, fmCreate), EFCreateError);
    EXPECT_EQ(reader.Size(), 10);
  }
  {
    TFileStream creator(path, fmCreate);  // the lock is held until the stream goes
    EXPECT_EQ(creator.Size(), 0);
    EXPECT_THROW(TFileStream(path, fmOpenRead | fmShareDenyWrite), EFOpenError);
  }
}

TEST(FileStream, CreateNewRefusesEveryExistingNameAndNeverFollowsALink) {
  TempDir dir;
  const std::string target = dir.File("target");
  const std::string link = dir.File("link");
  // Dangling: its target does not exist.
  const std::error_code linked = test::PlantLink(target, link);
  if (test::LinksRefused(linked))
    GTEST_SKIP() << "this system makes no symbolic link for this user: " << linked.message();
  ASSERT_FALSE(linked) << linked.message();
  try {
    TFileStream planted(link, fmCreate | fmExclusive);
    FAIL() << "created through a symbolic link";
  } catch (const EFCreateError& e) {
    EXPECT_EQ(e.SystemError(), EEXIST);
  }
  EXPECT_FALSE(test::Exists(target));

  const std::string file = dir.File("file");
  {
    TFileStream fresh(file, fmCreate | fmExclusive);
    fresh.WriteBuffer("kept", 4);
  }
  EXPECT_THROW(TFileStream(file, fmCreate | fmExclusive), EFCreateError);
  TFileStream again(file, fmOpenRead);
  EXPECT_EQ(again.Size(), 4);
}

TEST(MemoryStream, GrowsReadsSeeksAndSizes) {
  TMemoryStream m;
  std::vector<char> data(100000);
  for (std::size_t i = 0; i < data.size(); ++i) data[i] = static_cast<char>(i * 7);
  for (std::size_t i = 0; i < data.size(); i += 1000) m.WriteBuffer(&data[i], 1000);
  EXPECT_EQ(m.Size(), 100000);
  EXPECT_EQ(std::memcmp(m.Memory(), data.data(), data.size()), 0);
  m.SetPosition(99990);
  char tail[20];
  EXPECT_EQ(m.Read(tail, 20), 10);
  EXPECT_EQ(m.Read(tail, 20), 0);
  // Seeking past the end then writing zero-fills the gap.
  m.Seek(10, TSeekOrigin::soEnd);
  m.WriteBuffer("z", 1);
  EXPECT_EQ(m.Size(), 100011);
  EXPECT_EQ(static_cast<char*>(m.Memory())[100005], 0);
  EXPECT_THROW(m.Seek(-1, TSeekOrigin::soBeginning), EStreamError);
  m.SetSize(3);
  EXPECT_EQ(m.Position(), 3);
  m.SetSize(8);  // grows with zero bytes
  EXPECT_EQ(static_cast<char*>(m.Memory())[7], 0);
  m.Clear();
  EXPECT_EQ(m.Size(), 0);
  EXPECT_EQ(m.Memory(), nullptr);
}

TEST(MemoryStream, ImpossibleSizeRaisesAndKeepsTheContents) {
  TMemoryStream m;
  m.WriteBuffer("abc", 3);
  EXPECT_THROW(m.SetSize(std::int64_t{1} << 62), EStreamError);
  EXPECT_EQ(m.Size(), 3);
  EXPECT_EQ(std::string(static_cast<char*>(m.Memory()), 3), "abc");
}

TEST(MemoryStream, FileRoundTripAndCopyFrom) {
  TempDir dir;
  TMemoryStream m;
  m.WriteBuffer("0123456789", 10);
  m.SaveToFile(dir.File("m"));
  TMemoryStream loaded;
  loaded.LoadFromFile(dir.File("m"));
  ASSERT_EQ(loaded.Size(), 10);
  EXPECT_EQ(std::string(static_cast<char*>(loaded.Memory()), 10), "0123456789");
  loaded.SetPosition(4);
  TMemoryStream copy;
  EXPECT_EQ(copy.CopyFrom(loaded, 3), 3);
  EXPECT_EQ(std::string(static_cast<char*>(copy.Memory()), 3), "456");
  EXPECT_THROW(copy.CopyFrom(loaded, 10), EReadError);  // only 3 bytes left
  EXPECT_THROW(loaded.LoadFromFile(dir.File("absent")), EFOpenError);
  EXPECT_EQ(loaded.Size(), 10);
}

TEST(FileTime, KnownInstantsConvertBothWays) {
  // 1970-01-01 is the Unix epoch; 1989-12-31 15:00:00 UTC is 631119600.
  FILETIME epoch = UnixTimeToFileTime(0, 0);
  EXPECT_EQ(FileTimeTicks(epoch), 116444736000000000ull);
  FILETIME old = UnixTimeToFileTime(631119600, 0);
  EXPECT_EQ(old.dwLowDateTime, 0xA8EE9800u);
  EXPECT_EQ(old.dwHighDateTime, 0x01B41DDEu);
  std::int64_t seconds = 0;
  std::int32_t nanoseconds = 0;
  FileTimeToUnixTime(UnixTimeToFileTime(1700000000, 123456789), seconds, nanoseconds);
  EXPECT_EQ(seconds, 1700000000);
  EXPECT_EQ(nanoseconds, 123456700);  // FILETIME keeps 100 ns
  // Before 1601 clamps to 0, negative nanoseconds normalise.
  EXPECT_EQ(FileTimeTicks(UnixTimeToFileTime(-20000000000LL, 0)), 0u);
  EXPECT_EQ(FileTimeTicks(UnixTimeToFileTime(1, -500000000)), 116444736000000000ull + 5000000ull);
}

TEST(FileTime, FileStampsAreReadAndSet) {
  TempDir dir;
  const std::string path = dir.File("t");
  { TFileStream make(path, fmCreate); }
  FILETIME wanted = UnixTimeToFileTime(1234567890, 500000000);
  ASSERT_TRUE(SetFileLastWriteTime(path, wanted));
  FILETIME seen{};
  ASSERT_TRUE(GetFileLastWriteTime(path, seen));
  EXPECT_EQ(FileTimeTicks(seen), FileTimeTicks(wanted));
  TFileStream open(path, fmOpenRead);
  EXPECT_EQ(FileTimeTicks(open.LastWriteTime()), FileTimeTicks(wanted));
  EXPECT_FALSE(GetFileLastWriteTime(dir.File("absent"), seen));
  EXPECT_FALSE(SetFileLastWriteTime(dir.File("absent"), wanted));
}

}  // namespace
}  // namespace ovelta
