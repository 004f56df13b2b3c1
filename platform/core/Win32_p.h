// The one way the library's Windows files reach the system's API: <windows.h> with the macros that
// clash with the library's own names taken away, plus the conversions every Windows file needs
// (UTF-8 names to UTF-16, the system's error codes to errno values). Include it only from *_win.cpp
// files, and before any header of the library.
#pragma once

#ifndef WIN32_LEAN_AND_MEAN
#define WIN32_LEAN_AND_MEAN
#endif
#ifndef NOMINMAX
#define NOMINMAX
#endif
#ifndef UNICODE
#define UNICODE
#endif
#include <windows.h>

#include "platform/core/Win32Names.h"

#include <string>
#include <string_view>

namespace ovelta::win32 {

// Utf8 as UTF-16 for the system's wide calls; false (Wide left empty) when Utf8 is not valid UTF-8.
bool Utf8ToWide(std::string_view Utf8, std::wstring& Wide);
// UTF-16 from the system as UTF-8 (unpaired surrogates become U+FFFD).
std::string WideToUtf8(std::wstring_view Wide);

// The errno value that stands for a system error code (GetLastError, WSAGetLastError): the one
// translation point of the Windows files, so that callers see one error space on every platform.
// Codes without a counterpart give EIO.
int ErrnoFromSystemError(DWORD Code);
// ErrnoFromSystemError(GetLastError()).
int LastErrno();

}  // namespace ovelta::win32
