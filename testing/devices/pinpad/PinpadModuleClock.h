#pragma once
// Time for tests of the pinpad's Bluetooth module under a manual clock. The module driver
// pauses (the power cycle, the name pause of a discovery, the guard time before the escape)
// and waits for the module's lines; this moves the clock in small steps while the main queue
// runs. It holds the clock still while bytes are on their way between host and pinpad, while
// a pinpad command runs whose answer the pinpad has sent (only a command the pinpad left
// unanswered or answers late sees time pass), and while the simulated pinpad keeps module
// bytes that the host has not drained yet, so that no command or read gives up on an answer
// that is on its way, however slowly the machine runs.

#include <chrono>
#include <functional>
#include <future>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Clock.h"
#include "testing/devices/pinpad/SimulatedPinpad.h"

namespace kestra {
class PPad;
}

namespace devices {

class PinpadModuleClock {
 public:
  static constexpr foundation::Duration kStep = std::chrono::milliseconds(10);

  PinpadModuleClock(foundation::ManualClock& clock, kestra::PPad& pad) : clock_(clock), pad_(pad) {}
  void setDevice(SimulatedPinpad* device) { device_ = device; }

  // Runs the main queue once, then moves the clock one step unless an answer is on its way.
  void step();
  // Steps until `condition` holds (real time `realLimit` as a safety net).
  bool until(const std::function<bool()>& condition,
             std::chrono::milliseconds realLimit = std::chrono::milliseconds(30000));
  // Runs `f` on a worker (the calls block) and steps until it returns; its result.
  template <class F>
  auto run(F f) {
    auto pending = std::async(std::launch::async, std::move(f));
    until([&] { return pending.wait_for(std::chrono::seconds(0)) == std::future_status::ready; });
    return pending.get();
  }
  foundation::MonoTime now() const { return clock_.now(); }

 private:
  foundation::ManualClock& clock_;
  kestra::PPad& pad_;
  SimulatedPinpad* device_ = nullptr;
};

// The remote devices the pinpad module tests find: a pinpad, a device without a name, and a
// printer that asks for the PIN "1234".
inline const std::string kModulePinpad = "00119F0A0B01";
inline const std::string kModuleNameless = "00119F0A0B02";
inline const std::string kModulePrinter = "00119F0A0B03";
std::vector<SimulatedBT301::Remote> pinpadModuleRemotes();

}  // namespace devices
