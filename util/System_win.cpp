// The system queries on Windows: whether a file exists (by UTF-16 name), and the memory figures of
// GlobalMemoryStatusEx, capped to 32 bits.
#include "platform/core/Win32_p.h"

#include <cstdint>
#include <limits>
#include <string>

#include "util/Ovelta.h"

namespace ovelta {
namespace {

DWord Capped(std::uint64_t Bytes) {
  return Bytes > std::numeric_limits<DWord>::max() ? std::numeric_limits<DWord>::max()
                                                   : static_cast<DWord>(Bytes);
}

bool MemoryStatus(MEMORYSTATUSEX& Status) {
  Status = MEMORYSTATUSEX{};
  Status.dwLength = sizeof Status;
  return GlobalMemoryStatusEx(&Status) != 0;
}

}  // namespace

bool FileIsExist(const char* Name) {
  if (Name == nullptr || Name[0] == '\0') return false;
  std::wstring path;
  if (!win32::Utf8ToWide(Name, path)) return false;
  const DWORD attributes = GetFileAttributesW(path.c_str());
  return attributes != INVALID_FILE_ATTRIBUTES && (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0;
}

DWord TotalPhysicalMemory() {
  MEMORYSTATUSEX status;
  return MemoryStatus(status) ? Capped(status.ullTotalPhys) : 0;
}

DWord AvailPhysicalMemory() {
  MEMORYSTATUSEX status;
  return MemoryStatus(status) ? Capped(status.ullAvailPhys) : 0;
}

DWord TotalVirtualMemory() {
  MEMORYSTATUSEX status;
  return MemoryStatus(status) ? Capped(status.ullTotalVirtual) : 0;
}

DWord AvailVirtualMemory() {
  MEMORYSTATUSEX status;
  return MemoryStatus(status) ? Capped(status.ullAvailVirtual) : 0;
}

}  // namespace ovelta
