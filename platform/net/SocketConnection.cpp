// The connection object: its descriptor and notifiers, read events (raised once per receive
// call), the output that never loses a byte (kernel pipe, then byte queue), forwarding between two
// connections with splice(2), errors, the ends of each direction (half-close) and the end of a
// connection.
#include <arpa/inet.h>
#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QHostInfo>
#include <QTimer>
#include <algorithm>
#include <cerrno>
#include <cstring>

#include "platform/net/Sockets_p.h"

namespace ovelta {

using sockets::SocketService;
using sockets::UniqueFd;
using State = TCustomWinSocket::Impl::State;

namespace sockets {

namespace {
// Set once splice has been refused (a kernel or sandbox without it): forwarding then copies.
bool gSpliceRefused = false;
int gHalfCloseIdleMs = kHalfCloseIdleMs;
// The queue is compacted once this many sent bytes lie at its front.
constexpr std::size_t kCompactBytes = 64 * 1024;
}  // namespace

void SetSpliceRefused(bool Refused) { gSpliceRefused = Refused; }

void SetHalfCloseIdleMs(int Ms) { gHalfCloseIdleMs = Ms; }

void UniqueFd::Reset(int Fd) {
  if (FFd >= 0) ::close(FFd);
  FFd = Fd;
}

void Outbox::Append(const char* Data, std::size_t Count) {
  if (Head == Queue.size()) {
    Queue.clear();
    Head = 0;
  } else if (Head >= kCompactBytes && Head * 2 >= Queue.size()) {
    Queue.erase(0, Head);
    Head = 0;
  }
  Queue.append(Data, Count);
}

bool Outbox::EnsurePipe() {
  if (gSpliceRefused) return false;
  if (PipeWrite) return true;
  int fds[2];
  if (::pipe2(fds, O_NONBLOCK | O_CLOEXEC) != 0) return false;
  PipeRead.Reset(fds[0]);
  PipeWrite.Reset(fds[1]);
  ::fcntl(fds[1], F_SETPIPE_SZ, kPipeBytes);  // a smaller pipe only costs more calls
  return true;
}

int Outbox::Flush(int Fd, std::size_t* Written) {
  std::size_t total = 0;
  int error = 0;
  while (PipeBytes > 0) {
    ssize_t n = ::splice(PipeRead.Get(), nullptr, Fd, nullptr, PipeBytes,
                         SPLICE_F_NONBLOCK | SPLICE_F_MOVE);
    if (n > 0) {
      PipeBytes -= static_cast<std::size_t>(n);
      total += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) error = errno;
      break;
    }
  }
  while (error == 0 && PipeBytes == 0 && Head < Queue.size()) {
    ssize_t n = ::send(Fd, Queue.data() + Head, Queue.size() - Head, MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      Head += static_cast<std::size_t>(n);
      total += static_cast<std::size_t>(n);
    } else if (n < 0 && errno == EINTR) {
      continue;
    } else {
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) error = errno;
      break;
    }
  }
  if (Head == Queue.size()) {
    Queue.clear();
    Queue.shrink_to_fit();
    Head = 0;
  }
  if (Written) *Written = total;
  return error;
}

AnsiString ErrorText(int Code, const char* Api) {
  const char* reason = Code < 0 ? ::gai_strerror(Code) : std::strerror(Code);
  return "Socket error: " + std::string(reason) + " (" + std::to_string(Code) + "), on API '" +
         Api + "'";
}

AnsiString AddressText(const sockaddr* Address) {
  char text[INET6_ADDRSTRLEN] = {};
  if (Address->sa_family == AF_INET) {
    const auto* v4 = reinterpret_cast<const sockaddr_in*>(Address);
    ::inet_ntop(AF_INET, &v4->sin_addr, text, sizeof text);
  } else if (Address->sa_family == AF_INET6) {
    const auto* v6 = reinterpret_cast<const sockaddr_in6*>(Address);
    if (IN6_IS_ADDR_V4MAPPED(&v6->sin6_addr))
      ::inet_ntop(AF_INET, &v6->sin6_addr.s6_addr[12], text, sizeof text);
    else
      ::inet_ntop(AF_INET6, &v6->sin6_addr, text, sizeof text);
  }
  return text;
}

