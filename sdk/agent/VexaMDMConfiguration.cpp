#include "sdk/agent/VexaMDMConfiguration.h"

#include "platform/foundation/UserDefaults.h"
#include "sdk/agent/OKTVexa.h"
#include "sdk/agent/UICKeyChainStore.h"
#include "sdk/agent/VexaConfiguration.h"
#include "sdk/agent/VexaIdentifier.h"
#include "sdk/agent/VexaLocator.h"
#include "sdk/agent/VexaLog.h"

namespace kestra {

namespace {

using nlohmann::json;

std::optional<std::string> textEntry(const json& payload, const std::string& key) {
  const auto it = payload.find(VexaMDMConfiguration::addPrefixTo(key));
  if (it == payload.end() || !it->is_string()) return std::nullopt;
  return it->get<std::string>();
}

// The platform's boolean value of a setting: true, a number other than 0, or a text
// beginning with t/T/y/Y or a non-zero digit.
bool boolEntry(const json& payload, const std::string& key) {
  const auto it = payload.find(VexaMDMConfiguration::addPrefixTo(key));
  if (it == payload.end()) return false;
  if (it->is_boolean()) return it->get<bool>();
  if (it->is_number()) return it->get<double>() != 0;
  if (!it->is_string()) return false;
  const std::string text = it->get<std::string>();
  const char c = text.empty() ? '0' : text.front();
  return c == 't' || c == 'T' || c == 'y' || c == 'Y' || (c >= '1' && c <= '9');
}

json field(const std::string& key, const std::string& title, int order) {
  return {{"field", VexaMDMConfiguration::addPrefixTo(key)},
          {"name", title},
          {"displayType", "string"},
          {"order", std::to_string(order)}};
}

}  // namespace

VexaMDMConfiguration::VexaMDMConfiguration(std::weak_ptr<OKTVexa> agent, AddJobs addJobs)
    : agent_(std::move(agent)), addJobs_(std::move(addJobs)) {
  if (!addJobs_) addJobs_ = [](const json& jobs) { VexaConfiguration::sharedConfiguration().addConfigJobs(jobs); };
  auto& center = foundation::NotificationCenter::defaultCenter();
  for (const char* name : {kUserDefaultsDidChangeNotification, kApplicationDidBecomeActiveNotification})
    observers_.push_back(
        center.addObserver(this, name, nullptr, [this](const foundation::Notification&) { processMDMConfig(); }));
}

VexaMDMConfiguration::~VexaMDMConfiguration() {
  for (const auto token : observers_) foundation::NotificationCenter::defaultCenter().removeToken(token);
}

void VexaMDMConfiguration::processMDMConfig() {
  const auto payload = foundation::UserDefaults::standard().dictionaryForKey(kManagedConfigurationKey);
  if (!payload) return;
  bool overwrite = false;
  {
    std::lock_guard lock(mutex_);
    if (previousMDMConfigPayload_ == payload) return;
    VexaLog("<OKTVexa> MDM received config: %s", payload->dump().c_str());
    previousMDMConfigPayload_ = payload;
    mdmProviderID_ = textEntry(*payload, "deviceID").value_or("");
    mdmProviderName_ = textEntry(*payload, "partner").value_or("");
    deviceUDID_ = textEntry(*payload, "deviceUDID").value_or("");
    if (auto serial = textEntry(*payload, "deviceSerial")) {
      deviceSerialNumber_ = *serial;
      VexaIdentifier::setUUID(*serial);
    }
    if (auto phone = textEntry(*payload, "phoneNumber"))
      UICKeyChainStore::sharedStore().setString(*phone, std::string("phoneNumber"));
    overwrite = boolEntry(*payload, "overwrite");
  }
  auto agent = agent_.lock();
  if (!agent || !agent->checkInEnabled() || overwrite) {
    executeConfigPayload(*payload);
  } else {
    agent->checkIn(true);
  }
}

void VexaMDMConfiguration::executeConfigPayload(const json& payload) {
  if (!isMDM() || !payload.is_object()) return;
  json jobs = json::array();
  for (const auto& [key, value] : payload.items()) jobs.push_back({{"key", key}, {"value", value}});
  addJobs_(jobs);
}

bool VexaMDMConfiguration::isMDM() const {
  std::lock_guard lock(mutex_);
  return mdmProviderID_ && !mdmProviderID_->empty() && mdmProviderName_ && !mdmProviderName_->empty();
}

std::optional<json> VexaMDMConfiguration::getMDMAppConfig() const {
  std::lock_guard lock(mutex_);
  return previousMDMConfigPayload_;
}

json VexaMDMConfiguration::getMobileMDMDetails() const {
  std::lock_guard lock(mutex_);
  return {{addPrefixTo("partner"), mdmProviderName_.value_or("")},
          {addPrefixTo("deviceID"), mdmProviderID_.value_or("")},
          {addPrefixTo("deviceSerial"), deviceSerialNumber_},
          {addPrefixTo("deviceUDID"), deviceUDID_}};
}

json VexaMDMConfiguration::getMobileMDMFields() const {
  return json::array({field("partner", "MDM Partner", 0), field("deviceID", "MDM Device ID", 1),
                      field("deviceSerial", "MDM Device Serial", 2), field("deviceUDID", "MDM Device UDID", 3)});
}

json VexaMDMConfiguration::getMobileMDMPluginData() const {
  return {{"serviceType", "device_plugin"},
          {"payload",
           {{"type", "device_plugin"}, {"version", "1.0.4"}, {"plugin", "mobileMDM"}, {"name", name()},
            {"fields", getMobileMDMFields()}}}};
}

std::string VexaMDMConfiguration::deviceUDID() const {
  std::lock_guard lock(mutex_);
  return deviceUDID_;
}
std::string VexaMDMConfiguration::deviceSerialNumber() const {
  std::lock_guard lock(mutex_);
  return deviceSerialNumber_;
}
std::optional<std::string> VexaMDMConfiguration::mdmProviderID() const {
  std::lock_guard lock(mutex_);
  return mdmProviderID_;
}
std::optional<std::string> VexaMDMConfiguration::mdmProviderName() const {
  std::lock_guard lock(mutex_);
  return mdmProviderName_;
}

}  // namespace kestra
