// Both sides of a proxied POP3 session, as members of TMainForm: the mail program's side (the
// listener's events, the login commands the proxy answers itself, replies), the upstream side
// (connecting, the greeting's timestamp, the APOP login, the server's answers) and the relaying
// of both connections once the login has succeeded.
//
// The session never loses a byte while relaying (what a connection cannot take waits, and while
// kRelayBacklog (1 MiB) waits for one side the other side is not read); keeps its memory bounded
// in the login phase (lines of at most kMaxLineBytes, read in pieces of kLoginPiece, and neither
// side read while kReplyBacklog of replies waits for a mail program that does not read them);
// refuses login commands holding control bytes; answers pipelined commands in order (lines after
// PASS wait for its answer and are relayed unchanged after a successful login); bounds the login
// (kLoginTimeoutMs) and each step of the server's side (kServerTimeoutMs); answers PASS with
// "-ERR server connection failed" when the upstream connection cannot be made; abandons the
// upstream connect when the mail program's connection ends first; closes a refused second mail
// program after telling it why; and refuses greeting timestamps that are not message-ids (an APOP
// digest of a crafted challenge helps recover the password).
//
// The end of either side's sending is a half-close, never the end of the session: in the login
// phase the mail program is answered everything it sent before its end (a PASS waiting for the
// server included, and what its pipelined commands bring once the login succeeds) and then closed;
// while relaying the end is passed to the other side after every byte before it, and the other
// direction goes on until it ends too. Bytes that follow the server's successful answer in the
// same receipt reach the mail program after the answer. A newcomer is judged only after any end
// of the session's connections that has already arrived has been handled; one that comes while
// the session's mail program has ended its sending waits for that session to finish.
#include <cstdio>
#include <utility>

#include "app/Mainf.h"
#include "digest/Ovmd5.h"
#include "platform/ui/Application.h"
#include "platform/core/Text.h"

