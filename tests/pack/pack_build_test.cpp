// Building packs: the bytes NewPack, AddFile, AddPack, DelFile and EndPack write, member names and
// their refusals, AddFile's messages, temporary files and progress.
#include <dirent.h>
#include <sys/stat.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <filesystem>
#include <mutex>
#include <thread>
#include <tuple>
#include <utility>

#include "pack/Pack.h"
#include "pack/PackNames.h"
#include "pack/PackWriter_p.h"
#include "pack_support.h"
#include "platform/core/Component.h"
#include "platform/core/Dialogs.h"
#include "platform/core/HeapTesting_p.h"
#include "platform/core/Text.h"
#include "support/MessageBoxRecorder.h"

namespace ovelta {
namespace {

using namespace pack_test;

// Moves the bound under which AddFile encodes in memory for the object's lifetime (0: every
// compressed member through a temporary file).
class MemoryEncodeBound {
 public:
  explicit MemoryEncodeBound(std::int64_t Bytes)
      : FBefore(pack_writer_testing::SetMemoryEncodeBound(Bytes)) {}
  ~MemoryEncodeBound() { pack_writer_testing::SetMemoryEncodeBound(FBefore); }
  MemoryEncodeBound(const MemoryEncodeBound&) = delete;
  MemoryEncodeBound& operator=(const MemoryEncodeBound&) = delete;

 private:
  std::int64_t FBefore;
};

// A writable pack component in a scratch directory.
class PackBuild : public ::testing::Test {
 protected:
  PackBuild() { Pack.SetReadOnly(false); }

  std::string Source(const std::string& Name, const std::string& Bytes) {
    WriteAll(Dir.File(Name), Bytes);
    return Dir.File(Name);
  }
  bool Add(const std::string& Name, const std::string& Bytes, bool Compress = false) {
    return Pack.AddFile(Name, Source("src_" + std::to_string(++FSources), Bytes), Compress);
  }
  // The entry at Index of a closed pack file, read straight from its bytes.
  static std::string EntryBytes(const std::string& File, int Index) {
    const std::uint32_t data_size = GetLE(File, 8, 4);
    return File.substr(16 + data_size + 48 * static_cast<std::size_t>(Index), 48);
  }
  static int TempFilesLeft(const std::string& Path) {
    int n = 0;
    DIR* d = ::opendir(Path.c_str());
    while (dirent* e = ::readdir(d)) n += std::string(e->d_name).rfind("OvTmp", 0) == 0;
    ::closedir(d);
    return n;
  }

  ScratchDir Dir;
  TOvPack Pack;
  test::MessageBoxRecorder Boxes;

