// Feeds arbitrary bytes to the TLV decoder. It must refuse or decode without reading outside
// the input, never hand back a value over 4096 bytes, and what it decodes must encode and
// decode again to the same objects.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "sdk/foundation/KXTLV.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  auto tags = kestra::KXTLV::decodeTags(data, size);
  if (!tags) return 0;
  for (const auto& t : *tags)
    if (!t.data || t.data->size() > kestra::KXTLV::kMaxValueLength) std::abort();
  const foundation::Bytes encoded = kestra::KXTLV::encodeTags(*tags);
  auto again = kestra::KXTLV::decodeTags(encoded);
  if (!again || *again != *tags) std::abort();
  for (const auto& t : *tags) {
    (void)t.description();
    (void)t.valueAsInt64();
    (void)t.constructed();
  }
  return 0;
}
