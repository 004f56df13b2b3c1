// The module resource registry: resources recorded by module handle, type and name. What the
// registry lacks is asked of the platform (Resources_posix.cpp, Resources_win.cpp), which also
// knows the module handles.
#include "platform/core/Resources.h"
#include "platform/core/Resources_p.h"

#include <cctype>
#include <cstdlib>
#include <map>
#include <mutex>
#include <string>
#include <tuple>

namespace ovelta {

namespace {

// A name or type as the registry keys it: an integer id, or an upper-cased string.
struct TResourceKey {
  bool IsId = false;
  unsigned Id = 0;
  std::string Text;

  friend bool operator<(const TResourceKey& A, const TResourceKey& B) {
    return std::tie(A.IsId, A.Id, A.Text) < std::tie(B.IsId, B.Id, B.Text);
  }
};

// "#123" is the id 123 in the platform's convention; so is MAKEINTRESOURCE(123).
bool KeyOf(const char* Name, TResourceKey* Key) {
  if (IS_INTRESOURCE(Name)) {
    if (Name == nullptr) return false;  // id 0 is no resource
    Key->IsId = true;
    Key->Id = static_cast<unsigned>(reinterpret_cast<std::uintptr_t>(Name));
    return true;
  }
  if (Name[0] == '#' && Name[1] != '\0') {
    unsigned id = 0;
    const char* p = Name + 1;
    for (; *p >= '0' && *p <= '9'; ++p) {
      id = id * 10 + static_cast<unsigned>(*p - '0');
      if (id > 0xFFFF) return false;
    }
    if (*p == '\0') {
      Key->IsId = true;
      Key->Id = id;
      return id != 0;
    }
  }
  Key->IsId = false;
  for (const char* p = Name; *p; ++p)
    Key->Text += static_cast<char>(std::toupper(static_cast<unsigned char>(*p)));
  return true;
}

using TFullKey = std::tuple<HINSTANCE, TResourceKey, TResourceKey>;

struct TRegistry {
  std::mutex Lock;
  std::map<TFullKey, TResourceData> Entries;
};

TRegistry& Registry() {
  static TRegistry* registry = new TRegistry;  // lives as long as the process: modules unload late
  return *registry;
}

bool FullKey(HINSTANCE Module, const char* Type, const char* Name, TFullKey* Key) {
  TResourceKey type, name;
  if (!Module || !KeyOf(Type, &type) || !KeyOf(Name, &name)) return false;
  *Key = TFullKey(Module, type, name);
  return true;
}

}  // namespace

void RegisterResource(HINSTANCE Module, const char* Type, const char* Name, const void* Data,
                      std::size_t Size) {
  TFullKey key;
  if (!FullKey(Module, Type, Name, &key) || (!Data && Size > 0)) return;
  TRegistry& registry = Registry();
  std::lock_guard<std::mutex> guard(registry.Lock);
  registry.Entries[key] = TResourceData{static_cast<const Byte*>(Data), Size};
}

void UnregisterResource(HINSTANCE Module, const char* Type, const char* Name) {
  TFullKey key;
  if (!FullKey(Module, Type, Name, &key)) return;
  TRegistry& registry = Registry();
  std::lock_guard<std::mutex> guard(registry.Lock);
  registry.Entries.erase(key);
}

bool FindResourceData(HINSTANCE Module, const char* Type, const char* Name, TResourceData* Found) {
  TFullKey key;
  if (!FullKey(Module, Type, Name, &key)) return false;
  {
    TRegistry& registry = Registry();
    std::lock_guard<std::mutex> guard(registry.Lock);
    auto entry = registry.Entries.find(key);
    if (entry != registry.Entries.end()) {
      if (Found) *Found = entry->second;
      return true;
    }
  }
  return FindModuleResource(Module, Type, Name, Found);
}

TResourceRegistration::TResourceRegistration(const void* ModuleAnchor, const char* Type,
                                             const char* Name, const void* Data, std::size_t Size)
    : FModule(ModuleOfAddress(ModuleAnchor)), FType(Type), FName(Name) {
  RegisterResource(FModule, Type, Name, Data, Size);
}

TResourceRegistration::~TResourceRegistration() { UnregisterResource(FModule, FType, FName); }

}  // namespace ovelta