int AddressPort(const sockaddr* Address) {
  if (Address->sa_family == AF_INET)
    return ntohs(reinterpret_cast<const sockaddr_in*>(Address)->sin_port);
  if (Address->sa_family == AF_INET6)
    return ntohs(reinterpret_cast<const sockaddr_in6*>(Address)->sin6_port);
  return 0;
}

}  // namespace sockets

// ---- the connection's state ----

TCustomWinSocket::Impl::Impl(sockets::SocketOwner* AOwner)
    : Owner(AOwner), Context(std::make_unique<QObject>()) {}

TCustomWinSocket::Impl::~Impl() {
  ++Epoch;
  // Deleting Context deletes the notifiers still parented to it.
  ReadNotifier = nullptr;
  WriteNotifier = nullptr;
}

void TCustomWinSocket::Impl::SetFd(UniqueFd AFd) {
  RetireNotifiers();
  Fd = std::move(AFd);
  SendBufferSized = false;
  ReadNotifier = new QSocketNotifier(Fd.Get(), QSocketNotifier::Read, Context.get());
  WriteNotifier = new QSocketNotifier(Fd.Get(), QSocketNotifier::Write, Context.get());
  ReadNotifier->setEnabled(false);
  WriteNotifier->setEnabled(false);
  QObject::connect(ReadNotifier, &QSocketNotifier::activated, Context.get(),
                   [this] { Notified(true); });
  QObject::connect(WriteNotifier, &QSocketNotifier::activated, Context.get(),
                   [this] { Notified(false); });
}

void TCustomWinSocket::Impl::RetireNotifiers() {
  // A notifier may be the one whose signal is running now: it is switched off and freed later.
  for (QSocketNotifier** slot : {&ReadNotifier, &WriteNotifier}) {
    if (QSocketNotifier* n = *slot) {
      n->setEnabled(false);
      QObject::disconnect(n, nullptr, nullptr, nullptr);
      n->setParent(&SocketService::Instance());
      n->deleteLater();
      *slot = nullptr;
    }
  }
}

void TCustomWinSocket::Impl::ReadAddresses() {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getpeername(Fd.Get(), reinterpret_cast<sockaddr*>(&address), &length) == 0) {
    PeerAddress = sockets::AddressText(reinterpret_cast<sockaddr*>(&address));
    PeerPort = sockets::AddressPort(reinterpret_cast<sockaddr*>(&address));
  }
  length = sizeof address;
  if (::getsockname(Fd.Get(), reinterpret_cast<sockaddr*>(&address), &length) == 0)
    LocalPortNo = sockets::AddressPort(reinterpret_cast<sockaddr*>(&address));
}

void TCustomWinSocket::Impl::Announce(std::function<void()> Done) {
  FState = State::Announcing;
  PeerName.clear();
  const unsigned epoch = Epoch;
  auto finished = std::make_shared<bool>(false);
  // Runs once: with the name found, or with none when the look-up fails or takes too long.
  std::weak_ptr<int> life = Life;
  auto finish = [this, life, epoch, finished, Done](const AnsiString& Name) {
    if (*finished) return;
    *finished = true;
    SocketService::Instance().Run([this, life, epoch, Name, Done] {
      if (!life.lock() || Epoch != epoch || FState != State::Announcing) return;
      PeerName = Name;
      Done();
    });
  };
  const QString address = QString::fromStdString(PeerAddress);
  // The answer goes to the service, which outlives this connection (freeing the receiver of a
  // pending look-up leaks its functor in Qt); finish finds the connection gone then.
  QHostInfo::lookupHost(address, &SocketService::Instance(),
                        [finish, address](const QHostInfo& Info) {
                          AnsiString name;
                          if (Info.error() == QHostInfo::NoError && !Info.hostName().isEmpty() &&
                              Info.hostName() != address)
                            name = Info.hostName().toStdString();
                          finish(name);
                        });
  // A slow look-up is not aborted (that leaks its functor in Qt); its late answer is ignored.
  QTimer::singleShot(sockets::kReverseLookupMs, Context.get(), [finish] { finish(AnsiString()); });
}

void TCustomWinSocket::Impl::Start() {
  FState = State::Connected;
  ReadArmed = true;
  Paused = false;
  Deferred = false;
  InputEnded = false;
  ShutWanted = false;
  OutputShut = false;
  UpdateNotifiers();
}

