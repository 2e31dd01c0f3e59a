#pragma once
// The Wi-Fi network the machine is joined to, asked of NetworkManager over D-Bus (libdbus):
// the first Wi-Fi device with an active access point (the device's "ActiveAccessPoint", or
// the access point of its active connection), and that access point's SSID and BSSID.
//
// `query` is synchronous and bounded: every call on the bus gets what is left of `timeout`,
// so a NetworkManager that does not answer costs at most that long; it then fails with an
// error. It may be called from any thread and opens its own private connection each time.
// `bus` is a D-Bus address; empty means the system bus.
//
// Bad input: replies of unexpected types are treated as "not there" (no Wi-Fi), never
// trusted; an SSID is handed on as its bytes.

#include <chrono>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"

namespace system_info {

struct WifiNetwork;

// The error domain of failed queries (no bus, no NetworkManager, no answer in time).
inline constexpr const char* kNetworkManagerErrorDomain = "NetworkManagerErrorDomain";

// Nothing with `error` unset: NetworkManager answered and no Wi-Fi network is joined.
std::optional<WifiNetwork> queryNetworkManagerWifi(const std::string& bus, std::chrono::milliseconds timeout,
                                                   foundation::Error* error = nullptr);

}  // namespace system_info
