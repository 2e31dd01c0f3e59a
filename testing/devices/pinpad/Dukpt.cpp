#include "testing/devices/pinpad/Dukpt.h"

#include <bit>

#include "platform/crypto/Cipher.h"

namespace devices::dukpt {

namespace {

const Bytes kKeyMask = {0xC0, 0xC0, 0xC0, 0xC0, 0, 0, 0, 0, 0xC0, 0xC0, 0xC0, 0xC0, 0, 0, 0, 0};

Bytes xored(Bytes a, const Bytes& b) {
  for (size_t i = 0; i < a.size() && i < b.size(); ++i) a[i] ^= b[i];
  return a;
}

Bytes des(const Bytes& key, const Bytes& block) {
  return crypto::desEncrypt(key, block, crypto::Mode::ECB, crypto::Padding::None).value_or(Bytes(8, 0));
}

// One half of the non-reversible key generation: DES under the left half of `key` of `data`
// whitened with its right half.
Bytes half(const Bytes& key, const Bytes& data) {
  const Bytes left(key.begin(), key.begin() + 8), right(key.begin() + 8, key.end());
  return xored(des(left, xored(data, right)), right);
}

Bytes nonReversible(const Bytes& key, const Bytes& data) {
  Bytes out = half(xored(key, kKeyMask), data);
  const Bytes r = half(key, data);
  out.insert(out.end(), r.begin(), r.end());
  return out;
}

uint32_t counterOf(const Bytes& ksn) { return uint32_t(ksn[7] & 0x1F) << 16 | uint32_t(ksn[8]) << 8 | ksn[9]; }

}  // namespace

Bytes initialKey(const Bytes& bdk, const Bytes& ksn) {
  Bytes reg(ksn.begin(), ksn.begin() + 8);
  reg[7] &= 0xE0;
  Bytes out = crypto::desEncrypt(bdk, reg, crypto::Mode::ECB, crypto::Padding::None).value_or(Bytes(8, 0));
  const Bytes right =
      crypto::desEncrypt(xored(bdk, kKeyMask), reg, crypto::Mode::ECB, crypto::Padding::None).value_or(Bytes(8, 0));
  out.insert(out.end(), right.begin(), right.end());
  return out;
}

Bytes transactionKey(const Bytes& ipek, const Bytes& ksn) {
  Bytes base(ksn.begin() + 2, ksn.end());  // the rightmost 64 bits
  base[5] &= 0xE0;
  base[6] = base[7] = 0;
  const uint32_t counter = counterOf(ksn);
  Bytes key = ipek;
  for (uint32_t bit = 0x100000; bit; bit >>= 1) {
    if (!(counter & bit)) continue;
    base[5] |= uint8_t(bit >> 16);
    base[6] |= uint8_t(bit >> 8);
    base[7] |= uint8_t(bit);
    key = nonReversible(key, base);
  }
  return key;
}

Bytes nextKsn(const Bytes& ksn) {
  Bytes out = ksn;
  uint32_t counter = counterOf(ksn);
  // A counter never has more than ten one-bits: those values are passed over.
  do {
    counter = (counter + 1) & 0x1FFFFF;
  } while (std::popcount(counter) > 10);
  out[7] = uint8_t((out[7] & 0xE0) | (counter >> 16));
  out[8] = uint8_t(counter >> 8);
  out[9] = uint8_t(counter);
  return out;
}

Bytes pinKey(const Bytes& key) {
  return xored(key, {0, 0, 0, 0, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0xFF});
}

Bytes dataKey(const Bytes& key) {
  return xored(key, {0, 0, 0, 0, 0, 0xFF, 0, 0, 0, 0, 0, 0, 0, 0xFF, 0, 0});
}

}  // namespace devices::dukpt
