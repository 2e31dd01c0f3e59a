// The simulated pinpad's keys, DUKPT, certificate-authority and RSA keys, smart card,
// magnetic head and legacy EMV kernel.
#include <algorithm>

#include "platform/crypto/Cipher.h"
#include "platform/crypto/Digest.h"
#include "sdk/pinpad/PPadKeys.h"
#include "testing/devices/pinpad/Dukpt.h"
#include "testing/devices/pinpad/PinBlock.h"
#include "testing/devices/pinpad/PinpadModel.h"
#include "testing/devices/pinpad/TR31.h"

namespace devices {

namespace {

constexpr uint8_t kInvalidCommand = 2;
constexpr uint8_t kInvalidParameter = 3;
constexpr uint8_t kInvalidLength = 6;
constexpr uint8_t kNoData = 8;
constexpr uint8_t kKeyNotFound = 5;
constexpr uint8_t kNoCard = 1;

PinpadModel::Answer ok(Bytes data = {}) { return {0, std::move(data)}; }
PinpadModel::Answer status(uint8_t s) { return {s, {}}; }

Bytes tdes(bool encrypt, const Bytes& key, const Bytes& data, crypto::Mode mode, const Bytes& iv = {}) {
  auto r = encrypt ? crypto::desEncrypt(key, data, mode, crypto::Padding::None, iv)
                   : crypto::desDecrypt(key, data, mode, crypto::Padding::None, iv);
  return r.value_or(Bytes{});
}

Bytes padded(Bytes data) {
  while (data.size() % 8) data.push_back(0);
  return data;
}

// The check value of a key: its first three bytes of a block of zeros encrypted.
Bytes checkValue(const Bytes& key) {
  Bytes c = tdes(true, key, Bytes(8, 0), crypto::Mode::ECB);
  c.resize(3);
  return c;
}

Bytes tail(const Bytes& d, size_t from) { return from < d.size() ? Bytes(d.begin() + long(from), d.end()) : Bytes{}; }

// The 8-byte record of a key: check value, type, usage, mode, version.
Bytes keyRecord(const PinpadModel::Key& k) {
  Bytes out = checkValue(k.value);
  out.push_back(k.type);
  out.push_back(uint8_t(k.usage.size() > 0 ? k.usage[0] : ' '));
  out.push_back(uint8_t(k.usage.size() > 1 ? k.usage[1] : ' '));
  out.push_back(k.mode);
  out.push_back(k.version);
  return out;
}

}  // namespace

// 35 0A 02 [key type][format][key variant 16][key number][PAN]: the entered PIN's block.
std::optional<PinpadModel::Answer> PinpadModel::pinBlock(const Bytes& d) {
  constexpr size_t kHead = 21;
  if (d.size() < kHead) return status(kInvalidLength);
  if (enteredPin.empty()) return status(kNoData);
  const int keyType = d[2];
  const auto format = pinblock::isoFormatOf(d[3]);
  if (!format) return status(kInvalidParameter);
  const Bytes variant(d.begin() + 4, d.begin() + 20);
  const int keyID = d[20];
  const std::string pan(d.begin() + long(kHead), d.end());
  auto xoredKey = [&](Bytes key) {
    for (size_t i = 0; i < key.size() && i < variant.size(); ++i) key[i] ^= variant[i];
    return key;
  };
  Bytes key;
  switch (keyType) {
    case 2: {  // the PIN variant of the DUKPT key made for this request
      auto it = dukptKeys.find(keyID);
      if (it == dukptKeys.end() || it->second.current.empty()) return status(kKeyNotFound);
      key = xoredKey(dukpt::pinKey(it->second.current));
      break;
    }
    case 3: {  // the session key, sent encrypted under the master key
      auto it = keys.find(keyID);
      if (it == keys.end()) return status(kKeyNotFound);
      key = tdes(false, it->second.value, variant, crypto::Mode::ECB);
      break;
    }
    case 4: {
      auto it = keys.find(keyID);
      if (it == keys.end()) return status(kKeyNotFound);
      key = xoredKey(it->second.value);
      break;
    }
    default:
      return status(kInvalidParameter);
  }
  auto clear = pinblock::clearBlock(*format, enteredPin, pan, crypto::randomBytes(16));
  if (!clear) return status(kInvalidParameter);
  Bytes block = tdes(true, key, *clear, crypto::Mode::ECB);
  std::fill(clear->begin(), clear->end(), 0);
  std::fill(key.begin(), key.end(), 0);
  ++pinBlocks;
  return ok(block);
}

Bytes PinpadModel::keyList() const {
  Bytes out;
  for (const auto& [id, k] : keys) {
    out.push_back(uint8_t(id));
    const Bytes record = keyRecord(k);
    out.insert(out.end(), record.begin(), record.end());
  }
  out.push_back(0xFF);
  for (const auto& [id, k] : dukptKeys) {
    out.push_back(uint8_t(id));
    out.push_back(0);  // DUKPT_3DES_112
    out.push_back(uint8_t(k.ksn.size()));
    out.insert(out.end(), k.ksn.begin(), k.ksn.end());
    if (k.ksn.size() < 12) out.insert(out.end(), 2, 0);
  }
  out.push_back(0xFF);
  return out;
}

std::optional<PinpadModel::Answer> PinpadModel::crypto(uint8_t group, const Bytes& d) {
  if (group != 0x31) return ok(group == 0x11 && !d.empty() && d[0] == 0x03 ? Bytes{1, 0, 0, 0} : Bytes{});
  if (d.empty()) return status(kInvalidLength);
  // The key a command names: 255 is the current DUKPT transaction key.
  auto keyOf = [&](int id) -> std::optional<Bytes> {
    if (id == 255) {
      auto it = dukptKeys.find(onlineKey);
      if (it == dukptKeys.end() || it->second.current.empty()) return std::nullopt;
      return it->second.current;
    }
    auto it = keys.find(id);
    if (it == keys.end()) return std::nullopt;
    return it->second.value;
  };
  switch (d[0]) {
    case 0x01:    // 3DES ECB: operation 0 encrypts, else decrypts
    case 0x02: {  // 3DES CBC
      const bool cbc = d[0] == 0x02;
      const size_t dataAt = cbc ? 11 : 3;
      if (d.size() <= dataAt) return status(kInvalidLength);
      const auto key = keyOf(d[2]);
      if (!key) return status(kKeyNotFound);
      const Bytes iv = cbc ? Bytes(d.begin() + 3, d.begin() + 11) : Bytes{};
      return ok(tdes(d[1] == 0, *key, padded(tail(d, dataAt)), cbc ? crypto::Mode::CBC : crypto::Mode::ECB, iv));
    }
    case 0x05:
      ++keySaves;
      return ok();
    case 0x07:    // CBC-MAC: the last block of CBC encryption
    case 0x0C: {  // extended MAC: vector and variant before the data
      const size_t dataAt = d[0] == 0x07 ? 3 : 27;
      if (d.size() <= dataAt) return status(kInvalidLength);
      const auto key = keyOf(d[2]);
      if (!key) return status(kKeyNotFound);
      const Bytes iv = d[0] == 0x0C ? Bytes(d.begin() + 3, d.begin() + 11) : Bytes{};
      Bytes c = tdes(true, *key, padded(tail(d, dataAt)), crypto::Mode::CBC, iv);
      return ok(Bytes(c.end() - 8, c.end()));
    }
    case 0x08: {
      if (d.size() < 3) return status(kInvalidLength);
      auto it = keys.find(d[2]);
      if (it == keys.end()) return status(kKeyNotFound);
      keys[d[1]] = it->second;
      return ok();
    }
    case 0x09:
      if (d.size() < 2) return status(kInvalidLength);
      keys.erase(d[1]);
      return ok();
    case 0x0A: {
      if (d.size() < 2) return status(kInvalidLength);
      auto it = keys.find(d[1]);
      if (it == keys.end()) return ok(Bytes(8, 0));  // an empty slot: version 0
      return ok(keyRecord(it->second));
    }
    case 0x0B: {  // DUKPT initial key: key number, key type, initial key (16) and KSN (10)
      if (d.size() != 3 + 26) return status(kInvalidLength);
      DukptKey k;
      k.ipek.assign(d.begin() + 3, d.begin() + 19);
      k.ksn.assign(d.begin() + 19, d.end());
      dukptKeys[d[1]] = k;
      return ok();
    }
    case 0x0D: {  // key exchange: key, protecting key, usage, version, CBC flag, data
      if (d.size() < 7) return status(kInvalidLength);
      const auto kek = keyOf(d[2]);
      if (!kek) return status(kKeyNotFound);
      Key k;
      Bytes data = tail(d, 6);
      if (!data.empty() && data.back() == 0) {  // a TR-31 block as text
        const std::string block(data.begin(), data.end() - 1);
        auto unwrapped = tr31::unwrap(*kek, block);
        if (!unwrapped) return status(kInvalidParameter);
        const auto header = kestra::ppad::readTR31Header(block);
        k.value = std::move(unwrapped->key);
        k.usage = std::string(header->usage);
        k.mode = uint8_t(header->modeOfUse);
      } else {
        if (data.size() != 16) return status(kInvalidLength);
        k.value = tdes(false, *kek, data, d[5] ? crypto::Mode::CBC : crypto::Mode::ECB);
        k.usage = std::string{char(d[3]), ' '};
      }
      k.version = d[4];
      const Bytes cv = checkValue(k.value);
      keys[d[1]] = std::move(k);
      return ok(cv);
    }
    case 0x11:
      if (!keyListCommand) return status(kInvalidCommand);
      return ok(keyList());
    default:
      return status(kInvalidCommand);
  }
}

std::optional<PinpadModel::Answer> PinpadModel::keysAndCertificates(const Bytes& d) {
  if (d.empty()) return status(kInvalidLength);
  switch (d[0]) {
    case 0x00: {  // CA key: number, RID and index, exponent length, modulus length, exponent, modulus
      if (d.size() < 10 || d[1] >= caKeys.size()) return status(kInvalidParameter);
      const size_t e = d[8], m = d[9];
      if (d.size() != 10 + e + m) return status(kInvalidLength);
      caKeys[d[1]] = std::make_pair(Bytes(d.begin() + 2, d.begin() + 8), Bytes(d.begin() + 10 + long(e), d.end()));
      return ok();
    }
    case 0x01:
      ++caWrites;
      return ok();
    case 0x02: {
      Bytes table(232, 0);
      for (size_t i = 0; i < caKeys.size(); ++i) {
        if (!caKeys[i]) continue;
        std::copy(caKeys[i]->first.begin(), caKeys[i]->first.end(), table.begin() + long(8 * i));
        table[8 * i + 6] = uint8_t(caKeys[i]->second.size());
        table[8 * i + 7] = uint8_t(caKeys[i]->second.size() >> 8);
      }
      return ok(table);
    }
    case 0x03:
    case 0x04:
      return ok(Bytes{0x5F, 0x24, 0x03, 0x27, 0x12, 0x31});
    case 0x05:
      if (d.size() < 3) return status(kInvalidLength);
      return ok(tail(d, 3));
    case 0x06: {  // the next transaction key
      if (d.size() < 2) return status(kInvalidLength);
      auto it = dukptKeys.find(d[1]);
      if (it == dukptKeys.end()) return status(kKeyNotFound);
      it->second.ksn = dukpt::nextKsn(it->second.ksn);
      it->second.current = dukpt::transactionKey(it->second.ipek, it->second.ksn);
      onlineKey = d[1];
      return ok(it->second.ksn);
    }
    case 0x07: {  // MAC under the current transaction key's MAC variant
      auto it = dukptKeys.find(onlineKey);
      if (it == dukptKeys.end() || it->second.current.empty() || d.size() < 10) return status(kKeyNotFound);
      Bytes mk = it->second.current;
      mk[6] ^= 0xFF;
      mk[14] ^= 0xFF;
      Bytes c = tdes(true, mk, padded(tail(d, 9)), crypto::Mode::CBC);
      return ok(Bytes(c.end() - 8, c.end()));
    }
    case 0x08: {
      auto it = dukptKeys.find(d.size() >= 2 ? d[1] : 0);
      if (it == dukptKeys.end()) return ok(Bytes(10, 0));
      return ok(it->second.ksn);
    }
    case 0x0A:
      return ok();
    default:
      return status(kInvalidCommand);
  }
}

std::optional<PinpadModel::Answer> PinpadModel::smartCardCommand(const Bytes& d) {
  if (d.size() < 2) return status(kInvalidLength);
  switch (d[0]) {
    case 0x01:
      ++smartCardInits;
      return ok();
    case 0x02:
      if (!smartCard) return status(kNoCard);
      if (smartCard->powerOnFailures > 0) {
        --smartCard->powerOnFailures;
        return status(kNoData);
      }
      cardPowered = true;
      return ok(smartCard->atr);
    case 0x03:
    case 0x06:
      cardPowered = false;
      return ok();
    case 0x04:
      return smartCard ? ok() : status(kNoCard);
    case 0x05:
    case 0x07: {
      if (!smartCard || !cardPowered) return status(kNoCard);
      const Bytes apdu = tail(d, 2);
      auto it = smartCard->answers.find(apdu);
      Bytes response = it != smartCard->answers.end() ? it->second : Bytes{0x6D, 0x00};
      if (d[0] == 0x07) {  // under the data variant of the current DUKPT key
        auto k = dukptKeys.find(onlineKey);
        if (k == dukptKeys.end() || k->second.current.empty()) return status(kKeyNotFound);
        response = tdes(true, dukpt::dataKey(k->second.current), padded(response), crypto::Mode::CBC);
      }
      return ok(response);
    }
    default:
      return status(kInvalidCommand);
  }
}

std::optional<PinpadModel::Answer> PinpadModel::magnetic(const Bytes& d) {
  const int sub = d.empty() ? -1 : d[0];
  switch (sub) {
    case 0x01:
      readerStarted = true;
      return ok();
    case 0x04:
      readerStarted = false;
      return ok();
    case 0x03: {
      if (nextCard.empty()) return status(kNoData);
      Bytes c = nextCard;
      nextCard.clear();
      return ok(c);
    }
    case 0x08:
      if (d.size() != 264) return status(kInvalidLength);
      rsaModulus.assign(d.begin() + 5, d.begin() + 261);
      rsaExponent.assign(d.begin() + 261, d.end());
      return ok();
    case 0x09:
      if (!manualEntry) return status(kNoData);
      return ok(*manualEntry);
    case 0x0B:
      if (maskedTrack2.empty()) return status(kNoData);
      return ok(Bytes(maskedTrack2.begin(), maskedTrack2.end()));
    case 0x0D:
      if (cardholderName.empty()) return status(kNoData);
      return ok(Bytes(cardholderName.begin(), cardholderName.end()));
    case 0x13:
      if (maskedTracks.empty()) return status(kNoData);
      return ok(maskedTracks);
    case 0x14:
      simulatedSwipes.push_back(tail(d, 1));
      return ok();
    case 0x15:
      return ok(Bytes(loyaltyNumber.begin(), loyaltyNumber.end()));
    case 0x0A: {
      if (d.size() != 7) return status(kInvalidLength);
      if (cardTracks.empty()) return status(kNoData);
      Bytes key;
      if (d[2] == 255) {
        auto k = dukptKeys.find(onlineKey);
        if (k == dukptKeys.end() || k->second.current.empty()) return status(kKeyNotFound);
        key = dukpt::dataKey(k->second.current);
      } else {
        auto k = keys.find(d[2]);
        if (k == keys.end()) return status(kKeyNotFound);
        key = k->second.value;
      }
      Bytes out = {uint8_t(d[1] & 0x07)};
      const Bytes sealed = tdes(true, key, padded(cardTracks), crypto::Mode::CBC, Bytes(8, 0));
      out.insert(out.end(), sealed.begin(), sealed.end());
      return ok(out);
    }
    default:
      return ok();
  }
}

std::optional<PinpadModel::Answer> PinpadModel::emv(const Bytes& d) {
  if (d.empty()) return status(kInvalidLength);
  const int sub = d[0];
  if (sub != 0x01 && sub != 0x02 && !emvReady) return status(kInvalidCommand);
  emvSteps.push_back(sub);
  Bytes reply = {0x00, 0x00};  // the kernel's status word
  auto word = [&](uint16_t w) {
    reply[0] = uint8_t(w);
    reply[1] = uint8_t(w >> 8);
  };
  auto append = [&](const Bytes& b) { reply.insert(reply.end(), b.begin(), b.end()); };
  auto tagAt = [&](size_t i) { return d.size() >= i + 2 ? int(d[i] | d[i + 1] << 8) : -1; };
  switch (sub) {
    case 0x01:
      emvReady = true;
      break;
    case 0x02:
      emvReady = false;
      break;
    case 0x03:
      append(Bytes(16, 0x11));
      break;
    case 0x05:
      emvAppList = tail(d, 1);
      break;
    case 0x06:
      append(emvCommonList);
      break;
    case 0x14:
    case 0x15: {
      if (d.size() < 4) return status(kInvalidLength);
      uint8_t& b = sub == 0x14 ? tvr[size_t(d[1] - 1) % 5] : tsi[size_t(d[1] - 1) % 2];
      const uint8_t mask = uint8_t(1 << (d[2] - 1));
      b = d[3] ? uint8_t(b | mask) : uint8_t(b & ~mask);
      break;
    }
    case 0x16:
    case 0x17: {
      if (d.size() < 3) return status(kInvalidLength);
      const uint8_t b = sub == 0x16 ? tvr[size_t(d[1] - 1) % 5] : tsi[size_t(d[1] - 1) % 2];
      word((b >> (d[2] - 1)) & 1);
      break;
    }
    case 0x18:
      if (d.size() < 10) return status(kInvalidLength);
      emvPublicKeys[{Bytes(d.begin() + 1, d.begin() + 6), d[6]}] = Bytes(d.begin() + 10, d.begin() + 10 + d[9]);
      break;
    case 0x19:
      if (d.size() < 7 || !emvPublicKeys.erase({Bytes(d.begin() + 1, d.begin() + 6), d[6]})) return status(kKeyNotFound);
      break;
    case 0x1A:
      emvData[tagAt(1)] = tail(d, 3);
      break;
    case 0x1B: {
      Bytes v = tail(d, 3);
      if (!v.empty() && v.back() == 0) v.pop_back();
      emvData[tagAt(1)] = v;
      break;
    }
    case 0x1C:
    case 0x1D: {
      auto it = emvData.find(tagAt(1));
      if (it == emvData.end()) return status(kNoData);
      append(it->second);
      if (sub == 0x1D) reply.push_back(0);
      break;
    }
    case 0x1E: {
      auto it = emvData.find(tagAt(1));
      const uint16_t current = it == emvData.end() ? 0 : uint16_t(it->second.size());
      append({0x05, 0x00, 0x10, 0x00, uint8_t(current), uint8_t(current >> 8)});
      break;
    }
    case 0x81:
    case 0x82: {
      // The requested tags as TLV from the data store.
      const Bytes list = tail(d, sub == 0x81 ? 1 : 6);
      Bytes tlv;
      for (size_t i = 0; i + 1 < list.size(); i += 2) {
        const int tag = list[i] << 8 | list[i + 1];
        auto it = emvData.find(tag);
        if (it == emvData.end()) continue;
        tlv.push_back(uint8_t(tag >> 8));
        tlv.push_back(uint8_t(tag));
        tlv.push_back(uint8_t(it->second.size()));
        tlv.insert(tlv.end(), it->second.begin(), it->second.end());
      }
      if (sub == 0x82) {
        const auto key = d[1] == 255 && dukptKeys.count(onlineKey) ? dukpt::dataKey(dukptKeys[onlineKey].current)
                                                                  : (keys.count(d[1]) ? keys[d[1]].value : Bytes{});
        if (key.empty()) return status(kKeyNotFound);
        tlv = tdes(true, key, padded(tlv), crypto::Mode::CBC);
      }
      append(tlv);
      break;
    }
    default:
      break;
  }
  return ok(reply);
}

}  // namespace devices
