// Feeds arbitrary bytes to the BT301 module driver's receive side, as the accessory relays
// them from the module, with a simulated module behind a fake accessory host: the line reader
// with link events (`bt301ReadLine`, zero time-out) over bytes received while idle, then
// `btAppendData` while a link is up (the link-loss watch) and while listening (the
// incoming-connection watch and its handler, whose questions the host answers from the
// input). Work the driver hands to other threads is run to its end on a manual clock, so no
// wait takes real time. Lines never hold a line break nor pass the line limit; addresses hold
// hexadecimal digits only.
#include <atomic>
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <mutex>
#include <thread>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "sdk/transport/GlobalQueue.h"
#include "sdk/transport/bluetooth/btBT301.h"
#include "testing/devices/bluetooth/SimulatedBT301.h"

namespace {

using namespace kestra;
using foundation::Error;

const std::string kRemote = "00119F0A0B01";

// The accessory around the module: bytes both ways through a simulated module.
class FuzzHost final : public BTModuleHost {
 public:
  std::weak_ptr<btBT301> module;
  std::optional<std::string> pin;
  bool accept = false;

  std::string withSim(const std::function<std::string(devices::SimulatedBT301&)>& f) {
    std::lock_guard l(m_);
    return f(sim_);
  }
  void deliver(const std::string& out) {
    if (out.empty()) return;
    if (auto mod = module.lock()) mod->btAppendData(reinterpret_cast<const uint8_t*>(out.data()), out.size());
  }
  bool _bt301Write(const uint8_t* data, int* length, Error*) override {
    deliver(withSim([&](devices::SimulatedBT301& s) {
      return s.receive(std::string(reinterpret_cast<const char*>(data), size_t(*length)));
    }));
    return true;
  }
  bool _bt301SetEnabled(bool on, Error*) override {
    deliver(withSim([&](devices::SimulatedBT301& s) {
      if (on) return s.powerOn();
      s.powerOff();
      return std::string();
    }));
    return true;
  }
  void bluetoothDeviceConnected(const std::string&) override {}
  void bluetoothDeviceDisconnected(const std::string&) override {}
  bool bluetoothDeviceRequestedConnection(const std::string&, const std::string&) override { return accept; }
  std::optional<std::string> bluetoothDevicePINCodeRequired(const std::string&, const std::string&) override {
    return pin;
  }
  void bluetoothDevicePassKeySent(const std::string&, const std::string&) override {}
  bool clientsRespondToSelector(std::string_view) override { return false; }

 private:
  std::mutex m_;
  devices::SimulatedBT301 sim_;
};

foundation::ManualClock& fuzzClock() {
  static foundation::ScopedManualClock scoped;
  return *scoped;
}

// Moves the clock on until the driver's workers are done, then runs the main queue's work.
void settle() {
  while (GlobalQueue::running() > 0) {
    fuzzClock().advance(std::chrono::milliseconds(500));
    std::this_thread::yield();
  }
  while (foundation::RunLoop::main().runOnce(foundation::Duration::zero())) {
  }
}

// Runs a blocking operation on a thread of its own while the clock moves.
void pumped(const std::function<void()>& op) {
  std::atomic<bool> done{false};
  std::thread t([&] {
    op();
    done = true;
  });
  while (!done) {
    fuzzClock().advance(std::chrono::milliseconds(500));
    std::this_thread::yield();
  }
  t.join();
  settle();
}

bool hexOnly(const std::string& s) {
  return s.size() <= 16 && s.find_first_not_of("0123456789ABCDEF") == std::string::npos;
}

// Hands `bytes` to the module in pieces whose sizes the bytes themselves choose.
void feed(btBT301& module, const uint8_t* bytes, size_t size) {
  for (size_t at = 0; at < size;) {
    const size_t n = std::min<size_t>(1 + bytes[at] % 29, size - at);
    module.btAppendData(bytes + at, n);
    at += n;
  }
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  fuzzClock();
  auto host = std::make_shared<FuzzHost>();
  auto module = btBT301::create();
  host->module = module;
  host->pin = data[0] & 1 ? std::optional<std::string>("0000") : std::nullopt;
  host->accept = data[0] & 2;
  const bool consumeEvents = data[0] & 4;
  module->setControlDelegate(host);
  host->withSim([](devices::SimulatedBT301& s) {
    devices::SimulatedBT301::Remote r;
    r.address = kRemote;
    r.name = "PP-750";
    s.remotes = {r};
    return std::string();
  });
  ++data;
  --size;
  const size_t third = size / 3;

  // Idle: lines with their link events.
  pumped([&] { module->btOpen(nullptr); });
  feed(*module, data, third);
  while (auto line = module->bt301ReadLine(0.0, consumeEvents, nullptr)) {
    if (line->size() > btModule::kLineMax || line->find_first_of("\r\n") != std::string::npos) std::abort();
  }
  settle();

  // A link up: payload watched for link-loss texts.
  module->clear();
  pumped([&] { module->btConnect(kRemote, "", nullptr); });
  feed(*module, data + third, third);
  settle();

  // Listening: incoming links.
  if (!module->btConnectedDevices().empty()) {
    host->withSim([](devices::SimulatedBT301& s) { return s.loseLink(); });
    module->btDeviceDisconnected("");
    settle();
  }
  module->clear();
  pumped([&] { module->btListenForDevices(true, true, "Fuzz", 0x1F00, nullptr); });
  feed(*module, data + 2 * third, size - 2 * third);
  settle();

  if (auto address = module->connectingAddress(); address && !hexOnly(*address)) std::abort();
  for (const auto& a : module->btConnectedDevices())
    if (!hexOnly(a)) std::abort();
  pumped([&] { module->btSetEnabled(false, nullptr); });
  return 0;
}
