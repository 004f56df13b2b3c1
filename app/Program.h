// The program's life from the entry point: the title, the main window, the log window, the message
// loop, and the windows freed in reverse order (the log window first, so nothing is logged while
// the main window closes its sockets).
#pragma once

#include <functional>

#include "app/Logf.h"
#include "app/Mainf.h"

namespace ovelta {

// A desktop without a tray to reach the program from: the log window is shown at once, and
// closing it (its title bar or its 閉じる button) ends the program, so it is never left running
// out of reach.
void LogWindowInsteadOfTray(TMainForm& Main, TLogForm& Log);

// Runs Merlig until its main window closes and returns the exit code: 0 when the listener was
// opened, 1 when it never was (the port could not be opened, or the program failed to start).
// Started, when given, runs once both windows exist and before the message loop starts (tests
// drive the program from there). The ports are the main window's, for tests only; the program
// uses 110. Listener, when given, holds the listener's sockets, bound before the toolkit started
// (or the reason they could not be): the listener opens on them, at the first idle moment as
// always, instead of binding ListenPort on every address itself.
int MerligMain(int ListenPort = kPop3Port, int UpstreamPort = kPop3Port,
               const std::function<void(TMainForm&, TLogForm&)>& Started = {},
               TBoundSockets* Listener = nullptr);

}  // namespace ovelta
