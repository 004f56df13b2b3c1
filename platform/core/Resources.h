// Module resources: blocks of bytes compiled into the library or a program (bitmaps and the like),
// found by module handle, type and name as the platform's resource calls find them.
//
// A module is one loaded executable or shared library; its handle is the address at which the
// module's image is mapped. Resources are registered by the module that carries them, normally from
// a static initializer that the build generates (ovelta_add_resources in platform/unit.cmake), so
// they exist before main runs and as long as the module stays loaded.
//
// Names and types follow the integer-identifier convention: a value below 0x10000 passed as a
// pointer (MAKEINTRESOURCE(id)) is the integer id itself; a string "#123" names the id 123 too; any
// other string is a name, compared without regard to ASCII case.
#pragma once

#include <cstddef>
#include <cstdint>

#include "platform/core/Types.h"
#include "platform/core/Win32Names.h"  // after every other include: see there

// The module handle is the system's own type on Windows (<windows.h> declares the same struct).
struct HINSTANCE__;

namespace ovelta {

using HINSTANCE = ::HINSTANCE__*;
using HMODULE = HINSTANCE;

// A resource name or type that is an integer id.
inline const char* MAKEINTRESOURCE(unsigned Id) {
  return reinterpret_cast<const char*>(static_cast<std::uintptr_t>(Id & 0xFFFFu));
}
inline bool IS_INTRESOURCE(const char* Name) {
  return (reinterpret_cast<std::uintptr_t>(Name) >> 16) == 0;
}

// Resource types used by the system.
inline const char* const RT_BITMAP = MAKEINTRESOURCE(2);
inline const char* const RT_RCDATA = MAKEINTRESOURCE(10);

// The handle of the running program (the main executable); the same for every caller.
HINSTANCE MainInstance();
// The handle of the module that contains Address (a function or object of that module), or null.
HINSTANCE ModuleOfAddress(const void* Address);

// Records a resource of Module. Data must stay valid while the module is loaded (static storage).
// A second registration of the same module, type and name replaces the first.
void RegisterResource(HINSTANCE Module, const char* Type, const char* Name, const void* Data,
                      std::size_t Size);
// Removes a resource (used when a module unloads, and by tests).
void UnregisterResource(HINSTANCE Module, const char* Type, const char* Name);

// A found resource: its bytes stay valid while its module is loaded.
struct TResourceData {
  const Byte* Data = nullptr;
  std::size_t Size = 0;
};

// Looks a resource up; false when the module has no resource of that type and name.
bool FindResourceData(HINSTANCE Module, const char* Type, const char* Name, TResourceData* Found);

// Registers one resource of the module this object lives in (put it at namespace scope in that
// module; the generated resource files do).
class TResourceRegistration {
 public:
  TResourceRegistration(const void* ModuleAnchor, const char* Type, const char* Name,
                        const void* Data, std::size_t Size);
  ~TResourceRegistration();
  TResourceRegistration(const TResourceRegistration&) = delete;
  TResourceRegistration& operator=(const TResourceRegistration&) = delete;

 private:
  HINSTANCE FModule;
  const char* FType;
  const char* FName;
};

}  // namespace ovelta
