// The two socket components: TServerSocket (a dual-stack listener that accepts, names its peers
// and raises the connect events in accepting order) and TClientSocket (name look-up without
// blocking, connecting to each address in turn, the connect and error events).
#include "platform/net/Sockets.h"

#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QHostAddress>
#include <QHostInfo>
#include <QTimer>
#include <cerrno>
#include <cstring>
#include <netdb.h>
#include <vector>

#include "platform/net/Sockets_p.h"

namespace ovelta {

using sockets::SocketService;
using sockets::UniqueFd;
using ConnState = TCustomWinSocket::Impl::State;

namespace {

constexpr int kAcceptPerEvent = 64;
constexpr int kMaxPort = 65535;

void NeedEventLoop() {
  if (!QCoreApplication::instance())
    throw ESocketError("Socket error: the socket service needs the application object");
}

void CheckPort(int Value) {
  if (Value < 0 || Value > kMaxPort)
    throw ESocketError("Socket error: invalid port " + std::to_string(Value));
}

void RaiseNotify(const TSocketNotifyEvent& Event, TObject* Sender, TCustomWinSocket* Socket) {
  if (Event) Event(Sender, Socket);
}

void RaiseError(const TSocketErrorEvent& Event, TObject* Sender, TCustomWinSocket* Socket,
                TErrorEvent Kind, int& Code) {
  if (Event) Event(Sender, Socket, Kind, Code);
}

}  // namespace

// ---- TServerSocket ----

struct TServerSocket::Impl : sockets::SocketOwner {
  // One listening socket: all addresses have one; given addresses, one each.
  struct Listening {
    UniqueFd Fd;
    QSocketNotifier* AcceptNotifier = nullptr;
  };
  TServerSocket* Self;
  std::vector<std::unique_ptr<Listening>> Listeners;
  std::unique_ptr<QObject> Context = std::make_unique<QObject>();
  int BoundPort = 0;
  // Accepted connections whose peer is still being named, in accepting order; then the
  // connections reported connected.
  std::vector<std::unique_ptr<TCustomWinSocket>> Arriving;
  std::vector<std::unique_ptr<TCustomWinSocket>> Connections;
  // Tasks that may run after this object is gone (deferred by the event gate) hold it weakly.
  std::shared_ptr<int> Life = std::make_shared<int>(0);

  explicit Impl(TServerSocket* ASelf) : Self(ASelf) {}

  TObject* Sender() override { return Self; }
  void RaiseRead(TCustomWinSocket* Socket) override {
    RaiseNotify(Self->OnClientRead, Self, Socket);
  }
  void RaiseWrite(TCustomWinSocket* Socket) override {
    RaiseNotify(Self->OnClientWrite, Self, Socket);
  }
  void RaiseDisconnect(TCustomWinSocket* Socket) override {
    RaiseNotify(Self->OnClientDisconnect, Self, Socket);
  }
  bool RaiseInputEnd(TCustomWinSocket* Socket) override {
    if (!Self->OnClientInputEnd) return false;
    Self->OnClientInputEnd(Self, Socket);
    return true;
  }
  void RaiseError(TCustomWinSocket* Socket, TErrorEvent Kind, int& Code) override {
    ovelta::RaiseError(Self->OnClientError, Self, Socket, Kind, Code);
  }
  void Ended(TCustomWinSocket* Socket) override { Remove(Connections, Socket); }
  void Abandon(TCustomWinSocket* Socket) override {
    Socket->Internals().Drop();
    Remove(Arriving, Socket);
  }

  void Remove(std::vector<std::unique_ptr<TCustomWinSocket>>& List, TCustomWinSocket* Socket) {
    for (auto it = List.begin(); it != List.end(); ++it) {
      if (it->get() == Socket) {
        std::unique_ptr<TCustomWinSocket> owned = std::move(*it);
        List.erase(it);
        SocketService::Instance().Bury(std::move(owned));
        return;
      }
    }
  }

