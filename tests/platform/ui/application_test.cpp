// The application object: the idle moment of the message loop, termination, the minimize and
// restore hooks, and the routing of every exception that escapes a handler to the exception hook.
#include <gtest/gtest.h>

#include <QApplication>
#include <QMetaObject>
#include <QWidget>
#include <QWindow>

#include <stdexcept>
#include <string>
#include <vector>

#include "platform/ui/Application.h"
#include "platform/ui/Controls.h"
#include "platform/core/Dialogs.h"
#include "platform/ui/Forms.h"
#include "platform/ui/Menus.h"
#include "platform/net/Sockets.h"
#include "platform/core/Text.h"
#include "support/EventLoop.h"
#include "support/UiApplication.h"
#include "support/MessageBoxRecorder.h"

namespace ovelta {
namespace {

using test::RunUntil;

// Clears the hooks a test installed, whatever the test's outcome.
class HookGuard {
 public:
  ~HookGuard() {
    Application().OnIdle = nullptr;
    Application().OnMinimize = nullptr;
    Application().OnRestore = nullptr;
    Application().OnException = nullptr;
  }
};

TEST(ApplicationLoop, IdleComesAfterTheWaitingWorkAndIsNeverReentered) {
  HookGuard guard;
  std::vector<std::string> order;
  int depth = 0, deepest = 0, calls = 0;
  QMetaObject::invokeMethod(
      qApp, [&] { order.push_back("posted"); }, Qt::QueuedConnection);
  Application().OnIdle = [&](TObject* Sender) {
    EXPECT_EQ(Sender, &Application());
    ++calls;
    ++depth;
    deepest = std::max(deepest, depth);
    order.push_back("idle");
    // A nested loop goes idle too; the hook must not run again inside itself.
    test::RunFor(30);
    Application().OnIdle = nullptr;  // clearing the hook while it runs is allowed
    Application().Terminate();
    --depth;
  };
  Application().Run();
  EXPECT_EQ(calls, 1);
  EXPECT_EQ(deepest, 1);
  ASSERT_EQ(order.size(), 2u);
  EXPECT_EQ(order[0], "posted");
  EXPECT_EQ(order[1], "idle");
}

TEST(ApplicationLoop, IdleRunsAgainOnlyAfterTheLoopWokeUp) {
  HookGuard guard;
  int calls = 0;
  Application().OnIdle = [&](TObject*) { ++calls; };
  // Nothing happens for a while: the hook runs at each idle moment, not in a busy loop.
  test::RunFor(200);
  Application().OnIdle = nullptr;
  EXPECT_GE(calls, 1);
  EXPECT_LT(calls, 200);  // the helper's 5 ms poll wakes the loop about 40 times
}

TEST(ApplicationLoop, TerminateBeforeRunReturnsAtOnceAndRunResetsIt) {
  Application().Terminate();
  EXPECT_TRUE(Application().Terminated());
  Application().Run();  // must not block
  EXPECT_FALSE(Application().Terminated());
}

TEST(ApplicationLoop, ClosingTheMainFormEndsRun) {
  auto* form = new TForm(&Application());
  TForm* previous = Application().MainForm();
  Application().SetMainForm(form);
  Application().SetShowMainForm(false);
  QMetaObject::invokeMethod(
      qApp, [form] { form->Close(); }, Qt::QueuedConnection);
  Application().Run();
  EXPECT_FALSE(form->Visible());  // never shown, and closing the main form does not hide it
  delete form;
  EXPECT_EQ(Application().MainForm(), nullptr);
  Application().SetMainForm(previous);
  Application().SetShowMainForm(true);
}

// Counts the window system's confirmations of a window's state changes (the spontaneous state
// events it delivers to the window), with the state each one confirmed.
class StateConfirmations : public QObject {
 public:
  explicit StateConfirmations(QWindow* Window) { Window->installEventFilter(this); }
  bool eventFilter(QObject* Watched, QEvent* Event) override {
    if (Event->type() == QEvent::WindowStateChange && Event->spontaneous())
      Confirmed.push_back(static_cast<QWindow*>(Watched)->windowStates());
    return false;
  }
  std::vector<Qt::WindowStates> Confirmed;
};

TEST(ApplicationHooks, MinimizeAndRestoreOfAFormReachTheirHooks) {
  HookGuard guard;
  int minimized = 0, restored = 0;
  Application().OnMinimize = [&](TObject*) { ++minimized; };
  Application().OnRestore = [&](TObject*) { ++restored; };
  TForm form(nullptr);
  form.Show();
  auto* widget = static_cast<QWidget*>(form.Widget());
  ASSERT_NE(widget->windowHandle(), nullptr);
  StateConfirmations window(widget->windowHandle());
  // The window system confirms each change later: each confirmation is waited for before the
  // next change.
  widget->showMinimized();
  ASSERT_TRUE(RunUntil([&] {
    return !window.Confirmed.empty() && (window.Confirmed.back() & Qt::WindowMinimized);
  }));
  const std::size_t before = window.Confirmed.size();
  widget->showNormal();
  ASSERT_TRUE(RunUntil([&] {
    return window.Confirmed.size() > before && !(window.Confirmed.back() & Qt::WindowMinimized);
  }));
  EXPECT_EQ(minimized, 1);
  EXPECT_EQ(restored, 1);
  // A plain widget that is not a form does not count.
  QWidget other;
  other.show();
  other.showMinimized();
  test::RunFor(20);
  EXPECT_EQ(minimized, 1);
}

TEST(ApplicationHooks, TitleCaptionsTheExceptionDisplay) {
  AnsiString before = Application().Title();
  Application().SetTitle("MERLIG");
  EXPECT_EQ(ApplicationTitle(), "MERLIG");
  test::MessageBoxRecorder boxes;
  Application().ShowException(Exception(Sjis("エラー")));
  ASSERT_EQ(boxes.Boxes().size(), 1u);
  EXPECT_EQ(boxes.Boxes()[0].Text, Sjis("エラー"));
  EXPECT_EQ(boxes.Boxes()[0].Caption, "MERLIG");
  EXPECT_EQ(boxes.Boxes()[0].Flags & 0xF0u, MB_ICONSTOP);
  Application().SetTitle(before);
}

struct Caught {
  TObject* Sender = nullptr;
  std::string ClassName;
  AnsiString Message;
  int Count = 0;
};

void Catch(Caught& Into) {
  Application().OnException = [&Into](TObject* Sender, const Exception& E) {
    Into.Sender = Sender;
    Into.ClassName = E.ClassName();
    Into.Message = E.Message();
    ++Into.Count;
  };
}

TEST(ExceptionRouting, GuardedCallsHandTheExceptionAndItsClassToTheHook) {
  HookGuard guard;
  Caught caught;
  Catch(caught);
  TComponent sender(nullptr);
  GuardedCall(&sender, [] { throw EOutOfResources("no window"); });
  EXPECT_EQ(caught.Sender, &sender);
  EXPECT_EQ(caught.ClassName, "EOutOfResources");
  EXPECT_EQ(caught.Message, "no window");

  GuardedCall(nullptr, [] { throw std::runtime_error("plain"); });
  EXPECT_EQ(caught.ClassName, "Exception");
  EXPECT_EQ(caught.Message, "plain");

  GuardedCall(nullptr, [] { throw 42; });
  EXPECT_EQ(caught.ClassName, "Exception");
  EXPECT_EQ(caught.Message, "Unknown exception");
  EXPECT_EQ(caught.Count, 3);
}

TEST(ExceptionRouting, WithoutAHookTheExceptionIsShownAndAFailingHookIsShownToo) {
  HookGuard guard;
  test::MessageBoxRecorder boxes;
  GuardedCall(nullptr, [] { throw Exception("first"); });
  Application().OnException = [](TObject*, const Exception&) { throw std::runtime_error("hook"); };
  GuardedCall(nullptr, [] { throw Exception("second"); });
  ASSERT_EQ(boxes.Boxes().size(), 2u);
  EXPECT_EQ(boxes.Boxes()[0].Text, "first");
  EXPECT_EQ(boxes.Boxes()[1].Text, "hook");
}

class ThrowingWindow : public TWinControl {
 public:
  using TWinControl::TWinControl;
  void Dispatch(TMessage& Message) override {
    if (Message.Msg == WM_USER) throw Exception("from the window");
    Message.Result = static_cast<LRESULT>(Message.WParam + 1);
  }
};

TEST(ExceptionRouting, WindowMessagesMenuCommandsAndIdleHandlersAreGuarded) {
  HookGuard guard;
  Caught caught;
  Catch(caught);

  ThrowingWindow window(nullptr);
  EXPECT_EQ(SendMessage(window.Handle(), WM_USER + 1, 6, 0), 7);
  EXPECT_EQ(SendMessage(window.Handle(), WM_USER, 0, 0), 0);
  EXPECT_EQ(caught.Sender, &window);
  EXPECT_EQ(caught.Message, "from the window");

  TMenuItem item(nullptr);
  item.OnClick = [](TObject*) { throw Exception("from the menu"); };
  item.Click();
  EXPECT_EQ(caught.Sender, &item);
  EXPECT_EQ(caught.Message, "from the menu");

  // An exception in the idle hook leaves the loop running.
  Application().OnIdle = [](TObject*) {
    Application().OnIdle = nullptr;
    QMetaObject::invokeMethod(
        qApp, [] { Application().Terminate(); }, Qt::QueuedConnection);
    throw Exception("from idle");
  };
  Application().Run();
  EXPECT_EQ(caught.Message, "from idle");
  EXPECT_EQ(caught.Count, 3);
}

TEST(ExceptionRouting, MessagesToDeadHandlesAreDropped) {
  HWND handle;
  {
    TWinControl window(nullptr);
    handle = window.Handle();
    EXPECT_EQ(FindControl(handle), &window);
  }
  EXPECT_EQ(FindControl(handle), nullptr);
  EXPECT_EQ(SendMessage(handle, WM_USER, 0, 0), 0);
  EXPECT_EQ(SendMessage(nullptr, WM_USER, 0, 0), 0);
}

TEST(ExceptionRouting, SocketFailuresReachTheHookAsESocketError) {
  HookGuard guard;
  Caught caught;
  Catch(caught);
  // A loopback port nobody listens on: the connect fails, the error handler leaves the code, and
  // the ESocketError that follows comes out of the event loop.
  int free_port;
  {
    TServerSocket probe(nullptr);
    probe.SetPort(0);
    probe.Open();
    free_port = probe.LocalPort();
    probe.Close();
  }
  TClientSocket client(nullptr);
  client.SetAddress("127.0.0.1");
  client.SetPort(free_port);
  bool error_seen = false;
  client.OnError = [&](TObject*, TCustomWinSocket*, TErrorEvent, int&) { error_seen = true; };
  client.Open();
  EXPECT_TRUE(RunUntil([&] { return caught.Count > 0; }));
  EXPECT_TRUE(error_seen);
  EXPECT_EQ(caught.ClassName, "ESocketError");
}

}  // namespace
}  // namespace ovelta
