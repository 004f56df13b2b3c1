// FILETIME to and from Unix time; the time stamps of files are the platform's (FileTime_posix.cpp,
// FileTime_win.cpp).
#include "platform/core/FileTime.h"

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

}  // namespace ovelta
