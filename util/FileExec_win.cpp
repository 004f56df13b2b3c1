// Opening a document on Windows: the shell's "open" verb (ShellExecuteExW) on the path in UTF-16,
// in the directory taken from the path, without any box of the shell's own; its failures map to
// the same kinds as on Linux. The shell returns once the handler is started, so nothing is waited
// for.
#include "platform/core/Win32_p.h"

#include <shellapi.h>

#include "util/FileExec_p.h"

namespace ovelta::file_exec {

namespace {

ExecFailure FailureFromSystemError(DWORD Code) {
  switch (Code) {
    case ERROR_FILE_NOT_FOUND:
      return ExecFailure::FileNotFound;
    case ERROR_PATH_NOT_FOUND:
    case ERROR_DIRECTORY:
      return ExecFailure::PathNotFound;
    case ERROR_NO_ASSOCIATION:
      return ExecFailure::NoAssociation;
    case ERROR_NOT_ENOUGH_MEMORY:
    case ERROR_OUTOFMEMORY:
      return ExecFailure::OutOfResources;
    default:
      return ExecFailure::Unknown;
  }
}

}  // namespace

ExecFailure OpenDocument(const AnsiString& Path) {
  if (Path.empty()) return ExecFailure::None;
  std::wstring target;
  if (!win32::Utf8ToWide(Path, target)) return ExecFailure::FileNotFound;
  std::wstring directory;
  if (!HasUrlScheme(Path)) {
    const AnsiString folder = WorkingDirectory(NormalizeSeparators(Path));
    if (!folder.empty()) {
      win32::Utf8ToWide(folder, directory);
      const DWORD attributes = GetFileAttributesW(directory.c_str());
      if (attributes == INVALID_FILE_ATTRIBUTES || (attributes & FILE_ATTRIBUTE_DIRECTORY) == 0)
        return ExecFailure::PathNotFound;
    }
    if (GetFileAttributesW(target.c_str()) == INVALID_FILE_ATTRIBUTES &&
        GetLastError() == ERROR_FILE_NOT_FOUND)
      return ExecFailure::FileNotFound;
  }
  SHELLEXECUTEINFOW info{};
  info.cbSize = sizeof info;
  info.fMask = SEE_MASK_FLAG_NO_UI | SEE_MASK_NOASYNC;
  info.lpVerb = L"open";
  info.lpFile = target.c_str();
  info.lpDirectory = directory.empty() ? nullptr : directory.c_str();
  info.nShow = SW_SHOWNORMAL;
  if (ShellExecuteExW(&info)) return ExecFailure::None;
  return FailureFromSystemError(GetLastError());
}

}  // namespace ovelta::file_exec
