// Feeds arbitrary bytes as an accessory descriptor beside a listening socket. The registry
// must attach at most that one accessory, with an identity that survives its own descriptor
// form, or skip the descriptor; removing it must detach everything.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "fuzz/AccessoryFuzzSupport.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto& f = fuzzsupport::AccessoryFolder::get();
  const auto descriptor = f.folder / "fuzz.json";
  f.install(descriptor, std::string_view(reinterpret_cast<const char*>(data), size));
  const auto attached = f.registry->connectedAccessories();
  if (attached.size() > 1) std::abort();
  for (const auto& a : attached) {
    if (a->endpoint().kind != accessory::AccessoryEndpoint::Kind::Socket) std::abort();
    fuzzsupport::checkIdentity(*a);
    (void)a->toJson().dump();
  }
  f.clear(descriptor);
  return 0;
}
