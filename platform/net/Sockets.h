// The socket engine the proxy relays through: asynchronous TCP sockets on the event loop, with
// byte-exact delivery, backpressure and in-kernel forwarding between two connections. The listener
// TServerSocket, the client TClientSocket and the connection object TCustomWinSocket, with
// ESocketError for their failures.
//
// Every event arrives on the user-interface thread, from the application's event loop, one at a
// time; the one exception is Close, which raises the connection's disconnect event inside the call.
// An error event whose handler leaves the error code non-zero becomes an ESocketError after the
// handler returns: thrown to the caller when the failure happened inside a call (ReceiveText,
// SendText, ForwardTo), handed to the socket exception hook when it happened in the event loop; the
// failed operation raises no further event of its own (a failed connect raises no connect and no
// disconnect). A connection that was connected and then fails ends: its disconnect event follows
// the error, so every connection that was reported connected is reported disconnected exactly once.
//
// The connections never lose a byte handed to SendText: what the kernel cannot take at once waits
// in the connection's output, is sent in order as soon as it can, and is still delivered after
// Close (the socket service keeps a closed connection open in the background until its output is
// out or a bound of time has passed). SendPending, PauseReading and the write event (OnWrite,
// OnClientWrite: the output has drained) let a relay apply backpressure; ForwardTo moves bytes
// between two connections without copying them through user memory.
//
// Each direction of a connection may end on its own (a half-close). When the peer ends its sending,
// a component with an input-end event (OnInputEnd, OnClientInputEnd) raises it once everything the
// peer sent before has been received, and the connection stays open for sending; without that
// event the connection ends (its disconnect event). ShutdownOutput ends our sending once the
// output has gone out. A connection whose two directions have both ended ends by itself; one with
// only one direction ended ends after 30 seconds without any byte moving in or out of it.
#pragma once

#include <cstddef>
#include <exception>
#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/core/Component.h"
#include "platform/core/Exceptions.h"
#include "platform/core/Types.h"
#include "platform/core/Win32Names.h"  // after every other include: see there

namespace ovelta {

// A failure of the socket service. Message: a readable text with the system's error text, its
// code and the call that failed ("Socket error: Connection refused (111), on API 'connect'").
class ESocketError : public Exception {
 public:
  using Exception::Exception;
  std::string ClassName() const override { return "ESocketError"; }
};

// What was being done when a socket error happened.
enum TErrorEvent { eeGeneral, eeSend, eeReceive, eeConnect, eeDisconnect, eeAccept, eeLookup };

enum TServerType { stNonBlocking, stThreadBlocking };
enum TClientType { ctNonBlocking, ctBlocking };

class TCustomWinSocket;

// Event handlers take the component that raised the event and the connection concerned.
using TSocketNotifyEvent = std::function<void(TObject* Sender, TCustomWinSocket* Socket)>;
// The error handler may set ErrorCode to 0 to swallow the error; left non-zero, an ESocketError
// follows after the handler returns.
using TSocketErrorEvent = std::function<void(TObject* Sender, TCustomWinSocket* Socket,
                                             TErrorEvent ErrorEvent, int& ErrorCode)>;

// Where an exception goes that escapes a socket event raised from the event loop (the ESocketError
// after an error event, or anything a handler throws). No exception ever crosses the event loop:
// it goes to the hook set here when there is one; otherwise, while the application object is
// initialized, to its exception handling (Application().HandleException, which fires OnException
// or shows it); otherwise it is shown (ShowException), an ESocketError excepted, which is dropped.
// Returns the previous hook.
using TSocketExceptionHook = std::function<void(const std::exception& E)>;
TSocketExceptionHook SetSocketExceptionHook(TSocketExceptionHook Hook);

// One TCP connection: accepted by a TServerSocket (which owns it and frees it after its disconnect
// event) or the one connection of a TClientSocket (which owns it for its whole life). A pointer to
// an accepted connection stays valid until the event handler that saw its disconnect has returned.
class TCustomWinSocket : public TObject {
 public:
  ~TCustomWinSocket() override;
  TCustomWinSocket(const TCustomWinSocket&) = delete;
  TCustomWinSocket& operator=(const TCustomWinSocket&) = delete;
  std::string ClassName() const override { return "TCustomWinSocket"; }

  // True from the connect event to the disconnect event.
  bool Connected() const;

  // The peer's host name by reverse look-up, made before the connect event was raised; empty when
  // the address has no name or the connection is not connected (the disconnect handler still sees
  // it).
  AnsiString RemoteHost() const;
  // The peer's address in dotted form ("127.0.0.1", "::1"); empty when not connected.
  AnsiString RemoteAddress() const;
  int RemotePort() const;
  int LocalPort() const;

