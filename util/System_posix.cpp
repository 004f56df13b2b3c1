// The system queries on Linux: whether a file exists, and the physical memory of the machine and
// the virtual address space of the process, capped to 32 bits.
#include <sys/resource.h>
#include <sys/stat.h>
#include <sys/sysinfo.h>
#include <unistd.h>

#include <cstdint>
#include <cstdio>
#include <cstring>
#include <fstream>
#include <limits>
#include <string>

#include "util/Ovelta.h"

namespace ovelta {
namespace {

// The user part of the address space when no limit is set: 128 TiB on 64-bit Linux (47-bit user
// addresses), 3 GiB on 32-bit.
constexpr std::uint64_t kUserAddressSpace =
    sizeof(void*) == 8 ? std::uint64_t{1} << 47 : std::uint64_t{3} << 30;

DWord Capped(std::uint64_t Bytes) {
  return Bytes > std::numeric_limits<DWord>::max() ? std::numeric_limits<DWord>::max()
                                                   : static_cast<DWord>(Bytes);
}

// Multiplies without wrapping: a product beyond 64 bits is as good as infinite here.
std::uint64_t SaturatingProduct(std::uint64_t A, std::uint64_t B) {
  std::uint64_t product;
  if (__builtin_mul_overflow(A, B, &product)) return std::numeric_limits<std::uint64_t>::max();
  return product;
}

// The value in kB of one "Name:   1234 kB" line of /proc/meminfo, in bytes; false when absent.
bool MemInfoBytes(const char* Name, std::uint64_t& Bytes) {
  std::ifstream file("/proc/meminfo");
  std::string key;
  std::uint64_t kib = 0;
  std::string unit;
  const std::string wanted = std::string(Name) + ":";
  while (file >> key >> kib) {
    std::getline(file, unit);
    if (key == wanted) {
      Bytes = SaturatingProduct(kib, 1024);
      return true;
    }
  }
  return false;
}

// The size of the process's address space: the limit, or the user address space without one.
std::uint64_t AddressSpaceBytes() {
  rlimit limit{};
  if (getrlimit(RLIMIT_AS, &limit) == 0 && limit.rlim_cur != RLIM_INFINITY &&
      limit.rlim_cur < kUserAddressSpace)
    return limit.rlim_cur;
  return kUserAddressSpace;
}

// What the process has mapped, from the first field of /proc/self/statm (in pages); false when it
// cannot be read.
bool MappedBytes(std::uint64_t& Bytes) {
  std::ifstream file("/proc/self/statm");
  std::uint64_t pages = 0;
  if (!(file >> pages)) return false;
  const long pageSize = sysconf(_SC_PAGESIZE);
  if (pageSize <= 0) return false;
  Bytes = SaturatingProduct(pages, static_cast<std::uint64_t>(pageSize));
  return true;
}

}  // namespace

bool FileIsExist(const char* Name) {
  if (Name == nullptr || Name[0] == '\0') return false;
  struct stat info {};
  return stat(Name, &info) == 0 && !S_ISDIR(info.st_mode);
}

DWord TotalPhysicalMemory() {
  struct sysinfo info {};
  if (sysinfo(&info) != 0) return 0;
  return Capped(SaturatingProduct(info.totalram, info.mem_unit));
}

DWord AvailPhysicalMemory() {
  std::uint64_t bytes = 0;
  if (MemInfoBytes("MemAvailable", bytes)) return Capped(bytes);
  // Kernels before 3.14 have no estimate: free memory and buffers stand in for it.
  struct sysinfo info {};
  if (sysinfo(&info) != 0) return 0;
  return Capped(SaturatingProduct(std::uint64_t{info.freeram} + info.bufferram, info.mem_unit));
}

DWord TotalVirtualMemory() { return Capped(AddressSpaceBytes()); }

DWord AvailVirtualMemory() {
  std::uint64_t mapped = 0;
  if (!MappedBytes(mapped)) return 0;
  const std::uint64_t total = AddressSpaceBytes();
  return Capped(mapped < total ? total - mapped : 0);
}

}  // namespace ovelta
