// Internals shared by the socket files: the socket service (the event gate that runs socket events
// one at a time, the list of closed connections still delivering their output, the freeing of
// ended connection objects), the output of a connection (a kernel pipe followed by a byte queue),
// the owner interface through which a connection raises its component's events, and the state of
// a connection object.
#pragma once

#include <sys/socket.h>

#include <QObject>
#include <QPointer>
#include <QSocketNotifier>
#include <QTimer>
#include <cstddef>
#include <deque>
#include <functional>
#include <list>
#include <memory>
#include <string>
#include <vector>

#include "platform/net/Sockets.h"

namespace ovelta::sockets {

// How long a closed connection may go without any progress while its output is still being
// delivered (or its peer's end awaited) before it is cut.
inline constexpr int kLingerIdleMs = 30000;
// However it progresses, a closed connection is cut after this long.
inline constexpr int kLingerMaxMs = 300000;
// At most this many closed connections linger at once; beyond, the oldest brief one is cut, or
// the oldest one when none is brief.
inline constexpr std::size_t kMaxLingering = 128;
// A connection with one direction ended (a half-close) ends after this long without any byte
// moving in or out of it while it is read or its output waits.
inline constexpr int kHalfCloseIdleMs = kLingerIdleMs;
// CatchUp raises at most this many read events before the end it reports.
inline constexpr int kCatchUpRounds = 256;
// A connection closed with CloseBriefly (a refused newcomer's one line) lingers at most this long.
inline constexpr int kBriefLingerMs = 5000;
// The reverse look-up of a peer's name gives up after this long (the name is then empty).
inline constexpr int kReverseLookupMs = 3000;
// The capacity asked for the pipe through which ForwardTo moves bytes.
inline constexpr int kPipeBytes = 1 << 20;
// The send buffer of a connection that ForwardTo feeds when its peer is on this machine. Left
// to the kernel, the buffer grows to megabytes and the receiving program copies bytes long gone
// from the processor's caches; a small one keeps the pipe's bytes moving in steps that are still
// warm when read, which more than doubles the relay's rate to a local mail program. On loopback
// the kernel doubles the value, and it must stay well above one loopback segment (64 KiB), else
// each send waits for a delayed acknowledgement. A distant peer keeps the kernel's buffer, whose
// size its round trip needs.
inline constexpr int kLocalSendBytes = 128 * 1024;
// Receives copy through user memory in pieces of this size.
inline constexpr std::size_t kReceivePiece = 256 * 1024;
// A listener that cannot accept (descriptors exhausted) rests this long before trying again.
inline constexpr int kAcceptRetryMs = 200;

// An owned file descriptor.
class UniqueFd {
 public:
  UniqueFd() = default;
  explicit UniqueFd(int Fd) : FFd(Fd) {}
  ~UniqueFd() { Reset(); }
  UniqueFd(UniqueFd&& Other) noexcept : FFd(Other.Release()) {}
  UniqueFd& operator=(UniqueFd&& Other) noexcept {
    if (this != &Other) Reset(Other.Release());
    return *this;
  }
  int Get() const { return FFd; }
  explicit operator bool() const { return FFd >= 0; }
  int Release() {
    int fd = FFd;
    FFd = -1;
    return fd;
  }
  void Reset(int Fd = -1);

 private:
  int FFd = -1;
};

// The output of a connection: bytes handed over and not yet taken by the kernel, in order. Bytes
// moved by ForwardTo wait in the pipe, bytes handed over by SendText in the queue; the pipe's bytes
// always go first, so ForwardTo uses the pipe only while the queue is empty.
struct Outbox {
  UniqueFd PipeRead;
  UniqueFd PipeWrite;
  std::size_t PipeBytes = 0;
  std::string Queue;
  std::size_t Head = 0;  // bytes of Queue already sent

