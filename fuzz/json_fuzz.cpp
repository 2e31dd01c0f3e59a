// Feeds arbitrary bytes to the JSON reader (server answers, stored settings): it must give a
// value or an error, never crash, and a value it gives must equal the library's own reading.
// (Comparing two values walks them recursively, so text nested deeper than kCompareDepth is
// only read by both, not compared; reading itself must cope with any depth.)
#include <algorithm>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string_view>

#include "platform/foundation/Json.h"

namespace {

constexpr size_t kCompareDepth = 1000;


}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const std::string_view text(reinterpret_cast<const char*>(data), size);
  foundation::Error error;
  auto value = foundation::parseJson(text, &error);
  auto reference = nlohmann::json::parse(text.begin(), text.end(), nullptr, false);
  if (value.has_value() != !reference.is_discarded()) std::abort();
  if (value && foundation::jsonNestingDepth(text) <= kCompareDepth && *value != reference) std::abort();
  return 0;
}
