#include "sdk/agent/VexaPhonePlugins.h"

#include <chrono>
#include <cstdio>
#include <cstdlib>
#include <exception>
#include <mutex>
#include <nlohmann/json.hpp>

#include "platform/accessory/AccessoryManager.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/UserDefaults.h"
#include "sdk/agent/SSInfo.h"
#include "sdk/agent/SSNetworkInfo.h"
#include "sdk/agent/UICKeyChainStore.h"
#include "sdk/agent/VexaHelper.h"
#include "sdk/agent/VexaIdentifier.h"
#include "sdk/agent/VexaLocator.h"
#include "sdk/device/OKTKXDevices.h"

namespace kestra {
namespace fs = std::filesystem;

namespace {

std::optional<std::string> env(const char* name) {
  const char* value = std::getenv(name);
  if (!value || !*value) return std::nullopt;
  return std::string(value);
}

// "en_US.UTF-8@euro" → "en_US"; "C" and "POSIX" name no locale.
std::optional<std::string> localeName() {
  auto name = env("LC_ALL");
  if (!name) name = env("LC_MESSAGES");
  if (!name) name = env("LANG");
  if (!name) return std::nullopt;
  std::string id = name->substr(0, name->find_first_of(".@"));
  if (id.empty() || id == "C" || id == "POSIX") return std::nullopt;
  return id;
}

std::string yesNo(bool on) { return on ? "Yes" : "No"; }

std::string format(const char* pattern, auto... args) {
  char text[64];
  std::snprintf(text, sizeof text, pattern, args...);
  return text;
}

// Never destroyed: the agent's threads may read it while the process exits.
struct AccessorySourceState {
  std::mutex mutex;
  std::function<std::vector<SSAccessory>()> source;  // guarded by mutex
};

AccessorySourceState& accessorySourceState() {
  static AccessorySourceState* const s = new AccessorySourceState;
  return *s;
}

std::vector<SSAccessory> attachedAccessories() {
  std::function<std::vector<SSAccessory>()> source;
  {
    auto& state = accessorySourceState();
    std::lock_guard lock(state.mutex);
    source = state.source;
  }
  if (source) return source();
  std::vector<SSAccessory> list;
  for (const auto& a : accessory::AccessoryManager::shared().connectedAccessories()) {
    list.push_back({a->name(), a->manufacturer(), a->serialNumber()});
  }
  return list;
}

}  // namespace

// ---- Locale and accessories -----------------------------------------------------------------

std::optional<std::string> SSLocalizationInfo::country() { return localeName(); }

std::optional<std::string> SSLocalizationInfo::language() {
  std::optional<std::string> first;
  if (const auto languages = env("LANGUAGE")) first = languages->substr(0, languages->find(':'));
  if (!first || first->empty()) first = localeName();
  if (!first || first->empty()) return std::nullopt;
  std::string tag = first->substr(0, first->find_first_of(".@"));
  for (char& c : tag) {
    if (c == '_') c = '-';
  }
  return tag;
}

std::optional<std::string> SSLocalizationInfo::timeZone() {
  if (auto tz = env("TZ")) {
    if (tz->front() == ':') tz->erase(0, 1);
    if (!tz->empty()) return tz;
  }
  const fs::path root = SSInfoRoot::root();
  if (const auto text = foundation::readFile(root / "etc/timezone")) {
    std::string name = text->substr(0, text->find('\n'));
    if (!name.empty()) return name;
  }
  std::error_code ec;
  const std::string target = fs::read_symlink(root / "etc/localtime", ec).string();
  const size_t at = target.find("zoneinfo/");
  if (ec || at == std::string::npos || at + 9 >= target.size()) return std::nullopt;
  return target.substr(at + 9);
}

bool SSAccessoryInfo::accessoriesAttached() { return !attachedAccessories().empty(); }
int SSAccessoryInfo::numberAttachedAccessories() { return int(attachedAccessories().size()); }

std::optional<std::string> SSAccessoryInfo::nameAttachedAccessories() {
  const auto list = attachedAccessories();
  if (list.empty()) return std::nullopt;
  std::string joined;
  for (size_t i = 0; i < list.size(); ++i) {
    if (i) joined += ", ";
    joined += !list[i].name.empty() ? list[i].name : !list[i].manufacturer.empty() ? list[i].manufacturer : "Unknown";
  }
  return joined;
}

std::optional<std::string> SSAccessoryInfo::serialAttachedAccessories() {
  const auto list = attachedAccessories();
  if (list.empty()) return std::nullopt;
  std::string joined;
  for (size_t i = 0; i < list.size(); ++i) {
    if (i) joined += ",";
    joined += list[i].serialNumber.empty() ? "N/A" : list[i].serialNumber;
  }
  return joined;
}

void SSAccessoryInfo::setSource(std::function<std::vector<SSAccessory>()> source) {
  auto& state = accessorySourceState();
  std::lock_guard lock(state.mutex);
  state.source = std::move(source);
}

// ---- Shared shape ---------------------------------------------------------------------------

VexaPhonePluginBase::VexaPhonePluginBase(std::string plugin, std::string name, std::string version)
    : plugin_(std::move(plugin)), name_(std::move(name)), version_(std::move(version)) {}

std::optional<nlohmann::json> VexaPhonePluginBase::pluginData() {
  return nlohmann::json{{"serviceType", "device_plugin"},
                        {"payload",
                         {{"type", "device_plugin"},
                          {"version", version()},
                          {"plugin", plugin()},
                          {"name", name()},
                          {"fields", fields()}}}};
}

nlohmann::json VexaPhonePluginBase::createField(const std::string& field, const std::string& name,
                                                const std::string& displayType, int64_t order) const {
  return {{"field", key(field)}, {"name", name}, {"displayType", displayType}, {"order", std::to_string(order)}};
}

std::string VexaPhonePluginBase::CheckEmpty(const std::optional<std::string>& text) {
  return text && !text->empty() ? *text : "Unknown";
}

void VexaPhonePluginBase::guarded(nlohmann::json& details, const std::string& key,
                                  const std::function<nlohmann::json()>& value, const char* fallback) {
  try {
    details[key] = value();
  } catch (const std::exception&) {
    details[key] = fallback;
  }
}

// ---- mobileSystem ---------------------------------------------------------------------------

VexaMobileSystem::VexaMobileSystem() : VexaPhonePluginBase("mobileSystem", "Mobile System", "1.0.0") {}

nlohmann::json VexaMobileSystem::details() {
  nlohmann::json d = nlohmann::json::object();
  guarded(d, key("systemUpTime"), [] { return CheckEmpty(SSHardwareInfo::systemUptime()); });
  guarded(d, key("deviceModel"), [] { return CheckEmpty(SSHardwareInfo::deviceModel()); });
  guarded(d, key("deviceName"), [] { return CheckEmpty(SSHardwareInfo::deviceName()); });
  guarded(d, key("systemName"), [] { return CheckEmpty(SSHardwareInfo::systemName()); });
  guarded(d, key("systemVersion"), [] { return CheckEmpty(SSHardwareInfo::systemVersion()); });
  guarded(d, key("country"), [] { return CheckEmpty(SSLocalizationInfo::country()); });
  guarded(d, key("language"), [] { return CheckEmpty(SSLocalizationInfo::language()); });
  guarded(d, key("timeZone"), [] { return CheckEmpty(SSLocalizationInfo::timeZone()); });
  return d;
}

nlohmann::json VexaMobileSystem::fields() {
  static const std::pair<const char*, const char*> kFields[] = {
      {"systemUpTime", "System Up Time"}, {"deviceModel", "Device Model"},     {"deviceName", "Device Name"},
      {"systemName", "System Name"},      {"systemVersion", "System Version"}, {"country", "Country"},
      {"language", "Language"},           {"timeZone", "Time Zone"}};
  nlohmann::json f = nlohmann::json::array();
  int64_t order = 0;
  for (const auto& [field, name] : kFields) f.push_back(createField(field, name, "string", order++));
  return f;
}

std::string VexaMobileSystem::uptime() {
  long seconds = -1;
  if (const auto stat = foundation::readFile(SSInfoRoot::root() / "proc/stat")) {
    const size_t at = stat->find("\nbtime ");
    const long long boot = at == std::string::npos ? 0 : std::atoll(stat->c_str() + at + 7);
    if (boot > 0) {
      const auto now = std::chrono::duration_cast<std::chrono::seconds>(
                           foundation::Clock::current().wallNow().time_since_epoch())
                           .count();
      seconds = long(int32_t(now - boot));
    }
  }
  const long hours = seconds / 3600, days = hours / 24, hourOfDay = hours - 24 * days,
             minutes = (seconds - 3600 * hours) / 60;
  return format("%ldd %ldhr %ldm", days, hourOfDay, minutes);
}

// ---- mobileApp ------------------------------------------------------------------------------

VexaMobileApp::VexaMobileApp() : VexaPhonePluginBase("mobileApp", "Mobile App", "1.1.6") {
  auto& defaults = foundation::UserDefaults::standard();
  for (const auto& [k, on] : {std::pair{"checkInEnabled", true}, {"locationEnabled", true}, {"loggingEnabled", false}}) {
    if (defaults.objectForKey(k).is_null()) defaults.setBool(k, on);
  }
}

void VexaMobileApp::setCheckInEnabled(bool on) {
  auto& defaults = foundation::UserDefaults::standard();
  defaults.setBool("checkInEnabled", on);
  defaults.synchronize();
}

bool VexaMobileApp::checkInEnabled() const { return foundation::UserDefaults::standard().boolForKey("checkInEnabled"); }

void VexaMobileApp::setLocationEnabled(bool on) {
  auto& defaults = foundation::UserDefaults::standard();
  defaults.setBool("locationEnabled", on);
  defaults.synchronize();
}

bool VexaMobileApp::locationEnabled() const {
  return foundation::UserDefaults::standard().boolForKey("locationEnabled");
}

nlohmann::json VexaMobileApp::details() {
  auto& defaults = foundation::UserDefaults::standard();
  const VexaBundleInfo bundle = VexaAppSettings::bundleInfo();
  nlohmann::json d = nlohmann::json::object();
  try {
    const auto server = UICKeyChainStore::sharedStore().stringForKey(std::string("checkInServer"));
    if (server && server->size() >= 11) d[key("checkInServer")] = *server;
  } catch (const std::exception&) {
    d[key("checkInServer")] = "Default";
  }
  guarded(d, key("checkInEnabled"), [&] { return yesNo(checkInEnabled()); });
  guarded(d, key("locationEnabled"), [&] { return yesNo(locationEnabled()); });
  guarded(d, key("version"), [&] { return bundle.shortVersion + "." + bundle.version; });
  guarded(d, key("sdkVersion"), [] { return OKTKXDevices::sharedDevice().sdkVersionString(); });
  d[key("VexaVersion")] = kOKT_VEXA_VERSION;
  guarded(d, key("bundleID"), [&] { return bundle.identifier; });
  try {
    d[key("companyCode")] = defaults.objectForKey("companyCode");  // null when absent
  } catch (const std::exception&) {
    d[key("companyCode")] = nullptr;
  }
  guarded(d, key("loggingEnabled"), [&] { return yesNo(defaults.boolForKey("loggingEnabled")); });
  d[key("applicationState")] = defaults.stringForKey("OKTVEXA_APPLICATION_STATE").value_or("Unknown");
  try {
    const auto push = defaults.stringForKey("PushDeviceToken");
    if (push && !push->empty()) d[key("pushID")] = *push;
  } catch (const std::exception&) {
    d[key("pushID")] = "N/A";
  }
  const auto interval = [&](const char* name, int fallback) {
    const auto stored = defaults.stringForKey(name);
    if (stored && !stored->empty() && std::atoll(stored->c_str()) >= 1) return *stored;
    return std::to_string(fallback);
  };
  d[key("locationUploadInterval")] = interval("locationUploadInterval", 3600);
  d[key("checkInInterval")] = interval("checkInInterval", 28800);
  return d;
}

nlohmann::json VexaMobileApp::fields() {
  struct Row {
    const char* field;
    const char* name;
    const char* displayType;
    const char* type;  // nullptr: short form
  };
  static const Row kRows[] = {
      {"checkInEnabled", "Check-in Enabled", "bool", "bool"},
      {"locationEnabled", "Location Enabled", "bool", "bool"},
      {"version", "Version", "string", nullptr},
      {"bundleID", "Bundle ID", "string", nullptr},
      {"pushID", "Push Notification ID", "string", nullptr},
      {"applicationState", "Application State", "string", nullptr},
      {"checkInInterval", "Check In Interval (seconds)", "int", "int"},
      {"locationUploadInterval", "Location Upload Interval (seconds)", "int", "int"},
      {"companyCode", "Company Code", "hidden", "string"},
      {"checkInServer", "Check-in Server", "hidden", "string"},
      {"sdkVersion", "SDK Version", "string", nullptr},
      {"loggingEnabled", "Logging Enabled", "bool", "bool"},
  };
  nlohmann::json f = nlohmann::json::array();
  int64_t order = 0;
  for (const auto& row : kRows) {
    auto record = createField(row.field, row.name, row.displayType, order++);
    // The long form with minimum 0 and maximum −1: no bounds are written.
    if (row.type) {
      record["configurable"] = "true";
      record["type"] = row.type;
    }
    f.push_back(std::move(record));
  }
  return f;
}

// ---- mobileDevice ---------------------------------------------------------------------------

VexaMobileDevice::VexaMobileDevice(std::function<int()> connstate, VexaLocator* locator)
    : VexaPhonePluginBase("mobileDevice", "Mobile Device", "1.0.7"),
      connstate_(std::move(connstate)),
      locator_(locator) {}

std::optional<std::string> VexaMobileDevice::deviceType() { return SSHardwareInfo::systemDeviceTypeFormatted(true); }

nlohmann::json VexaMobileDevice::details() {
  nlohmann::json d = nlohmann::json::object();
  try {
    if (const auto number = VexaIdentifier::getPhoneNumber()) d[key("phoneNumber")] = *number;
  } catch (const std::exception&) {
    d[key("phoneNumber")] = "N/A";
  }
  guarded(d, key("screenWidth"), [] { return std::to_string(SSHardwareInfo::screenWidth()); });
  guarded(d, key("screenHeight"), [] { return std::to_string(SSHardwareInfo::screenHeight()); });
  guarded(d, key("debuggerAttached"), [] { return yesNo(SSHardwareInfo::debuggerAttached()); });
  guarded(d, key("pluggedIn"), [] { return yesNo(SSHardwareInfo::pluggedIn()); });
  guarded(d, key("accessoriesAttached"), [] { return yesNo(SSAccessoryInfo::accessoriesAttached()); });
  guarded(d, key("accessoriesAttachedCount"),
          [] { return std::to_string(SSAccessoryInfo::numberAttachedAccessories()); });
  guarded(d, key("accessoriesAttachedName"), [] { return CheckEmpty(SSAccessoryInfo::nameAttachedAccessories()); });
  guarded(d, key("accessoriesAttachedSerial"),
          [] { return CheckEmpty(SSAccessoryInfo::serialAttachedAccessories()); });
  guarded(d, key("accessoriesAttachedConnected"), [&] {
    const int state = connstate_ ? connstate_() : OKTKXDevices::sharedDevice().connstate();
    return yesNo(state == 2);
  });
  const auto level = [] { return std::to_string(int(SSBatteryInfo::batteryLevel())); };
  guarded(d, key("batteryLevel"), level);
  guarded(d, key("charging"), [] { return yesNo(SSBatteryInfo::charging()); });
  guarded(d, key("fullyCharged"), [] { return yesNo(SSBatteryInfo::fullyCharged()); });
  guarded(d, "battery", level);
  guarded(d, "firmware", [] { return CheckEmpty(SSHardwareInfo::systemVersion()); });
  VexaLocator& locator = locator_ ? *locator_ : VexaLocator::sharedLocator();
  try {
    const std::string lat = format("%f", locator.lastLatitude()), lng = format("%f", locator.lastLongitude()),
                      alt = format("%f", locator.lastAltitude());
    d[key("locationLat")] = lat;
    d[key("locationLong")] = lng;
    d[key("locationAltitude")] = alt;
  } catch (const std::exception&) {
    d[key("locationLat")] = d[key("locationLong")] = d[key("locationAltitude")] = "N/A";
  }
  guarded(d, key("locationTimeStamp"), [&] {
    const auto when = locator.timeStamp();
    return when ? VexaHelper::systemDateString(*when) : std::string("N/A");
  });
  guarded(d, key("locationMethod"), [&] { return locator.locationMethod(); });
  return d;
}

nlohmann::json VexaMobileDevice::fields() {
  struct Row {
    const char* field;
    const char* name;
    const char* displayType;
  };
  static const Row kRows[] = {
      {"screenWidth", "Screen Width", "string"},
      {"screenHeight", "Screen Height", "string"},
      {"debuggerAttached", "Debugger Attached", "bool"},
      {"pluggedIn", "Plugged In", "bool"},
      {"accessoriesAttached", "Accessories Attached", "bool"},
      {"accessoriesAttachedCount", "Accessories Attached Count", "int"},
      {"accessoriesAttachedName", "Accessories Attached Name", "string"},
      {"accessoriesAttachedSerial", "Accessories Attached Serial", "string"},
      {"accessoriesAttachedConnected", "Accessories Attached Connected", "string"},
      {"batteryLevel", "Battery Level", "battery"},
      {"charging", "Charging", "bool"},
      {"fullyCharged", "Fully Charged", "bool"},
      {"locationLat", "Location Latitute", "string"},
      {"locationLong", "Location Longitude", "string"},
      {"locationMethod", "Location Method", "string"},
      {"locationAltitude", "Location Altitude", "string"},
      {"locationTimeStamp", "Location Time Stamp", "string"},
  };
  nlohmann::json f = nlohmann::json::array();
  int64_t order = 0;
  for (const auto& row : kRows) f.push_back(createField(row.field, row.name, row.displayType, order++));
  return f;
}

// ---- mobileNetwork --------------------------------------------------------------------------

VexaMobileNetwork::VexaMobileNetwork() : VexaPhonePluginBase("mobileNetwork", "Mobile Network", "1.0.0") {}

nlohmann::json VexaMobileNetwork::details() {
  nlohmann::json d = nlohmann::json::object();
  if (!VexaAppSettings::bundleInfo().hasLocationUsageDescription) {
    for (const char* field : {"carrierName", "carrierCountry", "cellNetworkConnected", "cellIPAddress",
                              "wifiNetworkConnected", "wifiSSID", "wifiIPAddress"}) {
      d[key(field)] = "N/A";
    }
    d[key("publicIPAddress")] = "";
    return d;
  }
  guarded(d, key("carrierName"), [] { return CheckEmpty(SSCarrierInfo::carrierName()); });
  guarded(d, key("carrierCountry"), [] { return CheckEmpty(SSCarrierInfo::carrierCountry()); });
  guarded(d, key("cellNetworkConnected"), [] { return yesNo(SSNetworkInfo::connectedToCellNetwork()); });
  guarded(d, key("cellIPAddress"), [] { return CheckEmpty(SSNetworkInfo::cellIPAddress()); });
  guarded(d, key("wifiNetworkConnected"), [] { return yesNo(SSNetworkInfo::connectedToWiFi()); });
  d[key("wifiSSID")] = "Not Found";
  guarded(d, key("wifiIPAddress"), [] { return CheckEmpty(SSNetworkInfo::wiFiIPAddress()); });
  guarded(d, key("publicIPAddress"), [] { return CheckEmpty(SSNetworkInfo::externalIPAddress()); });
  return d;
}

nlohmann::json VexaMobileNetwork::fields() {
  static const std::tuple<const char*, const char*, const char*> kRows[] = {
      {"carrierName", "Carrier Name", "string"},
      {"carrierCountry", "Carrier Country", "string"},
      {"cellNetworkConnected", "Cell Network Connected", "bool"},
      {"cellIPAddress", "Cell IP Address", "string"},
      {"wifiNetworkConnected", "Wifi Network Connected", "bool"},
      {"wifiSSID", "Wifi SSID", "string"},
      {"wifiIPAddress", "Wifi IP Address", "string"},
      {"publicIPAddress", "Public IP Address", "string"},
  };
  nlohmann::json f = nlohmann::json::array();
  int64_t order = 0;
  for (const auto& [field, name, type] : kRows) f.push_back(createField(field, name, type, order++));
  return f;
}

}  // namespace kestra