  // Every byte now waiting, as one string (empty when nothing is waiting or not connected). A
  // read event is raised again only after a receive call (ReceiveText, ReceiveLength, ForwardTo).
  // A receive failure raises the error event (eeReceive) and then, the code left non-zero, throws
  // ESocketError.
  AnsiString ReceiveText();
  // The count of bytes now waiting to be received.
  std::size_t ReceiveLength();
  // Receives at most Count bytes into Buf and returns how many (0 when nothing is waiting or not
  // connected). Counts as a receive call; failures as ReceiveText.
  int ReceiveBuf(void* Buf, int Count);

  // Hands every byte of Text to the connection and returns their count (-1 when not connected).
  // What the kernel cannot take now waits, in order, in the connection's output. A send failure
  // raises the error event (eeSend) and then, the code left non-zero, throws ESocketError.
  int SendText(const AnsiString& Text);
  int SendBuf(const void* Buf, std::size_t Count);

  // Moves bytes now waiting on this connection to the output of Target, unchanged and in order,
  // through a kernel pipe where the platform allows (no copy through user memory). Moves no more
  // than keeps Target's waiting output at or below Limit bytes; the rest stays waiting here.
  // Returns the count moved. Counts as a receive call. Failures as ReceiveText and SendText (the
  // error event is raised on the connection that failed). A Target whose peer is on this machine
  // gets a small kernel send buffer (relaying to it is then much faster).
  std::size_t ForwardTo(TCustomWinSocket& Target, std::size_t Limit);

  // Bytes handed over but not yet taken by the kernel.
  std::size_t SendPending() const;

  // Ends our sending once everything handed over before has gone out (the peer then sees the end
  // of the stream); receiving goes on, and SendText, SendBuf and forwarding to this connection
  // take nothing more. When the input has ended too, the connection ends inside the call (its
  // disconnect event) or once the output has gone. Nothing when not connected.
  void ShutdownOutput();
  // True once the peer's end of sending has been reported by the input-end event.
  bool InputEnded() const;
  // Reports at once, inside the call, an end or a failure of the peer that has arrived and that no
  // event has reported yet: first the read events for the bytes before it (while the handler
  // receives), then the input-end, error or disconnect event. Nothing while nothing has ended.
  // Lets a server learn whether a connection is really still there before it turns a newcomer
  // away. Failures as ReceiveText.
  void CatchUp();

  // While paused, no read event is raised and nothing is read (the peer's sending is held back by
  // TCP's own flow control). The end of the connection is seen once reading resumes.
  void PauseReading(bool Paused);
  bool ReadingPaused() const;

  // Ends the connection. Its disconnect event is raised before the call returns; what waits in the
  // output is still delivered afterwards. Nothing when not connected (a connect in progress is
  // abandoned without any event).
  void Close();
  // Close for a connection that is only told why it is refused: its waiting output gets a few
  // seconds to go out, and when too many closed connections linger it is the first to be cut.
  void CloseBriefly();

  // The socket service's own state of the connection (opaque outside the service, which alone
  // makes connection objects).
  struct Impl;
  explicit TCustomWinSocket(std::unique_ptr<Impl> AImpl);
  Impl& Internals() const { return *FImpl; }

 private:
  std::unique_ptr<Impl> FImpl;
};

// Whether Text is an address a listener can be bound to: an IPv4 address in dotted form
// ("127.0.0.1") or an IPv6 address ("::1"), without brackets, port or zone.
bool ValidListenAddress(const AnsiString& Text);

// Listening sockets bound ahead of the application object, for a TServerSocket to take over
// (Adopt): a program that may bind its port only while it holds a privilege binds it here, gives
// the privilege up, and only then starts the toolkit. Binding runs no toolkit code. Owns the
// sockets until a TServerSocket adopts them; closes them when it goes. Move-only.
class TBoundSockets {
 public:
  TBoundSockets() = default;
  ~TBoundSockets();
  TBoundSockets(TBoundSockets&& Other) noexcept;
  TBoundSockets& operator=(TBoundSockets&& Other) noexcept;
  TBoundSockets(const TBoundSockets&) = delete;
  TBoundSockets& operator=(const TBoundSockets&) = delete;

  // Binds Port (0: a free port, the same on every address) on each of Addresses (each one
  // ValidListenAddress; a repeated one counts once), or on all local addresses, IPv4 and IPv6,
  // when Addresses is empty. Nothing listens yet. All or nothing: when one address fails, none
  // stays bound and Error tells why, in the words of ESocketError.
  static TBoundSockets Bind(const std::vector<AnsiString>& Addresses, int Port);
  // True when the sockets are bound (a default-made object holds none and no error).
  bool Bound() const { return !FFds.empty(); }
  // The port bound (the one the system chose for port 0); 0 when none is.
  int Port() const;
  const std::string& Error() const { return FError; }

