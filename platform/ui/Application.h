// The application object: the title, the message loop, the hooks on idle, minimize, restore and
// unhandled exceptions, the exception display, and the application's own (hidden) window.
//
// Every event handler the platform calls (menu commands, tray clicks, window messages, socket
// events) runs guarded: an exception escaping it is routed to the exception hook, so none
// ever crosses the toolkit's event loop. Code that calls handlers of its own from inside the loop
// does the same with GuardedCall.
//
// Without a display (neither DISPLAY nor WAYLAND_DISPLAY set) the application runs on the
// toolkit's offscreen platform: it starts and works, nothing is seen, and message boxes are written
// to standard error. With a display, message boxes are real dialogs.
#pragma once

#include <exception>
#include <functional>
#include <memory>
#include <string>

#include "platform/core/Component.h"
#include "platform/ui/Controls.h"
#include "platform/core/Exceptions.h"
#include "platform/ui/Icons.h"
#include "platform/core/Types.h"

namespace ovelta {

class TForm;

// The exception hook: the sender whose handler failed (may be null) and the exception.
using TExceptionEvent = std::function<void(TObject* Sender, const Exception& E)>;

class TApplication : public TComponent {
 public:
  TApplication();
  ~TApplication() override;
  std::string ClassName() const override { return "TApplication"; }

  // Starts the UI toolkit if it is not running yet (choosing the offscreen platform when there is
  // no display) and installs the dialog message boxes when there is a display. Safe to call again.
  // Everything that makes windows calls it on first use.
  void Initialize();
  bool Initialized() const;
  // Ends the toolkit again: frees the forms the application owns, then the toolkit. For the end of
  // main and of test programs; Initialize may start it again afterwards.
  void Finalize();
  // Frees the components the application owns (its forms), newest first.
  void DestroyComponents();

  // True when the application runs without a display (the offscreen platform).
  bool Headless() const;

  // The title captions the exception display; setting it also sets ApplicationTitle().
  const AnsiString& Title() const { return FTitle; }
  void SetTitle(const AnsiString& Value);

  // Hooks. OnIdle runs when the message loop has handled every event waiting and is about to
  // wait (so the first time right after the loop starts), once per such moment: after it ran it
  // runs again only once something else has happened. It is never re-entered. OnMinimize and
  // OnRestore run when one of the application's forms is minimized or restored. OnException
  // receives every exception that escapes an event handler; when it is empty the exception is
  // shown.
  TNotifyEvent OnIdle;
  TNotifyEvent OnMinimize;
  TNotifyEvent OnRestore;
  TExceptionEvent OnException;

  // The main form: closing it ends the message loop. Set by CreateForm for the first form, or here.
  TForm* MainForm() const { return FMainForm; }
  void SetMainForm(TForm* Value);
  // Whether Run shows the main form when the loop starts (true unless told otherwise).
  bool ShowMainForm() const { return FShowMainForm; }
  void SetShowMainForm(bool Value) { FShowMainForm = Value; }

  // Runs the message loop until Terminate is called or the main form closes. Returns at once when
  // Terminate was called before.
  void Run();
  // Asks the message loop to end; Run returns once the current handler is done.
  void Terminate();
  bool Terminated() const { return FTerminated; }
  // Handles the messages waiting now, without waiting for more.
  void ProcessMessages();

  // Routes the exception being handled (call it only inside a catch block) to OnException, or
  // shows it when there is no hook. Exceptions that are not Exception come as an Exception with
  // their message. Never throws; an exception escaping the hook itself is shown.
  void HandleException(TObject* Sender) noexcept;
  // The same for an exception already caught (the socket service hands its failures over here).
  void HandleException(TObject* Sender, const std::exception& E) noexcept;
  // The exception display: a message box with the message, captioned by the title, stop icon.
  void ShowException(const std::exception& E);

  // True while one of the application's forms is the active window.
  bool Active() const;
  // Keeps the application out of the taskbar: the application has no window of its own there, and
  // each visible form is marked again as one that has no taskbar entry.
  void HideWindow();
  // Brings the application to the foreground: activates its most recently active visible form.
  void BringToFront();

  // The application's own hidden window (no form; parent of message-only windows).
  HWND Handle();
  // The application's icon: the program's icon resource "MAINICON", or a plain stand-in.
  HICON Icon();

 private:
  struct Impl;
  void Notification(TComponent* AComponent, TOperation Operation) override;
  void Idle();

  std::unique_ptr<Impl> FImpl;
  AnsiString FTitle;
  TForm* FMainForm = nullptr;
  TWinControl* FWindow = nullptr;
  bool FShowMainForm = true;
  bool FTerminated = false;
  bool FRunning = false;
  bool FInIdle = false;
  friend struct ApplicationAccess;
};

// The one application object of the process.
TApplication& Application();

// Runs Fn; an exception escaping it goes to Application().HandleException(Sender).
template <class F> void GuardedCall(TObject* Sender, F&& Fn) noexcept {
  try {
    Fn();
  } catch (...) {
    Application().HandleException(Sender);
  }
}

}  // namespace ovelta
