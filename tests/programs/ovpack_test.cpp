// The ovpack tool end to end: the built program run on real files, its output and exit status,
// and the packs it writes read back through the library.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <unistd.h>

#include <dirent.h>

#include <algorithm>
#include <chrono>
#include <cstring>
#include <memory>
#include <thread>

#include "pack/pack_support.h"
#include "platform/core/Dialogs.h"
#include "platform/core/Text.h"
#include "support/ChildProcess.h"
#include "support/MessageBoxRecorder.h"

namespace ovelta {
namespace {

using namespace pack_test;

struct Result {
  int Status = -1;
  std::string Out;
  std::string Err;
};

// A run of ovpack ends within this long (it is stopped after that).
constexpr int kRunMs = 60000;
constexpr const char* kOvpack = MERLIG_BINARY_DIR "/programs/ovpack";

// Starts ovpack with Args in Dir, in Locale and UTC (and with Threads as OVPACK_THREADS when not
// empty, StopAt as OVPACK_TEST_STOP), its output going to files in Dir.
bool Start(test::ChildProcess& Child, const std::vector<std::string>& Args, const std::string& Dir,
           const char* Locale = "C.UTF-8", const std::string& Threads = "",
           const std::string& StopAt = "") {
  std::vector<std::string> argv = {kOvpack};
  argv.insert(argv.end(), Args.begin(), Args.end());
  test::ChildProcess::Options options;
  options.Directory = Dir;
  options.OutputFile = ".stdout";
  options.ErrorFile = ".stderr";
  options.Environment = {{"LC_ALL", Locale}, {"TZ", "UTC"}};
  if (!Threads.empty()) options.Environment.emplace_back("OVPACK_THREADS", Threads);
  if (!StopAt.empty()) options.Environment.emplace_back("OVPACK_TEST_STOP", StopAt);
  return Child.Start(argv, options);
}

// Starts ovpack with Args in Dir and waits until it has stopped itself at Point; false when it
// ended first.
bool StartStopped(test::ChildProcess& Child, const std::vector<std::string>& Args,
                  const std::string& Dir, const std::string& Point) {
  return Start(Child, Args, Dir, "C.UTF-8", "", Point) && Child.WaitStopped(kRunMs);
}

// Waits for the run Start began and collects what it said.
Result Finish(test::ChildProcess& Child, const std::string& Dir) {
  Result r;
  r.Status = Child.Wait(kRunMs);
  if (r.Status < 0) {
    Child.Stop();
    ADD_FAILURE() << "ovpack did not finish";
    return r;
  }
  r.Out = ReadAll(Dir + "/.stdout");
  r.Err = ReadAll(Dir + "/.stderr");
  return r;
}

Result Ovpack(const std::vector<std::string>& Args, const std::string& Dir,
              const char* Locale = "C.UTF-8", const std::string& Threads = "") {
  test::ChildProcess child;
  if (!Start(child, Args, Dir, Locale, Threads)) {
    ADD_FAILURE() << "ovpack could not be started";
    return Result();
  }
  return Finish(child, Dir);
}

// The names in Dir, sorted.
std::vector<std::string> Listing(const std::string& Dir) {
  std::vector<std::string> names;
  if (DIR* d = ::opendir(Dir.c_str())) {
    while (const dirent* e = ::readdir(d))
      if (std::strcmp(e->d_name, ".") != 0 && std::strcmp(e->d_name, "..") != 0)
        names.push_back(e->d_name);
    ::closedir(d);
  }
  std::sort(names.begin(), names.end());
  return names;
}

// The size of the first file in Dir whose name contains Part; -1 when there is none.
std::int64_t SizeOfFileWith(const std::string& Dir, const std::string& Part) {
  for (const std::string& name : Listing(Dir)) {
    struct stat info {};
    if (name.find(Part) != std::string::npos && ::stat((Dir + "/" + name).c_str(), &info) == 0)
      return info.st_size;
  }
  return -1;
}

std::int64_t MTime(const std::string& Path) {
  struct stat info {};
  ::stat(Path.c_str(), &info);
  return info.st_mtim.tv_sec;
}

class OvpackTool : public ::testing::Test {
 protected:
  OvpackTool() {
    WriteAll(Dir.File("text.txt"), TextBytes(60000));
    WriteAll(Dir.File("noise.bin"), RandomBytes(3000, 11));
    WriteAll(Dir.File("empty"), "");
    WriteAll(Dir.File("データ.txt"), "kana");
    for (const char* f : {"text.txt", "noise.bin", "empty", "データ.txt"})
      SetFileLastWriteTime(Dir.File(f),
                           UnixTimeToFileTime(1600000000, 0));  // 2020-09-13 12:26:40 UTC
    ::mkdir(Dir.File("out").c_str(), 0700);
  }
  Result Run(const std::vector<std::string>& Args) { return Ovpack(Args, Dir.Path()); }

