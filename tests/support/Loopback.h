// Plain POSIX peers on loopback for tests of code on the asynchronous sockets: a connecting peer,
// a listener, a free port, the name the system gives an address, and bytes in which any loss
// shows. Calls that wait are bounded by a deadline and wait for a condition (EventLoop.h).
// Header-only: the relay benchmark uses the peers without the test support library.
#pragma once

#include <arpa/inet.h>
#include <netdb.h>
#include <netinet/in.h>
#include <poll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <chrono>
#include <cstddef>
#include <cstring>
#include <stdexcept>
#include <string>
#include <string_view>

#include "support/EventLoop.h"

namespace ovelta::test {

// A plain TCP endpoint on loopback; owns its descriptor.
class Peer {
 public:
  Peer() = default;
  explicit Peer(int Fd) : FFd(Fd) {}
  Peer(Peer&& Other) noexcept : FFd(Other.FFd) { Other.FFd = -1; }
  Peer& operator=(Peer&& Other) noexcept;
  ~Peer() { Close(); }

  // Connects to Host (an IPv4 or IPv6 address) and Port; a listener's backlog completes the
  // connection without the event loop running. ReceiveBuffer, when given, is set before
  // connecting (so the window is small from the start). Throws std::runtime_error on failure.
  static Peer Connect(const std::string& Host, int Port, int ReceiveBuffer = 0);

  int Fd() const { return FFd; }
  bool Open() const { return FFd >= 0; }

  // Sends all of Data (waits while the kernel is full, up to DeadlineMs). False on failure.
  bool Send(std::string_view Data, int DeadlineMs = kDeadlineMs);
  // Sends what the kernel takes of Data now, without waiting, and removes it from Data. False
  // when the connection has failed.
  bool SendSome(std::string& Data);
  // Whatever has arrived, without waiting. Sets Ended when the peer's end was seen.
  std::string ReadAvailable(bool* Ended = nullptr);
  // Reads (blocking, for use on a thread of its own) until the peer's end or DeadlineMs. A slow
  // reader: after every ChunkDelayBytes it pauses ChunkDelayMs.
  std::string ReadToEnd(int DeadlineMs, bool* Ended = nullptr, std::size_t ChunkDelayBytes = 0,
                        int ChunkDelayMs = 0);

  void ShutdownWrite();
  // Ends the connection with a reset instead of an orderly end.
  void Reset();
  void SetReceiveBuffer(int Bytes);
  void Close();

  // The address of Host (IPv4 or IPv6 text) and Port in Out; its length. Throws
  // std::runtime_error when Host is not an address.
  static socklen_t Resolve(const std::string& Host, int Port, sockaddr_storage* Out);

 private:
  int FFd = -1;
};

// A plain listener on a loopback address, port chosen by the system.
class Listener {
 public:
  // Throws std::runtime_error when it cannot listen.
  explicit Listener(const std::string& Host = "127.0.0.1");
  ~Listener() { Close(); }
  Listener(const Listener&) = delete;
  Listener& operator=(const Listener&) = delete;

  int Port() const { return FPort; }
  // A connection that has arrived, or a closed Peer when none has.
  Peer TryAccept();
  // Waits (running the event loop) for a connection; a closed Peer when none came within
  // DeadlineMs. A short DeadlineMs shows only that none comes (EventLoop.h, rule 3).
  Peer Accept(int DeadlineMs = kDeadlineMs);
  void Close();

