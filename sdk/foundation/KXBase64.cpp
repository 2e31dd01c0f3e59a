#include "sdk/foundation/KXBase64.h"

namespace kestra {
namespace {

constexpr char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int valueOf(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

bool isSkipped(unsigned char c) {
  return c == '\t' || c == '\n' || c == '\f' || c == '\r' || c == ' ';
}

}  // namespace

std::optional<std::string> KXBase64::encodeBase64WithData(const foundation::Bytes& data) {
  if (data.empty()) return std::nullopt;
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4);
  size_t i = 0;
  for (; i + 3 <= data.size(); i += 3) {
    uint32_t v = uint32_t(data[i]) << 16 | uint32_t(data[i + 1]) << 8 | data[i + 2];
    for (int s = 18; s >= 0; s -= 6) out += kAlphabet[(v >> s) & 63];
  }
  const size_t rest = data.size() - i;
  if (rest == 1) {
    uint32_t v = uint32_t(data[i]) << 16;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += "==";
  } else if (rest == 2) {
    uint32_t v = uint32_t(data[i]) << 16 | uint32_t(data[i + 1]) << 8;
    out += kAlphabet[(v >> 18) & 63];
    out += kAlphabet[(v >> 12) & 63];
    out += kAlphabet[(v >> 6) & 63];
    out += '=';
  }
  return out;
}

std::optional<std::string> KXBase64::encodeBase64WithString(std::string_view text) {
  return encodeBase64WithData(foundation::Bytes(text.begin(), text.end()));
}

std::optional<foundation::Bytes> KXBase64::decodeBase64WithString(std::string_view text) {
  foundation::Bytes out;
  out.reserve(text.size() / 4 * 3);
  uint32_t acc = 0;
  int count = 0;     // characters in the current group
  int padding = 0;   // "=" seen; only white space and more "=" may follow
  for (unsigned char c : text) {
    if (c > 127) return std::nullopt;
    if (isSkipped(c)) continue;
    if (c == '=') {
      // Padding closes a group of two or three characters, to four in all.
      if (count + padding < 2 || count + padding >= 4) return std::nullopt;
      ++padding;
      continue;
    }
    const int v = valueOf(c);
    if (v < 0 || padding) return std::nullopt;
    acc = acc << 6 | uint32_t(v);
    if (++count == 4) {
      out.push_back(uint8_t(acc >> 16));
      out.push_back(uint8_t(acc >> 8));
      out.push_back(uint8_t(acc));
      acc = 0;
      count = 0;
    }
  }
  if (padding && count + padding != 4) return std::nullopt;
  if (count == 1) return std::nullopt;
  if (count == 2) {
    out.push_back(uint8_t(acc >> 4));
  } else if (count == 3) {
    out.push_back(uint8_t(acc >> 10));
    out.push_back(uint8_t(acc >> 2));
  }
  return out;
}

}  // namespace kestra
