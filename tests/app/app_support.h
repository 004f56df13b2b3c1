// Test support for the proxy's windows: a main window and a log window made as the program makes
// them (the tray recorded, message boxes recorded), and helpers to read the log.
#pragma once

#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "app/Logf.h"
#include "app/Mainf.h"
#include "platform/core/Dialogs.h"
#include "platform/ui/NotifyArea.h"
#include "platform/core/Text.h"
#include "platform/ui_support.h"
#include "support/MessageBoxRecorder.h"
#include "support/NotifyAreaRecorder.h"

namespace ovelta::testing_app {

inline std::vector<AnsiString> LogLines(const TLogForm& Log) {
  std::vector<AnsiString> lines;
  for (int i = 0; i < Log.LogMemo->Lines().Count(); ++i) lines.push_back(Log.LogMemo->Lines().Strings(i));
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

  NotifyAreaRecorder Tray;
  MessageBoxRecorder Boxes;
  AnsiString PreviousTitle;
  TMainForm* Main = nullptr;
  TLogForm* Log = nullptr;
};

}  // namespace ovelta::testing_app