void TCustomWinSocket::Impl::UpdateNotifiers() {
  const bool live = FState == State::Connected;
  const bool read = live && ReadArmed && !Paused && !Deferred && !InputEnded;
  const bool write = !Deferred && ((FState == State::Connecting) || (live && Out.Pending() > 0));
  if (ReadNotifier && ReadNotifier->isEnabled() != read) ReadNotifier->setEnabled(read);
  if (WriteNotifier && WriteNotifier->isEnabled() != write) WriteNotifier->setEnabled(write);
}

void TCustomWinSocket::Impl::Notified(bool Readable) {
  SocketService& service = SocketService::Instance();
  std::weak_ptr<int> life = Life;
  const unsigned epoch = Epoch;
  if (service.Busy()) {
    // Another socket event is being handled (a modal loop runs inside it): hold this one until
    // that event is over; the notifier fires again then if the condition still holds.
    Deferred = true;
    UpdateNotifiers();
    service.Run([this, life, epoch] {
      if (!life.lock() || Epoch != epoch) return;
      Deferred = false;
      UpdateNotifiers();
    });
    return;
  }
  service.Run([this, life, epoch, Readable] {
    if (!life.lock() || Epoch != epoch) return;
    if (Readable)
      OnReadable();
    else
      OnWritable();
  });
}

void TCustomWinSocket::Impl::OnReadable() {
  if (FState != State::Connected || !ReadArmed || Paused) return;
  char probe;
  ssize_t n = ::recv(Fd.Get(), &probe, 1, MSG_PEEK | MSG_DONTWAIT);
  if (n > 0) {
    ReadArmed = false;  // until the handler receives
    UpdateNotifiers();
    Owner->RaiseRead(Self);
  } else if (n == 0) {
    InputEnd();
  } else if (errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) {
    Fail(eeReceive, errno, "recv");
  }
}

void TCustomWinSocket::Impl::InputEnd() {
  if (FState != State::Connected || InputEnded) return;
  InputEnded = true;
  UpdateNotifiers();
  const unsigned epoch = Epoch;
  if (!Owner->RaiseInputEnd(Self)) return End(true, true);
  if (Epoch != epoch || FState != State::Connected) return;  // closed by the handler
  if (OutputShut) return End(true, true);                    // both directions have ended
  StartHalfIdle();
}

void TCustomWinSocket::Impl::ShutIfDrained() {
  if (FState != State::Connected || !ShutWanted || OutputShut || Out.Pending() > 0) return;
  ::shutdown(Fd.Get(), SHUT_WR);  // a failure (the peer has gone) shows in the next receive
  OutputShut = true;
  Progressed();
  if (InputEnded) End(true, true);
}

void TCustomWinSocket::Impl::StartHalfIdle() {
  if (!HalfIdle) {
    HalfIdle = new QTimer(Context.get());
    HalfIdle->setSingleShot(true);
    std::weak_ptr<int> life = Life;
    QObject::connect(HalfIdle, &QTimer::timeout, Context.get(), [this, life] {
      const unsigned epoch = Epoch;
      SocketService::Instance().Run([this, life, epoch] {
        if (!life.lock() || Epoch != epoch || FState != State::Connected) return;
        // Input we hold back ourselves is no sign of a peer that has gone quiet.
        if (Paused && !InputEnded && Out.Pending() == 0) return HalfIdle->start();
        End(true, InputEnded);
      });
    });
  }
  if (!HalfIdle->isActive()) HalfIdle->start(sockets::gHalfCloseIdleMs);
}

