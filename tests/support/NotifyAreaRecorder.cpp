#include "support/NotifyAreaRecorder.h"

#include <algorithm>
#include <cstring>

#include "platform/ui/Controls.h"

namespace ovelta::test {

NotifyAreaRecorder::NotifyAreaRecorder() {
  FPrevious = SetNotifyAreaHandler(
      [this](DWord Message, const NOTIFYICONDATAA& Data) { return Take(Message, Data); });
}

NotifyAreaRecorder::~NotifyAreaRecorder() { SetNotifyAreaHandler(std::move(FPrevious)); }

bool NotifyAreaRecorder::Take(DWord Message, const NOTIFYICONDATAA& Data) {
  FCalls.push_back({Message, Data});
  auto it = std::find_if(FIcons.begin(), FIcons.end(), [&](const NOTIFYICONDATAA& icon) {
    return icon.hWnd == Data.hWnd && icon.uID == Data.uID;
  });
  switch (Message) {
    case NIM_ADD:
      if (it != FIcons.end()) return false;
      FIcons.push_back(Data);
      return true;
    case NIM_MODIFY:
      if (it == FIcons.end()) return false;
      if (Data.uFlags & NIF_MESSAGE) it->uCallbackMessage = Data.uCallbackMessage;
      if (Data.uFlags & NIF_ICON) it->hIcon = Data.hIcon;
      if (Data.uFlags & NIF_TIP) std::memcpy(it->szTip, Data.szTip, sizeof(it->szTip));
      return true;
    case NIM_DELETE:
      if (it == FIcons.end()) return false;
      FIcons.erase(it);
      return true;
    default:
      return false;
  }
}

bool NotifyAreaRecorder::Mouse(HWND Window, unsigned Id, unsigned MouseMessage) {
  auto it = std::find_if(FIcons.begin(), FIcons.end(), [&](const NOTIFYICONDATAA& icon) {
    return icon.hWnd == Window && icon.uID == Id;
  });
  if (it == FIcons.end()) return false;
  SendMessage(Window, it->uCallbackMessage, Id, static_cast<LPARAM>(MouseMessage));
  return true;
}

}  // namespace ovelta::test