 private:
  int FSources = 0;
};

TEST_F(PackBuild, EmptyPackClosedAtOnceIsHeaderAndCheckWord) {
  ASSERT_TRUE(Pack.NewPack(Dir.File("e.pak")));
  EXPECT_EQ(Pack.PackName(), Dir.File("e.pak"));
  EXPECT_TRUE(Pack.EndPack());
  EXPECT_FALSE(Pack.PackOpen());
  EXPECT_TRUE(Pack.PackName().empty());
  const std::string file = ReadAll(Dir.File("e.pak"));
  const std::string header("OvPack\x00\x03\0\0\0\0\0\0\0\0", 16);
  ASSERT_EQ(file.size(), 18u);
  EXPECT_EQ(file.substr(0, 16), header);
  EXPECT_EQ(GetLE(file, 16, 2), Crc(header));
}

TEST_F(PackBuild, MembersArePaddedToSixteenAndEntriesRecordEveryField) {
  ASSERT_TRUE(Pack.NewPack(Dir.File("p.pak")));
  const std::string one = "Z";
  const std::string thirty_two = RandomBytes(32, 1);
  const std::string src = Source("t", one);
  const FILETIME stamp = UnixTimeToFileTime(1600000000, 0);
  ASSERT_TRUE(SetFileLastWriteTime(src, stamp));
  ASSERT_TRUE(Pack.AddFile("one.bin", src, false));
  ASSERT_TRUE(Add("thirty2.dat", thirty_two));
  ASSERT_TRUE(Pack.EndPack());

  const std::string file = ReadAll(Dir.File("p.pak"));
  ASSERT_EQ(file.size(), 16u + 16 + 32 + 2 * 48 + 2);
  EXPECT_EQ(GetLE(file, 8, 4), 48u);  // data size, padding included
  EXPECT_EQ(GetLE(file, 12, 4), 2u);  // count
  EXPECT_EQ(file.substr(16, 16), std::string("Z") + std::string(15, '\0'));
  EXPECT_EQ(file.substr(32, 32), thirty_two);

  const std::string first = EntryBytes(file, 0);
  EXPECT_EQ(first.substr(0, 24), std::string("one", 3) + std::string(18, '\0') + "bin");
  EXPECT_EQ(GetLE(first, 24, 4), 0u);  // offset
  EXPECT_EQ(GetLE(first, 28, 4), 1u);  // size
  EXPECT_EQ(GetLE(first, 32, 4), 1u);  // stored size
  EXPECT_EQ(first[36], 0);             // not compressed
  EXPECT_EQ(first[37], 1);             // check flag
  EXPECT_EQ(GetLE(first, 38, 2), Crc(one));
  EXPECT_EQ(GetLE(first, 40, 4), stamp.dwLowDateTime);
  EXPECT_EQ(GetLE(first, 44, 4), stamp.dwHighDateTime);
  const std::string second = EntryBytes(file, 1);
  EXPECT_EQ(GetLE(second, 24, 4), 16u);
  EXPECT_EQ(GetLE(second, 38, 2), Crc(thirty_two));
  EXPECT_EQ(GetLE(file, file.size() - 2, 2), Crc(file.substr(0, file.size() - 2)));
}

TEST_F(PackBuild, CompressedMemberHoldsTheCorvelStreamAndReadsBack) {
  const std::string text = TextBytes(100000);
  ASSERT_TRUE(Pack.NewPack(Dir.File("c.pak")));
  ASSERT_TRUE(Add("text.txt", text, true));
  ASSERT_TRUE(Pack.EndPack());
  EXPECT_EQ(TempFilesLeft(Dir.Path()), 0);

  const std::string file = ReadAll(Dir.File("c.pak"));
  const std::string stream = CorvelStream(text);
  const std::string entry = EntryBytes(file, 0);
  EXPECT_EQ(entry[36], 1);
  EXPECT_EQ(GetLE(entry, 28, 4), text.size());
  EXPECT_EQ(GetLE(entry, 32, 4), stream.size());
  EXPECT_EQ(file.substr(16, stream.size()), stream);
  EXPECT_EQ(GetLE(entry, 38, 2), Crc(stream));

  Pack.SetReadOnly(true);
  ASSERT_TRUE(Pack.LoadPack(Dir.File("c.pak")));
  OvFILE* f = Pack.Ovfopen("TEXT.TXT");
  ASSERT_NE(f, nullptr);
  std::string back(text.size(), '\0');
  EXPECT_EQ(Pack.Ovfread(back.data(), 1, static_cast<unsigned>(back.size()), f), back.size());
  EXPECT_EQ(back, text);
  Pack.Ovfclose(f);
}

TEST_F(PackBuild, SmallEmptyAndIncompressibleFilesAreStoredUnchanged) {
  ASSERT_TRUE(Pack.NewPack(Dir.File("s.pak")));
  const std::string noise = RandomBytes(5000, 2);
  ASSERT_TRUE(Add("noise.bin", noise, true));
  ASSERT_TRUE(Add("abc.txt", "abc", true));  // five stream bytes would not be smaller
  ASSERT_TRUE(Add("empty", "", true));
  EXPECT_EQ(TempFilesLeft(Dir.Path()), 0);
  ASSERT_TRUE(Pack.EndPack());
  const std::string file = ReadAll(Dir.File("s.pak"));
  EXPECT_EQ(GetLE(file, 8, 4), 5008u + 16u);  // the empty member takes no data bytes
  for (int i = 0; i < 3; ++i) EXPECT_EQ(EntryBytes(file, i)[36], 0) << i;
  const std::string empty = EntryBytes(file, 2);
  EXPECT_EQ(GetLE(empty, 24, 4), 5024u);
  EXPECT_EQ(GetLE(empty, 28, 4), 0u);
  EXPECT_EQ(GetLE(empty, 32, 4), 0u);
  EXPECT_EQ(GetLE(empty, 38, 2), 0xFFFFu);

  Pack.SetReadOnly(true);
  ASSERT_TRUE(Pack.LoadPack(Dir.File("s.pak")));
  OvFILE* f = Pack.Ovfopen("empty");
  ASSERT_NE(f, nullptr);
  char c;
  EXPECT_EQ(Pack.Ovfread(&c, 1, 1, f), 0u);
  Pack.Ovfclose(f);
}

TEST_F(PackBuild, NameRulesAndTheirMessages) {
  SetApplicationTitle("PackTest");
  ASSERT_TRUE(Pack.NewPack(Dir.File("n.pak")));
  ASSERT_TRUE(Add("README.TXT", "r"));
  const int before = Pack.GetFileNum();

  // Taken names (without regard to ASCII case), names too long, names whose stored form is taken,
  // names with an empty base name: each refused with the invalid-name message.
  const std::vector<std::pair<std::string, TPackReason>> refused = {
      {"readme.txt", TPackReason::NameTaken},
      {"abcdefghijklmnopqrstuvwxy.z", TPackReason::BadName},
      {".txt", TPackReason::BadName},
      {".", TPackReason::BadName},
      {"", TPackReason::BadName}};
  for (const auto& [name, reason] : refused) {
    Boxes.Clear();
    EXPECT_FALSE(Add(name, "x")) << name;
    EXPECT_EQ(Pack.LastError().Reason, reason) << name;
    ASSERT_EQ(Boxes.Boxes().size(), 1u) << name;
    EXPECT_EQ(Boxes.Boxes()[0].Text, Sjis("ファイル名") + name + Sjis("が不正です。"));
    EXPECT_EQ(Boxes.Boxes()[0].Caption, "PackTest");
    EXPECT_EQ(Boxes.Boxes()[0].Flags & MB_ICONSTOP, MB_ICONSTOP);
  }
  EXPECT_EQ(Pack.GetFileNum(), before);

  // 25 bytes without a dot: kept as its first 21; found only by that form.
  const std::string long_name = "abcdefghijklmnopqrstuvwxy";
  ASSERT_TRUE(Add(long_name, "L"));
  EXPECT_EQ(Pack.GetFileName(Pack.GetFileNum() - 1), long_name.substr(0, 21));
  EXPECT_EQ(Pack.CheckFileName(long_name), -1);
  EXPECT_EQ(Pack.CheckFileName(long_name.substr(0, 21)), Pack.GetFileNum() - 1);
  // ...and a second name that would be cut to the same 21 bytes is refused.
  EXPECT_FALSE(Add("abcdefghijklmnopqrstuvwxz", "M"));
  EXPECT_EQ(Pack.LastError().Reason, TPackReason::NameTaken);

  // The first dot splits: x.y.z has the base x and the extension y.z.
  ASSERT_TRUE(Add("x.y.z", "xyz"));
  char buffer[kPackNameBufferBytes];
  ASSERT_TRUE(Pack.GetFileName(Pack.GetFileNum() - 1, buffer));
  EXPECT_STREQ(buffer, "x.y.z");
  // An extension cut to three bytes must not let a second member in under the same stored name.
  ASSERT_TRUE(Add("a.text", "1"));
  EXPECT_FALSE(Add("a.texx", "2"));
  EXPECT_EQ(Pack.GetFileName(Pack.GetFileNum() - 1), "a.tex");
  // A name ending in a dot reads back without it.
  ASSERT_TRUE(Add("abc.", "3"));
  EXPECT_EQ(Pack.GetFileName(Pack.GetFileNum() - 1), "abc");

  // Double-byte characters are compared as they are: a trail byte in the a-z range is not
  // upper-cased, so these two different characters are two names.
  ASSERT_TRUE(Add("\x83\x61.txt", "da"));
  ASSERT_TRUE(Add("\x83\x41.txt", "a"));
  EXPECT_EQ(Pack.CheckFileName("\x83\x61.TXT"), Pack.GetFileNum() - 2);
}

TEST_F(PackBuild, AddFileReportsUnopenableSourcesAndMissingTemporaryNames) {
  ASSERT_TRUE(Pack.NewPack(Dir.File("m.pak")));
  const std::string missing = Dir.File("no-such-file");
  EXPECT_FALSE(Pack.AddFile("a.txt", missing, false));
  EXPECT_EQ(Pack.LastError().Reason, TPackReason::CannotOpen);
  EXPECT_EQ(Pack.LastError().SystemError, ENOENT);
  ASSERT_EQ(Boxes.Boxes().size(), 1u);
  EXPECT_EQ(Boxes.Boxes()[0].Text, Sjis("ファイル") + missing + Sjis("が開けません。"));
  EXPECT_EQ(Pack.GetFileNum(), 0);

  // Every temporary name taken: compression through a file cannot start, the member is not added.
  for (int i = 0; i < 1000; ++i) {
    char name[32];
    std::snprintf(name, sizeof name, "OvTmp%03d.Corvel", i);
    WriteAll(Dir.File(name), "");
  }
  {
    MemoryEncodeBound through_files(0);
    Boxes.Clear();
    EXPECT_FALSE(Add("b.txt", TextBytes(1000), true));
    EXPECT_EQ(Pack.LastError().Reason, TPackReason::NoTempFile);
    ASSERT_EQ(Boxes.Boxes().size(), 1u);
    EXPECT_EQ(Boxes.Boxes()[0].Text, Sjis("テンポラリファイルが作れません。"));
    EXPECT_EQ(Pack.GetFileNum(), 0);
  }
  // Stored members, and compressed ones within the bound, need no temporary file; the others
  // were left alone.
  EXPECT_TRUE(Add("b.txt", TextBytes(1000), false));
  EXPECT_FALSE(Pack.LastError());  // cleared by the success
  EXPECT_TRUE(Add("c.txt", TextBytes(1000), true));
  EXPECT_TRUE(Pack.GetFileIsComp(1));
  EXPECT_EQ(TempFilesLeft(Dir.Path()), 1000);
}

// Members within the bound are encoded in memory, the others through a temporary file: the pack
// must be byte for byte the one built with every member through a file, with the same progress.
// Below, at and above the bound: compressible text, noise (its stream is cut off in memory once it
// is not smaller) and files too small to compress.
TEST_F(PackBuild, EncodingInMemoryWritesThePackTheTemporaryFileWrites) {
  constexpr std::int64_t kBound = 262144;
  const std::vector<std::string> contents = {TextBytes(20000),
                                             TextBytes(kBound),
                                             TextBytes(kBound + 1),
                                             TextBytes(600000),
                                             RandomBytes(200000, 5),
                                             RandomBytes(300000, 6),
                                             "abc",
                                             "x",
                                             ""};
  constexpr std::size_t kCutOff = 4;
  std::vector<std::vector<int>> progress;
  Pack.SetOnProgress([&](TObject*) { progress.back().push_back(Pack.ProgPercent()); });
  auto build = [&](std::int64_t Bound, const std::string& Pak) {
    MemoryEncodeBound bound(Bound);
    progress.clear();
    EXPECT_TRUE(Pack.NewPack(Dir.File(Pak)));
    for (std::size_t i = 0; i < contents.size(); ++i) {
      progress.emplace_back();
      EXPECT_TRUE(Pack.AddFile("m" + std::to_string(i), Dir.File("in" + std::to_string(i)), true));
    }
    EXPECT_TRUE(Pack.EndPack());
    EXPECT_EQ(TempFilesLeft(Dir.Path()), 0);
    return std::pair(ReadAll(Dir.File(Pak)), progress);
  };
  for (std::size_t i = 0; i < contents.size(); ++i) Source("in" + std::to_string(i), contents[i]);
  const auto [in_memory, memory_progress] = build(kBound, "mem.pak");
  const auto [through_files, file_progress] = build(0, "file.pak");
  EXPECT_TRUE(!in_memory.empty() && in_memory == through_files);
  for (std::size_t i = 0; i < contents.size(); ++i) {
    if (i == kCutOff) continue;
    EXPECT_EQ(memory_progress[i], file_progress[i]) << i;
  }
  // Cut off: fewer reports, but still 0 .. 100 for the encoding, then 0 .. 100 for the copy.
  const std::vector<int>& cut = memory_progress[kCutOff];
  EXPECT_LT(cut.size(), file_progress[kCutOff].size());
  EXPECT_TRUE(cut.size() > 2 && cut.front() == 0 && cut.back() == 100);
  EXPECT_NE(
      std::adjacent_find(cut.begin(), cut.end(), [](int A, int B) { return A == 100 && B == 0; }),
      cut.end());
}

// An incompressible file encoded through a temporary file is copied unchanged once its temporary
// file is gone: an interruption meanwhile, whose clean-up knows only open files, leaves nothing.
TEST_F(PackBuild, TemporaryFileIsGoneBeforeAnIncompressibleFileIsCopied) {
  MemoryEncodeBound bound(0);
  ASSERT_TRUE(Pack.NewPack(Dir.File("r.pak")));
  bool copying = false;
  int last = -1;
  int whileEncoding = 0;
  int whileCopying = 0;
  Pack.SetOnProgress([&](TObject*) {
    copying = copying || Pack.ProgPercent() < last;  // the copy reports from 0 again
    last = Pack.ProgPercent();
    (copying ? whileCopying : whileEncoding) += TempFilesLeft(Dir.Path());
  });
  const bool added = Add("noise.bin", RandomBytes(200000, 8), true);
  Pack.SetOnProgress(nullptr);  // the pack outlives what the handler uses
  ASSERT_TRUE(added);
  EXPECT_FALSE(Pack.GetFileIsComp(0));
  EXPECT_TRUE(copying);
  EXPECT_GT(whileEncoding, 0);  // it did go through the temporary file
  EXPECT_EQ(whileCopying, 0);
}

// A source that comes short, or no memory, gives the reason and the message the temporary-file
// path gives, and adds nothing.
TEST_F(PackBuild, EncodingInMemoryFailsAsTheTemporaryFilePathFails) {
  ASSERT_TRUE(Pack.NewPack(Dir.File("f.pak")));
  using Outcome = std::tuple<bool, TPackReason, int, std::string>;
  auto attempt = [&](std::int64_t Bound, const std::string& Path, bool NoMemory) {
    MemoryEncodeBound bound(Bound);
    Boxes.Clear();
    if (NoMemory) heap_testing::FailAfter(0);
    const bool added = Pack.AddFile("m", Path, true);
    heap_testing::FailAfter(-1);
    EXPECT_EQ(TempFilesLeft(Dir.Path()), 0);
    return Outcome(added, Pack.LastError().Reason, Pack.LastError().SystemError,
                   Boxes.Boxes().empty() ? "" : Boxes.Boxes()[0].Text);
  };
  const std::string text = Source("text", TextBytes(50000));
  const Outcome no_memory = attempt(0, text, true);
  EXPECT_EQ(no_memory, Outcome(false, TPackReason::OutOfMemory, 0, Sjis("メモリが足りません。")));
  EXPECT_EQ(attempt(kPackMemoryEncodeBound, text, true), no_memory);
  // A sysfs attribute claims 4096 bytes and reads fewer.
  const std::string short_file = "/sys/devices/system/cpu/online";
  if (::access(short_file.c_str(), R_OK) == 0 && ReadAll(short_file).size() < 4096) {
    const Outcome short_read = attempt(0, short_file, false);
    EXPECT_EQ(short_read, Outcome(false, TPackReason::ReadFailed, 0,
                                  Sjis("ファイル") + short_file + Sjis("が読めません。")));
    EXPECT_EQ(attempt(kPackMemoryEncodeBound, short_file, false), short_read);
  }
  EXPECT_EQ(Pack.GetFileNum(), 0);
}

TEST_F(PackBuild, ReadOnlyRefusesEveryChange) {
  TOvPack reader;  // ReadOnly by default
  EXPECT_FALSE(reader.NewPack(Dir.File("r.pak")));
  EXPECT_EQ(reader.LastError().Reason, TPackReason::ReadOnly);
  ASSERT_TRUE(Pack.NewPack(Dir.File("r.pak")));
  ASSERT_TRUE(Add("a", "a"));
  Pack.SetReadOnly(true);  // ignored while open
  EXPECT_FALSE(Pack.ReadOnly());
  ASSERT_TRUE(Pack.EndPack());

  ASSERT_TRUE(reader.LoadPack(Dir.File("r.pak")));
  reader.SetReadOnly(false);
  EXPECT_TRUE(reader.ReadOnly());
  EXPECT_FALSE(reader.AddFile("b", Source("b", "b"), false));
  EXPECT_EQ(reader.LastError().Reason, TPackReason::ReadOnly);
  EXPECT_FALSE(reader.DelFile("a"));
  EXPECT_EQ(reader.LastError().Reason, TPackReason::ReadOnly);
  EXPECT_TRUE(Boxes.Boxes().empty());
  const std::string before = ReadAll(Dir.File("r.pak"));
  EXPECT_TRUE(reader.EndPack());
  EXPECT_EQ(ReadAll(Dir.File("r.pak")), before);
}

TEST_F(PackBuild, DeletedEntriesStayCountedAndCannotBeOpened) {
  ASSERT_TRUE(Pack.NewPack(Dir.File("d.pak")));
  ASSERT_TRUE(Add("gone.txt", "deleted bytes"));
  ASSERT_TRUE(Add("kept.txt", "kept bytes"));
  ASSERT_TRUE(Pack.EndPack());
  const auto size_before = ReadAll(Dir.File("d.pak")).size();

  ASSERT_TRUE(Pack.LoadPack(Dir.File("d.pak")));
  EXPECT_TRUE(Pack.DelFile("GONE.TXT"));
  EXPECT_FALSE(Pack.DelFile("gone.txt"));
  EXPECT_EQ(Pack.LastError().Reason, TPackReason::NoSuchMember);
  EXPECT_FALSE(Pack.DelFile(""));  // the blank entry is not "deleted" twice
  EXPECT_EQ(Pack.GetFileNum(), 2);
  EXPECT_EQ(Pack.GetFileName(0), "");
  EXPECT_EQ(Pack.GetFileSize(0), 0);
  FILETIME t;
  EXPECT_FALSE(Pack.GetFileTime(0, t));
  EXPECT_EQ(Pack.Ovfopen("gone.txt"), nullptr);
  EXPECT_EQ(Pack.Ovfopen(""), nullptr);  // an empty name does not reach the deleted bytes
  ASSERT_TRUE(Pack.EndPack());

  const std::string file = ReadAll(Dir.File("d.pak"));
  EXPECT_EQ(file.size(), size_before);
  EXPECT_EQ(EntryBytes(file, 0).substr(0, 24), std::string(24, '\0'));
  Pack.SetReadOnly(true);
  ASSERT_TRUE(Pack.LoadPack(Dir.File("d.pak")));  // the check word was rewritten
  std::unique_ptr<TMemoryStream> kept = Pack.OvMakeStream("kept.txt");
  ASSERT_TRUE(kept);
  EXPECT_EQ(std::string(static_cast<char*>(kept->Memory()), 10), "kept bytes");
}

TEST_F(PackBuild, ReopenedPackGrowsAndStaysWhole) {
  ASSERT_TRUE(Pack.NewPack(Dir.File("g.pak")));
  ASSERT_TRUE(Add("first", "first member"));
  ASSERT_TRUE(Pack.EndPack());
  ASSERT_TRUE(Pack.LoadPack(Dir.File("g.pak")));
  ASSERT_TRUE(Add("second", TextBytes(50000), true));
  // A refused addition after the directory was overwritten on disk leaves nothing half-done.
  EXPECT_FALSE(Pack.AddFile("third", Dir.File("absent"), false));
  ASSERT_TRUE(Pack.EndPack());

  TOvPack reader;
  ASSERT_TRUE(reader.LoadPack(Dir.File("g.pak")));
  ASSERT_EQ(reader.GetFileNum(), 2);
  std::unique_ptr<TMemoryStream> first = reader.OvMakeStream("first");
  std::unique_ptr<TMemoryStream> second = reader.OvMakeStream("second");
  ASSERT_TRUE(first && second);
  EXPECT_EQ(std::string(static_cast<char*>(first->Memory()), 12), "first member");
  EXPECT_EQ(std::string(static_cast<char*>(second->Memory()), 50000), TextBytes(50000));
}

TEST_F(PackBuild, AddPackCopiesStoredBytesBetweenPacks) {
  const std::string text = TextBytes(40000);
  ASSERT_TRUE(Pack.NewPack(Dir.File("src.pak")));
  ASSERT_TRUE(Add("text.txt", text, true));
  ASSERT_TRUE(Add("raw.bin", RandomBytes(100, 3)));
  ASSERT_TRUE(Pack.EndPack());

  TOvPack source;
  source.SetCrcMode(cmEachFile);
  ASSERT_TRUE(source.LoadPack(Dir.File("src.pak")));
  ASSERT_TRUE(Pack.NewPack(Dir.File("dst.pak")));
  EXPECT_TRUE(Pack.AddPack("copy.txt", &source, "TEXT.TXT"));
  EXPECT_TRUE(Pack.AddPack("raw.bin", &source, "raw.bin"));
  EXPECT_FALSE(Pack.AddPack("COPY.TXT", &source, "raw.bin"));  // name taken
  EXPECT_FALSE(Pack.AddPack("x", &source, "absent"));
  EXPECT_FALSE(Pack.AddPack("y", &Pack, "raw.bin"));  // a pack cannot copy from itself
  EXPECT_FALSE(Pack.AddPack("z", nullptr, "raw.bin"));
  EXPECT_TRUE(Boxes.Boxes().empty());
  ASSERT_TRUE(Pack.EndPack());

  TOvPack copy;
  copy.SetCrcMode(cmEachFile);
  ASSERT_TRUE(copy.LoadPack(Dir.File("dst.pak")));
  ASSERT_EQ(copy.GetFileNum(), 2);
  for (int i = 0; i < 2; ++i) {
    const TOvFileTable3* from = source.GetFileEntry(i);
    const TOvFileTable3* to = copy.GetFileEntry(i);
    EXPECT_EQ(to->Size, from->Size);
    EXPECT_EQ(to->CompSize, from->CompSize);
    EXPECT_EQ(to->Comp, from->Comp);
    EXPECT_EQ(to->Crc, from->Crc);
    EXPECT_EQ(to->CrcFlag, 1);
    EXPECT_EQ(FileTimeTicks(to->Time), FileTimeTicks(from->Time));
  }
  std::unique_ptr<TMemoryStream> back = copy.OvMakeStream("copy.txt");
  ASSERT_TRUE(back);
  EXPECT_EQ(std::string(static_cast<char*>(back->Memory()), text.size()), text);
}

TEST_F(PackBuild, ProgressPerBlockAndPerMebibyteOnClose) {
  const std::string big = RandomBytes(2621440, 4);  // 2.5 MiB, stored unchanged
  std::vector<int> seen;
  Pack.SetOnProgress([&](TObject* Sender) {
    EXPECT_EQ(Sender, &Pack);
    seen.push_back(Pack.ProgPercent());
  });
  ASSERT_TRUE(Pack.NewPack(Dir.File("big.pak")));
  ASSERT_TRUE(Add("big.bin", big));
  // The copy: 0 first, then one report per 32768-byte block, ending at 100.
  ASSERT_EQ(seen.size(), 1u + 80u);
  EXPECT_EQ(seen.front(), 0);
  EXPECT_EQ(seen[1], 1);
  EXPECT_EQ(seen.back(), 100);
  seen.clear();
  // The close reads 16 + 2621440 + 48 bytes back: 0, then before each MiB block.
  ASSERT_TRUE(Pack.EndPack());
  EXPECT_EQ(seen, (std::vector<int>{0, 39, 79, 100}));

  // Without a handler the value is left alone.
  TOvPack quiet;
  quiet.SetReadOnly(false);
  ASSERT_TRUE(quiet.NewPack(Dir.File("q.pak")));
  ASSERT_TRUE(quiet.AddFile("a", Dir.File("src_1"), false));
  EXPECT_EQ(quiet.ProgPercent(), 0);
}

TEST_F(PackBuild, TemporaryNamesAreTheFirstFree) {
  AnsiString name;
  ASSERT_TRUE(TOvPack::MakeTempFile(name));
  EXPECT_EQ(name, "OvTmp000.Corvel");
  WriteAll(Dir.File("OvTmp000.Corvel"), "");
  std::filesystem::create_directory(Dir.File("OvTmp001.Corvel"));  // a directory is no file
  ASSERT_TRUE(TOvPack::MakeTempFile(name));
  EXPECT_EQ(name, "OvTmp001.Corvel");
  // Tools that clean up after an interrupted addition know the names by the same rule.
  EXPECT_TRUE(pack_names::IsTempFileName(name.c_str()));
  for (const char* other : {"OvTmp01.Corvel", "OvTmp0001.Corvel", "OvTmp001.Corvel~",
                            "ovtmp001.corvel", "OvTmp00x.Corvel"})
    EXPECT_FALSE(pack_names::IsTempFileName(other)) << other;
}

// Packs built at the same time in one directory share the temporary names: each addition must
// get a file of its own. Every member must read back as its source, and no addition may fail.
TEST_F(PackBuild, PacksAddingAtOnceInOneDirectoryKeepEveryMember) {
  MemoryEncodeBound through_files(0);
  constexpr int kPacks = 4;
  constexpr int kMembers = 60;
  std::mutex lock;
  std::vector<std::string> shown;
  MessageBoxHandler previous =
      SetMessageBoxHandler([&](const AnsiString& Text, const AnsiString&, unsigned) {
        std::lock_guard<std::mutex> guard(lock);
        shown.push_back(Text);
        return 1;
      });
  auto content = [](int P, int M) {
    return "pack " + std::to_string(P) + " member " + std::to_string(M) + "\n" +
           TextBytes(static_cast<std::size_t>(300 + 37 * M + P));
  };
  auto source = [&](int P, int M) {
    return Dir.File("in_" + std::to_string(P) + "_" + std::to_string(M));
  };
  for (int p = 0; p < kPacks; ++p)
    for (int m = 0; m < kMembers; ++m) WriteAll(source(p, m), content(p, m));

  std::vector<int> added(kPacks, 0);
  std::vector<std::thread> writers;
  for (int p = 0; p < kPacks; ++p) {
    writers.emplace_back([&, p] {
      TOvPack pack;
      pack.SetReadOnly(false);
      if (!pack.NewPack(Dir.File("p" + std::to_string(p) + ".pak"))) return;
      for (int m = 0; m < kMembers; ++m) {
        added[static_cast<std::size_t>(p)] +=
            pack.AddFile("m" + std::to_string(m), source(p, m), true);
      }
      pack.EndPack();
    });
  }
  for (std::thread& writer : writers) writer.join();
  SetMessageBoxHandler(previous);

  EXPECT_TRUE(shown.empty()) << shown.size() << " failures, the first: " << shown.front();
  EXPECT_EQ(TempFilesLeft(Dir.Path()), 0);
  for (int p = 0; p < kPacks; ++p) {
    SCOPED_TRACE(p);
    EXPECT_EQ(added[static_cast<std::size_t>(p)], kMembers);
    TOvPack reader;
    reader.SetCrcMode(cmEachFile);
    ASSERT_TRUE(reader.LoadPack(Dir.File("p" + std::to_string(p) + ".pak")));
    int intact = 0;
    for (int m = 0; m < kMembers; ++m) {
      std::unique_ptr<TMemoryStream> back = reader.OvMakeStream("m" + std::to_string(m));
      intact +=
          back && back->Size() == static_cast<std::int64_t>(content(p, m).size()) &&
          std::string(static_cast<char*>(back->Memory()), content(p, m).size()) == content(p, m);
    }
    EXPECT_EQ(intact, kMembers);
  }
}

// A symbolic link planted under the first temporary name is neither followed nor removed: the
// addition takes the next name and the link's target stays as it was.
TEST_F(PackBuild, PlantedLinkAtATemporaryNameIsNotWrittenThrough) {
  MemoryEncodeBound through_files(0);
  const std::string victim = Dir.File("victim");
  WriteAll(victim, "precious");
  const std::error_code planted = test::PlantLink(victim, Dir.File("OvTmp000.Corvel"));
  if (test::LinksRefused(planted))
    GTEST_SKIP() << "this system makes no symbolic link for this user: " << planted.message();
  ASSERT_FALSE(planted) << planted.message();
  ASSERT_FALSE(test::PlantLink(Dir.File("nothing-here"), Dir.File("OvTmp001.Corvel")));
  const std::string text = TextBytes(20000);
  ASSERT_TRUE(Pack.NewPack(Dir.File("l.pak")));
  ASSERT_TRUE(Add("text.txt", text, true));
  ASSERT_TRUE(Pack.EndPack());

  EXPECT_EQ(ReadAll(victim), "precious");
  EXPECT_FALSE(test::Exists(Dir.File("nothing-here")));
  EXPECT_EQ(TempFilesLeft(Dir.Path()), 2);  // the two links, and nothing else
  ASSERT_TRUE(Pack.LoadPack(Dir.File("l.pak")));
  std::unique_ptr<TMemoryStream> back = Pack.OvMakeStream("text.txt");
  ASSERT_TRUE(back);
  EXPECT_EQ(std::string(static_cast<char*>(back->Memory()), text.size()), text);
}

// A pack another pack object has open is not emptied by NewPack: the second opener is refused, as
// a sharing violation would refuse it, and the reader keeps its members.
TEST_F(PackBuild, NewPackRefusesAPackThatIsOpenElsewhere) {
  ASSERT_TRUE(Pack.NewPack(Dir.File("shared.pak")));
  ASSERT_TRUE(Add("a.txt", TextBytes(5000)));
  ASSERT_TRUE(Pack.EndPack());
  const std::string before = ReadAll(Dir.File("shared.pak"));

  TOvPack reader;  // read-only: a shared lock
  ASSERT_TRUE(reader.LoadPack(Dir.File("shared.pak")));
  TOvPack writer;
  writer.SetReadOnly(false);
  EXPECT_FALSE(writer.NewPack(Dir.File("shared.pak")));
  EXPECT_EQ(writer.LastError().Reason, TPackReason::CannotOpen);
  EXPECT_EQ(writer.LastError().SystemError, EWOULDBLOCK);
  EXPECT_FALSE(writer.PackOpen());
  EXPECT_EQ(ReadAll(Dir.File("shared.pak")), before);
  std::unique_ptr<TMemoryStream> member = reader.OvMakeStream("a.txt");
  ASSERT_TRUE(member);
  EXPECT_EQ(member->Size(), 5000);
  reader.EndPack();

  // The other way round: a pack being built cannot be opened, not even for reading.
  ASSERT_TRUE(writer.NewPack(Dir.File("shared.pak")));
  EXPECT_FALSE(reader.LoadPack(Dir.File("shared.pak")));
  EXPECT_TRUE(Boxes.Boxes().empty());  // refused quietly, not reported as damage
  EXPECT_TRUE(writer.EndPack());
  EXPECT_TRUE(reader.LoadPack(Dir.File("shared.pak")));
}

}  // namespace
}  // namespace ovelta