  ScratchDir Dir;
  test::MessageBoxRecorder Boxes;  // for the library reading the packs back
};

TEST_F(OvpackTool, CreateListExtractRoundTrip) {
  Result created = Run({"create", "t.pak", "text.txt", "noise.bin", "empty", "データ.txt"});
  ASSERT_EQ(created.Status, 0) << created.Err;
  EXPECT_EQ(created.Err, "");  // no bar: standard error is not a terminal

  TOvPack pack;
  ASSERT_TRUE(pack.LoadPack(Dir.File("t.pak")));
  ASSERT_EQ(pack.GetFileNum(), 4);
  EXPECT_EQ(pack.GetFileName(0), "text.txt");
  EXPECT_TRUE(pack.GetFileIsComp(0));
  EXPECT_FALSE(pack.GetFileIsComp(1));                 // random bytes do not get smaller
  EXPECT_EQ(pack.GetFileName(3), Sjis("データ.txt"));  // Shift-JIS inside the pack
  FILETIME t;
  ASSERT_TRUE(pack.GetFileTime(0, t));
  EXPECT_EQ(FileTimeTicks(t), FileTimeTicks(UnixTimeToFileTime(1600000000, 0)));

  Result listed = Run({"list", "t.pak"});
  ASSERT_EQ(listed.Status, 0) << listed.Err;
  char line[200];
  const TOvFileTable3* e = pack.GetFileEntry(0);
  std::snprintf(line, sizeof line, "%10d %10d %-4s %-19s %04X  %s\n", 60000, e->CompSize, "yes",
                "2020-09-13 12:26:40", e->Crc, "text.txt");
  EXPECT_NE(listed.Out.find(line), std::string::npos) << listed.Out;
  EXPECT_NE(listed.Out.find(" データ.txt\n"), std::string::npos) << listed.Out;
  EXPECT_NE(listed.Out.find("4 members"), std::string::npos);
  pack.EndPack();

  Result extracted = Run({"extract", "t.pak", "-C", "out"});
  ASSERT_EQ(extracted.Status, 0) << extracted.Err;
  for (const char* f : {"text.txt", "noise.bin", "empty", "データ.txt"}) {
    EXPECT_EQ(ReadAll(Dir.File(std::string("out/") + f)), ReadAll(Dir.File(f))) << f;
    EXPECT_EQ(MTime(Dir.File(std::string("out/") + f)), 1600000000) << f;
  }
}

TEST_F(OvpackTool, StoreAddDeleteAndExtractOne) {
  ASSERT_EQ(Run({"create", "--store", "s.pak", "text.txt"}).Status, 0);
  ASSERT_EQ(Run({"add", "s.pak", "noise.bin", "empty"}).Status, 0);
  ASSERT_EQ(Run({"delete", "s.pak", "NOISE.BIN"}).Status, 0);
  TOvPack pack;
  ASSERT_TRUE(pack.LoadPack(Dir.File("s.pak")));
  ASSERT_EQ(pack.GetFileNum(), 3);
  EXPECT_FALSE(pack.GetFileIsComp(0));  // --store
  EXPECT_EQ(pack.GetFileName(1), "");   // deleted
  EXPECT_EQ(pack.GetFileName(2), "empty");
  pack.EndPack();

  Result one = Run({"extract", "s.pak", "TEXT.TXT", "-C", "out"});
  ASSERT_EQ(one.Status, 0) << one.Err;
  EXPECT_EQ(ReadAll(Dir.File("out/text.txt")), TextBytes(60000));
  EXPECT_NE(::access(Dir.File("out/empty").c_str(), F_OK), 0);
  EXPECT_NE(Run({"list", "s.pak"}).Out.find("2 members, 1 deleted entry"), std::string::npos);
}

TEST_F(OvpackTool, VerifyNamesDamagedMembers) {
  ASSERT_EQ(Run({"create", "v.pak", "noise.bin", "text.txt"}).Status, 0);
  Result good = Run({"verify", "v.pak"});
  EXPECT_EQ(good.Status, 0);
  EXPECT_NE(good.Out.find("pack check word: ok"), std::string::npos);
  EXPECT_NE(good.Out.find("2 members checked, 0 damaged"), std::string::npos);

  std::string bytes = ReadAll(Dir.File("v.pak"));
  bytes[16 + 100] ^= 1;  // inside noise.bin
  WriteAll(Dir.File("v.pak"), bytes);
  Result bad = Run({"verify", "v.pak"});
  EXPECT_EQ(bad.Status, 1);
  EXPECT_NE(bad.Out.find("pack check word: DAMAGED"), std::string::npos) << bad.Out;
  EXPECT_NE(bad.Out.find("noise.bin: DAMAGED"), std::string::npos) << bad.Out;
  EXPECT_NE(bad.Out.find("text.txt: ok"), std::string::npos) << bad.Out;
  // Other commands refuse the damaged pack, saying so.
  Result extract = Run({"extract", "v.pak", "-C", "out"});
  EXPECT_EQ(extract.Status, 1);
  EXPECT_NE(extract.Err.find("damaged pack"), std::string::npos) << extract.Err;
}

TEST_F(OvpackTool, BadInputGivesMessagesAndLosesNothing) {
  ASSERT_EQ(Run({"create", "k.pak", "text.txt"}).Status, 0);
  const std::string before = ReadAll(Dir.File("k.pak"));
  WriteAll(Dir.File("abcdefghijklmnopqrstuvwxyz.txt"), "long");
  WriteAll(Dir.File(".hidden"), "dot");
  const struct {
    std::vector<std::string> Args;
    int Status;
    const char* Message;
  } cases[] = {
      {{"create", "n.pak", "missing.txt", "out"}, 1, "n.pak: nothing to add; not written"},
      {{"add", "k.pak", "TEXT.TXT"}, 1, "TEXT.TXT: skipped: No such file or directory"},
      {{"add", "k.pak", "out"}, 1, "out: skipped: not a regular file"},
      {{"add", "k.pak", "text.txt"}, 1, "'text.txt' is already taken in k.pak"},
      {{"add", "k.pak", "abcdefghijklmnopqrstuvwxyz.txt"}, 1, "longer than 25 bytes"},
      {{"add", "k.pak", ".hidden"}, 1, "starts with a dot"},
      {{"add", "k.pak", "k.pak"}, 1, "k.pak: skipped: it is the pack itself"},
      {{"add", "k.pak", "empty=a_name_longer_than_21x.md"},
       1,
       "at most 21 bytes before the first dot"},
      {{"delete", "k.pak", "absent"}, 1, "k.pak: no member named 'absent'"},
      {{"extract", "k.pak", "absent", "-C", "out"}, 1, "no member named 'absent'"},
      {{"list", "nothing.pak"}, 1, "nothing.pak: cannot open: No such file or directory"},
      {{"list", "text.txt"}, 1, "text.txt: not a pack"},
      {{"verify", "out"}, 1, "not a regular file"},
      {{"list"}, 2, "needs a pack"},
      {{"frobnicate", "k.pak"}, 2, "unknown command"},
      {{"list", "k.pak", "--store"}, 2, "--store belongs to create and add"},
      {{"add", "k.pak", "--force", "empty"}, 2, "--force belongs to extract"},
      {{"extract", "k.pak", "-C"}, 2, "-C needs a directory"},
      {{"create", "k.pak"}, 2, "needs at least one file"},
  };
  for (const auto& c : cases) {
    Result r = Run(c.Args);
    EXPECT_EQ(r.Status, c.Status) << c.Args[0] << " " << r.Err;
    EXPECT_NE(r.Err.find(c.Message), std::string::npos) << r.Err;
    EXPECT_TRUE(ReadAll(Dir.File("k.pak")) == before) << c.Args[0];
  }
  EXPECT_NE(::access(Dir.File("n.pak").c_str(), F_OK), 0);  // nothing half-built left behind
  {
    TOvPack writer;  // another program writing the pack: add is refused, nothing changed
    writer.SetReadOnly(false);
    ASSERT_TRUE(writer.LoadPack(Dir.File("k.pak")));
    Result busy = Run({"add", "k.pak", "empty"});
    EXPECT_EQ(busy.Status, 1);
    EXPECT_EQ(busy.Err, "ovpack: k.pak: in use by another program\n");
  }
  EXPECT_TRUE(ReadAll(Dir.File("k.pak")) == before);
  Result help = Run({"--help"});
  EXPECT_EQ(help.Status, 0);
  EXPECT_NE(help.Out.find("Usage: ovpack"), std::string::npos);
}

// One bad file is reported and the rest still done; names cut to the same 21 + 3 bytes are reported
// naming both files, and FILE=NAME gives a way out; a name the format cannot hold is refused with
// the same words by create, extract and delete.
TEST_F(OvpackTool, BadFilesAreSkippedAndTheRunGoesOn) {
  ::mkdir(Dir.File("a").c_str(), 0700);
  ::mkdir(Dir.File("b").c_str(), 0700);
  WriteAll(Dir.File("a/quarterly_report_2023a.md"), "first");   // base name of 22 bytes
  WriteAll(Dir.File("b/quarterly_report_2023b.md"), "second");  // the same 21 bytes
  WriteAll(Dir.File("line\nbreak"), "nl");
  WriteAll(Dir.File("notes.md.gz"), "gz");
  Result r =
      Run({"create", "n.pak", "a/quarterly_report_2023a.md", "missing.txt",
           "b/quarterly_report_2023b.md", "line\nbreak", "noise.bin=renamed.dat", "notes.md.gz"});
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("ovpack: note: a/quarterly_report_2023a.md is stored as "
                       "'quarterly_report_2023.md'\n"),
            std::string::npos)
      << r.Err;
  EXPECT_NE(r.Err.find("ovpack: b/quarterly_report_2023b.md: skipped: the member name "
                       "'quarterly_report_2023.md' is already taken by "
                       "a/quarterly_report_2023a.md (choose another with FILE=NAME)\n"),
            std::string::npos)
      << r.Err;
  const std::string refusal =
      "'line\\x0Abreak' cannot be a member name: it has a control character";
  EXPECT_NE(r.Err.find("ovpack: line\\x0Abreak: skipped: " + refusal), std::string::npos) << r.Err;
  EXPECT_NE(r.Err.find("missing.txt: skipped"), std::string::npos) << r.Err;

