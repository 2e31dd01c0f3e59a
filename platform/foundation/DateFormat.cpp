#include "platform/foundation/DateFormat.h"

#include <cctype>
#include <cstdio>
#include <ctime>
#include <vector>

namespace foundation {

namespace {
const char* const kMonths[] = {"January", "February", "March",     "April",   "May",      "June",
                               "July",    "August",   "September", "October", "November", "December"};
const char* const kDays[] = {"Sunday", "Monday", "Tuesday", "Wednesday",
                             "Thursday", "Friday", "Saturday"};

// A pattern split into runs of one letter ("yyyy") and literal text.
struct Token {
  char letter;  // 0 for literal text
  int count;
  std::string text;
};

std::vector<Token> tokenize(std::string_view p) {
  std::vector<Token> out;
  for (size_t i = 0; i < p.size();) {
    char c = p[i];
    if (c == '\'') {
      std::string lit;
      size_t j = i + 1;
      if (j < p.size() && p[j] == '\'') {  // '' is a quote
        out.push_back({0, 0, "'"});
        i = j + 1;
        continue;
      }
      for (; j < p.size(); ++j) {
        if (p[j] == '\'') {
          if (j + 1 < p.size() && p[j + 1] == '\'') {
            lit.push_back('\'');
            ++j;
            continue;
          }
          break;
        }
        lit.push_back(p[j]);
      }
      out.push_back({0, 0, lit});
      i = j + 1;
    } else if (std::isalpha(static_cast<unsigned char>(c))) {
      size_t j = i;
      while (j < p.size() && p[j] == c) ++j;
      out.push_back({c, int(j - i), {}});
      i = j;
    } else {
      out.push_back({0, 0, std::string(1, c)});
      ++i;
    }
  }
  return out;
}

std::string pad(long v, int width) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%0*ld", width, v);
  return buf;
}

bool startsWithNoCase(std::string_view text, std::string_view word) {
  if (text.size() < word.size()) return false;
  for (size_t i = 0; i < word.size(); ++i)
    if (std::tolower(static_cast<unsigned char>(text[i])) !=
        std::tolower(static_cast<unsigned char>(word[i])))
      return false;
  return true;
}
}  // namespace

std::string formatDate(CalendarTime t, std::string_view pattern, bool utc) {
  using namespace std::chrono;
  auto secs = floor<seconds>(t);
  int millis = int(duration_cast<milliseconds>(t - secs).count());
  // Seconds since 1970 straight from the count: the system clock's own conversion goes
  // through nanoseconds, which overflow beyond 2262.
  const std::time_t tt = std::time_t(secs.time_since_epoch().count());
  std::tm tm{};
  if (utc)
    gmtime_r(&tt, &tm);
  else
    localtime_r(&tt, &tm);

  std::string out;
  for (const Token& k : tokenize(pattern)) {
    switch (k.letter) {
      case 0: out += k.text; break;
      case 'y':
        out += k.count == 2 ? pad((tm.tm_year + 1900) % 100, 2) : pad(tm.tm_year + 1900, k.count);
        break;
      case 'M':
      case 'L':
        if (k.count >= 4) out += kMonths[tm.tm_mon];
        else if (k.count == 3) out += std::string(kMonths[tm.tm_mon]).substr(0, 3);
        else out += pad(tm.tm_mon + 1, k.count);
        break;
      case 'd': out += pad(tm.tm_mday, k.count); break;
      case 'E':
        out += k.count >= 4 ? std::string(kDays[tm.tm_wday])
                            : std::string(kDays[tm.tm_wday]).substr(0, 3);
        break;
      case 'H': out += pad(tm.tm_hour, k.count); break;
      case 'h': out += pad(tm.tm_hour % 12 == 0 ? 12 : tm.tm_hour % 12, k.count); break;
      case 'm': out += pad(tm.tm_min, k.count); break;
      case 's': out += pad(tm.tm_sec, k.count); break;
      case 'S': {
        std::string ms = pad(millis, 3);
        while (int(ms.size()) < k.count) ms.push_back('0');
        out += ms.substr(0, size_t(k.count));
        break;
      }
      case 'a': out += tm.tm_hour < 12 ? "AM" : "PM"; break;
      case 'Z':
      case 'x':
      case 'X': {
        long off = tm.tm_gmtoff;
        if (k.count == 5 && off == 0) {
          out += "Z";
          break;
        }
        char sign = off < 0 ? '-' : '+';
        off = off < 0 ? -off : off;
        out += sign + pad(off / 3600, 2) + (k.count == 5 ? ":" : "") + pad(off % 3600 / 60, 2);
        break;
      }
      default: out += std::string(size_t(k.count), k.letter); break;
    }
  }
  return out;
}

