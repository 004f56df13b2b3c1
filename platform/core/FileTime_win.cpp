// File time stamps as the system keeps them: FILETIME, read and set on a handle opened by UTF-16 name.
#include "platform/core/Win32_p.h"

#include "platform/core/FileTime.h"

namespace ovelta {

namespace {

// Opens Name for reading attributes (Access) without shutting anyone out; directories too.
HANDLE OpenForTimes(const AnsiString& Name, DWORD Access) {
  std::wstring path;
  if (Name.empty() || !win32::Utf8ToWide(Name, path)) return INVALID_HANDLE_VALUE;
  return CreateFileW(path.c_str(), Access, FILE_SHARE_READ | FILE_SHARE_WRITE | FILE_SHARE_DELETE,
                     nullptr, OPEN_EXISTING, FILE_FLAG_BACKUP_SEMANTICS, nullptr);
}

}  // namespace

bool GetFileLastWriteTime(const AnsiString& FileName, FILETIME& Time) {
  HANDLE file = OpenForTimes(FileName, FILE_READ_ATTRIBUTES);
  if (file == INVALID_HANDLE_VALUE) return false;
  ::FILETIME written;
  const bool ok = GetFileTime(file, nullptr, nullptr, &written) != 0;
  CloseHandle(file);
  if (ok) Time = FILETIME{written.dwLowDateTime, written.dwHighDateTime};
  return ok;
}

bool SetFileLastWriteTime(const AnsiString& FileName, const FILETIME& Time) {
  HANDLE file = OpenForTimes(FileName, FILE_WRITE_ATTRIBUTES);
  if (file == INVALID_HANDLE_VALUE) return false;
  const ::FILETIME stamp{Time.dwLowDateTime, Time.dwHighDateTime};
  const bool ok = SetFileTime(file, nullptr, &stamp, &stamp) != 0;
  CloseHandle(file);
  return ok;
}

}  // namespace ovelta
