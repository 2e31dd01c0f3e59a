#include "testing/devices/pinpad/TR31.h"

#include <cstdio>

#include "platform/crypto/Cipher.h"
#include "sdk/pinpad/PPadKeys.h"

namespace devices::tr31 {

namespace {

constexpr size_t kBlock = 8;
constexpr size_t kHeader = 16;

Bytes encryptECB(const Bytes& key, const Bytes& block) {
  return crypto::desEncrypt(key, block, crypto::Mode::ECB, crypto::Padding::None).value_or(Bytes(kBlock, 0));
}

Bytes shifted(const Bytes& b) {
  Bytes out(b.size());
  for (size_t i = 0; i < b.size(); ++i) out[i] = uint8_t(b[i] << 1 | (i + 1 < b.size() ? b[i + 1] >> 7 : 0));
  if (b[0] & 0x80) out.back() ^= 0x1B;
  return out;
}

// The key for encryption (usage 0000) or authentication (0001).
Bytes derived(const Bytes& kbpk, uint8_t usage) {
  Bytes out;
  for (uint8_t counter = 1; counter <= 2; ++counter) {
    const Bytes part = cmac(kbpk, {counter, 0x00, usage, 0x00, 0x00, 0x00, 0x00, 0x80});
    out.insert(out.end(), part.begin(), part.end());
  }
  return out;
}

std::optional<Bytes> fromHex(std::string_view hex) { return foundation::fromHex(hex); }

std::string toHex(const Bytes& b) {
  std::string out;
  char buf[3];
  for (uint8_t v : b) {
    std::snprintf(buf, sizeof buf, "%02X", v);
    out += buf;
  }
  return out;
}

}  // namespace

Bytes cmac(const Bytes& key, const Bytes& data) {
  const Bytes k1 = shifted(encryptECB(key, Bytes(kBlock, 0)));
  const Bytes k2 = shifted(k1);
  Bytes m = data;
  const bool whole = !m.empty() && m.size() % kBlock == 0;
  if (!whole) {
    m.push_back(0x80);
    while (m.size() % kBlock) m.push_back(0);
  }
  const Bytes& sub = whole ? k1 : k2;
  for (size_t i = 0; i < kBlock; ++i) m[m.size() - kBlock + i] ^= sub[i];
  Bytes c = crypto::desEncrypt(key, m, crypto::Mode::CBC, crypto::Padding::None).value_or(Bytes(kBlock, 0));
  return Bytes(c.end() - long(kBlock), c.end());
}

std::optional<Unwrapped> unwrap(const Bytes& kbpk, std::string_view block) {
  const auto header = kestra::ppad::readTR31Header(block);
  if (!header || header->version != 'B' || header->optionalBlocks != 0 || kbpk.size() != 16) return std::nullopt;
  const std::string_view body = block.substr(kHeader);
  if (body.size() < 2 * kBlock * 2) return std::nullopt;
  const auto encrypted = fromHex(body.substr(0, body.size() - 2 * kBlock));
  const auto mac = fromHex(body.substr(body.size() - 2 * kBlock));
  if (!encrypted || !mac || encrypted->size() % kBlock) return std::nullopt;
  auto payload = crypto::desDecrypt(derived(kbpk, 0x00), *encrypted, crypto::Mode::CBC, crypto::Padding::None, *mac);
  if (!payload || payload->size() < 2) return std::nullopt;
  Bytes macInput(block.begin(), block.begin() + long(kHeader));
  macInput.insert(macInput.end(), payload->begin(), payload->end());
  if (cmac(derived(kbpk, 0x01), macInput) != *mac) return std::nullopt;
  const size_t bits = size_t((*payload)[0]) << 8 | (*payload)[1];
  if (bits % 8 || 2 + bits / 8 > payload->size()) return std::nullopt;
  return Unwrapped{Bytes(payload->begin() + 2, payload->begin() + 2 + long(bits / 8))};
}

std::string wrap(const Bytes& kbpk, const Bytes& key, std::string_view usageToReserved) {
  Bytes payload = {uint8_t((key.size() * 8) >> 8), uint8_t(key.size() * 8)};
  payload.insert(payload.end(), key.begin(), key.end());
  while (payload.size() % kBlock) payload.push_back(0xA5);
  const size_t length = kHeader + 2 * payload.size() + 2 * kBlock;
  char head[8];
  std::snprintf(head, sizeof head, "B%04zu", length);
  const std::string header = std::string(head) + std::string(usageToReserved);
  Bytes macInput(header.begin(), header.end());
  macInput.insert(macInput.end(), payload.begin(), payload.end());
  const Bytes mac = cmac(derived(kbpk, 0x01), macInput);
  const Bytes encrypted =
      crypto::desEncrypt(derived(kbpk, 0x00), payload, crypto::Mode::CBC, crypto::Padding::None, mac).value_or(Bytes{});
  return header + toHex(encrypted) + toHex(mac);
}

}  // namespace devices::tr31
