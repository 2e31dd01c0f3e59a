// The check-in cycle: the gate, the check-in operation, the server's answer, the
// configuration request, the intervals and the timers.

#include <cinttypes>
#include <nlohmann/json.hpp>

#include "platform/foundation/Json.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "platform/system/PhoneFacts.h"
#include "sdk/agent/OKTVexa.h"
#include "sdk/agent/UICKeyChainStore.h"
#include "sdk/agent/VexaHelper.h"
#include "sdk/agent/VexaLog.h"
#include "sdk/agent/VexaMetrics.h"

namespace kestra {

using nlohmann::json;

namespace {

constexpr const char* kCheckInIntervalKey = "checkInInterval";
constexpr const char* kConfigCheckInIntervalKey = "configCheckInInterval";
constexpr const char* kLocationUploadIntervalKey = "locationUploadInterval";
constexpr int64_t kDefaultCheckInInterval = 28800;
constexpr int64_t kMinimumCheckInInterval = 600;
constexpr int64_t kDefaultConfigCheckInInterval = 3600;
constexpr int64_t kDefaultLocationUploadInterval = 3600;
constexpr const char* kLastCheckInTimeKey = "OKTVEXA_LAST_CHECK_IN_TIME";
constexpr const char* kLastConfigCheckInTimeKey = "OKTVEXA_LAST_CONFIG_CHECK_IN_TIME";
constexpr const char* kSerialsKey = "OKTVEXA_DEVICE_CHECK_IN_SERIALS";
constexpr const char* kTwoDevicesDateKey = "OKTVEXA_LAST_CHECK_IN_2_DEVICES";
constexpr const char* kMetricObjectsKey = "OKTVEXA_METRIC_OBJECTS";
constexpr const char* kPayloadCacheKey = "OKTVEXA_DEVICES_CHECK_IN_PAYLOAD";
constexpr const char* kNotPermitted = "Check-in is not permitted!";
constexpr const char* kConfigSchedule = "Config Schedule";
constexpr const char* kConfigRequest = "Config Request";
constexpr foundation::Duration kLocationWait = std::chrono::seconds(5);
constexpr foundation::Duration kConfigDelay = std::chrono::seconds(30);
constexpr int64_t kTwoDevicesDays = 7;

UICKeyChainStore& keychain() { return UICKeyChainStore::sharedStore(); }
foundation::UserDefaults& defaults() { return foundation::UserDefaults::standard(); }

std::string lower(std::string s) {
  for (auto& c : s) c = static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// Seconds since the time stored under `key` in the secret store, or nothing when none is
// stored. Both times have the stored form's precision. A time in the future (the clock was
// set back) counts as long past, so it never holds check-ins back.
std::optional<int64_t> elapsedSince(const char* key) {
  auto text = keychain().stringForKey(std::string(key));
  auto last = text ? VexaHelper::systemDate(*text) : std::nullopt;
  if (!last) return std::nullopt;
  const auto elapsed = std::chrono::duration_cast<std::chrono::seconds>(VexaHelper::systemNow() - *last).count();
  return elapsed < 0 ? INT64_MAX : elapsed;
}

void storeNow(const char* key) {
  keychain().setString(VexaHelper::systemDateString(foundation::Clock::current().wallNow()), std::string(key));
}

}  // namespace

// ---- Intervals -------------------------------------------------------------------------------------

int64_t OKTVexa::readInterval(const char* key, int64_t fallback) {
  auto text = defaults().stringForKey(key);
  if (!text || text->empty() || foundation::longLongValue(std::string_view(*text)) <= 0) {
    defaults().setString(key, std::to_string(fallback));
    defaults().synchronize();
    return fallback;
  }
  return foundation::longLongValue(std::string_view(*text));
}

int64_t OKTVexa::getCheckInInterval() { return readInterval(kCheckInIntervalKey, kDefaultCheckInInterval); }
int64_t OKTVexa::getConfigCheckInInterval() { return readInterval(kConfigCheckInIntervalKey, kDefaultConfigCheckInInterval); }
int64_t OKTVexa::getLocationUploadInterval() { return readInterval(kLocationUploadIntervalKey, kDefaultLocationUploadInterval); }

void OKTVexa::setCheckInInterval(double seconds) {
  const int64_t value = std::max<int64_t>(static_cast<int64_t>(seconds), kMinimumCheckInInterval);
  defaults().setString(kCheckInIntervalKey, std::to_string(value));
  defaults().synchronize();
  resetCheckinTimer();
}

void OKTVexa::setConfigCheckInInterval(double seconds) {
  defaults().setString(kConfigCheckInIntervalKey, std::to_string(static_cast<int64_t>(seconds)));
  defaults().synchronize();
  resetConfigCheckInTimer();
}

void OKTVexa::setLocationUploadInterval(int64_t seconds) {
  defaults().setString(kLocationUploadIntervalKey, std::to_string(seconds));
  defaults().synchronize();
  resetLocationUploadTimer();
}

// ---- Timers ----------------------------------------------------------------------------------------

void OKTVexa::resetTimer(std::shared_ptr<foundation::Timer>& timer, double& period, int64_t seconds,
                         std::function<void()> action) {
  std::weak_ptr<OKTVexa> weak = weak_from_this();
  foundation::MainQueue::post([weak, &timer, &period, seconds, action = std::move(action)] {
    auto self = weak.lock();
    if (!self) return;
    std::lock_guard lock(self->timerMutex_);
    period = static_cast<double>(seconds);
    if (timer) timer->invalidate();
    timer = foundation::Timer::scheduled(std::chrono::seconds(seconds), true,
                                         [action](foundation::Timer&) { action(); }, &foundation::RunLoop::main());
  });
}

void OKTVexa::resetCheckinTimer() {
  std::weak_ptr<OKTVexa> weak = weak_from_this();
  resetTimer(timerCheckin_, timeIntervalCheckIn_, getCheckInInterval(), [weak] {
    if (auto self = weak.lock()) self->checkInWithCompletionBlock(nullptr);
  });
}

void OKTVexa::resetConfigCheckInTimer() {
  std::weak_ptr<OKTVexa> weak = weak_from_this();
  resetTimer(timerConfigCheckin_, timeIntervalConfigCheckin_, getConfigCheckInInterval(), [weak] {
    if (auto self = weak.lock()) self->configCheckinWithCompletion(nullptr);
  });
}

void OKTVexa::resetLocationUploadTimer() {
  std::weak_ptr<OKTVexa> weak = weak_from_this();
  resetTimer(timerLocationUpload_, timeIntervalLocationUpload_, getLocationUploadInterval(), [weak] {
    if (auto self = weak.lock()) self->requestNewLocation();
  });
}

void OKTVexa::resetCheckInAndLocationRequestTimer() {
  resetCheckinTimer();
  resetConfigCheckInTimer();
  resetLocationUploadTimer();
}

double OKTVexa::timeIntervalCheckIn() const {
  std::lock_guard lock(timerMutex_);
  return timeIntervalCheckIn_;
}
double OKTVexa::timeIntervalConfigCheckin() const {
  std::lock_guard lock(timerMutex_);
  return timeIntervalConfigCheckin_;
}
double OKTVexa::timeIntervalLocationUpload() const {
  std::lock_guard lock(timerMutex_);
  return timeIntervalLocationUpload_;
}

// ---- The gate ----------------------------------------------------------------------------------------

bool OKTVexa::isCheckingIn() const {
  std::lock_guard lock(checkingMutex_);
  return isCheckingIn_;
}

void OKTVexa::setCheckingIn(bool on) {
  std::lock_guard lock(checkingMutex_);
  isCheckingIn_ = on;
}

void OKTVexa::setAllowCheckIn(bool allow) {
  setCheckingIn(false);
  requestCheckin_ = allow;
}

void OKTVexa::checkIn(bool force) {
  if (force) {
    setCheckingIn(false);
    setAllowCheckIn(true);
    if (locationEnabled()) setAllowLocationUpload(true);
  }
  checkInWithCompletionBlock(nullptr);
}

std::optional<foundation::WallTime> OKTVexa::lastCheckInDate() {
  auto text = keychain().stringForKey(std::string(kLastCheckInTimeKey));
  return text ? VexaHelper::systemDate(*text) : std::nullopt;
}

bool OKTVexa::shouldCheckIn() {
  if (requestCheckin_.exchange(false)) return true;
  auto elapsed = elapsedSince(kLastCheckInTimeKey);
  if (!elapsed) return true;
  const int64_t interval = getCheckInInterval();
  if (*elapsed >= interval) {
    defaults().removeObjectForKey(kSerialsKey);
    defaults().synchronize();
    return true;
  }
  kestra::VexaLog("<OKTVexa> Check-in time limit has not met: %" PRId64 "\n - Current interval: %" PRId64, interval,
                  *elapsed);
  return false;
}

void OKTVexa::refuseCheckIn(const Completion& completion) {
  kestra::VexaLog("<OKTVexa> %s", kNotPermitted);
  if (completion) {
    VexaPostResult r;
    r.error = KestraSDKError::generateErrorForDomain(kKestraSDKErrorDomain, kVexaErrorCheckInNotPermitted, kNotPermitted);
    completion(r);
  }
  status(kNotPermitted);
}

void OKTVexa::checkInWithCompletionBlock(Completion completion) {
  if (!testMode_) {
    const auto facts = system_info::phoneFacts();
    for (const auto& text : {facts.name, facts.model, facts.deviceType}) {
      if (lower(text).find("simulator") == std::string::npos) continue;
      status("Looks like we are running on simulator. We don't check in.");
      if (completion) completion(VexaPostResult{});
      setCheckingIn(false);
      return;
    }
  }
  // The test and the queueing are one step: two callers at once queue one check-in. A
  // queued check-in hands over to `isCheckingIn` under the same lock as it starts, so one
  // that has ended (its completion called, its block not yet returned) holds nobody back.
  std::unique_lock gate(gateMutex_);
  if (!isCheckingIn() && !isPause_ && checkInEnabled() && !checkInQueued_ && shouldCheckIn()) {
    checkInQueued_ = true;
    std::weak_ptr<OKTVexa> weak = weak_from_this();
    checkInQueue_.addOperation([weak, sleeper = sleeper_, completion = std::move(completion)]() mutable {
      bool waitForLocation = false;
      if (auto self = weak.lock()) {
        {
          std::lock_guard started(self->gateMutex_);
          self->checkInQueued_ = false;
          self->setCheckingIn(true);
        }
        waitForLocation = self->locationEnabled();
        // A fresh fix, if one comes in time, is uploaded with this check-in.
        if (waitForLocation) self->requestNewLocation();
      }
      if (waitForLocation && !sleeper->sleep(kLocationWait)) return;
      if (auto self = weak.lock()) self->checkInOperation(std::move(completion));
    });
    return;
  }
  gate.unlock();
  refuseCheckIn(completion);
}

// ---- The operation ---------------------------------------------------------------------------------

void OKTVexa::checkInOperation(Completion completion) {
  status("Reading configuration");
  const json checkin = getCheckinJSON();
  const json serials = extractCheckinDeviceSerialsPayloadFrom(checkin);
  const json previous = defaults().objectForKey(kSerialsKey);
  const auto twoDate = defaults().dateForKey(kTwoDevicesDateKey);
  const auto now = foundation::Clock::current().wallNow();
  const size_t threshold = twoDate && VexaHelper::daysBetweenOlderDate(*twoDate, now) > kTwoDevicesDays ? 2 : 1;

  if (serials.size() >= threshold) {
    kestra::VexaLog("<OKTVexa> Checking in...");
    VexaInternalLogger::shared().uploadLog();
    kestra::VexaLog("<OKTVexa> Check-in interval: %" PRId64, getCheckInInterval());
    kestra::VexaLog("<OKTVexa> Config interval: %" PRId64, getConfigCheckInInterval());
    kestra::VexaLog("<OKTVexa> Location upload interval: %" PRId64, getLocationUploadInterval());
    kestra::VexaLog("<OKTVexa> Location enabled: %d", locationEnabled() ? 1 : 0);
    if (!(twoDate && serials.size() < 2)) {
      defaults().setDate(kTwoDevicesDateKey, now);
      defaults().synchronize();
    }
    if (serials == previous) kestra::VexaLog("<OKTVexa> Check-in same devices");

    auto metrics = defaults().arrayForKey(kMetricObjectsKey);
    if (metrics && !metrics->empty()) {
      status("Sending metrics");
      for (const auto& m : *metrics) {
        VexaMetrics metric(foundation::textForKey(m, "name"), foundation::textForKey(m, "category"));
        metricCheckin(metric);
      }
    }
    defaults().setObject(kSerialsKey, serials);
    defaults().synchronize();
    storeNow(kLastCheckInTimeKey);
    status("Checking in " + std::to_string(serials.size()) + " device(s)");

    std::vector<json> headers;
    {
      std::lock_guard lock(pluginsDataMutex_);
      headers = pluginsData_;
    }
    for (const auto& h : headers) sendPluginHeaders(h);
    uploadCheckInPayload(checkin, std::move(completion));
    resetCheckInAndLocationRequestTimer();
  } else {
    setCheckingIn(false);
    // The caller still hears that nothing was sent.
    if (completion) completion(VexaPostResult{});
  }

  {
    std::lock_guard lock(mutex_);
    checkInPayload_ = std::make_shared<json>(checkin);
  }
  if (configCheckinQueue_.hasOperationNamed(kConfigSchedule)) return;
  std::weak_ptr<OKTVexa> weak = weak_from_this();
  configCheckinQueue_.addOperation(
      [weak, sleeper = sleeper_] {
        if (!sleeper->sleep(kConfigDelay)) return;
        auto self = weak.lock();
        if (!self) return;
        keychain().removeItemForKey(std::string(kLastConfigCheckInTimeKey));
        self->configCheckinWithCompletion(nullptr);
      },
      kConfigSchedule);
}

void OKTVexa::uploadCheckInPayload(const json& checkin, Completion completion) {
  std::weak_ptr<OKTVexa> weak = weak_from_this();
  networkQueue_.addOperation([weak, checkin, completion = std::move(completion)] {
    VexaNetworkAction::postJSON(checkin, std::nullopt, [weak, completion](const VexaPostResult& r) {
      if (auto self = weak.lock()) self->processCheckinResponse(completion, r);
    });
  });
}

void OKTVexa::processCheckinResponse(const Completion& completion, const VexaPostResult& r) {
  if (r.error || !r.response || r.response->status != 200) {
    // A transport failure, or an answer other than 200: the cached payload stays for the
    // next check-in.
    kestra::VexaLog("<OKTVexa> Something went down while checking in.. error code: %i", r.statusCode());
    if (completion) {
      VexaPostResult failed = r;
      failed.success = false;
      completion(failed);
    }
    status("Unable to check in");
  } else {
    kestra::VexaLog("<OKTVexa> Check-in complete");
    const VexaCheckInAnswer answer = readCheckInAnswer(r.data.value_or(""), r.statusCode());
    if (!answer.accepted) {
      if (completion) {
        VexaPostResult failed = r;
        failed.success = false;
        failed.error.reset();
        completion(failed);
      }
      kestra::VexaLog("<OKTVexa> Error: %s\nMessage: %s", answer.detail.c_str(), answer.message.value_or("(null)").c_str());
      status(answer.detail);
    } else {
      defaults().removeObjectForKey(kPayloadCacheKey);
      defaults().synchronize();
      if (completion) completion(r);
      status("Check-in complete");
    }
  }
  setCheckingIn(false);
  VexaBackgroundTaskManager::sharedTask().endTaskWithKey(0);
}

// ---- Configuration -----------------------------------------------------------------------------------

bool OKTVexa::shouldCheckConfig(bool force) {
  if (force) return true;
  auto elapsed = elapsedSince(kLastConfigCheckInTimeKey);
  if (!elapsed || *elapsed >= getConfigCheckInInterval()) return true;
  kestra::VexaLog("<OKTVexa> Config check time limit has not met");
  return false;
}

void OKTVexa::configCheckin(bool force) {
  if (shouldCheckConfig(force)) configCheckinWithCompletion(nullptr);
}

void OKTVexa::configCheckinWithCompletion(Completion completion) {
  // Every path answers the caller.
  if (!checkInEnabled() || configCheckinQueue_.hasOperationNamed(kConfigRequest)) {
    if (completion) completion(VexaPostResult{});
    return;
  }
  std::weak_ptr<OKTVexa> weak = weak_from_this();
  configCheckinQueue_.addOperation(
      [weak, completion = std::move(completion)] {
        auto self = weak.lock();
        if (!self) return;
        storeNow(kLastConfigCheckInTimeKey);
        json payload;
        {
          std::lock_guard lock(self->mutex_);
          if (self->checkInPayload_) payload = *self->checkInPayload_;
        }
        const json body = {{"devices", self->extractCheckinDeviceSerialsPayloadFrom(payload.is_null() ? std::nullopt
                                                                                                    : std::optional(payload))}};
        kestra::VexaLog("<OKTVexa> Check configs for devices: %s", body.dump().c_str());
        self->networkQueue_.addOperation([weak, body, completion] {
          VexaNetworkAction::postJSON(body, VexaNetworkAction::origin() + kVexaConfigurationPath,
                                      [weak, completion](const VexaPostResult& r) {
                                        if (auto self = weak.lock()) self->processConfigResponse(completion, r);
                                      });
        });
      },
      kConfigRequest);
}

void OKTVexa::processConfigResponse(const Completion& completion, const VexaPostResult& r) {
  if (r.error || !r.response || r.response->status != 200) {
    kestra::VexaLog("<OKTVexa> Something went down while checking config.. error code: %i", r.statusCode());
    if (completion) {
      VexaPostResult failed = r;
      failed.success = false;
      completion(failed);
    }
    status("Unable to check config");
    setCheckingIn(false);
    VexaBackgroundTaskManager::sharedTask().endTaskWithKey(0);
    return;
  }
  auto body = readConfigAnswer(r.data.value_or(""));
  kestra::VexaLog("<OKTVexa> Config response: %s", body ? body->dump().c_str() : "(not a job list)");
  if (body) {
    std::function<void(const json&)> handler;
    bool fresh = false;
    {
      std::lock_guard lock(mutex_);
      if (!body->empty() && (!configResponse_ || *configResponse_ != *body)) {
        configResponse_ = std::make_shared<json>(*body);
        handler = configJobsHandler_;
        fresh = true;
      }
    }
    if (fresh && handler) handler(*body);
  } else {
    VexaBackgroundTaskManager::sharedTask().endTaskWithKey(0);
  }
  if (completion) completion(r);
}

json OKTVexa::checkInPayload() const {
  std::lock_guard lock(mutex_);
  return checkInPayload_ ? *checkInPayload_ : json();
}

json OKTVexa::configResponse() const {
  std::lock_guard lock(mutex_);
  return configResponse_ ? *configResponse_ : json();
}

}  // namespace kestra
