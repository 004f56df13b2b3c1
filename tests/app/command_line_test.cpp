// The proxy's command line, run as a program: --listen takes IPv4 and IPv6 addresses only, and a
// bad one ends the program with a usage error before anything starts; --help names the option.
#include <gtest/gtest.h>

#include <fstream>
#include <sstream>
#include <string>
#include <vector>

#include "support/ChildProcess.h"
#include "support/TempDir.h"

namespace ovelta {
namespace {

constexpr const char* kMerlig = MERLIG_BINARY_DIR "/merlig";
// A run that ends at once is given this long on a loaded machine (a program that went on to start
// is stopped after it).
constexpr int kRunMs = 60000;
constexpr int kUsageError = 2;

struct Result {
  int Status = -1;
  std::string Out;
  std::string Err;
};

std::string ReadAll(const std::string& Path) {
  std::ifstream in(Path, std::ios::binary);
  std::ostringstream text;
  text << in.rdbuf();
  return text.str();
}

Result Merlig(const std::vector<std::string>& Args) {
  test::TempDir dir;
  std::vector<std::string> argv = {kMerlig};
  argv.insert(argv.end(), Args.begin(), Args.end());
  test::ChildProcess::Options options;
  options.Directory = dir.Path();
  options.OutputFile = dir.File("out");
  options.ErrorFile = dir.File("err");
  options.Environment = {{"QT_QPA_PLATFORM", "offscreen"}};
  test::ChildProcess child;
  Result r;
  if (!child.Start(argv, options)) {
    ADD_FAILURE() << "merlig could not be started";
    return r;
  }
  r.Status = child.Wait(kRunMs);
  child.Stop();
  r.Out = ReadAll(dir.File("out"));
  r.Err = ReadAll(dir.File("err"));
  return r;
}

TEST(CommandLine, ABadListenAddressIsAUsageErrorBeforeAnythingStarts) {
  const std::vector<std::vector<std::string>> runs = {
      {"--listen", "localhost"},
      {"--listen", "127.0.0.1", "--listen", "300.0.0.1"},  // the good one is not opened first
      {"--listen=::1::2"},
      {"--listen", ""},
      {"--listen"},
  };
  for (const auto& args : runs) {
    const Result r = Merlig(args);
    EXPECT_EQ(r.Status, kUsageError) << args.back();
    EXPECT_EQ(r.Out, "") << args.back();
    EXPECT_EQ(r.Err.rfind("merlig: --listen", 0), 0u) << r.Err;
    EXPECT_EQ(r.Err.find('\n'), r.Err.size() - 1) << r.Err;  // one line, nothing else
  }
}

TEST(CommandLine, HelpNamesListenAndWhenToUseIt) {
  const Result r = Merlig({"--help"});
  EXPECT_EQ(r.Status, 0);
  EXPECT_NE(r.Out.find("--listen ADDRESS"), std::string::npos) << r.Out;
  EXPECT_NE(r.Out.find("--listen 127.0.0.1 --listen ::1"), std::string::npos) << r.Out;
}

}  // namespace
}  // namespace ovelta
