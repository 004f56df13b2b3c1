// Pop-up menus. A menu's items carry a caption (CP932; "&" marks the accelerator letter, a caption
// of "-" makes a separator) and a click event. Popup shows the menu at a screen position and
// returns at once; a chosen item's OnClick runs later, from the message loop, guarded.
#pragma once

#include <memory>
#include <string>
#include <vector>

#include "platform/core/Component.h"
#include "platform/core/Types.h"

namespace ovelta {

class TMenuItem : public TComponent {
 public:
  explicit TMenuItem(TComponent* AOwner);
  ~TMenuItem() override;
  std::string ClassName() const override { return "TMenuItem"; }

  const AnsiString& Caption() const { return FCaption; }
  void SetCaption(const AnsiString& Value) { FCaption = Value; }
  bool IsLine() const { return FCaption == "-"; }

  // Sub-items, in order. Add does not change ownership; an item removed from its owner (freed)
  // leaves the list by itself.
  void Add(TMenuItem* Item);
  int Count() const { return static_cast<int>(FItems.size()); }
  TMenuItem* Items(int Index) const;

  // Chooses the item, as the user does: runs OnClick (guarded).
  void Click();
  TNotifyEvent OnClick;

 private:
  void Notification(TComponent* AComponent, TOperation Operation) override;
  AnsiString FCaption;
  std::vector<TMenuItem*> FItems;
};

class TPopupMenu : public TComponent {
 public:
  explicit TPopupMenu(TComponent* AOwner);
  ~TPopupMenu() override;
  std::string ClassName() const override { return "TPopupMenu"; }

  // The top-level items (owned by the menu).
  TMenuItem* Items() const { return FItems; }

  // Shows the menu with its top-left corner at X, Y (screen coordinates).
  void Popup(int X, int Y);
  // True while the menu is shown.
  bool Showing() const;

  // The toolkit menu last shown, for the platform's own use (null before the first Popup).
  void* Widget() const;

 private:
  struct Impl;
  TMenuItem* FItems;
  std::unique_ptr<Impl> FImpl;
};

}  // namespace ovelta
