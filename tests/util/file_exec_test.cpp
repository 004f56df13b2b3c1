// OvFileExec without opening anything real: a fake xdg-open first (and alone) on PATH records its
// working directory and arguments, or fails the way the real one does; the checks made before any
// launch, the messages and the reading of paths.
#include <sys/stat.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <sstream>
#include <string>

#include "platform/core/Dialogs.h"
#include "platform/core/Text.h"
#include "support/Poll.h"
#include "support/TempDir.h"
#include "util/FileExec_p.h"
#include "util/Ovelta.h"
#include "support/MessageBoxRecorder.h"

namespace ovelta {
namespace {

using file_exec::ExecFailure;
using test::TempDir;

const char* const kFileNotFound = "指定されたファイルが見つかりませんでした。";
const char* const kPathNotFound = "指定されたパスが見つかりませんでした。";
const char* const kNoAssociation =
    "指定されたファイル名拡張子には､ アプリケーションが関連付けられていません。";
const char* const kUnknown = "不明なエラー";

std::string ReadFile(const std::string& Path) {
  std::ifstream file(Path, std::ios::binary);
  std::stringstream text;
  text << file.rdbuf();
  return text.str();
}

// Puts a fake launcher alone on PATH and moves into a scratch working directory for one test;
// restores both afterwards.
class FakeLauncher : public ::testing::Test {
 protected:
  void SetUp() override {
    const char* path = std::getenv("PATH");
    FOldPath = path ? path : "";
    FOldCwd = std::filesystem::current_path();
    std::filesystem::create_directory(FBin);
    std::filesystem::create_directory(FWork);
    setenv("PATH", FBin.c_str(), 1);
    std::filesystem::current_path(FWork);
  }
  void TearDown() override {
    std::filesystem::current_path(FOldCwd);
    setenv("PATH", FOldPath.c_str(), 1);
  }

  // Installs an xdg-open that records its working directory and arguments, one per line, in the
  // file "record", then runs Tail (shell commands, e.g. "exit 3").
  void InstallLauncher(const std::string& Tail) {
    const std::string script = FBin + "/xdg-open";
    std::ofstream(script) << "#!/bin/sh\n"
                          << "{ pwd; for a in \"$@\"; do printf '%s\\n' \"$a\"; done; } > '"
                          << Record() << "'\n"
                          << Tail << "\n";
    chmod(script.c_str(), 0755);
  }
  std::string Record() const { return FScratch.File("record"); }
  bool Launched() const { return std::filesystem::exists(Record()); }
  std::string Recorded() const { return ReadFile(Record()); }

  // Runs OvFileExec and returns the texts of the boxes it showed (UTF-8), checking their caption
  // and icon.
  std::vector<std::string> Open(const AnsiString& Path) {
    test::MessageBoxRecorder recorder;
    OvFileExec(Path);
    std::vector<std::string> texts;
    for (const auto& box : recorder.Boxes()) {
      EXPECT_EQ(Cp932ToUtf8(box.Caption), "エラー");
      EXPECT_EQ(box.Flags, MB_ICONSTOP);
      texts.push_back(Cp932ToUtf8(box.Text));
    }
    return texts;
  }

