#include "sdk/foundation/Emsr.h"

#include <algorithm>
#include <atomic>
#include <cstring>
#include <initializer_list>
#include <mutex>

#include "sdk/foundation/KXErrors.h"
#include "sdk/foundation/KXUNISDKGlobals.h"

namespace kestra {
namespace {

using foundation::Bytes;

constexpr int kNoReply = -11005;
constexpr int kShortReply = -6;
constexpr int kBadArgument = -9;
constexpr int kUnsupported = -7;
constexpr int kFallbackSecurityVersion = 208;
constexpr int kMaskedDataMinVersion = 214;
constexpr int kFirmwareHeaderSize = 52;
constexpr int kFirmwareBlockSize = 256;
constexpr int kFirmwareBlockTries = 3;

struct Entry {
  void* owner = nullptr;
  EmsrTransport transport = nullptr;
};

struct Library {
  std::mutex tableMutex;
  Entry table[kEmsrMaxCallbacks];
  int count = 0;

  // One command at a time: the packet buffer is shared by every owner.
  std::mutex commandMutex;
  uint8_t packet[kEmsrPacketSize] = {};
  int length = 0;

  std::atomic<int> firmwareVersion{0};

  bool lookup(void* owner, Entry* out) {
    std::lock_guard<std::mutex> lock(tableMutex);
    if (count == 0) return false;
    *out = table[0];
    for (int i = 0; i < count; ++i)
      if (table[i].owner == owner) {
        *out = table[i];
        break;
      }
    return true;
  }
};

Library& lib() {
  static Library l;
  return l;
}

// Sends one command and, on success, copies the reply's data into `reply`. Returns the data
// length or a negative code.
int send(void* owner, uint8_t command, const uint8_t* data, int dataLength, Bytes* reply) {
  if (dataLength < 0 || dataLength > kEmsrMaxData || (dataLength > 0 && !data)) return kBadArgument;
  Library& l = lib();
  Entry entry;
  if (!l.lookup(owner, &entry) || !entry.transport) return kNoReply;

  std::lock_guard<std::mutex> lock(l.commandMutex);
  l.packet[0] = command;
  l.packet[1] = 0;
  l.packet[2] = uint8_t(dataLength >> 8);
  l.packet[3] = uint8_t(dataLength);
  if (dataLength) std::memmove(l.packet + 4, data, size_t(dataLength));
  const int n = entry.transport(entry.owner, l.packet, 4 + dataLength, l.packet, kEmsrPacketSize, kEmsrTimeoutMs);
  if (n < 4) return kNoReply;
  const int replyData = foundation::readBE16(l.packet + 2);
  if (n > kEmsrPacketSize || n < replyData + 4) return kShortReply;
  const int status = l.packet[1];
  if (status != 0) return -(11000 + status);
  std::memmove(l.packet, l.packet + 4, size_t(replyData));
  l.length = replyData;
  if (reply) reply->assign(l.packet, l.packet + replyData);
  return replyData;
}

int send(void* owner, uint8_t command, std::initializer_list<uint8_t> data, Bytes* reply) {
  return send(owner, command, data.begin(), int(data.size()), reply);
}

int send(void* owner, uint8_t command, const Bytes& data, Bytes* reply) {
  return send(owner, command, data.data(), int(data.size()), reply);
}

// A command of group 0x51 whose data is returned to the caller; result the data length.
int query(void* owner, std::initializer_list<uint8_t> data, Bytes* out) {
  Bytes reply;
  const int r = send(owner, 0x51, data, &reply);
  if (r >= 0 && out) *out = std::move(reply);
  return r;
}

int ok(int r) { return r < 0 ? r : 0; }

// memcpy that accepts the null data pointer of an empty buffer.
void copyBytes(void* to, const uint8_t* from, size_t n) {
  if (n) std::memcpy(to, from, n);
}

}  // namespace

foundation::Error emsrError(int code) {
  return KXUNISDKGlobals::makeError(code, std::string(KXErrors::getErrorDescription(code)));
}

void emsrRemoveCallbacks(void* owner) {
  Library& l = lib();
  std::lock_guard<std::mutex> lock(l.tableMutex);
  int kept = 0;
  for (int i = 0; i < l.count; ++i)
    if (l.table[i].owner != owner) l.table[kept++] = l.table[i];
  for (int i = kept; i < l.count; ++i) l.table[i] = Entry{};
  l.count = kept;
}

void emsrSetCallbacks(void* owner, EmsrTransport transport) {
  Library& l = lib();
  std::lock_guard<std::mutex> lock(l.tableMutex);
  if (l.count >= kEmsrMaxCallbacks) {
    KXUNISDKGlobals::LOG("emsrSetCallbacks: callback table full, registration ignored");
    return;
  }
  l.table[l.count++] = Entry{owner, transport};
}

void emsrResetState() {
  Library& l = lib();
  {
    std::lock_guard<std::mutex> lock(l.tableMutex);
    l.count = 0;
  }
  l.firmwareVersion = 0;
}

int emsrGetDeviceModel(void* owner, char model[17]) {
  Bytes d;
  const int r = send(owner, 0x01, {}, &d);
  if (r < 0) return r;
  if (model) {
    const size_t n = std::min<size_t>(16, d.size());
    copyBytes(model, d.data(), n);
    model[n] = '\0';
  }
  return 0;
}

int emsrGetFirmwareVersion(void* owner, int* version) {
  Bytes d;
  const int r = send(owner, 0x01, {}, &d);
  if (r < 0) return r;
  if (d.size() < 18) return kShortReply;
  const int v = d[16] * 100 + d[17];
  lib().firmwareVersion = v;
  if (version) *version = v;
  return 0;
}

int emsrGetSecurityVersion(void* owner, int* version) {
  Bytes d;
  const int r = send(owner, 0x01, {0x01}, &d);
  if (r < 0 || d.size() < 18) {
    if (version) *version = kFallbackSecurityVersion;
    return 0;
  }
  const int security = d[16] * 100 + d[17];
  lib().firmwareVersion = d.size() >= 20 ? d[18] * 100 + d[19] : security;
  if (version) *version = security;
  return 0;
}

int emsrGetInfo(void* owner, EMSRInfo* info) {
  if (!info) return kBadArgument;
  info->securityVersion = kFallbackSecurityVersion;
  Bytes d;
  int r = send(owner, 0x01, {0x01}, &d);
  if (r < 0) return r;
  if (d.size() < 18) return kShortReply;
  info->securityVersion = uint32_t(d[16] * 100 + d[17]);
  info->firmwareVersion = d.size() >= 20 ? uint32_t(d[18] * 100 + d[19]) : info->securityVersion;
  std::memset(info->ident, 0, sizeof info->ident);
  std::memcpy(info->ident, d.data(), 16);
  r = send(owner, 0x02, {0x0C}, &d);
  if (r < 0) return r;
  std::memset(info->serialNumber, 0, sizeof info->serialNumber);
  copyBytes(info->serialNumber, d.data(), std::min<size_t>(16, d.size()));
  return 0;
}

int emsrGetSerialNumber(void* owner, Bytes* serial) { return send(owner, 0x02, {0x0C}, serial); }

int emsrEnable(void* owner, int enable) {
  return ok(send(owner, 0x51, {0x01, uint8_t(enable)}, nullptr));
}

int emsrCheckCardRead(void* owner) { return ok(send(owner, 0x51, {0x02}, nullptr)); }

int emsrGetTracksRead(void* owner, int* tracks) {
  Bytes d;
  const int r = send(owner, 0x51, {0x04}, &d);
  if (r < 0) return r;
  if (d.empty()) return kShortReply;
  if (tracks) *tracks = d[0];
  return 0;
}

int emsrEnterTamperMode(void* owner) { return ok(send(owner, 0x51, {0x05}, nullptr)); }

int emsrLoadECCPublicKey(void* owner, int unused, const uint8_t* key, int length) {
  (void)unused;
  if (!key || length != 134) return kBadArgument;
  Bytes data = {0x12, 0x01};
  data.insert(data.end(), key, key + length);
  int r = send(owner, 0x51, data, nullptr);
  if (r < 0) return r;
  return ok(send(owner, 0x51, {0x10}, nullptr));
}

int emsrGenerateRandom(void* owner, Bytes* random) { return query(owner, {0x13}, random); }

int emsrSetKeyOld(void* owner, int keyID, const Bytes& keyBlock, uint32_t version) {
  if (keyBlock.size() != 48) return kBadArgument;
  Bytes data = {0x21, uint8_t(keyID)};
  foundation::append(data, keyBlock);
  foundation::appendBE32(data, version);
  const int r = send(owner, 0x51, data, nullptr);
  foundation::secureClear(data);
  return ok(r);
}

int emsrGetEncryptedCardData(void* owner, int format, Bytes* data) {
  return query(owner, {0x22, uint8_t(format)}, data);
}

int emsrAuthenticate(void* owner, const Bytes& random, Bytes* out) {
  if (random.size() != 16) return kBadArgument;
  Bytes data = {0x23};
  data.insert(data.end(), random.begin(), random.end());
  Bytes reply;
  const int r = send(owner, 0x51, data, &reply);
  if (r >= 0 && out) *out = std::move(reply);
  return r;
}

int emsrGetKeyVersion(void* owner, int keyID, uint32_t* version) {
  Bytes d;
  const int r = send(owner, 0x51, {0x28, uint8_t(keyID)}, &d);
  if (r < 0) return r;
  if (d.size() < 6) return kShortReply;
  if (version) *version = foundation::readBE32(d.data() + 2);
  return 0;
}

int emsrIsTampered(void* owner, bool* tampered) {
  Bytes d;
  const int r = send(owner, 0x51, {0x28, 0x10}, &d);
  if (r < 0) return r;
  if (d.empty()) return kShortReply;
  if (tampered) *tampered = d[0] != 0;
  return 0;
}

int emsrGetKeyInfo(void* owner, EMSRKeyInfo* info) {
  if (!info) return kBadArgument;
  Bytes d;
  const int r = send(owner, 0x51, {0x28}, &d);
  if (r < 0) return r;
  if (d.empty()) return kShortReply;
  *info = EMSRKeyInfo{};
  info->tampered = d[0] != 0;
  const size_t entries = std::min<size_t>((d.size() - 1) / 5, 20);
  for (size_t i = 0; i < entries; ++i) {
    const uint8_t* e = d.data() + 1 + i * 5;
    info->keys[i].keyID = e[0];
    info->keys[i].keyVersion = foundation::readBE32(e + 1);
  }
  info->count = uint32_t(entries);
  for (size_t i = 0; i < entries; ++i) {
    const uint32_t id = info->keys[i].keyID;
    if (id < 32 || id > 34) continue;
    Bytes ksn;
    if (emsrGetDUKPTSerial(owner, int(id), &ksn) >= 0)
      copyBytes(info->keys[i].dukptKSN, ksn.data(), std::min<size_t>(ksn.size(), 12));
  }
  return 0;
}

int emsrGetSupportedEncryptions(void* owner, Bytes* algorithms) {
  return query(owner, {0x30}, algorithms);
}

int emsrSetEncryption(void* owner, int algorithm, int keyID, const uint8_t* params,
                      int paramsLength) {
  if (paramsLength < 0 || (paramsLength > 0 && !params) || paramsLength > kEmsrMaxData - 3)
    return kBadArgument;
  Bytes data = {0x31, uint8_t(algorithm)};
  if (keyID != -1) data.push_back(uint8_t(keyID));
  if (paramsLength) data.insert(data.end(), params, params + paramsLength);
  if (send(owner, 0x51, data, nullptr) >= 0) return 0;
  return ok(send(owner, 0x51, {0x31, uint8_t(algorithm)}, nullptr));
}

int emsrGetDUKPTSerial(void* owner, int keyID, Bytes* ksn) {
  return query(owner, {0x32, uint8_t(keyID)}, ksn);
}

int emsrConfigMaskedData(void* owner, bool showExpiration, bool showServiceCode, bool showTrack3,
                         int unmaskedDigitsAtStart, int unmaskedDigitsAtEnd) {
  const uint8_t flags =
      uint8_t((showExpiration ? 1 : 0) | (showServiceCode ? 2 : 0) | (showTrack3 ? 0 : 4));
  return ok(send(owner, 0x51,
                 {0x34, flags, uint8_t(unmaskedDigitsAtStart), uint8_t(unmaskedDigitsAtEnd)},
                 nullptr));
}

int emsrGetMaskedData(void* owner, Bytes* data) {
  if (lib().firmwareVersion < kMaskedDataMinVersion) return kUnsupported;
  return query(owner, {0x36}, data);
}

int emsrLoadInitialKey(void* owner, const uint8_t* data, int length) {
  return ok(send(owner, 0x51, data, length, nullptr));
}

int emsrLoadKey(void* owner, const uint8_t* data, int length) {
  return ok(send(owner, 0x51, data, length, nullptr));
}

int emsrUpdateFirmware(void* owner, const uint8_t* file, int length) {
  if (!file || length < kFirmwareHeaderSize) return kBadArgument;
  int r = send(owner, 0x51, file, kFirmwareHeaderSize, nullptr);
  if (r < 0) return r;
  r = send(owner, 0x51, {0xF0}, nullptr);
  if (r < 0) return r;
  Bytes block;
  for (int pos = kFirmwareHeaderSize; pos < length; pos += kFirmwareBlockSize) {
    const int n = std::min(kFirmwareBlockSize, length - pos);
    block.assign({0xF1});
    block.insert(block.end(), file + pos, file + pos + n);
    for (int attempt = 0; attempt < kFirmwareBlockTries; ++attempt) {
      r = send(owner, 0x51, block, nullptr);
      if (r >= 0) break;
    }
    if (r < 0) {
      // Going on would leave the head with a corrupt image and no sign of it.
      KXUNISDKGlobals::LOG("emsrUpdateFirmware: block at %d refused: %d", pos, r);
      return r;
    }
  }
  r = send(owner, 0x51, {0xF2}, nullptr);
  if (r < 0) return r;
  return ok(send(owner, 0x02, {0x06}, nullptr));
}

int emsrGetFirmwareInformation(void* owner, const uint8_t* file, int length, char name[17],
                               int* version) {
  (void)owner;
  if (!file || length < 18) return kBadArgument;
  if (name) {
    size_t n = 0;
    while (n < 16 && file[n] != 0) ++n;
    while (n > 0 && file[n - 1] == ' ') --n;
    copyBytes(name, file, n);
    name[n] = '\0';
  }
  if (version) *version = file[17] * 100 + file[16];
  return 0;
}

}  // namespace kestra
