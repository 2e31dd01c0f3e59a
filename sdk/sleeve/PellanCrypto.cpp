// The sleeve's own AES keys (authentication and encryption): versions, deletion, loading
// under the previous key, and the challenge-response in both directions (commands 25-28).
// Keys and key blocks are cleared after use and never logged.

#include "sdk/sleeve/PellanCrypto.h"

#include "platform/crypto/Digest.h"
#include "sdk/foundation/AESCrypto.h"
#include "sdk/sleeve/Pellan.h"
#include "sdk/sleeve/PellanImpl.h"

namespace kestra {

namespace {

constexpr uint8_t kCmdKeys = 25;
constexpr uint8_t kCmdRandom = 26;
constexpr uint8_t kCmdAuthenticateDevice = 27;
constexpr uint8_t kCmdAuthenticateHost = 28;
constexpr uint8_t kDeleteKey = 0xFF;

constexpr int kKeyVersionsFirmware = 2043;
constexpr int kKeyFlagsFirmware = 2058;
constexpr size_t kKeySize = 32;
constexpr size_t kKeyBlockSize = 48;
constexpr size_t kChallengeSize = 16;

bool validKeyID(int keyID, Error* error) {
  if (keyID == Pellan::KEY_AUTHENTICATION || keyID == Pellan::KEY_ENCRYPTION) return true;
  return pellanFail(error, -9, "KeyID must be between KEY_AUTHENTICATION or KEY_ENCRYPTION");
}

bool invalidLength(Error* error) { return pellanFail(error, -6, "Invalid data length received"); }

}  // namespace

std::optional<Bytes> AESOperation(const Bytes& data, int operation, const Bytes& key) {
  return AESCrypto::cryptoWithKey(key).AESOperation(operation == 0 ? 0 : 1, data);
}

std::optional<Bytes> AESEncryptWithKey(const Bytes& data, const Bytes& key) { return AESOperation(data, 0, key); }

std::optional<Bytes> Pellan::cryptoRawGenerateRandomData(Error* error) {
  auto answer = d_->command(0, kCmdRandom, {}, error);
  if (!answer) return std::nullopt;
  if (answer->size() < kChallengeSize) {
    invalidLength(error);
    return std::nullopt;
  }
  return Bytes(answer->begin(), answer->begin() + long(kChallengeSize));
}

bool Pellan::cryptoGetKeyVersion(int keyID, uint32_t* keyVersion, Error* error) {
  if (!validKeyID(keyID, error)) return false;
  if (!keyVersion) return pellanFail(error, -9, "Valid keyVersion pointer required");
  if (d_->fwVer < kKeyVersionsFirmware)
    return pellanFail(error, -7, "Key versions are supported in firmware 2.43 or later");
  auto answer = d_->command(0, kCmdKeys, {uint8_t(keyID)}, error);
  if (!answer) return false;
  if (answer->size() < 4) return invalidLength(error);
  const uint32_t v = foundation::readBE32(answer->data());
  *keyVersion = v == 0xFFFFFFFFu ? 0 : v;
  return true;
}

bool Pellan::cryptoDeleteKey(int keyID, Error* error) {
  if (!validKeyID(keyID, error)) return false;
  if (d_->fwVer < kKeyVersionsFirmware)
    return pellanFail(error, -7, "Key deletion requires firmware version 2.43 or newer");
  return d_->command(0, kCmdKeys, {uint8_t(keyID), kDeleteKey}, error).has_value();
}

bool Pellan::cryptoRawSetKey(int keyID, const Bytes& encryptedData, uint32_t keyVersion, uint32_t keyFlags,
                             Error* error) {
  if (!validKeyID(keyID, error)) return false;
  if (encryptedData.size() != kKeyBlockSize) return pellanFail(error, -9, "Encrypted key data must be 48 bytes long");
  if (keyFlags != 0 && d_->fwVer < kKeyFlagsFirmware)
    return pellanFail(error, -9, "Key flags are only supported on firmware version 2.58 and higher");
  Bytes data = {uint8_t(keyID)};
  foundation::append(data, encryptedData);
  if (d_->fwVer >= kKeyVersionsFirmware) foundation::appendBE32(data, keyVersion);
  if (d_->fwVer >= kKeyFlagsFirmware) foundation::appendBE32(data, keyFlags);
  const bool ok = d_->command(0, kCmdKeys, data, error).has_value();
  foundation::secureClear(data);
  return ok;
}

bool Pellan::cryptoSetKey(int keyID, const Bytes& key, const std::optional<Bytes>& oldKey, uint32_t keyVersion,
                          uint32_t keyFlags, Error* error) {
  if (!validKeyID(keyID, error)) return false;
  if (key.size() != kKeySize || (oldKey && oldKey->size() != kKeySize))
    return pellanFail(error, -9, "Key must be 32 bytes long");
  auto random = cryptoRawGenerateRandomData(error);
  if (!random) return false;
  Bytes block = *random;
  foundation::append(block, key);
  if (oldKey) {
    auto encrypted = AESEncryptWithKey(block, *oldKey);
    foundation::secureClear(block);
    if (!encrypted) return pellanFail(error, -9, "Key must be 32 bytes long");
    block = std::move(*encrypted);
  }
  const bool ok = cryptoRawSetKey(keyID, block, keyVersion, keyFlags, error);
  foundation::secureClear(block);
  return ok;
}

std::optional<Bytes> Pellan::cryptoRawAuthenticateDevice(const Bytes& randomData, Error* error) {
  if (randomData.size() != kChallengeSize) {
    pellanFail(error, -9, "randomData must be 16 bytes long");
    return std::nullopt;
  }
  auto answer = d_->command(0, kCmdAuthenticateDevice, randomData, error);
  if (!answer) return std::nullopt;
  if (answer->size() < kChallengeSize) {
    invalidLength(error);
    return std::nullopt;
  }
  return answer;
}

bool Pellan::cryptoRawAuthenticateHost(const Bytes& encryptedData, Error* error) {
  if (encryptedData.size() != kChallengeSize) return pellanFail(error, -9, "encryptedData must be 16 bytes long");
  return d_->command(0, kCmdAuthenticateHost, encryptedData, error).has_value();
}

bool Pellan::cryptoAuthenticateDevice(const Bytes& key, Error* error) {
  if (key.size() != kKeySize) return pellanFail(error, -9, "Key must be 32 bytes long");
  Bytes random(kChallengeSize);
  if (!crypto::randomBytes(random.data(), random.size()))
    return pellanFail(error, -9, "Authentication failed, possibley key is wrong");
  auto expected = AESEncryptWithKey(random, key);
  if (!expected) return pellanFail(error, -9, "Key must be 32 bytes long");
  auto answer = d_->command(0, kCmdAuthenticateDevice, random, error);
  if (!answer) return false;
  if (answer->size() < kChallengeSize) return invalidLength(error);
  // The whole answer must be the expected block: a longer answer is no proof.
  if (*answer != *expected) return pellanFail(error, -9, "Authentication failed, possibley key is wrong");
  return true;
}

bool Pellan::cryptoAuthenticateHost(const Bytes& key, Error* error) {
  if (key.size() != kKeySize) return pellanFail(error, -9, "Key must be 32 bytes long");
  auto random = cryptoRawGenerateRandomData(error);
  if (!random) return false;
  auto encrypted = AESEncryptWithKey(*random, key);
  if (!encrypted) return pellanFail(error, -9, "Key must be 32 bytes long");
  return cryptoRawAuthenticateHost(Bytes(encrypted->begin(), encrypted->begin() + long(kChallengeSize)), error);
}

}  // namespace kestra
