#include "app/core/DataAdditions.h"

#include <cstring>

namespace orvo::DataAdditions {

namespace {

const char kAlphabet[] = "ABCDEFGHIJKLMNOPQRSTUVWXYZabcdefghijklmnopqrstuvwxyz0123456789+/";

int symbolValue(unsigned char c) {
  if (c >= 'A' && c <= 'Z') return c - 'A';
  if (c >= 'a' && c <= 'z') return c - 'a' + 26;
  if (c >= '0' && c <= '9') return c - '0' + 52;
  if (c == '+') return 62;
  if (c == '/') return 63;
  return -1;
}

Bytes decode(std::string_view text) {
  Bytes out;
  out.reserve(text.size() / 4 * 3 + 3);
  int group[4];
  int waiting = 0;
  for (unsigned char c : text) {
    if (c == '=') {
      // The end of the data: what is waiting gives its remaining bytes.
      if (waiting == 1 || waiting == 2) {
        out.push_back(uint8_t(group[0] << 2 | (waiting == 2 ? group[1] >> 4 : 0)));
      } else if (waiting == 3) {
        out.push_back(uint8_t(group[0] << 2 | group[1] >> 4));
        out.push_back(uint8_t((group[1] & 0x0F) << 4 | group[2] >> 2));
      }
      return out;
    }
    int v = symbolValue(c);
    if (v < 0) continue;
    group[waiting++] = v;
    if (waiting == 4) {
      out.push_back(uint8_t(group[0] << 2 | group[1] >> 4));
      out.push_back(uint8_t((group[1] & 0x0F) << 4 | group[2] >> 2));
      out.push_back(uint8_t((group[2] & 0x03) << 6 | group[3]));
      waiting = 0;
    }
  }
  return out;
}

}  // namespace

Bytes dataWithBase64EncodedString(const std::optional<std::string>& text) {
  if (!text) return {};
  return decode(*text);
}

Bytes dataFromBase64String(std::string_view text) { return decode(text); }

std::string base64EncodingWithLineLength(const Bytes& data, unsigned lineLength) {
  std::string out;
  out.reserve((data.size() + 2) / 3 * 4 + (lineLength ? data.size() / lineLength + 1 : 0));
  size_t sinceBreak = 0;
  for (size_t i = 0; i < data.size(); i += 3) {
    uint32_t n = uint32_t(data[i]) << 16;
    size_t left = data.size() - i;
    if (left > 1) n |= uint32_t(data[i + 1]) << 8;
    if (left > 2) n |= data[i + 2];
    out += kAlphabet[n >> 18 & 63];
    out += kAlphabet[n >> 12 & 63];
    out += left > 1 ? kAlphabet[n >> 6 & 63] : '=';
    out += left > 2 ? kAlphabet[n & 63] : '=';
    sinceBreak += 4;
    if (lineLength > 0 && sinceBreak >= lineLength) {
      out += '\n';
      sinceBreak = 0;
    }
  }
  return out;
}

bool hasPrefixBytes(const Bytes& data, const uint8_t* bytes, size_t length) {
  if (!bytes || length == 0 || data.size() < length) return false;
  return std::memcmp(data.data(), bytes, length) == 0;
}

bool hasSuffixBytes(const Bytes& data, const uint8_t* bytes, size_t length) {
  if (!bytes || length == 0 || data.size() < length) return false;
  return std::memcmp(data.data() + data.size() - length, bytes, length) == 0;
}

}  // namespace orvo::DataAdditions
