// Test helpers for code on the asynchronous sockets: the application object and a bounded event
// loop runner, plain POSIX peers on loopback (a client, a listener) to talk to the components
// under test, and a free-port finder.
#pragma once

#include <arpa/inet.h>
#include <fcntl.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <poll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <QCoreApplication>
#include <QEventLoop>
#include <chrono>
#include <cerrno>
#include <cstring>
#include <functional>
#include <stdexcept>
#include <string>
#include <string_view>

namespace ovelta::testkit {

// The application object every test program needs for the event loop (created once, kept).
inline void EnsureApplication() {
  if (QCoreApplication::instance()) return;
  static int argc = 1;
  static char name[] = "merlig-test";
  static char* argv[] = {name, nullptr};
  new QCoreApplication(argc, argv);
}

// Runs the event loop until Done returns true or TimeoutMs has passed; returns Done's last
// answer.
inline bool RunUntil(const std::function<bool()>& Done, int TimeoutMs = 5000) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
  while (!Done()) {
    if (std::chrono::steady_clock::now() >= deadline) return false;
    QCoreApplication::processEvents(QEventLoop::AllEvents | QEventLoop::WaitForMoreEvents, 20);
  }
  return true;
}

// Runs the event loop for a while (to show that something does NOT happen).
inline void RunFor(int Ms) {
  RunUntil([] { return false; }, Ms);
}

// Frees what the socket layer has handed to the event loop for later (retired notifiers).
inline void Settle() {
  for (int i = 0; i < 3; ++i) {
    QCoreApplication::processEvents(QEventLoop::AllEvents, 10);
    QCoreApplication::sendPostedEvents(nullptr, QEvent::DeferredDelete);
  }
}

// A plain TCP endpoint on loopback. Calls that wait are bounded by their timeout.
class Peer {
 public:
  Peer() = default;
  explicit Peer(int Fd) : FFd(Fd) {}
  Peer(Peer&& Other) noexcept : FFd(Other.FFd) { Other.FFd = -1; }
  Peer& operator=(Peer&& Other) noexcept {
    if (this != &Other) {
      Close();
      FFd = Other.FFd;
      Other.FFd = -1;
    }
    return *this;
  }
  ~Peer() { Close(); }

