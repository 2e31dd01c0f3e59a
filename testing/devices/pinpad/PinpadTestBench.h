#pragma once
// A pinpad driver connected to a simulated pinpad through the real accessory layer, in a
// folder of its own: an accessory test bench, a `PPad` registered with its manager, a
// recording delegate and a `SimulatedPinpad`. The main queue is run by the caller (the test
// thread) through `runUntil`.
//
// `RecordingPPadDelegate` implements every pinpad callback (or the ones given) and records
// each as one line ("ppadConnectionState:2", "ppadButtonPressed:15", ...).

#include <chrono>
#include <memory>
#include <string>
#include <vector>

#include "sdk/pinpad/PPad.h"
#include "testing/devices/base/AccessoryTestBench.h"
#include "testing/devices/base/RecordingDelegate.h"
#include "testing/devices/pinpad/SimulatedPinpad.h"

namespace devices {

class RecordingPPadDelegate : public RecordingDelegate<kestra::PPadDelegate> {
 public:
  // `selectors` empty: every callback.
  explicit RecordingPPadDelegate(std::vector<std::string_view> selectors = {},
                                 std::shared_ptr<CallRecorder> log = std::make_shared<CallRecorder>(),
                                 std::string tag = {});
  static std::vector<std::string_view> allSelectors();

  // Answers of the asking callbacks.
  bool cardDetectedAnswer = false;
  bool connectionAnswer = false;
  std::optional<std::string> pinAnswer;

  void ppadConnectionState(int state) override;
  void ppadButtonPressed(int button) override;
  void ppadButtonReleased(int button) override;
  void kxdev_debug(const std::string& text, int source) override;
  void kxdev_pogdata(int solution, int command, const foundation::Bytes& data) override;
  void boricaData(const foundation::Bytes& data) override;
  void boricaInternetData(const foundation::Bytes& data) override;
  void kxdev_barcodeData(const foundation::Bytes& barcode) override;
  void barcodeData(const std::string& barcode, int type) override;
  void magneticCardData(const kestra::OptText& t1, const kestra::OptText& t2, const kestra::OptText& t3) override;
  void kxdev_magneticCardEncryptedData(int encryption, int tracks, const foundation::Bytes& data,
                                       const kestra::OptText& t1, const kestra::OptText& t2,
                                       const kestra::OptText& t3, int source) override;
  void magneticCardEncryptedData(int encryption, int tracks, const foundation::Bytes& data) override;
  bool kxdev_magneticCardDetected() override;
  void smartCardInserted(int slot) override;
  void smartCardInserted() override;
  void smartCardRemoved(int slot) override;
  void smartCardRemoved() override;
  void kxdev_emv2Event(const foundation::Bytes& event) override;
  void kxdev_srEvent(int event, int status, const std::string& data) override;
  void firmwareUpdateProgress(int phase, int percent) override;
  void PINEntryComplete(int status) override;
  void bluetoothDiscoverComplete(bool success) override;
  void bluetoothDeviceDiscovered(const std::string& address, const std::string& name) override;
  void bluetoothDeviceConnected(const std::string& address) override;
  void bluetoothDeviceDisconnected(const std::optional<std::string>& address) override;
  bool bluetoothDeviceRequestedConnection(const std::string& address, const std::string& name) override;
  std::optional<std::string> bluetoothDevicePINCodeRequired(const std::string& address,
                                                            const std::string& name) override;
  void bluetoothDevicePassKeySent(const std::string& address, const std::string& passKey) override;
};

class PinpadTestBench {
 public:
  explicit PinpadTestBench(PinpadPersona persona = PinpadPersona::skyrik5000g(),
                           std::string accessoryName = "SKYRIK5000G");
  ~PinpadTestBench();

  // Attaches the pinpad, asks the driver to connect and runs the main queue until the driver
  // is connected and the delegate heard so. False on time-out (real time).
  bool connect(std::chrono::milliseconds timeout = std::chrono::milliseconds(20000));
  // The pinpad is connected and its identification has ended.
  bool identified() const;
  bool runUntil(const std::function<bool()>& condition,
                std::chrono::milliseconds timeout = std::chrono::milliseconds(20000));

  AccessoryTestBench bench;
  std::shared_ptr<kestra::PPad> pad;
  std::shared_ptr<RecordingPPadDelegate> delegate;
  SimulatedPinpad* device = nullptr;

 private:
  PinpadPersona persona_;
  std::string name_;
};

}  // namespace devices
