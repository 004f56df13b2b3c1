// Window handles and window messages. A windowed control (TWinControl) gets a handle on demand;
// a message sent to a handle reaches the control's Dispatch on the user-interface thread, and an
// exception escaping Dispatch goes to the application's exception hook (it never reaches the
// caller of SendMessage). Handles of destroyed controls are dead: messages to them are dropped.
// No Qt here: library units (the tray icon) build on this header alone.
#pragma once

#include <cstdint>

#include "platform/core/Component.h"
#include "platform/core/Types.h"
#include "platform/core/Win32Names.h"  // after every other include: see there

namespace ovelta {

// An opaque window handle. Null is no window.
struct HWND__;
using HWND = HWND__*;

using WPARAM = std::uintptr_t;
using LPARAM = std::intptr_t;
using LRESULT = std::intptr_t;

// Window message numbers used by the system.
inline constexpr unsigned WM_USER = 0x0400;
inline constexpr unsigned WM_MOUSEMOVE = 0x0200;
inline constexpr unsigned WM_LBUTTONDOWN = 0x0201;
inline constexpr unsigned WM_LBUTTONUP = 0x0202;
inline constexpr unsigned WM_LBUTTONDBLCLK = 0x0203;
inline constexpr unsigned WM_RBUTTONDOWN = 0x0204;
inline constexpr unsigned WM_RBUTTONUP = 0x0205;
inline constexpr unsigned WM_RBUTTONDBLCLK = 0x0206;
inline constexpr unsigned WM_MBUTTONDOWN = 0x0207;

// One message as a window receives it. Result is what SendMessage returns.
struct TMessage {
  unsigned Msg = 0;
  WPARAM WParam = 0;
  LPARAM LParam = 0;
  LRESULT Result = 0;
};

// A point in screen coordinates.
struct POINT {
  long x = 0;
  long y = 0;
};

// The mouse cursor's position in screen coordinates. Returns false (and leaves *Point alone) when
// Point is null.
bool GetCursorPos(POINT* Point);

// A control that owns a window: a caption (its text), a visible flag, an optional parent window
// and a handle, made when first asked for and released with the control. Messages sent to the
// handle arrive at Dispatch. The base control draws nothing; forms (platform/ui/Forms.h) put a real
// window behind it, while message-only controls (the tray icon's notify window) stay invisible.
class TWinControl : public TComponent {
 public:
  explicit TWinControl(TComponent* AOwner);
  ~TWinControl() override;
  std::string ClassName() const override { return "TWinControl"; }

  // The window handle, made on first use; valid until the control is destroyed.
  HWND Handle();
  bool HandleAllocated() const { return FHandle != nullptr; }

  // The window's text (CP932). Forms show it as their title.
  const AnsiString& Caption() const { return FCaption; }
  void SetCaption(const AnsiString& Value);

  bool Visible() const { return FVisible; }
  void SetVisible(bool Value);

  // The window this one is a child of; only recorded (a control without a form needs no parent).
  HWND ParentWindow() const { return FParentWindow; }
  void SetParentWindow(HWND Value) { FParentWindow = Value; }

  // Receives every message sent to the handle. The base hands it to DefaultHandler.
  virtual void Dispatch(TMessage& Message);
  // What happens to a message nobody handled: nothing, and a result of 0.
  virtual void DefaultHandler(TMessage& Message);

 protected:
  // Called after the caption or the visible flag changed, for controls with a real window.
  virtual void CaptionChanged() {}
  virtual void VisibleChanged() {}

 private:
  HWND FHandle = nullptr;
  HWND FParentWindow = nullptr;
  AnsiString FCaption;
  bool FVisible = true;
};

// The control behind a live handle, or null for a null or dead handle.
TWinControl* FindControl(HWND Window);

// Delivers a message to Window's Dispatch at once and returns its result; 0 for a dead handle.
// An exception escaping the handler goes to the application's exception hook.
LRESULT SendMessage(HWND Window, unsigned Msg, WPARAM WParam, LPARAM LParam);

}  // namespace ovelta
