// File time stamps through stat/utimensat.
#include "platform/core/FileTime.h"

#include <fcntl.h>
#include <sys/stat.h>

namespace ovelta {

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
