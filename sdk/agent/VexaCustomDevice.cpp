#include "sdk/agent/VexaCustomDevice.h"

#include <algorithm>
#include <cctype>
#include <cstdio>

#include "sdk/agent/VexaLocator.h"
#include "sdk/foundation/KXBase64.h"

namespace kestra {

namespace {

using nlohmann::json;

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return text;
}

std::string upper(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::toupper(c)); });
  return text;
}

std::string coordinate(double value) {
  char text[64];
  std::snprintf(text, sizeof text, "%f", value);
  return text;
}

std::string base64(const foundation::Bytes& bytes) { return KXBase64::encodeBase64WithData(bytes).value_or(""); }

}  // namespace

std::shared_ptr<VexaCustomDevice> VexaCustomDevice::create(std::string name, std::string model, std::string type,
                                                           std::string manufacturer, std::string serial,
                                                           BatteryBlock battery, FirmwareBlock firmware,
                                                           VexaLocator* locator) {
  if (!battery || !firmware) return nullptr;
  return std::shared_ptr<VexaCustomDevice>(new VexaCustomDevice(std::move(name), std::move(model), std::move(type),
                                                                std::move(manufacturer), std::move(serial),
                                                                std::move(battery), std::move(firmware), locator));
}

VexaCustomDevice::VexaCustomDevice(std::string name, std::string model, std::string type, std::string manufacturer,
                                   std::string serial, BatteryBlock battery, FirmwareBlock firmware,
                                   VexaLocator* locator)
    : name_(std::move(name)),
      model_(std::move(model)),
      type_(std::move(type)),
      manufacturer_(std::move(manufacturer)),
      serial_(upper(std::move(serial))),
      keyPrefix_(lower(name_)),
      battery_(std::move(battery)),
      firmware_(std::move(firmware)),
      locator_(locator) {
  const ValueBlock batteryValue = [b = battery_] { return json(b()); };
  const ValueBlock firmwareValue = [f = firmware_] { return json(f()); };
  customDeviceInfo_["battery"] = batteryValue;
  customDeviceInfo_[keyForCheckIn("batteryLevel")] = batteryValue;
  customDeviceNameToField_[keyForCheckIn("batteryLevel")] = "Battery Level";
  customDeviceInfo_["firmware"] = firmwareValue;
  customDeviceInfo_[keyForCheckIn("firmware")] = firmwareValue;
  customDeviceNameToField_[keyForCheckIn("firmware")] = "Device Firmware";
}

VexaLocator& VexaCustomDevice::locator() const { return locator_ ? *locator_ : VexaLocator::sharedLocator(); }

std::string VexaCustomDevice::pluginVersion() const {
  std::lock_guard lock(mutex_);
  return versionString_.size() >= 5 ? versionString_ : "1.0.0";
}

void VexaCustomDevice::setPluginVersionMajor(int64_t major, int64_t minor, int64_t build) {
  std::lock_guard lock(mutex_);
  versionString_ = std::to_string(major) + "." + std::to_string(minor) + "." + std::to_string(build);
}

void VexaCustomDevice::setDeviceValueWithBlock(ValueBlock block, const std::string& field, const std::string& title) {
  std::string key = field;
  key.erase(std::remove(key.begin(), key.end(), ' '), key.end());
  std::replace(key.begin(), key.end(), '_', '-');
  std::lock_guard lock(mutex_);
  customDeviceInfo_[keyForCheckIn(key)] = std::move(block);
  customDeviceNameToField_[keyForCheckIn(key)] = title;
}

void VexaCustomDevice::setDeviceImage(const std::optional<foundation::Bytes>& imageJpeg,
                                      const std::optional<foundation::Bytes>& thumbnailJpeg) {
  std::lock_guard lock(mutex_);
  if (imageJpeg) imageBase64String_ = base64(*imageJpeg);
  if (thumbnailJpeg) thumbnailBase64String_ = base64(*thumbnailJpeg);
}

json VexaCustomDevice::getCustomDeviceDetails() {
  std::map<std::string, ValueBlock> blocks;
  {
    std::lock_guard lock(mutex_);
    blocks = customDeviceInfo_;
  }
  json details = json::object();
  const std::string batteryKey = keyForCheckIn("batteryLevel");
  // The host's functions run without the lock: they may call back into this object.
  for (const auto& [key, block] : blocks) {
    if (key == "battery") continue;
    details[key] = key == batteryKey ? json(std::to_string(battery_())) : block();
  }
  details["battery"] = std::to_string(battery_());
  details["firmware"] = firmware_();
  details["lat"] = coordinate(locator().lastLatitude());
  details["lng"] = coordinate(locator().lastLongitude());
  return details;
}

json VexaCustomDevice::getCustomDeviceFields() const {
  std::lock_guard lock(mutex_);
  json fields = json::array();
  int64_t order = 0;
  for (const auto& [key, title] : customDeviceNameToField_)
    fields.push_back({{"field", key}, {"name", title}, {"displayType", "string"}, {"order", std::to_string(order++)}});
  return fields;
}

std::optional<json> VexaCustomDevice::getCustomDevicePluginData() {
  const json fields = getCustomDeviceFields();
  const std::string version = pluginVersion();
  std::lock_guard lock(mutex_);
  return json{{"serviceType", "device_plugin"},
              {"payload",
               {{"type", "device_plugin"},
                {"version", version},
                {"plugin", keyPrefix_},
                {"name", name_},
                {"fields", fields},
                {"image", imageBase64String_},
                {"thumbnail", thumbnailBase64String_}}}};
}

}  // namespace kestra
