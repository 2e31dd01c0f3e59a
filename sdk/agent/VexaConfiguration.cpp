#include "sdk/agent/VexaConfiguration.h"

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Uuid.h"
#include "sdk/agent/OKTVexa.h"
#include "sdk/agent/UICKeyChainStore.h"
#include "sdk/agent/VexaLog.h"
#include "sdk/agent/VexaNetworkAction.h"
#include "sdk/device/KXThreadRouting.h"
#include "sdk/device/OKTKXDevices.h"

namespace kestra {

namespace {

std::string lower(std::string text) {
  std::transform(text.begin(), text.end(), text.begin(), [](unsigned char c) { return char(std::tolower(c)); });
  return text;
}

std::vector<std::string> split(const std::string& text, char separator) {
  std::vector<std::string> parts;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(separator, start);
    parts.push_back(text.substr(start, at - start));
    if (at == std::string::npos) return parts;
    start = at + 1;
  }
}

// The text form of a job value: texts as they are, numbers and booleans as numbers ("1").
std::string valueText(const nlohmann::json& value) {
  if (value.is_string()) return value.get<std::string>();
  if (value.is_boolean()) return value.get<bool>() ? "1" : "0";
  if (value.is_null()) return "<null>";
  return value.dump();
}

// A text's boolean value as the phone reads it: "true"/"yes" or a number that is not 0.
bool boolValue(const std::string& text) {
  const std::string t = lower(text);
  if (t.starts_with("t") || t.starts_with("y")) return true;
  return std::atoll(text.c_str()) != 0;
}

long long integerValue(const std::string& text) { return std::atoll(text.c_str()); }

// Routes the job's device calls to `type` on the job's own thread only: the host's choice of
// device (automatic routing included) stays as it is for every other thread and after the job.
class ActiveTypeScope {
 public:
  ActiveTypeScope(OKTKXDevices& facade, int type) : route_(facade.devices(), type) {}

 private:
  KXThreadRouting route_;
};

}  // namespace

VexaConfiguration& VexaConfiguration::sharedConfiguration() {
  static VexaConfiguration* runner = [] {
    auto* r = new VexaConfiguration(OKTVexa::registerOKTVexa(), [] { return &OKTKXDevices::sharedDevice(); });
    return r;
  }();
  return *runner;
}

VexaConfiguration::VexaConfiguration(std::weak_ptr<OKTVexa> agent, std::function<OKTKXDevices*()> facade)
    : agent_(std::move(agent)), facade_(std::move(facade)), completeJobs_(std::make_shared<nlohmann::json>()) {
  startFirmwareSupport();
}

VexaConfiguration::~VexaConfiguration() {
  stopFirmwareSupport();
  queue_.cancelAllOperations();
  queue_.setSuspended(false);
  queue_.waitUntilAllOperationsAreFinished();
}

void VexaConfiguration::setDelegate(std::weak_ptr<VexaConfigDelegate> delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = std::move(delegate);
}

size_t VexaConfiguration::pendingJobs() const {
  std::lock_guard lock(mutex_);
  return configJobs_.size();
}

void VexaConfiguration::addConfigJobs(const nlohmann::json& jobs) {
  std::vector<Job> list;
  if (jobs.is_array()) {
    for (const auto& job : jobs) {
      if (!job.is_object()) continue;
      const auto key = job.find("key");
      const auto value = job.find("value");
      list.push_back({key != job.end() ? valueText(*key) : "",
                      value != job.end() ? valueText(*value) : std::string("<null>")});
    }
  }
  {
    std::lock_guard lock(mutex_);
    incomingJobs_ = std::move(list);
  }
  prepareJobQueue();
}

void VexaConfiguration::prepareJobQueue() {
  std::vector<Job> jobs;
  {
    std::lock_guard lock(mutex_);
    if (!configJobs_.empty() || !incomingJobs_) return;
    *completeJobs_ = nlohmann::json::object();
    reported_ = false;
    configJobs_ = std::move(*incomingJobs_);
    incomingJobs_.reset();
    jobs = configJobs_;
  }
  processNewConfigurations(std::move(jobs));
}