 private:
  int FFd = -1;
  int FPort = 0;
};

// A loopback port that nothing listens on at the moment.
int FreePort();

// Bytes in which any loss, duplication or reordering shows (a xorshift stream).
std::string Pattern(std::size_t Count, unsigned Seed = 2463534242u);

// The name the system's reverse look-up gives an address ("" when none).
std::string SystemName(const std::string& Address);

// The count of bytes that have arrived on the socket Fd and not been read: 0 once its owner has
// read everything sent to it so far (on loopback, what a peer has sent has arrived).
std::size_t UnreadBytes(int Fd);

// True once the connection of socket Fd has ended or failed in the kernel (a reset or the peer's
// end has arrived), read or not.
bool PeerGone(int Fd);

// ---- definitions ----

namespace loopback {

inline constexpr int kListenBacklog = 16;
inline constexpr std::size_t kReadPiece = 65536;
// A poll for room or bytes on a plain socket is re-armed this often (the deadline is checked).
inline constexpr int kSocketPollMs = 20;

}  // namespace loopback

inline Peer& Peer::operator=(Peer&& Other) noexcept {
  if (this != &Other) {
    Close();
    FFd = Other.FFd;
    Other.FFd = -1;
  }
  return *this;
}

inline Peer Peer::Connect(const std::string& Host, int Port, int ReceiveBuffer) {
  sockaddr_storage address{};
  const socklen_t length = Resolve(Host, Port, &address);
  const int fd = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  if (fd >= 0 && ReceiveBuffer > 0)
    ::setsockopt(fd, SOL_SOCKET, SO_RCVBUF, &ReceiveBuffer, sizeof ReceiveBuffer);
  if (fd < 0 || ::connect(fd, reinterpret_cast<sockaddr*>(&address), length) != 0) {
    const int error = errno;
    if (fd >= 0) ::close(fd);
    throw std::runtime_error("connect: " + std::string(std::strerror(error)));
  }
  return Peer(fd);
}

inline bool Peer::Send(std::string_view Data, int DeadlineMs) {
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(DeadlineMs);
  while (!Data.empty()) {
    const ssize_t n = ::send(FFd, Data.data(), Data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      Data.remove_prefix(static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno != EAGAIN && errno != EWOULDBLOCK && errno != EINTR) return false;
    if (std::chrono::steady_clock::now() >= deadline) return false;
    pollfd p{FFd, POLLOUT, 0};
    ::poll(&p, 1, loopback::kSocketPollMs);
  }
  return true;
}

inline bool Peer::SendSome(std::string& Data) {
  while (!Data.empty()) {
    const ssize_t n = ::send(FFd, Data.data(), Data.size(), MSG_NOSIGNAL | MSG_DONTWAIT);
    if (n > 0) {
      Data.erase(0, static_cast<std::size_t>(n));
      continue;
    }
    if (n < 0 && errno == EINTR) continue;
    return n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK);
  }
  return true;
}

inline std::string Peer::ReadAvailable(bool* Ended) {
  std::string out;
  char buffer[loopback::kReadPiece];
  for (;;) {
    const ssize_t n = ::recv(FFd, buffer, sizeof buffer, MSG_DONTWAIT);
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

inline std::string Peer::ReadToEnd(int DeadlineMs, bool* Ended, std::size_t ChunkDelayBytes,
                                   int ChunkDelayMs) {
  std::string out;
  const auto deadline = std::chrono::steady_clock::now() + std::chrono::milliseconds(DeadlineMs);
  std::string buffer(loopback::kReadPiece, '\0');
  std::size_t sinceDelay = 0;
  while (std::chrono::steady_clock::now() < deadline) {
    pollfd p{FFd, POLLIN, 0};
    if (::poll(&p, 1, loopback::kSocketPollMs) <= 0) continue;
    const ssize_t n = ::recv(FFd, buffer.data(), buffer.size(), MSG_DONTWAIT);
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

inline void Peer::ShutdownWrite() { ::shutdown(FFd, SHUT_WR); }

inline void Peer::Reset() {
  linger l{1, 0};
  ::setsockopt(FFd, SOL_SOCKET, SO_LINGER, &l, sizeof l);
  Close();
}

inline void Peer::SetReceiveBuffer(int Bytes) {
  ::setsockopt(FFd, SOL_SOCKET, SO_RCVBUF, &Bytes, sizeof Bytes);
}

inline void Peer::Close() {
  if (FFd >= 0) ::close(FFd);
  FFd = -1;
}

inline socklen_t Peer::Resolve(const std::string& Host, int Port, sockaddr_storage* Out) {
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

inline Listener::Listener(const std::string& Host) {
  sockaddr_storage address{};
  socklen_t length = Peer::Resolve(Host, 0, &address);
  FFd = ::socket(address.ss_family, SOCK_STREAM | SOCK_CLOEXEC, 0);
  const int one = 1;
  ::setsockopt(FFd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(FFd, reinterpret_cast<sockaddr*>(&address), length) != 0 ||
      ::listen(FFd, loopback::kListenBacklog) != 0) {
    const int error = errno;
    Close();
    throw std::runtime_error("listen: " + std::string(std::strerror(error)));
  }
  length = sizeof address;
  ::getsockname(FFd, reinterpret_cast<sockaddr*>(&address), &length);
  FPort = address.ss_family == AF_INET
              ? ntohs(reinterpret_cast<sockaddr_in*>(&address)->sin_port)
              : ntohs(reinterpret_cast<sockaddr_in6*>(&address)->sin6_port);
}

inline Peer Listener::TryAccept() {
  pollfd p{FFd, POLLIN, 0};
  if (::poll(&p, 1, 0) <= 0) return Peer();
  return Peer(::accept4(FFd, nullptr, nullptr, SOCK_CLOEXEC));
}

inline Peer Listener::Accept(int DeadlineMs) {
  Peer got;
  RunUntil(
      [&] {
        got = TryAccept();
        return got.Open();
      },
      DeadlineMs);
  return got;
}

inline void Listener::Close() {
  if (FFd >= 0) ::close(FFd);
  FFd = -1;
}

inline int FreePort() {
  const int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_CLOEXEC, 0);
  sockaddr_in address{};
  address.sin_family = AF_INET;
  address.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  ::bind(fd, reinterpret_cast<sockaddr*>(&address), sizeof address);
  socklen_t length = sizeof address;
  ::getsockname(fd, reinterpret_cast<sockaddr*>(&address), &length);
  ::close(fd);
  return ntohs(address.sin_port);
}

inline std::string Pattern(std::size_t Count, unsigned Seed) {
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

inline std::string SystemName(const std::string& Address) {
  sockaddr_storage storage{};
  const socklen_t length = Peer::Resolve(Address, 0, &storage);
  char host[NI_MAXHOST] = {};
  if (::getnameinfo(reinterpret_cast<sockaddr*>(&storage), length, host, sizeof host, nullptr, 0,
                    NI_NAMEREQD) != 0)
    return "";
  return host;
}

inline std::size_t UnreadBytes(int Fd) {
  int count = 0;
  if (::ioctl(Fd, FIONREAD, &count) != 0 || count < 0) return 0;
  return static_cast<std::size_t>(count);
}

inline bool PeerGone(int Fd) {
  pollfd p{Fd, POLLRDHUP, 0};
  return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLRDHUP | POLLHUP | POLLERR)) != 0;
}

}  // namespace ovelta::test
