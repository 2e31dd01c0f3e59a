// Feeds arbitrary text to the TR-31 key-block header reader. A header it accepts must
// describe the text it was read from.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "sdk/pinpad/PPadKeys.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  const auto header = kestra::ppad::readTR31Header(text);
  if (!header) return 0;
  if (header->length != size || header->usage.size() != 2 || header->keyVersion.size() != 2) std::abort();
  if (header->version < 'A' || header->version > 'D') std::abort();
  return 0;
}
