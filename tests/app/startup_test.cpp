// The program's life as the entry point runs it, on real loopback sockets: start-up to the start
// line and a listening port, the port-in-use path, and the shut-down order (the log window goes
// first, so what the main window's closing raises is not logged).
#include <gtest/gtest.h>

#include <QElapsedTimer>
#include <QObject>

#include <algorithm>
#include <stdexcept>
#include <string>
#include <vector>

#include "app/Program.h"
#include "app/app_support.h"
#include "platform/ui/Application.h"
#include "platform/core/Dialogs.h"
#include "platform/ui/NotifyArea.h"
#include "support/EventLoop.h"
#include "support/Loopback.h"
#include "support/MessageBoxRecorder.h"
#include "support/NotifyAreaRecorder.h"

namespace ovelta {
namespace {

using test::EndLoopAfter;
using test::LogLines;
using test::PollWhileRunning;

// After the listener opens, the program runs this much longer to show that the idle hook does
// not run again (only a fault can fail for it; EventLoop.h, rule 3).
constexpr int kQuietMs = 50;

// Connects to the proxy's port on loopback; false when nothing listens there.
bool ConnectsTo(int Port, test::Peer* Client) {
  try {
    *Client = test::Peer::Connect("127.0.0.1", Port);
    return true;
  } catch (const std::runtime_error&) {
    return false;
  }
}

int CountOf(const std::vector<AnsiString>& Lines, const AnsiString& Line) {
  return static_cast<int>(std::count(Lines.begin(), Lines.end(), Line));
}

TEST(StartUp, ReachesTheStartLineAndListensThenExitsFromTheMenu) {
  test::NotifyAreaRecorder tray;
  test::MessageBoxRecorder boxes;
  int port = test::FreePort();
  ASSERT_NE(port, 0);
  const AnsiString started = Sjis("* Merlig 開始");
  bool listening = false;
  int start_lines = -1;
  TMainForm* seen_main = nullptr;
  QObject scope;
  bool deadline_hit = false;
  QElapsedTimer quiet;
  ::testing::internal::CaptureStderr();
  int code = MerligMain(port, port, [&](TMainForm& Main, TLogForm& Log) {
    seen_main = &Main;
    // The listener waits for the first idle moment.
    EXPECT_EQ(Main.SessionState, TSessionState::ssNotListening);
    EXPECT_FALSE(Main.APOPServerSocket->Active());
    EXPECT_EQ(Application().Title(), "MERLIG");
    EndLoopAfter(&scope, &deadline_hit);
    PollWhileRunning(&scope, [&Main, &Log, &quiet, &listening, &start_lines, &started, port] {
      if (Main.SessionState != TSessionState::ssListening) return false;
      if (!quiet.isValid()) quiet.start();
      if (quiet.elapsed() < kQuietMs) return false;  // the idle hook must not run again
      test::Peer client;
      listening = ConnectsTo(port, &client);
      start_lines = CountOf(LogLines(Log), started);
      Main.Exit1->Click();
      return true;
    });
  });
  std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(code, 0);
  EXPECT_FALSE(deadline_hit);
  EXPECT_NE(seen_main, nullptr);
  EXPECT_TRUE(listening);
  EXPECT_EQ(start_lines, 1);
  EXPECT_NE(errors.find("* Merlig 開始\n"), std::string::npos);  // no display: also on stderr
  EXPECT_TRUE(boxes.Boxes().empty());

  // Everything is gone: both windows, the tray icon, the listener.
  EXPECT_TRUE(Application().Components().empty());
  EXPECT_EQ(Application().MainForm(), nullptr);
  ASSERT_EQ(tray.Calls().size(), 2u);
  EXPECT_EQ(tray.Calls()[0].Message, NIM_ADD);
  EXPECT_EQ(tray.Calls()[1].Message, NIM_DELETE);
  test::Peer late;
  EXPECT_FALSE(ConnectsTo(port, &late));
}

TEST(StartUp, APortInUseShowsTheSocketErrorBoxAndEndsTheProgram) {
  test::NotifyAreaRecorder tray;
  test::MessageBoxRecorder boxes;
  test::Listener occupant;
  int port = occupant.Port();
  ASSERT_NE(port, 0);
  bool deadline_hit = false;
  std::vector<AnsiString> log_at_exit;
  QObject scope;
  int code = MerligMain(port, port, [&](TMainForm& Main, TLogForm& Log) {
    EndLoopAfter(&scope, &deadline_hit);
    Main.OnClose = [&](TObject*, TCloseAction&) { log_at_exit = LogLines(Log); };
  });
  EXPECT_EQ(code, 1);          // a service manager or shell sees the failure
  EXPECT_FALSE(deadline_hit);  // the program ended by itself
  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_EQ(boxes.Boxes()[0].Text, Sjis("ServerSocketがOpenできませんでした。"));
  EXPECT_EQ(boxes.Boxes()[0].Caption, "SocketError");
  EXPECT_EQ(boxes.Boxes()[0].Flags & 0xF0u, MB_ICONSTOP);
  EXPECT_TRUE(log_at_exit.empty());  // no start line
  EXPECT_TRUE(Application().Components().empty());
  // The first program (here: the occupant) goes on listening.
  test::Peer client;
  EXPECT_TRUE(ConnectsTo(port, &client));
}

TEST(StartUp, SocketsBoundBeforeTheToolkitListenAtTheFirstIdleMomentOnTheirAddressesOnly) {
  test::NotifyAreaRecorder tray;
  test::MessageBoxRecorder boxes;
  TBoundSockets bound = TBoundSockets::Bind({"127.0.0.1"}, 0);
  ASSERT_TRUE(bound.Bound()) << bound.Error();
  const int port = bound.Port();
  bool answered_before_idle = true;
  bool answered = false;
  bool answered_elsewhere = true;
  bool deadline_hit = false;
  QObject scope;
  ::testing::internal::CaptureStderr();
  int code = MerligMain(port, port, [&](TMainForm& Main, TLogForm&) {
    test::Peer early;
    answered_before_idle = ConnectsTo(port, &early);  // bound, not listening yet
    EndLoopAfter(&scope, &deadline_hit);
    PollWhileRunning(&scope, [&] {
      if (Main.SessionState != TSessionState::ssListening) return false;
      test::Peer client;
      answered = ConnectsTo(port, &client);
      try {
        test::Peer::Connect("127.0.0.2", port);
      } catch (const std::runtime_error&) {
        answered_elsewhere = false;
      }
      Main.Exit1->Click();
      return true;
    });
  }, &bound);
  ::testing::internal::GetCapturedStderr();
  EXPECT_EQ(code, 0);
  EXPECT_FALSE(deadline_hit);
  EXPECT_FALSE(answered_before_idle);
  EXPECT_TRUE(answered);
  EXPECT_FALSE(answered_elsewhere);
  EXPECT_TRUE(boxes.Boxes().empty());
}

TEST(StartUp, ABindingThatFailedBeforeTheToolkitShowsTheSocketErrorBoxAtTheFirstIdleMoment) {
  test::NotifyAreaRecorder tray;
  test::MessageBoxRecorder boxes;
  test::Listener occupant;
  const int port = occupant.Port();
  TBoundSockets failed = TBoundSockets::Bind({}, port);
  ASSERT_FALSE(failed.Bound());
  bool box_before_idle = true;
  bool deadline_hit = false;
  QObject scope;
  int code = MerligMain(port, port, [&](TMainForm&, TLogForm&) {
    box_before_idle = !boxes.Boxes().empty();
    EndLoopAfter(&scope, &deadline_hit);
  }, &failed);
  EXPECT_EQ(code, 1);
  EXPECT_FALSE(deadline_hit);
  EXPECT_FALSE(box_before_idle);
  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_EQ(boxes.Boxes()[0].Text, Sjis("ServerSocketがOpenできませんでした。"));
}

TEST(ShutDown, TheLogWindowGoesFirstSoTheSocketsClosingLogsNothing) {
  test::NotifyAreaRecorder tray;
  test::MessageBoxRecorder boxes;
  int port = test::FreePort();
  ASSERT_NE(port, 0);
  bool connected = false;
  int disconnects = 0;
  bool log_ready_at_disconnect = true;
  bool log_form_at_disconnect = true;
  test::Peer client;
  bool asked = false;
  bool deadline_hit = false;
  QObject scope;
  ::testing::internal::CaptureStderr();
  MerligMain(port, port, [&](TMainForm& Main, TLogForm&) {
    EndLoopAfter(&scope, &deadline_hit);
    // Watch the listener's connection as the session code would, logging as it does.
    Main.APOPServerSocket->OnClientConnect = [&](TObject*, TCustomWinSocket*) { connected = true; };
    Main.APOPServerSocket->OnClientDisconnect = [&, main = &Main](TObject*, TCustomWinSocket*) {
      ++disconnects;
      log_ready_at_disconnect = main->LogReady;
      log_form_at_disconnect = main->LogForm() != nullptr;
      main->WriteLog("* after the log window");
    };
    PollWhileRunning(&scope, [&, main = &Main] {
      if (main->SessionState != TSessionState::ssListening) return false;
      if (!connected) {
        if (!asked) asked = ConnectsTo(port, &client);
        return false;
      }
      main->APopExit(nullptr);
      return true;
    });
  });
  std::string errors = ::testing::internal::GetCapturedStderr();
  EXPECT_FALSE(deadline_hit);
  EXPECT_TRUE(connected);
  EXPECT_EQ(disconnects, 1);  // the listener's close ended the connection inside FormDestroy
  EXPECT_FALSE(log_ready_at_disconnect);
  EXPECT_FALSE(log_form_at_disconnect);
  EXPECT_EQ(errors.find("after the log window"), std::string::npos);
}

}  // namespace
}  // namespace ovelta
