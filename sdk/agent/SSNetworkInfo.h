#pragma once
// The phone's networks as the agent reports them: the Wi-Fi interface (the machine's primary
// interface) and the cellular one (the first "wwan" interface), their IPv4 addresses, and the
// public address as a lookup service sees it. The carrier: Linux has no telephony service
// here, so the carrier's own texts are absent; its country is the locale's region.
//
// The lookup service is configuration: `setPublicAddressLookup`, or the environment
// (KESTRA_PUBLIC_IP_URL, KESTRA_PUBLIC_IP_CA_FILE); without one there is no public address.
// Its answer is outside input: only a JSON object whose "ip" is a dotted IPv4 address counts.
//
// Thread-safe. `externalIPAddress` blocks the calling thread for the request (at most ten
// seconds); never call it on the main thread.

#include <optional>
#include <string>
#include <string_view>

namespace kestra {

class SSNetworkInfo {
 public:
  static std::optional<std::string> cellIPAddress();
  static std::optional<std::string> wiFiIPAddress();
  static bool connectedToCellNetwork();
  static bool connectedToWiFi();
  // Nothing, without a request, while on neither network.
  static std::optional<std::string> externalIPAddress();
  // "ip" of a lookup answer when it is a dotted IPv4 address.
  static std::optional<std::string> publicAddressFromAnswer(std::string_view body);
  // The service's origin (the request goes to "/?format=json") and the authorities it is
  // checked against (empty: the system's). An empty origin: the environment's again.
  static void setPublicAddressLookup(std::string origin, std::string caFile = {});
};

class SSCarrierInfo {
 public:
  static std::optional<std::string> carrierName() { return std::nullopt; }
  // The region of the current locale ("AT" for de_AT).
  static std::optional<std::string> carrierCountry();
};

}  // namespace kestra