  std::size_t Pending() const { return PipeBytes + (Queue.size() - Head); }
  bool QueueEmpty() const { return Head == Queue.size(); }
  void Append(const char* Data, std::size_t Count);
  // Creates the pipe on first use; false when the platform cannot splice.
  bool EnsurePipe();
  // Hands the kernel what it takes now. Returns 0, or the errno of a failed send.
  int Flush(int Fd, std::size_t* Written = nullptr);
};

// Everything that socket events run through. One per application object.
class SocketService : public QObject {
 public:
  static SocketService& Instance();

  // Runs Task now when no socket event is being handled, else once the event in progress (and
  // every task queued before) has finished. Exceptions that escape Task go to the exception hook.
  void Run(std::function<void()> Task);
  // Runs Task from the event loop, after the current event.
  void Post(std::function<void()> Task);
  bool Busy() const { return FDepth > 0; }
  void Deliver(const std::exception& E);

  // An accepted connection object whose disconnect event has been raised; freed once no socket
  // event is in progress.
  void Bury(std::unique_ptr<TCustomWinSocket> Socket);

  // Takes a closed connection's descriptor and output: the output is delivered, our side shut,
  // and the peer's end awaited (reading and dropping what it still sends), each within bounds.
  // Brief: bounded by kBriefLingerMs instead of kLingerMaxMs, and the first cut when too many
  // linger.
  void Linger(UniqueFd Fd, Outbox Output, bool PeerEnded, bool Brief = false);
  // Closed connections still delivering their output or awaiting their peer's end.
  std::size_t LingeringCount() const { return FLingeringLive; }

  ~SocketService() override;

 private:
  SocketService();
  struct Lingering;
  void RunNow(const std::function<void()>& Task);
  void ScheduleDrain();
  void Sweep();
  void EndLingering(Lingering* L);

  int FDepth = 0;
  bool FDrainPosted = false;
  std::deque<std::function<void()>> FDeferred;
  std::vector<std::unique_ptr<TCustomWinSocket>> FGraveyard;
  std::list<std::unique_ptr<Lingering>> FLingering;
  std::size_t FLingeringLive = 0;
};

// Raises the events of the component that owns a connection.
class SocketOwner {
 public:
  virtual ~SocketOwner() = default;
  virtual TObject* Sender() = 0;
  virtual void RaiseRead(TCustomWinSocket* Socket) = 0;
  virtual void RaiseWrite(TCustomWinSocket* Socket) = 0;
  virtual void RaiseDisconnect(TCustomWinSocket* Socket) = 0;
  // False when the component has no input-end event: the connection then ends at the peer's end.
  virtual bool RaiseInputEnd(TCustomWinSocket* Socket) = 0;
  virtual void RaiseError(TCustomWinSocket* Socket, TErrorEvent Kind, int& Code) = 0;
  // The connection has ended (its disconnect event, if any, has returned).
  virtual void Ended(TCustomWinSocket* Socket) = 0;
  // Close was called before the connect event: the connection is given up without any event.
  virtual void Abandon(TCustomWinSocket* Socket) = 0;
};

// Forwarding copies through user memory instead of splicing while Refused (as on a kernel without
// splice); for tests of the copy path.
void SetSpliceRefused(bool Refused);
// Sets the idle bound of half-closed connections started from now on (kHalfCloseIdleMs); for
// tests.
void SetHalfCloseIdleMs(int Ms);

// The text of an ESocketError.
AnsiString ErrorText(int Code, const char* Api);
// The address of a socket address in text form; an IPv4-mapped IPv6 address as plain IPv4.
AnsiString AddressText(const sockaddr* Address);
int AddressPort(const sockaddr* Address);

}  // namespace ovelta::sockets

namespace ovelta {

struct TCustomWinSocket::Impl {
  enum class State {
    Idle,        // no connection
    Resolving,   // client: the host name is being looked up
    Connecting,  // client: connect in progress
    Announcing,  // connected; the peer's name is being looked up before the connect event
    Connected,   // between the connect and the disconnect events
    Failed,      // connected, then failed: the disconnect event is on its way
    Ending,      // the disconnect event is being raised
  };

