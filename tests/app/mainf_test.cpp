// The main window and the log window: the ports, the tray icon and the program's icons, the log
// window's texts and closing, the log's line rules, the tray icon's clicks and menu,
// ShowToggle/ShowAbout with their ShowBusy guard, and the exception filter.
#include <gtest/gtest.h>

#include <QAction>
#include <QApplication>
#include <QImage>
#include <QMenu>
#include <QWidget>

#include <set>
#include <string>
#include <vector>

#include "app/Program.h"
#include "app/app_support.h"
#include "platform/ui/Icons.h"
#include "platform/net/Sockets.h"
#include "support/EventLoop.h"
#include "support/NotifyAreaRecorder.h"

namespace ovelta {
namespace {

using test::LogLines;
using test::RunUntil;
using test::WindowsTest;

TEST(MainWindowPorts, BothSidesUsePort110UnlessATestSaysOtherwise) {
  test::NotifyAreaRecorder tray;
  TMainForm main(nullptr);
  EXPECT_EQ(main.APOPServerSocket->Port(), 110);
  EXPECT_EQ(main.APOPUpstreamSocket->Port(), 110);
  TMainForm other(nullptr, 1234, 5678);
  EXPECT_EQ(other.APOPServerSocket->Port(), 1234);
  EXPECT_EQ(other.APOPUpstreamSocket->Port(), 5678);
}

TEST_F(WindowsTest, TrayIconIsAddedWithItsOwnPictureAndTipAndRemovedOnDestroy) {
  ASSERT_EQ(Tray.Calls().size(), 1u);
  EXPECT_EQ(Tray.Calls()[0].Message, NIM_ADD);
  EXPECT_STREQ(Tray.Calls()[0].Data.szTip, "Merlig");
  HICON small = LoadIconA(HInstance(), "SMALLICON");
  ASSERT_NE(small, nullptr);
  EXPECT_EQ(Tray.Calls()[0].Data.hIcon, small);
  EXPECT_EQ(Main->APOPNotifyIcon->Menu(), Main->APopPopupMenu);
  EXPECT_TRUE(Main->APOPNotifyIcon->IconVisible());

  delete Log;
  Log = nullptr;
  delete Main;
  Main = nullptr;
  ASSERT_EQ(Tray.Calls().size(), 2u);
  EXPECT_EQ(Tray.Calls()[1].Message, NIM_DELETE);
  EXPECT_TRUE(Tray.Icons().empty());
}

// An icon image: its size and the number of colours it uses (transparency not counted).
void ExpectIconImage(const std::string& File, int Size) {
  QImage image(QString::fromStdString(File));
  ASSERT_FALSE(image.isNull()) << File;
  EXPECT_EQ(image.width(), Size);
  EXPECT_EQ(image.height(), Size);
  std::set<QRgb> colours;
  for (int y = 0; y < image.height(); ++y)
    for (int x = 0; x < image.width(); ++x)
      if (qAlpha(image.pixel(x, y)) != 0) colours.insert(image.pixel(x, y));
  EXPECT_LE(colours.size(), 16u) << File;
  EXPECT_GE(colours.size(), 2u) << File;
}

TEST(ProgramIcons, TrayIconIs16By16AndTheMainIconHas32And16) {
  RegisterProgramIcons();
  std::vector<std::string> small = IconImageFiles(LoadIconA(HInstance(), "SMALLICON"));
  ASSERT_EQ(small.size(), 1u);
  ExpectIconImage(small[0], 16);
  std::vector<std::string> main_icon = IconImageFiles(LoadIconA(HInstance(), "MAINICON"));
  ASSERT_EQ(main_icon.size(), 2u);
  ExpectIconImage(main_icon[0], 16);
  ExpectIconImage(main_icon[1], 32);
  EXPECT_EQ(Application().Icon(), LoadIconA(HInstance(), "MAINICON"));
}

TEST_F(WindowsTest, LogWindowShowsTheProgramsTextsAndCannotBeEdited) {
  EXPECT_EQ(Log->Caption(), "Merlig Log");
  EXPECT_EQ(Log->Label1->Caption(), "MerligConverter Ver0.1");
  EXPECT_NE(Log->Label2->Caption().find("5/7/2000"), std::string::npos);
  EXPECT_TRUE(Log->LogMemo->ReadOnly());
}

TEST_F(WindowsTest, LogKeepsTheLast64LinesOldestDroppedFirst) {
  for (int i = 1; i <= 65; ++i) Main->WriteLog("line " + std::to_string(i));
  std::vector<AnsiString> lines = LogLines(*Log);
  ASSERT_EQ(lines.size(), 64u);
  EXPECT_EQ(lines.front(), "line 2");
  EXPECT_EQ(lines.back(), "line 65");
  // A text of several lines takes them one by one under the same bound.
  Main->WriteLog("x\ny\nz");
  lines = LogLines(*Log);
  ASSERT_EQ(lines.size(), 64u);
  EXPECT_EQ(lines.front(), "line 5");
  EXPECT_EQ(lines.back(), "z");
}

TEST_F(WindowsTest, LogSplitsAtLineFeeds) {
  const struct {
    const char* Text;
    std::vector<AnsiString> Lines;
  } kCases[] = {
      {"a\n\nb", {"a", "", "b"}},
      {"", {}},
      {"\n", {""}},
      {"a\n", {"a"}},
      {"\n\na", {"", "", "a"}},
      {"< PASS secret", {"< PASS secret"}},
  };
  for (const auto& c : kCases) {
    Log->LogMemo->Lines().Clear();
    Main->WriteLog(c.Text);
    EXPECT_EQ(LogLines(*Log), c.Lines) << '"' << c.Text << '"';
  }
  Log->LogMemo->Lines().Clear();
  Main->WriteLog(Sjis("* 接続要求 host(127.0.0.1)"));
  EXPECT_EQ(LogLines(*Log), std::vector<AnsiString>{Sjis("* 接続要求 host(127.0.0.1)")});
}

TEST_F(WindowsTest, WithoutADisplayEachLogLineAlsoGoesToStandardError) {
  ASSERT_TRUE(Application().Headless());
  ::testing::internal::CaptureStderr();
  Main->WriteLog(Sjis("* Merlig 開始\n* 二行目"));
  std::string written = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(written, "* Merlig 開始\n* 二行目\n");
}

TEST_F(WindowsTest, ClosingTheLogWindowHidesItOrWithoutATrayEndsTheProgram) {
  int ends = 0;
  Main->OnClose = [&](TObject*, TCloseAction& Action) {
    ++ends;
    Action = TCloseAction::caNone;  // the test's main window stays
  };
  // With a tray, the close button and the title bar's close only hide the window.
  Log->Show();
  Log->CloseBitBtn->Click();
  EXPECT_FALSE(Log->Visible());
  Log->Show();
  Log->Close();
  EXPECT_FALSE(Log->Visible());
  EXPECT_TRUE(Main->LogReady);
  EXPECT_EQ(ends, 0);

  LogWindowInsteadOfTray(*Main, *Log);
  EXPECT_TRUE(Log->Visible());
  Log->CloseBitBtn->Click();
  EXPECT_EQ(ends, 1);
  Log->Show();
  Log->Close();  // the title bar's close
  EXPECT_EQ(ends, 2);
}

TEST_F(WindowsTest, NothingIsLoggedOnceTheLogWindowIsGone) {
  delete Log;
  Log = nullptr;
  EXPECT_FALSE(Main->LogReady);
  EXPECT_EQ(Main->LogForm(), nullptr);
  ::testing::internal::CaptureStderr();
  Main->WriteLog("after");
  EXPECT_EQ(::testing::internal::GetCapturedStderr(), "");
}

TEST_F(WindowsTest, TrayMenuHasShowLogSeparatorAndExitInThatOrder) {
  // A right press on the tray icon pops the menu up as the user sees it.
  ASSERT_TRUE(TrayMouse(WM_RBUTTONDOWN));
  auto* menu = static_cast<QMenu*>(Main->APopPopupMenu->Widget());
  ASSERT_NE(menu, nullptr);
  QList<QAction*> actions = menu->actions();
  ASSERT_EQ(actions.size(), 3);
  EXPECT_EQ(actions[0]->text(), QString::fromUtf8("Log表示(&L)"));
  EXPECT_TRUE(actions[1]->isSeparator());
  EXPECT_EQ(actions[2]->text(), QString::fromUtf8("終了(&E)"));

  actions[0]->trigger();  // show log
  EXPECT_TRUE(Log->Visible());
  menu->hide();
}

TEST_F(WindowsTest, ExitClosesTheMainWindowWhichEndsTheLoop) {
  TForm* previous = Application().MainForm();
  Application().SetMainForm(Main);
  Main->Exit1->Click();
  EXPECT_TRUE(Application().Terminated());
  Application().Run();  // returns at once and clears the request
  Application().SetMainForm(previous);
}

// Another window of this process stands in for another program being active.
class OtherProgram {
 public:
  OtherProgram() {
    FWindow.show();
    FWindow.activateWindow();
    RunUntil([] { return !Application().Active(); });
  }

