#pragma once
// VexaLocator: the phone's position for the agent. It asks for one fix at a time (never
// tracks), only while user defaults "locationEnabled" is on, the application explains its
// use of the location, location services are on and the user has not refused; it keeps the
// last fix, saves it in user defaults "OKTVEXA_SAVED_LOCATION" and tells its delegate (the
// agent) of each new fix. Without a fix (or with location off) it answers a placeholder at
// 0, 0 whose method is "Unknown".
//
// Threads: requests and the provider's answers run on the main queue; the readers may be
// called from any thread.

#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/system/Location.h"

namespace kestra {

using system_info::LocationFix;

inline constexpr const char* kApplicationDidBecomeActiveNotification = "UIApplicationDidBecomeActiveNotification";
inline constexpr const char* kVexaApplicationDidEnterBackgroundNotification = "UIApplicationDidEnterBackgroundNotification";

class VexaLocatorDelegate {
 public:
  virtual ~VexaLocatorDelegate() = default;
  virtual void didUpdateLocation(const LocationFix& /*location*/) {}
};

class VexaLocator {
 public:
  static VexaLocator& sharedLocator();
  // A locator over `provider` (tests); it does not start monitoring by itself.
  explicit VexaLocator(std::shared_ptr<system_info::LocationProvider> provider, bool observeApplication = false);
  ~VexaLocator();

  bool isLocationEnabled() const;
  bool isLocationPermissionPlistAvailable() const;
  // Both run on the main queue (posted when called elsewhere).
  void startMonitoringLocation();
  void requestNewLocation();

  // The last fix ("GPS"), or the saved placeholder at 0, 0 ("Unknown").
  LocationFix location();
  double lastLatitude();
  double lastLongitude();
  double lastAltitude();
  std::optional<foundation::WallTime> timeStamp();
  void saveLocation(const LocationFix& location, const std::string& method);

  std::string locationMethod() const;
  std::string lastTimeStamp() const;
  bool isRequestingLocation() const;
  void setDelegate(std::weak_ptr<VexaLocatorDelegate> delegate);

  void appDidBecomeActive();
  void appDidEnterBackground() {}

 private:
  bool permitted();
  void startMonitoringOnMain();
  void requestOnMain();
  void didUpdateLocations(const LocationFix& fix);
  void didFail();
  std::optional<LocationFix> enabledFix();

  std::shared_ptr<system_info::LocationProvider> provider_;
  mutable std::mutex mutex_;
  std::optional<LocationFix> lastLocation_;
  std::string lastTimeStamp_;
  bool isRequestingLocation_ = false;
  std::string locationMethod_ = "Unknown";
  std::weak_ptr<VexaLocatorDelegate> delegate_;
  std::shared_ptr<bool> alive_ = std::make_shared<bool>(true);
  bool observing_ = false;
};

}  // namespace kestra
