#pragma once
// A simulated charging case: an accessory with the case's two protocols, control
// ("com.okt.toravel.controls", channel 0) and boot loader ("com.okt.toravel.bootloader",
// channel 1), on the frame-and-command core.
//
// Control side: it answers Initialize with its accessory information, switch positions,
// battery health, capacity and auxiliary information; it keeps the LED mask and the output
// current the host set; inquiry 0x80 powers it off (it detaches). Tests press and release
// its switches and change its battery figures, each sent as the case would.
//
// Boot-loader side: target information, create store, data chunks, end, verify (zlib's
// CRC-32 of what it stored) and install; after an acknowledged install it restarts: it
// detaches and attaches again as a new accessory. Fault knobs for each step are below;
// silence, late, split and garbage replies come from `frames().script(...)` and the base's
// knobs.
//
// Threads: as SimulatedAccessory; the knobs may be set from any thread.

#include <atomic>
#include <memory>
#include <mutex>
#include <thread>

#include "testing/devices/base/FrameCommandSimulator.h"

namespace devices {

class SimulatedChargingCase : public FrameCommandSimulator {
 public:
  static constexpr int kControlChannel = 0;
  static constexpr int kBootloaderChannel = 1;
  // Frame keys: control identifiers are kept apart from boot-loader codes.
  static constexpr uint32_t controlKey(uint8_t identifier) { return 0x100u | identifier; }

  // The case as it announces itself: "Toravel" by "Corvanta, Inc.", model "TORAVEL-PH7",
  // hardware "Rev A", firmware "v1.2.3", a 30-character serial (case, then battery).
  static accessory::AccessoryIdentity defaultIdentity();

  explicit SimulatedChargingCase(accessory::AccessoryIdentity identity = defaultIdentity(),
                                 std::filesystem::path folder = {});
  ~SimulatedChargingCase() override;

  // ---- Control side -----------------------------------------------------------------------------
  struct Battery {
    uint8_t capacity = 75;
    uint16_t voltage = 3700;  // mV
    uint8_t health = 98;
    uint16_t cycles = 12;
    uint16_t maxCapacity = 2500;  // mAh
    uint8_t firmware = 7;
    uint8_t powerSource = 1;  // 1 not charging, 2 charging
  };
  void setPIM(int8_t pim);
  void setBattery(const Battery& battery);
  Battery battery() const;
  // Switch n (1..5) on or off; the new positions go to the host.
  void press(int sw);
  void release(int sw);
  // Sends control messages in one write (a burst the host reads at once).
  void sendControl(const std::vector<Bytes>& messages);
  static Bytes capacityMessage(uint8_t percent, uint16_t millivolts);
  int ledMask() const { return ledMask_.load(); }
  int outputCurrent() const { return current_.load(); }
  bool poweredOff() const { return poweredOff_.load(); }

  // ---- Boot-loader side ----------------------------------------------------------------------
  struct BootFaults {
    size_t targetInfoLength = 8;  // payload bytes of the target-information reply
    bool refuseStore = false;     // create store answered 0
    bool writeError = false;      // chunks answered 0
    bool wrongCrc = false;        // verify answers a CRC off by one
    bool nack = false;            // install answered NACK
    bool noRestart = false;       // acknowledged install, but the case never restarts
  };
  void setBootFaults(const BootFaults& faults);
  // What the case stored and how it was sent.
  Bytes storedImage() const;
  std::vector<size_t> chunkSizes() const;
  int restarts() const { return restarts_.load(); }

 private:
  void registerHandlers();
  Bytes controlState(uint8_t identifier) const;
  void sendSwitches();
  void restart();

  mutable std::mutex mutex_;
  Battery battery_;
  int8_t pim_ = 4;
  uint8_t switches_ = 0;
  BootFaults faults_;
  uint32_t storeSize_ = 0;
  Bytes stored_;
  std::vector<size_t> chunks_;
  std::atomic<int> ledMask_{0};
  std::atomic<int> current_{0};
  std::atomic<bool> poweredOff_{false};
  std::atomic<int> restarts_{0};
  std::mutex restartMutex_;
  bool closing_ = false;
  std::thread restartThread_;
};

}  // namespace devices
