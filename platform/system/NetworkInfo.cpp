#include "platform/system/NetworkInfo.h"

#include <arpa/inet.h>
#include <ifaddrs.h>
#include <netinet/in.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <nlohmann/json.hpp>
#include <sstream>

namespace system_info {

namespace {

std::mutex gSharedMutex;
std::shared_ptr<NetworkInfo> gShared;

std::filesystem::path defaultConfigDir() {
  if (const char* x = std::getenv("XDG_CONFIG_HOME"); x && *x)
    return std::filesystem::path(x) / "OrvoMobile";
  if (const char* h = std::getenv("HOME"); h && *h)
    return std::filesystem::path(h) / ".config" / "OrvoMobile";
  return "/tmp/OrvoMobile";
}

// The path of an executable named `name` on PATH, or empty.
std::string findOnPath(const std::string& name) {
  const char* path = std::getenv("PATH");
  if (!path) return {};
  std::stringstream ss(path);
  std::string dir;
  while (std::getline(ss, dir, ':')) {
    if (dir.empty()) continue;
    std::string candidate = dir + "/" + name;
    if (::access(candidate.c_str(), X_OK) == 0) return candidate;
  }
  return {};
}

std::optional<std::string> runAndRead(const std::string& command) {
  FILE* p = ::popen(command.c_str(), "r");
  if (!p) return std::nullopt;
  std::string out;
  char buf[512];
  size_t n;
  while ((n = std::fread(buf, 1, sizeof buf, p)) > 0) out.append(buf, n);
  int status = ::pclose(p);
  if (status != 0) return std::nullopt;
  return out;
}

// Splits one terse nmcli line at unescaped ':' and removes the escapes.
std::vector<std::string> splitNmcliFields(const std::string& line) {
  std::vector<std::string> fields(1);
  for (size_t i = 0; i < line.size(); ++i) {
    char c = line[i];
    if (c == '\\' && i + 1 < line.size()) {
      fields.back() += line[++i];
    } else if (c == ':') {
      fields.emplace_back();
    } else {
      fields.back() += c;
    }
  }
  return fields;
}

}  // namespace

std::shared_ptr<NetworkInfo> NetworkInfo::shared() {
  std::lock_guard<std::mutex> lock(gSharedMutex);
  if (!gShared) gShared = std::make_shared<LinuxNetworkInfo>(defaultConfigDir());
  return gShared;
}

void NetworkInfo::setShared(std::shared_ptr<NetworkInfo> info) {
  std::lock_guard<std::mutex> lock(gSharedMutex);
  gShared = std::move(info);
}

LinuxNetworkInfo::LinuxNetworkInfo(std::filesystem::path configDir) : configDir_(std::move(configDir)) {}

std::optional<WifiNetwork> LinuxNetworkInfo::parseNmcliWifiList(const std::string& output) {
  std::stringstream ss(output);
  std::string line;
  while (std::getline(ss, line)) {
    if (!line.empty() && line.back() == '\r') line.pop_back();
    auto f = splitNmcliFields(line);
    if (f.size() < 3 || f[0] != "yes") continue;
    WifiNetwork w;
    if (!f[1].empty()) w.ssid = f[1];
    if (!f[2].empty()) w.bssid = f[2];
    return w;
  }
  return std::nullopt;
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
  return !findOnPath("nmcli").empty() || !wirelessInterfaces().empty() || configured().has_value();
}

std::optional<WifiNetwork> LinuxNetworkInfo::currentWifi() const {
  if (std::string nmcli = findOnPath("nmcli"); !nmcli.empty()) {
    // The networks already known: asking for a new scan would hold the caller (the login
    // screen, on the main thread) for seconds.
    const std::string command = "'" + nmcli + "' -t -f ACTIVE,SSID,BSSID dev wifi list --rescan no 2>/dev/null";
    if (auto out = runAndRead(command)) {
      if (auto w = parseNmcliWifiList(*out)) return w;
    }
  }
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
    out.push_back({a->ifa_name, text});
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
