#include "platform/foundation/Values.h"

#include <charconv>
#include <climits>
#include <cstdio>
#include <cstdlib>
#include <nlohmann/json.hpp>
#include <string>

namespace foundation {

namespace {
bool isSpace(char c) { return c == ' ' || c == '\t' || c == '\n' || c == '\r' || c == '\f' || c == '\v'; }

size_t skipSpace(std::string_view t, size_t i) {
  while (i < t.size() && isSpace(t[i])) ++i;
  return i;
}
}  // namespace

long long longLongValue(std::string_view t) {
  size_t i = skipSpace(t, 0);
  bool negative = false;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) negative = t[i++] == '-';
  unsigned long long v = 0;
  bool overflow = false;
  for (; i < t.size() && t[i] >= '0' && t[i] <= '9'; ++i) {
    if (v > (ULLONG_MAX - 9) / 10) overflow = true;
    if (!overflow) v = v * 10 + unsigned(t[i] - '0');
  }
  if (negative) {
    if (overflow || v > (unsigned long long)LLONG_MAX + 1) return LLONG_MIN;
    return v == (unsigned long long)LLONG_MAX + 1 ? LLONG_MIN : -(long long)v;
  }
  if (overflow || v > (unsigned long long)LLONG_MAX) return LLONG_MAX;
  return (long long)v;
}

int intValue(std::string_view t) {
  long long v = longLongValue(t);
  if (v > INT_MAX) return INT_MAX;
  if (v < INT_MIN) return INT_MIN;
  return int(v);
}

double doubleValue(std::string_view t) {
  size_t start = skipSpace(t, 0), i = start;
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  size_t digits = 0;
  while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++digits;
  if (i < t.size() && t[i] == '.') {
    ++i;
    while (i < t.size() && t[i] >= '0' && t[i] <= '9') ++i, ++digits;
  }
  if (digits == 0) return 0;
  if (i < t.size() && (t[i] == 'e' || t[i] == 'E')) {
    size_t j = i + 1;
    if (j < t.size() && (t[j] == '+' || t[j] == '-')) ++j;
    if (j < t.size() && t[j] >= '0' && t[j] <= '9') {
      while (j < t.size() && t[j] >= '0' && t[j] <= '9') ++j;
      i = j;
    }
  }
  std::string number(t.substr(start, i - start));
  return std::strtod(number.c_str(), nullptr);
}

bool boolValue(std::string_view t) {
  size_t i = skipSpace(t, 0);
  if (i < t.size() && (t[i] == '+' || t[i] == '-')) ++i;
  while (i < t.size() && t[i] == '0') ++i;
  if (i >= t.size()) return false;
  char c = t[i];
  return c == 'Y' || c == 'y' || c == 'T' || c == 't' || (c >= '1' && c <= '9');
}

long long longLongValue(const nlohmann::json& v) {
  if (v.is_number_integer()) return v.get<long long>();
  if (v.is_number_float()) {
    double d = v.get<double>();
    if (d >= 9.2e18) return LLONG_MAX;
    if (d <= -9.2e18) return LLONG_MIN;
    return (long long)d;
  }
  if (v.is_boolean()) return v.get<bool>() ? 1 : 0;
  if (v.is_string()) return longLongValue(std::string_view(v.get_ref<const std::string&>()));
  return 0;
}

int intValue(const nlohmann::json& v) {
  if (v.is_string()) return intValue(std::string_view(v.get_ref<const std::string&>()));
  long long x = longLongValue(v);
  if (x > INT_MAX) return INT_MAX;
  if (x < INT_MIN) return INT_MIN;
  return int(x);
}

double doubleValue(const nlohmann::json& v) {
  if (v.is_number()) return v.get<double>();
  if (v.is_boolean()) return v.get<bool>() ? 1 : 0;
  if (v.is_string()) return doubleValue(std::string_view(v.get_ref<const std::string&>()));
  return 0;
}

bool boolValue(const nlohmann::json& v) {
  if (v.is_boolean()) return v.get<bool>();
  if (v.is_number_integer()) return v.get<long long>() != 0;
  if (v.is_number_float()) return v.get<double>() != 0;
  if (v.is_string()) return boolValue(std::string_view(v.get_ref<const std::string&>()));
  return false;
}

std::string shortestDouble(double v) {
  char buf[64];
  auto r = std::to_chars(buf, buf + sizeof buf, v);
  return std::string(buf, r.ptr);
}

std::string formatDouble(double v, int decimals) {
  char buf[512];
  std::snprintf(buf, sizeof buf, "%.*f", decimals, v);
  return buf;
}

std::string textValue(const nlohmann::json& v) {
  switch (v.type()) {
    case nlohmann::json::value_t::null:
      return "(null)";
    case nlohmann::json::value_t::string:
      return v.get<std::string>();
    case nlohmann::json::value_t::boolean:
      return v.get<bool>() ? "1" : "0";
    case nlohmann::json::value_t::number_integer:
      return std::to_string(v.get<long long>());
    case nlohmann::json::value_t::number_unsigned:
      return std::to_string(v.get<unsigned long long>());
    case nlohmann::json::value_t::number_float:
      return shortestDouble(v.get<double>());
    default:
      return v.dump(-1, ' ', false, nlohmann::json::error_handler_t::replace);
  }
}

const nlohmann::json& valueForKey(const nlohmann::json& v, std::string_view key) {
  static const nlohmann::json kNull;
  if (!v.is_object()) return kNull;
  auto it = v.find(key);
  return it == v.end() ? kNull : *it;
}

std::string textForKey(const nlohmann::json& v, std::string_view key) {
  return textValue(valueForKey(v, key));
}

}  // namespace foundation
