#include "platform/system/NetworkInfo.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>

#include <condition_variable>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>
#include <thread>

#include "platform/system/NetworkManagerWifi.h"

namespace system_info {

namespace {

// Never destroyed: threads still at work while the process exits may read it.
struct NetworkState {
  std::mutex mutex;
  std::shared_ptr<NetworkInfo> shared;
};

NetworkState& networkState() {
  static auto* s = new NetworkState();
  return *s;
}

std::filesystem::path defaultConfigDir() {
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x)
    return std::filesystem::path(x) / "OrvoMobile";
  if (const char* h = std::getenv("HOME"); h && *h)
    return std::filesystem::path(h) / ".config" / "OrvoMobile";
  return "/tmp/OrvoMobile";
}

}  // namespace

std::shared_ptr<NetworkInfo> NetworkInfo::shared() {
  auto& state = networkState();
  std::lock_guard<std::mutex> lock(state.mutex);
  if (!state.shared) state.shared = std::make_shared<LinuxNetworkInfo>(defaultConfigDir());
  return state.shared;
}

void NetworkInfo::setShared(std::shared_ptr<NetworkInfo> info) {
  auto& state = networkState();
  std::lock_guard<std::mutex> lock(state.mutex);
  state.shared = std::move(info);
}

// Shared with the query threads, which may outlive the source.
struct LinuxNetworkInfo::WifiQuery {
  std::mutex mutex;
  std::condition_variable done;
  bool running = false;
  uint64_t finished = 0;
  bool lastTimedOut = false;
  std::optional<WifiNetwork> last;  // NetworkManager's last answer
  std::chrono::steady_clock::time_point answeredAt{};
};

// An answer this fresh is used again (a caller often asks whether there is Wi-Fi, then
// which network it is).
constexpr auto kWifiAnswerReuse = std::chrono::seconds(2);

LinuxNetworkInfo::LinuxNetworkInfo(std::filesystem::path configDir, std::string networkManagerBus)
    : configDir_(std::move(configDir)), bus_(std::move(networkManagerBus)), query_(std::make_shared<WifiQuery>()) {}

void LinuxNetworkInfo::setWifiQueryTimeout(std::chrono::milliseconds timeout) {
  std::lock_guard<std::mutex> lock(query_->mutex);
  timeout_ = timeout;
}

std::optional<WifiNetwork> LinuxNetworkInfo::networkManagerWifi() const {
  auto q = query_;
  std::unique_lock<std::mutex> lock(q->mutex);
  // An earlier query still waits for NetworkManager: answer with what is known.
  if (q->running) return q->last;
  if (q->finished > 0 && !q->lastTimedOut && std::chrono::steady_clock::now() - q->answeredAt < kWifiAnswerReuse)
    return q->last;
  q->running = true;
  const uint64_t before = q->finished;
  const auto timeout = timeout_;
  std::thread([q, bus = bus_, timeout] {
    foundation::Error error;
    auto wifi = queryNetworkManagerWifi(bus, timeout, &error);
    std::lock_guard<std::mutex> l(q->mutex);
    q->running = false;
    ++q->finished;
    q->lastTimedOut = error.isError() && error.code == -1001;
    q->last = error.isError() ? std::nullopt : wifi;
    q->answeredAt = std::chrono::steady_clock::now();
    q->done.notify_all();
  }).detach();
  // After a query that timed out, the next ones refresh in the background only: a
  // NetworkManager that hangs costs the caller one time-out, not one per call.
  if (!q->lastTimedOut)
    q->done.wait_for(lock, timeout + std::chrono::milliseconds(100), [&] { return q->finished != before; });
  return q->last;
}

