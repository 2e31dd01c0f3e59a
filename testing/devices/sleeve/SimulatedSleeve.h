#pragma once
// A simulated sleeve behind the accessory layer: the sleeve protocol (SleeveProtocol.h) on
// the frame-and-command helper (testing/devices/base/FrameCommandSimulator.h), so tests
// also script per-command faults through `frames()` (unanswered, late, split, garbage,
// dropped), keyed by the command byte as the host wrote it, besides the base's knobs
// (silence, delays, split delivery, garbage, a link dropped mid-frame).
//
// Its identity announces the sleeve's protocol strings: two channels (barcode and magnetic
// reader) by default, or one. `announceFirmware` false leaves the accessory's firmware
// revision empty, so the driver identifies the sleeve by command.
//
// Tests inject events from any thread (`sendBarcode`, `pressButton`, `swipe`, ...) and
// inspect or change the protocol's state under `withProtocol`.

#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "testing/devices/base/FrameCommandSimulator.h"
#include "testing/devices/rf/SimulatedOmniKey.h"
#include "testing/devices/rf/SimulatedPn544.h"
#include "testing/devices/rf/SimulatedRc663.h"
#include "testing/devices/sleeve/SimulatedSam.h"
#include "testing/devices/bluetooth/SimulatedBT301.h"
#include "testing/devices/bluetooth/SimulatedBluetoothModule.h"
#include "testing/devices/sleeve/SleeveProtocol.h"

namespace devices {

class SimulatedSleeve : public FrameCommandSimulator {
 public:
  struct Options {
    SleeveProtocol::Config config;
    bool announceFirmware = true;
    std::string manufacturer = "SABREL";
    std::filesystem::path folder;  // the SDK's accessory folder when empty
    // The barcode engine behind the pass-through (none: commands 22 and 23 carry nothing).
    std::optional<SimulatedEngine::Family> engine;
  };

  explicit SimulatedSleeve(Options options);
  SimulatedSleeve() : SimulatedSleeve(Options{}) {}
  ~SimulatedSleeve() override;

  // Runs `f` on the protocol state under the device's lock.
  template <class F>
  auto withProtocol(F f) {
    std::lock_guard<std::mutex> lock(mutex_);
    return f(protocol_);
  }

  // The Bluetooth module inside the sleeve (module commands 29, events 0x1E), under the
  // device's lock.
  template <class F>
  auto withBluetooth(F f) {
    std::lock_guard<std::mutex> lock(mutex_);
    return f(bluetooth_);
  }
  // Sends one module event [code][data] as a 0x1E record.
  void sendBluetoothEvent(const Bytes& event);

  // The AT-command module inside the sleeve (commands 18-20), under the device's lock. What
  // it has for the host waits for the host's command 19 on firmware before 2.81, and is
  // pushed as 0x1E data events from 2.81 on.
  template <class F>
  auto withBT301(F f) {
    std::lock_guard<std::mutex> lock(mutex_);
    return f(bt301_);
  }
  // Bytes the AT-command module sends on its own (a remote device's data, a link event).
  void bt301Sends(const std::string& bytes);
  // Command-19 polls the host made.
  int bt301Polls();
  // Power-on answers "module inactive" until a scan has been started since this was set.
  void setBT301Inactive(bool inactive);

  void sendBarcode(const std::string& text, uint8_t engineCode = 'T');
  void pressButton(uint8_t state);
  void swipe(const std::optional<std::string>& track1, const std::optional<std::string>& track2,
             const std::optional<std::string>& track3 = std::nullopt);
  void sendRawCard(const Bytes& data);
  void sendEvent(int channel, uint8_t code, const Bytes& payload);
  // Sends one output (an event frame), split at `boundaries` when given.
  void emit(const SleeveProtocol::Output& out, const std::vector<size_t>& boundaries = {});

  static accessory::AccessoryIdentity identityFor(const Options& options);

  // Restarts the sleeve as a power cycle does (detach, then attach again): as `firmware`
  // (its version text), or into its boot loader when `firmware` is empty, where it offers
  // one channel beside the updater protocol and answers only its identification and the
  // loader's commands. The boot loader's F3 calls it; a test calls it after a scripted power
  // loss, and it returns once the sleeve is attached again. Any thread but the device's.
  void restart(const std::string& firmware);
  // Detaches for good: a power cycle under way (and any queued) finishes first, and none
  // asked for afterwards attaches the sleeve again. A test bench's teardown calls it; so does
  // the destructor. Any thread but the device's.
  void unplug();
  // The text the boot loader identifies itself with.
  static constexpr const char* kBootLoaderFirmware = "0.00";

  // Puts an rc663 reader module inside the sleeve: reader frames of commands 32, 34 and 57
  // go to it, and everything it sends comes to the host as RF events (0x1F).
  void attachRfReader(std::shared_ptr<SimulatedRc663> module);
  // A pn544 controller instead (SimulatedSleeveReaders.cpp): command 32's reader bytes after
  // the prefix 02 go to it, its link frames come back as RF events.
  void attachPn544(std::shared_ptr<SimulatedPn544> controller);
  // An omniKey CCID reader: the CCID messages of commands 34 and 57 are answered in the
  // command's reply; slot notifications come as RF events.
  void attachOmniKey(std::shared_ptr<SimulatedOmniKey> reader);
  // A SAM in the slot: command 60 goes to it; its iClass frames come as events 0x3D.
  void attachSam(std::shared_ptr<SimulatedSam> sam);

 protected:
  void onBytes(int channel, const uint8_t* data, size_t length) override;

 private:
  mutable std::mutex mutex_;
  SleeveProtocol protocol_;
  SimulatedBluetoothModule bluetooth_;
  SimulatedBT301 bt301_;
  std::string bt301Pending_;  // module output the host has not fetched yet
  int bt301Polls_ = 0;
  std::optional<int> bt301InactiveUntilScan_;  // the scan count it waits to pass
  // Module output, under `mutex_`: kept for command 19, or returned as the event to push.
  std::optional<SleeveProtocol::Output> bt301Output(const std::string& bytes);
  bool pushesModuleData() const;
  // Sends an event frame the sleeve's modules made, after the reply of the command being
  // handled when there is one.
  void moduleEvent(uint8_t code, const Bytes& data);

  std::shared_ptr<SimulatedRc663> rfModule_;
  std::vector<Bytes> pendingEvents_;  // module events made while a command is handled
  static thread_local bool answeringCommand_;
  Options options_;

  // Power cycles (a restart, a power loss) run in order on one power thread: detaching joins
  // the device thread, where most of them are asked for, so that thread never waits for one.
  void queuePowerCycle(std::function<void()> cycle);
  void powerMain();
  std::mutex powerMutex_;
  std::condition_variable powerChanged_;
  std::deque<std::function<void()>> powerCycles_;
  uint64_t powerCyclesQueued_ = 0;
  uint64_t powerCyclesDone_ = 0;
  bool unplugged_ = false;
  std::thread powerThread_;
};

}  // namespace devices