  // Listens on the bound sockets (all of them or none) and watches each for arrivals.
  void Open(TBoundSockets Bound) {
    NeedEventLoop();
    SocketService::Instance();
    if (!Bound.Bound()) throw ESocketError(Bound.FError);
    std::vector<UniqueFd> fds;
    for (int fd : Bound.FFds) fds.emplace_back(fd);
    Bound.FFds.clear();
    for (UniqueFd& fd : fds)
      if (::listen(fd.Get(), SOMAXCONN) != 0)
        throw ESocketError(sockets::ErrorText(errno, "listen"));
    sockaddr_storage address{};
    socklen_t length = sizeof address;
    ::getsockname(fds.front().Get(), reinterpret_cast<sockaddr*>(&address), &length);
    BoundPort = sockets::AddressPort(reinterpret_cast<sockaddr*>(&address));
    for (UniqueFd& fd : fds) {
      auto listening = std::make_unique<Listening>();
      listening->Fd = std::move(fd);
      Listening* l = listening.get();
      l->AcceptNotifier = new QSocketNotifier(l->Fd.Get(), QSocketNotifier::Read, Context.get());
      QObject::connect(l->AcceptNotifier, &QSocketNotifier::activated, Context.get(), [this, l] {
        SocketService& service = SocketService::Instance();
        std::weak_ptr<int> life = Life;
        if (service.Busy()) {
          l->AcceptNotifier->setEnabled(false);
          service.Run([this, life, l] {
            if (life.lock() && Listed(l) && l->AcceptNotifier) l->AcceptNotifier->setEnabled(true);
          });
          return;
        }
        service.Run([this, life, l] {
          if (life.lock() && Listed(l)) Accept(l);
        });
      });
      Listeners.push_back(std::move(listening));
    }
  }

  bool Listed(const Listening* L) const {
    for (const auto& l : Listeners)
      if (l.get() == L) return true;
    return false;
  }

  void Accept(Listening* L) {
    for (int i = 0; i < kAcceptPerEvent && Listed(L); ++i) {
      UniqueFd fd(::accept4(L->Fd.Get(), nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC));
      if (!fd) {
        if (errno == EINTR || errno == ECONNABORTED || errno == EPROTO) continue;
        if (errno == EMFILE || errno == ENFILE || errno == ENOBUFS || errno == ENOMEM) {
          // Out of descriptors or memory: rest a moment rather than spin on the waiting peer.
          L->AcceptNotifier->setEnabled(false);
          QTimer::singleShot(sockets::kAcceptRetryMs, Context.get(), [this, L] {
            if (Listed(L) && L->AcceptNotifier) L->AcceptNotifier->setEnabled(true);
          });
        }
        return;
      }
      auto socket =
          std::make_unique<TCustomWinSocket>(std::make_unique<TCustomWinSocket::Impl>(this));
      TCustomWinSocket::Impl& d = socket->Internals();
      d.SetFd(std::move(fd));
      d.ReadAddresses();
      TCustomWinSocket* raw = socket.get();
      Arriving.push_back(std::move(socket));
      d.Announce([this, raw] {
        raw->Internals().Announced = true;
        RaiseConnects();
      });
    }
  }

  // Connect events go out in accepting order, each once its peer is named.
  void RaiseConnects() {
    while (!Listeners.empty() && !Arriving.empty() && Arriving.front()->Internals().Announced) {
      std::unique_ptr<TCustomWinSocket> socket = std::move(Arriving.front());
      Arriving.erase(Arriving.begin());
      TCustomWinSocket* raw = socket.get();
      Connections.push_back(std::move(socket));
      raw->Internals().Start();
      RaiseNotify(Self->OnClientConnect, Self, raw);
    }
  }

  void StopListening() {
    for (auto& l : Listeners) {
      if (!l->AcceptNotifier) continue;
      l->AcceptNotifier->setEnabled(false);
      QObject::disconnect(l->AcceptNotifier, nullptr, nullptr, nullptr);
      l->AcceptNotifier->setParent(&SocketService::Instance());
      l->AcceptNotifier->deleteLater();
      l->AcceptNotifier = nullptr;
    }
    Listeners.clear();
    BoundPort = 0;
    for (auto& socket : Arriving) socket->Internals().Drop();
    Arriving.clear();
  }
};

TServerSocket::TServerSocket(TComponent* AOwner)
    : TComponent(AOwner), FImpl(std::make_unique<Impl>(this)) {}

TServerSocket::~TServerSocket() {
  FImpl->StopListening();
  for (auto& socket : FImpl->Connections) socket->Internals().Drop();
}

void TServerSocket::Open() {
  if (Active()) return;
  if (FAdopted.Bound() || !FAdopted.Error().empty()) {
    FImpl->Open(std::move(FAdopted));
    FAdopted = TBoundSockets();
    return;
  }
  FImpl->Open(TBoundSockets::Bind(FAddresses, FPort));
}

void TServerSocket::Adopt(TBoundSockets&& Sockets) {
  if (Active()) throw ESocketError("Socket error: cannot take sockets while active");
  FAdopted = std::move(Sockets);
}

void TServerSocket::Close() {
  if (!Active()) return;
  FImpl->StopListening();
  // Each connection raises its disconnect event; a handler's exception does not keep the others
  // open, and the first one is passed on afterwards.
  std::exception_ptr first;
  while (!FImpl->Connections.empty()) {
    TCustomWinSocket* socket = FImpl->Connections.front().get();
    try {
      socket->Close();
    } catch (...) {
      if (!first) first = std::current_exception();
    }
    if (!FImpl->Connections.empty() && FImpl->Connections.front().get() == socket)
      FImpl->Ended(socket);  // not live any more, yet still listed: let it go
  }
  if (first) std::rethrow_exception(first);
}

bool TServerSocket::Active() const { return !FImpl->Listeners.empty(); }

void TServerSocket::SetActive(bool Value) {
  if (Value)
    Open();
  else
    Close();
}

void TServerSocket::SetPort(int Value) {
  CheckPort(Value);
  if (Active()) throw ESocketError("Socket error: cannot change the port while active");
  FPort = Value;
}

int TServerSocket::LocalPort() const { return FImpl->BoundPort; }

void TServerSocket::SetAddresses(const std::vector<AnsiString>& Value) {
  if (Active()) throw ESocketError("Socket error: cannot change the addresses while active");
  for (const AnsiString& address : Value)
    if (!ValidListenAddress(address))
      throw ESocketError("Socket error: not an IP address: " + address);
  FAddresses = Value;
}

int TServerSocket::ActiveConnections() const { return static_cast<int>(FImpl->Connections.size()); }

TCustomWinSocket* TServerSocket::Connections(int Index) const {
  if (Index < 0 || Index >= ActiveConnections()) return nullptr;
  return FImpl->Connections[static_cast<std::size_t>(Index)].get();
}

// ---- TClientSocket ----

struct TClientSocket::Impl : sockets::SocketOwner {
  TClientSocket* Self;
  std::unique_ptr<TCustomWinSocket> Connection;
  bool Active = false;
  unsigned Attempt = 0;  // changes with every Open and abandon
  std::unique_ptr<QObject> Context = std::make_unique<QObject>();
  QList<QHostAddress> Addresses;
  qsizetype NextAddress = 0;
  int LastError = 0;
  // Tasks that may run after this object is gone (posted, or deferred by the event gate) hold it
  // weakly.
  std::shared_ptr<int> Life = std::make_shared<int>(0);

