// Feeds arbitrary text to the reader of a hub port's configuration ("name|COMM/SETTINGS|
// proto1,proto2", as the hub answers it for a newly connected port). It must refuse text
// with fewer than three fields and otherwise split it without losing or inventing a byte.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string>

#include "sdk/hub/USBManager.h"

namespace {
std::string join(const std::vector<std::string>& parts, char sep) {
  std::string out;
  for (size_t i = 0; i < parts.size(); ++i) {
    if (i) out += sep;
    out += parts[i];
  }
  return out;
}
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string text(reinterpret_cast<const char*>(data), size);
  const auto config = kestra::parsePortConfig(text);
  size_t bars = 0;
  for (char c : text) bars += c == '|';
  if (bool(config) != (bars >= 2)) std::abort();
  if (!config) return 0;
  if (config->communication.empty() || config->channels.empty()) std::abort();
  if (config->name.find('|') != std::string::npos) std::abort();
  // The three fields come back whole; whatever follows a third bar is not read.
  const std::string rebuilt = config->name + '|' + join(config->communication, '/') + '|' + join(config->channels, ',');
  if (text.compare(0, rebuilt.size(), rebuilt) != 0) std::abort();
  if (rebuilt.size() < text.size() && text[rebuilt.size()] != '|') std::abort();
  return 0;
}