void TCustomWinSocket::Impl::CatchUp() {
  // A failure or an end is reported now, with its disconnect event, not from the event loop.
  auto now = [this](auto&& Step) {
    try {
      Step();
    } catch (...) {
      if (FState == State::Failed) End(true, false);
      throw;
    }
    if (FState == State::Failed) End(true, false);
  };
  for (int round = 0; round < sockets::kCatchUpRounds; ++round) {
    if (FState == State::Failed) return End(true, false);
    if (FState != State::Connected) return;
    pollfd p{Fd.Get(), POLLIN | POLLRDHUP, 0};
    if (::poll(&p, 1, 0) <= 0) return;
    if (p.revents & POLLERR) {
      int error = 0;
      socklen_t length = sizeof error;
      if (::getsockopt(Fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
      if (error != 0) return now([&] { Fail(eeReceive, error, "recv"); });
    }
    // Bytes before the end are reported first, and only while the handler receives them.
    if (!(p.revents & (POLLRDHUP | POLLHUP)) || InputEnded || !ReadArmed || Paused) return;
    now([this] { OnReadable(); });
  }
}

void TCustomWinSocket::Impl::OnWritable() {
  if (FState == State::Connecting) {
    if (ConnectReady) ConnectReady();
    return;
  }
  if (FState != State::Connected) return;
  std::size_t written = 0;
  int error = Out.Flush(Fd.Get(), &written);
  if (error != 0) {
    Fail(eeSend, error, "send");
    return;
  }
  if (written > 0) Progressed();
  UpdateNotifiers();
  if (Out.Pending() > 0) return;
  const unsigned epoch = Epoch;
  if (DrainWanted) {
    DrainWanted = false;
    Owner->RaiseWrite(Self);
  }
  if (Epoch == epoch) ShutIfDrained();
}

void TCustomWinSocket::Impl::FlushAfterCall() {
  const bool waited = Out.Pending() > 0;
  std::size_t written = 0;
  int error = Out.Flush(Fd.Get(), &written);
  if (written > 0) Progressed();
  if (error != 0) Fail(eeSend, error, "send");
  if (Out.Pending() > 0)
    DrainWanted = true;
  else if (waited && DrainWanted)
    PostDrained();
  UpdateNotifiers();
}

void TCustomWinSocket::Impl::SizeSendBuffer() {
  if (SendBufferSized) return;
  SendBufferSized = true;
  const bool local = PeerAddress.rfind("127.", 0) == 0 || PeerAddress == "::1";
  if (!local) return;
  int bytes = sockets::kLocalSendBytes;
  ::setsockopt(Fd.Get(), SOL_SOCKET, SO_SNDBUF, &bytes,
               sizeof bytes);  // a failure only costs speed
}

void TCustomWinSocket::Impl::PostDrained() {
  DrainWanted = false;
  std::weak_ptr<int> life = Life;
  const unsigned epoch = Epoch;
  SocketService::Instance().Post([this, life, epoch] {
    if (!life.lock() || Epoch != epoch || FState != State::Connected) return;
    if (Out.Pending() == 0) Owner->RaiseWrite(Self);
  });
}

void TCustomWinSocket::Impl::End(bool Raise, bool PeerEnded) {
  if (!Live()) return;
  FState = State::Ending;
  ++Epoch;
  RetireNotifiers();
  if (HalfIdle) HalfIdle->stop();
  SocketService::Instance().Linger(std::move(Fd), std::move(Out), PeerEnded || InputEnded,
                                   BriefLinger);
  Out = sockets::Outbox();
  BriefLinger = false;
  DrainWanted = false;
  InputEnded = ShutWanted = OutputShut = false;
  // The peer's name and address stay readable for the disconnect handler.
  struct Finish {
    Impl* Self;
    ~Finish() {
      Self->PeerName.clear();
      Self->PeerAddress.clear();
      Self->PeerPort = 0;
      Self->FState = State::Idle;
      Self->Owner->Ended(Self->Self);
    }
  } finish{this};
  if (Raise) Owner->RaiseDisconnect(Self);
}

void TCustomWinSocket::Impl::Drop() {
  ++Epoch;
  RetireNotifiers();
  if (HalfIdle) HalfIdle->stop();
  InputEnded = ShutWanted = OutputShut = false;
  Fd.Reset();
  Out = sockets::Outbox();
  FState = State::Idle;
  DrainWanted = false;
  BriefLinger = false;
  Announced = false;
  PeerName.clear();
  PeerAddress.clear();
  PeerPort = 0;
}

void TCustomWinSocket::Impl::Fail(TErrorEvent Kind, int Code, const char* Api) {
  if (FState != State::Connected) return;
  FState = State::Failed;
  UpdateNotifiers();
  std::weak_ptr<int> life = Life;
  const unsigned epoch = Epoch;
  SocketService::Instance().Post([this, life, epoch] {
    if (!life.lock() || Epoch != epoch || FState != State::Failed) return;
    End(true, false);
  });
  int code = Code;
  Owner->RaiseError(Self, Kind, code);
  if (code != 0) throw ESocketError(sockets::ErrorText(Code, Api));
}

// ---- the public connection object ----

TCustomWinSocket::TCustomWinSocket(std::unique_ptr<Impl> AImpl) : FImpl(std::move(AImpl)) {
  FImpl->Self = this;
}

TCustomWinSocket::~TCustomWinSocket() = default;

bool TCustomWinSocket::Connected() const { return FImpl->Live(); }

AnsiString TCustomWinSocket::RemoteHost() const {
  return FImpl->Live() || FImpl->FState == Impl::State::Ending ? FImpl->PeerName : AnsiString();
}

AnsiString TCustomWinSocket::RemoteAddress() const {
  return FImpl->Live() || FImpl->FState == Impl::State::Ending ? FImpl->PeerAddress : AnsiString();
}

int TCustomWinSocket::RemotePort() const {
  return FImpl->Live() || FImpl->FState == Impl::State::Ending ? FImpl->PeerPort : 0;
}

int TCustomWinSocket::LocalPort() const { return FImpl->Live() ? FImpl->LocalPortNo : 0; }

std::size_t TCustomWinSocket::ReceiveLength() {
  if (FImpl->FState != Impl::State::Connected) return 0;
  int waiting = 0;
  if (::ioctl(FImpl->Fd.Get(), FIONREAD, &waiting) != 0 || waiting < 0) return 0;
  return static_cast<std::size_t>(waiting);
}

AnsiString TCustomWinSocket::ReceiveText() {
  Impl& d = *FImpl;
  if (d.FState != Impl::State::Connected) return AnsiString();
  d.ReadArmed = true;
  AnsiString text;
  std::size_t waiting = ReceiveLength();
  while (waiting > 0) {
    std::size_t at = text.size();
    text.resize(at + waiting);
    ssize_t n = ::recv(d.Fd.Get(), text.data() + at, waiting, MSG_DONTWAIT);
    if (n > 0) {
      text.resize(at + static_cast<std::size_t>(n));
      waiting -= static_cast<std::size_t>(n);
      d.Progressed();
      continue;
    }
    text.resize(at);
    if (n < 0 && errno == EINTR) continue;
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && text.empty()) {
      d.UpdateNotifiers();
      d.Fail(eeReceive, errno, "recv");
    }
    break;  // the end of the stream is seen by the next read notification
  }
  d.UpdateNotifiers();
  return text;
}

int TCustomWinSocket::ReceiveBuf(void* Buf, int Count) {
  Impl& d = *FImpl;
  if (d.FState != Impl::State::Connected || Count <= 0) return 0;
  d.ReadArmed = true;
  ssize_t n;
  do {
    n = ::recv(d.Fd.Get(), Buf, static_cast<std::size_t>(Count), MSG_DONTWAIT);
  } while (n < 0 && errno == EINTR);
  d.UpdateNotifiers();
  if (n > 0) {
    d.Progressed();
    return static_cast<int>(n);
  }
  if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) d.Fail(eeReceive, errno, "recv");
  return 0;  // nothing waiting; the end of the stream is seen by the next read notification
}