namespace ovelta {

namespace {

// While this many bytes wait to be sent to one side, the other side is not read. They wait in a
// kernel pipe, not in the proxy's memory; steps of this size keep the relay's system calls and
// wake-ups few (in bench_relay, steps of 256 KiB moved 3377 to 4287 MiB/s, steps of 1 MiB 4322 to
// 5378 MiB/s; doc/performance.md).
constexpr std::size_t kRelayBacklog = 1024 * 1024;
// A login-phase line longer than this, finished or not, ends the connection.
constexpr std::size_t kMaxLineBytes = 8 * 1024;
// While this many bytes of replies wait for a mail program that does not read them, its further
// commands wait, and neither it nor the server is read.
constexpr std::size_t kReplyBacklog = 64 * 1024;
// In the login phase a connection is read in pieces of at most this many bytes, so that what
// waits unread stays in the kernel, not in the proxy.
constexpr int kLoginPiece = 16 * 1024;
// While this many bytes of commands wait for the answer to PASS, the mail program is not read.
constexpr std::size_t kPipelineBacklog = 64 * 1024;

// Log lines (UTF-8 here, Shift-JIS in the log).
constexpr const char* kConnectRequest = "* 接続要求 ";
constexpr const char* kLoginStarts = "*   接続 - 認証開始";
constexpr const char* kRefused = "*   他ユーザー接続中につき拒否";
constexpr const char* kDisconnected = "* 接続切断 ";
constexpr const char* kConnectionError = "* 接続エラー ";
constexpr const char* kConnecting = "* 接続開始 ";
constexpr const char* kConnected = "* 接続完了 ";
constexpr const char* kApopLogin = "* APOP認証中 ";
constexpr const char* kApopDetail = "*   ";
constexpr const char* kApopSucceeded = "*   APOP認証 - 認証成功";
constexpr const char* kApopFailed = "*   APOP認証 - 認証失敗";
constexpr const char* kLineTooLong = "* 行が長すぎます ";
constexpr const char* kTimedOut = "* 時間切れ ";
constexpr const char* kClientPrefix = "< ";
constexpr const char* kServerPrefix = "> ";

// Replies to the mail program, each a line ended by LF.
constexpr const char* kGreeting = "+OK POP3 to APOP transfer ready\n";
constexpr const char* kInUse = "-ERR already connection in use\n";
constexpr const char* kUserOk = "+OK kvale is a real hoopy frood\n";
constexpr const char* kNoHost = "-ERR hostname without existing\n";
constexpr const char* kNotReady = "-ERR socket not ready\n";
constexpr const char* kSigningOff = "+OK tovik POP3 server signing off\n";
constexpr const char* kDenied = "-ERR permission denied\n";
constexpr const char* kUnknown = "-ERR unknown command\n";
constexpr const char* kFewParameters = "-ERR there are few parameters\n";
constexpr const char* kNoTimeStamp = "-ERR timestamp without existing\n";
constexpr const char* kServerFailed = "-ERR server connection failed\n";
constexpr const char* kTooLong = "-ERR line too long\n";
constexpr const char* kBadCharacter = "-ERR invalid character in command\n";
constexpr const char* kTimeout = "-ERR timeout\n";
constexpr const char* kQuit = "QUIT\n";

bool IsSocketError(const std::exception& E) {
  const auto* known = dynamic_cast<const Exception*>(&E);
  return known && known->ClassName() == "ESocketError";
}

// Socket failures of a reply are dropped silently; any other failure is shown.
void DropSocketErrors(const std::exception& E) {
  if (!IsSocketError(E)) Application().ShowException(E);
}

// Takes every complete line out of Buffer (cut at LF, one CR before the LF dropped) and hands
// each to Take, in order, until Take says to stop; what is not taken stays in Buffer. A CR LF
// split over two receipts still ends one line. Linear in the buffer's length.
template <class F> void TakeLines(AnsiString& Buffer, F&& Take) {
  AnsiString pending;
  pending.swap(Buffer);
  std::size_t start = 0;
  std::size_t end;
  while ((end = pending.find('\n', start)) != AnsiString::npos) {
    AnsiString line = pending.substr(start, end - start);
    start = end + 1;
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (!Take(line)) break;
  }
  // Take may have put text into Buffer meanwhile (a new session): the untaken rest goes first.
  Buffer.insert(0, pending, start, AnsiString::npos);
}

// The length of what follows the last LF of Buffer (a line not finished yet).
std::size_t UnfinishedLength(const AnsiString& Buffer) {
  const std::size_t last = Buffer.rfind('\n');
  return last == AnsiString::npos ? Buffer.size() : Buffer.size() - last - 1;
}

// True when Line holds a control byte (below 0x20, or 0x7F): such a line is never taken as a
// command, so nothing of it can travel upstream. Bytes from 0x80 (Shift-JIS, UTF-8) are text.
bool HasControlBytes(const AnsiString& Line) {
  for (char c : Line) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (b < 0x20 || b == 0x7F) return true;
  }
  return false;
}

// The index of the last "@" of Text that is not the second byte of a double-byte character.
std::size_t LastAt(const AnsiString& Text) {
  std::size_t found = AnsiString::npos;
  for (std::size_t i = 0; i < Text.size(); ++i) {
    if (IsDBCSLeadByte(static_cast<Byte>(Text[i])) && i + 1 < Text.size()) {
      ++i;
      continue;
    }
    if (Text[i] == '@') found = i;
  }
  return found;
}

// A greeting timestamp that may be digested: "<" message-id ">", printable ASCII without blanks,
// no further angle brackets, and an "@". Anything else could be a challenge crafted to recover
// the password from the digest.
bool SafeTimeStamp(const AnsiString& Stamp) {
  if (Stamp.size() < 3 || Stamp.front() != '<' || Stamp.back() != '>') return false;
  bool at = false;
  for (std::size_t i = 1; i + 1 < Stamp.size(); ++i) {
    const unsigned char c = static_cast<unsigned char>(Stamp[i]);
    if (c <= 0x20 || c >= 0x7F || c == '<' || c == '>') return false;
    at = at || c == '@';
  }
  return at;
}

AnsiString Md5Hex(const AnsiString& Input) {
  Md5Context context;
  Byte digest[16];
  Md5Init(&context);
  Md5Update(&context, reinterpret_cast<const Byte*>(Input.data()),
            static_cast<DWord>(Input.size()));
  Md5Final(digest, &context);
  AnsiString hex;
  char pair[3];
  for (Byte b : digest) {
    std::snprintf(pair, sizeof pair, "%02x", b);
    hex += pair;
  }
  return hex;
}

}  // namespace

// ---- the mail program's side ----

