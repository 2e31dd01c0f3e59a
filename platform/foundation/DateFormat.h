#pragma once
// Date formatting and parsing with the platform's date patterns: yyyy yy MMMM MMM MM M
// dd d EEEE EEE HH H hh h mm m ss s SSS a Z ZZZZZ, and text in single quotes ('T').
// Dates are formatted in local time unless `utc` is set.

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Clock.h"

namespace foundation {

std::string formatDate(WallTime t, std::string_view pattern, bool utc = false);
// Reads `text` that follows `pattern` exactly; nothing when it does not.
std::optional<WallTime> parseDate(std::string_view text, std::string_view pattern,
                                  bool utc = false);
// ISO 8601 with milliseconds in UTC: "2026-12-10T12:03:32.000Z".
std::string isoDate(WallTime t);
std::optional<WallTime> parseIsoDate(std::string_view text);

}  // namespace foundation
