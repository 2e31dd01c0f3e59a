// Feeds arbitrary text to the Base64 decoder and arbitrary bytes to the encoder. Decoding
// must refuse or succeed without reading outside the text; whatever decodes must encode to
// the canonical form of the text, and every encoding must decode to the bytes it came from.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "sdk/foundation/KXBase64.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using kestra::KXBase64;
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  if (auto decoded = KXBase64::decodeBase64WithString(text); decoded && !decoded->empty()) {
    auto encoded = KXBase64::encodeBase64WithData(*decoded);
    if (!encoded) std::abort();
    auto again = KXBase64::decodeBase64WithString(*encoded);
    if (!again || *again != *decoded) std::abort();
  }
  const foundation::Bytes bytes(data, data + size);
  auto encoded = KXBase64::encodeBase64WithData(bytes);
  if (bytes.empty() != !encoded) std::abort();
  if (encoded) {
    if (encoded->size() != (size + 2) / 3 * 4) std::abort();
    auto back = KXBase64::decodeBase64WithString(*encoded);
    if (!back || *back != bytes) std::abort();
  }
  return 0;
}
