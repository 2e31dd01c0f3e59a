#pragma once
// A sleeve driver connected to a simulated sleeve through the real accessory layer, in a
// folder of its own: a registry, a run-loop thread, an accessory manager, a `Pellan` and a
// `SimulatedSleeve`, for tests and benchmarks. The main queue is run by the caller (the
// test thread) through `runUntil`.
//
// `RecordingPellanDelegate` implements every sleeve callback and records each as one line
// of text ("connectionState:2", "pellanButtonPressed:1", ...), noting whether every call
// arrived on the main thread (testing/devices/base/RecordingDelegate.h).

#include <atomic>
#include <chrono>
#include <filesystem>
#include <functional>
#include <memory>
#include <mutex>
#include <string>
#include <vector>

#include "platform/accessory/AccessoryManager.h"
#include "platform/foundation/Clock.h"
#include "sdk/sleeve/Pellan.h"
#include "sdk/transport/EAManager.h"
#include "sdk/transport/KXUNISDKCommRunLoop.h"
#include "testing/devices/base/RecordingDelegate.h"
#include "testing/devices/sleeve/SimulatedSleeve.h"

namespace devices {

class RecordingPellanDelegate : public RecordingDelegate<kestra::PellanDelegate> {
 public:
  // `selectors` empty: every callback; otherwise only these.
  explicit RecordingPellanDelegate(std::vector<std::string_view> selectors = {},
                                   std::string tag = {});

  void connectionState(int state) override;
  void deviceFeatureSupported(int feature, int value) override;
  void pellanButtonPressed(int button) override;
  void pellanButtonReleased(int button) override;
  void kxdev_debug(const std::string& text, int source) override;
  void kxdev_barcodeData(const foundation::Bytes& barcode) override;
  void kxdev_uhfCard(int pc, const foundation::Bytes& epc) override;
  void kxdev_magneticPassbookData(const foundation::Bytes& data) override;
  void kxdev_magneticCTDOTData(const foundation::Bytes& data) override;
  void magneticCardData(const std::optional<std::string>& t1, const std::optional<std::string>& t2,
                        const std::optional<std::string>& t3) override;
  void magneticJISCardData(const std::string& data) override;
  void magneticF2FCardData(const std::string& data) override;
  void magneticCardRawData(const foundation::Bytes& data) override;
  void handleEvent(const foundation::Bytes& data) override;
  void bluetoothDevicePassKeySent(const std::string& address, const std::string& passKey) override;
  void barcodeNSData(const foundation::Bytes& barcode, int type) override;
  void barcodeData(const std::string& barcode, int type) override;
};

class SleeveTestBench {
 public:
  explicit SleeveTestBench(SimulatedSleeve::Options options = {});
  ~SleeveTestBench();

  // Attaches the sleeve, asks the driver to connect and runs the main queue until the
  // driver is connected and the delegate has heard so. False on time-out (real time).
  bool connect(std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));
  // Runs the main queue until `condition` holds (real-time bound).
  bool runUntil(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout = std::chrono::milliseconds(20000));
  // Under a manual clock: runs the main queue and advances `clock` by `step` until
  // `condition` holds or `limit` of clock time has passed. A thread that had not yet begun
  // a clock wait when the clock first moved is carried past its time-out all the same.
  bool advanceUntil(foundation::ManualClock& clock, const std::function<bool()>& condition,
                    foundation::Duration step = std::chrono::milliseconds(100),
                    foundation::Duration limit = std::chrono::seconds(60));

  std::filesystem::path folder;
  std::unique_ptr<accessory::AccessoryManager> registry;
  std::unique_ptr<kestra::KXUNISDKCommRunLoop> commRunLoop;
  std::shared_ptr<kestra::EAManager> manager;
  std::shared_ptr<kestra::Pellan> pellan;
  std::unique_ptr<SimulatedSleeve> sleeve;
  std::shared_ptr<RecordingPellanDelegate> delegate;
};

}  // namespace devices
