// Window handles: a table from handle numbers to live controls, message delivery, and the cursor.
#include "platform/ui/Controls.h"

#include <QCursor>
#include <QGuiApplication>

#include <cstdint>
#include <unordered_map>

#include "platform/ui/Application.h"

namespace ovelta {

namespace {

// Handles are numbers that are never reused, so a stale handle can never reach a newer control.
std::unordered_map<std::uintptr_t, TWinControl*>& HandleTable() {
  static std::unordered_map<std::uintptr_t, TWinControl*> table;
  return table;
}
std::uintptr_t gLastHandle = 0;

}  // namespace

TWinControl::TWinControl(TComponent* AOwner) : TComponent(AOwner) {}

TWinControl::~TWinControl() {
  if (FHandle) HandleTable().erase(reinterpret_cast<std::uintptr_t>(FHandle));
}

HWND TWinControl::Handle() {
  if (!FHandle) {
    // Keep handles apart from small integers and aligned like pointers.
    gLastHandle += 0x10;
    std::uintptr_t number = 0x10000 + gLastHandle;
    HandleTable()[number] = this;
    FHandle = reinterpret_cast<HWND>(number);
  }
  return FHandle;
}

void TWinControl::SetCaption(const AnsiString& Value) {
  if (FCaption == Value) return;
  FCaption = Value;
  CaptionChanged();
}

void TWinControl::SetVisible(bool Value) {
  if (FVisible == Value) return;
  FVisible = Value;
  VisibleChanged();
}

void TWinControl::Dispatch(TMessage& Message) { DefaultHandler(Message); }

void TWinControl::DefaultHandler(TMessage& Message) { Message.Result = 0; }

TWinControl* FindControl(HWND Window) {
  if (!Window) return nullptr;
  auto it = HandleTable().find(reinterpret_cast<std::uintptr_t>(Window));
  return it == HandleTable().end() ? nullptr : it->second;
}

LRESULT SendMessage(HWND Window, unsigned Msg, WPARAM WParam, LPARAM LParam) {
  TWinControl* control = FindControl(Window);
  if (!control) return 0;
  TMessage message{Msg, WParam, LParam, 0};
  GuardedCall(control, [&] { control->Dispatch(message); });
  return message.Result;
}

bool GetCursorPos(POINT* Point) {
  if (!Point) return false;
  QPoint position;
  if (QGuiApplication::instance()) position = QCursor::pos();
  Point->x = position.x();
  Point->y = position.y();
  return true;
}

}  // namespace ovelta