void VexaConfiguration::processNewConfigurations(std::vector<Job> jobs) {
  const std::string id = foundation::uuidString();
  const size_t total = jobs.size();
  for (const auto& job : jobs) {
    const auto parts = split(job.key, '_');
    std::string command = parts.back();
    if (parts.size() >= 3) {
      command = job.key.substr(parts.front().size() + 1);
    }
    if (command.empty()) {
      didFinishJob(id, job.key, job.value, false, total, "0");
      continue;
    }
    const std::string word = lower(parts.front());
    if (word == "pellanpro" || word == "kestratab" || word == "zizorid" || word == "toravel") {
      queue_.addOperation([this, id, command, job, total] { handleDevice(id, command, job, total); });
    } else if (word == "vkpprinter") {
      // Nothing is sent to the printer, so nothing is claimed as applied.
      didFinishJob(id, job.key, job.value, false, total, "0");
    } else if (word == "skyrig") {
      queue_.addOperation([this, id, command, job, total] { handlePinpad(id, command, job, total); });
    } else if (word == "mobileapp") {
      queue_.addOperation([this, id, command, job, total] { handleMobileApp(id, command, job, total); });
    } else if (word == "mobilemdm") {
      queue_.addOperation([this, id, command, job, total] { handleMobileMDM(id, command, job, total); });
    } else {
      queue_.addOperation([this, id, job, total] { handleExtension(id, job, total); });
    }
  }
}

void VexaConfiguration::handleDevice(const std::string& id, const std::string& command, const Job& job,
                                     size_t total) {
  OKTKXDevices* facade = facade_();
  bool result = false;
  if (command == "firmware" && facade && facade->connstate() == 2) {
    runFirmwareJob(id, job, total);
    return;
  }
  if (facade && facade->connstate() == 2) {
    ActiveTypeScope scope(*facade, 0);
    const bool on = job.value == "true";
    if (command == "scanMode") {
      result = facade->barcodeSetScanMode(int(integerValue(job.value)));
    } else if (command == "backupCharge") {
      result = facade->setCharging(on);
    } else if (command == "passThruSync") {
      result = facade->setPassThroughSync(on);
    } else if (command == "usbCurrent" || command == "USBCurrent") {
      result = facade->setUSBChargeCurrent(int(integerValue(job.value)));
    } else if (command == "autoTimeOff") {
      const double seconds = double(integerValue(job.value));
      result = facade->setAutoOffWhenIdle(seconds, seconds);
    } else if (command == "kioskMode") {
      result = facade->setKioskMode(on);
    } else if (command == "autoSpeakerControl") {
      result = facade->uiEnableSpeakerAutoControl(on);
    } else if (command == "speakerButton") {
      result = facade->uiEnableSpeakerButton(on);
    } else if (command == "speaker") {
      result = facade->uiEnableSpeaker(on);
    }
    // Any other setting is not one the device takes: "false".
  }
  didFinishJob(id, job.key, job.value, result, total, "0");
}

void VexaConfiguration::handlePinpad(const std::string& id, const std::string& command, const Job& job,
                                     size_t total) {
  OKTKXDevices* facade = facade_();
  bool result = false;
  if (facade && command == "scanMode") {
    ActiveTypeScope scope(*facade, 2);
    result = facade->barcodeSetScanMode(int(integerValue(job.value)));
  }
  didFinishJob(id, job.key, job.value, result, total, "0");
}

