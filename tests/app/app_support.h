// Test support for the proxy's windows: a main window and a log window made as the program makes
// them (the tray recorded, message boxes recorded), helpers to read the log, and the session's
// states shown as numbers in test failures.
#pragma once

#include <gtest/gtest.h>

#include <ostream>
#include <string>
#include <vector>

#include "app/Logf.h"
#include "app/Mainf.h"
#include "platform/core/Dialogs.h"
#include "platform/ui/NotifyArea.h"
#include "platform/core/Text.h"
#include "support/UiApplication.h"
#include "support/MessageBoxRecorder.h"
#include "support/NotifyAreaRecorder.h"

namespace ovelta {

// A failing check shows the session's states as their numbers.
inline void PrintTo(TSessionState State, std::ostream* Out) {
  *Out << static_cast<unsigned>(State);
}
inline void PrintTo(TLoginStage Stage, std::ostream* Out) { *Out << static_cast<unsigned>(Stage); }

}  // namespace ovelta

namespace ovelta::test {

inline std::vector<AnsiString> LogLines(const TLogForm& Log) {
  std::vector<AnsiString> lines;
  for (int i = 0; i < Log.LogMemo->Lines().Count(); ++i)
    lines.push_back(Log.LogMemo->Lines().Strings(i));
  return lines;
}

class WindowsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    PreviousTitle = Application().Title();
    Application().SetTitle("MERLIG");
    Main = new TMainForm(nullptr, 0, 0);
    Log = new TLogForm(nullptr, Main);
  }
  void TearDown() override {
    delete Log;
    delete Main;
    Application().SetTitle(PreviousTitle);
  }
  // Presses the mouse button on the tray icon, as the shell reports it.
  bool TrayMouse(unsigned Message) {
    return Tray.Mouse(Main->APOPNotifyIcon->NotifyWin()->Handle(), 0, Message);
  }

  test::NotifyAreaRecorder Tray;
  test::MessageBoxRecorder Boxes;
  AnsiString PreviousTitle;
  TMainForm* Main = nullptr;
  TLogForm* Log = nullptr;
};

}  // namespace ovelta::test
