// Feeds arbitrary bytes to the reader of the pinpad's key inventory. It must never read
// outside the input, and every key serial number it reports must lie inside it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "sdk/pinpad/PPadKeys.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const foundation::Bytes reply(data, data + size);
  const auto keys = kestra::ppad::parseKeysInfo(reply);
  for (const auto& k : keys) {
    if (k.ksn && k.ksn->size() > size) std::abort();
    if (!k.ksn && k.checkValue.size() != 3) std::abort();
    (void)k.typeString();
  }
  if (keys.size() > size / 3 + 1) std::abort();
  return 0;
}