  ASSERT_EQ(Run({"add", "n.pak", "b/quarterly_report_2023b.md=report_b.txt"}).Status, 0);
  TOvPack pack;
  ASSERT_TRUE(pack.LoadPack(Dir.File("n.pak")));
  ASSERT_EQ(pack.GetFileNum(), 4);
  EXPECT_EQ(pack.GetFileName(0), "quarterly_report_2023.md");
  EXPECT_EQ(pack.GetFileName(1), "renamed.dat");
  EXPECT_EQ(pack.GetFileName(2), "notes.md");  // cut without a trailing dot
  EXPECT_EQ(pack.GetFileName(3), "report_b.txt");
  pack.EndPack();

  Result extracted = Run({"extract", "n.pak", "-C", "out"});
  ASSERT_EQ(extracted.Status, 0) << extracted.Err;
  EXPECT_EQ(ReadAll(Dir.File("out/renamed.dat")), ReadAll(Dir.File("noise.bin")));
  EXPECT_EQ(ReadAll(Dir.File("out/report_b.txt")), "second");
  for (const char* command : {"extract", "delete"}) {
    Result refused = Run({command, "n.pak", "line\nbreak"});
    EXPECT_EQ(refused.Status, 1);
    EXPECT_EQ(refused.Err.substr(0, refusal.size() + 9), "ovpack: " + refusal + "\n") << command;
  }
}

// OVPACK_THREADS=1 adds every file with AddFile on the main thread, as before workers existed.
TEST_F(OvpackTool, WorkerThreadsWriteTheOneThreadPack) {
  WriteAll(Dir.File("long.txt"), TextBytes(200000));
  WriteAll(Dir.File("mixed.bin"), RandomBytes(20000, 4) + TextBytes(20000));
  for (int i = 0; i < 6; ++i) WriteAll(Dir.File("n" + std::to_string(i)), TextBytes(1000 + i));
  const std::vector<std::string> files = {
      "text.txt", "noise.bin", "missing.txt", "empty", "long.txt", "mixed.bin", "n0",
      "n1",       "n2",        "n3",          "n4",    "n5",       "データ.txt"};
  for (const bool store : {false, true}) {
    SCOPED_TRACE(store);
    std::string oneErr;
    for (const char* threads : {"1", "3", ""}) {
      const std::string pack = std::string("t") + threads + ".pak";
      std::vector<std::string> args = {"create", pack};
      if (store) args.insert(args.begin() + 1, "--store");
      args.insert(args.end(), files.begin(), files.end());
      const Result r = Ovpack(args, Dir.Path(), "C.UTF-8", threads);
      EXPECT_EQ(r.Status, 1);  // missing.txt
      EXPECT_NE(r.Err.find("missing.txt: skipped"), std::string::npos) << r.Err;
      if (oneErr.empty()) oneErr = r.Err;
      EXPECT_EQ(r.Err, oneErr);
      ASSERT_EQ(Ovpack({"add", pack, "long.txt=again.txt", "noise.bin=b", "n0=c"}, Dir.Path(),
                       "C.UTF-8", threads)
                    .Status,
                0);
    }
    const std::string one = ReadAll(Dir.File("t1.pak"));
    EXPECT_TRUE(ReadAll(Dir.File("t3.pak")) == one);
    EXPECT_TRUE(ReadAll(Dir.File("t.pak")) == one);
  }
}

// Members decoded ahead on worker threads are written as one thread writes them: the same files,
// time stamps and messages, a damaged member and an existing file included.
TEST_F(OvpackTool, WorkerThreadsExtractAsOneThread) {
  const std::string text = TextBytes(120000);
  WriteAll(
      Dir.File("x.pak"),
      HandPack(kPackVersion3,
               {{"text", "txt", CorvelStream(text), static_cast<std::int32_t>(text.size()), true},
                {"bad", "txt", RandomBytes(300, 3), 5000, true},  // does not decode
                {"noise", "bin", RandomBytes(70000, 6)},
                {"kept", "txt", "in the pack"},
                {"empty", "", ""},
                {"last", "txt", CorvelStream(text.substr(7)), 120000 - 7, true}}));
  Result one;
  for (const char* threads : {"1", "3", ""}) {
    SCOPED_TRACE(threads);
    WriteAll(Dir.File("out/kept.txt"), "already here");
    SetFileLastWriteTime(Dir.File("out/kept.txt"), UnixTimeToFileTime(1500000000, 0));
    const Result r = Ovpack({"extract", "x.pak", "-C", "out"}, Dir.Path(), "C.UTF-8", threads);
    EXPECT_EQ(r.Status, 1);
    EXPECT_NE(r.Err.find("member 'bad.txt': damaged"), std::string::npos) << r.Err;
    EXPECT_NE(r.Err.find("kept.txt: exists; skipped"), std::string::npos) << r.Err;
    if (one.Status < 0) one = r;
    EXPECT_EQ(r.Err, one.Err);
    const std::string done = std::string("done") + threads;
    ASSERT_EQ(std::rename(Dir.File("out").c_str(), Dir.File(done).c_str()), 0);
    ::mkdir(Dir.File("out").c_str(), 0700);
    EXPECT_EQ(Listing(Dir.File(done)), Listing(Dir.File("done1")));
    for (const std::string& f : Listing(Dir.File("done1"))) {
      EXPECT_TRUE(ReadAll(Dir.File(done + "/" + f)) == ReadAll(Dir.File("done1/" + f))) << f;
      EXPECT_EQ(MTime(Dir.File(done + "/" + f)), MTime(Dir.File("done1/" + f))) << f;
    }
  }
  EXPECT_TRUE(ReadAll(Dir.File("done/text.txt")) == text);
  EXPECT_TRUE(ReadAll(Dir.File("done/last.txt")) == text.substr(7));
}

// A member whose entry claims far more than its stored bytes (a long run compresses to almost
// nothing): far above the read-ahead budget, and 2 GiB ones behave the same (doc/performance.md),
// only slower. Verify and extract must stay within kBoundedResidentKiB with it.
constexpr std::int64_t kHugeMemberSize = std::int64_t{512} << 20;
constexpr long kBoundedResidentKiB = 64 << 10;

// True when Path holds exactly Size zero bytes.
bool HoldsZeros(const std::string& Path, std::int64_t Size) {
  FILE* f = std::fopen(Path.c_str(), "rb");
  if (!f) return false;
  std::vector<char> block(1 << 20);
  const std::vector<char> zeros(block.size(), '\0');
  std::int64_t seen = 0;
  bool zero = true;
  for (std::size_t n; zero && (n = std::fread(block.data(), 1, block.size(), f)) > 0; seen += n)
    zero = std::memcmp(block.data(), zeros.data(), n) == 0;
  std::fclose(f);
  return zero && seen == Size;
}

// Members are expanded piece by piece into the check and the file, whatever size their entries
// claim: verify and extract (on one thread and with workers) stay small. The peak is the child's
// own, measured by the system; it starts as a copy of this process, which holds little.
TEST_F(OvpackTool, HugeMembersAreVerifiedAndExtractedInBoundedMemory) {
  ASSERT_EQ(ZeroRunStream(40000), CorvelStream(std::string(40000, '\0')));
  const std::string text = TextBytes(30000);
  WriteAll(Dir.File("z.pak"),
           HandPack(kPackVersion3, {{"zeros", "bin", ZeroRunStream(kHugeMemberSize),
                                     static_cast<std::int32_t>(kHugeMemberSize), true},
                                    {"text", "txt", CorvelStream(text),
                                     static_cast<std::int32_t>(text.size()), true}}));
  const std::vector<std::vector<std::string>> runs = {
      {"verify", "z.pak"}, {"extract", "z.pak", "-C", "out"}, {"extract", "z.pak", "-C", "out"}};
  const char* threads[] = {"", "1", ""};
  for (std::size_t i = 0; i < runs.size(); ++i) {
    SCOPED_TRACE(runs[i][0] + " with OVPACK_THREADS=" + threads[i]);
    test::ChildProcess child;
    ASSERT_TRUE(Start(child, runs[i], Dir.Path(), "C.UTF-8", threads[i]));
    const Result r = Finish(child, Dir.Path());
    EXPECT_EQ(r.Status, 0) << r.Err;
    EXPECT_GT(child.PeakResidentKiB(), 0);
    EXPECT_LT(child.PeakResidentKiB(), kBoundedResidentKiB);
    if (runs[i][0] == "verify") {
      EXPECT_NE(r.Out.find("zeros.bin: ok\n"), std::string::npos) << r.Out;
      continue;
    }
    EXPECT_TRUE(HoldsZeros(Dir.File("out/zeros.bin"), kHugeMemberSize));
    EXPECT_TRUE(ReadAll(Dir.File("out/text.txt")) == text);
    std::remove(Dir.File("out/zeros.bin").c_str());
    std::remove(Dir.File("out/text.txt").c_str());
  }
}

// On one thread each member is checked as it is written, as the workers check theirs: a member
// changed after the pack was opened (and its whole check word found good) is refused, its file
// not left behind. The run is stopped while it writes a long first member and the second member
// changed meanwhile; a run that got past the first member before it stopped is tried again.
TEST_F(OvpackTool, OneThreadExtractRefusesAMemberChangedSinceOpening) {
  constexpr std::int64_t kFirstSize = std::int64_t{256} << 20;
  constexpr int kAttempts = 5;
  const std::string second = TextBytes(5000);
  const std::string pack = HandPack(kPackVersion3, {{"first", "bin", ZeroRunStream(kFirstSize),
                                                     static_cast<std::int32_t>(kFirstSize), true},
                                                    {"second", "txt", second}});
  const auto secondAt = static_cast<off_t>(pack.find(second));
  bool changed = false;
  for (int attempt = 0; attempt < kAttempts && !changed; ++attempt) {
    WriteAll(Dir.File("c.pak"), pack);
    std::remove(Dir.File("out/first.bin").c_str());
    std::remove(Dir.File("out/second.txt").c_str());
    test::ChildProcess child;
    ASSERT_TRUE(Start(child, {"extract", "c.pak", "-C", "out"}, Dir.Path(), "C.UTF-8", "1"));
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRunMs);
    while (std::chrono::steady_clock::now() < deadline && child.Running() &&
           SizeOfFileWith(Dir.File("out"), ".first.bin.ovpack-") < 0)
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    // Still writing the first member once stopped: the second has not been read.
    if (child.Pause() && SizeOfFileWith(Dir.File("out"), ".first.bin.ovpack-") >= 0) {
      const int fd = ::open(Dir.File("c.pak").c_str(), O_WRONLY | O_CLOEXEC);
      const char flipped = static_cast<char>(second[100] ^ 0x20);
      changed = fd >= 0 && ::pwrite(fd, &flipped, 1, secondAt + 100) == 1;
      if (fd >= 0) ::close(fd);
    }
    child.Signal(SIGCONT);
    const Result r = Finish(child, Dir.Path());
    if (!changed) continue;
    EXPECT_EQ(r.Status, 1);
    EXPECT_EQ(r.Err, "ovpack: member 'second.txt': damaged (check word mismatch)\n");
    EXPECT_EQ(Listing(Dir.File("out")), std::vector<std::string>{"first.bin"});
    EXPECT_TRUE(HoldsZeros(Dir.File("out/first.bin"), kFirstSize));
  }
  EXPECT_TRUE(changed) << "no run could be stopped while it wrote the first member";
}