void TMainForm::APOPServerSocketClientConnect(TObject*, TCustomWinSocket* Socket) {
  // A mail program that closed and reconnected at once: its end has arrived before the newcomer,
  // and is handled before it.
  CatchUpSession();
  WriteLog(Sjis(kConnectRequest) + PeerText(Socket));
  if (SessionState == TSessionState::ssListening) {
    StartSession(Socket);
    return;
  }
  if (ClientInputEnded && !WaitingClient && ClientConnection) {
    // The session is winding down (its mail program sends no more): the newcomer waits for it.
    WaitingClient = Socket;
    Socket->PauseReading(true);
    return;
  }
  WriteLog(Sjis(kRefused));
  SendLines(Socket, kInUse, kClientPrefix);
  // Left open and never read, refused connections would let anyone use up our descriptors. The
  // refusal is still delivered, briefly; the end is logged by the disconnect handler and changes
  // nothing.
  try {
    Socket->CloseBriefly();
  } catch (const std::exception& E) {
    DropSocketErrors(E);
  }
}

void TMainForm::StartSession(TCustomWinSocket* Socket) {
  SessionState = TSessionState::ssLogin;
  LoginStage = TLoginStage::lsUserPass;
  ClientConnection = Socket;
  WriteLog(Sjis(kLoginStarts));
  SendToClient(kGreeting);
  HostName.clear();
  UserName.clear();
  Password.clear();
  TimeStamp.clear();
  ClientBuffer.clear();
  PassPending = false;
  ClientInputEnded = false;
  StartTimer(LoginTimer, LoginTimeoutMs);
}

void TMainForm::CatchUpSession() {
  if (!ClientConnection) return;
  try {
    // The mail program first: while relaying, its end may carry the server's end with it.
    ClientConnection->CatchUp();
    if (SessionState == TSessionState::ssRelaying) APOPUpstreamSocket->Socket()->CatchUp();
  } catch (const std::exception& E) {
    DropSocketErrors(E);
  }
}

void TMainForm::APOPServerSocketClientInputEnd(TObject*, TCustomWinSocket* Socket) {
  if (!ClientConnection || ClientConnection != Socket) {
    try {
      Socket->Close();
    } catch (const std::exception& E) {
      DropSocketErrors(E);
    }
    return;
  }
  ClientInputEnded = true;
  if (SessionState == TSessionState::ssRelaying) {
    // The server sees the end after every byte before it, and its answers still come back.
    APOPUpstreamSocket->Socket()->ShutdownOutput();
    return;
  }
  ClientLines();  // answers what came before the end, then closes once nothing waits
}

void TMainForm::APOPServerSocketClientRead(TObject*, TCustomWinSocket* Socket) {
  if (!ClientConnection || ClientConnection != Socket) return;
  if (SessionState == TSessionState::ssRelaying) {
    Relay(Socket, APOPUpstreamSocket->Socket());
    return;
  }
  const AnsiString text = ReceiveLoginText(Socket);
  if (SessionState != TSessionState::ssLogin || ClientConnection != Socket) return;
  ClientBuffer += text;
  ClientLines();
}

AnsiString TMainForm::ReceiveLoginText(TCustomWinSocket* Socket) {
  AnsiString text(static_cast<std::size_t>(kLoginPiece), '\0');
  try {
    text.resize(static_cast<std::size_t>(Socket->ReceiveBuf(text.data(), kLoginPiece)));
    return text;
  } catch (const std::exception& E) {
    Application().ShowException(E);
  }
  try {
    if (Socket == ClientConnection)
      Socket->Close();  // the disconnect handler ends the session
    else
      APOPUpstreamSocket->Close();
  } catch (const std::exception& E) {
    DropSocketErrors(E);
  }
  return AnsiString();
}

