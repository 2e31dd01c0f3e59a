// Feeds arbitrary bytes as the serial accessories file. Each accessory the registry attaches
// from it must be a serial one whose device paths all exist, with an identity that survives
// its own descriptor form; removing the file must detach everything. (Nothing is opened: the
// paths are the fuzzer's.)
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>
#include <string_view>

#include "fuzz/AccessoryFuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto& f = fuzzsupport::AccessoryFolder::get();
  f.install(f.serialConfig, std::string_view(reinterpret_cast<const char*>(data), size));
  for (const auto& a : f.registry->connectedAccessories()) {
    const auto& ep = a->endpoint();
    if (ep.kind != accessory::AccessoryEndpoint::Kind::Serial || ep.serialDevices.empty()) std::abort();
    for (const auto& path : ep.serialDevices) {
      std::error_code ec;
      if (!std::filesystem::exists(path, ec)) std::abort();
    }
    fuzzsupport::checkIdentity(*a);
  }
  f.clear(f.serialConfig);
  return 0;
}
