#include "platform/net/Reachability.h"

#include <gtest/gtest.h>

namespace net {
namespace {

#define ROUTE_HEADER \
    "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"

TEST(ReachabilityTest, NeedsADefaultRouteThroughAnUpInterface) {
  const std::string v4Default = ROUTE_HEADER
      "eth0\t00000000\t0102A8C0\t0003\t0\t0\t100\t00000000\t0\t0\t0\n"
      "eth0\t0002A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n";
  const std::string v4LocalOnly = ROUTE_HEADER
      "eth0\t0002A8C0\t00000000\t0001\t0\t0\t100\t00FFFFFF\t0\t0\t0\n";
  const std::string v6Default =
      "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
      "fe800000000000000000000000000001 00000400 00000001 00000000 00000003 wlan0\n";
  const std::string v6Reject =
      "00000000000000000000000000000000 00 00000000000000000000000000000000 00 "
      "00000000000000000000000000000000 ffffffff 00000001 00000000 00200200 lo\n";
  struct Case {
    const char* name;
    std::string v4, v6;
    std::set<std::string> up;
    NetworkStatus expected;
  };
  const std::vector<Case> cases = {
      {"IPv4 default route on an up interface", v4Default, "", {"eth0"}, ReachableViaWiFi},
      {"interface down", v4Default, "", {}, NotReachable},
      {"only a local network route", v4LocalOnly, "", {"eth0"}, NotReachable},
      {"IPv6 default route", "", v6Default, {"wlan0"}, ReachableViaWiFi},
      {"IPv6 reject route on loopback", "", v6Reject, {"lo"}, NotReachable},
      {"no routes at all", "", "", {"eth0"}, NotReachable},
      {"garbage", "not a table\n\n", "x y\n", {"eth0"}, NotReachable},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(Reachability::statusFrom(c.v4, c.v6, c.up), c.expected);
  }
}

TEST(ReachabilityTest, ProbeReplacesTheSystemAnswer) {
  auto r = Reachability::reachabilityForInternetConnection();
  Reachability::setProbe([] { return NotReachable; });
  EXPECT_EQ(r->currentReachabilityStatus(), NotReachable);
  Reachability::setProbe([] { return ReachableViaWWAN; });
  EXPECT_EQ(r->currentReachabilityStatus(), ReachableViaWWAN);
  Reachability::setProbe(nullptr);
  EXPECT_EQ(r->currentReachabilityStatus(), Reachability::systemStatus());
}

}  // namespace
}  // namespace net
