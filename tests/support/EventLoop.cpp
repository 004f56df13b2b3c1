// The tests' event-loop runner (EventLoop.h).
#include "support/EventLoop.h"

#include <QAbstractEventDispatcher>
#include <QCoreApplication>
#include <QDeadlineTimer>
#include <QEventLoop>
#include <QTimer>

#include "platform/ui/Application.h"

namespace ovelta::test {

bool RunUntil(const std::function<bool()>& Done, int DeadlineMs) {
  if (!QCoreApplication::instance()) return PollUntil(Done, DeadlineMs);
  // Done may have effects (take a connection, read bytes): it is not asked again once true.
  if (Done()) return true;
  const QDeadlineTimer deadline(DeadlineMs);
  QEventLoop loop;
  bool result = false;
  bool finished = false;
  auto check = [&] {
    if (finished) return;
    result = Done();
    if (result || deadline.hasExpired()) {
      finished = true;
      loop.quit();
    }
  };
  QTimer poll;
  QObject::connect(&poll, &QTimer::timeout, &loop, check);
  poll.start(kPollMs);
  // Before the loop sleeps, every waiting event has been handled: the earliest moment to ask.
  QMetaObject::Connection idle;
  if (QAbstractEventDispatcher* dispatcher = QAbstractEventDispatcher::instance())
    idle = QObject::connect(dispatcher, &QAbstractEventDispatcher::aboutToBlock, &loop, check);
  loop.exec();
  QObject::disconnect(idle);
  return result;
}

void RunFor(int Ms) {
  RunUntil([] { return false; }, Ms);
}

void Settle() {
  if (!QCoreApplication::instance()) return;
  // A deletion may post further ones (an object whose destructor retires another): a few passes.
  constexpr int kPasses = 3;
  for (int i = 0; i < kPasses; ++i) {
    QCoreApplication::processEvents(QEventLoop::AllEvents);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

void PollWhileRunning(QObject* Scope, const std::function<bool()>& Step) {
  auto* timer = new QTimer(Scope);
  QObject::connect(timer, &QTimer::timeout, timer, [timer, Step] {
    if (Step()) timer->stop();
  });
  timer->start(kPollMs);
}

void EndLoopAfter(QObject* Scope, bool* Hit, int DeadlineMs) {
  QTimer::singleShot(DeadlineMs, Scope, [Hit] {
    if (Hit) *Hit = true;
    Application().Terminate();
  });
}

void EnsureCoreApplication() {
  if (QCoreApplication::instance()) return;
  static int argc = 1;
  static char name[] = "merlig-test";
  static char* argv[] = {name, nullptr};
  new QCoreApplication(argc, argv);
}

}  // namespace ovelta::test