TEST_F(OvpackTool, HostileMemberNamesAreNotWrittenOutsideTheDirectory) {
  WriteAll(Dir.File("h.pak"), HandPack(kPackVersion3, {{"/tmp/x", "", "evil"},
                                                       {"ok", "", "fine"},
                                                       {"bad\x81", "", "half a character"}}));
  Result r = Run({"extract", "h.pak", "-C", "out"});
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("member '/tmp/x' cannot be a member name: it has a '/'"), std::string::npos)
      << r.Err;
  EXPECT_NE(r.Err.find("member 'bad\\x81' cannot be a member name: its bytes are not Shift-JIS"),
            std::string::npos)
      << r.Err;
  EXPECT_EQ(ReadAll(Dir.File("out/ok")), "fine");
  EXPECT_EQ(Listing(Dir.File("out")), std::vector<std::string>{"ok"});
}

// Member names are Shift-JIS and file names UTF-8 under any locale; a name with no Shift-JIS form
// is reported and skipped the same way everywhere.
TEST_F(OvpackTool, NamesDoNotDependOnTheLocale) {
  WriteAll(Dir.File("café.txt"), "accent");
  for (const char* locale : {"C", "C.UTF-8"}) {
    SCOPED_TRACE(locale);
    std::system(("rm -f '" + Dir.File("j.pak") + "' '" + Dir.File("out/データ.txt") + "'").c_str());
    Result created = Ovpack({"create", "j.pak", "データ.txt", "café.txt"}, Dir.Path(), locale);
    EXPECT_EQ(created.Status, 1);
    EXPECT_EQ(created.Err,
              "ovpack: café.txt: skipped: 'café.txt' cannot be a member name: "
              "it is not UTF-8 with a Shift-JIS form\n");
    TOvPack pack;
    ASSERT_TRUE(pack.LoadPack(Dir.File("j.pak")));
    EXPECT_EQ(pack.GetFileName(0), Sjis("データ.txt"));
    pack.EndPack();
    Result listed = Ovpack({"list", "j.pak"}, Dir.Path(), locale);
    EXPECT_NE(listed.Out.find(" データ.txt\n"), std::string::npos) << listed.Out;
    Result extracted = Ovpack({"extract", "j.pak", "データ.TXT", "-C", "out"}, Dir.Path(), locale);
    EXPECT_EQ(extracted.Status, 0) << extracted.Err;
    EXPECT_EQ(ReadAll(Dir.File("out/データ.txt")), "kana");
  }
}

