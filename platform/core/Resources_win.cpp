// Module handles and resources as Windows keeps them: a module's handle is its image base, and its
// resources are the PE resource section windres compiled into it, found with FindResourceW.
#include "platform/core/Win32_p.h"

#include "platform/core/Resources.h"
#include "platform/core/Resources_p.h"

namespace ovelta {

namespace {

// A resource type or name for the wide calls: an integer id as it is, a string in UTF-16 (Storage
// keeps it alive).
bool WideName(const char* Name, std::wstring& Storage, const wchar_t** Wide) {
  if (IS_INTRESOURCE(Name)) {
    *Wide = MAKEINTRESOURCEW(static_cast<WORD>(reinterpret_cast<std::uintptr_t>(Name)));
    return Name != nullptr;
  }
  if (!win32::Utf8ToWide(Name, Storage)) return false;
  *Wide = Storage.c_str();
  return true;
}

}  // namespace

HINSTANCE MainInstance() { return reinterpret_cast<HINSTANCE>(GetModuleHandleW(nullptr)); }

HINSTANCE ModuleOfAddress(const void* Address) {
  HMODULE module = nullptr;
  if (!Address ||
      !GetModuleHandleExW(
          GET_MODULE_HANDLE_EX_FLAG_FROM_ADDRESS | GET_MODULE_HANDLE_EX_FLAG_UNCHANGED_REFCOUNT,
          static_cast<LPCWSTR>(Address), &module))
    return nullptr;
  return reinterpret_cast<HINSTANCE>(module);
}

bool FindModuleResource(HINSTANCE Module, const char* Type, const char* Name, TResourceData* Found) {
  std::wstring typeText, nameText;
  const wchar_t* type = nullptr;
  const wchar_t* name = nullptr;
  if (!Module || !WideName(Type, typeText, &type) || !WideName(Name, nameText, &name)) return false;
  HMODULE module = reinterpret_cast<HMODULE>(Module);
  HRSRC info = FindResourceW(module, name, type);
  if (!info) return false;
  HGLOBAL loaded = LoadResource(module, info);
  const void* data = loaded ? LockResource(loaded) : nullptr;
  if (!data) return false;
  if (Found) *Found = TResourceData{static_cast<const Byte*>(data), SizeofResource(module, info)};
  return true;
}

}  // namespace ovelta
