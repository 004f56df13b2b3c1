// Binding listening sockets without the toolkit: the address check and TBoundSockets, which
// TServerSocket also uses for its own Open. Nothing here may call into Qt: a program binds its
// privileged port with this before the toolkit exists.
#include <arpa/inet.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <cerrno>
#include <cstring>

#include "platform/net/Sockets.h"
#include "platform/net/Sockets_p.h"

namespace ovelta {

namespace {

// One address to bind, in the socket's own form.
struct BindAddress {
  sockaddr_storage Address{};
  socklen_t Length = 0;
  bool V6Only = false;  // an IPv6 address given by name takes IPv6 alone
};

bool ParseAddress(const AnsiString& Text, int Port, BindAddress* Out) {
  BindAddress a;
  auto* v4 = reinterpret_cast<sockaddr_in*>(&a.Address);
  auto* v6 = reinterpret_cast<sockaddr_in6*>(&a.Address);
  if (::inet_pton(AF_INET, Text.c_str(), &v4->sin_addr) == 1) {
    v4->sin_family = AF_INET;
    v4->sin_port = htons(static_cast<uint16_t>(Port));
    a.Length = sizeof(sockaddr_in);
  } else if (::inet_pton(AF_INET6, Text.c_str(), &v6->sin6_addr) == 1) {
    v6->sin6_family = AF_INET6;
    v6->sin6_port = htons(static_cast<uint16_t>(Port));
    a.Length = sizeof(sockaddr_in6);
    a.V6Only = true;
  } else {
    return false;
  }
  if (Out) *Out = a;
  return true;
}

bool SameAddress(const BindAddress& A, const BindAddress& B) {
  return A.Length == B.Length && std::memcmp(&A.Address, &B.Address, A.Length) == 0;
}

// Binds one socket; on failure returns an invalid descriptor and sets *Code (the errno) and
// *Error.
sockets::UniqueFd BindOne(const BindAddress& A, int* Code, std::string* Error) {
  const int family = A.Address.ss_family;
  sockets::UniqueFd fd(::socket(family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0));
  if (!fd) {
    *Code = errno;
    *Error = sockets::ErrorText(*Code, "socket");
    return fd;
  }
  int one = 1;
  const int v6only = A.V6Only ? 1 : 0;
  if (family == AF_INET6)
    ::setsockopt(fd.Get(), IPPROTO_IPV6, IPV6_V6ONLY, &v6only, sizeof v6only);
  ::setsockopt(fd.Get(), SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  if (::bind(fd.Get(), reinterpret_cast<const sockaddr*>(&A.Address), A.Length) != 0) {
    *Code = errno;
    *Error = sockets::ErrorText(*Code, "bind");
    fd.Reset();
  }
  return fd;
}

int BoundPort(int Fd) {
  sockaddr_storage address{};
  socklen_t length = sizeof address;
  if (::getsockname(Fd, reinterpret_cast<sockaddr*>(&address), &length) != 0) return 0;
  return sockets::AddressPort(reinterpret_cast<sockaddr*>(&address));
}

}  // namespace

bool ValidListenAddress(const AnsiString& Text) { return ParseAddress(Text, 0, nullptr); }

TBoundSockets::~TBoundSockets() {
  for (int fd : FFds) ::close(fd);
}

TBoundSockets::TBoundSockets(TBoundSockets&& Other) noexcept
    : FFds(std::move(Other.FFds)), FError(std::move(Other.FError)) {
  Other.FFds.clear();
  Other.FError.clear();
}

TBoundSockets& TBoundSockets::operator=(TBoundSockets&& Other) noexcept {
  if (this != &Other) {
    for (int fd : FFds) ::close(fd);
    FFds = std::move(Other.FFds);
    FError = std::move(Other.FError);
    Other.FFds.clear();
    Other.FError.clear();
  }
  return *this;
}

int TBoundSockets::Port() const { return FFds.empty() ? 0 : BoundPort(FFds.front()); }

TBoundSockets TBoundSockets::Bind(const std::vector<AnsiString>& Addresses, int Port) {
  TBoundSockets result;
  if (Port < 0 || Port > 65535) {
    result.FError = "Socket error: invalid port " + std::to_string(Port);
    return result;
  }
  std::vector<BindAddress> wanted;
  for (const AnsiString& text : Addresses) {
    BindAddress a;
    if (!ParseAddress(text, Port, &a)) {
      result.FError = "Socket error: not an IP address: " + text;
      return result;
    }
    bool repeated = false;
    for (const BindAddress& seen : wanted) repeated = repeated || SameAddress(seen, a);
    if (!repeated) wanted.push_back(a);
  }
  std::vector<sockets::UniqueFd> fds;
  if (wanted.empty()) {
    // One dual-stack socket takes IPv4 (as mapped addresses) and IPv6; without IPv6, IPv4 alone.
    BindAddress any6;
    ParseAddress("::", Port, &any6);
    any6.V6Only = false;
    int code = 0;
    std::string error;
    sockets::UniqueFd fd = BindOne(any6, &code, &error);
    if (!fd && (code == EAFNOSUPPORT || code == EADDRNOTAVAIL)) {
      BindAddress any4;
      ParseAddress("0.0.0.0", Port, &any4);
      fd = BindOne(any4, &code, &error);
    }
    if (!fd) {
      result.FError = error;
      return result;
    }
    fds.push_back(std::move(fd));
  } else {
    for (BindAddress& a : wanted) {
      // Port 0 on several addresses: the port the first one got, on all of them.
      if (Port == 0 && !fds.empty()) {
        const uint16_t port = htons(static_cast<uint16_t>(BoundPort(fds.front().Get())));
        if (a.Address.ss_family == AF_INET)
          reinterpret_cast<sockaddr_in*>(&a.Address)->sin_port = port;
        else
          reinterpret_cast<sockaddr_in6*>(&a.Address)->sin6_port = port;
      }
      int code = 0;
      std::string error;
      sockets::UniqueFd fd = BindOne(a, &code, &error);
      if (!fd) {
        result.FError = error;
        return result;  // the ones bound so far close with fds
      }
      fds.push_back(std::move(fd));
    }
  }
  for (sockets::UniqueFd& fd : fds) result.FFds.push_back(fd.Release());
  return result;
}

}  // namespace ovelta
