#pragma once
// Test fixture: a sleeve driver connected to a simulated sleeve (SleeveTestBench.h), after
// which a manual clock is installed and moved on in the background, so the driver's
// pauses, polls and time-outs (50 ms to 35 s) pass in a fraction of real time. The clock
// holds still while bytes are on their way between driver and sleeve, and while another
// thread has work in hand (the common run-loop thread handing on bytes it has read), so that
// no reply wait ends and no count of retries comes short because the machine is slow. Tests
// reach the simulated modules behind the pass-through through `modules`.

#include <sys/syscall.h>
#include <unistd.h>

#include <atomic>
#include <filesystem>
#include <fstream>
#include <functional>
#include <string>
#include <thread>

#include "platform/foundation/Clock.h"
#include "testing/devices/sleeve/SleeveTestBench.h"

namespace kestra::testing {

class ClockPump {
 public:
  // `hold` (when given) says when the clock must not move on.
  explicit ClockPump(foundation::ManualClock& clock, std::function<bool()> hold = {})
      : clock_(clock), hold_(std::move(hold)), thread_([this] {
          while (!stop_) {
            if (!hold_ || !hold_()) clock_.advance(std::chrono::milliseconds(10));
            std::this_thread::sleep_for(std::chrono::milliseconds(1));
          }
        }) {}
  ~ClockPump() {
    stop_ = true;
    thread_.join();
  }

 private:
  foundation::ManualClock& clock_;
  const std::function<bool()> hold_;
  std::atomic<bool> stop_{false};
  std::thread thread_;
};

// Whether a thread of this process other than the caller is running or ready to run (state
// "R" in /proc/self/task/*/stat): the common run-loop thread handing bytes it has read to a
// driver, say, or a read thread with a reply in hand, which a loaded machine has not run yet.
// Linux.
inline bool anotherThreadRunnable() {
  const std::string self = std::to_string(::syscall(SYS_gettid));
  std::error_code ec;
  for (const auto& task : std::filesystem::directory_iterator("/proc/self/task", ec)) {
    if (task.path().filename() == self) continue;
    std::string stat;
    std::getline(std::ifstream(task.path() / "stat"), stat);
    const auto end = stat.rfind(')');  // the state follows the thread's name in parentheses
    if (end != std::string::npos && end + 2 < stat.size() && stat[end + 2] == 'R') return true;
  }
  return false;
}

inline devices::SimulatedSleeve::Options sleeveWith(std::optional<devices::SimulatedEngine::Family> engine,
                                                   std::string model, std::string firmware = "2.64",
                                                   int channels = 2) {
  devices::SimulatedSleeve::Options o;
  o.engine = engine;
  o.config.model = std::move(model);
  o.config.firmware = std::move(firmware);
  o.config.channels = channels;
  return o;
}

struct PumpedSleeve {
  explicit PumpedSleeve(devices::SimulatedSleeve::Options options) : bench(std::move(options)) {
    connected = bench.connect();
    clock = std::make_unique<foundation::ScopedManualClock>();
    pump = std::make_unique<ClockPump>(**clock, [this] {
      return bench.sleeve->busy() || anotherThreadRunnable();
    });
  }
  ~PumpedSleeve() {
    pump.reset();
    clock.reset();
  }

  template <class F>
  auto modules(F f) {
    return bench.sleeve->withProtocol([&](devices::SleeveProtocol& p) { return f(p.passThrough); });
  }
  template <class E, class F>
  auto engine(F f) {
    return modules([&](devices::SleeveModules& m) { return f(static_cast<E&>(*m.engine)); });
  }
  // The data of every host frame with `code` on channel 0, in order.
  std::vector<foundation::Bytes> sent(uint8_t code) {
    return bench.sleeve->withProtocol([&](devices::SleeveProtocol& p) {
      std::vector<foundation::Bytes> out;
      for (const auto& f : p.hostFrames())
        if (f.code == code) out.push_back(f.data);
      return out;
    });
  }
  std::vector<uint8_t> codes() {
    return bench.sleeve->withProtocol([&](devices::SleeveProtocol& p) {
      std::vector<uint8_t> out;
      for (const auto& f : p.hostFrames()) out.push_back(f.code);
      return out;
    });
  }
  void forget() { bench.sleeve->withProtocol([](devices::SleeveProtocol& p) { p.clearHostFrames(); }); }

  devices::SleeveTestBench bench;
  bool connected = false;
  std::unique_ptr<foundation::ScopedManualClock> clock;
  std::unique_ptr<ClockPump> pump;
};

}  // namespace kestra::testing
