// TTimer on a Qt timer owned by the component.
#include "platform/ui/Timers.h"

#include <QTimer>
#include <algorithm>

#include "platform/ui/Application.h"

namespace ovelta {

struct TTimer::Impl {
  std::unique_ptr<QTimer> Timer;
};

TTimer::TTimer(TComponent* AOwner) : TComponent(AOwner), FImpl(std::make_unique<Impl>()) {}

TTimer::~TTimer() = default;

void TTimer::SetEnabled(bool Value) {
  FEnabled = Value;
  Restart();
}

void TTimer::SetInterval(int Value) {
  FInterval = std::max(Value, 0);
  Restart();
}

void TTimer::Restart() {
  if (!FEnabled) {
    if (FImpl->Timer) FImpl->Timer->stop();
    return;
  }
  if (!FImpl->Timer) {
    Application().Initialize();
    FImpl->Timer = std::make_unique<QTimer>();
    QObject::connect(FImpl->Timer.get(), &QTimer::timeout, [this] {
      if (FEnabled && OnTimer) GuardedCall(this, [this] { OnTimer(this); });
    });
  }
  FImpl->Timer->start(FInterval);
}

}  // namespace ovelta
