#pragma once
// Date formatting and parsing with the platform's date patterns: yyyy yy MMMM MMM MM M
// dd d EEEE EEE HH H hh h mm m ss s SSS a Z ZZZZZ, and text in single quotes ('T').
// Dates are formatted in local time unless `utc` is set.
//
// Dates read from outside and shown to people are `CalendarTime`: microseconds since 1970,
// which hold every date of the years 0001 to 9999 (a server writes 12/31/9999 for "no date").
// The clock's `WallTime` counts nanoseconds and holds only 1678 to 2262; `toWallTime` gives a
// calendar time as one only when it fits. A moment outside the years 0000 to 9999 in UTC
// does not read.

#include <chrono>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Clock.h"

namespace foundation {

using CalendarTime = std::chrono::time_point<std::chrono::system_clock, std::chrono::microseconds>;

std::string formatDate(CalendarTime t, std::string_view pattern, bool utc = false);
inline std::string formatDate(WallTime t, std::string_view pattern, bool utc = false) {
  return formatDate(std::chrono::floor<CalendarTime::duration>(t), pattern, utc);
}
// Reads `text` that follows `pattern` exactly; nothing when it does not.
std::optional<CalendarTime> parseDate(std::string_view text, std::string_view pattern,
                                      bool utc = false);
// ISO 8601 with milliseconds in UTC: "2026-12-10T12:03:32.000Z".
std::string isoDate(CalendarTime t);
inline std::string isoDate(WallTime t) { return isoDate(std::chrono::floor<CalendarTime::duration>(t)); }
std::optional<CalendarTime> parseIsoDate(std::string_view text);

// `t` as the clock's time when a nanosecond count holds it (1678 to 2262); nothing otherwise.
std::optional<WallTime> toWallTime(std::optional<CalendarTime> t);

}  // namespace foundation