std::optional<CalendarTime> parseDate(std::string_view text, std::string_view pattern, bool utc) {
  std::tm tm{};
  tm.tm_mday = 1;
  tm.tm_year = 70;
  int millis = 0, hour12 = -1;
  bool pm = false, hasOffset = false;
  long offset = 0;
  size_t i = 0;

  auto readNumber = [&](int minDigits, int maxDigits, int& value) {
    int n = 0;
    value = 0;
    while (i < text.size() && n < maxDigits && std::isdigit(static_cast<unsigned char>(text[i]))) {
      value = value * 10 + (text[i++] - '0');
      ++n;
    }
    return n >= minDigits;
  };

  for (const Token& k : tokenize(pattern)) {
    int v = 0;
    int minD = k.count == 1 ? 1 : k.count, maxD = k.count == 1 ? 2 : k.count;
    switch (k.letter) {
      case 0:
        if (text.substr(i, k.text.size()) != k.text) return std::nullopt;
        i += k.text.size();
        break;
      case 'y':
        if (k.count == 2) {
          if (!readNumber(2, 2, v)) return std::nullopt;
          tm.tm_year = (v < 70 ? 2000 + v : 1900 + v) - 1900;
        } else {
          if (!readNumber(k.count == 1 ? 1 : k.count, 4, v)) return std::nullopt;
          tm.tm_year = v - 1900;
        }
        break;
      case 'M':
      case 'L':
        if (k.count >= 3) {
          int found = -1;
          for (int m = 0; m < 12 && found < 0; ++m) {
            std::string name = k.count >= 4 ? kMonths[m] : std::string(kMonths[m]).substr(0, 3);
            if (startsWithNoCase(text.substr(i), name)) {
              found = m;
              i += name.size();
            }
          }
          if (found < 0) return std::nullopt;
          tm.tm_mon = found;
        } else {
          if (!readNumber(minD, maxD, v) || v < 1 || v > 12) return std::nullopt;
          tm.tm_mon = v - 1;
        }
        break;
      case 'd':
        if (!readNumber(minD, maxD, v) || v < 1 || v > 31) return std::nullopt;
        tm.tm_mday = v;
        break;
      case 'E': {
        bool found = false;
        for (const char* d : kDays) {
          std::string name = k.count >= 4 ? d : std::string(d).substr(0, 3);
          if (startsWithNoCase(text.substr(i), name)) {
            i += name.size();
            found = true;
            break;
          }
        }
        if (!found) return std::nullopt;
        break;
      }
      case 'H':
        if (!readNumber(minD, maxD, v) || v > 23) return std::nullopt;
        tm.tm_hour = v;
        break;
      case 'h':
        if (!readNumber(minD, maxD, v) || v < 1 || v > 12) return std::nullopt;
        hour12 = v;
        break;
      case 'm':
        if (!readNumber(minD, maxD, v) || v > 59) return std::nullopt;
        tm.tm_min = v;
        break;
      case 's':
        if (!readNumber(minD, maxD, v) || v > 60) return std::nullopt;
        tm.tm_sec = v;
        break;
      case 'S': {
        if (!readNumber(1, k.count, v)) return std::nullopt;
        int digits = k.count;
        while (digits < 3) v *= 10, ++digits;
        while (digits > 3) v /= 10, --digits;
        millis = v;
        break;
      }
      case 'a':
        if (startsWithNoCase(text.substr(i), "AM")) pm = false;
        else if (startsWithNoCase(text.substr(i), "PM")) pm = true;
        else return std::nullopt;
        i += 2;
        break;
      case 'Z':
      case 'x':
      case 'X': {
        hasOffset = true;
        if (i < text.size() && text[i] == 'Z') {
          ++i;
          offset = 0;
          break;
        }
        if (i >= text.size() || (text[i] != '+' && text[i] != '-')) return std::nullopt;
        int sign = text[i++] == '-' ? -1 : 1;
        int hh = 0, mm = 0;
        if (!readNumber(2, 2, hh)) return std::nullopt;
        if (i < text.size() && text[i] == ':') ++i;
        if (!readNumber(2, 2, mm)) return std::nullopt;
        offset = sign * (hh * 3600L + mm * 60L);
        break;
      }
      default:
        return std::nullopt;
    }
  }
  if (i != text.size()) return std::nullopt;
  if (hour12 >= 0) tm.tm_hour = (hour12 % 12) + (pm ? 12 : 0);

  std::tm check = tm;
  std::time_t tt;
  if (utc || hasOffset) {
    tt = timegm(&tm);
  } else {
    tm.tm_isdst = -1;
    tt = mktime(&tm);
  }
  // Reject dates such as February 30 that the calendar functions would roll over.
  if (tm.tm_mday != check.tm_mday || tm.tm_mon != check.tm_mon) return std::nullopt;
  if (hasOffset) tt -= offset;
  // Every date of four-digit years reads (12/31/9999 is a server's "no date"). An offset or
  // the local zone may carry one a few hours past either end; a moment outside the years
  // 0000 to 9999 in UTC would not format back under a four-digit pattern, so it does not read.
  using namespace std::chrono;
  constexpr std::time_t kFirst = sys_seconds(sys_days(year(0) / January / 1)).time_since_epoch().count();
  constexpr std::time_t kEnd = sys_seconds(sys_days(year(10000) / January / 1)).time_since_epoch().count();
  if (tt < kFirst || tt >= kEnd) return std::nullopt;
  return CalendarTime(seconds(tt)) + milliseconds(millis);
}

std::string isoDate(CalendarTime t) { return formatDate(t, "yyyy-MM-dd'T'HH:mm:ss.SSS'Z'", true); }

std::optional<CalendarTime> parseIsoDate(std::string_view text) {
  if (auto d = parseDate(text, "yyyy-MM-dd'T'HH:mm:ss.SSSZZZZZ", true)) return d;
  return parseDate(text, "yyyy-MM-dd'T'HH:mm:ssZZZZZ", true);
}

std::optional<WallTime> toWallTime(std::optional<CalendarTime> t) {
  using namespace std::chrono;
  if (!t) return std::nullopt;
  constexpr auto kLast = floor<CalendarTime::duration>(WallTime::max());
  constexpr auto kFirst = ceil<CalendarTime::duration>(WallTime::min());
  if (*t > kLast || *t < kFirst) return std::nullopt;
  return time_point_cast<WallTime::duration>(*t);
}

}  // namespace foundation