  TempDir FScratch;
  const std::string FBin = FScratch.File("bin");
  const std::string FWork = FScratch.File("work");
  std::string FOldPath;
  std::filesystem::path FOldCwd;
};

using Boxes = std::vector<std::string>;

TEST_F(FakeLauncher, OpensAnAbsolutePathInItsDirectory) {
  InstallLauncher("exit 0");
  const std::string doc = FScratch.Write("docs/letter.txt", "hello");
  EXPECT_EQ(Open(doc), Boxes{});
  EXPECT_EQ(Recorded(), FScratch.File("docs") + "\n" + doc + "\n");
}

TEST_F(FakeLauncher, RelativePathsAndBackslashesAreResolvedAgainstTheCallersDirectory) {
  InstallLauncher("exit 0");
  FScratch.Write("work/sub/deeper/a b.txt", "x");
  EXPECT_EQ(Open("sub\\deeper\\a b.txt"), Boxes{});
  EXPECT_EQ(Recorded(), FWork + "/sub/deeper\n" + FWork + "/sub/deeper/a b.txt\n");

  std::filesystem::remove(Record());
  FScratch.Write("work/bare.txt", "x");
  EXPECT_EQ(Open("bare.txt"), Boxes{});
  EXPECT_EQ(Recorded(), FWork + "\n" + FWork + "/bare.txt\n");
}

TEST_F(FakeLauncher, ARootFileRunsInTheRoot) {
  InstallLauncher("exit 0");
  EXPECT_EQ(Open("/etc"), Boxes{});  // a directory opens in the file manager
  EXPECT_EQ(Recorded(), "/\n/etc\n");
}

TEST_F(FakeLauncher, UrlsGoToTheLauncherUnchanged) {
  InstallLauncher("exit 0");
  EXPECT_EQ(Open("https://example.invalid/a\\b?q=1"), Boxes{});
  EXPECT_EQ(Recorded(), FWork + "\nhttps://example.invalid/a\\b?q=1\n");
}

TEST_F(FakeLauncher, MissingFileOrDirectoryIsReportedWithoutLaunching) {
  InstallLauncher("exit 0");
  const std::string file = FScratch.Write("docs/there.txt", "x");
  EXPECT_EQ(Open(FScratch.File("docs/missing.txt")), Boxes{kFileNotFound});
  EXPECT_EQ(Open("missing.txt"), Boxes{kFileNotFound});
  EXPECT_EQ(Open(FScratch.File("nodir/there.txt")), Boxes{kPathNotFound});
  EXPECT_EQ(Open(file + "/below.txt"), Boxes{kPathNotFound});
  EXPECT_EQ(Open("C:\\Windows\\notepad.exe"), Boxes{kPathNotFound});
  EXPECT_FALSE(Launched());
}

TEST_F(FakeLauncher, LauncherFailuresMapToTheirMessages) {
  const std::string doc = FScratch.Write("doc.xyz", "x");
  const std::vector<std::pair<std::string, Boxes>> cases = {
      {"exit 3", Boxes{kNoAssociation}},  // no handler
      {"exit 2", Boxes{kFileNotFound}},   // gone before the launcher looked
      {"exit 4", Boxes{kUnknown}},        // the handler failed
      {"exit 1", Boxes{kUnknown}},       {"kill -9 $$", Boxes{kUnknown}},
  };
  for (const auto& [tail, boxes] : cases) {
    SCOPED_TRACE(tail);
    InstallLauncher(tail);
    EXPECT_EQ(Open(doc), boxes);
    EXPECT_TRUE(Launched());
  }
}

TEST_F(FakeLauncher, NoLauncherMeansNoAssociation) {
  const std::string doc = FScratch.Write("doc.txt", "x");
  EXPECT_EQ(Open(doc), Boxes{kNoAssociation});
  // Present but not a program is not the same failure.
  std::ofstream(FBin + "/xdg-open") << "not a program\n";
  chmod((FBin + "/xdg-open").c_str(), 0644);
  EXPECT_EQ(Open(doc).size(), 1u);
}

TEST_F(FakeLauncher, TheOpenedProgramIsNotWaitedFor) {
  // The launcher stays until the test, after OvFileExec has returned, lets it go (at most 10 s);
  // it says when it goes.
  const std::string release = FScratch.File("release");
  const std::string gone = FScratch.File("gone");
  InstallLauncher("i=0; while [ ! -e '" + release + "' ] && [ $i -lt 100 ]; do /bin/sleep 0.1; " +
                  "i=$((i+1)); done; : > '" + gone + "'; exit 0");
  const std::string doc = FScratch.Write("doc.txt", "x");
  EXPECT_EQ(Open(doc), Boxes{});
  EXPECT_TRUE(Launched());
  std::ofstream(release) << "";
  EXPECT_TRUE(test::PollUntil([&] { return std::filesystem::exists(gone); }));
}

TEST_F(FakeLauncher, EmptyPathDoesNothing) {
  InstallLauncher("exit 0");
  EXPECT_EQ(Open(""), Boxes{});
  EXPECT_FALSE(Launched());
}

TEST(FileExecPaths, WorkingDirectoryIsTheDirectoryPartWithRootsKept) {
  const std::vector<std::pair<std::string, std::string>> cases = {
      {"/home/user/doc.txt", "/home/user"},
      {"/doc.txt", "/"},
      {"doc.txt", ""},
      {"dir/sub/", "dir/sub"},
      {"//share", "//"},
      {"a//b", "a//"},
      {"./x", "."},
      {"../up/x.txt", "../up"},
  };
  for (const auto& [path, directory] : cases)
    EXPECT_EQ(file_exec::WorkingDirectory(path), directory) << path;
}

TEST(FileExecPaths, BackslashesAreSeparatorsExceptInsideDoubleByteCharacters) {
  EXPECT_EQ(file_exec::NormalizeSeparators("dir\\sub\\x.txt"), "dir/sub/x.txt");
  // "表" is 0x95 0x5C: its second byte is a backslash and stays one.
  const AnsiString kanji = Sjis("表");
  ASSERT_EQ(kanji, "\x95\x5C");
  EXPECT_EQ(file_exec::NormalizeSeparators(kanji + "\\x"), kanji + "/x");
  EXPECT_EQ(file_exec::WorkingDirectory(file_exec::NormalizeSeparators("a\\" + kanji + "\\f")),
            "a/" + kanji);
  // "/" is never a second byte: a lead byte before it does not hide it.
  EXPECT_EQ(file_exec::NormalizeSeparators("\x95/\\x"), "\x95//x");
  EXPECT_EQ(file_exec::WorkingDirectory("\x95/x"), "\x95");
  EXPECT_EQ(file_exec::NormalizeSeparators("a\x95"), "a\x95");
}

TEST(FileExecPaths, UrlSchemesAreTwoCharactersOrMore) {
  EXPECT_TRUE(file_exec::HasUrlScheme("http://example.invalid/"));
  EXPECT_TRUE(file_exec::HasUrlScheme("mailto:someone@example.invalid"));
  EXPECT_TRUE(file_exec::HasUrlScheme("svn+ssh://host/x"));
  EXPECT_FALSE(file_exec::HasUrlScheme("C:\\x.txt"));
  EXPECT_FALSE(file_exec::HasUrlScheme("/tmp/a:b"));
  EXPECT_FALSE(file_exec::HasUrlScheme("1ab:c"));
  EXPECT_FALSE(file_exec::HasUrlScheme("http"));
}

// The other messages are checked where the launcher produces them.
TEST(FileExecPaths, OutOfResourcesMessage) {
  const AnsiString text = file_exec::FailureText(ExecFailure::OutOfResources);
  EXPECT_EQ(Cp932ToUtf8(text), "システムに､ メモリまたはリソースが足りません。");
  EXPECT_NE(text.find("\xA4 "), AnsiString::npos);  // the half-width comma is one CP932 byte
}

}  // namespace
}  // namespace ovelta
