// The main window's own part: its components, start-up (tray icon, hooks, the listener at the
// first idle moment), shut-down, the tray menu's commands, the exception filter and the log.
#include "app/Mainf.h"

#include <cstdio>
#include <cstring>

#include "app/Logf.h"
#include "platform/core/Dialogs.h"
#include "platform/ui/Icons.h"
#include "platform/core/Text.h"

// The program's icons, compiled in by rcc without a static initializer (app/unit.cmake). Returns 1.
int qInitResources_merlig();

namespace ovelta {

namespace {

constexpr const char* kCaption = "Merlig";
constexpr const char* kTip = "Merlig";
constexpr const char* kShowLogItem = "Log表示(&L)";
constexpr const char* kExitItem = "終了(&E)";
constexpr const char* kStarted = "* Merlig 開始";
constexpr const char* kOpenFailed = "ServerSocketがOpenできませんでした。";
constexpr const char* kOpenFailedCaption = "SocketError";
constexpr const char* kTrayIconResource = "SMALLICON";
constexpr const char* kFontFace = "ＭＳ Ｐゴシック";
constexpr int kFontHeight = -12;
constexpr int kClientWidth = 160;
constexpr int kClientHeight = 53;

}  // namespace

void RegisterProgramIcons() {
  static const int registered = qInitResources_merlig();
  (void)registered;
}

TMainForm::TMainForm(TComponent* AOwner, int ListenPort, int UpstreamPort) : TForm(AOwner) {
  RegisterProgramIcons();
  SetName("MainForm");
  SetCaption(kCaption);
  SetBorderStyle(TFormBorderStyle::bsSingle);
  SetFont(Sjis(kFontFace), kFontHeight, SHIFTJIS_CHARSET);
  SetScaled(false);
  SetPosition(TPosition::poScreenCenter);
  SetClientSize(kClientWidth, kClientHeight);

  APOPUpstreamSocket = new TClientSocket(this);
  APOPUpstreamSocket->SetName("APOPUpstreamSocket");
  APOPUpstreamSocket->SetClientType(ctNonBlocking);
  APOPUpstreamSocket->SetPort(UpstreamPort);
  APOPUpstreamSocket->OnConnect = [this](TObject* S, TCustomWinSocket* C) {
    APOPUpstreamSocketConnect(S, C);
  };
  APOPUpstreamSocket->OnDisconnect = [this](TObject* S, TCustomWinSocket* C) {
    APOPUpstreamSocketDisconnect(S, C);
  };
  APOPUpstreamSocket->OnRead = [this](TObject* S, TCustomWinSocket* C) {
    APOPUpstreamSocketRead(S, C);
  };
  APOPUpstreamSocket->OnInputEnd = [this](TObject* S, TCustomWinSocket* C) {
    APOPUpstreamSocketInputEnd(S, C);
  };
  APOPUpstreamSocket->OnError = [this](TObject* S, TCustomWinSocket* C, TErrorEvent E, int& Code) {
    APOPUpstreamSocketError(S, C, E, Code);
  };

  APOPServerSocket = new TServerSocket(this);
  APOPServerSocket->SetName("APOPServerSocket");
  APOPServerSocket->SetPort(ListenPort);
  APOPServerSocket->SetServerType(stNonBlocking);
  APOPServerSocket->OnClientConnect = [this](TObject* S, TCustomWinSocket* C) {
    APOPServerSocketClientConnect(S, C);
  };
  APOPServerSocket->OnClientDisconnect = [this](TObject* S, TCustomWinSocket* C) {
    APOPServerSocketClientDisconnect(S, C);
  };
  APOPServerSocket->OnClientRead = [this](TObject* S, TCustomWinSocket* C) {
    APOPServerSocketClientRead(S, C);
  };
  APOPServerSocket->OnClientInputEnd = [this](TObject* S, TCustomWinSocket* C) {
    APOPServerSocketClientInputEnd(S, C);
  };
  APOPServerSocket->OnClientError = [this](TObject* S, TCustomWinSocket* C, TErrorEvent E,
                                           int& Code) {
    APOPServerSocketClientError(S, C, E, Code);
  };

  LoginTimer = new TTimer(this);
  LoginTimer->SetName("LoginTimer");
  LoginTimer->OnTimer = [this](TObject* S) { LoginTimedOut(S); };
  ServerTimer = new TTimer(this);
  ServerTimer->SetName("ServerTimer");
  ServerTimer->OnTimer = [this](TObject* S) { ServerTimedOut(S); };
  ResumeTimer = new TTimer(this);
  ResumeTimer->SetName("ResumeTimer");
  ResumeTimer->SetInterval(0);
  ResumeTimer->OnTimer = [this](TObject* S) { ResumeClientLines(S); };

  APOPNotifyIcon = new TOvNotifyIcon(this);
  APOPNotifyIcon->SetName("APOPNotifyIcon");
  APopPopupMenu = new TPopupMenu(this);
  APopPopupMenu->SetName("APopPopupMenu");
  Log1 = new TMenuItem(this);
  Log1->SetName("Log1");
  Log1->SetCaption(Sjis(kShowLogItem));
  Log1->OnClick = [this](TObject* S) { ShowAbout(S); };
  N1 = new TMenuItem(this);
  N1->SetName("N1");
  N1->SetCaption("-");
  Exit1 = new TMenuItem(this);
  Exit1->SetName("Exit1");
  Exit1->SetCaption(Sjis(kExitItem));
  Exit1->OnClick = [this](TObject* S) { APopExit(S); };
  APopPopupMenu->Items()->Add(Log1);
  APopPopupMenu->Items()->Add(N1);
  APopPopupMenu->Items()->Add(Exit1);
  APOPNotifyIcon->SetMenu(APopPopupMenu);
  APOPNotifyIcon->SetOnClick([this](TObject* S) { ShowToggle(S); });
  APOPNotifyIcon->SetOnDblClick([this](TObject* S) { ShowToggle(S); });
  APOPNotifyIcon->SetCaption(kTip);

  SessionState = TSessionState::ssNotListening;
  LoginStage = TLoginStage::lsNone;
  ClientConnection = nullptr;
  ShowBusy = false;
  ClientClosing = false;
  ServerClosing = false;
  LogReady = false;

  Loaded();
  FormCreate(this);
}

TMainForm::~TMainForm() { FormDestroy(this); }

void TMainForm::FormCreate(TObject*) {
  APOPNotifyIcon->SetIcon(LoadIconA(HInstance(), kTrayIconResource));
  APOPNotifyIcon->NIMAdd();
  TApplication& app = Application();
  app.OnMinimize = [this](TObject* S) { AppMinimize(S); };
  app.OnRestore = [this](TObject* S) { AppRestore(S); };
  app.OnIdle = [this](TObject* S) { AppIdle(S); };
  app.OnException = [this](TObject* S, const Exception& E) { AppException(S, E); };
}

void TMainForm::FormDestroy(TObject*) {
  // The log window is gone by now (LogReady is false): what the closes below raise is not logged.
  GuardedCall(this, [this] {
    if (APOPUpstreamSocket->Active()) APOPUpstreamSocket->Close();
  });
  GuardedCall(this, [this] {
    if (APOPServerSocket->Active()) APOPServerSocket->Close();
  });
  APOPNotifyIcon->NIMDelete();
  // The hooks call into this window: they go with it.
  TApplication& app = Application();
  app.OnMinimize = nullptr;
  app.OnRestore = nullptr;
  app.OnIdle = nullptr;
  app.OnException = nullptr;
}

void TMainForm::AppIdle(TObject*) {
  Application().OnIdle = nullptr;
  try {
    APOPServerSocket->Open();
  } catch (...) {
    MessageBox(Sjis(kOpenFailed), kOpenFailedCaption, MB_OK | MB_ICONSTOP);
    Close();
    return;
  }
  SessionState = TSessionState::ssListening;
  WriteLog(Sjis(kStarted));
}

void TMainForm::AppException(TObject*, const Exception& E) {
  if (E.ClassName() == "ESocketError") return;
  Application().ShowException(E);
}

void TMainForm::AppMinimize(TObject*) { Application().HideWindow(); }

void TMainForm::AppRestore(TObject*) { Application().HideWindow(); }

void TMainForm::ShowAbout(TObject*) {
  if (ShowBusy) return;
  ShowBusy = true;
  if (FLogForm) {
    if (FLogForm->Visible()) {
      if (!Application().Active()) Application().BringToFront();
    } else {
      FLogForm->Show();
      Application().HideWindow();
      Application().BringToFront();
    }
  }
  ShowBusy = false;
}

void TMainForm::ShowToggle(TObject*) {
  if (ShowBusy) return;
  ShowBusy = true;
  if (FLogForm) {
    if (!FLogForm->Visible()) {
      FLogForm->Show();
      Application().HideWindow();
      Application().BringToFront();
    } else if (Application().Active()) {
      FLogForm->Hide();
    } else {
      Application().BringToFront();
    }
  }
  ShowBusy = false;
}

void TMainForm::APopExit(TObject*) { Close(); }

void TMainForm::WriteLog(const AnsiString& Text) {
  if (!LogReady || !FLogForm) return;
  AnsiString rest = Text;
  while (!rest.empty()) {
    std::size_t end = rest.find('\n');
    if (end == AnsiString::npos) {
      AddLogLine(rest);
      rest.clear();
    } else {
      AddLogLine(rest.substr(0, end));
      rest.erase(0, end + 1);
    }
  }
}

void TMainForm::AddLogLine(const AnsiString& Line) {
  TStrings& lines = FLogForm->LogMemo->Lines();
  while (lines.Count() >= kLogLines) lines.Delete(0);
  lines.Add(Line);
  if (Application().Headless()) {
    const std::string shown = HeadlessLogLine(Line) + "\n";
    std::fwrite(shown.data(), 1, shown.size(), stderr);
    std::fflush(stderr);
  }
}

namespace {

constexpr std::size_t kDigestDigits = 32;
constexpr const char* kDetailPrefix = "*   ";

// True when Line begins with Command (upper case) in either case.
bool BeginsWith(const AnsiString& Line, const char* Command) {
  const std::size_t length = std::strlen(Command);
  if (Line.size() < length) return false;
  for (std::size_t i = 0; i < length; ++i) {
    char c = Line[i];
    if (c >= 'a' && c <= 'z') c = static_cast<char>(c - 'a' + 'A');
    if (c != Command[i]) return false;
  }
  return true;
}

bool HexDigits(const AnsiString& Text) {
  for (char c : Text)
    if (!((c >= '0' && c <= '9') || (c >= 'a' && c <= 'f') || (c >= 'A' && c <= 'F'))) return false;
  return true;
}

// What journals and terminal scroll-back must not keep: the password the mail program sent, and
// the APOP digest, which with the greeting's timestamp (logged too) lets anyone guess the password
// offline. The log window shows them as they are.
AnsiString Masked(const AnsiString& Line) {
  static const char* const kPassLine = "< PASS ";
  if (Line.size() > std::strlen(kPassLine) && BeginsWith(Line, kPassLine))
    return Line.substr(0, std::strlen(kPassLine)) + "****";
  // "APOP user digest", either way: the digest is the last argument (a user name may hold blanks).
  static const char* const kApopLines[] = {"< APOP ", "> APOP "};
  for (const char* apop : kApopLines) {
    const std::size_t command = std::strlen(apop);
    if (Line.size() <= command || !BeginsWith(Line, apop)) continue;
    const std::size_t blank = Line.rfind(' ');
    const std::size_t keep = blank >= command ? blank + 1 : command;
    return Line.substr(0, keep) + AnsiString(kDigestDigits, '*');
  }
  // The detail line of the APOP login: "*   user digest".
  const std::size_t detail = std::strlen(kDetailPrefix);
  if (Line.size() > detail + kDigestDigits && Line.compare(0, detail, kDetailPrefix) == 0 &&
      Line[Line.size() - kDigestDigits - 1] == ' ' &&
      HexDigits(Line.substr(Line.size() - kDigestDigits)))
    return Line.substr(0, Line.size() - kDigestDigits) + AnsiString(kDigestDigits, '*');
  return Line;
}

}  // namespace

std::string TMainForm::HeadlessLogLine(const AnsiString& Line) {
  const AnsiString line = Masked(Line);
  // Control bytes are shown escaped, so that one log line is one terminal line and a peer's bytes
  // cannot move the cursor or change colours. After the conversion every byte below 0x80 stands
  // for itself (Shift-JIS trail bytes are gone), so the backslash is escaped too.
  const std::string text = Cp932ToUtf8(line);
  std::string shown;
  shown.reserve(text.size());
  for (char c : text) {
    const unsigned char b = static_cast<unsigned char>(c);
    if (c == '\\') {
      shown += "\\\\";
    } else if (c == '\r') {
      shown += "\\r";
    } else if (c == '\n') {
      shown += "\\n";
    } else if (c == '\t') {
      shown += "\\t";
    } else if (b < 0x20 || b == 0x7F) {
      char escaped[5];
      std::snprintf(escaped, sizeof escaped, "\\x%02x", b);
      shown += escaped;
    } else {
      shown += c;
    }
  }
  return shown;
}

AnsiString TMainForm::PeerText(TCustomWinSocket* Socket) {
  if (!Socket) return {};
  AnsiString address = Socket->RemoteAddress();
  AnsiString name = Socket->RemoteHost();
  if (name.empty()) return address;
  return name + "(" + address + ")";
}

void TMainForm::LogFormCreated(TLogForm* Form) {
  FLogForm = Form;
  LogReady = true;
}

void TMainForm::LogFormDestroyed(TLogForm* Form) {
  if (FLogForm != Form) return;
  FLogForm = nullptr;
  LogReady = false;
}

}  // namespace ovelta
