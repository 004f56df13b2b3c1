// The unit Mainf: TMainForm, the proxy's main window. It is never shown; it carries the listening
// socket (the mail program's side), the client socket (the server's side), the tray icon and its
// menu, and all session state. Its own part is start-up and shut-down, the tray menu, the
// application hooks and WriteLog, the one way into the log window; the two sides of a session
// live in MainfSession.cpp.
#pragma once

#include <string>

#include "platform/ui/Application.h"
#include "platform/ui/Forms.h"
#include "platform/ui/Menus.h"
#include "platform/net/Sockets.h"
#include "platform/ui/Timers.h"
#include "platform/core/Types.h"
#include "trayicon/Ovnotifyicon.h"

namespace ovelta {

class TLogForm;

// The port of the local POP3 service and of the servers the proxy logs in to.
inline constexpr int kPop3Port = 110;
// The log window keeps this many lines, the oldest dropped first.
inline constexpr int kLogLines = 64;
// A mail program that has not logged in this long after connecting is told "-ERR timeout" and
// closed, so that the one session is free for the next.
inline constexpr int kLoginTimeoutMs = 60 * 1000;
// A server that takes longer than this to accept the connection, to greet, or to answer APOP or
// QUIT is given up as a failed connection. Relaying has no time limit.
inline constexpr int kServerTimeoutMs = 30 * 1000;

// Where the proxy is with its one session. The values are explicit and fixed: a failing test
// shows them as these numbers.
enum class TSessionState : Byte {
  ssNotListening = 0,  // the listener is not open yet
  ssListening = 1,     // listening, no session
  ssLogin = 2,         // a session in its login phase: the proxy answers the mail program itself
  ssRelaying = 3,      // a session relaying: bytes pass unchanged in both directions
};

// The stage of the login dialogue; meaningful while the session state is ssLogin. The values are
// fixed, as those of TSessionState.
enum class TLoginStage : Byte {
  lsNone = 0,        // no login in progress (also while relaying)
  lsUserPass = 1,    // waiting for USER and PASS
  lsConnecting = 2,  // PASS has come: the upstream connection is being made
  lsGreeting = 3,    // connected, waiting for the server's greeting
  lsApopSent = 4,    // APOP sent, waiting for its answer
  lsQuitSent = 5,    // APOP refused, QUIT sent to the server, waiting for its answer
};

// Makes the program's icon resources ("SMALLICON", "MAINICON") loadable with LoadIconA. They are
// not registered before main() (no toolkit code runs before the program has given up its
// capability); the first TMainForm calls this. Safe to call again.
void RegisterProgramIcons();

class TMainForm : public TForm {
 public:
  // ListenPort and UpstreamPort are for tests only; the program always uses 110 for both.
  explicit TMainForm(TComponent* AOwner, int ListenPort = kPop3Port, int UpstreamPort = kPop3Port);
  ~TMainForm() override;
  std::string ClassName() const override { return "TMainForm"; }

  // Components, made by the constructor in this order; owned by the form.
  TClientSocket* APOPUpstreamSocket;
  TServerSocket* APOPServerSocket;
  TOvNotifyIcon* APOPNotifyIcon;
  TPopupMenu* APopPopupMenu;
  TMenuItem* Log1;
  TMenuItem* N1;
  TMenuItem* Exit1;
  TTimer* LoginTimer;   // the mail program's time to log in
  TTimer* ServerTimer;  // the server's time for the step of the login it is at
  TTimer* ResumeTimer;  // takes the commands that waited for the answer to PASS
  // The two time limits (kLoginTimeoutMs, kServerTimeoutMs); tests shorten them.
  int LoginTimeoutMs = kLoginTimeoutMs;
  int ServerTimeoutMs = kServerTimeoutMs;

  // Window and application events.
  void FormCreate(TObject* Sender);
  void FormDestroy(TObject* Sender);
  void ShowToggle(TObject* Sender);
  void ShowAbout(TObject* Sender);
  void APopExit(TObject* Sender);
  void AppIdle(TObject* Sender);
  void AppException(TObject* Sender, const Exception& E);
  void AppMinimize(TObject* Sender);
  void AppRestore(TObject* Sender);

  // Writes Text to the log, one line per LF (a last LF ends the last line and adds none). Does
  // nothing while there is no log window. Without a display each line also goes to standard error.
  void WriteLog(const AnsiString& Text);
  // A log line as standard error shows it (without a display): UTF-8, control bytes and the
  // backslash escaped ("\r", "\x1b", "\\"), the argument of a "< PASS" line as "****", the
  // digest of an APOP line ("> APOP user digest", either direction) and of the APOP detail line
  // ("*   user digest") as 32 "*".
  static std::string HeadlessLogLine(const AnsiString& Line);

  // The mail program's side of a session.
  void APOPServerSocketClientConnect(TObject* Sender, TCustomWinSocket* Socket);
  void APOPServerSocketClientDisconnect(TObject* Sender, TCustomWinSocket* Socket);
  void APOPServerSocketClientRead(TObject* Sender, TCustomWinSocket* Socket);
  void APOPServerSocketClientInputEnd(TObject* Sender, TCustomWinSocket* Socket);
  void APOPServerSocketClientError(TObject* Sender, TCustomWinSocket* Socket,
                                   TErrorEvent ErrorEvent, int& ErrorCode);
  void ClientCommand(const AnsiString& Line);
  void SendToClient(const AnsiString& Text);

