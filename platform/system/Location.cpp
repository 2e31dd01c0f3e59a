#include "platform/system/Location.h"

#include <array>
#include <cmath>
#include <cstdlib>
#include <cstdio>
#include <regex>
#include <string>
#include <thread>

#include "platform/foundation/MainQueue.h"

namespace system_info {

namespace {

// Never destroyed: threads still at work while the process exits may read it.
struct SharedState {
  std::mutex mutex;
  std::shared_ptr<LocationProvider> shared;
};

SharedState& sharedState() {
  static auto* s = new SharedState();
  return *s;
}

// Runs a fixed gdbus command line (no outside text is ever put into it) and returns its
// output, or nothing when it failed.
std::optional<std::string> gdbus(const std::string& arguments, int seconds = 10) {
  const std::string command = "timeout " + std::to_string(seconds) + " gdbus " + arguments + " 2>/dev/null";
  FILE* pipe = ::popen(command.c_str(), "r");
  if (!pipe) return std::nullopt;
  std::string out;
  std::array<char, 512> buffer{};
  size_t n;
  while ((n = std::fread(buffer.data(), 1, buffer.size(), pipe)) > 0) out.append(buffer.data(), n);
  return ::pclose(pipe) == 0 ? std::optional(out) : std::nullopt;
}

// "call <bus> --dest org.freedesktop.GeoClue2 --object-path ".
std::string dest(const std::string& bus) { return "call " + bus + " --dest org.freedesktop.GeoClue2 --object-path "; }

std::optional<std::string> objectPath(const std::string& text) {
  std::smatch m;
  static const std::regex re("objectpath '([^']+)'");
  if (std::regex_search(text, m, re)) return m[1].str();
  return std::nullopt;
}

std::optional<double> number(const std::string& text, const char* name) {
  const std::string key = std::string("'") + name + "': <";
  const size_t at = text.find(key);
  if (at == std::string::npos) return std::nullopt;
  const char* start = text.c_str() + at + key.size();
  char* end = nullptr;
  const double v = std::strtod(start, &end);
  if (end == start || *end != '>' || !std::isfinite(v)) return std::nullopt;
  return v;
}

// One fix from GeoClue, waiting at most about 30 s for it.
std::optional<LocationFix> geoClueFix(const std::string& bus) {
  const std::string target = dest(bus);
  auto client = gdbus(target + "/org/freedesktop/GeoClue2/Manager --method org.freedesktop.GeoClue2.Manager.GetClient");
  auto path = client ? objectPath(*client) : std::nullopt;
  if (!path) return std::nullopt;
  const std::string on = target + *path + " --method ";
  gdbus(on + "org.freedesktop.DBus.Properties.Set org.freedesktop.GeoClue2.Client DesktopId \"<'kestra-agent'>\"");
  gdbus(on + "org.freedesktop.DBus.Properties.Set org.freedesktop.GeoClue2.Client RequestedAccuracyLevel \"<uint32 8>\"");
  if (!gdbus(on + "org.freedesktop.GeoClue2.Client.Start")) return std::nullopt;
  std::optional<LocationFix> fix;
  for (int i = 0; i < 60 && !fix; ++i) {
    auto loc = gdbus(on + "org.freedesktop.DBus.Properties.Get org.freedesktop.GeoClue2.Client Location");
    auto locPath = loc ? objectPath(*loc) : std::nullopt;
    if (locPath && *locPath != "/") {
      auto all = gdbus(target + *locPath +
                       " --method org.freedesktop.DBus.Properties.GetAll org.freedesktop.GeoClue2.Location");
      if (all) fix = parseGeoClueLocation(*all);
      break;
    }
    std::this_thread::sleep_for(std::chrono::milliseconds(500));
  }
  gdbus(on + "org.freedesktop.GeoClue2.Client.Stop");
  return fix;
}

}  // namespace

std::optional<LocationFix> parseGeoClueLocation(std::string_view view) {
  const std::string text(view);
  auto lat = number(text, "Latitude");
  auto lon = number(text, "Longitude");
  if (!lat || !lon || *lat < -90 || *lat > 90 || *lon < -180 || *lon > 180) return std::nullopt;
  LocationFix f;
  f.latitude = *lat;
  f.longitude = *lon;
  f.altitude = number(text, "Altitude").value_or(0);
  f.horizontalAccuracy = number(text, "Accuracy").value_or(0);
  f.timestamp = std::chrono::system_clock::now();
  return f;
}

std::shared_ptr<LocationProvider> LocationProvider::shared() {
  auto& state = sharedState();
  std::lock_guard lock(state.mutex);
  if (!state.shared) state.shared = std::make_shared<GeoClueLocationProvider>();
  return state.shared;
}

void LocationProvider::setShared(std::shared_ptr<LocationProvider> provider) {
  auto& state = sharedState();
  std::lock_guard lock(state.mutex);
  state.shared = std::move(provider);
}

// ---- GeoClue ---------------------------------------------------------------------------------

GeoClueLocationProvider::GeoClueLocationProvider(std::string busAddress) : bus_("--system") {
  // Only a plain address goes on the command line; anything else leaves GeoClue unused.
  if (!busAddress.empty())
    bus_ = busAddress.find_first_not_of("abcdefghijklmnopqrstuvwxyzABCDEFGHIJKLMNOPQRSTUVWXYZ0123456789=,/:_.-") ==
                   std::string::npos
               ? "--address " + busAddress
               : "--address invalid:";
}

bool GeoClueLocationProvider::locationServicesEnabled() {
  std::lock_guard lock(mutex_);
  if (!available_)
    available_ = gdbus(dest(bus_) +
                       "/org/freedesktop/GeoClue2/Manager --method org.freedesktop.DBus.Peer.Ping",
                   2)
                     .has_value();
  return *available_;
}

LocationAuthorization GeoClueLocationProvider::authorizationStatus() {
  return locationServicesEnabled() ? LocationAuthorization::Always : LocationAuthorization::NotDetermined;
}

void GeoClueLocationProvider::requestLocation(Completion completion) {
  std::thread([bus = bus_, completion = std::move(completion)] {
    auto fix = geoClueFix(bus);
    foundation::MainQueue::post([completion, fix] {
      if (fix)
        completion(fix, {});
      else
        completion(std::nullopt, {"kCLErrorDomain", 0, "The location is unknown."});
    });
  }).detach();
}

// ---- Simulated ----------------------------------------------------------------------------------

bool SimulatedLocationProvider::locationServicesEnabled() {
  std::lock_guard lock(mutex_);
  return enabled_;
}
LocationAuthorization SimulatedLocationProvider::authorizationStatus() {
  std::lock_guard lock(mutex_);
  return status_;
}
void SimulatedLocationProvider::requestAlwaysAuthorization() {
  std::lock_guard lock(mutex_);
  if (status_ == LocationAuthorization::NotDetermined) status_ = answer_;
}
void SimulatedLocationProvider::requestWhenInUseAuthorization() { requestAlwaysAuthorization(); }
void SimulatedLocationProvider::requestLocation(Completion completion) {
  std::lock_guard lock(mutex_);
  ++requests_;
  pending_.push_back(std::move(completion));
}
void SimulatedLocationProvider::setServicesEnabled(bool on) {
  std::lock_guard lock(mutex_);
  enabled_ = on;
}
void SimulatedLocationProvider::setAuthorization(LocationAuthorization a) {
  std::lock_guard lock(mutex_);
  status_ = a;
}
void SimulatedLocationProvider::setAuthorizationAnswer(LocationAuthorization a) {
  std::lock_guard lock(mutex_);
  answer_ = a;
}
size_t SimulatedLocationProvider::pendingRequests() const {
  std::lock_guard lock(mutex_);
  return pending_.size();
}
size_t SimulatedLocationProvider::requestCount() const {
  std::lock_guard lock(mutex_);
  return requests_;
}
void SimulatedLocationProvider::deliver(const LocationFix& fix) {
  std::vector<Completion> waiting;
  {
    std::lock_guard lock(mutex_);
    waiting.swap(pending_);
  }
  for (auto& c : waiting) foundation::MainQueue::post([c, fix] { c(fix, {}); });
}
void SimulatedLocationProvider::fail() {
  std::vector<Completion> waiting;
  {
    std::lock_guard lock(mutex_);
    waiting.swap(pending_);
  }
  for (auto& c : waiting) foundation::MainQueue::post([c] { c(std::nullopt, {"kCLErrorDomain", 0, "The location is unknown."}); });
}

}  // namespace system_info