  TCustomWinSocket* Self = nullptr;
  sockets::SocketOwner* Owner = nullptr;
  State FState = State::Idle;
  // Changes whenever the connection is dropped or ended, so that look-ups, timers and deferred
  // notifications meant for an earlier connection find out and do nothing.
  unsigned Epoch = 0;
  sockets::UniqueFd Fd;
  std::unique_ptr<QObject> Context;  // receiver of this connection's notifications
  QSocketNotifier* ReadNotifier = nullptr;
  QSocketNotifier* WriteNotifier = nullptr;
  bool ReadArmed = true;  // a read event may be raised (a receive call came since the last)
  bool Paused = false;
  bool Deferred = false;         // a notification came while another event was handled
  bool DrainWanted = false;      // raise the write event when the output has drained
  bool Announced = false;        // the peer's name is known (accepted connections)
  bool SendBufferSized = false;  // ForwardTo has sized the send buffer for relaying
  bool BriefLinger = false;      // closed by CloseBriefly: its output gets a short bound
  bool InputEnded = false;       // the peer's end of sending has been reported
  bool ShutWanted = false;       // ShutdownOutput: our end follows the output
  bool OutputShut = false;       // our end has been sent
  QTimer* HalfIdle = nullptr;    // bounds a half-closed connection without progress
  sockets::Outbox Out;
  AnsiString PeerName;
  AnsiString PeerAddress;
  int PeerPort = 0;
  int LocalPortNo = 0;
  std::function<void()> ConnectReady;  // client: the connect in progress has finished
  std::shared_ptr<int> Life = std::make_shared<int>(0);

  explicit Impl(sockets::SocketOwner* AOwner);
  ~Impl();

  bool Live() const { return FState == State::Connected || FState == State::Failed; }

  // Takes a descriptor and makes its notifiers (disabled).
  void SetFd(sockets::UniqueFd AFd);
  // Reads the addresses of the connected descriptor.
  void ReadAddresses();
  // Looks the peer's name up (bounded in time), then runs Done through the event gate, unless
  // the connection has been dropped meanwhile.
  void Announce(std::function<void()> Done);
  // Connected: read events may come.
  void Start();
  void UpdateNotifiers();
  void Notified(bool Readable);
  void OnReadable();
  void OnWritable();
  // The peer's end of sending: the input-end event, or the end of the connection.
  void InputEnd();
  // Sends our end once the output has gone (after ShutdownOutput); ends the connection when the
  // input has ended too.
  void ShutIfDrained();
  // A half-closed connection's idle bound starts (first call) or starts over (bytes moved).
  void StartHalfIdle();
  void Progressed() {
    if (HalfIdle && HalfIdle->isActive()) HalfIdle->start();
  }
  // An end or failure has arrived that no event has reported yet: reported now (CatchUp).
  void CatchUp();
  // The connection ends: the descriptor and the output go to the lingering list, the disconnect
  // event is raised (when Raise), the owner told.
  void End(bool Raise, bool PeerEnded);
  // Drops the descriptor and the output without any event (abandoned connect, destruction).
  void Drop();
  void RetireNotifiers();
  // An error on a live connection: the error event, the end of the connection posted, then the
  // ESocketError thrown when the handler left the code non-zero (to the caller of a call, or to
  // the event gate, which hands it to the exception hook).
  void Fail(TErrorEvent Kind, int Code, const char* Api);
  // After output was handed over: send what the kernel takes now; arm the write notification
  // while some waits.
  void FlushAfterCall();
  // Before the first bytes are forwarded to this connection: a peer on this machine gets the
  // send buffer kLocalSendBytes.
  void SizeSendBuffer();
  void PostDrained();
};

}  // namespace ovelta
