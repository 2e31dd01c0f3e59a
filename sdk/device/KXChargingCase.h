#pragma once
// The charging case and the device-management agent as the facade uses them, with stand-ins
// until their drivers are part of the build.
//
// The stand-in case reports no case (state 0, empty identity, nothing served); the stand-in
// agent keeps nothing and logs nothing. Both are stateless apart from the case's delegate.
//
// Threads: any thread. The case reports its events to its delegate on its own threads.

#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"
#include "sdk/device/KXDeviceDelegate.h"

namespace kestra {

class KXChargingCase {
 public:
  virtual ~KXChargingCase() = default;
  virtual void setDelegate(std::weak_ptr<OKTCDDelegate> delegate) = 0;
  // Opens the control session unless connected already.
  virtual void connect() = 0;
  // Closes it and reports state 0 to the delegate.
  virtual void disconnect() = 0;
  // 0 disconnected, 1 connecting, 2 connected.
  virtual int connState() = 0;
  virtual std::string getAccessoryName() = 0;
  virtual std::string getAccessoryModel() = 0;
  virtual std::string getAccessorySerialNumber() = 0;
  virtual std::string getAccessoryHardwareRevision() = 0;
  virtual std::string getAccessoryFirmwareRevision() = 0;
  virtual int getBatteryCapacity() = 0;
  virtual float getBatteryVoltage() = 0;
  virtual int getBatteryHealth() = 0;
  virtual int getBatteryMaxCapacity() = 0;
  virtual bool isCharging() = 0;
  virtual nlohmann::json getBatteryInfo() = 0;
  // Whether the phone's battery is charging or full.
  virtual bool isBackupCharge() = 0;
  virtual bool enableBatterySharing(bool enabled) = 0;
  virtual int getToravelCurrent() = 0;
  // Only 500, 1000 and 1500 mA are accepted.
  virtual bool setToravelCurrent(int milliamps) = 0;
  virtual void turnOffLED() = 0;
  // 0, 1 or 2 adds that LED to the lit set; 3 clears the set.
  virtual void turnOnLEDColor(int color) = 0;
  // Flashes a firmware image into the case; blocks until the update has ended. Cases that
  // cannot be updated refuse.
  virtual bool updateFirmwareData(const std::optional<foundation::Bytes>& data, foundation::Error* error = nullptr) {
    return updateFirmwareData(data, true, error);
  }
  // A case firmware file's information ("firmwareRevision", "deviceName", ...); null for data
  // that is no case firmware file, and from a case that cannot read such files.
  virtual nlohmann::json getFirmwareFileInformation(const std::optional<foundation::Bytes>& /*data*/,
                                                    foundation::Error* /*error*/ = nullptr) {
    return nullptr;
  }
  virtual bool updateFirmwareData(const std::optional<foundation::Bytes>& /*data*/, bool /*validate*/,
                                  foundation::Error* error = nullptr) {
    return foundation::fail(error, foundation::Error("KestraSDK", -9, "Firmware update is not supported"));
  }
};

class KXChargingCaseStandIn final : public KXChargingCase {
 public:
  void setDelegate(std::weak_ptr<OKTCDDelegate> delegate) override { delegate_ = std::move(delegate); }
  void connect() override {}
  void disconnect() override {
    if (auto d = delegate_.lock()) d->toravelConnectionState(0);
  }
  int connState() override { return 0; }
  std::string getAccessoryName() override { return {}; }
  std::string getAccessoryModel() override { return {}; }
  std::string getAccessorySerialNumber() override { return {}; }
  std::string getAccessoryHardwareRevision() override { return {}; }
  std::string getAccessoryFirmwareRevision() override { return {}; }
  int getBatteryCapacity() override { return 0; }
  float getBatteryVoltage() override { return 0; }
  int getBatteryHealth() override { return 0; }
  int getBatteryMaxCapacity() override { return 0; }
  bool isCharging() override { return false; }
  nlohmann::json getBatteryInfo() override { return nullptr; }
  bool isBackupCharge() override { return false; }
  bool enableBatterySharing(bool) override { return false; }
  int getToravelCurrent() override { return 0; }
  bool setToravelCurrent(int) override { return false; }
  void turnOffLED() override {}
  void turnOnLEDColor(int) override {}

 private:
  std::weak_ptr<OKTCDDelegate> delegate_;
};

// The device-management agent: the facade adds itself to its delegates and logs delegate
// table failures through it.
class KXDeviceAgent {
 public:
  virtual ~KXDeviceAgent() = default;
  virtual void addDelegate(const std::shared_ptr<KXDeviceDelegate>& delegate) = 0;
  // A line for the agent's log file (when its logging is on).
  virtual void VexaLog(const std::string& line) = 0;
};

class KXDeviceAgentStandIn final : public KXDeviceAgent {
 public:
  void addDelegate(const std::shared_ptr<KXDeviceDelegate>&) override {}
  void VexaLog(const std::string&) override {}
};

// The process's agent (sdk/agent), made on first use; the stand-in where the agent is not
// part of the build.
std::shared_ptr<KXDeviceAgent> registerDeviceAgent() __attribute__((weak));

}  // namespace kestra