void TMainForm::ClientLines() {
  TCustomWinSocket* socket = ClientConnection;
  if (!socket || SessionState != TSessionState::ssLogin || TakingClientLines) return;
  // Lines after PASS wait for its answer; lines after a lagging reader's replies wait for it.
  auto mayTake = [&] {
    return ClientConnection == socket && SessionState == TSessionState::ssLogin && !PassPending &&
           socket->SendPending() < kReplyBacklog;
  };
  TakingClientLines = true;
  bool tooLong = false;
  if (mayTake()) {
    TakeLines(ClientBuffer, [&](const AnsiString& Line) {
      if (Line.size() > kMaxLineBytes) {
        tooLong = true;
        return false;
      }
      ClientCommand(Line);
      return mayTake();
    });
  }
  TakingClientLines = false;
  if (ClientConnection != socket || SessionState != TSessionState::ssLogin) return;
  if (tooLong || UnfinishedLength(ClientBuffer) > kMaxLineBytes) {
    LineTooLong(socket);
    return;
  }
  const bool lagging = socket->SendPending() >= kReplyBacklog;
  if (lagging) WatchDrains();  // RelayDrained takes the rest once the replies have gone
  if (ClientInputEnded && !lagging && !PassPending) {
    // Every command before the mail program's end has been answered (an unfinished line is no
    // command): its answers still go out, then it is closed.
    try {
      socket->Close();  // the disconnect handler ends the session
    } catch (const std::exception& E) {
      DropSocketErrors(E);
    }
    return;
  }
  socket->PauseReading(lagging || (PassPending && ClientBuffer.size() >= kPipelineBacklog));
}

void TMainForm::ClientCommand(const AnsiString& Line) {
  WriteLog(kClientPrefix + Line);
  if (HasControlBytes(Line)) {
    SendToClient(kBadCharacter);
    return;
  }
  AnsiString verb = Line;
  AnsiString argument;
  const std::size_t blank = Line.find(' ');
  if (blank != AnsiString::npos && blank >= 1 && blank + 1 < Line.size()) {
    verb = Line.substr(0, blank);
    argument = Line.substr(blank + 1);
  }
  for (char& c : verb)
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');

  if (LoginStage == TLoginStage::lsUserPass || LoginStage == TLoginStage::lsQuitSent) {
    if (verb == "USER") {
      const std::size_t at = LastAt(argument);
      if (at != AnsiString::npos && at >= 1 && at + 1 < argument.size()) {
        UserName = argument.substr(0, at);
        HostName = argument.substr(at + 1);
        SendToClient(kUserOk);
      } else {
        SendToClient(kNoHost);
      }
    } else if (verb == "PASS") {
      Password = argument;
      if (LoginStage == TLoginStage::lsUserPass)
        ConnectServer();
      else
        SendToClient(kNotReady);
    } else if (verb == "QUIT") {
      SendToClient(kSigningOff);
    } else if (verb == "APOP") {
      SendToClient(kDenied);
    } else {
      SendToClient(kUnknown);
    }
    return;
  }
  SendToClient(verb == "QUIT" ? kSigningOff : kUnknown);
}

void TMainForm::SendToClient(const AnsiString& Text) {
  if (!ClientConnection) return;
  SendLines(ClientConnection, Text, kClientPrefix);
}

void TMainForm::SendLines(TCustomWinSocket* Connection, const AnsiString& Text,
                          const char* Prefix) {
  AnsiString output;
  std::size_t start = 0;
  while (start < Text.size()) {
    const std::size_t end = Text.find('\n', start);
    if (end == AnsiString::npos) {
      const AnsiString piece = Text.substr(start);
      WriteLog(Prefix + piece);
      output += piece;
      break;
    }
    const AnsiString piece = Text.substr(start, end - start);
    WriteLog(Prefix + piece);
    output += piece;
    output += "\r\n";
    start = end + 1;
  }
  try {
    Connection->SendText(output);
  } catch (const std::exception& E) {
    DropSocketErrors(E);
  }
}

void TMainForm::APOPServerSocketClientDisconnect(TObject*, TCustomWinSocket* Socket) {
  WriteLog(Sjis(kDisconnected) + PeerText(Socket));
  if (Socket == WaitingClient) WaitingClient = nullptr;
  if (!ClientConnection || ClientConnection != Socket) return;
  ClientClosing = true;
  LoginTimer->SetEnabled(false);
  ServerTimer->SetEnabled(false);
  // Connected or still connecting: a connect left running would keep the one client socket busy
  // and the next session's PASS unanswered.
  if (!ServerClosing && APOPUpstreamSocket->Active()) {
    try {
      APOPUpstreamSocket->Close();
    } catch (const std::exception& E) {
      DropSocketErrors(E);
    }
  }
  SessionState = TSessionState::ssListening;
  LoginStage = TLoginStage::lsNone;
  ClientConnection = nullptr;
  ClientBuffer.clear();
  ClientClosing = false;
  PassPending = false;
  ClientInputEnded = false;
  // The newcomer that waited for this session is served now.
  if (TCustomWinSocket* next = std::exchange(WaitingClient, nullptr)) {
    next->PauseReading(false);
    StartSession(next);
  }
}