int TCustomWinSocket::SendText(const AnsiString& Text) { return SendBuf(Text.data(), Text.size()); }

int TCustomWinSocket::SendBuf(const void* Buf, std::size_t Count) {
  Impl& d = *FImpl;
  if (d.FState != Impl::State::Connected || d.ShutWanted) return -1;
  const char* bytes = static_cast<const char*>(Buf);
  std::size_t sent = 0;
  if (d.Out.Pending() == 0) {
    // Nothing waits: hand the bytes to the kernel directly, keep only what it does not take.
    while (sent < Count) {
      ssize_t n = ::send(d.Fd.Get(), bytes + sent, Count - sent, MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        sent += static_cast<std::size_t>(n);
        d.Progressed();
      } else if (n < 0 && errno == EINTR) {
        continue;
      } else {
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK) d.Fail(eeSend, errno, "send");
        break;
      }
    }
    if (d.FState != Impl::State::Connected) return static_cast<int>(sent);
  }
  if (sent < Count) {
    d.Out.Append(bytes + sent, Count - sent);
    d.FlushAfterCall();
  }
  return static_cast<int>(Count);
}

std::size_t TCustomWinSocket::ForwardTo(TCustomWinSocket& Target, std::size_t Limit) {
  Impl& from = *FImpl;
  Impl& to = *Target.FImpl;
  if (from.FState != Impl::State::Connected || to.FState != Impl::State::Connected ||
      &from == &to || to.ShutWanted)
    return 0;
  from.ReadArmed = true;
  const std::size_t pending = to.Out.Pending();
  if (pending >= Limit) {
    from.UpdateNotifiers();
    return 0;
  }
  const std::size_t room = Limit - pending;
  std::size_t moved = 0;
  to.SizeSendBuffer();
  // The copy path takes over when the pipe cannot be used (bytes wait in the queue, or splice is
  // unavailable) or is full while bytes still wait.
  bool copy = true;
  if (to.Out.QueueEmpty() && to.Out.EnsurePipe()) {
    copy = false;
    while (moved < room) {
      const std::size_t asked = room - moved;
      ssize_t n = ::splice(from.Fd.Get(), nullptr, to.Out.PipeWrite.Get(), nullptr, asked,
                           SPLICE_F_NONBLOCK | SPLICE_F_MOVE);
      if (n > 0) {
        moved += static_cast<std::size_t>(n);
        to.Out.PipeBytes += static_cast<std::size_t>(n);
        if (static_cast<std::size_t>(n) < asked) break;  // drained for now (or the pipe is full)
        continue;
      }
      if (n == 0) break;  // the end of the stream: seen by the next read notification
      if (errno == EINTR) continue;
      if (errno == EAGAIN || errno == EWOULDBLOCK) {
        copy = true;  // the pipe is full, or nothing waits (then the copy path finds nothing)
      } else if (errno == EINVAL || errno == ENOSYS || errno == EOPNOTSUPP) {
        sockets::gSpliceRefused = true;
        copy = true;
      } else if (moved == 0) {
        from.UpdateNotifiers();
        from.Fail(eeReceive, errno, "splice");
        return 0;
      }
      break;  // an error after some bytes is met again by the next read notification
    }
  }
  if (copy && moved < room) {
    std::size_t waiting = ReceiveLength();
    std::string piece;
    while (moved < room && waiting > 0) {
      piece.resize(std::min({room - moved, waiting, sockets::kReceivePiece}));
      ssize_t n = ::recv(from.Fd.Get(), piece.data(), piece.size(), MSG_DONTWAIT);
      if (n <= 0) {
        if (n < 0 && errno == EINTR) continue;
        if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && moved == 0) {
          from.UpdateNotifiers();
          from.Fail(eeReceive, errno, "recv");
          return 0;
        }
        break;
      }
      to.Out.Append(piece.data(), static_cast<std::size_t>(n));
      moved += static_cast<std::size_t>(n);
      waiting -= std::min(waiting, static_cast<std::size_t>(n));
    }
  }
  from.UpdateNotifiers();
  if (moved > 0) {
    from.Progressed();
    to.FlushAfterCall();
  }
  return moved;
}

