// TOvNotifyIcon and its notify window: the notify-icon record, the shell calls that add, modify
// and delete the icon, and the mapping of the shell's mouse reports to the icon's events.
#include "trayicon/Ovnotifyicon.h"

#include <cstring>
#include <new>

#include "platform/ui/Application.h"
#include "platform/core/Exceptions.h"
#include "platform/core/Text.h"

namespace ovelta {

namespace {

// The record's fixed values: message, icon and tip valid; the callback message; icon number 0.
constexpr unsigned kNotifyFlags = NIF_MESSAGE | NIF_ICON | NIF_TIP;
constexpr unsigned kCallbackMessage = WM_USER;
constexpr unsigned kIconId = 0;

}  // namespace

void CopyTip(char* Tip, std::size_t TipSize, const AnsiString& Text) {
  if (!Tip || TipSize == 0) return;
  const std::size_t room = TipSize - 1;  // the terminating zero always fits
  std::size_t length = 0;
  while (length < Text.size() && Text[length] != '\0') {
    std::size_t step = 1;
    if (IsDBCSLeadByte(Text[length]) && length + 1 < Text.size() && Text[length + 1] != '\0')
      step = 2;
    if (length + step > room) break;
    length += step;
  }
  std::memcpy(Tip, Text.data(), length);
  Tip[length] = '\0';
}

// ---- TOvNotifyWin ----

TOvNotifyWin::TOvNotifyWin(TComponent* AOwner) : TWinControl(AOwner) {
  FOnPopup = nullptr;
  FOnClick = nullptr;
  FOnDblClick = nullptr;
}

TOvNotifyWin::~TOvNotifyWin() = default;

void TOvNotifyWin::Dispatch(TMessage& Message) {
  if (Message.Msg == kCallbackMessage) {
    WMNotifyIcon(Message);
  } else {
    TWinControl::Dispatch(Message);
  }
}

void TOvNotifyWin::WMNotifyIcon(TMessage& Message) {
  // Copies: a handler may change the slots (or free the icon) while it runs.
  TNotifyEvent handler;
  switch (static_cast<unsigned>(Message.LParam)) {
    case WM_LBUTTONDOWN:
      handler = FOnClick;
      break;
    case WM_LBUTTONDBLCLK:
      handler = FOnDblClick;
      break;
    case WM_RBUTTONDOWN:
    case WM_RBUTTONDBLCLK:
      handler = FOnPopup;
      break;
    default:
      break;
  }
  Fire(handler, this);
}

// ---- TOvNotifyIcon ----

TOvNotifyIcon::TOvNotifyIcon(TComponent* AOwner) : TComponent(AOwner) {
  FMenu = nullptr;
  FIcon = nullptr;
  FIconVisible = false;
  try {
    FNotifyWin = new TOvNotifyWin(this);
  } catch (const std::bad_alloc&) {
    FNotifyWin = nullptr;
  }
  if (!FNotifyWin) throw EOutOfResources(Sjis("メモリリソースが足りません。"));
  // A child of the application's hidden window: the notify window needs no form.
  FNotifyWin->SetParentWindow(Application().Handle());
  FNotifyWin->FOnPopup = [this](TObject* Sender) { NotifyWinPopup(Sender); };
  FNotifyWin->SetVisible(false);
}

TOvNotifyIcon::~TOvNotifyIcon() {
  delete FNotifyWin;
  FNotifyWin = nullptr;
  if (FMenu) FMenu->RemoveFreeNotification(this);
}

bool TOvNotifyIcon::NIMAdd() {
  if (!FNotifyWin) return false;
  if (FIconVisible) return true;
  FNotifyData.cbSize = NOTIFYICONDATAA_V2_SIZE;
  FNotifyData.hWnd = FNotifyWin->Handle();
  FNotifyData.uID = kIconId;
  FNotifyData.uFlags = kNotifyFlags;
  FNotifyData.uCallbackMessage = kCallbackMessage;
  FNotifyData.hIcon = FIcon ? FIcon : Application().Icon();
  CopyTip(FNotifyData.szTip, sizeof(FNotifyData.szTip), FNotifyWin->Caption());
  Shell_NotifyIconA(NIM_ADD, &FNotifyData);
  FIconVisible = true;
  return true;
}

void TOvNotifyIcon::NIMDelete() {
  if (!FIconVisible) return;
  FIconVisible = false;
  Shell_NotifyIconA(NIM_DELETE, &FNotifyData);
}

void TOvNotifyIcon::SetIconVisible(bool Value) {
  if (Value == FIconVisible) return;
  if (Value)
    NIMAdd();
  else
    NIMDelete();
}

void TOvNotifyIcon::SetIcon(HICON Value) {
  if (FIconVisible) {
    FNotifyData.hIcon = Value ? Value : Application().Icon();
    Shell_NotifyIconA(NIM_MODIFY, &FNotifyData);
  }
  FIcon = Value;
}

void TOvNotifyIcon::SetMenu(TPopupMenu* Value) {
  if (FMenu == Value) return;
  if (FMenu) FMenu->RemoveFreeNotification(this);
  FMenu = Value;
  if (FMenu) FMenu->FreeNotification(this);
}

void TOvNotifyIcon::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == TOperation::opRemove && AComponent == FMenu) FMenu = nullptr;
  if (Operation == TOperation::opRemove && AComponent == FNotifyWin) FNotifyWin = nullptr;
}

TNotifyEvent TOvNotifyIcon::GetOnClick() const {
  return FNotifyWin ? FNotifyWin->FOnClick : TNotifyEvent();
}

void TOvNotifyIcon::SetOnClick(const TNotifyEvent& Value) {
  if (FNotifyWin) FNotifyWin->FOnClick = Value;
}

TNotifyEvent TOvNotifyIcon::GetOnDblClick() const {
  return FNotifyWin ? FNotifyWin->FOnDblClick : TNotifyEvent();
}

void TOvNotifyIcon::SetOnDblClick(const TNotifyEvent& Value) {
  if (FNotifyWin) FNotifyWin->FOnDblClick = Value;
}

AnsiString TOvNotifyIcon::GetCaption() const {
  return FNotifyWin ? FNotifyWin->Caption() : AnsiString();
}

void TOvNotifyIcon::SetCaption(const AnsiString& Value) {
  if (FIconVisible) {
    CopyTip(FNotifyData.szTip, sizeof(FNotifyData.szTip), Value);
    Shell_NotifyIconA(NIM_MODIFY, &FNotifyData);
  }
  if (FNotifyWin) FNotifyWin->SetCaption(Value);
}

void TOvNotifyIcon::NotifyWinPopup(TObject*) {
  if (!FMenu) return;
  POINT cursor;
  GetCursorPos(&cursor);
  FMenu->Popup(static_cast<int>(cursor.x), static_cast<int>(cursor.y));
}

namespace Ovnotifyicon {

void Register() { RegisterComponents(kOveltaPage, {"TOvNotifyIcon"}); }

}  // namespace Ovnotifyicon

}  // namespace ovelta
