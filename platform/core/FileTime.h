// FILETIME, the platform's time stamp (100-nanosecond units since 1601-01-01 UTC, low word first),
// to and from the system's Unix time, and the last-write time of a file by name.
#pragma once

#include <cstdint>

#include "platform/core/Types.h"

namespace ovelta {

// 100-nanosecond units between 1601-01-01 and 1970-01-01, both UTC.
inline constexpr std::int64_t kFileTimeUnixEpoch = 116444736000000000LL;

// The FILETIME of a Unix time (seconds and nanoseconds since 1970-01-01 UTC). Times before 1601
// give 0; times beyond the last FILETIME give the largest one.
FILETIME UnixTimeToFileTime(std::int64_t Seconds, std::int32_t Nanoseconds);
// The Unix time of a FILETIME (any value of the two words is accepted).
void FileTimeToUnixTime(const FILETIME& Time, std::int64_t& Seconds, std::int32_t& Nanoseconds);
// The 64-bit count of a FILETIME, and back.
inline std::uint64_t FileTimeTicks(const FILETIME& Time) {
  return (std::uint64_t{Time.dwHighDateTime} << 32) | Time.dwLowDateTime;
}
inline FILETIME FileTimeFromTicks(std::uint64_t Ticks) {
  return FILETIME{static_cast<DWord>(Ticks), static_cast<DWord>(Ticks >> 32)};
}

// The last-write time of the file FileName; false when the system cannot say.
bool GetFileLastWriteTime(const AnsiString& FileName, FILETIME& Time);
// Sets the last-write (and last-access) time of FileName; false on failure.
bool SetFileLastWriteTime(const AnsiString& FileName, const FILETIME& Time);

}  // namespace ovelta
