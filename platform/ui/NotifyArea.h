// The notification area (the system tray): one shell call, Shell_NotifyIconA, adds, modifies and
// deletes icons, each named by its window and identifier and carrying an icon and a tool-tip text.
// Mouse activity on an icon is sent to its window as the icon's callback message, with the
// icon identifier as the word parameter and the mouse message number (WM_LBUTTONDOWN,
// WM_LBUTTONDBLCLK, WM_RBUTTONDOWN, WM_RBUTTONDBLCLK) as the long parameter.
//
// The service behind the call is replaceable: the desktop's tray through the toolkit by default,
// or a handler of the program's own (SetNotifyAreaHandler).
#pragma once

#include <functional>
#include <vector>

#include "platform/ui/Controls.h"
#include "platform/ui/Icons.h"
#include "platform/core/Types.h"
#include "platform/core/Win32Names.h"  // after every other include: see there

namespace ovelta {

inline constexpr DWord NIM_ADD = 0;
inline constexpr DWord NIM_MODIFY = 1;
inline constexpr DWord NIM_DELETE = 2;

inline constexpr unsigned NIF_MESSAGE = 0x1;
inline constexpr unsigned NIF_ICON = 0x2;
inline constexpr unsigned NIF_TIP = 0x4;

// The record size callers put in cbSize: the shell's 488-byte layout, whose tip holds 128
// characters with the terminating zero.
inline constexpr DWord NOTIFYICONDATAA_V2_SIZE = 488;
inline constexpr int kNotifyTipSize = 128;

// The shell's notify-icon record, with the members the service reads (the shell's further balloon
// and state members are never used here).
struct NOTIFYICONDATAA {
  DWord cbSize = 0;
  HWND hWnd = nullptr;
  unsigned uID = 0;
  unsigned uFlags = 0;
  unsigned uCallbackMessage = 0;
  HICON hIcon = nullptr;
  char szTip[kNotifyTipSize] = {};
};

// Adds (NIM_ADD), modifies (NIM_MODIFY) or deletes (NIM_DELETE) the icon Data names (hWnd, uID).
// uFlags says which of uCallbackMessage, hIcon and szTip are valid; szTip is read up to its first
// zero byte and never beyond the member. Returns whether the service took the call: false for
// a null Data, an unknown message, adding an icon that is there, or modifying or deleting one
// that is not.
bool Shell_NotifyIconA(DWord Message, const NOTIFYICONDATAA* Data);

// True when the desktop has a notification area to put icons in (false without a display).
bool NotifyAreaAvailable();

using NotifyAreaHandler = std::function<bool(DWord Message, const NOTIFYICONDATAA& Data)>;
// Replaces the service (empty: back to the desktop's tray) and returns the previous handler.
NotifyAreaHandler SetNotifyAreaHandler(NotifyAreaHandler Handler);

}  // namespace ovelta
