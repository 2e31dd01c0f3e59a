#pragma once
// OKTCD: the charging (battery) case. One object per process (`sharedDevice`) notices the
// case being attached and detached, opens its control protocol, reports the connection
// state, turns the case's switches into button presses, keeps the case's identity and
// battery figures, drives its LEDs and its output current, and updates its firmware
// through the `FirmwareLoader`. The facade (`OKTKXDevices`) is its delegate and serves
// battery, charging, current and LED calls from it while the case is connected.
//
// Threads: the case runs on the main thread - accessory notifications, the control
// protocol's replies and the delayed connection announcements arrive there, and the
// firmware update's steps are queued to the main queue. `updateFirmwareData` blocks its
// caller until the update ends, so it must be called from another thread (on the main
// thread it fails at once rather than wait for itself). `sharedDevice` is safe from any
// thread.

#include <condition_variable>
#include <memory>
#include <atomic>
#include <mutex>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/accessory/Accessory.h"
#include "platform/foundation/Error.h"
#include "sdk/device/FirmwareLoader.h"
#include "sdk/device/KXChargingCase.h"
#include "sdk/device/ProtocolControl.h"

namespace kestra {

class KXPhoneBattery;

inline constexpr const char* kCaseManufacturer = "Corvanta, Inc.";
// The control session is announced this long after it opened; without any accessory the
// current state is announced after the longer delay.
inline constexpr foundation::Duration kCaseConnectedDelay = std::chrono::milliseconds(300);
inline constexpr foundation::Duration kCaseNoAccessoryDelay = std::chrono::milliseconds(500);

class OKTCD final : public KXChargingCase,
                    public FirmwareDelegate,
                    public std::enable_shared_from_this<OKTCD> {
 public:
  static std::shared_ptr<OKTCD> sharedDevice();
  // A case over `controller`'s registry and the given phone battery (tests make their own).
  static std::shared_ptr<OKTCD> create(std::shared_ptr<OKTEADSessionController> controller,
                                       std::shared_ptr<KXPhoneBattery> phoneBattery);
  ~OKTCD() override;

  // Whether the accessory is the case: made by "corvanta", named "kestra charge" or
  // "toravel" (case-insensitive).
  static bool isAccessoryToravel(const std::shared_ptr<accessory::Accessory>& accessory);
  // Whether `data` is a case firmware file (at least 33 bytes naming the case at 12..31).
  static bool isToravelFirmware(const Bytes& data);

  void setDelegate(std::weak_ptr<OKTCDDelegate> delegate) override;
  std::shared_ptr<OKTCDDelegate> delegate() const;
  void connect() override;
  void disconnect() override;
  void openSession();
  int connState() override { return connState_.load(); }
  bool isConnected() const { return connected_.load(); }

  // "Name", "Model", "Serial", "FirmwareRev", "HardwareRev": null before a control session
  // ever opened, empty after the case went away.
  nlohmann::json getDeviceInfo() const;
  // The battery figures in full; null while the case is not connected.
  nlohmann::json getBatteryInfo() override;
  // The figures as the last battery reply left them (the short form).
  nlohmann::json batteryInfo() const;

  std::string getAccessoryName() override;
  std::string getAccessoryModel() override;
  std::string getAccessorySerialNumber() override;
  std::string getAccessoryFirmwareRevision() override;
  std::string getAccessoryHardwareRevision() override;
  std::string getAccessoryManufacturer() const { return kCaseManufacturer; }
  int getBatteryCapacity() override { return control_.getBatteryCapacity(); }
  int getBatteryHealth() override { return control_.getBatteryHealth(); }
  int getBatteryChargeCount() const { return control_.getBatteryChargeCount(); }
  int getBatteryMaxCapacity() override { return control_.getBatteryMaxCapacity(); }
  float getBatteryVoltage() override { return float(control_.getBatteryVoltage()) / 1000.0f; }
  float getTemperature() const { return control_.getTemperature(); }
  bool isCharging() override;
  bool isBackupCharge() override;

  void turnOffDevice();
  void turnOnLEDColor(int color) override;
  void turnOffLED() override;
  int ledMask() const { return ledMask_; }
  // Only 500, 1000 and 1500 mA; false (and nothing sent or kept) otherwise or while no
  // control session is open.
  bool setToravelCurrent(int milliamps) override;
  int getToravelCurrent() override { return outputCurrent_; }
  // Sends the kept output current, or 0 to stop sharing; false while no session is open.
  bool enableBatterySharing(bool enabled) override;

  FirmwareLoader& firmwareLoader();
  nlohmann::json getFirmwareFileInformation(const std::optional<Bytes>& data,
                                            foundation::Error* error = nullptr) override;
  bool updateFirmwareData(const std::optional<Bytes>& data, foundation::Error* error = nullptr) override {
    return updateFirmwareData(data, true, error);
  }
  bool updateFirmwareData(const std::optional<Bytes>& data, bool validate,
                          foundation::Error* error = nullptr) override;
  void firmwareUpdateProgress(int phase, int percent) override;
  bool firmwareUpdateCompleted() const { return firmwareUpdateCompleted_; }

  std::string sdkVerison() const { return "1.0.14"; }
  std::string sdkBuildDate() const { return "05/06/2020"; }
  ProtocolControl& protocolControl() { return control_; }

 private:
  struct UpdateWait;
  OKTCD(std::shared_ptr<OKTEADSessionController> controller, std::shared_ptr<KXPhoneBattery> phoneBattery);
  void start();
  void accessoryConnected(const std::shared_ptr<accessory::Accessory>& accessory);
  void accessoryDisconnected(const std::shared_ptr<accessory::Accessory>& accessory);
  void connected();
  void announce(int state);
  void updatePowerSource(int refresh);
  void switchPositions();
  void batteryChanged();
  nlohmann::json batteryDictionary(bool full) const;
  void willEnterForeground();
  void beginUpdate(const std::shared_ptr<UpdateWait>& wait, const std::optional<Bytes>& data, bool validate);
  void endUpdate(bool completed);

  std::shared_ptr<OKTEADSessionController> controller_;
  std::shared_ptr<KXPhoneBattery> phoneBattery_;
  ProtocolControl control_;
  std::unique_ptr<FirmwareLoader> loader_;
  std::weak_ptr<OKTCDDelegate> delegate_;
  mutable std::mutex mutex_;  // the delegate and the running update's wait

  // The state is written on the main thread and read from any (the facade, the agent's
  // workers): the two flags are atomic, the texts and dictionaries under `stateMutex_`.
  std::atomic<int> connState_{0};
  std::atomic<bool> connected_{false};
  mutable std::mutex stateMutex_;  // deviceInfo_, batteryInfo_, powerSource_
  bool buttons_[3] = {false, false, false};
  bool firmwareUpdateCompleted_ = false;
  nlohmann::json deviceInfo_;
  nlohmann::json batteryInfo_ = nlohmann::json::object();
  int ledMask_ = 0;
  int outputCurrent_ = 500;
  std::string powerSource_ = " ";
  std::shared_ptr<UpdateWait> wait_;
  std::shared_ptr<int> alive_ = std::make_shared<int>(0);
};

}  // namespace kestra