  explicit Impl(TClientSocket* ASelf) : Self(ASelf) {
    Connection = std::make_unique<TCustomWinSocket>(std::make_unique<TCustomWinSocket::Impl>(this));
    Connection->Internals().ConnectReady = [this] { ConnectReady(); };
  }

  TCustomWinSocket::Impl& Conn() { return Connection->Internals(); }

  TObject* Sender() override { return Self; }
  void RaiseRead(TCustomWinSocket* Socket) override { RaiseNotify(Self->OnRead, Self, Socket); }
  void RaiseWrite(TCustomWinSocket* Socket) override { RaiseNotify(Self->OnWrite, Self, Socket); }
  void RaiseDisconnect(TCustomWinSocket* Socket) override {
    RaiseNotify(Self->OnDisconnect, Self, Socket);
  }
  bool RaiseInputEnd(TCustomWinSocket* Socket) override {
    if (!Self->OnInputEnd) return false;
    Self->OnInputEnd(Self, Socket);
    return true;
  }
  void RaiseError(TCustomWinSocket* Socket, TErrorEvent Kind, int& Code) override {
    ovelta::RaiseError(Self->OnError, Self, Socket, Kind, Code);
  }
  void Ended(TCustomWinSocket*) override { Active = false; }
  void Abandon(TCustomWinSocket*) override { GiveUp(); }

  // Wraps Task so that it runs only while this attempt is still on: not once the attempt has been
  // given up, nor once the component is gone.
  std::function<void()> Guard(std::function<void()> Task) {
    const unsigned attempt = Attempt;
    std::weak_ptr<int> life = Life;
    return [this, life, attempt, Task = std::move(Task)] {
      if (life.lock() && Attempt == attempt && Active) Task();
    };
  }

  void Open(const AnsiString& Host, const AnsiString& Address, int Port) {
    NeedEventLoop();
    SocketService& service = SocketService::Instance();
    if (Host.empty() && Address.empty())
      throw ESocketError("Socket error: no host or address to connect to");
    ++Attempt;
    Active = true;
    Conn().Drop();
    Conn().FState = ConnState::Resolving;
    Addresses.clear();
    NextAddress = 0;
    LastError = 0;
    PortNumber = Port;
    if (!Host.empty()) {
      // A look-up given up is not aborted, and its answer goes to the service, which outlives
      // the component (aborting, or freeing the receiver first, leaks the functor in Qt's look-up
      // manager): the answer comes and finds the attempt, or the component, gone.
      auto answer = std::make_shared<QHostInfo>();
      std::function<void()> take = Guard([this, answer] {
        if (answer->error() != QHostInfo::NoError || answer->addresses().isEmpty())
          return Failed(eeLookup, EAI_NONAME, "getaddrinfo");
        Addresses = answer->addresses();
        TryNext();
      });
      QHostInfo::lookupHost(QString::fromStdString(Host), &service,
                            [answer, take](const QHostInfo& Info) {
                              *answer = Info;
                              SocketService::Instance().Run(take);
                            });
    } else {
      service.Post(Guard([this, Address] {
        QHostAddress parsed;
        if (!parsed.setAddress(QString::fromStdString(Address)))
          return Failed(eeLookup, EAI_NONAME, "inet_pton");
        Addresses = {parsed};
        TryNext();
      }));
    }
  }

