// The entry sequence: title, windows, the desktop without a notification area, the loop, and the
// windows freed newest first.
#include "app/Program.h"

#include <utility>

#include "platform/ui/Application.h"
#include "platform/ui/Forms.h"
#include "platform/ui/NotifyArea.h"

namespace ovelta {

namespace {

constexpr const char* kTitle = "MERLIG";
constexpr int kExitOk = 0;
constexpr int kExitNotListening = 1;

}  // namespace

void LogWindowInsteadOfTray(TMainForm& Main, TLogForm& Log) {
  TMainForm* main_form = &Main;
  Log.OnClose = [main_form](TObject*, TCloseAction&) { main_form->Close(); };
  Log.Show();
  Application().BringToFront();
}

int MerligMain(int ListenPort, int UpstreamPort,
               const std::function<void(TMainForm&, TLogForm&)>& Started,
               TBoundSockets* Listener) {
  TApplication& app = Application();
  bool listened = false;
  try {
    app.Initialize();
    app.SetTitle(kTitle);
    TMainForm* main_form = CreateForm<TMainForm>(ListenPort, UpstreamPort);
    if (Listener) main_form->APOPServerSocket->Adopt(std::move(*Listener));
    TLogForm* log_form = CreateForm<TLogForm>(main_form);
    app.HideWindow();
    app.SetShowMainForm(false);
    // Without a display the log goes to standard error instead.
    if (!app.Headless() && !NotifyAreaAvailable()) LogWindowInsteadOfTray(*main_form, *log_form);
    if (Started) Started(*main_form, *log_form);
    app.Run();
    // Not listening only until the listener opens.
    listened = main_form->SessionState != TSessionState::ssNotListening;
  } catch (const std::exception& E) {
    app.ShowException(E);
  }
  // The application owns both windows and frees them newest first: the log window, then the main
  // window (whose FormDestroy closes the sockets and removes the tray icon).
  app.DestroyComponents();
  app.SetShowMainForm(true);
  return listened ? kExitOk : kExitNotListening;
}

}  // namespace ovelta
