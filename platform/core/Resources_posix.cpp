// Module handles from the dynamic loader (the address where a module's image is mapped). ELF
// modules carry no resource section: their resources are the registered ones only.
#include "platform/core/Resources.h"
#include "platform/core/Resources_p.h"

#include <dlfcn.h>
#include <link.h>
#include <unistd.h>

#include <cstdint>

namespace ovelta {

namespace {

int FirstObject(dl_phdr_info* Info, std::size_t, void* Result) {
  // The first object the loader reports is the main program; its image starts at the lowest address
  // of its loadable segments.
  std::uintptr_t lowest = UINTPTR_MAX;
  for (int i = 0; i < Info->dlpi_phnum; ++i)
    if (Info->dlpi_phdr[i].p_type == PT_LOAD && Info->dlpi_phdr[i].p_vaddr < lowest)
      lowest = Info->dlpi_phdr[i].p_vaddr;
  if (lowest == UINTPTR_MAX) lowest = 0;
  lowest &=
      ~static_cast<std::uintptr_t>(sysconf(_SC_PAGESIZE) - 1);  // the mapping starts on a page
  *static_cast<std::uintptr_t*>(Result) = Info->dlpi_addr + lowest;
  return 1;
}

}  // namespace

HINSTANCE MainInstance() {
  static const HINSTANCE main = [] {
    std::uintptr_t base = 0;
    dl_iterate_phdr(FirstObject, &base);
    return reinterpret_cast<HINSTANCE>(base);
  }();
  return main;
}

HINSTANCE ModuleOfAddress(const void* Address) {
  Dl_info info{};
  if (!Address || dladdr(Address, &info) == 0) return nullptr;
  return static_cast<HINSTANCE>(info.dli_fbase);
}

bool FindModuleResource(HINSTANCE, const char*, const char*, TResourceData*) { return false; }

}  // namespace ovelta
