// Pop-up menus on QMenu: the toolkit menu is rebuilt from the items each time it pops up, so it
// always shows the items' current captions and order.
#include "platform/ui/Menus.h"

#include <QAction>
#include <QMenu>
#include <QPointer>

#include <algorithm>

#include "platform/ui/Application.h"
#include "platform/ui/QtSupport_p.h"

namespace ovelta {

TMenuItem::TMenuItem(TComponent* AOwner) : TComponent(AOwner) {}

TMenuItem::~TMenuItem() {
  for (TMenuItem* item : FItems) item->RemoveFreeNotification(this);
}

void TMenuItem::Add(TMenuItem* Item) {
  if (!Item || Item == this) return;
  FItems.push_back(Item);
  FreeNotification(Item);
}

TMenuItem* TMenuItem::Items(int Index) const {
  if (Index < 0 || Index >= Count()) return nullptr;
  return FItems[static_cast<std::size_t>(Index)];
}

void TMenuItem::Click() {
  TNotifyEvent handler = OnClick;
  if (handler) GuardedCall(this, [&] { handler(this); });
}

void TMenuItem::Notification(TComponent* AComponent, TOperation Operation) {
  TComponent::Notification(AComponent, Operation);
  if (Operation == TOperation::opRemove)
    FItems.erase(std::remove(FItems.begin(), FItems.end(), AComponent), FItems.end());
}

struct TPopupMenu::Impl {
  QPointer<QMenu> Menu;
};

TPopupMenu::TPopupMenu(TComponent* AOwner)
    : TComponent(AOwner), FItems(new TMenuItem(this)), FImpl(std::make_unique<Impl>()) {}

TPopupMenu::~TPopupMenu() { delete FImpl->Menu.data(); }

namespace {

// Fills Menu with Item's sub-items. Each action checks that its item is still in its place (the
// item list forgets freed items) before it calls it.
void Fill(QMenu* Menu, TMenuItem* Item) {
  for (int i = 0; i < Item->Count(); ++i) {
    TMenuItem* child = Item->Items(i);
    if (child->IsLine()) {
      Menu->addSeparator();
    } else if (child->Count() > 0) {
      Fill(Menu->addMenu(ToQString(child->Caption())), child);
    } else {
      QAction* action = Menu->addAction(ToQString(child->Caption()));
      QObject::connect(action, &QAction::triggered, Menu, [Item, i, child] {
        if (i < Item->Count() && Item->Items(i) == child) child->Click();
      });
    }
  }
}

}  // namespace

void TPopupMenu::Popup(int X, int Y) {
  Application().Initialize();
  // The menu shown before may be the one whose item is running this call: let it go later.
  if (FImpl->Menu) FImpl->Menu->deleteLater();
  FImpl->Menu = new QMenu();
  Fill(FImpl->Menu, FItems);
  FImpl->Menu->popup(QPoint(X, Y));
}

bool TPopupMenu::Showing() const {
  QMenu* menu = FImpl->Menu.data();
  return menu && menu->isVisible();
}

void* TPopupMenu::Widget() const { return FImpl->Menu.data(); }

}  // namespace ovelta