 private:
  friend class TServerSocket;
  std::vector<int> FFds;
  std::string FError;
};

// A listener on all local addresses, IPv4 and IPv6 (127.0.0.1 and ::1 both reach it), or on the
// addresses it is given.
class TServerSocket : public TComponent {
 public:
  explicit TServerSocket(TComponent* AOwner);
  ~TServerSocket() override;  // stops listening; its connections end without events
  std::string ClassName() const override { return "TServerSocket"; }

  // Starts listening on Port; throws ESocketError when the port cannot be opened. Nothing when
  // already active. Sockets adopted before are listened on instead of binding anew (once: a
  // later Open after Close binds again); when their binding failed, its error is thrown here.
  void Open();
  // Takes sockets bound ahead of time for the next Open. Throws ESocketError while active.
  void Adopt(TBoundSockets&& Sockets);
  // Ends every accepted connection (each raises its disconnect event) and stops listening.
  void Close();
  bool Active() const;
  void SetActive(bool Value);

  // Port 0 asks the system for a free port; LocalPort then tells which (0 while not active).
  int Port() const { return FPort; }
  void SetPort(int Value);  // throws ESocketError while active
  int LocalPort() const;
  // The addresses Open binds (each ValidListenAddress); empty, the default: all local addresses.
  // Throws ESocketError while active or for an address that is not valid.
  const std::vector<AnsiString>& Addresses() const { return FAddresses; }
  void SetAddresses(const std::vector<AnsiString>& Value);

  TServerType ServerType() const { return FServerType; }
  void SetServerType(TServerType Value) { FServerType = Value; }

  // The connections accepted and not yet ended, in accepting order.
  int ActiveConnections() const;
  TCustomWinSocket* Connections(int Index) const;

  TSocketNotifyEvent OnClientConnect;     // a connection was accepted
  TSocketNotifyEvent OnClientRead;        // data is waiting on a connection
  TSocketNotifyEvent OnClientWrite;       // a connection's waiting output has all gone out
  TSocketNotifyEvent OnClientDisconnect;  // a connection ended
  TSocketNotifyEvent OnClientInputEnd;    // a connection's peer has ended its sending
  TSocketErrorEvent OnClientError;        // an error on a connection

  struct Impl;

 private:
  std::unique_ptr<Impl> FImpl;
  int FPort = 0;
  std::vector<AnsiString> FAddresses;
  TBoundSockets FAdopted;
  TServerType FServerType = stNonBlocking;
};

// One outgoing connection to Host (a name, resolved without blocking the event loop) or, when Host
// is empty, to Address (an IPv4 or IPv6 address in text form), on Port. A name may resolve to
// IPv4 and IPv6 addresses; they are tried in turn.
class TClientSocket : public TComponent {
 public:
  explicit TClientSocket(TComponent* AOwner);
  ~TClientSocket() override;  // ends the connection without events
  std::string ClassName() const override { return "TClientSocket"; }

  // Starts resolving and connecting and returns at once; OnConnect or OnError (eeLookup,
  // eeConnect) follows. Nothing when already active.
  void Open();
  // Ends the connection (its disconnect event inside the call when it was connected) or abandons
  // the connect in progress (no event).
  void Close();
  // True from Open until the connection has ended or the connect has failed.
  bool Active() const;
  void SetActive(bool Value);

  // The properties cannot change while active: the setters throw ESocketError then.
  AnsiString Host() const { return FHost; }
  void SetHost(const AnsiString& Value);
  AnsiString Address() const { return FAddress; }
  void SetAddress(const AnsiString& Value);
  int Port() const { return FPort; }
  void SetPort(int Value);

  TClientType ClientType() const { return FClientType; }
  void SetClientType(TClientType Value) { FClientType = Value; }

  // The connection object, the same for the component's whole life.
  TCustomWinSocket* Socket() const;

  TSocketNotifyEvent OnConnect;
  TSocketNotifyEvent OnRead;
  TSocketNotifyEvent OnWrite;  // the waiting output has all gone out
  TSocketNotifyEvent OnDisconnect;
  TSocketNotifyEvent OnInputEnd;  // the peer has ended its sending
  TSocketErrorEvent OnError;

  struct Impl;

 private:
  std::unique_ptr<Impl> FImpl;
  AnsiString FHost;
  AnsiString FAddress;
  int FPort = 0;
  TClientType FClientType = ctNonBlocking;
};

}  // namespace ovelta
