// The check-in JSON: one entry per device (the phone, the connected accessories, the host's
// own devices), the caches that keep reporting an accessory after it went, and the plug-in
// header messages.

#include <map>
#include <nlohmann/json.hpp>

#include "platform/foundation/Json.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "platform/system/PhoneFacts.h"
#include "sdk/agent/OKTVexa.h"
#include "sdk/agent/UICKeyChainStore.h"
#include "sdk/agent/VexaHelper.h"
#include "sdk/agent/VexaLog.h"

namespace kestra {

using nlohmann::json;

namespace {

constexpr const char* kPayloadCacheKey = "OKTVEXA_DEVICES_CHECK_IN_PAYLOAD";
constexpr const char* kHeaderCacheKey = "OKTVEXA_DEVICES_PLUGIN_HEADER_PAYLOAD";
constexpr const char* kPluginUploadFlagKey = "OKTVEXA_PLUGIN_UPLOAD_FLAG";
constexpr int kConnected = 2;  // the facade's connection state "connected"
constexpr const char* kNoSerial = "N/A";  // the serial of an accessory that gives none

foundation::UserDefaults& defaults() { return foundation::UserDefaults::standard(); }

json companyCode() {
  auto code = OKTVexa::getCompanyCode();
  return code ? json(*code) : json(nullptr);
}

std::optional<json> cached(const char* key) {
  auto text = defaults().stringForKey(key);
  if (!text) return std::nullopt;
  return foundation::parseJson(*text);
}

// The active device type that reaches the accessory named `name`, if the name tells.
std::optional<int> typeForName(const std::string& name) {
  if (VexaHelper::string(name, "pellan") || VexaHelper::string(name, "kestra") || VexaHelper::string(name, "toravel"))
    return 0;
  if (VexaHelper::string(name, "skyrik") || VexaHelper::string(name, "skyrig")) return 2;
  if (VexaHelper::string(name, "vkp")) return 1;
  return std::nullopt;
}

}  // namespace

// Dotted versions compare part by part as numbers ("1.10" is after "1.9", "2.0" after
// "1.10"); a missing part counts as 0.
int compareVersions(const std::string& a, const std::string& b) {
  auto parts = [](const std::string& s) {
    std::vector<long long> out;
    size_t start = 0;
    while (start <= s.size()) {
      size_t dot = s.find('.', start);
      if (dot == std::string::npos) dot = s.size();
      out.push_back(foundation::longLongValue(std::string_view(s).substr(start, dot - start)));
      start = dot + 1;
    }
    return out;
  };
  const auto pa = parts(a), pb = parts(b);
  for (size_t i = 0; i < std::max(pa.size(), pb.size()); ++i) {
    const long long x = i < pa.size() ? pa[i] : 0, y = i < pb.size() ? pb[i] : 0;
    if (x != y) return x < y ? -1 : 1;
  }
  return 0;
}

void OKTVexa::addPluginData(const std::optional<json>& data) {
  if (!data || data->is_null()) return;
  std::lock_guard lock(pluginsDataMutex_);
  for (const auto& d : pluginsData_)
    if (d == *data) return;
  pluginsData_.push_back(*data);
}

json OKTVexa::getCheckinJSON() {
  try {
    {
      std::lock_guard lock(pluginsDataMutex_);
      pluginsData_.clear();
    }
    std::map<std::string, json> bySerial;
    auto put = [&](const json& entry) {
      auto serial = entry.is_object() ? entry.find("serial") : entry.end();
      if (!entry.is_object() || serial == entry.end() || !serial->is_string()) {
        // One entry the server could not file must not cost the others their check-in.
        kestra::VexaLog("<OKTVexa> Device entry without serial left out");
        return;
      }
      // Accessories without a serial number share the stand-in: keep them apart by kind.
      std::string key = serial->get<std::string>();
      if (key == kNoSerial) key += "|" + foundation::textForKey(entry, "deviceType") + "|" +
                                  foundation::textForKey(entry, "deviceSubType");
      bySerial[key] = entry;
    };
    if (auto cache = cached(kPayloadCacheKey); cache && cache->is_object()) {
      auto payload = cache->find("payload");
      if (payload != cache->end() && payload->is_array())
        for (const auto& e : *payload) put(e);
    }
    if (auto headers = cached(kHeaderCacheKey); headers && headers->is_array())
      for (const auto& h : *headers) addPluginData(h);
    for (const auto& e : getDevicePayloadJSONs()) put(e);
    json out = {{"serviceType", "check_in"}, {"payload", json::array()}};
    for (auto& [serial, entry] : bySerial) out["payload"].push_back(std::move(entry));
    return out;
  } catch (const std::exception& e) {
    kestra::VexaLog("<OKTVexa> Check-in JSON failed: %s", e.what());
    return json::object();
  }
}

json OKTVexa::getDevicePayloadJSONs() {
  try {
    auto result = std::make_shared<std::vector<json>>();
    auto resultMutex = std::make_shared<std::mutex>();
    auto append = [result, resultMutex](json entry) {
      std::lock_guard lock(*resultMutex);
      result->push_back(std::move(entry));
    };
    std::weak_ptr<OKTVexa> weak = weak_from_this();
    payloadKXDevicesQueue_.addOperation([weak, append] {
      auto self = weak.lock();
      if (!self) return;
      VexaDevices& devices = self->device();
      if (devices.connstate() != kConnected) return;
      self->status("Reading devices info");
      Error error;
      const auto infos = devices.getConnectedDevicesInfo(&error);
      // Each device is read on this thread alone: the host's choice of device stays as it is.
      for (const auto& info : infos) {
        if (!info) continue;
        std::shared_ptr<void> route;
        if (auto type = typeForName(info->name)) route = devices.routeThisThread(*type);
        append(self->getCheckinPayloadForOKTDeviceJSON());
      }
      json deviceInfo = json::array();
      for (const auto& info : infos) {
        if (!info) continue;
        auto plugin = self->pluginForName(info->name, false);
        if (!plugin) continue;
        if (auto di = plugin->deviceInfo()) deviceInfo.push_back(*di);
      }
      {
        std::lock_guard lock(self->mutex_);
        self->oktDeviceInfo_ = std::make_shared<json>(deviceInfo);
      }
      self->performDelegateSelector(vexasel::oktDevicesInfo, deviceInfo);
    });
    payloadMobileQueue_.addOperation([weak, append] {
      if (auto self = weak.lock()) append(self->getCheckinPayloadForMobileDeviceJSON());
    });
    for (const auto& custom : customDevices()) append(getCheckinPayloadForCustomDeviceJSON(*custom));
    for (auto* q : {&payloadKXDevicesQueue_, &payloadMobileQueue_, &payloadCustomDevicesQueue_})
      q->waitUntilAllOperationsAreFinished();
    std::lock_guard lock(*resultMutex);
    return json(*result);
  } catch (const std::exception& e) {
    kestra::VexaLog("<OKTVexa> Device entries failed: %s", e.what());
    return json::array();
  }
}

json OKTVexa::phoneDetails() {
  json details = json::object();
  std::vector<std::shared_ptr<VexaPhonePlugin>> phone;
  {
    std::lock_guard lock(mutex_);
    phone = phonePlugins_;
  }
  for (const auto& p : phone)
    try {
      if (p->isActive()) details.update(p->details());
    } catch (const std::exception&) {
    }
  for (const auto& e : getExtensions())
    try {
      details.update(e->getExtensionDetails());
    } catch (const std::exception&) {
    }
  return details;
}

json OKTVexa::phonePluginList() {
  json list = json::array();
  std::vector<std::shared_ptr<VexaPhonePlugin>> phone;
  {
    std::lock_guard lock(mutex_);
    phone = phonePlugins_;
  }
  for (const auto& p : phone) {
    if (!p->isActive()) continue;
    list.push_back({{"plugin", p->plugin()}, {"version", p->version()}, {"type", "device_plugin"}});
    addPluginData(p->pluginData());
  }
  for (const auto& e : getExtensions()) {
    list.push_back({{"plugin", e->pluginName()}, {"version", e->pluginVersion()}, {"type", e->pluginType()}});
    addPluginData(e->getExtensionPluginData());
  }
  return list;
}

json OKTVexa::getCheckinPayloadForMobileDeviceJSON() {
  try {
    std::optional<std::string> subType;
    std::optional<json> appConfig;
    {
      std::lock_guard lock(mutex_);
      for (const auto& p : phonePlugins_) {
        if (auto t = p->deviceType()) subType = t;
        if (p->isActive())
          if (auto c = p->appConfig()) appConfig = c;
      }
    }
    json entry = {{"companyCode", companyCode()},
                  {"email", ""},
                  {"bundle", VexaAppSettings::bundleIdentifier()},
                  {"serial", getUUID()},
                  {"manufacturer", "Apple"},
                  {"deviceType", "iOS"},
                  {"deviceSubType", subType.value_or(system_info::phoneFacts().model)},
                  {"details", phoneDetails()},
                  {"plugins", phonePluginList()}};
    auto jobId = UICKeyChainStore::sharedStore().stringForKey(std::string("OKTVEXA_LAST_JOB_ID"));
    if (jobId && !jobId->empty()) entry["lastConfigID"] = *jobId;
    if (appConfig) entry["appConfig"] = *appConfig;
    return entry;
  } catch (const std::exception&) {
    return json::object();
  }
}

json OKTVexa::getCheckinPayloadForOKTDeviceJSON() {
  try {
    auto plugin = activeDevice();
    VexaDevices& devices = device();
    json entry = {{"companyCode", companyCode()},
                  {"parent", getUUID()},
                  {"manufacturer", "Corvanta"},
                  {"deviceType", plugin->plugin()},
                  {"deviceSubType", devices.deviceName().value_or("")},
                  {"details", plugin->getKXDeviceDetails()},
                  {"plugins", json::array({{{"plugin", plugin->plugin()}, {"version", plugin->version()},
                                            {"type", "device_plugin"}}})}};
    // An accessory that gives no serial number is still reported, under a stand-in.
    const auto serial = devices.serialNumber();
    entry["serial"] = serial && !serial->empty() ? *serial : kNoSerial;
    addPluginData(plugin->getKXDevicePluginData());
    return entry;
  } catch (const std::exception&) {
    return json::object();
  }
}

json OKTVexa::getCheckinPayloadForCustomDeviceJSON(VexaCustomDevicePlugin& d) {
  try {
    json entry = {{"companyCode", companyCode()},
                  {"parent", getUUID()},
                  {"manufacturer", d.deviceManufacturer()},
                  {"deviceType", d.deviceName()},
                  {"deviceSubType", d.deviceType()},
                  {"serial", d.deviceSerial()},
                  {"details", d.getCustomDeviceDetails()},
                  {"plugins", json::array({{{"plugin", d.pluginName()}, {"version", d.pluginVersion()},
                                            {"type", "device_plugin"}}})}};
    addPluginData(d.getCustomDevicePluginData());
    return entry;
  } catch (const std::exception&) {
    return json::object();
  }
}

json OKTVexa::extractCheckinDeviceSerialsPayloadFrom(const std::optional<json>& checkin) {
  const json source = checkin ? *checkin : getCheckinJSON();
  json serials = json::array();
  auto payload = source.is_object() ? source.find("payload") : source.end();
  if (payload == source.end() || !payload->is_array()) return serials;
  for (const auto& entry : *payload)
    serials.push_back({{"bundle", VexaAppSettings::bundleIdentifier()},
                       {"serial", foundation::valueForKey(entry, "serial")},
                       {"manufacturer", foundation::valueForKey(entry, "manufacturer")}});
  return serials;
}

void OKTVexa::collectDevicesInfo() {
  const json checkin = getCheckinJSON();
  {
    std::lock_guard lock(mutex_);
    checkInPayload_ = std::make_shared<json>(checkin);
  }
  defaults().setString(kPayloadCacheKey, foundation::prettyJson(checkin));
  json headers = json::array();
  {
    std::lock_guard lock(pluginsDataMutex_);
    for (const auto& h : pluginsData_) headers.push_back(h);
  }
  defaults().setString(kHeaderCacheKey, foundation::prettyJson(headers));
  defaults().synchronize();
}

void OKTVexa::sendPluginHeaders(const json& message) {
  const json& payload = foundation::valueForKey(message, "payload");
  if (!payload.is_object()) return;
  const std::string name = foundation::textForKey(payload, "plugin");
  const std::string key = name + "_version";
  const json& newVersion = foundation::valueForKey(payload, "version");
  const std::string fresh = newVersion.is_null() ? "" : foundation::textValue(newVersion);
  const std::string old = defaults().stringForKey(key).value_or("");
  if (compareVersions(fresh, old) <= 0 && defaults().boolForKey(kPluginUploadFlagKey)) return;
  json copy = message;
  copy["payload"]["companyCode"] = companyCode();
  networkQueue_.addOperation([copy, key, fresh] {
    VexaNetworkAction::postJSON(copy, std::nullopt, [key, fresh](const VexaPostResult& r) {
      // Only a header the server took counts as sent; a failed one goes again next time.
      if (!r.success) return;
      defaults().setString(key, fresh);
      defaults().setBool(kPluginUploadFlagKey, true);
      defaults().synchronize();
    });
  });
}

}  // namespace kestra
