#include "testing/devices/pinpad/PinpadModuleClock.h"

#include "platform/foundation/RunLoop.h"
#include "sdk/pinpad/PPad.h"

namespace devices {

void PinpadModuleClock::step() {
  foundation::RunLoop::main().runOnce(std::chrono::milliseconds(1));
  // A command's answer is on its way; one that has not come for a while of real time is
  // lost, and the command is left to time out as it would.
  if (pad_.transport().commandRunning()) {
    const auto now = std::chrono::steady_clock::now();
    if (!commandSeen_) commandSeen_ = now;
    if (now - *commandSeen_ < kLostAnswer) return;
  } else {
    commandSeen_.reset();
  }
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
