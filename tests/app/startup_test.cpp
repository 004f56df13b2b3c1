// The program's life as the entry point runs it, on real loopback sockets: start-up to the start
// line and a listening port, the port-in-use path, and the shut-down order (the log window goes
// first, so what the main window's closing raises is not logged).
#include <gtest/gtest.h>

#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QMetaObject>
#include <QTimer>

#include <algorithm>
#include <functional>
#include <string>
#include <vector>

#include "app/Program.h"
#include "app/app_support.h"
#include "platform/ui/Application.h"
#include "platform/core/Dialogs.h"
#include "platform/ui/NotifyArea.h"
#include "support/MessageBoxRecorder.h"
#include "support/NotifyAreaRecorder.h"

namespace ovelta {
namespace {

using testing_app::LogLines;

// A loopback TCP socket, closed with the object.
class LoopbackSocket {
 public:
  LoopbackSocket() : FFd(::socket(AF_INET, SOCK_STREAM, 0)) {}
  ~LoopbackSocket() {
    if (FFd >= 0) ::close(FFd);
  }
  LoopbackSocket(const LoopbackSocket&) = delete;
  LoopbackSocket& operator=(const LoopbackSocket&) = delete;

  // Binds 127.0.0.1:Port (0: any free port) and listens; returns the port, or 0 on failure.
  int Listen(int Port = 0) {
    sockaddr_in address = Loopback(Port);
    if (::bind(FFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) != 0) return 0;
    if (::listen(FFd, 4) != 0) return 0;
    socklen_t length = sizeof(address);
    ::getsockname(FFd, reinterpret_cast<sockaddr*>(&address), &length);
    return ntohs(address.sin_port);
  }
  bool Connect(int Port) {
    sockaddr_in address = Loopback(Port);
    return ::connect(FFd, reinterpret_cast<sockaddr*>(&address), sizeof(address)) == 0;
  }

 private:
  static sockaddr_in Loopback(int Port) {
    sockaddr_in address{};
    address.sin_family = AF_INET;
    address.sin_port = htons(static_cast<std::uint16_t>(Port));
    address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
    return address;
  }
  int FFd;
};

// A port that was free a moment ago.
int FreePort() {
  LoopbackSocket probe;
  return probe.Listen();
}

// Ends the program's loop after Ms at the latest, so a test can never hang. The timer lives in
// Scope (a test's local object), so it cannot outlive the test.
void Deadline(QObject* Scope, int Ms, bool* Hit = nullptr) {
  QTimer::singleShot(Ms, Scope, [Hit] {
    if (Hit) *Hit = true;
    Application().Terminate();
  });
}

// Calls Step every few milliseconds while the program runs, until it returns true.
void Every(QObject* Scope, const std::function<bool()>& Step) {
  auto* timer = new QTimer(Scope);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, Step] {
    if (Step()) timer->stop();
  });
  timer->start(5);
}

int CountOf(const std::vector<AnsiString>& Lines, const AnsiString& Line) {
  return static_cast<int>(std::count(Lines.begin(), Lines.end(), Line));
}

TEST(StartUp, ReachesTheStartLineAndListensThenExitsFromTheMenu) {
  NotifyAreaRecorder tray;
  MessageBoxRecorder boxes;
  int port = FreePort();
  ASSERT_NE(port, 0);
  const AnsiString started = Sjis("* Merlig 開始");
  bool listening = false;
  int start_lines = -1;
  TMainForm* seen_main = nullptr;
  QObject scope;
  bool deadline_hit = false;
  int ticks = 0;
  ::testing::internal::CaptureStderr();
  int code = MerligMain(port, port, [&](TMainForm& Main, TLogForm& Log) {
    seen_main = &Main;
    EXPECT_EQ(Main.SessionState, 0);  // the listener waits for the first idle moment
    EXPECT_FALSE(Main.APOPServerSocket->Active());
    EXPECT_EQ(Application().Title(), "MERLIG");
    Deadline(&scope, 5000, &deadline_hit);
    Every(&scope, [&Main, &Log, &ticks, &listening, &start_lines, &started, port] {
      if (Main.SessionState != 1) return false;
      if (++ticks < 10) return false;  // a while longer: the idle hook must not run again
      LoopbackSocket client;
      listening = client.Connect(port);
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
  LoopbackSocket late;
  EXPECT_FALSE(late.Connect(port));
}

TEST(StartUp, APortInUseShowsTheSocketErrorBoxAndEndsTheProgram) {
  NotifyAreaRecorder tray;
  MessageBoxRecorder boxes;
  LoopbackSocket occupant;
  int port = occupant.Listen();
  ASSERT_NE(port, 0);
  bool deadline_hit = false;
  std::vector<AnsiString> log_at_exit;
  QObject scope;
  int code = MerligMain(port, port, [&](TMainForm& Main, TLogForm& Log) {
    Deadline(&scope, 5000, &deadline_hit);
    Main.OnClose = [&](TObject*, TCloseAction&) { log_at_exit = LogLines(Log); };
  });
  EXPECT_EQ(code, 1);  // a service manager or shell sees the failure
  EXPECT_FALSE(deadline_hit);  // the program ended by itself
  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_EQ(boxes.Boxes()[0].Text, Sjis("ServerSocketがOpenできませんでした。"));
  EXPECT_EQ(boxes.Boxes()[0].Caption, "SocketError");
  EXPECT_EQ(boxes.Boxes()[0].Flags & 0xF0u, MB_ICONSTOP);
  EXPECT_TRUE(log_at_exit.empty());  // no start line
  EXPECT_TRUE(Application().Components().empty());
  // The first program (here: the occupant) goes on listening.
  LoopbackSocket client;
  EXPECT_TRUE(client.Connect(port));
}

TEST(ShutDown, TheLogWindowGoesFirstSoTheSocketsClosingLogsNothing) {
  NotifyAreaRecorder tray;
  MessageBoxRecorder boxes;
  int port = FreePort();
  ASSERT_NE(port, 0);
  bool connected = false;
  int disconnects = 0;
  bool log_ready_at_disconnect = true;
  bool log_form_at_disconnect = true;
  LoopbackSocket client;
  bool asked = false;
  bool deadline_hit = false;
  QObject scope;
  ::testing::internal::CaptureStderr();
  MerligMain(port, port, [&](TMainForm& Main, TLogForm&) {
    Deadline(&scope, 5000, &deadline_hit);
    // Watch the listener's connection as the session code would, logging as it does.
    Main.APOPServerSocket->OnClientConnect = [&](TObject*, TCustomWinSocket*) { connected = true; };
    Main.APOPServerSocket->OnClientDisconnect = [&, main = &Main](TObject*, TCustomWinSocket*) {
      ++disconnects;
      log_ready_at_disconnect = main->LogReady;
      log_form_at_disconnect = main->LogForm() != nullptr;
      main->WriteLog("* after the log window");
    };
    Every(&scope, [&, main = &Main] {
      if (main->SessionState != 1) return false;
      if (!connected) {
        if (!asked) asked = client.Connect(port);
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