std::optional<WifiNetwork> LinuxNetworkInfo::configured() const {
  const char* ssid = std::getenv("KESTRA_WIFI_SSID");
  const char* bssid = std::getenv("KESTRA_WIFI_BSSID");
  if ((ssid && *ssid) || (bssid && *bssid)) {
    WifiNetwork w;
    if (ssid && *ssid) w.ssid = ssid;
    if (bssid && *bssid) w.bssid = bssid;
    return w;
  }
  std::ifstream in(configDir_ / "wifi.json");
  if (!in) return std::nullopt;
  auto j = nlohmann::json::parse(in, nullptr, /*allow_exceptions=*/false);
  if (!j.is_object()) return std::nullopt;
  WifiNetwork w;
  if (auto it = j.find("SSID"); it != j.end() && it->is_string()) w.ssid = it->get<std::string>();
  if (auto it = j.find("BSSID"); it != j.end() && it->is_string()) w.bssid = it->get<std::string>();
  if (!w.ssid && !w.bssid) return std::nullopt;
  return w;
}

std::vector<std::string> LinuxNetworkInfo::wirelessInterfaces() const {
  std::vector<std::string> out;
  std::error_code ec;
  for (auto& e : std::filesystem::directory_iterator("/sys/class/net", ec)) {
    if (std::filesystem::exists(e.path() / "wireless", ec)) out.push_back(e.path().filename());
  }
  return out;
}

bool LinuxNetworkInfo::hasWifiInterface() const {
  return !wirelessInterfaces().empty() || configured().has_value() || networkManagerWifi().has_value();
}

std::optional<WifiNetwork> LinuxNetworkInfo::currentWifi() const {
  if (auto w = networkManagerWifi()) return w;
  return configured();
}

std::vector<InterfaceAddress> LinuxNetworkInfo::ipv4Addresses() const {
  std::vector<InterfaceAddress> out;
  ifaddrs* list = nullptr;
  if (::getifaddrs(&list) != 0) return out;
  for (ifaddrs* a = list; a; a = a->ifa_next) {
    if (!a->ifa_addr || a->ifa_addr->sa_family != AF_INET || !a->ifa_name) continue;
    char text[INET_ADDRSTRLEN] = {};
    auto* sin = reinterpret_cast<const sockaddr_in*>(a->ifa_addr);
    if (!::inet_ntop(AF_INET, &sin->sin_addr, text, sizeof text)) continue;
    char mask[INET_ADDRSTRLEN] = {};
    if (a->ifa_netmask && a->ifa_netmask->sa_family == AF_INET) {
      auto* m = reinterpret_cast<const sockaddr_in*>(a->ifa_netmask);
      if (!::inet_ntop(AF_INET, &m->sin_addr, mask, sizeof mask)) mask[0] = 0;
    }
    out.push_back({a->ifa_name, text, mask});
  }
  ::freeifaddrs(list);
  return out;
}

std::string LinuxNetworkInfo::primaryInterface() const {
  if (const char* name = std::getenv("KESTRA_WIFI_INTERFACE"); name && *name) return name;
  auto wireless = wirelessInterfaces();
  if (!wireless.empty()) return wireless.front();
  for (auto& a : ipv4Addresses()) {
    if (a.interface != "lo") return a.interface;
  }
  return "lo";
}

void FixedNetworkInfo::setWifi(std::optional<WifiNetwork> wifi) {
  std::lock_guard<std::mutex> lock(mutex_);
  wifi_ = std::move(wifi);
}
void FixedNetworkInfo::setHasWifiInterface(bool has) {
  std::lock_guard<std::mutex> lock(mutex_);
  hasWifi_ = has;
}
void FixedNetworkInfo::setAddresses(std::vector<InterfaceAddress> addresses) {
  std::lock_guard<std::mutex> lock(mutex_);
  addresses_ = std::move(addresses);
}
void FixedNetworkInfo::setPrimaryInterface(std::string name) {
  std::lock_guard<std::mutex> lock(mutex_);
  primary_ = std::move(name);
}
bool FixedNetworkInfo::hasWifiInterface() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return hasWifi_;
}
std::optional<WifiNetwork> FixedNetworkInfo::currentWifi() const {
  std::lock_guard<std::mutex> lock(mutex_);
  if (!hasWifi_) return std::nullopt;
  return wifi_;
}
std::vector<InterfaceAddress> FixedNetworkInfo::ipv4Addresses() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return addresses_;
}
std::string FixedNetworkInfo::primaryInterface() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return primary_;
}

}  // namespace system_info
