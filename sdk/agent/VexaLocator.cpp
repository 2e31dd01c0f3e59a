#include "sdk/agent/VexaLocator.h"

#include <nlohmann/json.hpp>

#include "platform/foundation/MainQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "sdk/agent/VexaHelper.h"
#include "sdk/agent/VexaLog.h"

namespace kestra {

using system_info::LocationAuthorization;

namespace {
constexpr const char* kLocationEnabledKey = "locationEnabled";
constexpr const char* kLocationUploadIntervalKey = "locationUploadInterval";
constexpr const char* kSavedLocationKey = "OKTVEXA_SAVED_LOCATION";
constexpr foundation::Duration kForegroundDelay = std::chrono::seconds(5);

std::string f(double v) {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%f", v);
  return buf;
}
}  // namespace

VexaLocator& VexaLocator::sharedLocator() {
  static VexaLocator* locator = [] {
    auto* l = new VexaLocator(system_info::LocationProvider::shared(), true);
    l->startMonitoringLocation();
    return l;
  }();
  return *locator;
}

VexaLocator::VexaLocator(std::shared_ptr<system_info::LocationProvider> provider, bool observeApplication)
    : provider_(std::move(provider)), observing_(observeApplication) {
  if (observing_) {
    auto& center = foundation::NotificationCenter::defaultCenter();
    center.addObserver(this, kApplicationDidBecomeActiveNotification, nullptr,
                       [this](const foundation::Notification&) { appDidBecomeActive(); });
    center.addObserver(this, kVexaApplicationDidEnterBackgroundNotification, nullptr,
                       [this](const foundation::Notification&) { appDidEnterBackground(); });
  }
}

VexaLocator::~VexaLocator() {
  *alive_ = false;
  if (observing_) foundation::NotificationCenter::defaultCenter().removeObserver(this);
}

bool VexaLocator::isLocationEnabled() const { return foundation::UserDefaults::standard().boolForKey(kLocationEnabledKey); }

bool VexaLocator::isLocationPermissionPlistAvailable() const {
  return VexaAppSettings::bundleInfo().hasLocationUsageDescription;
}

bool VexaLocator::permitted() {
  if (!isLocationEnabled() || !isLocationPermissionPlistAvailable() || !provider_->locationServicesEnabled())
    return false;
  auto status = provider_->authorizationStatus();
  if (status == LocationAuthorization::Denied || status == LocationAuthorization::Restricted) return false;
  if (status == LocationAuthorization::NotDetermined) {
    provider_->requestAlwaysAuthorization();
    if (provider_->authorizationStatus() == LocationAuthorization::NotDetermined)
      provider_->requestWhenInUseAuthorization();
    status = provider_->authorizationStatus();
  }
  return status == LocationAuthorization::Always || status == LocationAuthorization::WhenInUse;
}

void VexaLocator::startMonitoringLocation() {
  auto alive = alive_;
  foundation::MainQueue::runOrPost([this, alive] {
    if (*alive) startMonitoringOnMain();
  });
}

void VexaLocator::startMonitoringOnMain() {
  if (!permitted()) return;
  auto& defaults = foundation::UserDefaults::standard();
  if (defaults.stringForKey(kLocationUploadIntervalKey).value_or("").empty()) {
    defaults.setString(kLocationUploadIntervalKey, "3600");
    defaults.synchronize();
  }
  requestOnMain();
}

void VexaLocator::requestNewLocation() {
  auto alive = alive_;
  foundation::MainQueue::runOrPost([this, alive] {
    if (*alive) requestOnMain();
  });
}

void VexaLocator::requestOnMain() {
  if (!permitted()) return;
  {
    std::lock_guard lock(mutex_);
    if (isRequestingLocation_) return;
    isRequestingLocation_ = true;
  }
  auto alive = alive_;
  provider_->requestLocation([this, alive](std::optional<LocationFix> fix, foundation::Error) {
    if (!*alive) return;
    if (fix)
      didUpdateLocations(*fix);
    else
      didFail();
  });
}

void VexaLocator::didUpdateLocations(const LocationFix& fix) {
  VexaLog("<OKTVexa> Location Updated");
  {
    std::lock_guard lock(mutex_);
    lastLocation_ = fix;
  }
  saveLocation(fix, "GPS");
  std::shared_ptr<VexaLocatorDelegate> delegate;
  {
    std::lock_guard lock(mutex_);
    delegate = delegate_.lock();
  }
  if (delegate) delegate->didUpdateLocation(fix);
  std::lock_guard lock(mutex_);
  isRequestingLocation_ = false;
}

void VexaLocator::didFail() {
  std::lock_guard lock(mutex_);
  isRequestingLocation_ = false;
}

std::optional<LocationFix> VexaLocator::enabledFix() {
  std::lock_guard lock(mutex_);
  if (lastLocation_ && foundation::UserDefaults::standard().boolForKey(kLocationEnabledKey)) {
    locationMethod_ = "GPS";
    return lastLocation_;
  }
  return std::nullopt;
}

LocationFix VexaLocator::location() {
  if (auto fix = enabledFix()) return *fix;
  LocationFix placeholder;
  placeholder.timestamp = foundation::Clock::current().wallNow();
  {
    std::lock_guard lock(mutex_);
    locationMethod_ = "Unknown";
  }
  saveLocation(placeholder, "Unknown");
  return placeholder;
}

double VexaLocator::lastLatitude() {
  auto fix = enabledFix();
  return fix ? fix->latitude : 0;
}
double VexaLocator::lastLongitude() {
  auto fix = enabledFix();
  return fix ? fix->longitude : 0;
}
double VexaLocator::lastAltitude() {
  auto fix = enabledFix();
  return fix ? fix->altitude : 0;
}
std::optional<foundation::WallTime> VexaLocator::timeStamp() {
  auto fix = enabledFix();
  return fix ? std::optional(fix->timestamp) : std::nullopt;
}

void VexaLocator::saveLocation(const LocationFix& location, const std::string& method) {
  const std::string stamp = VexaHelper::systemDateString(foundation::Clock::current().wallNow());
  {
    std::lock_guard lock(mutex_);
    lastTimeStamp_ = stamp;
  }
  auto& defaults = foundation::UserDefaults::standard();
  defaults.setObject(kSavedLocationKey, {{"latitute", f(location.latitude)},
                                         {"longitude", f(location.longitude)},
                                         {"altitude", f(location.altitude)},
                                         {"timeStamp", stamp},
                                         {"method", method}});
  defaults.synchronize();
}

std::string VexaLocator::locationMethod() const {
  std::lock_guard lock(mutex_);
  return locationMethod_;
}
std::string VexaLocator::lastTimeStamp() const {
  std::lock_guard lock(mutex_);
  return lastTimeStamp_;
}
bool VexaLocator::isRequestingLocation() const {
  std::lock_guard lock(mutex_);
  return isRequestingLocation_;
}
void VexaLocator::setDelegate(std::weak_ptr<VexaLocatorDelegate> delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = std::move(delegate);
}

void VexaLocator::appDidBecomeActive() {
  auto alive = alive_;
  foundation::MainQueue::postAfter(kForegroundDelay, [this, alive] {
    if (*alive) startMonitoringOnMain();
  });
}

}  // namespace kestra
