// The socket service: the event gate through which every socket event runs (one at a time,
// exceptions handed to the exception hook, never across the event loop), the freeing of ended
// connection objects, and the lingering of closed connections until their output is delivered.
#include <signal.h>
#include <sys/socket.h>

#include <QCoreApplication>
#include <QTimer>
#include <cerrno>
#include <chrono>

#include "platform/core/Dialogs.h"
#include "platform/ui/Application.h"
#include "platform/net/Sockets_p.h"

namespace ovelta {

namespace {
TSocketExceptionHook gHook;
}  // namespace

TSocketExceptionHook SetSocketExceptionHook(TSocketExceptionHook Hook) {
  TSocketExceptionHook previous = std::move(gHook);
  gHook = std::move(Hook);
  return previous;
}

namespace sockets {

namespace {
QPointer<SocketService> gService;
// Bytes a lingering connection reads (and drops) per notification.
constexpr std::size_t kDiscardPiece = 64 * 1024;
}  // namespace

// A closed connection still delivering its output: first the output, then our side is shut, then
// the peer's end is awaited while what it still sends is dropped (closing with unread bytes would
// reset the connection and could destroy output the kernel still holds).
struct SocketService::Lingering {
  UniqueFd Fd;
  Outbox Out;
  bool PeerEnded = false;
  bool Brief = false;
  bool Shut = false;
  bool Done = false;
  std::chrono::steady_clock::time_point Started = std::chrono::steady_clock::now();
  std::unique_ptr<QSocketNotifier> ReadNotifier;
  std::unique_ptr<QSocketNotifier> WriteNotifier;
  std::unique_ptr<QTimer> IdleTimer;
};

SocketService& SocketService::Instance() {
  if (!gService) {
    gService = new SocketService();
    if (QCoreApplication* app = QCoreApplication::instance()) gService->setParent(app);
  }
  return *gService;
}

SocketService::SocketService() {
  // A peer that has gone makes a send fail with EPIPE; splice has no flag to keep the signal
  // away, so the default action (ending the process) is replaced by ignoring it.
  struct sigaction current {};
  if (::sigaction(SIGPIPE, nullptr, &current) == 0 && current.sa_handler == SIG_DFL)
    ::signal(SIGPIPE, SIG_IGN);
}

SocketService::~SocketService() {
  FLingering.clear();
  FGraveyard.clear();
}

void SocketService::Run(std::function<void()> Task) {
  if (FDepth > 0) {
    FDeferred.push_back(std::move(Task));
    return;
  }
  RunNow(Task);
}

void SocketService::Post(std::function<void()> Task) {
  QTimer::singleShot(0, this, [this, Task = std::move(Task)] { Run(Task); });
}

void SocketService::RunNow(const std::function<void()>& Task) {
  ++FDepth;
  try {
    Task();
  } catch (const std::exception& E) {
    Deliver(E);
  } catch (...) {
    Deliver(ESocketError("Socket error: an unknown exception left an event handler"));
  }
  --FDepth;
  if (FDepth == 0) {
    if (!FDeferred.empty()) ScheduleDrain();
    if (!FGraveyard.empty()) QTimer::singleShot(0, this, [this] { Sweep(); });
  }
}

void SocketService::ScheduleDrain() {
  if (FDrainPosted) return;
  FDrainPosted = true;
  QTimer::singleShot(0, this, [this] {
    FDrainPosted = false;
    while (FDepth == 0 && !FDeferred.empty()) {
      std::function<void()> task = std::move(FDeferred.front());
      FDeferred.pop_front();
      RunNow(task);
    }
  });
}

void SocketService::Deliver(const std::exception& E) {
  try {
    if (gHook) {
      gHook(E);
      return;
    }
    if (Application().Initialized()) {
      Application().HandleException(nullptr, E);
      return;
    }
    const auto* known = dynamic_cast<const Exception*>(&E);
    if (known && known->ClassName() == "ESocketError") return;
    ShowException(E);
  } catch (...) {
    // The hook itself failed: there is no one left to tell.
  }
}

void SocketService::Bury(std::unique_ptr<TCustomWinSocket> Socket) {
  FGraveyard.push_back(std::move(Socket));
  if (FDepth == 0) QTimer::singleShot(0, this, [this] { Sweep(); });
}

void SocketService::Sweep() {
  if (FDepth > 0) return;  // the gate sweeps again when the event in progress is over
  std::vector<std::unique_ptr<TCustomWinSocket>> dead;
  dead.swap(FGraveyard);
}

void SocketService::Linger(UniqueFd Fd, Outbox Output, bool PeerEnded, bool Brief) {
  if (!Fd) return;
  if (PeerEnded && Output.Pending() == 0) return;  // nothing to deliver, nothing to wait for
  // Beyond the bound the oldest brief ones are cut first, so that a flood of refused newcomers
  // never cuts the tail of a finished session; then the oldest of all.
  for (bool brief_only : {true, false}) {
    for (auto it = FLingering.begin(); LingeringCount() >= kMaxLingering && it != FLingering.end();
         ++it) {
      if (!(*it)->Done && (!brief_only || (*it)->Brief)) EndLingering(it->get());
    }
  }

  auto owned = std::make_unique<Lingering>();
  Lingering* l = owned.get();
  l->Fd = std::move(Fd);
  l->Out = std::move(Output);
  l->PeerEnded = PeerEnded;
  l->Brief = Brief;
  l->ReadNotifier = std::make_unique<QSocketNotifier>(l->Fd.Get(), QSocketNotifier::Read);
  l->WriteNotifier = std::make_unique<QSocketNotifier>(l->Fd.Get(), QSocketNotifier::Write);
  l->IdleTimer = std::make_unique<QTimer>();
  l->IdleTimer->setSingleShot(true);
  l->IdleTimer->setInterval(Brief ? kBriefLingerMs : kLingerIdleMs);
  FLingering.push_back(std::move(owned));
  ++FLingeringLive;

  // One step: deliver what the kernel takes, drop what the peer sends, shut our side once the
  // output is out, finish once the peer has ended too.
  auto step = [this, l] {
    if (l->Done) return;
    const int bound = l->Brief ? kBriefLingerMs : kLingerMaxMs;
    if (std::chrono::steady_clock::now() - l->Started > std::chrono::milliseconds(bound))
      return EndLingering(l);  // a peer that keeps sending cannot hold us for ever
    bool progress = false;
    std::size_t written = 0;
    if (l->Out.Pending() > 0) {
      if (l->Out.Flush(l->Fd.Get(), &written) != 0) return EndLingering(l);
      progress = written > 0;
    }
    if (!l->PeerEnded) {
      char sink[kDiscardPiece];
      for (;;) {
        ssize_t n = ::recv(l->Fd.Get(), sink, sizeof sink, MSG_DONTWAIT);
        if (n > 0) {
          progress = true;
          continue;
        }
        if (n == 0) {
          l->PeerEnded = true;
          progress = true;
        } else if (errno == EINTR) {
          continue;
        } else if (errno != EAGAIN && errno != EWOULDBLOCK) {
          return EndLingering(l);
        }
        break;
      }
    }
    if (l->Out.Pending() == 0 && !l->Shut) {
      ::shutdown(l->Fd.Get(), SHUT_WR);
      l->Shut = true;
      progress = true;
    }
    if (l->Shut && l->PeerEnded) return EndLingering(l);
    l->ReadNotifier->setEnabled(!l->PeerEnded);
    l->WriteNotifier->setEnabled(l->Out.Pending() > 0);
    if (progress) l->IdleTimer->start();
  };
  QObject::connect(l->ReadNotifier.get(), &QSocketNotifier::activated, this, step);
  QObject::connect(l->WriteNotifier.get(), &QSocketNotifier::activated, this, step);
  QObject::connect(l->IdleTimer.get(), &QTimer::timeout, this, [this, l] { EndLingering(l); });
  l->IdleTimer->start();
  step();
}

void SocketService::EndLingering(Lingering* L) {
  if (L->Done) return;
  L->Done = true;
  L->ReadNotifier->setEnabled(false);
  L->WriteNotifier->setEnabled(false);
  QObject::disconnect(L->ReadNotifier.get(), nullptr, this, nullptr);
  QObject::disconnect(L->WriteNotifier.get(), nullptr, this, nullptr);
  L->IdleTimer->stop();
  L->Fd.Reset();
  --FLingeringLive;
  // The record is freed from the event loop: this may run inside one of its own notifications.
  QTimer::singleShot(0, this, [this] {
    FLingering.remove_if([](const std::unique_ptr<Lingering>& Each) { return Each->Done; });
  });
}

}  // namespace sockets
}  // namespace ovelta
