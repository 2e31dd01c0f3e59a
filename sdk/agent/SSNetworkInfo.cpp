#include "sdk/agent/SSNetworkInfo.h"

#include <chrono>
#include <cstdlib>
#include <mutex>
#include <nlohmann/json.hpp>

#include "platform/net/HttpClient.h"
#include "platform/system/NetworkInfo.h"
#include "sdk/agent/SSInfo.h"
#include "sdk/agent/VexaPhonePlugins.h"

namespace kestra {

namespace {

std::mutex lookupMutex;
std::string lookupOrigin, lookupCaFile;  // guarded by lookupMutex

std::optional<std::string> lastAddressOf(bool cellular) {
  const auto info = system_info::NetworkInfo::shared();
  const std::string wifi = info->primaryInterface();
  std::optional<std::string> found;
  for (const auto& a : info->ipv4Addresses()) {
    const bool match = cellular ? a.interface.starts_with("wwan") : a.interface == wifi;
    if (match) found = a.address;  // a later address replaces an earlier one
  }
  if (found && found->empty()) return std::nullopt;
  return found;
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

void SSNetworkInfo::setPublicAddressLookup(std::string origin, std::string caFile) {
  std::lock_guard lock(lookupMutex);
  lookupOrigin = std::move(origin);
  lookupCaFile = std::move(caFile);
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
    std::lock_guard lock(lookupMutex);
    origin = lookupOrigin;
    caFile = lookupCaFile;
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