void TMainForm::APOPServerSocketClientError(TObject*, TCustomWinSocket* Socket, TErrorEvent, int&) {
  // The code stays: the socket service raises ESocketError, which AppException drops.
  WriteLog(Sjis(kConnectionError) + PeerText(Socket));
}

void TMainForm::LineTooLong(TCustomWinSocket* Connection) {
  WriteLog(Sjis(kLineTooLong) + PeerText(Connection));
  try {
    if (Connection == ClientConnection) {
      ClientBuffer.clear();
      SendToClient(kTooLong);
      Connection->Close();  // the disconnect handler ends the session
    } else {
      ServerBuffer.clear();
      // Only a PASS waiting for its answer is answered; otherwise the mail program asked nothing.
      const bool answer = PassPending;
      PassPending = false;
      if (answer) SendToClient(kTooLong);
      ServerTimer->SetEnabled(false);
      APOPUpstreamSocket->Close();  // the login starts over
      LoginStage = TLoginStage::lsUserPass;
      if (answer) PassAnswered();
    }
  } catch (const std::exception& E) {
    DropSocketErrors(E);
  }
}

void TMainForm::LoginTimedOut(TObject*) {
  LoginTimer->SetEnabled(false);
  if (SessionState != TSessionState::ssLogin || !ClientConnection) return;
  TCustomWinSocket* socket = ClientConnection;
  WriteLog(Sjis(kTimedOut) + PeerText(socket));
  SendToClient(kTimeout);
  try {
    socket->Close();  // the disconnect handler ends the session and the upstream connection
  } catch (const std::exception& E) {
    DropSocketErrors(E);
  }
}

// ---- the server's side ----

void TMainForm::ConnectServer() {
  LoginStage = TLoginStage::lsConnecting;
  if (UserName.empty() || HostName.empty() || Password.empty()) {
    SendToClient(kFewParameters);
    return;
  }
  PassPending = true;
  try {
    const char last = HostName.back();
    if (last >= '0' && last <= '9') {
      APOPUpstreamSocket->SetHost("");
      APOPUpstreamSocket->SetAddress(HostName);
    } else {
      APOPUpstreamSocket->SetHost(HostName);
      APOPUpstreamSocket->SetAddress("");
    }
    WriteLog(Sjis(kConnecting) + HostName);
    StartTimer(ServerTimer, ServerTimeoutMs);
    APOPUpstreamSocket->Open();
  } catch (const std::exception& E) {
    DropSocketErrors(E);
    ConnectFailed();
  }
}

void TMainForm::ConnectFailed() {
  ServerTimer->SetEnabled(false);
  LoginStage = TLoginStage::lsUserPass;
  SendToClient(kServerFailed);
  PassAnswered();
}

void TMainForm::PassAnswered() {
  PassPending = false;
  // The lines that waited for the answer are taken from the event loop, once the handler that
  // answered (perhaps a disconnect handler of the upstream socket) has finished.
  if (SessionState == TSessionState::ssLogin) ResumeTimer->SetEnabled(true);
}

void TMainForm::ResumeClientLines(TObject*) {
  ResumeTimer->SetEnabled(false);
  ClientLines();
}

void TMainForm::ServerTimedOut(TObject*) {
  ServerTimer->SetEnabled(false);
  if (SessionState != TSessionState::ssLogin || !APOPUpstreamSocket->Active()) return;
  WriteLog(Sjis(kTimedOut) + HostName);
  const bool answer = PassPending;
  PassPending = false;  // the close below must not answer it
  try {
    APOPUpstreamSocket->Close();  // a connect in progress is abandoned without any event
  } catch (const std::exception& E) {
    DropSocketErrors(E);
  }
  if (answer)
    ConnectFailed();
  else
    LoginStage = TLoginStage::lsUserPass;
}

void TMainForm::StartTimer(TTimer* Timer, int Milliseconds) {
  Timer->SetEnabled(false);
  Timer->SetInterval(Milliseconds);
  Timer->SetEnabled(true);
}

void TMainForm::APOPUpstreamSocketConnect(TObject*, TCustomWinSocket* Socket) {
  LoginStage = TLoginStage::lsGreeting;
  WriteLog(Sjis(kConnected) + PeerText(Socket));
  ServerBuffer.clear();
  StartTimer(ServerTimer, ServerTimeoutMs);  // now for the greeting
}

