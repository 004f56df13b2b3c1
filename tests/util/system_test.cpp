// FileIsExist on the kinds of names a caller meets, silently; the memory queries' relations and
// their cap at 32 bits.
#include <sys/resource.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <gtest/gtest.h>

#include <cstdint>
#include <filesystem>
#include <vector>

#include "support/ChildProcess.h"
#include "support/Poll.h"
#include "support/TempDir.h"
#include "util/Ovelta.h"

namespace ovelta {
namespace {

using test::TempDir;

TEST(FileIsExist, OnlyExistingNonDirectoriesCount) {
  TempDir dir;
  const std::string file = dir.Write("plain.txt", "x");
  const std::string empty = dir.Write("empty.bin", "");
  std::filesystem::create_directory(dir.File("sub"));
  std::filesystem::create_symlink(file, dir.File("link-to-file"));
  std::filesystem::create_symlink(dir.File("sub"), dir.File("link-to-dir"));
  std::filesystem::create_symlink(dir.File("gone"), dir.File("dangling"));

  EXPECT_TRUE(FileIsExist(file.c_str()));
  EXPECT_TRUE(FileIsExist(empty.c_str()));
  EXPECT_TRUE(FileIsExist(dir.File("link-to-file").c_str()));
  EXPECT_TRUE(FileIsExist("/dev/null"));

  EXPECT_FALSE(FileIsExist(dir.File("sub").c_str()));
  EXPECT_FALSE(FileIsExist(dir.File("sub/").c_str()));
  EXPECT_FALSE(FileIsExist(dir.File("link-to-dir").c_str()));
  EXPECT_FALSE(FileIsExist(dir.File("dangling").c_str()));
  EXPECT_FALSE(FileIsExist(dir.File("missing.txt").c_str()));
  EXPECT_FALSE(FileIsExist((file + "/below").c_str()));  // a file used as a directory
  EXPECT_FALSE(FileIsExist(""));
  EXPECT_FALSE(FileIsExist(nullptr));
  EXPECT_FALSE(FileIsExist(std::string(5000, 'n').c_str()));  // too long for the system
}

TEST(FileIsExist, WritesNothingToAnyOutput) {
  ::testing::internal::CaptureStdout();
  ::testing::internal::CaptureStderr();
  FileIsExist("/no/such/dir/file");
  FileIsExist("/proc");
  FileIsExist(std::string(5000, 'n').c_str());
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
  EXPECT_EQ(::testing::internal::GetCapturedStdout(), "");
}

#if defined(__SANITIZE_ADDRESS__)
constexpr bool kAddressSanitizer = true;
#elif defined(__has_feature)
#if __has_feature(address_sanitizer)
constexpr bool kAddressSanitizer = true;
#else
constexpr bool kAddressSanitizer = false;
#endif
#else
constexpr bool kAddressSanitizer = false;
#endif

constexpr std::uint64_t kCap = 0xFFFFFFFFu;

std::uint64_t CappedExpectation(std::uint64_t Bytes) { return Bytes > kCap ? kCap : Bytes; }

TEST(MemoryQueries, PhysicalMemoryIsTheMachinesCappedAt32Bits) {
  struct sysinfo info {};
  ASSERT_EQ(sysinfo(&info), 0);
  const std::uint64_t ram = std::uint64_t{info.totalram} * info.mem_unit;
  EXPECT_EQ(TotalPhysicalMemory(), CappedExpectation(ram));
  const DWord available = AvailPhysicalMemory();
  EXPECT_GT(available, 0u);
  EXPECT_LE(available, TotalPhysicalMemory());
}

TEST(MemoryQueries, VirtualMemoryIsTheProcessAddressSpace) {
  rlimit limit{};
  ASSERT_EQ(getrlimit(RLIMIT_AS, &limit), 0);
  if (limit.rlim_cur != RLIM_INFINITY || sizeof(void*) != 8)
    GTEST_SKIP() << "the test expects a 64-bit process without an address-space limit";
  // 128 TiB does not fit: capped, not wrapped (it would wrap to 0).
  EXPECT_EQ(TotalVirtualMemory(), kCap);
  EXPECT_EQ(AvailVirtualMemory(), kCap);
}

// Under an address-space limit the figures are exact; measured in a child so that the limit does
// not reach the rest of the tests.
TEST(MemoryQueries, AddressSpaceLimitIsTheTotalAndMappingsReduceTheAvailable) {
  if (kAddressSanitizer) GTEST_SKIP() << "AddressSanitizer cannot run under an address-space limit";
  constexpr std::uint64_t kLimit = std::uint64_t{3} << 30;
  test::ChildProcess child;
  ASSERT_TRUE(child.StartFunction([] {
    rlimit limit{kLimit, kLimit};
    int failures = 0;
    if (setrlimit(RLIMIT_AS, &limit) != 0) return 100;
    if (TotalVirtualMemory() != kLimit) failures |= 1;
    const DWord before = AvailVirtualMemory();
    if (before >= kLimit) failures |= 2;
    {
      std::vector<char> block(64 << 20, 1);
      const DWord after = AvailVirtualMemory();
      if (!(after < before && before - after >= (64u << 20))) failures |= 4;
    }
    return failures;
  }));
  const int status = child.Wait(test::kDeadlineMs);
  EXPECT_EQ(status, 0) << "failed checks (bits), or -1: not ended: " << status;
}

}  // namespace
}  // namespace ovelta