TEST_F(OvpackTool, ExtractKeepsExistingFilesUnlessForced) {
  ASSERT_EQ(Run({"create", "e.pak", "text.txt", "noise.bin"}).Status, 0);
  WriteAll(Dir.File("out/text.txt"), "mine");
  Result kept = Run({"extract", "e.pak", "-C", "out"});
  EXPECT_EQ(kept.Status, 1);
  EXPECT_EQ(kept.Err, "ovpack: out/text.txt: exists; skipped (--force replaces it)\n");
  EXPECT_EQ(ReadAll(Dir.File("out/text.txt")), "mine");
  EXPECT_EQ(ReadAll(Dir.File("out/noise.bin")), ReadAll(Dir.File("noise.bin")));
  Result forced = Run({"extract", "--force", "e.pak", "-C", "out"});
  EXPECT_EQ(forced.Status, 0) << forced.Err;
  EXPECT_EQ(ReadAll(Dir.File("out/text.txt")), ReadAll(Dir.File("text.txt")));
  EXPECT_EQ(Listing(Dir.File("out")), (std::vector<std::string>{"noise.bin", "text.txt"}));
}

// A run killed while it writes leaves the old pack as it was and none of its files behind.
TEST_F(OvpackTool, InterruptedRunsLeaveThePackAndNothingElse) {
  WriteAll(Dir.File("big.txt"), TextBytes(48 << 20));
  WriteAll(Dir.File("noise.big"), RandomBytes(40 << 20, 9));  // too large to be done ahead
  // Members small enough to be compressed ahead in memory by the worker threads.
  std::vector<std::string> parts = {"create", "p.pak"};
  for (int i = 0; i < 5; ++i) {
    parts.push_back("part" + std::to_string(i));
    WriteAll(Dir.File(parts.back()), TextBytes(8 << 20));
  }
  ASSERT_EQ(Run({"create", "--store", "p.pak", "big.txt", "text.txt"}).Status, 0);
  // Extracted over themselves: the files written on worker threads are the ones to watch.
  std::vector<std::string> makeParts = {"create", "--store", "parts.pak"};
  makeParts.insert(makeParts.end(), parts.begin() + 2, parts.end());
  ASSERT_EQ(Run(makeParts).Status, 0);
  const std::string before = ReadAll(Dir.File("p.pak"));
  const std::vector<std::string> files = Listing(Dir.Path());
  const struct {
    std::vector<std::string> Args;
    const char* Growing;  // the file that shows the run is writing: it exists (and grows)
    bool MustGrow;        // the copy that delete makes may be complete when first seen
    int Signal;
  } cases[] = {
      {{"add", "p.pak", "big.txt=again.txt"}, "OvTmp", true, SIGINT},
      {{"create", "p.pak", "big.txt"}, "OvTmp", true, SIGTERM},
      // Encoded through a temporary file that is not smaller, then copied unchanged: the pack
      // grows past its header only during the copy.
      {{"create", "p.pak", "noise.big"}, "p.pak.ovpack-", true, SIGINT},
      {{"delete", "p.pak", "text.txt"}, "p.pak.ovpack-", false, SIGTERM},
      {parts, "p.pak.ovpack-", true, SIGINT},
      {{"extract", "--force", "parts.pak", "-C", "."}, ".part", false, SIGINT},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.Args[0]);
    test::ChildProcess child;
    ASSERT_TRUE(Start(child, c.Args, Dir.Path()));
    std::int64_t first = -1;
    // The file is watched closely: the run may be short.
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRunMs);
    while (std::chrono::steady_clock::now() < deadline && child.Running()) {
      const std::int64_t size = SizeOfFileWith(Dir.Path(), c.Growing);
      if (first < 0 && size > 0) first = size;
      if (first > 0 && (size > first || !c.MustGrow)) break;
      std::this_thread::sleep_for(std::chrono::microseconds(200));
    }
    ASSERT_TRUE(child.Signal(c.Signal)) << "the run ended before it could be interrupted";
    const Result r = Finish(child, Dir.Path());
    EXPECT_EQ(r.Status, 128 + c.Signal) << r.Err;
    EXPECT_TRUE(ReadAll(Dir.File("p.pak")) == before);
    EXPECT_EQ(Listing(Dir.Path()), files);
  }
}

