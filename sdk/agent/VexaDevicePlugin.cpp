#include "sdk/agent/VexaDevicePlugin.h"

#include <cstdio>
#include <exception>
#include <nlohmann/json.hpp>

#include "sdk/agent/VexaLocator.h"
#include "sdk/device/OKTKXDevices.h"

namespace kestra {

namespace {

using Member = VexaDeviceMember;

std::string format(const char* pattern, auto... args) { return Member::format(pattern, args...); }

// The facade as the plug-ins ask it; the facade's own errors are not looked at.
class FacadePluginDevice final : public VexaPluginDevice {
 public:
  explicit FacadePluginDevice(OKTKXDevices& facade) : f_(facade) {}
  int connstate() override { return f_.connstate(); }
  std::optional<std::string> sdkVersionString() override { return f_.sdkVersionString(); }
  std::optional<std::string> serialNumber() override { return f_.serialNumber(); }
  std::optional<std::string> deviceName() override { return f_.deviceName(); }
  std::optional<std::string> deviceModel() override { return f_.deviceModel(); }
  std::optional<std::string> firmwareRevision() override { return f_.firmwareRevision(); }
  std::optional<std::string> hardwareRevision() override { return f_.hardwareRevision(); }
  std::shared_ptr<KXBatteryInfo> getBatteryInfo() override { return f_.getBatteryInfo(); }
  bool getUSBChargeCurrent(int* current) override { return f_.getUSBChargeCurrent(current); }
  bool getCharging(bool* charging) override { return f_.getCharging(charging); }
  bool getPassThroughSync(bool* enabled) override { return f_.getPassThroughSync(enabled); }
  bool barcodeGetScanMode(int* mode) override { return f_.barcodeGetScanMode(mode); }
  int getSupportedFeature(int feature) override { return f_.getSupportedFeature(feature); }
  bool getAutoOffWhenIdle(double* idleSeconds) override {
    double disconnected = 0;
    return f_.getAutoOffWhenIdle(idleSeconds, &disconnected);
  }
  bool getKioskMode(bool* enabled) override { return f_.getKioskMode(enabled); }
  bool uiIsSpeakerAutoControlEnabled(bool* enabled) override { return f_.uiIsSpeakerAutoControlEnabled(enabled); }
  bool uiIsSpeakerButtonEnabled(bool* enabled) override { return f_.uiIsSpeakerButtonEnabled(enabled); }
  bool uiIsSpeakerEnabled(bool* enabled) override { return f_.uiIsSpeakerEnabled(enabled); }
  std::optional<KXKeyInfo> ppadGetKeyInfo(int position, foundation::Error* error) override {
    return f_.ppadGetKeyInfo(position, error);
  }
  std::optional<foundation::Bytes> ppadGetDUKPTKeyKSN(int slot, foundation::Error* error) override {
    return f_.ppadGetDUKPTKeyKSN(slot, error);
  }
  std::optional<EMSRDeviceInfo> emsrGetDeviceInfo() override { return f_.emsrGetDeviceInfo(); }
  bool emsrIsTampered(bool* tampered) override { return f_.emsrIsTampered(tampered); }
  std::optional<EMSRKeysInfo> emsrGetKeysInfo() override { return f_.emsrGetKeysInfo(); }
  std::optional<std::string> barcodeZebraGetVersion() override { return f_.barcodeZebraGetVersion(); }
  std::optional<foundation::Bytes> barcodeIntermecQuery(const foundation::Bytes& command) override {
    return f_.barcodeIntermecQuery(command);
  }
  std::optional<foundation::Bytes> barcodeNewlandQuery(const foundation::Bytes& command) override {
    return f_.barcodeNewlandQuery(command);
  }
  std::optional<std::string> barcodeOpticonGetIdent() override { return f_.barcodeOpticonGetIdent(); }
  // The Code engine's information record in its text form: "{", one "    key = value;" line
  // per field in key order, "}".
  std::optional<std::string> barcodeCodeGetInformation() override {
    const auto record = f_.barcodeCodeGetInformation();
    if (!record) return std::nullopt;
    std::string text = "{\n";
    for (const auto& [key, value] : *record) text += "    " + key + " = " + value + ";\n";
    return text + "}";
  }
  std::optional<std::string> btGetFirmwareVersion(foundation::Error* error) override {
    return f_.btGetFirmwareVersion(error);
  }

