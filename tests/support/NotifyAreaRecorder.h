// Records the notification-area calls instead of showing icons, for the lifetime of the recorder,
// and plays the shell's part in sending mouse activity on an icon to its window.
#pragma once

#include <vector>

#include "platform/ui/NotifyArea.h"

namespace ovelta::test {

class NotifyAreaRecorder {
 public:
  struct Call {
    DWord Message;
    NOTIFYICONDATAA Data;
  };
  NotifyAreaRecorder();
  ~NotifyAreaRecorder();
  NotifyAreaRecorder(const NotifyAreaRecorder&) = delete;
  NotifyAreaRecorder& operator=(const NotifyAreaRecorder&) = delete;

  const std::vector<Call>& Calls() const { return FCalls; }
  void Clear() { FCalls.clear(); }
  // The icons shown now, as the calls so far leave them.
  const std::vector<NOTIFYICONDATAA>& Icons() const { return FIcons; }

  // Sends MouseMessage on the shown icon of Window (identifier Id) to that window as the icon's
  // callback message. Returns false when there is no such icon.
  bool Mouse(HWND Window, unsigned Id, unsigned MouseMessage);

 private:
  bool Take(DWord Message, const NOTIFYICONDATAA& Data);
  std::vector<Call> FCalls;
  std::vector<NOTIFYICONDATAA> FIcons;
  NotifyAreaHandler FPrevious;
};

}  // namespace ovelta::test
