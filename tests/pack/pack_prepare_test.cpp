// Members prepared ahead on worker threads: the pack AddPrepared writes is the one AddFile writes,
// failures included, and the preparer keeps to its memory bound.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "pack/Pack.h"
#include "pack/PackPrepare.h"
#include "pack_support.h"
#include "platform/core/FileTime.h"
#include "support/MessageBoxRecorder.h"

namespace ovelta {
namespace {

using namespace pack_test;

struct File {
  std::string Name;
  std::string Bytes;  // unused when Missing
  bool Missing = false;
};

// Mixed sources: compressible, incompressible, empty, one byte, longer than a slice, noise with a
// compressible tail, a missing file and a bad member name in the middle, more files than workers.
std::vector<File> MixedFiles() {
  return {{"text.txt", TextBytes(70000)},
          {"noise.bin", RandomBytes(40000, 3)},
          {"empty.dat", ""},
          {"one.txt", "x"},
          {"gone.txt", "", true},
          {"long.txt", TextBytes(300000)},
          {"", TextBytes(100)},  // no base name: refused
          {"zeros.dat", std::string(50000, '\0')},
          {"tail.bin", RandomBytes(17000, 5) + TextBytes(9000)},
          {"last.txt", TextBytes(16384)}};
}

struct Outcome {
  std::string Pack;
  std::vector<TPackReason> Reasons;  // LastError after each add
  std::vector<AnsiString> Boxes;
};

// Builds Pack from Files through AddFile, or through a preparer with Workers threads and Budget.
Outcome Build(const ScratchDir& Dir, const std::string& Pack, const std::vector<File>& Files,
              bool Compress, int Workers, std::int64_t Budget, std::int64_t* Peak = nullptr) {
  std::vector<TPrepareJob> jobs;
  for (std::size_t i = 0; i < Files.size(); ++i) {
    const std::string path = Dir.File("src" + std::to_string(i));
    if (!Files[i].Missing) {
      WriteAll(path, Files[i].Bytes);
      SetFileLastWriteTime(path, UnixTimeToFileTime(1600000000 + static_cast<int>(i), 0));
    }
    jobs.push_back({path, Compress});
  }
  Outcome out;
  test::MessageBoxRecorder boxes;
  {
    TOvPack pack;
    pack.SetReadOnly(false);
    EXPECT_TRUE(pack.NewPack(Dir.File(Pack)));
    TMemberPreparer preparer(jobs, Workers, Budget);
    for (std::size_t i = 0; i < Files.size(); ++i) {
      if (Workers < 0) {
        pack.AddFile(Files[i].Name, jobs[i].Path, Compress);
      } else {
        TPreparedMember member = preparer.Take();
        EXPECT_EQ(member.Path, jobs[i].Path);
        pack.AddPrepared(Files[i].Name, member);
      }
      out.Reasons.push_back(pack.LastError().Reason);
    }
    EXPECT_TRUE(pack.EndPack());
    if (Peak) *Peak = preparer.PeakHeld();
  }
  for (const auto& b : boxes.Boxes()) out.Boxes.push_back(b.Text);
  out.Pack = ReadAll(Dir.File(Pack));
  return out;
}

TEST(PackPrepare, PreparedMembersGiveTheBytesAndFailuresOfAddFile) {
  ScratchDir dir;
  const std::vector<File> files = MixedFiles();
  for (bool compress : {true, false}) {
    SCOPED_TRACE(compress);
    const Outcome plain = Build(dir, "plain.pak", files, compress, -1, kPrepareBudget);
    ASSERT_EQ(plain.Reasons[4], TPackReason::CannotOpen);
    ASSERT_EQ(plain.Reasons[6], TPackReason::BadName);
    ASSERT_EQ(plain.Boxes.size(), 2u);
    for (int workers : {0, 1, 3}) {
      SCOPED_TRACE(workers);
      std::int64_t peak = 0;
      const Outcome ahead =
          Build(dir, "ahead.pak", files, compress, workers, kPrepareBudget, &peak);
      EXPECT_TRUE(ahead.Pack == plain.Pack);
      EXPECT_EQ(ahead.Reasons, plain.Reasons);
      EXPECT_EQ(ahead.Boxes, plain.Boxes);
      EXPECT_EQ(peak > 0, workers > 0);
    }
  }
}

TEST(PackPrepare, BytesHeldStayWithinTheBudget) {
  ScratchDir dir;
  std::vector<File> files;
  for (int i = 0; i < 8; ++i)
    files.push_back({"m" + std::to_string(i) + ".txt", TextBytes(100000)});
  files.push_back({"huge.txt", TextBytes(400000)});  // alone above the budget: added by AddFile
  files.push_back({"after.bin", RandomBytes(100000, 9)});
  const Outcome plain = Build(dir, "plain.pak", files, true, -1, 0);
  // Room for two members of 100000 bytes at a time, not three.
  const std::int64_t budget = 2 * PreparedFootprint(100000) + 1000;
  std::int64_t peak = 0;
  const Outcome ahead = Build(dir, "ahead.pak", files, true, 4, budget, &peak);
  EXPECT_TRUE(ahead.Pack == plain.Pack);
  EXPECT_GE(peak, PreparedFootprint(100000));
  EXPECT_LE(peak, budget);

  // A file above the size it was measured at is not read.
  TPreparedMember direct = PrepareMember(dir.File("src8"), true, 1000);
  EXPECT_FALSE(direct.Ready);
  EXPECT_EQ(direct.Stored, nullptr);
}

}  // namespace
}  // namespace ovelta