void TMainForm::APOPUpstreamSocketRead(TObject*, TCustomWinSocket* Socket) {
  // Before a session nothing is read.
  if (SessionState != TSessionState::ssLogin && SessionState != TSessionState::ssRelaying) return;
  if (SessionState == TSessionState::ssRelaying) {
    if (ClientConnection) Relay(Socket, ClientConnection);
    return;
  }
  const AnsiString text = ReceiveLoginText(Socket);
  if (SessionState != TSessionState::ssLogin) return;
  ServerBuffer += text;
  ServerLines();
}

void TMainForm::ServerLines() {
  TCustomWinSocket* upstream = APOPUpstreamSocket->Socket();
  auto lagging = [this] {
    return ClientConnection && ClientConnection->SendPending() >= kReplyBacklog;
  };
  bool tooLong = false;
  if (upstream->Connected() && !lagging()) {
    TakeLines(ServerBuffer, [&](const AnsiString& Line) {
      if (Line.size() > kMaxLineBytes) {
        tooLong = true;
        return false;
      }
      ServerLine(Line);
      return SessionState == TSessionState::ssLogin && upstream->Connected() && !lagging();
    });
  }
  if (SessionState == TSessionState::ssRelaying) {
    // What followed the successful answer in the same receipt is relayed: after the answer,
    // unchanged and unlogged.
    AnsiString rest;
    rest.swap(ServerBuffer);
    if (!rest.empty() && ClientConnection) {
      try {
        ClientConnection->SendText(rest);
      } catch (const std::exception& E) {
        DropSocketErrors(E);
      }
    }
    return;
  }
  if (SessionState != TSessionState::ssLogin || !upstream->Connected()) return;
  if (tooLong || UnfinishedLength(ServerBuffer) > kMaxLineBytes) {
    LineTooLong(upstream);
    return;
  }
  // Replies the mail program does not read hold the server back too.
  if (lagging()) WatchDrains();
  upstream->PauseReading(lagging());
}

void TMainForm::ServerLine(const AnsiString& Line) {
  WriteLog(kServerPrefix + Line);
  if (Line.empty()) return;
  const char first = Line[0];
  switch (LoginStage) {
    case TLoginStage::lsGreeting:
      if (first == '+') {
        const std::size_t open = Line.find('<');
        const std::size_t close = Line.rfind('>');
        if (open != AnsiString::npos && close != AnsiString::npos && open < close &&
            SafeTimeStamp(Line.substr(open, close - open + 1))) {
          TimeStamp = Line.substr(open, close - open + 1);
          SendApop();
        } else {
          SendToClient(kNoTimeStamp);
          PassAnswered();
        }
      } else if (first == '-') {
        SendToClient(kServerFailed);
        PassAnswered();
      }
      break;
    case TLoginStage::lsApopSent:
      if (first == '+') {
        SessionState = TSessionState::ssRelaying;
        LoginStage = TLoginStage::lsNone;
        LoginTimer->SetEnabled(false);  // relaying has no time limit
        ServerTimer->SetEnabled(false);
        WriteLog(Sjis(kApopSucceeded));
      } else if (first == '-') {
        LoginStage = TLoginStage::lsQuitSent;
        SendToServer(kQuit);
        StartTimer(ServerTimer, ServerTimeoutMs);  // now for the answer to QUIT
        WriteLog(Sjis(kApopFailed));
      }
      PassPending = false;
      SendToClient(Line + "\n");
      if (SessionState == TSessionState::ssRelaying)
        RelayWaitingCommands();
      else
        PassAnswered();
      break;
    case TLoginStage::lsQuitSent:
      if (first == '+') APOPUpstreamSocket->Close();
      break;
    default:
      break;
  }
}

void TMainForm::RelayWaitingCommands() {
  TCustomWinSocket* upstream = APOPUpstreamSocket->Socket();
  if (!ClientBuffer.empty() && upstream->Connected()) {
    AnsiString waiting;
    waiting.swap(ClientBuffer);
    try {
      upstream->SendText(waiting);  // unchanged and unlogged, as everything relayed
    } catch (const std::exception& E) {
      DropSocketErrors(E);
    }
  }
  ClientBuffer.clear();
  // Relaying now: the mail program is read whatever waited for it before; an end it sent during
  // the login reaches the server after its commands.
  if (ClientConnection) ClientConnection->PauseReading(false);
  if (ClientInputEnded && upstream->Connected()) upstream->ShutdownOutput();
}

