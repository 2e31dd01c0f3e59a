#pragma once
// Whether the internet can be reached, as the platform's reachability answers it for the
// zero address. On Linux the network counts as reachable when a default route (IPv4 or
// IPv6) leads through an interface that is up and running; loopback never counts.
//
// The answer can be replaced (`setProbe`) for tests and for hosts whose network the
// application should ignore; the system probe reads /proc/net/route, /proc/net/ipv6_route
// and the interface flags on each call. Thread-safe; nothing is cached.

#include <functional>
#include <memory>
#include <set>
#include <string>
#include <string_view>

namespace net {

enum NetworkStatus : int { NotReachable = 0, ReachableViaWiFi = 1, ReachableViaWWAN = 2 };

class Reachability {
 public:
  using Probe = std::function<NetworkStatus()>;

  // A reachability object for the internet connection (the zero address).
  static std::shared_ptr<Reachability> reachabilityForInternetConnection();
  NetworkStatus currentReachabilityStatus() const;

  // Replaces the system probe for every reachability object; nullptr restores it.
  static void setProbe(Probe probe);
  // The system's answer, ignoring any probe that is set.
  static NetworkStatus systemStatus();

  // The rule on its inputs: the text of /proc/net/route and of /proc/net/ipv6_route, and
  // the names of the interfaces that are up and running (loopback excluded by the caller).
  static NetworkStatus statusFrom(std::string_view ipv4Routes, std::string_view ipv6Routes,
                                  const std::set<std::string>& upInterfaces);
};

}  // namespace net
