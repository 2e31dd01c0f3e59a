// Feeds arbitrary text to the reader of Bluetooth UUIDs (texts a radio reports for services
// and characteristics): it must refuse it, or give a UUID whose text reads back as itself.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/bluetooth/BluetoothUuid.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto u = bluetooth::Uuid::parse(std::string_view(reinterpret_cast<const char*>(data), size));
  if (!u) return 0;
  const std::string text = u->string();
  if (text.size() != 36 || bluetooth::Uuid::parse(text) != u) std::abort();
  return 0;
}