  int PortNumber = 0;

  void TryNext() {
    while (NextAddress < Addresses.size()) {
      const QHostAddress& address = Addresses[NextAddress++];
      sockaddr_storage storage{};
      socklen_t length = 0;
      bool ok = false;
      if (address.protocol() == QAbstractSocket::IPv4Protocol) {
        auto* v4 = reinterpret_cast<sockaddr_in*>(&storage);
        v4->sin_family = AF_INET;
        v4->sin_addr.s_addr = htonl(address.toIPv4Address(&ok));
        v4->sin_port = htons(static_cast<uint16_t>(PortNumber));
        length = sizeof(sockaddr_in);
      } else if (address.protocol() == QAbstractSocket::IPv6Protocol) {
        auto* v6 = reinterpret_cast<sockaddr_in6*>(&storage);
        v6->sin6_family = AF_INET6;
        Q_IPV6ADDR raw = address.toIPv6Address();
        std::memcpy(&v6->sin6_addr, &raw, sizeof raw);
        v6->sin6_scope_id = static_cast<uint32_t>(address.scopeId().toUInt());
        v6->sin6_port = htons(static_cast<uint16_t>(PortNumber));
        length = sizeof(sockaddr_in6);
        ok = true;
      }
      if (!ok) continue;
      UniqueFd fd(::socket(storage.ss_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
      if (!fd) {
        LastError = errno;
        continue;
      }
      int result = ::connect(fd.Get(), reinterpret_cast<sockaddr*>(&storage), length);
      if (result == 0 || errno == EINPROGRESS) {
        Conn().SetFd(std::move(fd));
        Conn().FState = ConnState::Connecting;
        if (result == 0)
          ConnectReady();
        else
          Conn().UpdateNotifiers();
        return;
      }
      LastError = errno;
    }
    Failed(eeConnect, LastError != 0 ? LastError : ECONNREFUSED, "connect");
  }

  void ConnectReady() {
    int error = 0;
    socklen_t length = sizeof error;
    if (::getsockopt(Conn().Fd.Get(), SOL_SOCKET, SO_ERROR, &error, &length) != 0) error = errno;
    if (error != 0) {
      LastError = error;
      Conn().RetireNotifiers();
      Conn().Fd.Reset();
      Conn().FState = ConnState::Resolving;
      return TryNext();
    }
    Conn().ReadAddresses();
    Conn().Announce(Guard([this] {
      Conn().Start();
      RaiseNotify(Self->OnConnect, Self, Connection.get());
    }));
  }

  // The connect has failed: the socket is no longer active, then the error event.
  void Failed(TErrorEvent Kind, int Code, const char* Api) {
    GiveUp();
    int code = Code;
    RaiseError(Connection.get(), Kind, code);
    if (code != 0) throw ESocketError(sockets::ErrorText(Code, Api));
  }

  void GiveUp() {
    ++Attempt;
    Conn().Drop();
    Active = false;
  }
};

TClientSocket::TClientSocket(TComponent* AOwner)
    : TComponent(AOwner), FImpl(std::make_unique<Impl>(this)) {}

TClientSocket::~TClientSocket() { FImpl->GiveUp(); }

void TClientSocket::Open() {
  if (Active()) return;
  FImpl->Open(FHost, FAddress, FPort);
}

void TClientSocket::Close() {
  if (FImpl->Conn().Live())
    FImpl->Connection->Close();
  else if (FImpl->Active)
    FImpl->GiveUp();
}

bool TClientSocket::Active() const { return FImpl->Active; }

void TClientSocket::SetActive(bool Value) {
  if (Value)
    Open();
  else
    Close();
}

namespace {
void CheckInactive(bool Active) {
  if (Active)
    throw ESocketError("Socket error: cannot change the value while the socket is active");
}
}  // namespace

void TClientSocket::SetHost(const AnsiString& Value) {
  if (Value == FHost) return;
  CheckInactive(Active());
  FHost = Value;
}

void TClientSocket::SetAddress(const AnsiString& Value) {
  if (Value == FAddress) return;
  CheckInactive(Active());
  FAddress = Value;
}

void TClientSocket::SetPort(int Value) {
  if (Value == FPort) return;
  CheckPort(Value);
  CheckInactive(Active());
  FPort = Value;
}

TCustomWinSocket* TClientSocket::Socket() const { return FImpl->Connection.get(); }

}  // namespace ovelta