 private:
  QWidget FWindow;
};

TEST_F(WindowsTest, ShowToggleShowsHidesOrBringsTheLogWindowToTheFront) {
  // Hidden: a click shows it and makes it active.
  ASSERT_TRUE(TrayMouse(WM_LBUTTONDOWN));
  EXPECT_TRUE(Log->Visible());
  EXPECT_TRUE(RunUntil([] { return Application().Active(); }));
  // Visible and active: a second click hides it.
  ASSERT_TRUE(TrayMouse(WM_LBUTTONDOWN));
  EXPECT_FALSE(Log->Visible());

  // Visible while another program is active: a click brings it to the front instead.
  Main->ShowToggle(nullptr);
  {
    OtherProgram other;
    ASSERT_FALSE(Application().Active());
    ASSERT_TRUE(TrayMouse(WM_LBUTTONDBLCLK));  // the double click toggles the same way
    EXPECT_TRUE(Log->Visible());
    EXPECT_TRUE(RunUntil([] { return Application().Active(); }));
  }
  EXPECT_FALSE(Main->ShowBusy);
  EXPECT_FALSE(Main->Visible());  // the main window itself is never shown
}

TEST_F(WindowsTest, ShowAboutShowsOrBringsToFrontButNeverHides) {
  Main->ShowAbout(nullptr);
  EXPECT_TRUE(Log->Visible());
  EXPECT_TRUE(RunUntil([] { return Application().Active(); }));
  // Already visible and active: nothing changes.
  Main->ShowAbout(nullptr);
  EXPECT_TRUE(Log->Visible());
  EXPECT_TRUE(Application().Active());
  {
    OtherProgram other;
    Main->ShowAbout(nullptr);
    EXPECT_TRUE(Log->Visible());
    EXPECT_TRUE(RunUntil([] { return Application().Active(); }));
  }
  EXPECT_FALSE(Main->ShowBusy);
}

TEST_F(WindowsTest, ShowBusyMakesAFurtherToggleOrShowReturnAtOnce) {
  // A call arriving while another is in progress finds ShowBusy set and does nothing.
  Main->ShowBusy = true;
  Main->ShowToggle(nullptr);
  Main->ShowAbout(nullptr);
  ASSERT_TRUE(TrayMouse(WM_LBUTTONDOWN));
  EXPECT_FALSE(Log->Visible());
  EXPECT_TRUE(Main->ShowBusy);  // left as it was: it belongs to the call in progress

  Main->ShowBusy = false;
  Main->ShowToggle(nullptr);
  EXPECT_TRUE(Log->Visible());
  EXPECT_FALSE(Main->ShowBusy);
}

TEST_F(WindowsTest, SocketErrorsAreDroppedAndOtherExceptionsShownCaptionedByTheTitle) {
  // FormCreate installed the hooks.
  ASSERT_TRUE(Application().OnException);
  ASSERT_TRUE(Application().OnIdle);
  GuardedCall(nullptr, [] { throw ESocketError("Socket error: refused (111), on API 'connect'"); });
  EXPECT_TRUE(Boxes.Boxes().empty());
  GuardedCall(nullptr, [] { throw Exception(Sjis("想定外")); });
  ASSERT_EQ(Boxes.Boxes().size(), 1u);
  EXPECT_EQ(Boxes.Boxes()[0].Text, Sjis("想定外"));
  EXPECT_EQ(Boxes.Boxes()[0].Caption, "MERLIG");
  EXPECT_EQ(Boxes.Boxes()[0].Flags & 0xF0u, MB_ICONSTOP);
  // An exception merely named like the socket class is not dropped by accident of its text.
  GuardedCall(nullptr, [] { throw Exception("ESocketError"); });
  EXPECT_EQ(Boxes.Boxes().size(), 2u);
}

TEST_F(WindowsTest, TheHooksGoWithTheMainWindow) {
  delete Log;
  Log = nullptr;
  delete Main;
  Main = nullptr;
  EXPECT_FALSE(Application().OnIdle);
  EXPECT_FALSE(Application().OnException);
  EXPECT_FALSE(Application().OnMinimize);
  EXPECT_FALSE(Application().OnRestore);
}

}  // namespace
}  // namespace ovelta
