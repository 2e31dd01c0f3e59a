#include "app/orders/ServerValues.h"

#include <cmath>
#include <cstdlib>
#include <nlohmann/json.hpp>

#include "platform/foundation/Values.h"

namespace orvo::server_values {

namespace {

// Digits with at most one point between digits, after an optional minus.
bool decimalForm(const std::string& s) {
  size_t i = 0;
  if (i < s.size() && s[i] == '-') ++i;
  size_t digits = 0, point = 0;
  bool lastWasDigit = false;
  for (; i < s.size(); ++i) {
    const char c = s[i];
    if (c >= '0' && c <= '9') {
      ++digits;
      lastWasDigit = true;
    } else if (c == '.' && lastWasDigit && point == 0) {
      ++point;
      lastWasDigit = false;
    } else {
      return false;
    }
  }
  return digits > 0 && lastWasDigit;
}

std::optional<double> amountOf(const nlohmann::json& v, bool allowNegative) {
  double d = 0;
  if (v.is_string()) {
    const std::string& s = v.get_ref<const std::string&>();
    if (!decimalForm(s)) return std::nullopt;
    d = std::strtod(s.c_str(), nullptr);
  } else if (v.is_number()) {
    d = v.get<double>();
  } else {
    return std::nullopt;
  }
  if (!std::isfinite(d) || std::fabs(d) > kLargestAmount) return std::nullopt;
  if (d < 0 && !allowNegative) return std::nullopt;
  return d;
}

}  // namespace

std::optional<std::string> moneyText(const nlohmann::json& v, bool allowNegative) {
  auto d = amountOf(v, allowNegative);
  if (!d) return std::nullopt;
  if (v.is_string()) return v.get<std::string>();
  return foundation::formatDouble(*d, 2);
}

std::optional<std::string> quantityText(const nlohmann::json& v) {
  auto d = amountOf(v, false);
  if (!d) return std::nullopt;
  if (v.is_string()) return v.get<std::string>();
  if (v.is_number_integer()) return v.dump();
  return foundation::textValue(v);
}

std::optional<std::string> countText(const nlohmann::json& v) {
  if (v.is_number_unsigned() || (v.is_number_integer() && v.get<long long>() >= 0)) {
    if (v.get<double>() > kLargestAmount) return std::nullopt;
    return v.dump();
  }
  // A whole number written as a fraction (6.0) is that number.
  if (v.is_number_float()) {
    const double d = v.get<double>();
    if (!std::isfinite(d) || d < 0 || d > kLargestAmount || d != std::floor(d)) return std::nullopt;
    return std::to_string(static_cast<long long>(d));
  }
  if (!v.is_string()) return std::nullopt;
  const std::string& s = v.get_ref<const std::string&>();
  if (s.empty() || s.size() > 12) return std::nullopt;
  for (char c : s)
    if (c < '0' || c > '9') return std::nullopt;
  return s;
}

std::optional<std::string> orderNumberText(const nlohmann::json& v) {
  if (v.is_number_unsigned() || (v.is_number_integer() && v.get<long long>() >= 0)) return v.dump();
  if (!v.is_string()) return std::nullopt;
  const std::string& s = v.get_ref<const std::string&>();
  if (s.empty()) return std::nullopt;
  for (unsigned char c : s)
    if (c < 0x20 || c == 0x7f) return std::nullopt;
  return s;
}

}  // namespace orvo::server_values
