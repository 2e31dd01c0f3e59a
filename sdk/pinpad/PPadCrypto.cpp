// Key management and cryptography: random numbers, the terminal master key, the AIK group,
// 3DES encryption and MACs, hashing, key exchange, copy and deletion, and the key inventory.
#include <algorithm>

#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadImpl.h"
#include "sdk/pinpad/PPadKeys.h"

namespace kestra {

namespace {

constexpr int kCryptoInvalid = ppad::kInvalidParameter;
constexpr int kInvalidCommand = 2;
constexpr size_t kRandomLength = 16;
constexpr size_t kMasterKeyBlock = 512;
constexpr size_t kVectorLength = 8;
constexpr size_t kVariantLength = 16;

bool keyNumber(int id) { return id >= 1 && id <= 255; }

// A request of the crypto group: the sub-command, the given bytes, then `data`.
Bytes cryptoRequest(std::initializer_list<uint8_t> head, const Bytes& data) { return withArgs(head, data); }

}  // namespace

int PPad::getRandomData(Bytes* random) {
  Bytes reply;
  int r = d_->command(ppad::kGroupRandom, {}, &reply);
  if (r == 0 && reply.size() < kRandomLength) r = ppad::kFailed;
  if (r == 0 && random) random->assign(reply.begin(), reply.begin() + kRandomLength);
  return r;
}

int PPad::loadTerminalMasterKey(int number, const Bytes& key, const std::string& cpuSerial,
                                const Bytes& randomData, Bytes* keyCheck) {
  if (!keyNumber(number) || key.size() != kMasterKeyBlock || cpuSerial.size() != 16 ||
      randomData.size() != kRandomLength)
    return kCryptoInvalid;
  Bytes serial = getTextBytes(cpuSerial);
  serial.resize(16);
  Bytes request = joined(joined(key, serial), randomData);
  const int r = commandInto(*d_, ppad::kGroupMasterKey, request, keyCheck);
  foundation::secureClear(request);
  return r;
}

int PPad::AIKWriteKeysToFlash() { return d_->command(ppad::kGroupAIK, {0x02}, nullptr, true); }

int PPad::AIKGetVersion(uint32_t* version) {
  Bytes reply;
  int r = d_->command(ppad::kGroupAIK, {0x03}, &reply);
  if (r == 0 && reply.size() < 4) r = ppad::kFailed;
  if (r == 0 && version) *version = foundation::readLE32(reply.data());
  return r;
}

int PPad::management(int mode) {
  if (mode < 1 || mode > 3) return kCryptoInvalid;
  return d_->command(ppad::kGroupManagement, {});
}

int PPad::crypto3DESECB(int operation, int keyID, const Bytes& inData, Bytes* outData) {
  if (!keyNumber(keyID) || inData.empty()) return kCryptoInvalid;
  return commandInto(*d_, ppad::kGroupCrypto, cryptoRequest({0x01, uint8_t(operation), uint8_t(keyID)}, inData),
                     outData);
}

int PPad::crypto3DESCBC(int operation, int keyID, const std::optional<Bytes>& initVector, const Bytes& inData,
                        Bytes* outData) {
  if (!keyNumber(keyID) || inData.empty() || (initVector && initVector->size() != kVectorLength))
    return kCryptoInvalid;
  Bytes request = {0x02, uint8_t(operation), uint8_t(keyID)};
  request.insert(request.end(), kVectorLength, 0);
  if (initVector) std::copy(initVector->begin(), initVector->end(), request.end() - long(kVectorLength));
  return commandInto(*d_, ppad::kGroupCrypto, joined(std::move(request), inData), outData);
}

int PPad::cryptoHash(int type, const Bytes& inData, Bytes* digest) {
  if (type < 1 || type > 5 || inData.empty()) return kCryptoInvalid;
  return commandInto(*d_, ppad::kGroupCrypto, cryptoRequest({0x03, uint8_t(type)}, inData), digest);
}

int PPad::cryptoSaveKeysToFlash() { return d_->command(ppad::kGroupCrypto, {0x05}); }

int PPad::crypto3DES(int mode, int keyID, const Bytes& initVector, const Bytes& keyVariant, const Bytes& inData,
                     Bytes* outData) {
  if (mode < 0 || mode > 3 || !keyNumber(keyID) || initVector.size() != kVectorLength ||
      keyVariant.size() != kVariantLength || inData.empty())
    return kCryptoInvalid;
  const Bytes head = joined(joined({0x06, uint8_t(mode), uint8_t(keyID)}, initVector), keyVariant);
  return commandInto(*d_, ppad::kGroupCrypto, joined(head, inData), outData);
}

int PPad::crypto3DESCBCMAK(int operation, int keyID, const Bytes& inData, Bytes* mac) {
  if (!keyNumber(keyID) || inData.empty()) return kCryptoInvalid;
  return commandInto(*d_, ppad::kGroupCrypto, cryptoRequest({0x07, uint8_t(operation), uint8_t(keyID)}, inData),
                     mac);
}

int PPad::cryptoCopyKey(int targetKeyID, int sourceKeyID) {
  if (targetKeyID < 1 || targetKeyID > 49 || sourceKeyID < 1 || sourceKeyID > 49) return kCryptoInvalid;
  return d_->command(ppad::kGroupCrypto, {0x08, uint8_t(targetKeyID), uint8_t(sourceKeyID)});
}

int PPad::cryptoDeleteKey(int keyID) {
  if (!keyNumber(keyID)) return kCryptoInvalid;
  return d_->command(ppad::kGroupCrypto, {0x09, uint8_t(keyID)});
}

int PPad::cryptoGetKeyInfo(int keyID, KXKeyInfo* info) {
  Bytes reply;
  int r = d_->command(ppad::kGroupCrypto, {0x0A, uint8_t(keyID)}, &reply);
  if (r == 0 && reply.size() < 8) r = ppad::kFailed;
  if (r == 0 && info) *info = ppad::keyInfoFromRecord(uint8_t(keyID), reply.data());
  return r;
}

int PPad::crypto3DESCBCMACExtended(int operation, int keyID, const Bytes& initVector, const Bytes& keyVariant,
                                   const Bytes& inData, Bytes* mac) {
  if (!keyNumber(keyID) || initVector.size() != kVectorLength || keyVariant.size() != kVariantLength ||
      inData.empty())
    return kCryptoInvalid;
  const Bytes head = joined(joined({0x0C, uint8_t(operation), uint8_t(keyID)}, initVector), keyVariant);
  return commandInto(*d_, ppad::kGroupCrypto, joined(head, inData), mac);
}

int PPad::cryptoExchangeKey(int kekID, int keyID, int usage, int version, const Bytes& inData, bool cbc,
                            Bytes* checkValue) {
  if (inData.empty()) return kCryptoInvalid;
  Bytes request = cryptoRequest(
      {0x0D, uint8_t(keyID), uint8_t(kekID), uint8_t(usage), uint8_t(version), uint8_t(cbc ? 1 : 0)}, inData);
  const int r = commandInto(*d_, ppad::kGroupCrypto, request, checkValue);
  foundation::secureClear(request);
  return r;
}

int PPad::cryptoGetKeysInfo(std::vector<KXKeyInfo>* keys) {
  Bytes reply;
  const int r = d_->command(ppad::kGroupCrypto, {0x11}, &reply);
  if (r == 0) {
    if (keys) *keys = ppad::parseKeysInfo(reply);
    return 0;
  }
  if (r != kInvalidCommand) return r;
  // An older pinpad: key by key.
  std::vector<KXKeyInfo> list;
  for (int id = 0; id <= 9; ++id) {
    KXKeyInfo info;
    if (cryptoGetKeyInfo(id, &info) == 0 && info.version != 0) list.push_back(std::move(info));
  }
  for (int id = 0; id <= 7; ++id) {
    Bytes ksn;
    if (cryptoGetDUKPTKSN(id, &ksn) != 0) continue;
    if (std::all_of(ksn.begin(), ksn.end(), [](uint8_t b) { return b == 0; })) continue;
    KXKeyInfo info;
    info.position = id;
    info.type = 0;
    info.ksn = std::move(ksn);
    list.push_back(std::move(info));
  }
  if (keys) *keys = std::move(list);
  return 0;
}

}  // namespace kestra
