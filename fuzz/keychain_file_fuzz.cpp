// Feeds arbitrary bytes to the keychain file reader: it must refuse or read items that all
// carry a text "class", and what it reads must write and read back the same.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string_view>

#include "platform/security/KeychainItems.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto items = security::parseKeychainFile(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!items) return 0;
  for (const auto& i : *items)
    if (!i.is_object() || !i.contains("class") || !i["class"].is_string()) std::abort();
  auto again = security::parseKeychainFile(security::writeKeychainFile(*items));
  if (!again || again->size() != items->size()) std::abort();
  return 0;
}
