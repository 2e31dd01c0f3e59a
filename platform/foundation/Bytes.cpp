#include "platform/foundation/Bytes.h"

#include <cstring>

namespace foundation {

std::string toHex(const uint8_t* data, size_t len, std::string_view separator) {
  static const char kDigits[] = "0123456789ABCDEF";
  std::string out;
  out.reserve(len * (2 + separator.size()));
  for (size_t i = 0; i < len; ++i) {
    if (i && !separator.empty()) out.append(separator);
    out.push_back(kDigits[data[i] >> 4]);
    out.push_back(kDigits[data[i] & 0x0F]);
  }
  return out;
}

static int hexDigit(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

std::optional<Bytes> fromHex(std::string_view hex) {
  Bytes out;
  out.reserve(hex.size() / 2);
  int high = -1;
  for (char c : hex) {
    if (c == ' ' || c == ':' || c == '-' || c == '\n' || c == '\t') {
      if (high >= 0) return std::nullopt;  // separator inside a byte pair
      continue;
    }
    int d = hexDigit(c);
    if (d < 0) return std::nullopt;
    if (high < 0) {
      high = d;
    } else {
      out.push_back(uint8_t(high << 4 | d));
      high = -1;
    }
  }
  if (high >= 0) return std::nullopt;
  return out;
}

void append(Bytes& to, const uint8_t* data, size_t length) {
  if (length == 0) return;
  const auto* begin = to.data();
  if (data >= begin && data < begin + to.size()) {  // a part of `to` itself
    const size_t offset = size_t(data - begin);
    to.reserve(to.size() + length);
    for (size_t i = 0; i < length; ++i) to.push_back(to[offset + i]);
    return;
  }
  to.insert(to.end(), data, data + length);
}

void secureClear(Bytes& b) {
  volatile uint8_t* p = b.data();
  for (size_t i = 0; i < b.size(); ++i) p[i] = 0;
  b.clear();
}

void secureClear(std::string& s) {
  volatile char* p = s.data();
  for (size_t i = 0; i < s.size(); ++i) p[i] = 0;
  s.clear();
}

}  // namespace foundation
