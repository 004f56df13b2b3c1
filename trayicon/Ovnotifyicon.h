// The unit Ovnotifyicon: TOvNotifyIcon puts one icon with a tool tip into the desktop's
// notification area, raises OnClick and OnDblClick for the left mouse button and pops up its menu
// for the right one. The shell reports mouse activity to a window, so the icon owns a hidden
// window, TOvNotifyWin, that receives the reports and turns them into the icon's events.
//
// All of it runs on the user-interface thread. The icon is not removed by the destructor: its
// owner calls NIMDelete before it goes (the proxy does so when its main form is destroyed).
#pragma once

#include <cstddef>
#include <string>

#include "platform/core/Component.h"
#include "platform/ui/Controls.h"
#include "platform/ui/Icons.h"
#include "platform/ui/Menus.h"
#include "platform/ui/NotifyArea.h"
#include "platform/core/Types.h"

namespace ovelta {

class TOvNotifyIcon;

// The hidden window that receives the shell's mouse reports for a TOvNotifyIcon. Its caption holds
// the icon's tool-tip text. Every event it raises gets the window itself as the sender.
class TOvNotifyWin : public TWinControl {
 public:
  // The owner is the TOvNotifyIcon that creates it. All three event slots start empty.
  explicit TOvNotifyWin(TComponent* AOwner);
  ~TOvNotifyWin() override;
  std::string ClassName() const override { return "TOvNotifyWin"; }

  // Message 0x0400 (the icon's callback message) goes to WMNotifyIcon, every other message to the
  // inherited dispatch.
  void Dispatch(TMessage& Message) override;

 protected:
  // Raises the event for the mouse message in the long parameter: left down -> click, left double
  // click -> double click, right down or right double click -> pop-up; any other message nothing.
  void WMNotifyIcon(TMessage& Message);

 private:
  friend class TOvNotifyIcon;
  TNotifyEvent FOnPopup;
  TNotifyEvent FOnClick;
  TNotifyEvent FOnDblClick;
};

class TOvNotifyIcon : public TComponent {
 public:
  // Raises EOutOfResources ("メモリリソースが足りません。") when the notify window cannot be made.
  explicit TOvNotifyIcon(TComponent* AOwner);
  // Frees the notify window; does not remove the icon from the notification area.
  ~TOvNotifyIcon() override;
  std::string ClassName() const override { return "TOvNotifyIcon"; }

  // Adds the icon to the notification area with the stored icon (the application's when none is
  // stored) and the caption as its tip. True when added or already there; false without a
  // notify window. The shell's answer is not examined.
  bool NIMAdd();
  // Removes the icon when it is shown; nothing otherwise.
  void NIMDelete();
  // Stores the icon (null: the application's icon) and, while shown, puts it in the tray at once.
  void SetIcon(HICON Value);
  HICON Icon() const { return FIcon; }

  // Published properties, in their declaration order.
  // The menu popped up by the right button (may be null). A menu that is freed is let go.
  TPopupMenu* Menu() const { return FMenu; }
  void SetMenu(TPopupMenu* Value);
  // True while the icon is in the notification area; setting it adds or removes the icon.
  bool IconVisible() const { return FIconVisible; }
  void SetIconVisible(bool Value);
  TNotifyEvent GetOnClick() const;
  void SetOnClick(const TNotifyEvent& Value);
  TNotifyEvent GetOnDblClick() const;
  void SetOnDblClick(const TNotifyEvent& Value);
  // The tool tip (CP932). The tray shows at most 127 bytes of it, cut before a character that
  // would not fit whole.
  AnsiString GetCaption() const;
  void SetCaption(const AnsiString& Value);

  // The pop-up event of the notify window: shows the menu at the mouse cursor, when there is one.
  void NotifyWinPopup(TObject* Sender);

  // The hidden window that receives the shell's reports (the sender of every event).
  TOvNotifyWin* NotifyWin() const { return FNotifyWin; }
  // The record handed to the shell with every call.
  const NOTIFYICONDATAA& NotifyData() const { return FNotifyData; }

 protected:
  void Notification(TComponent* AComponent, TOperation Operation) override;

 private:
  TPopupMenu* FMenu = nullptr;
  NOTIFYICONDATAA FNotifyData{};
  bool FIconVisible = false;
  TOvNotifyWin* FNotifyWin = nullptr;
  HICON FIcon = nullptr;
};

// Copies Text into a tip member of TipSize bytes: as many whole characters as fit before the
// terminating zero (a double-byte character is never split), stopping at a zero byte in Text.
void CopyTip(char* Tip, std::size_t TipSize, const AnsiString& Text);

namespace Ovnotifyicon {
// Puts TOvNotifyIcon on the palette page "Ovelta".
void Register();
}  // namespace Ovnotifyicon

}  // namespace ovelta