// While add, delete or create works on a pack (stopped just before it renames the new pack over
// it), list, verify and extract read the pack as it was; another writer is refused, whether it
// would replace the pack or write it in place; nothing is lost.
TEST_F(OvpackTool, ReadersGoOnWhileAWriterWorksAndWritersExcludeEachOther) {
  ASSERT_EQ(Run({"create", "p.pak", "text.txt"}).Status, 0);
  const std::string before = ReadAll(Dir.File("p.pak"));
  ::mkdir(Dir.File("side").c_str(), 0700);  // the other runs keep their output apart
  auto side = [&](const std::vector<std::string>& Args) { return Ovpack(Args, Dir.File("side")); };
  const std::string inUse = "ovpack: ../p.pak: in use by another program\n";
  {
    test::ChildProcess adding;
    ASSERT_TRUE(StartStopped(adding, {"add", "p.pak", "noise.bin"}, Dir.Path(), "replace"));
    const Result listed = side({"list", "../p.pak"});
    EXPECT_EQ(listed.Status, 0) << listed.Err;
    EXPECT_NE(listed.Out.find("\n1 member\n"), std::string::npos) << listed.Out;
    const Result verified = side({"verify", "../p.pak"});
    EXPECT_EQ(verified.Status, 0) << verified.Err;
    const Result extracted = side({"extract", "../p.pak", "-C", "../out"});
    EXPECT_EQ(extracted.Status, 0) << extracted.Err;
    EXPECT_EQ(Listing(Dir.File("out")), std::vector<std::string>{"text.txt"});
    for (const std::vector<std::string>& args : {std::vector<std::string>{"create", "../p.pak", "../empty"},
                                                 {"add", "../p.pak", "../empty"},
                                                 {"delete", "../p.pak", "text.txt"}}) {
      const Result refused = side(args);
      EXPECT_EQ(refused.Status, 1) << args[0];
      EXPECT_EQ(refused.Err, inUse) << args[0];
    }
    TOvPack inPlace;
    inPlace.SetReadOnly(false);
    EXPECT_FALSE(inPlace.LoadPack(Dir.File("p.pak")));
    EXPECT_FALSE(inPlace.NewPack(Dir.File("p.pak")));
    EXPECT_TRUE(ReadAll(Dir.File("p.pak")) == before);
    ASSERT_TRUE(adding.Signal(SIGCONT));
    const Result added = Finish(adding, Dir.Path());
    EXPECT_EQ(added.Status, 0) << added.Err;
  }
  {
    test::ChildProcess creating;
    ASSERT_TRUE(StartStopped(creating, {"create", "p.pak", "empty"}, Dir.Path(), "replace"));
    const Result refused = side({"add", "../p.pak", "../データ.txt"});
    EXPECT_EQ(refused.Status, 1);
    EXPECT_EQ(refused.Err, inUse);
    const Result listed = side({"list", "../p.pak"});
    EXPECT_NE(listed.Out.find("\n2 members\n"), std::string::npos) << listed.Out;  // the add's
    ASSERT_TRUE(creating.Signal(SIGCONT));
    EXPECT_EQ(Finish(creating, Dir.Path()).Status, 0);
  }
  TOvPack pack;
  ASSERT_TRUE(pack.LoadPack(Dir.File("p.pak")));
  ASSERT_EQ(pack.GetFileNum(), 1);
  EXPECT_EQ(pack.GetFileName(0), "empty");
}

