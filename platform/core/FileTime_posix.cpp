// FILETIME to and from Unix time, and file time stamps through stat/utimensat.
#include "platform/core/FileTime.h"

#include <fcntl.h>
#include <sys/stat.h>

#include <limits>

namespace ovelta {

namespace {
constexpr std::int64_t kTicksPerSecond = 10000000;
}

FILETIME UnixTimeToFileTime(std::int64_t Seconds, std::int32_t Nanoseconds) {
  // Normalise the nanoseconds into 0..999999999 first.
  Seconds += Nanoseconds / 1000000000;
  Nanoseconds %= 1000000000;
  if (Nanoseconds < 0) {
    Nanoseconds += 1000000000;
    Seconds -= 1;
  }
  constexpr std::int64_t kFirstSecond = -kFileTimeUnixEpoch / kTicksPerSecond;
  constexpr std::int64_t kLastSecond =
      static_cast<std::int64_t>(std::numeric_limits<std::uint64_t>::max() / kTicksPerSecond) +
      kFirstSecond - 1;
  if (Seconds < kFirstSecond) return FILETIME{};
  if (Seconds > kLastSecond) return FileTimeFromTicks(std::numeric_limits<std::uint64_t>::max());
  const auto since1601 = static_cast<std::uint64_t>(Seconds - kFirstSecond);
  return FileTimeFromTicks(since1601 * kTicksPerSecond +
                           static_cast<std::uint64_t>(Nanoseconds / 100));
}

void FileTimeToUnixTime(const FILETIME& Time, std::int64_t& Seconds, std::int32_t& Nanoseconds) {
  const std::uint64_t ticks = FileTimeTicks(Time);
  Seconds =
      static_cast<std::int64_t>(ticks / kTicksPerSecond) - kFileTimeUnixEpoch / kTicksPerSecond;
  Nanoseconds = static_cast<std::int32_t>(ticks % kTicksPerSecond) * 100;
}

bool GetFileLastWriteTime(const AnsiString& FileName, FILETIME& Time) {
  struct stat info {};
  if (::stat(FileName.c_str(), &info) != 0) return false;
  Time = UnixTimeToFileTime(info.st_mtim.tv_sec, static_cast<std::int32_t>(info.st_mtim.tv_nsec));
  return true;
}

bool SetFileLastWriteTime(const AnsiString& FileName, const FILETIME& Time) {
  std::int64_t seconds = 0;
  std::int32_t nanoseconds = 0;
  FileTimeToUnixTime(Time, seconds, nanoseconds);
  struct timespec times[2];
  times[0].tv_sec = static_cast<time_t>(seconds);
  times[0].tv_nsec = nanoseconds;
  times[1] = times[0];
  return ::utimensat(AT_FDCWD, FileName.c_str(), times, 0) == 0;
}

}  // namespace ovelta