void VexaConfiguration::handleMobileApp(const std::string& id, const std::string& command, const Job& job,
                                        size_t total) {
  auto& defaults = foundation::UserDefaults::standard();
  bool result = true;
  if (command == "checkInInterval") {
    if (auto agent = agent_.lock()) agent->setCheckInInterval(double(integerValue(job.value)));
  } else if (command == "checkInEnabled" || command == "locationEnabled" || command == "locationUploadInterval" ||
             command == "companyCode") {
    defaults.setString(command, job.value);
  } else if (command == "checkInServer") {
    // Only an https address is taken; anything else that names a scheme leaves the address
    // in force as it is.
    if (job.value.find("://") != std::string::npos && !VexaNetworkAction::isSecureAddress(job.value)) {
      VexaLog("<OKTVexa> %s (mobileApp_checkInServer)", kVexaInsecureServerRefused);
      if (auto agent = agent_.lock()) agent->status(kVexaInsecureServerRefused);
      result = false;
    } else {
      UICKeyChainStore::sharedStore().setString(job.value, std::string("checkInServer"));
    }
  } else if (command == "loggingEnabled") {
    const bool on = boolValue(job.value);
    if (on || VexaInternalLogger::shared().isEnabled()) VexaInternalLogger::shared().uploadLog();
    defaults.setBool("loggingEnabled", on);
  } else {
    result = false;
  }
  defaults.synchronize();
  didFinishJob(id, job.key, job.value, result, total, "0");
}

void VexaConfiguration::handleMobileMDM(const std::string& id, const std::string& command, const Job& job,
                                        size_t total) {
  auto& defaults = foundation::UserDefaults::standard();
  defaults.setString(command, job.value);
  defaults.synchronize();
  didFinishJob(id, job.key, job.value, true, total, "0");
}

void VexaConfiguration::handleExtension(const std::string& id, const Job& job, size_t total) {
  auto& defaults = foundation::UserDefaults::standard();
  const auto parts = split(job.key, '_');
  bool result = false;
  if (auto plugin = defaults.dictionaryForKey(parts.front())) {
    auto details = plugin->value("details", nlohmann::json::object());
    if (details.is_object() && details.contains(job.key)) {
      details[job.key] = job.value;
      (*plugin)["details"] = details;
      defaults.setObject(parts.front(), *plugin);
      defaults.synchronize();
      const auto extension = plugin->find("extension");
      const std::string name = extension != plugin->end() && extension->is_string() ? extension->get<std::string>() : "";
      foundation::NotificationCenter::defaultCenter().post(
          name, nullptr, {{"extension", name}, {"field", parts.back()}, {"value", job.value}});
      result = true;
    }
  }
  didFinishJob(id, job.key, job.value, result, total, "0");
}

void VexaConfiguration::didFinishJob(const std::string& jobID, const std::string& command, const std::string& value,
                                     bool result, size_t total, const std::string& serial) {
  {
    std::lock_guard lock(mutex_);
    const auto it = std::find_if(configJobs_.begin(), configJobs_.end(),
                                 [&](const Job& job) { return job.key == command; });
    if (it != configJobs_.end()) configJobs_.erase(it);
    auto& batch = (*completeJobs_)[jobID];
    batch["total"] = total;
    batch["serial"] = serial;
    batch["configs"].push_back({{"key", command}, {"value", value}, {"success", result ? "true" : "false"}});
  }
  sendJobReport();
}

void VexaConfiguration::sendJobReport() {
  nlohmann::json report;
  std::shared_ptr<VexaConfigDelegate> delegate;
  {
    // Results recorded at once on two threads both see the list empty: the batch is
    // reported (and the check-in asked for) by the first only.
    std::lock_guard lock(mutex_);
    if (!configJobs_.empty() || reported_) return;
    reported_ = true;
    report = *completeJobs_;
    delegate = delegate_.lock();
  }
  const auto agent = agent_.lock();
  if (agent) agent->checkIn(true);
  if (delegate) {
    delegate->didFinishAllConfigJobsWithReport(report);
  } else if (agent) {
    agent->didFinishAllConfigJobsWithReport(report);
  }
  prepareJobQueue();
}

}  // namespace kestra
