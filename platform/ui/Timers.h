// TTimer: a component that raises OnTimer from the message loop, Interval milliseconds after it
// was enabled and then every Interval milliseconds while it stays enabled. OnTimer runs guarded
// (an exception goes to the application's exception hook). Setting Enabled or Interval restarts
// the count; a timer whose owner is freed stops with it.
#pragma once

#include <memory>
#include <string>

#include "platform/core/Component.h"
#include "platform/core/Types.h"

namespace ovelta {

class TTimer : public TComponent {
 public:
  explicit TTimer(TComponent* AOwner);
  ~TTimer() override;
  std::string ClassName() const override { return "TTimer"; }

  // Disabled timers raise nothing. Enabling needs the application's toolkit (Initialize).
  bool Enabled() const { return FEnabled; }
  void SetEnabled(bool Value);
  // Milliseconds; 0 raises OnTimer as soon as the message loop has nothing else to do.
  int Interval() const { return FInterval; }
  void SetInterval(int Value);

  TNotifyEvent OnTimer;

 private:
  struct Impl;
  void Restart();
  std::unique_ptr<Impl> FImpl;
  bool FEnabled = false;
  int FInterval = 1000;
};

}  // namespace ovelta
