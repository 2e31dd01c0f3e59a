#include "testing/devices/pinpad/PinpadModuleClock.h"

#include "platform/foundation/RunLoop.h"
#include "sdk/pinpad/PPad.h"

namespace devices {

void PinpadModuleClock::step() {
  foundation::RunLoop::main().runOnce(std::chrono::milliseconds(1));
  if (pad_.transport().commandRunning()) return;
  if (device_ && !device_->withModel([](PinpadModel& m) { return m.btOut.empty(); })) return;
  clock_.advance(kStep);
  clock_.waitUntilWaitersSawNow();
}

bool PinpadModuleClock::until(const std::function<bool()>& condition, std::chrono::milliseconds realLimit) {
  const auto giveUp = std::chrono::steady_clock::now() + realLimit;
  while (!condition()) {
    if (std::chrono::steady_clock::now() >= giveUp) return condition();
    step();
  }
  return true;
}

}  // namespace devices
