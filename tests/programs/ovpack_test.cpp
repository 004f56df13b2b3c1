// The ovpack tool end to end: the built program run on real files, its output and exit status,
// and the packs it writes read back through the library.
#include <gtest/gtest.h>
#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <signal.h>
#include <sys/stat.h>
#include <sys/wait.h>
#include <unistd.h>

#include <chrono>
#include <thread>

#include "pack/pack_support.h"
#include "platform/Dialogs.h"
#include "platform/Text.h"

namespace ovelta {
namespace {

using namespace pack_test;

struct Result {
  int Status = -1;
  std::string Out;
  std::string Err;
};

// Runs ovpack with Args in Dir, in a UTF-8 locale and UTC, and waits at most 60 seconds.
Result Ovpack(const std::vector<std::string>& Args, const std::string& Dir,
              const char* Locale = "C.UTF-8") {
  const std::string out_file = Dir + "/.stdout";
  const std::string err_file = Dir + "/.stderr";
  const pid_t child = ::fork();
  if (child == 0) {
    if (::chdir(Dir.c_str()) != 0) ::_exit(127);
    const int out = ::open(out_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    const int err = ::open(err_file.c_str(), O_WRONLY | O_CREAT | O_TRUNC, 0600);
    ::dup2(out, STDOUT_FILENO);
    ::dup2(err, STDERR_FILENO);
    ::setenv("LC_ALL", Locale, 1);
    ::setenv("TZ", "UTC", 1);
    std::vector<char*> argv;
    std::string program = MERLIG_BINARY_DIR "/programs/ovpack";
    argv.push_back(program.data());
    std::vector<std::string> copy = Args;
    for (auto& a : copy) argv.push_back(a.data());
    argv.push_back(nullptr);
    ::execv(program.c_str(), argv.data());
    ::_exit(127);
  }
  Result r;
  int status = 0;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (::waitpid(child, &status, WNOHANG) == 0) {
    if (std::chrono::steady_clock::now() > deadline) {
      ::kill(child, SIGKILL);
      ::waitpid(child, &status, 0);
      ADD_FAILURE() << "ovpack did not finish";
      return r;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(5));
  }
  r.Status = WIFEXITED(status) ? WEXITSTATUS(status) : 128 + WTERMSIG(status);
  r.Out = ReadAll(out_file);
  r.Err = ReadAll(err_file);
  return r;
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
      SetFileLastWriteTime(Dir.File(f), UnixTimeToFileTime(1600000000, 0));  // 2020-09-13 12:26:40 UTC
    ::mkdir(Dir.File("out").c_str(), 0700);
  }
  Result Run(const std::vector<std::string>& Args) { return Ovpack(Args, Dir.Path()); }

  ScratchDir Dir;
  MessageBoxRecorder Boxes;  // for the library reading the packs back
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
  EXPECT_FALSE(pack.GetFileIsComp(1));  // random bytes do not get smaller
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
      {{"create", "k.pak", "text.txt", "missing.txt"}, 1, "missing.txt: no such file"},
      {{"create", "k.pak", "out"}, 1, "out: not a regular file"},
      {{"add", "k.pak", "TEXT.TXT"}, 1, "no such file"},
      {{"add", "k.pak", "text.txt"}, 1, "already taken"},
      {{"add", "k.pak", "abcdefghijklmnopqrstuvwxyz.txt"}, 1, "too long"},
      {{"add", "k.pak", ".hidden"}, 1, "no base name"},
      {{"create", "n.pak", "text.txt", "out/../text.txt"}, 1, "already taken by another file"},
      {{"delete", "k.pak", "text.txt", "absent"}, 1, "no member named 'absent'"},
      {{"extract", "k.pak", "absent", "-C", "out"}, 1, "no member named 'absent'"},
      {{"list", "nothing.pak"}, 1, "nothing.pak: no such file"},
      {{"list", "text.txt"}, 1, "not a pack"},
      {{"verify", "out"}, 1, "not a regular file"},
      {{"list"}, 2, "needs a pack"},
      {{"frobnicate", "k.pak"}, 2, "unknown command"},
      {{"list", "k.pak", "--store"}, 2, "--store belongs to create and add"},
      {{"extract", "k.pak", "-C"}, 2, "-C needs a directory"},
      {{"create", "k.pak"}, 2, "needs at least one file"},
  };
  for (const auto& c : cases) {
    Result r = Run(c.Args);
    EXPECT_EQ(r.Status, c.Status) << c.Args[0] << " " << r.Err;
    EXPECT_NE(r.Err.find(c.Message), std::string::npos) << r.Err;
    EXPECT_EQ(ReadAll(Dir.File("k.pak")), before) << c.Args[0];
  }
  EXPECT_NE(::access(Dir.File("n.pak").c_str(), F_OK), 0);  // nothing half-built left behind
  Result help = Run({"--help"});
  EXPECT_EQ(help.Status, 0);
  EXPECT_NE(help.Out.find("Usage: ovpack"), std::string::npos);
}

TEST_F(OvpackTool, HostileMemberNamesAreNotWrittenOutsideTheDirectory) {
  WriteAll(Dir.File("h.pak"), HandPack(kPackVersion3, {{"/tmp/x", "", "evil"}, {"ok", "", "fine"}}));
  Result r = Run({"extract", "h.pak", "-C", "out"});
  EXPECT_EQ(r.Status, 1);
  EXPECT_NE(r.Err.find("cannot be used as a file name"), std::string::npos) << r.Err;
  EXPECT_EQ(ReadAll(Dir.File("out/ok")), "fine");
  EXPECT_NE(::access(Dir.File("out/tmp").c_str(), F_OK), 0);
}

TEST_F(OvpackTool, NamesOutsideUtf8LocalesAreShownEscaped) {
  ASSERT_EQ(Run({"create", "j.pak", "データ.txt"}).Status, 0);
  Result r = Ovpack({"list", "j.pak"}, Dir.Path(), "C");
  ASSERT_EQ(r.Status, 0) << r.Err;
  EXPECT_NE(r.Out.find("\\x83f\\x81[\\x83^.txt"), std::string::npos) << r.Out;
}

TEST_F(OvpackTool, ProgressBarOnlyWhenStandardErrorIsATerminal) {
  WriteAll(Dir.File("big.txt"), TextBytes(3000000));
  int master = -1;
  int slave = -1;
  ASSERT_EQ(::openpty(&master, &slave, nullptr, nullptr, nullptr), 0);
  const pid_t child = ::fork();
  if (child == 0) {
    ::close(master);
    if (::chdir(Dir.Path().c_str()) != 0) ::_exit(127);
    ::dup2(slave, STDERR_FILENO);
    ::setenv("LC_ALL", "C.UTF-8", 1);
    ::execl(MERLIG_BINARY_DIR "/programs/ovpack", "ovpack", "create", "b.pak", "big.txt",
            static_cast<char*>(nullptr));
    ::_exit(127);
  }
  ::close(slave);
  std::string seen;
  char buffer[4096];
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::seconds(60);
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd ready{master, POLLIN, 0};
    if (::poll(&ready, 1, 1000) <= 0) continue;
    const ssize_t n = ::read(master, buffer, sizeof buffer);  // EIO once the child is gone
    if (n <= 0) break;
    seen.append(buffer, static_cast<std::size_t>(n));
  }
  if (std::chrono::steady_clock::now() >= deadline) ::kill(child, SIGKILL);
  ::close(master);
  int status = 0;
  ::waitpid(child, &status, 0);
  EXPECT_TRUE(WIFEXITED(status) && WEXITSTATUS(status) == 0);
  EXPECT_NE(seen.find("adding big.txt"), std::string::npos) << seen.substr(0, 300);
  EXPECT_NE(seen.find("100%"), std::string::npos);
  EXPECT_NE(seen.find("\r\033[K"), std::string::npos);  // the bar is cleared when done
}

}  // namespace
}  // namespace ovelta
