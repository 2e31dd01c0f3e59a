// Feeds arbitrary text to the reader of GeoClue's location properties: it must refuse or
// give coordinates within range.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/system/Location.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto fix = system_info::parseGeoClueLocation(std::string_view(reinterpret_cast<const char*>(data), size));
  if (fix && (fix->latitude < -90 || fix->latitude > 90 || fix->longitude < -180 || fix->longitude > 180)) std::abort();
  return 0;
}
