#include "platform/bluetooth/BluetoothUuid.h"

#include <random>

namespace bluetooth {

namespace {

int hexValue(char c) {
  if (c >= '0' && c <= '9') return c - '0';
  if (c >= 'a' && c <= 'f') return c - 'a' + 10;
  if (c >= 'A' && c <= 'F') return c - 'A' + 10;
  return -1;
}

// 0000xxxx-0000-1000-8000-00805F9B34FB
constexpr std::array<uint8_t, 16> kBase = {0x00, 0x00, 0x00, 0x00, 0x00, 0x00, 0x10, 0x00,
                                           0x80, 0x00, 0x00, 0x80, 0x5F, 0x9B, 0x34, 0xFB};

}  // namespace

std::optional<Uuid> Uuid::parse(std::string_view text) {
  Uuid u;
  if (text.size() == 4 || text.size() == 8) {
    u.bytes_ = kBase;
    const size_t first = text.size() == 4 ? 2 : 0;
    for (size_t i = 0; i < text.size(); i += 2) {
      const int hi = hexValue(text[i]), lo = hexValue(text[i + 1]);
      if (hi < 0 || lo < 0) return std::nullopt;
      u.bytes_[first + i / 2] = uint8_t(hi << 4 | lo);
    }
    return u;
  }
  if (text.size() != 36) return std::nullopt;
  size_t out = 0;
  for (size_t i = 0; i < text.size();) {
    if (i == 8 || i == 13 || i == 18 || i == 23) {
      if (text[i] != '-') return std::nullopt;
      ++i;
      continue;
    }
    const int hi = hexValue(text[i]), lo = hexValue(text[i + 1]);
    if (hi < 0 || lo < 0) return std::nullopt;
    u.bytes_[out++] = uint8_t(hi << 4 | lo);
    i += 2;
  }
  return u;
}

Uuid Uuid::fromBytes(const std::array<uint8_t, 16>& bytes) {
  Uuid u;
  u.bytes_ = bytes;
  return u;
}

Uuid Uuid::random() {
  static thread_local std::mt19937_64 engine{std::random_device{}()};
  Uuid u;
  for (auto& b : u.bytes_) b = uint8_t(engine());
  u.bytes_[6] = uint8_t((u.bytes_[6] & 0x0F) | 0x40);
  u.bytes_[8] = uint8_t((u.bytes_[8] & 0x3F) | 0x80);
  return u;
}

std::string Uuid::string() const {
  static constexpr char kHex[] = "0123456789ABCDEF";
  std::string s;
  s.reserve(36);
  for (size_t i = 0; i < bytes_.size(); ++i) {
    if (i == 4 || i == 6 || i == 8 || i == 10) s += '-';
    s += kHex[bytes_[i] >> 4];
    s += kHex[bytes_[i] & 0x0F];
  }
  return s;
}

}  // namespace bluetooth
