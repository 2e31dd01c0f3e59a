#pragma once
// The phone's networks as the agent reports them: the Wi-Fi interface (the machine's primary
// interface) and the cellular one (the first "wwan" interface), their IPv4 addresses, and the
// public address as a lookup service sees it. The carrier: Linux has no telephony service
// here, so the carrier's own texts are absent; its country is the locale's region.
//
// The lookup service is configuration: `setPublicAddressLookup`, or the environment
// (KESTRA_PUBLIC_IP_URL, KESTRA_PUBLIC_IP_CA_FILE); without one there is no public address.
// It is asked over https only; an http lookup address gives no public address.
// Its answer is outside input: only a JSON object whose "ip" is a dotted IPv4 address counts.
//
// Hardware addresses come from /sys/class/net/<interface>/address and the router from the
// kernel's IPv4 routing table /proc/net/route, both below the info root (SSInfo.h), so tests
// give a folder with known contents.
//
// Thread-safe. `externalIPAddress` blocks the calling thread for the request (at most ten
// seconds); never call it on the main thread.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace kestra {

class SSNetworkInfo {
 public:
  static std::optional<std::string> cellIPAddress();
  static std::optional<std::string> wiFiIPAddress();
  // "AA:BB:CC:DD:EE:FF".
  static std::optional<std::string> cellMACAddress();
  static std::optional<std::string> wiFiMACAddress();
  static std::optional<std::string> cellNetmaskAddress();
  static std::optional<std::string> wiFiNetmaskAddress();
  static std::optional<std::string> cellBroadcastAddress();
  static std::optional<std::string> wiFiBroadcastAddress();
  static bool connectedToCellNetwork();
  static bool connectedToWiFi();
  // The Wi-Fi value while on Wi-Fi, else the cellular one while on the cellular network.
  static std::optional<std::string> currentIPAddress();
  static std::optional<std::string> currentMACAddress();
  // The gateway of the route `Route_Info::getRoutes` finds.
  static std::optional<std::string> wiFiRouterAddress();
  // The joined network's name; "Not Found" when no network is reported.
  static std::optional<std::string> wifiName();
  // A sysfs hardware-address text in upper case; nothing unless it is six hex pairs.
  static std::optional<std::string> macAddressFromText(std::string_view text);
  // Nothing, without a request, while on neither network.
  static std::optional<std::string> externalIPAddress();
  // "ip" of a lookup answer when it is a dotted IPv4 address.
  static std::optional<std::string> publicAddressFromAnswer(std::string_view body);
  // The service's origin (the request goes to "/?format=json") and the authorities it is
  // checked against (empty: the system's). An empty origin: the environment's again.
  static void setPublicAddressLookup(std::string origin, std::string caFile = {});
};

// One route of the kernel's IPv4 routing table.
class Route_Info {
 public:
  // The first route that is up, as the only element; empty when the table cannot be read.
  static std::vector<Route_Info> getRoutes();
  // One line of /proc/net/route ("Iface Destination Gateway Flags RefCnt Use Metric Mask ..."
  // with the addresses as the kernel's hex words); nothing for the header, a malformed line
  // or a route that is not up.
  static std::optional<Route_Info> getRoute(std::string_view line);

  std::optional<std::string> getDestination() const { return getAddrStringByIndex(0); }
  std::optional<std::string> getGateway() const { return getAddrStringByIndex(1); }
  std::optional<std::string> getNetmask() const { return getAddrStringByIndex(2); }
  // 0 destination, 1 gateway, 2 netmask: dotted, "default" for 0.0.0.0; other indexes nothing.
  std::optional<std::string> getAddrStringByIndex(int index) const;
  const std::string& interfaceName() const { return interface_; }

 private:
  std::string interface_;
  uint32_t addrs_[3] = {};  // as the kernel stores them (network byte order)
};

class SSCarrierInfo {
 public:
  static std::optional<std::string> carrierName() { return std::nullopt; }
  static std::optional<std::string> carrierMobileCountryCode() { return std::nullopt; }
  static std::optional<std::string> carrierISOCountryCode() { return std::nullopt; }
  static std::optional<std::string> carrierMobileNetworkCode() { return std::nullopt; }
  static bool carrierAllowsVOIP() { return false; }
  // The region of the current locale ("AT" for de_AT).
  static std::optional<std::string> carrierCountry();
};

}  // namespace kestra