 private:
  OKTKXDevices& f_;
};

}  // namespace

std::shared_ptr<VexaPluginDevice> VexaPluginDevice::overFacade(OKTKXDevices& facade) {
  return std::make_shared<FacadePluginDevice>(facade);
}

VexaDeviceMember::VexaDeviceMember(std::string plugin, std::string name, std::string version, std::vector<Key> keys,
                                   std::vector<PlainKey> plainKeys, VexaLocator* locator)
    : plugin_(std::move(plugin)),
      name_(std::move(name)),
      version_(std::move(version)),
      keys_(std::move(keys)),
      plainKeys_(std::move(plainKeys)),
      locator_(locator) {}

void VexaDeviceMember::setKxDevice(std::shared_ptr<VexaPluginDevice> device) {
  std::lock_guard lock(mutex_);
  device_ = std::move(device);
}

std::shared_ptr<VexaPluginDevice> VexaDeviceMember::device() {
  {
    std::lock_guard lock(mutex_);
    if (device_) return device_;
  }
  return VexaPluginDevice::overFacade(OKTKXDevices::sharedDevice());
}

nlohmann::json VexaDeviceMember::getKXDeviceDetails() {
  Values values;
  for (const auto& k : keys_) values[k.key] = k.start;
  const auto dev = device();
  if (dev->connstate() == 2) {
    try {
      readValues(*dev, values);
    } catch (const std::exception&) {
      // The reading stops here; what was read stays.
    }
  }
  nlohmann::json details = nlohmann::json::object();
  for (const auto& k : keys_) {
    const auto& value = values[k.key];
    details[keyForCheckIn(k.key)] = value ? *value : k.fallback;
  }
  for (const auto& p : plainKeys_) {
    const auto& value = values[p.source];
    details[p.key] = value ? *value : p.fallback;
  }
  VexaLocator& locator = locator_ ? *locator_ : VexaLocator::sharedLocator();
  details["lat"] = format("%f", locator.lastLatitude());
  details["lng"] = format("%f", locator.lastLongitude());
  std::lock_guard lock(mutex_);
  details_ = std::make_shared<const nlohmann::json>(details);
  return details;
}

nlohmann::json VexaDeviceMember::getKXDevicePluginData() {
  nlohmann::json payload = {{"type", "device_plugin"},
                            {"version", version()},
                            {"plugin", plugin()},
                            {"name", name()},
                            {"fields", getKXDeviceFields()}};
  {
    std::lock_guard lock(mutex_);
    fields_ = std::make_shared<const nlohmann::json>(payload["fields"]);
  }
  return {{"serviceType", "device_plugin"}, {"payload", std::move(payload)}};
}

std::optional<nlohmann::json> VexaDeviceMember::deviceInfo() {
  std::lock_guard lock(mutex_);
  nlohmann::json info = nlohmann::json::object();
  if (details_) info["details"] = *details_;
  if (fields_) info["fields"] = *fields_;
  return info;
}

nlohmann::json VexaDeviceMember::createField(const std::string& field, const std::string& name,
                                             const std::string& displayType, int64_t order) const {
  return {{"field", keyForCheckIn(field)},
          {"name", name},
          {"displayType", displayType},
          {"order", std::to_string(order)}};
}

nlohmann::json VexaDeviceMember::createField(const std::string& field, const std::string& name,
                                             const std::string& displayType, int64_t order, bool configurable,
                                             const std::optional<std::string>& type,
                                             const std::optional<std::string>& regEx,
                                             const std::optional<std::string>& values,
                                             const std::optional<std::string>& min,
                                             const std::optional<std::string>& max) const {
  nlohmann::json record = createField(field, name, displayType, order);
  record["configurable"] = configurable ? "true" : "false";
  if (type) record["type"] = *type;
  if (regEx) record["regEx"] = *regEx;
  if (values) record["values"] = *values;
  if (min) record["min"] = *min;
  if (max) record["max"] = *max;
  return record;
}

std::string VexaDeviceMember::barcodeScanMode(int mode) {
  switch (mode) {
    case 0: return "Single Scan";
    case 1: return "Multi Scan";
    case 3: return "Single Scan Release";
    case 4: return "Multi Scan No Duplicates";
    default: return "Motion Detect";
  }
}

void VexaDeviceMember::readIdentity(VexaPluginDevice& device, Values& values) {
  values["sdk"] = device.sdkVersionString();
  values["serial"] = device.serialNumber();
  values["name"] = device.deviceName();
  values["model"] = device.deviceModel();
  values["firmware"] = device.firmwareRevision();
  values["revision"] = device.hardwareRevision();
}

std::shared_ptr<KXBatteryInfo> VexaDeviceMember::readBattery(VexaPluginDevice& device, Values& values) {
  auto battery = device.getBatteryInfo();
  if (!battery) return nullptr;
  values["batteryLevel"] = format("%i%%", battery->capacity);
  values["batteryVoltage"] = format("%0.2fv", double(battery->voltage));
  values["batteryHealth"] = format("%i%%", battery->health);
  values["batteryMaxCapacity"] = format("%imAH", battery->maximumCapacity);
  return battery;
}

void VexaDeviceMember::readSleeveSettings(VexaPluginDevice& device, Values& values, bool backupCharge) {
  bool passThru = false, charging = false;
  int current = 0, scanMode = 0;
  double idle = 0;
  device.getPassThroughSync(&passThru);
  values["passThruSync"] = yesNo(passThru);
  device.getUSBChargeCurrent(&current);
  values["usbCurrent"] = format("%imA", current);
  if (backupCharge) {
    device.getCharging(&charging);
    values["backupCharge"] = yesNo(charging);
  }
  device.barcodeGetScanMode(&scanMode);
  values["scanMode"] = barcodeScanMode(scanMode);
  device.getAutoOffWhenIdle(&idle);
  values["autoTimeOff"] = format("%0.0f", idle);
}

std::vector<VexaDeviceMember::Key> VexaDeviceMember::identityKeys(const std::string& fallback) {
  return {{"firmware", "", fallback}, {"model", "", fallback}, {"name", "", fallback},
          {"revision", "", fallback}, {"sdk", "", fallback},   {"serial", "", fallback}};
}

std::vector<VexaDeviceMember::Key> VexaDeviceMember::emsrKeys(const std::string& fallback) {
  return {{"emsrFirmware", "", fallback}, {"keyVersion", "", fallback}, {"tampered", "", fallback}};
}

std::vector<VexaDeviceMember::Key> VexaDeviceMember::batteryKeys() {
  return {{"batteryLevel", "", "N/A"},
          {"batteryVoltage", "", "N/A"},
          {"batteryHealth", "", "n/a"},
          {"batteryMaxCapacity", "", "n/a"}};
}

std::vector<VexaDeviceMember::Key> VexaDeviceMember::supportKeys() {
  return {{"barcodeInfo", "", "N/A"},          {"barcodeSupported", "False", "N/A"},
          {"msrSupported", "False", "N/A"},    {"rfSupported", "False", "N/A"},
          {"uhfSupported", "False", "N/A"},    {"hidSupported", "False", "N/A"}};
}

std::vector<VexaDeviceMember::Key> VexaDeviceMember::sleeveKeys(const std::string& fallback, bool backupCharge) {
  std::vector<Key> settings = {{"passThruSync", "", "N/A"}, {"usbCurrent", "", "N/A"}, {"scanMode", "", "N/A"},
                               {"autoTimeOff", "", "N/A"}};
  if (backupCharge) settings.push_back({"backupCharge", "", "N/A"});
  return joined({identityKeys(fallback), emsrKeys(fallback), batteryKeys(), settings, supportKeys()});
}

std::vector<VexaDeviceMember::PlainKey> VexaDeviceMember::sleevePlainKeys() {
  return {{"battery", "batteryLevel", "N/A"}, {"firmware", "firmware", "N/A"}, {"tampered", "tampered", "N/A"}};
}

std::vector<VexaDeviceMember::FieldRow> VexaDeviceMember::batteryFields(int64_t first, const char* levelDisplayType) {
  return {{"batteryLevel", "Battery Level", levelDisplayType, first},
          {"batteryVoltage", "Battery Voltage", "string", first + 1},
          {"batteryHealth", "Battery Health", "string", first + 2},
          {"batteryMaxCapacity", "Battery Max Capacity", "string", first + 3}};
}

std::vector<VexaDeviceMember::FieldRow> VexaDeviceMember::identityFields(int64_t first, bool keyVersion) {
  std::vector<FieldRow> rows = {{"firmware", "Device Firmware", "firmware", first++, "firmware"}};
  if (keyVersion) rows.push_back({"keyVersion", "Key Version", "string", first++});
  rows.push_back({"model", "Model", "string", first++});
  rows.push_back({"name", "Name", "string", first++});
  rows.push_back({"revision", "Device Revision", "string", first++});
  rows.push_back({"sdk", "SDK Version", "string", first++});
  rows.push_back({"serial", "Serial", "string", first});
  return rows;
}

std::vector<VexaDeviceMember::FieldRow> VexaDeviceMember::emsrFields(int64_t first) {
  return {{"tampered", "Tampered", "bool", first}, {"emsrFirmware", "EMSR Firmware", "string", first + 1}};
}

std::vector<VexaDeviceMember::FieldRow> VexaDeviceMember::sleeveSettingFields(int64_t first, const char* usbCurrents,
                                                                              bool backupCharge) {
  std::vector<FieldRow> rows = {{"passThruSync", "Pass Through Sync", "bool", first, "bool"},
                                {"usbCurrent", "USB Current", "list", first + 1, "list", usbCurrents}};
  first += 2;
  if (backupCharge) rows.push_back({"backupCharge", "Backup Charge", "bool", first++, "bool"});
  rows.push_back({"scanMode", "Scan Mode", "list", first++, "list", "0,1,2,3,4"});
  rows.push_back({"autoTimeOff", "Auto Time Off", "int", first, "int", nullptr, "0", "-1"});
  return rows;
}

std::vector<VexaDeviceMember::FieldRow> VexaDeviceMember::supportFields(int64_t first) {
  return {{"barcodeInfo", "Barcode Information", "string", first},
          {"barcodeSupported", "Barcode Supported", "string", first + 1},
          {"msrSupported", "MSR Supported", "string", first + 2},
          {"rfSupported", "RF Reader Supported", "string", first + 3},
          {"uhfSupported", "UHF Supported", "string", first + 4},
          {"hidSupported", "HID Supported", "string", first + 5}};
}

// ---- The sleeve ------------------------------------------------------------------------------

namespace {
constexpr const char* kSupportKeys[] = {"barcodeSupported", "msrSupported", "rfSupported", "uhfSupported",
                                        "hidSupported"};
constexpr int kSupportFeatures[] = {1, 0, 5, 6, 14};
}  // namespace

VexaPellanProDevice::VexaPellanProDevice(VexaLocator* locator)
    : VexaDeviceMember("pellanPro", "Pellan Pro", "1.0.6",
                       joined({sleeveKeys("n/a", true), {{"barcodeSetting", "", "N/A"}}}), sleevePlainKeys(),
                       locator) {}

void VexaPellanProDevice::readValues(VexaPluginDevice& device, Values& values) {
  readIdentity(device, values);
  readEmsr(device, values, emsrKeyVersions);
  readBattery(device, values);
  readSleeveSettings(device, values, true);
  readBarcodeAndSupports(device, values);
}

void VexaDeviceMember::readEmsr(VexaPluginDevice& device, Values& values,
                                const std::function<std::string(VexaPluginDevice&)>& keyReport) {
  const auto emsr = device.emsrGetDeviceInfo();
  if (!emsr) return;
  bool tampered = false;
  device.emsrIsTampered(&tampered);
  values["tampered"] = yesNo(tampered);
  values["emsrFirmware"] = emsr->firmwareVersionString;
  values["keyVersion"] = keyReport(device);
}

std::string VexaDeviceMember::emsrKeyVersions(VexaPluginDevice& device) {
  std::string keyVersion;
  if (const auto keys = device.emsrGetKeysInfo()) {
    for (const auto& key : keys->keys) {
      if (key.keyVersion != 0) keyVersion += "-" + key.keyName + " ver: " + std::to_string(key.keyVersion);
    }
  }
  return keyVersion;
}

void VexaDeviceMember::readBarcodeAndSupports(VexaPluginDevice& device, Values& values) {
  values["barcodeInfo"] = VexaPellanProDevice::barcodeEngineInfo(device);
  for (size_t i = 0; i < std::size(kSupportKeys); ++i) {
    values[kSupportKeys[i]] = yesNo(device.getSupportedFeature(kSupportFeatures[i]) != 0);
  }
}

nlohmann::json VexaDeviceMember::fieldsFrom(const std::vector<FieldRow>& rows) const {
  const auto text = [](const char* t) { return t ? std::optional<std::string>(t) : std::nullopt; };
  nlohmann::json fields = nlohmann::json::array();
  for (const auto& r : rows) {
    fields.push_back(r.type ? createField(r.key, r.name, r.displayType, r.order, true, r.type, std::nullopt,
                                          text(r.values), text(r.min), text(r.max))
                            : createField(r.key, r.name, r.displayType, r.order));
  }
  return fields;
}

std::string VexaPellanProDevice::barcodeEngineInfo(VexaPluginDevice& device) {
  const auto orNull = [](const std::optional<std::string>& text) { return text ? *text : std::string("(null)"); };
  if (device.getSupportedFeature(1) == 5) return "ZEBRA - " + orNull(device.barcodeZebraGetVersion());
  if (device.getSupportedFeature(1) == 4) {
    const auto answer = device.barcodeIntermecQuery({0x43, 0x30, 0xC0});
    // A reply shorter than the length it states is no reply.
    if (!answer || answer->size() < 5) return "";
    const size_t length = size_t((*answer)[3]) << 8 | (*answer)[4];
    if (answer->size() < 5 + length) return "";
    return "INTERMEC - " + std::string(answer->begin() + 5, answer->begin() + 5 + std::ptrdiff_t(length));
  }
  if (device.getSupportedFeature(1) == 3) {
    const auto version = device.barcodeNewlandQuery({'3', 'G'});
    if (!version) return "";
    const auto engine = device.barcodeNewlandQuery({'3', 'H', '0', '3', '0'});
    if (!engine) return "";
    std::string text(engine->begin(), engine->end());
    static const std::pair<const char*, const char*> kModels[] = {
        {"EB", "EM3070"}, {"ES", "EM3096"}, {"E3", "EM3000"}, {"0300", "EM3000"}, {"EW", "EM3090"}};
    for (const auto& [mark, model] : kModels) {
      if (text.find(mark) != std::string::npos) {
        text = model;
        break;
      }
    }
    return "NEWLAND - Engine: " + text + "\nVersion: " + std::string(version->begin(), version->end()) + "\n";
  }
  if (device.getSupportedFeature(1) == 1) return "OPTICON - " + orNull(device.barcodeOpticonGetIdent());
  if (device.getSupportedFeature(1) == 2) return "CODE - " + orNull(device.barcodeCodeGetInformation());
  return "";
}

nlohmann::json VexaPellanProDevice::getKXDeviceFields() {
  return fieldsFrom(joined({batteryFields(0, "string"), identityFields(4, true), emsrFields(11),
                            sleeveSettingFields(13, "500,1000", true), supportFields(18),
                            {{"barcodeSetting", "Barcode Setting", "hidden", 25, "string"}}}));
}

// ---- The charging case ----------------------------------------------------------------------

VexaToravelDevice::VexaToravelDevice(VexaLocator* locator)
    : VexaDeviceMember("toravel", "Toravel", "1.0.3",
                       joined<Key>({identityKeys("n/a"),
                                    {{"batteryLevel", "", "n/a"},
                                     {"batteryVoltage", "", "n/a"},
                                     {"batteryHealth", "", "n/a"},
                                     {"batteryMaxCapacity", "", "n/a"},
                                     {"batteryCycle", "", "n/a"},
                                     {"batteryExternalCharging", "", "n/a"},
                                     {"batteryFirmware", "", "n/a"},
                                     {"batterySerial", "", "n/a"},
                                     {"usbCurrent", "", "n/a"},
                                     {"backupCharge", "", "n/a"}}}),
                       {{"battery", "batteryLevel", "n/a"}, {"firmware", "firmware", "n/a"}}, locator) {}

void VexaToravelDevice::readValues(VexaPluginDevice& device, Values& values) {
  readIdentity(device, values);
  const auto battery = readBattery(device, values);
  int current = 0;
  bool charging = false;
  device.getUSBChargeCurrent(&current);
  values["usbCurrent"] = format("%imA", current);
  device.getCharging(&charging);
  values["backupCharge"] = yesNo(charging);
  if (battery && battery->extendedInfo.is_object()) {
    const auto entry = [&](const char* key) -> std::string {
      const auto it = battery->extendedInfo.find(key);
      if (it == battery->extendedInfo.end() || it->is_null()) return "(null)";
      return it->is_string() ? it->get<std::string>() : it->dump();
    };
    values["batteryCycle"] = entry("Cycle");
    values["batteryExternalCharging"] = entry("Source");
    values["batteryFirmware"] = entry("Firmware Version");
    values["batterySerial"] = entry("Serial");
  }
}

nlohmann::json VexaToravelDevice::getKXDeviceFields() {
  return fieldsFrom(joined<FieldRow>({batteryFields(0, "string"),
                                      {{"batteryCycle", "Battery Cycle", "string", 4},
                                       {"batteryExternalCharging", "Battery External Charging", "string", 5},
                                       {"batteryFirmware", "Battery Firmware", "string", 6},
                                       {"batterySerial", "Battery Serial", "string", 7}},
                                      identityFields(8, false),
                                      {{"usbCurrent", "USB Current", "list", 14, "list", "500,1000,1500"},
                                       {"backupCharge", "Backup Charge", "bool", 15, "bool"}}}));
}

}  // namespace kestra
