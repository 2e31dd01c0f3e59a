#include "testing/devices/pinpad/PinpadModuleClock.h"

#include "platform/foundation/RunLoop.h"
#include "sdk/pinpad/PPad.h"

namespace devices {

void PinpadModuleClock::step() {
  foundation::RunLoop::main().runOnce(std::chrono::milliseconds(1));
  if (device_) {
    // Held while bytes move, and while a command runs whose answer the pinpad sent (the host
    // is taking it in); a command the pinpad left unanswered, or answers late on this clock,
    // sees time pass and times out as it would.
    const bool answered = device_->lastReadAnswered();
    if (device_->busy() || (answered && pad_.transport().commandRunning())) return;
    if (!device_->withModel([](PinpadModel& m) { return m.btOut.empty(); })) return;
  } else if (pad_.transport().commandRunning()) {
    return;
  }
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

std::vector<SimulatedBT301::Remote> pinpadModuleRemotes() {
  SimulatedBT301::Remote pinpad, nameless, printer;
  pinpad.address = kModulePinpad;
  pinpad.name = "PP-750";
  nameless.address = kModuleNameless;
  printer.address = kModulePrinter;
  printer.name = "Counter KXP-58";
  printer.pairing = SimulatedBT301::Pairing::Pin;
  printer.pin = "1234";
  return {pinpad, nameless, printer};
}

}  // namespace devices
