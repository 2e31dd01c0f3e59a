#include "platform/net/Reachability.h"

#include <ifaddrs.h>
#include <net/if.h>

#include <fstream>
#include <mutex>
#include <sstream>
#include <vector>

namespace net {

namespace {

std::mutex gProbeMutex;
Reachability::Probe gProbe;

std::string readText(const char* path) {
  std::ifstream in(path);
  std::stringstream ss;
  ss << in.rdbuf();
  return ss.str();
}

std::vector<std::string> fields(std::string_view line) {
  std::vector<std::string> out;
  std::istringstream in{std::string(line)};
  std::string f;
  while (in >> f) out.push_back(f);
  return out;
}

template <class F>
void eachLine(std::string_view text, F&& f) {
  size_t start = 0;
  while (start < text.size()) {
    size_t end = text.find('\n', start);
    if (end == std::string_view::npos) end = text.size();
    f(text.substr(start, end - start));
    start = end + 1;
  }
}

}  // namespace

std::shared_ptr<Reachability> Reachability::reachabilityForInternetConnection() {
  return std::make_shared<Reachability>();
}

NetworkStatus Reachability::currentReachabilityStatus() const {
  Probe probe;
  {
    std::lock_guard l(gProbeMutex);
    probe = gProbe;
  }
  return probe ? probe() : systemStatus();
}

void Reachability::setProbe(Probe probe) {
  std::lock_guard l(gProbeMutex);
  gProbe = std::move(probe);
}

NetworkStatus Reachability::statusFrom(std::string_view ipv4Routes, std::string_view ipv6Routes,
                                       const std::set<std::string>& up) {
  bool reachable = false;
  // /proc/net/route: Iface Destination Gateway Flags RefCnt Use Metric Mask ...; a default
  // route has destination and mask 0 and the "up" flag (0x1).
  eachLine(ipv4Routes, [&](std::string_view line) {
    auto f = fields(line);
    if (f.size() < 8 || f[0] == "Iface") return;
    unsigned long flags = std::strtoul(f[3].c_str(), nullptr, 16);
    if (f[1] == "00000000" && f[7] == "00000000" && (flags & 0x1) && up.count(f[0]))
      reachable = true;
  });
  // /proc/net/ipv6_route: dest prefixlen src srcprefixlen nexthop metric ref use flags iface;
  // a default route has destination 0/0 and is not a reject route (flag 0x200).
  eachLine(ipv6Routes, [&](std::string_view line) {
    auto f = fields(line);
    if (f.size() < 10) return;
    unsigned long flags = std::strtoul(f[8].c_str(), nullptr, 16);
    if (f[0] == std::string(32, '0') && f[1] == "00" && !(flags & 0x200) && up.count(f[9]))
      reachable = true;
  });
  return reachable ? ReachableViaWiFi : NotReachable;
}

NetworkStatus Reachability::systemStatus() {
  std::set<std::string> up;
  ifaddrs* list = nullptr;
  if (getifaddrs(&list) == 0) {
    for (ifaddrs* a = list; a; a = a->ifa_next) {
      if (!a->ifa_name) continue;
      unsigned flags = a->ifa_flags;
      if ((flags & IFF_UP) && (flags & IFF_RUNNING) && !(flags & IFF_LOOPBACK))
        up.insert(a->ifa_name);
    }
    freeifaddrs(list);
  }
  return statusFrom(readText("/proc/net/route"), readText("/proc/net/ipv6_route"), up);
}

}  // namespace net
