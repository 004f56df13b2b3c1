// The notification-area service: the desktop's tray through QSystemTrayIcon (one per window and
// identifier), the replaceable handler, and the recorder used by tests.
#include "platform/ui/NotifyArea.h"

#include <QCoreApplication>
#include <QSystemTrayIcon>

#include <algorithm>
#include <cstring>
#include <memory>
#include <mutex>

#include "platform/ui/Application.h"
#include "platform/ui/QtSupport_p.h"

namespace ovelta {

namespace {

// The tip member up to its first zero byte, never past the member.
AnsiString TipOf(const NOTIFYICONDATAA& Data) {
  return AnsiString(Data.szTip, strnlen(Data.szTip, sizeof(Data.szTip)));
}

// The mouse message the shell reports for each kind of tray activation. The toolkit reports the
// left press, the left double click (its second press) and the right press, which are the ones
// the icon's owner acts on.
unsigned MouseMessageFor(QSystemTrayIcon::ActivationReason Reason) {
  switch (Reason) {
    case QSystemTrayIcon::Trigger:
      return WM_LBUTTONDOWN;
    case QSystemTrayIcon::DoubleClick:
      return WM_LBUTTONDBLCLK;
    case QSystemTrayIcon::Context:
      return WM_RBUTTONDOWN;
    case QSystemTrayIcon::MiddleClick:
      return WM_MBUTTONDOWN;
    default:
      return 0;
  }
}

struct TrayEntry {
  HWND Window;
  unsigned Id;
  unsigned CallbackMessage = 0;
  std::unique_ptr<QSystemTrayIcon> Icon;
};

std::vector<TrayEntry>& TrayEntries() {
  static std::vector<TrayEntry> entries;
  return entries;
}

void Update(TrayEntry& Entry, const NOTIFYICONDATAA& Data) {
  if (Data.uFlags & NIF_MESSAGE) Entry.CallbackMessage = Data.uCallbackMessage;
  if (Data.uFlags & NIF_ICON) Entry.Icon->setIcon(ToQIcon(Data.hIcon));
  if (Data.uFlags & NIF_TIP) Entry.Icon->setToolTip(ToQString(TipOf(Data)));
}

bool DesktopTray(DWord Message, const NOTIFYICONDATAA& Data) {
  Application().Initialize();
  std::vector<TrayEntry>& entries = TrayEntries();
  auto it = std::find_if(entries.begin(), entries.end(), [&](const TrayEntry& entry) {
    return entry.Window == Data.hWnd && entry.Id == Data.uID;
  });
  switch (Message) {
    case NIM_ADD: {
      if (it != entries.end()) return false;
      TrayEntry entry{Data.hWnd, Data.uID, 0,
                      std::make_unique<QSystemTrayIcon>(QCoreApplication::instance())};
      // An icon must have a picture; until it is given one it shows the application's.
      entry.Icon->setIcon(ToQIcon(nullptr));
      Update(entry, Data);
      HWND window = Data.hWnd;
      unsigned id = Data.uID;
      QObject::connect(
          entry.Icon.get(), &QSystemTrayIcon::activated, entry.Icon.get(),
          [window, id](QSystemTrayIcon::ActivationReason reason) {
            unsigned mouse = MouseMessageFor(reason);
            auto& list = TrayEntries();
            auto found = std::find_if(list.begin(), list.end(), [&](const TrayEntry& e) {
              return e.Window == window && e.Id == id;
            });
            if (mouse && found != list.end() && found->CallbackMessage)
              SendMessage(window, found->CallbackMessage, id, static_cast<LPARAM>(mouse));
          });
      // Without a display there is no tray to show it in (the icon still takes its calls).
      if (!Application().Headless()) entry.Icon->show();
      entries.push_back(std::move(entry));
      return true;
    }
    case NIM_MODIFY:
      if (it == entries.end()) return false;
      Update(*it, Data);
      return true;
    case NIM_DELETE:
      if (it == entries.end()) return false;
      // The icon may be deleting itself from its own click handler: let Qt finish with it first.
      it->Icon->hide();
      it->Icon.release()->deleteLater();
      entries.erase(it);
      return true;
    default:
      return false;
  }
}

std::mutex gLock;
NotifyAreaHandler gHandler;

}  // namespace

bool Shell_NotifyIconA(DWord Message, const NOTIFYICONDATAA* Data) {
  if (!Data) return false;
  NotifyAreaHandler handler;
  {
    std::lock_guard<std::mutex> guard(gLock);
    handler = gHandler;
  }
  return handler ? handler(Message, *Data) : DesktopTray(Message, *Data);
}

bool NotifyAreaAvailable() {
  Application().Initialize();
  return QSystemTrayIcon::isSystemTrayAvailable();
}

NotifyAreaHandler SetNotifyAreaHandler(NotifyAreaHandler Handler) {
  std::lock_guard<std::mutex> guard(gLock);
  NotifyAreaHandler previous = std::move(gHandler);
  gHandler = std::move(Handler);
  return previous;
}

void ReleaseNotifyIcons() { TrayEntries().clear(); }

}  // namespace ovelta