std::size_t TCustomWinSocket::SendPending() const { return FImpl->Out.Pending(); }

void TCustomWinSocket::ShutdownOutput() {
  Impl& d = *FImpl;
  if (d.FState != Impl::State::Connected || d.ShutWanted) return;
  d.ShutWanted = true;
  d.StartHalfIdle();
  d.ShutIfDrained();
}

bool TCustomWinSocket::InputEnded() const { return FImpl->Live() && FImpl->InputEnded; }

void TCustomWinSocket::CatchUp() { FImpl->CatchUp(); }

void TCustomWinSocket::PauseReading(bool Paused) {
  FImpl->Paused = Paused;
  FImpl->UpdateNotifiers();
}

bool TCustomWinSocket::ReadingPaused() const { return FImpl->Paused; }

void TCustomWinSocket::CloseBriefly() {
  if (FImpl->Live()) FImpl->BriefLinger = true;
  Close();
}

void TCustomWinSocket::Close() {
  Impl& d = *FImpl;
  if (d.Live()) {
    d.End(true, d.InputEnded);
  } else if (d.FState == Impl::State::Resolving || d.FState == Impl::State::Connecting ||
             d.FState == Impl::State::Announcing) {
    d.Owner->Abandon(this);
  }
}

}  // namespace ovelta
