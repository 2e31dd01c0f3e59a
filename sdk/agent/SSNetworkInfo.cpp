#include "sdk/agent/SSNetworkInfo.h"

#include <arpa/inet.h>
#include <netinet/in.h>

#include <algorithm>
#include <cctype>
#include <chrono>
#include <cstdlib>
#include <mutex>
#include <nlohmann/json.hpp>

#include "platform/foundation/UserDefaults.h"
#include "platform/net/HttpClient.h"
#include "platform/system/NetworkInfo.h"
#include "sdk/agent/SSInfo.h"
#include "sdk/agent/VexaPhonePlugins.h"

namespace kestra {

namespace {

// Never destroyed: the agent's threads may read it while the process exits.
struct LookupState {
  std::mutex mutex;
  std::string origin, caFile;  // guarded by mutex
};

LookupState& lookupState() {
  static LookupState* const s = new LookupState;
  return *s;
}

// The last IPv4 address of the Wi-Fi or the cellular interface (a later address replaces an
// earlier one).
std::optional<system_info::InterfaceAddress> lastEntryOf(bool cellular) {
  const auto info = system_info::NetworkInfo::shared();
  const std::string wifi = info->primaryInterface();
  std::optional<system_info::InterfaceAddress> found;
  for (const auto& a : info->ipv4Addresses()) {
    const bool match = cellular ? a.interface.starts_with("wwan") : a.interface == wifi;
    if (match) found = a;
  }
  return found;
}

std::optional<std::string> nonEmpty(std::string text) {
  if (text.empty()) return std::nullopt;
  return text;
}

std::optional<std::string> lastAddressOf(bool cellular) {
  const auto entry = lastEntryOf(cellular);
  return entry ? nonEmpty(entry->address) : std::nullopt;
}

std::optional<std::string> netmaskOf(bool cellular) {
  const auto entry = lastEntryOf(cellular);
  return entry ? nonEmpty(entry->netmask) : std::nullopt;
}

std::optional<std::string> broadcastOf(bool cellular) {
  const auto entry = lastEntryOf(cellular);
  return entry ? ipv4BroadcastAddress(entry->address, entry->netmask) : std::nullopt;
}

std::optional<std::string> macOf(bool cellular) {
  std::string name;
  if (cellular) {
    const auto entry = lastEntryOf(true);
    if (!entry) return std::nullopt;
    name = entry->interface;
  } else {
    name = system_info::NetworkInfo::shared()->primaryInterface();
  }
  // An interface name is one path component.
  if (name.empty() || name.find('/') != std::string::npos || name == "." || name == "..") return std::nullopt;
  const auto text = foundation::readFile(SSInfoRoot::root() / "sys/class/net" / name / "address");
  return text ? SSNetworkInfo::macAddressFromText(*text) : std::nullopt;
}

std::string dotted(uint32_t networkOrder) {
  in_addr address{};
  address.s_addr = networkOrder;
  char text[INET_ADDRSTRLEN] = {};
  return ::inet_ntop(AF_INET, &address, text, sizeof text) ? text : "";
}

std::string envOr(const char* name) {
  const char* value = std::getenv(name);
  return value ? value : "";
}

}  // namespace

std::optional<std::string> SSNetworkInfo::cellIPAddress() { return lastAddressOf(true); }
std::optional<std::string> SSNetworkInfo::wiFiIPAddress() { return lastAddressOf(false); }
bool SSNetworkInfo::connectedToCellNetwork() { return cellIPAddress().has_value(); }
bool SSNetworkInfo::connectedToWiFi() { return wiFiIPAddress().has_value(); }
std::optional<std::string> SSNetworkInfo::cellMACAddress() { return macOf(true); }
std::optional<std::string> SSNetworkInfo::wiFiMACAddress() { return macOf(false); }
std::optional<std::string> SSNetworkInfo::cellNetmaskAddress() { return netmaskOf(true); }
std::optional<std::string> SSNetworkInfo::wiFiNetmaskAddress() { return netmaskOf(false); }
std::optional<std::string> SSNetworkInfo::cellBroadcastAddress() { return broadcastOf(true); }
std::optional<std::string> SSNetworkInfo::wiFiBroadcastAddress() { return broadcastOf(false); }

std::optional<std::string> SSNetworkInfo::currentIPAddress() {
  if (connectedToWiFi()) return wiFiIPAddress();
  if (connectedToCellNetwork()) return cellIPAddress();
  return std::nullopt;
}

std::optional<std::string> SSNetworkInfo::currentMACAddress() {
  if (connectedToWiFi()) return wiFiMACAddress();
  if (connectedToCellNetwork()) return cellMACAddress();
  return std::nullopt;
}

std::optional<std::string> SSNetworkInfo::wiFiRouterAddress() {
  const auto routes = Route_Info::getRoutes();
  if (routes.empty()) return std::nullopt;
  return routes.back().getGateway();
}

std::optional<std::string> SSNetworkInfo::wifiName() {
  const auto info = system_info::NetworkInfo::shared();
  if (!info->hasWifiInterface()) return "Not Found";
  const auto wifi = info->currentWifi();
  if (!wifi) return "Not Found";
  return wifi->ssid && !wifi->ssid->empty() ? wifi->ssid : std::nullopt;
}

std::optional<std::string> SSNetworkInfo::macAddressFromText(std::string_view text) {
  while (!text.empty() && (text.back() == '\n' || text.back() == ' ')) text.remove_suffix(1);
  if (text.size() != 17) return std::nullopt;
  std::string out(text);
  for (size_t i = 0; i < out.size(); ++i) {
    if (i % 3 == 2) {
      if (out[i] != ':') return std::nullopt;
    } else if (!std::isxdigit(static_cast<unsigned char>(out[i]))) {
      return std::nullopt;
    } else {
      out[i] = char(std::toupper(static_cast<unsigned char>(out[i])));
    }
  }
  return out;
}

// ---- Routes ----------------------------------------------------------------------------------

std::optional<Route_Info> Route_Info::getRoute(std::string_view line) {
  std::vector<std::string_view> fields;
  size_t at = 0;
  while (at < line.size()) {
    const size_t start = line.find_first_not_of(" \t\r\n", at);
    if (start == std::string_view::npos) break;
    const size_t end = std::min(line.find_first_of(" \t\r\n", start), line.size());
    fields.push_back(line.substr(start, end - start));
    at = end;
  }
  if (fields.size() < 8) return std::nullopt;
  const auto hexWord = [](std::string_view text) -> std::optional<uint32_t> {
    if (text.empty() || text.size() > 8) return std::nullopt;
    uint32_t value = 0;
    for (const char c : text) {
      if (!std::isxdigit(static_cast<unsigned char>(c))) return std::nullopt;
      value = value << 4 | uint32_t(std::isdigit(static_cast<unsigned char>(c)) ? c - '0' : (std::tolower(c) - 'a' + 10));
    }
    return value;
  };
  const auto destination = hexWord(fields[1]), gateway = hexWord(fields[2]), flags = hexWord(fields[3]),
             mask = hexWord(fields[7]);
  constexpr uint32_t kRouteUp = 0x1;
  if (!destination || !gateway || !flags || !mask || !(*flags & kRouteUp)) return std::nullopt;
  Route_Info route;
  route.interface_ = std::string(fields[0]);
  // The kernel prints each address as the number its bytes make in this machine's order.
  route.addrs_[0] = *destination;
  route.addrs_[1] = *gateway;
  route.addrs_[2] = *mask;
  return route;
}

std::vector<Route_Info> Route_Info::getRoutes() {
  const auto text = foundation::readFile(SSInfoRoot::root() / "proc/net/route");
  if (!text) return {};
  size_t start = 0;
  while (start < text->size()) {
    const size_t end = std::min(text->find('\n', start), text->size());
    if (auto route = getRoute(std::string_view(*text).substr(start, end - start))) return {*route};
    start = end + 1;
  }
  return {};
}

std::optional<std::string> Route_Info::getAddrStringByIndex(int index) const {
  if (index < 0 || index > 2) return std::nullopt;
  if (addrs_[index] == 0) return "default";
  return nonEmpty(dotted(addrs_[index]));
}

void SSNetworkInfo::setPublicAddressLookup(std::string origin, std::string caFile) {
  auto& state = lookupState();
  std::lock_guard lock(state.mutex);
  state.origin = std::move(origin);
  state.caFile = std::move(caFile);
}

std::optional<std::string> SSNetworkInfo::publicAddressFromAnswer(std::string_view body) {
  const auto json = nlohmann::json::parse(body, nullptr, false);
  if (!json.is_object()) return std::nullopt;
  const auto it = json.find("ip");
  if (it == json.end() || !it->is_string()) return std::nullopt;
  const std::string ip = it->get<std::string>();
  // Four dotted parts of 0-255: the broadcast check parses exactly that.
  if (!ipv4BroadcastAddress(ip, "255.255.255.255")) return std::nullopt;
  return ip;
}

std::optional<std::string> SSNetworkInfo::externalIPAddress() {
  if (!connectedToCellNetwork() && !connectedToWiFi()) return std::nullopt;
  std::string origin, caFile;
  {
    auto& state = lookupState();
    std::lock_guard lock(state.mutex);
    origin = state.origin;
    caFile = state.caFile;
  }
  if (origin.empty()) {
    origin = envOr("KESTRA_PUBLIC_IP_URL");
    caFile = envOr("KESTRA_PUBLIC_IP_CA_FILE");
  }
  if (origin.empty()) return std::nullopt;
  while (!origin.empty() && origin.back() == '/') origin.pop_back();
  ::net::HttpRequest request;
  request.url = origin + "/?format=json";
  request.caFile = caFile;
  // Like every request of the agent: https only, redirects included.
  request.protocols = "https";
  request.timeout = std::chrono::seconds(10);
  request.resourceTimeout = std::chrono::seconds(10);
  request.maxResponseSize = 64 * 1024;
  const auto response = ::net::HttpClient::sendSync(std::move(request));
  if (!response || response->status != 200) return std::nullopt;
  return publicAddressFromAnswer(response->body);
}

std::optional<std::string> SSCarrierInfo::carrierCountry() {
  const auto locale = SSLocalizationInfo::country();
  if (!locale) return std::nullopt;
  const size_t underscore = locale->find('_');
  if (underscore == std::string::npos || underscore + 1 >= locale->size()) return std::nullopt;
  return locale->substr(underscore + 1);
}

}  // namespace kestra