  // Connects to Host (an IPv4 or IPv6 address) and Port; a listener's backlog completes the
  // connection without the event loop running.
  // ReceiveBuffer, when given, is set before connecting (so the window is small from the start).
  static Peer Connect(const std::string& Host, int Port, int ReceiveBuffer = 0) {
    sockaddr_storage address{};
    socklen_t length = Resolve(Host, Port, &address);
    int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    if (fd >= 0 && ReceiveBuffer > 0)
      ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &ReceiveBuffer, sizeof ReceiveBuffer);
    if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
      int error = errno;
      if (fd >= 0) ::close(fd);
      throw std::runtime_error("connect: " + std::string(std::strerror(error)));
    }
    return Peer(fd);
  }

  int Fd() const { return FFd; }
  bool Open() const { return FFd >= 0; }

  // Sends all of Data (waits while the kernel is full, up to TimeoutMs).
  bool Send(std::string_view Data, int TimeoutMs = 10000) {
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    while (!Data.empty()) {
      ssize_t n = ::send(FFd, Data.data(), Data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        Data.remove_prefix(static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
      if (std::chrono::steady_clock::now() >= deadline) return false;
      pollfd p{FFd, POLLOUT, 0};
      ::poll(&p, 1, 20);
    }
    return true;
  }

  // Sends what the kernel takes of Data now, without waiting, and removes it from Data. False
  // when the connection has failed.
  bool SendSome(std::string& Data) {
    while (!Data.empty()) {
      ssize_t n = ::send(FFd, Data.data(), Data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
      if (n > 0) {
        Data.erase(0, static_cast<std::size_t>(n));
        continue;
      }
      if (n < 0 && errno == EINTR) continue;
      return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
    }
    return true;
  }

  // Whatever has arrived, without waiting. Sets Ended when the peer's end was seen.
  std::string ReadAvailable(bool* Ended = nullptr) {
    std::string out;
    char buffer[65536];
    for (;;) {
      ssize_t n = ::recv(FFd, buffer, sizeof buffer, MSG_DONTWAIT);
      if (n > 0) {
        out.append(buffer, static_cast<std::size_t>(n));
        continue;
      }
      if (n == 0 && Ended) *Ended = true;
      if (n < 0 && errno == EINTR) continue;
      if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && Ended) *Ended = true;
      break;
    }
    return out;
  }

  // Reads (blocking, for use on a thread of its own) until the peer's end or TimeoutMs.
  std::string ReadToEnd(int TimeoutMs, bool* Ended = nullptr, std::size_t ChunkDelayBytes = 0,
                        int ChunkDelayMs = 0) {
    std::string out;
    const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(TimeoutMs);
    std::string buffer(65536, '\0');
    std::size_t sinceDelay = 0;
    while (std::chrono::steady_clock::now() < deadline) {
      pollfd p{FFd, POLLIN, 0};
      if (::poll(&p, 1, 50) <= 0) continue;
      ssize_t n = ::recv(FFd, buffer.data(), buffer.size(), MSG_DONTWAIT);
      if (n > 0) {
        out.append(buffer.data(), static_cast<std::size_t>(n));
        sinceDelay += static_cast<std::size_t>(n);
        if (ChunkDelayBytes && sinceDelay >= ChunkDelayBytes) {
          sinceDelay = 0;
          ::usleep(static_cast<useconds_t>(ChunkDelayMs) * 1000);
        }
        continue;
      }
      if (n == 0 || (errno != EAGAIN && errno != EINTR)) {
        if (Ended) *Ended = true;
        break;
      }
    }
    return out;
  }

  void ShutdownWrite() { ::shutdown(FFd, SHUT_WR); }
  // Ends the connection with a reset instead of an orderly end.
  void Reset() {
    linger l{1, 0};
    ::setsockopt(FFd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
    Close();
  }
  void SetReceiveBuffer(int Bytes) {
    ::setsockopt(FFd, SOL_SOCKET, SO_RCVBUF, &Bytes, sizeof Bytes);
  }
  void Close() {
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
  }

  static socklen_t Resolve(const std::string& Host, int Port, sockaddr_storage* Out) {
    auto* v4 = reinterpret_cast<sockaddr_in*>(Out);
    if (::inet_pton(AF_INET, Host.c_str(), &v4->sin_addr) == 1) {
      v4->sin_family = AF_INET;
      v4->sin_port = htons(static_cast<uint16_t>(Port));
      return sizeof(sockaddr_in);
    }
    auto* v6 = reinterpret_cast<sockaddr_in6*>(Out);
    if (::inet_pton(AF_INET6, Host.c_str(), &v6->sin6_addr) == 1) {
      v6->sin6_family = AF_INET6;
      v6->sin6_port = htons(static_cast<uint16_t>(Port));
      return sizeof(sockaddr_in6);
    }
    throw std::runtime_error("not an address: " + Host);
  }

 private:
  int FFd = -1;
};

// A plain listener on a loopback address, port chosen by the system.
class Listener {
 public:
  explicit Listener(const std::string& Host = "127.0.0.1") {
    sockaddr_storage address{};
    socklen_t length = Peer::Resolve(Host, 0, &address);
    FFd = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
    int one = 1;
    ::setsockopt(FFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
    if (::bind(FFd, reinterpret_cast<sockaddr*>(&address), length) != 0 || ::listen(FFd, 16) != 0)
      throw std::runtime_error("listen: " + std::string(std::strerror(errno)));
    length = sizeof address;
    ::getsockname(FFd, reinterpret_cast<sockaddr*>(&address), &length);
    FPort = address.ss_family == AF_INET
                ? ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port)
                : ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
  }
  ~Listener() { Close(); }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  int Port() const { return FPort; }
  // A connection that has arrived, or a closed Peer when none has.
  Peer TryAccept() {
    pollfd p{FFd, POLLIN, 0};
    if (::poll(&p, 1, 0) <= 0) return Peer();
    return Peer(::accept4(FFd, nullptr, nullptr, SOCK_CLOEXEC));
  }
  // Waits (running the event loop) for a connection.
  Peer Accept(int TimeoutMs = 5000) {
    Peer got;
    RunUntil([&] {
      got = TryAccept();
      return got.Open();
    }, TimeoutMs);
    return got;
  }
  void Close() {
    if (FFd >= 0) ::close(FFd);
    FFd = -1;
  }

 private:
  int FFd = -1;
  int FPort = 0;
};

// A loopback port that nothing listens on at the moment.
inline int FreePort() {
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

// Bytes in which any loss, duplication or reordering shows (a xorshift stream).
inline std::string Pattern(std::size_t Count, unsigned Seed = 2463534242u) {
  std::string out(Count, '\0');
  unsigned x = Seed;
  for (std::size_t i = 0; i < Count; ++i) {
    x ^= x << 13;
    x ^= x >> 17;
    x ^= x << 5;
    out[i] = static_cast<char>(x);
  }
  return out;
}

}  // namespace ovelta::testkit
