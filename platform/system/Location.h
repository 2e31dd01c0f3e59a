#pragma once
// Where the phone is. `LocationProvider::shared()` is the source in force: on Linux the
// GeoClue service over the system D-Bus (through the `gdbus` tool), which reports "services
// off" where GeoClue does not run; tests install a `SimulatedLocationProvider`.
//
// A request gives one fix or one failure, on the main queue, exactly once. Authorization
// follows the platform's model (not determined, restricted, denied, always, when in use);
// GeoClue asks its own agent, so it reports "always" once the service answers.
//
// Thread-safe. Nothing here throws.

#include <functional>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Error.h"

namespace system_info {

struct LocationFix {
  double latitude = 0;
  double longitude = 0;
  double altitude = 0;
  double horizontalAccuracy = 0;
  double verticalAccuracy = 0;
  foundation::WallTime timestamp{};
};

enum class LocationAuthorization { NotDetermined, Restricted, Denied, Always, WhenInUse };

// A fix from the text `gdbus` prints for GeoClue's Location properties ("({'Latitude':
// <51.5>, 'Longitude': <-0.12>, ...},)"); nothing without both coordinates in range.
std::optional<LocationFix> parseGeoClueLocation(std::string_view text);

class LocationProvider {
 public:
  using Completion = std::function<void(std::optional<LocationFix>, foundation::Error)>;
  virtual ~LocationProvider() = default;
  virtual bool locationServicesEnabled() = 0;
  virtual LocationAuthorization authorizationStatus() = 0;
  virtual void requestAlwaysAuthorization() {}
  virtual void requestWhenInUseAuthorization() {}
  // One fix, delivered on the main queue.
  virtual void requestLocation(Completion completion) = 0;

  static std::shared_ptr<LocationProvider> shared();
  // nullptr restores GeoClue.
  static void setShared(std::shared_ptr<LocationProvider> provider);
};

class GeoClueLocationProvider final : public LocationProvider {
 public:
  // `busAddress`: a D-Bus address to find GeoClue on; empty means the system bus.
  explicit GeoClueLocationProvider(std::string busAddress = {});
  bool locationServicesEnabled() override;
  LocationAuthorization authorizationStatus() override;
  void requestLocation(Completion completion) override;

 private:
  std::string bus_;  // the gdbus option that names the bus
  std::mutex mutex_;
  std::optional<bool> available_;
};

// A provider whose answers the test decides: requests wait until `deliver` or `fail`.
class SimulatedLocationProvider final : public LocationProvider {
 public:
  bool locationServicesEnabled() override;
  LocationAuthorization authorizationStatus() override;
  void requestAlwaysAuthorization() override;
  void requestWhenInUseAuthorization() override;
  void requestLocation(Completion completion) override;

  void setServicesEnabled(bool on);
  void setAuthorization(LocationAuthorization a);
  // What a "not determined" status becomes when authorization is requested.
  void setAuthorizationAnswer(LocationAuthorization a);
  size_t pendingRequests() const;
  size_t requestCount() const;
  // Answers every waiting request with `fix` / with an error.
  void deliver(const LocationFix& fix);
  void fail();

 private:
  mutable std::mutex mutex_;
  bool enabled_ = true;
  LocationAuthorization status_ = LocationAuthorization::Always;
  LocationAuthorization answer_ = LocationAuthorization::Always;
  std::vector<Completion> pending_;
  size_t requests_ = 0;
};

}  // namespace system_info