// A reader that opened the pack before writers replaced it reads the file it opened to the end.
TEST_F(OvpackTool, AReaderKeepsThePackItOpened) {
  ASSERT_EQ(Run({"create", "r.pak", "text.txt", "noise.bin"}).Status, 0);
  TOvPack reader;
  ASSERT_TRUE(reader.LoadPack(Dir.File("r.pak")));
  const Result deleted = Run({"delete", "r.pak", "text.txt"});
  EXPECT_EQ(deleted.Status, 0) << deleted.Err;
  EXPECT_EQ(Run({"create", "r.pak", "empty"}).Status, 0);
  ASSERT_EQ(reader.GetFileNum(), 2);
  std::unique_ptr<TMemoryStream> text = reader.OvMakeStream("text.txt");
  ASSERT_NE(text, nullptr);
  EXPECT_TRUE(std::string(static_cast<const char*>(text->Memory()), text->Size()) ==
              ReadAll(Dir.File("text.txt")));
}

// A writer that opened the pack just before another replaced it, and locked it only after, works
// on the new pack: both changes are kept.
TEST_F(OvpackTool, AWriterThatOpenedAReplacedPackOpensItAgain) {
  ASSERT_EQ(Run({"create", "w.pak", "text.txt"}).Status, 0);
  ::mkdir(Dir.File("side").c_str(), 0700);
  test::ChildProcess late;
  ASSERT_TRUE(StartStopped(late, {"add", "w.pak", "noise.bin"}, Dir.Path(), "lock"));
  const Result first = Ovpack({"add", "../w.pak", "../empty"}, Dir.File("side"));
  EXPECT_EQ(first.Status, 0) << first.Err;
  ASSERT_TRUE(late.Signal(SIGCONT));
  const Result second = Finish(late, Dir.Path());
  EXPECT_EQ(second.Status, 0) << second.Err;
  TOvPack pack;
  ASSERT_TRUE(pack.LoadPack(Dir.File("w.pak")));
  ASSERT_EQ(pack.GetFileNum(), 3);
  EXPECT_EQ(pack.GetFileName(1), "empty");
  EXPECT_EQ(pack.GetFileName(2), "noise.bin");
}

