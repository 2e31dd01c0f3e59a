#include "testing/devices/pinpad/PinBlock.h"

#include <algorithm>

namespace devices::pinblock {

namespace {

bool allDigits(const std::string& s) {
  return std::all_of(s.begin(), s.end(), [](char c) { return c >= '0' && c <= '9'; });
}

// The PAN field: four zero nibbles, then the 12 rightmost digits of the PAN without its
// check digit.
std::optional<Bytes> panField(const std::string& pan) {
  if (pan.size() < 13 || !allDigits(pan)) return std::nullopt;
  const std::string digits = "0000" + pan.substr(pan.size() - 13, 12);
  Bytes out(8, 0);
  for (size_t i = 0; i < 16; ++i) out[i / 2] |= uint8_t((digits[i] - '0') << (i % 2 ? 0 : 4));
  return out;
}

}  // namespace

std::optional<int> isoFormatOf(int pinpadFormat) {
  switch (pinpadFormat) {
    case kFormatIso0: return 0;
    case kFormatIso1: return 1;
    case kFormatIso2: return 2;
    case kFormatIso3: return 3;
    default: return std::nullopt;
  }
}

bool needsPan(int isoFormat) { return isoFormat == 0 || isoFormat == 3; }

std::optional<Bytes> clearBlock(int isoFormat, const std::string& pin, const std::string& pan, const Bytes& fill) {
  if (isoFormat < 0 || isoFormat > 3 || pin.size() < 4 || pin.size() > 12 || !allDigits(pin)) return std::nullopt;
  uint8_t nibbles[16];
  nibbles[0] = uint8_t(isoFormat);
  nibbles[1] = uint8_t(pin.size());
  for (size_t i = 2; i < 16; ++i) {
    const size_t at = i - 2;
    if (at < pin.size()) {
      nibbles[i] = uint8_t(pin[at] - '0');
      continue;
    }
    const uint8_t random = at < fill.size() ? fill[at] & 0x0F : 0;
    switch (isoFormat) {
      case 1: nibbles[i] = random; break;
      case 3: nibbles[i] = uint8_t(0x0A + random % 6); break;
      default: nibbles[i] = 0x0F; break;
    }
  }
  Bytes block(8, 0);
  for (size_t i = 0; i < 16; ++i) block[i / 2] |= uint8_t(nibbles[i] << (i % 2 ? 0 : 4));
  if (!needsPan(isoFormat)) return block;
  const auto field = panField(pan);
  if (!field) return std::nullopt;
  for (size_t i = 0; i < 8; ++i) block[i] ^= (*field)[i];
  return block;
}

}  // namespace devices::pinblock