  // The server's side of a session and the APOP login.
  void ConnectServer();
  void APOPUpstreamSocketConnect(TObject* Sender, TCustomWinSocket* Socket);
  void APOPUpstreamSocketDisconnect(TObject* Sender, TCustomWinSocket* Socket);
  void APOPUpstreamSocketRead(TObject* Sender, TCustomWinSocket* Socket);
  void APOPUpstreamSocketInputEnd(TObject* Sender, TCustomWinSocket* Socket);
  void APOPUpstreamSocketError(TObject* Sender, TCustomWinSocket* Socket, TErrorEvent ErrorEvent,
                               int& ErrorCode);
  void ServerLine(const AnsiString& Line);
  void SendApop();
  void SendToServer(const AnsiString& Text);

  // The peer of a connection as the log shows it: "name(address)", or the address alone when the
  // peer has no name; empty for a null or unconnected connection.
  static AnsiString PeerText(TCustomWinSocket* Socket);

  // The session's state and the window's flags.
  TSessionState SessionState;
  TLoginStage LoginStage;
  AnsiString HostName;   // server host given with USER
  AnsiString UserName;   // user name given with USER
  AnsiString Password;   // password given with PASS
  AnsiString TimeStamp;  // timestamp of the server's greeting, angle brackets included
  TCustomWinSocket* ClientConnection;  // the session's mail-program connection; not owned
  bool ShowBusy;                       // re-entrancy guard of ShowToggle and ShowAbout
  AnsiString ClientBuffer;             // text from the mail program not yet taken as lines
  AnsiString ServerBuffer;             // text from the server not yet taken as lines
  bool ClientClosing;  // set while the end of the mail-program connection is handled
  bool ServerClosing;  // set while the end of the server connection is handled
  bool LogReady;       // true while the log window exists

  // Called by the log window when it is created and destroyed.
  void LogFormCreated(TLogForm* Form);
  void LogFormDestroyed(TLogForm* Form);
  TLogForm* LogForm() const { return FLogForm; }

  // Session plumbing (MainfSession.cpp)
  // Sends Text (lines ended by LF) on Connection in one call, each line logged with Prefix and
  // sent ended by CR LF; a socket failure is dropped, any other shown.
  void SendLines(TCustomWinSocket* Connection, const AnsiString& Text, const char* Prefix);
  // Takes the mail program's complete lines as commands; while its replies pile up unread, the
  // rest waits and the mail program is not read.
  void ClientLines();
  // While relaying: moves what waits on From to To unchanged; while To has too much waiting, From
  // is no longer read, until RelayDrained reports To's output gone.
  void Relay(TCustomWinSocket* From, TCustomWinSocket* To);
  // A connection's waiting output has gone: what was held back for it is read again.
  void RelayDrained(TCustomWinSocket* Drained);
  // Asks for the drain events of both sockets (RelayDrained).
  void WatchDrains();
  // A login-phase line of Connection has grown past its bound without a line end: the mail
  // program is told, the connection closed.
  // A login-phase line of Connection is longer than its bound, finished or not: a mail program is
  // told and closed; a server's connection is closed, and the mail program told only when its
  // PASS waits for an answer.
  void LineTooLong(TCustomWinSocket* Connection);
  // Receives a piece of login-phase text; a failure is shown and closes the connection (the
  // text is then empty).
  AnsiString ReceiveLoginText(TCustomWinSocket* Socket);
  // Takes the server's complete lines in the login phase; while the mail program's replies pile
  // up unread, the rest waits and the server is not read.
  void ServerLines();
  // PASS has had its answer (other than success): the commands that waited are taken next.
  void PassAnswered();
  void ResumeClientLines(TObject* Sender);
  // The login has succeeded: the commands that waited are relayed unchanged, then everything.
  void RelayWaitingCommands();
  // The time limits.
  void LoginTimedOut(TObject* Sender);
  void ServerTimedOut(TObject* Sender);
  static void StartTimer(TTimer* Timer, int Milliseconds);
  bool TakingClientLines = false;  // ClientLines is running (it is not re-entered)
  // The upstream connection could not be made or ended before the server's answer to APOP: the
  // mail program's PASS is answered "-ERR server connection failed", the login starts over.
  void ConnectFailed();
  // True from PASS starting a connection until the mail program has had its answer.
  bool PassPending = false;
  // The session's mail program has ended its sending (a half-close): in the login phase it is
  // closed once everything it sent is answered; while relaying the server is told the same.
  bool ClientInputEnded = false;
  // A mail program that came while the session's mail program had ended its sending: it is served
  // once that session is over (one waits at most; not read meanwhile). Not owned.
  TCustomWinSocket* WaitingClient = nullptr;
  // A session starts for Socket: greeting, timers, fresh state.
  void StartSession(TCustomWinSocket* Socket);
  // Before a newcomer is judged: an end of the session's connections that has arrived and not yet
  // been handled is handled now.
  void CatchUpSession();

 private:
  void AddLogLine(const AnsiString& Line);
  TLogForm* FLogForm = nullptr;
};

}  // namespace ovelta