// Names are looked up without regard to ASCII case, double-byte characters compared whole: of
// two members named alike that way only the first is reached by name. verify and extract say so
// of the second (it is not damaged), and add does not make such a pair.
TEST_F(OvpackTool, MembersNamedAlikeIgnoringCaseAreReportedNotHidden) {
  const std::string katakanaA = "\x83\x41";  // ア: its second byte is 'A'
  WriteAll(Dir.File("c.pak"), HandPack(kPackVersion3, {{"ABC", "", "upper"},
                                                       {"abc", "", "lower"},
                                                       {katakanaA, "", "kana"}}));
  WriteAll(Dir.File("abc"), "another");
  WriteAll(Dir.File("ヂ"), "kana with 'a'");  // \x83\x61: ア with its second byte lower-cased
  EXPECT_EQ(Run({"add", "c.pak", "ヂ"}).Status, 0);
  const Result taken = Run({"add", "c.pak", "abc"});
  EXPECT_EQ(taken.Status, 1);
  EXPECT_NE(taken.Err.find("'abc' is already taken in c.pak"), std::string::npos) << taken.Err;

  const std::string hidden = "unreachable by name (the same name as 'ABC' ignoring case)";
  const Result verified = Run({"verify", "c.pak"});
  EXPECT_EQ(verified.Status, 1);
  EXPECT_NE(verified.Out.find("ABC: ok\nabc: " + hidden + "; not checked\nア: ok\nヂ: ok\n"
                              "3 members checked, 0 damaged, 1 unreachable by name\n"),
            std::string::npos)
      << verified.Out;
  const Result extracted = Run({"extract", "c.pak", "-C", "out"});
  EXPECT_EQ(extracted.Status, 1);
  EXPECT_EQ(extracted.Err, "ovpack: member 'abc': " + hidden + "; skipped\n");
  EXPECT_EQ(Listing(Dir.File("out")), (std::vector<std::string>{"ABC", "ア", "ヂ"}));
  EXPECT_EQ(ReadAll(Dir.File("out/ABC")), "upper");
}

TEST_F(OvpackTool, ProgressShowsOneBarPerFile) {
  WriteAll(Dir.File("big.txt"), TextBytes(3000000));
  int master = -1;
  int slave = -1;
  ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  ::fcntl(master, F_SETFD, FD_CLOEXEC);
  test::ChildProcess child;
  test::ChildProcess::Options options;
  options.Directory = Dir.Path();
  options.ErrorFd = slave;
  ASSERT_TRUE(child.Start({kOvpack, "create", "b.pak", "big.txt"}, options));
  ::close(slave);
  std::string seen;
  char buffer[4096];
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(kRunMs);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd ready{master, POLLIN, 0};
    if (::poll(&ready, 1, 1000) <= 0) continue;
    const ssize_t n = ::read(master, buffer, sizeof buffer);  // EIO once the child is gone
    if (n <= 0) break;
    seen.append(buffer, static_cast<std::size_t>(n));
  }
  ::close(master);
  EXPECT_EQ(child.Wait(kRunMs), 0);
  EXPECT_NE(seen.find("\r\033[K"), std::string::npos);  // the bar is cleared when done
  // The file's bar is drawn many times (encoding, then copying) and only ever moves forward.
  std::vector<int> percents;
  for (std::size_t at = seen.find("\r["); at != std::string::npos; at = seen.find("\r[", at + 1)) {
    const std::size_t end = seen.find("\033[K", at);
    const std::string line = seen.substr(at, end - at);
    if (line.find("% adding big.txt") == std::string::npos) continue;
    percents.push_back(std::atoi(line.substr(line.find("] ") + 2).c_str()));
  }
  ASSERT_GT(percents.size(), 10u) << seen.substr(0, 300);
  EXPECT_TRUE(std::is_sorted(percents.begin(), percents.end()));
  EXPECT_EQ(percents.back(), 100);
}

}  // namespace
}  // namespace ovelta
