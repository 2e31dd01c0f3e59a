// Feeds arbitrary text to the date reader under each pattern that reads dates from outside:
// the server's order dates, ISO 8601 (the management server, user defaults), the pinpad's
// clock and the agent's log and system dates. The first byte picks the pattern. The reader
// must refuse or read without overflow; a date it reads in UTC must format under the same
// pattern to a text that reads back as the same date.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <string_view>

#include "platform/foundation/DateFormat.h"

namespace {

constexpr std::string_view kPatterns[] = {
    "MM/dd/yyyy", "yyyy MM dd HH mm ss", "yyyyMMdd", "M/d/yy, h:mm a", "yyyy-MM-dd'T'HH:mm:ssZ",
    "yyyy-MM-dd'T'HH:mm:ss.SSSZZZZZ", "EEE, dd MMM yyyy HH:mm:ss",
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size == 0) return 0;
  const std::string_view pattern = kPatterns[data[0] % std::size(kPatterns)];
  const std::string_view text(reinterpret_cast<const char*>(data + 1), size - 1);
  if (auto date = foundation::parseDate(text, pattern, true)) {
    const auto again = foundation::parseDate(foundation::formatDate(*date, pattern, true), pattern, true);
    // Two-digit years and twelve-hour clocks read back in their own century and half-day.
    if (pattern != "M/d/yy, h:mm a" && (!again || *again != *date)) std::abort();
  }
  (void)foundation::parseDate(text, pattern, false);
  if (auto iso = foundation::parseIsoDate(text)) {
    auto back = foundation::parseIsoDate(foundation::isoDate(*iso));
    if (!back || *back != *iso) std::abort();
  }
  return 0;
}