void TMainForm::SendApop() {
  LoginStage = TLoginStage::lsApopSent;
  StartTimer(ServerTimer, ServerTimeoutMs);  // now for the answer to APOP
  const AnsiString digest = Md5Hex(TimeStamp + Password);
  WriteLog(Sjis(kApopLogin) + HostName);
  WriteLog(kApopDetail + UserName + " " + digest);
  SendToServer("APOP " + UserName + " " + digest + "\n");
}

void TMainForm::SendToServer(const AnsiString& Text) {
  TCustomWinSocket* upstream = APOPUpstreamSocket->Socket();
  if (!upstream->Connected()) return;
  SendLines(upstream, Text, kServerPrefix);
}

void TMainForm::APOPUpstreamSocketInputEnd(TObject*, TCustomWinSocket* Socket) {
  if (SessionState == TSessionState::ssRelaying && ClientConnection) {
    // The mail program sees the end after every byte before it; what it still sends goes on
    // reaching the server.
    ClientConnection->ShutdownOutput();
    return;
  }
  // In the login phase everything the server sent before its end has been handled: its
  // connection ends (the disconnect handler answers a waiting PASS).
  try {
    Socket->Close();
  } catch (const std::exception& E) {
    DropSocketErrors(E);
  }
}

void TMainForm::APOPUpstreamSocketDisconnect(TObject*, TCustomWinSocket* Socket) {
  WriteLog(Sjis(kDisconnected) + PeerText(Socket));
  ServerClosing = true;
  ServerTimer->SetEnabled(false);
  if (SessionState == TSessionState::ssLogin) {
    LoginStage = TLoginStage::lsUserPass;
    // The server went before answering the login: the mail program is not left waiting.
    if (PassPending && !ClientClosing) ConnectFailed();
  } else if (SessionState == TSessionState::ssRelaying && !ClientClosing) {
    if (ClientConnection && ClientConnection->Connected()) {
      try {
        ClientConnection->Close();
      } catch (const std::exception& E) {
        DropSocketErrors(E);
      }
    }
  }
  ServerClosing = false;
}

void TMainForm::APOPUpstreamSocketError(TObject*, TCustomWinSocket* Socket, TErrorEvent ErrorEvent,
                                        int&) {
  // The code stays: the socket service raises ESocketError, which AppException drops.
  WriteLog(Sjis(kConnectionError) + PeerText(Socket));
  if (SessionState == TSessionState::ssLogin && LoginStage == TLoginStage::lsConnecting &&
      (ErrorEvent == eeLookup || ErrorEvent == eeConnect))
    ConnectFailed();
}

// ---- relaying ----

void TMainForm::Relay(TCustomWinSocket* From, TCustomWinSocket* To) {
  try {
    From->ForwardTo(*To, kRelayBacklog);
  } catch (const std::exception& E) {
    Application().ShowException(E);
    try {
      APOPUpstreamSocket->Close();  // its disconnect closes the mail program's side too
    } catch (const std::exception& F) {
      DropSocketErrors(F);
    }
    return;
  }
  if (To->SendPending() >= kRelayBacklog) {
    WatchDrains();
    From->PauseReading(true);
  }
}

void TMainForm::WatchDrains() {
  APOPServerSocket->OnClientWrite = [this](TObject*, TCustomWinSocket* S) { RelayDrained(S); };
  APOPUpstreamSocket->OnWrite = [this](TObject*, TCustomWinSocket* S) { RelayDrained(S); };
}

void TMainForm::RelayDrained(TCustomWinSocket* Drained) {
  if (!ClientConnection) return;
  TCustomWinSocket* upstream = APOPUpstreamSocket->Socket();
  if (SessionState == TSessionState::ssLogin && Drained == ClientConnection) {
    // The replies have gone: what waited on both sides is taken again.
    if (upstream->Connected()) {
      upstream->PauseReading(false);
      ServerLines();
    }
    ClientLines();
    return;
  }
  if (SessionState != TSessionState::ssRelaying) return;
  if (Drained == ClientConnection && upstream->Connected())
    upstream->PauseReading(false);
  else if (Drained == upstream)
    ClientConnection->PauseReading(false);
}

}  // namespace ovelta
