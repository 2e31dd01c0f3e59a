#pragma once
// VexaCustomDevice: a device the host application drives itself, reported to the management
// server next to the SDK's own devices. The host describes it once, gives functions that
// answer its live values, and registers it with the agent (`OKTVexa::addCustomDevice`); at
// every check-in the agent asks for its plug-in header and its details, which call the
// functions then (nothing is cached).
//
// Keys: the plug-in key is the device name in lower case ("Scale X1" gives "scale x1"); a
// value's check-in key is the plug-in key, "_" and the field key without spaces and with
// "_" made "-".
//
// Threads: any thread; the functions are called on the agent's payload threads, so they must
// be safe to call there.

#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <string>

#include "platform/foundation/Bytes.h"
#include "sdk/agent/OKTVexaPlugins.h"

namespace kestra {

class VexaLocator;

class VexaCustomDevice final : public VexaCustomDevicePlugin {
 public:
  using BatteryBlock = std::function<int32_t()>;
  using FirmwareBlock = std::function<std::string()>;
  using ValueBlock = std::function<nlohmann::json()>;

  // Nothing unless both functions are given. `locator` nullptr: the shared location service.
  static std::shared_ptr<VexaCustomDevice> create(std::string name, std::string model, std::string type,
                                                  std::string manufacturer, std::string serial, BatteryBlock battery,
                                                  FirmwareBlock firmware, VexaLocator* locator = nullptr);

  std::string deviceName() const override { return name_; }
  std::string deviceModel() const override { return model_; }
  std::string deviceSerial() const override { return serial_; }
  std::string deviceManufacturer() const override { return manufacturer_; }
  std::string deviceType() const override { return type_; }
  std::string pluginName() const override { return keyPrefix_; }
  std::string pluginVersion() const override;
  void setPluginVersionMajor(int64_t major, int64_t minor, int64_t build);

  // A later call with the same field key replaces the function and the title.
  void setDeviceValueWithBlock(ValueBlock block, const std::string& field, const std::string& title);
  // Each image given (JPEG bytes, as the host's image type encodes them at quality 1.0)
  // travels as base64 text in the header. The SDK does not link the UI layer, so the host
  // encodes.
  void setDeviceImage(const std::optional<foundation::Bytes>& imageJpeg,
                      const std::optional<foundation::Bytes>& thumbnailJpeg);
  std::string keyForCheckIn(const std::string& key) const { return keyPrefix_ + "_" + key; }

  nlohmann::json getCustomDeviceDetails() override;
  nlohmann::json getCustomDeviceFields() const;
  std::optional<nlohmann::json> getCustomDevicePluginData() override;

 private:
  VexaCustomDevice(std::string name, std::string model, std::string type, std::string manufacturer, std::string serial,
                   BatteryBlock battery, FirmwareBlock firmware, VexaLocator* locator);
  VexaLocator& locator() const;

  const std::string name_, model_, type_, manufacturer_, serial_, keyPrefix_;
  const BatteryBlock battery_;
  const FirmwareBlock firmware_;
  VexaLocator* locator_;
  mutable std::mutex mutex_;  // everything below
  std::map<std::string, ValueBlock> customDeviceInfo_;
  std::map<std::string, std::string> customDeviceNameToField_;
  std::string versionString_, imageBase64String_, thumbnailBase64String_;
};

}  // namespace kestra
