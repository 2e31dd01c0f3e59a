// Feeds arbitrary bytes to the readers of the machine's /proc and /sys texts (memory, uptime,
// battery, routes, hardware addresses). They must never read outside the text, and every
// number they report must come from the text.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "sdk/agent/SSInfo.h"
#include "sdk/agent/SSNetworkInfo.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  for (const auto& [key, value] : kestra::parseKeyNumberLines(text)) {
    if (key.empty() || text.find(key) == std::string_view::npos) std::abort();
    (void)value;
  }
  if (const auto seconds = kestra::parseUptimeSeconds(text); seconds && *seconds < 0) std::abort();
  const int state = kestra::batteryStateFromStatus(text);
  if (state < 0 || state > 3) std::abort();
  if (const auto route = kestra::Route_Info::getRoute(text)) {
    for (int i = -1; i <= 8; ++i) (void)route->getAddrStringByIndex(i);
    if (route->interfaceName().empty() || text.find(route->interfaceName()) == std::string_view::npos) std::abort();
  }
  if (const auto mac = kestra::SSNetworkInfo::macAddressFromText(text); mac && mac->size() != 17) std::abort();
  const std::string half(text.substr(0, size / 2)), rest(text.substr(size / 2));
  (void)kestra::ipv4BroadcastAddress(half, rest);
  return 0;
}