namespace ovelta {
namespace {

using namespace pack_test;

// A stream whose every operation raises, as a failing device would.
class BrokenStream : public TStream {
 public:
  std::int32_t Read(void*, std::int32_t) override { throw EReadError("broken"); }
  std::int32_t Write(const void*, std::int32_t) override { throw EWriteError("broken"); }
  std::int64_t Seek(std::int64_t, TSeekOrigin) override { throw EStreamError("broken"); }
  void SetSize(std::int64_t) override { throw EStreamError("broken"); }
};

TEST(PackComponent, DefaultsRegistrationAndOwnerClosesThePack) {
  ScratchDir dir;
  {
    TComponent owner(nullptr);
    auto* pack = new TOvPack(&owner);
    EXPECT_EQ(pack->ClassName(), "TOvPack");
    EXPECT_TRUE(pack->ReadOnly());
    EXPECT_EQ(pack->CrcMode(), cmPackAll);
    EXPECT_EQ(pack->ProgPercent(), 0);
    EXPECT_FALSE(pack->PackOpen());
    EXPECT_EQ(pack->GetFileNum(), 0);
    pack->SetReadOnly(false);
    ASSERT_TRUE(pack->NewPack(dir.File("owned.pak")));
    WriteAll(dir.File("m"), "member");
    ASSERT_TRUE(pack->AddFile("m", dir.File("m"), false));
  }  // the owner frees the pack, which closes it
  TOvPack reader;
  ASSERT_TRUE(reader.LoadPack(dir.File("owned.pak")));
  EXPECT_EQ(reader.GetFileName(0), "m");

  Ovpack::Register();
  const auto classes = RegisteredComponents(kOveltaPage);
  EXPECT_NE(std::find(classes.begin(), classes.end(), "TOvPack"), classes.end());
}

TEST(PackTransfers, CopiesAndEncodingGiveTheirCheckWordsAndStreams) {
  const std::string text = TextBytes(70000);
  TMemoryStream source;
  source.WriteBuffer(text.data(), static_cast<std::int32_t>(text.size()));
  TOvPack pack;

  source.SetPosition(0);
  TMemoryStream copy;
  EXPECT_EQ(pack.FileCopy(&copy, &source, 70000), Crc(text));
  EXPECT_EQ(std::string(static_cast<char*>(copy.Memory()), 70000), text);

  source.SetPosition(0);
  TMemoryStream encoded;
  const std::string stream = CorvelStream(text);
  EXPECT_EQ(pack.FileEncode(&encoded, &source, 70000), static_cast<std::int32_t>(stream.size()));
  EXPECT_EQ(std::string(static_cast<char*>(encoded.Memory()), stream.size()), stream);

  // FileDecode needs exactly the stream: one byte missing fails, and nothing beyond Size is
  // written.
  std::string back(70000 + 16, '#');
  encoded.SetPosition(0);
  EXPECT_TRUE(
      pack.FileDecode(back.data(), &encoded, 70000, static_cast<std::int32_t>(stream.size())));
  EXPECT_EQ(back.substr(0, 70000), text);
  EXPECT_EQ(back.substr(70000), std::string(16, '#'));
  encoded.SetPosition(0);
  EXPECT_FALSE(
      pack.FileDecode(back.data(), &encoded, 70000, static_cast<std::int32_t>(stream.size()) - 1));

  // Exceptions of a stream stop at StreamRead / StreamWrite.
  BrokenStream broken;
  std::int32_t moved = -1;
  char buffer[8];
  EXPECT_FALSE(pack.StreamRead(&broken, buffer, 8, moved));
  EXPECT_EQ(moved, 0);
  EXPECT_FALSE(pack.StreamWrite(&broken, buffer, 8, moved));
  EXPECT_EQ(moved, 0);
  source.SetPosition(0);
  EXPECT_EQ(pack.FileEncode(&broken, &source, 70000), 0);
  EXPECT_FALSE(pack.LoadPackStream(&broken));
}

TEST(PackTransfers, EncodingAndDecodingReportProgressPerSlice) {
  ScratchDir dir;
  const std::string text = TextBytes(100000);
  WriteAll(dir.File("t"), text);
  TOvPack pack;
  std::vector<int> seen;
  pack.SetOnProgress([&](TObject*) { seen.push_back(pack.ProgPercent()); });
  pack.SetReadOnly(false);
  ASSERT_TRUE(pack.NewPack(dir.File("p.pak")));
  ASSERT_TRUE(pack.AddFile("t", dir.File("t"), true));
  // Encoding: 0, then after each 16384 bytes read, then 100 on the calls after the last read;
  // the copy of the stream follows from 0.
  const std::vector<int> reads = {0, 16, 32, 49, 65, 81, 98, 100};
  ASSERT_GT(seen.size(), reads.size());
  EXPECT_EQ(std::vector<int>(seen.begin(), seen.begin() + 8), reads);
  std::size_t i = reads.size();
  while (i < seen.size() && seen[i] == 100) ++i;
  ASSERT_LT(i, seen.size());
  EXPECT_EQ(seen[i], 0);  // the copy begins
  EXPECT_EQ(seen.back(), 100);
  ASSERT_TRUE(pack.EndPack());

  // Decoding: 0, then each time the decoder asks for the next 16384 stored bytes.
  pack.SetReadOnly(true);
  ASSERT_TRUE(pack.LoadPack(dir.File("p.pak")));
  const std::int64_t stored = pack.GetFileEntry(0)->CompSize;
  ASSERT_GT(stored, 16384);
  seen.clear();
  OvFILE* f = pack.Ovfopen("t");
  ASSERT_NE(f, nullptr);
  pack.Ovfclose(f);
  std::vector<int> expected = {0};
  for (std::int64_t read = 16384;; read += 16384) {
    expected.push_back(static_cast<int>(std::min(read, stored) * 100 / stored));
    if (read >= stored) break;
  }
  EXPECT_EQ(seen, expected);
}

TEST(PackTransfers, WriteFailuresAreReportedNotHidden) {
  ScratchDir dir;
  WriteAll(dir.File("m"), TextBytes(5000));
  test::MessageBoxRecorder boxes;
  TOvPack pack;
  pack.SetReadOnly(false);
  // A device that is always full: the pack opens, but nothing reaches it.
  ASSERT_TRUE(pack.NewPack("/dev/full"));
  EXPECT_FALSE(pack.AddFile("m", dir.File("m"), false));
  EXPECT_EQ(pack.LastError().Reason, TPackReason::WriteFailed);
  EXPECT_EQ(pack.LastError().SystemError, ENOSPC);
  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_EQ(boxes.Boxes()[0].Text, Sjis("ファイル") + "/dev/full" + Sjis("に書き込めません。"));
  EXPECT_EQ(pack.GetFileNum(), 0);
  EXPECT_FALSE(pack.EndPack());
  EXPECT_EQ(pack.LastError().Reason, TPackReason::WriteFailed);
  EXPECT_FALSE(pack.PackOpen());
}

}  // namespace
}  // namespace ovelta
