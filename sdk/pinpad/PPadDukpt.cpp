// DUKPT keys, certificate-authority keys with the issuer and card keys taken from
// certificates, RSA verification, and the RSA public key for encrypted card data.
#include <algorithm>

#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadImpl.h"
#include "sdk/pinpad/PPadKeys.h"

namespace kestra {

namespace {

constexpr int kInvalid = ppad::kInvalidParameter;
constexpr int kInvalidArgument = -9;
constexpr size_t kKsnLength = 10;
constexpr size_t kCATableLength = 232;

bool byteLength(const Bytes& b) { return b.size() <= 255; }

// The certificate request shared by the issuer and card keys.
Bytes certificateRequest(uint8_t sub, int number, const Bytes& exponent, const Bytes& remainder,
                         const Bytes& certificate) {
  Bytes request = {sub, uint8_t(number), uint8_t(exponent.size()), uint8_t(remainder.size()),
                   uint8_t(certificate.size())};
  return joined(joined(joined(std::move(request), exponent), remainder), certificate);
}

}  // namespace

int PPad::cryptoDUKPTInitialKey(int keyType, int keyID, const Bytes& inData) {
  if (inData.empty()) return kInvalid;
  Bytes request = withArgs({0x0B, uint8_t(keyID), uint8_t(keyType)}, inData);
  const int r = d_->command(ppad::kGroupCrypto, request, nullptr, true);
  foundation::secureClear(request);
  return r;
}

int PPad::caImportKey(int number, const Bytes& RIDI, const Bytes& modulus, const Bytes& exponent) {
  if (RIDI.size() != 6 || !byteLength(modulus) || !byteLength(exponent)) return kInvalid;
  Bytes request = joined({0x00, uint8_t(number)}, RIDI);
  request.push_back(uint8_t(exponent.size()));
  request.push_back(uint8_t(modulus.size()));
  request = joined(joined(std::move(request), exponent), modulus);
  return d_->command(ppad::kGroupDukpt, request, nullptr, true);
}

int PPad::caWriteKeysToFlash() { return d_->command(ppad::kGroupDukpt, {0x01}); }

int PPad::caGetKeysData(std::array<uint8_t, 232>* table) {
  Bytes reply;
  const int r = d_->command(ppad::kGroupDukpt, {0x02}, &reply);
  if (r == 0 && table) {
    table->fill(0);
    std::copy_n(reply.begin(), std::min(reply.size(), kCATableLength), table->begin());
  }
  return r;
}

int PPad::caImportIssuerKey(int number, const Bytes& exponent, const Bytes& remainder, const Bytes& certificate,
                            Bytes* extraData) {
  if (!byteLength(exponent) || !byteLength(remainder) || !byteLength(certificate)) return kInvalid;
  return commandInto(*d_, ppad::kGroupDukpt, certificateRequest(0x03, number, exponent, remainder, certificate),
                     extraData);
}

int PPad::caImportICCKey(int type, const Bytes& exponent, const Bytes& remainder, const Bytes& certificate,
                         Bytes* extraData) {
  if (type < 0 || type > 1 || !byteLength(exponent) || !byteLength(remainder) || !byteLength(certificate))
    return kInvalid;
  return commandInto(*d_, ppad::kGroupDukpt, certificateRequest(0x04, type, exponent, remainder, certificate),
                     extraData);
}

int PPad::caRSAVerify(int number, const Bytes& inData, Bytes* outData) {
  if (number < 0 || number > 1 || inData.empty() || !byteLength(inData)) return kInvalid;
  return commandInto(*d_, ppad::kGroupDukpt, withArgs({0x05, uint8_t(number), uint8_t(inData.size())}, inData),
                     outData);
}

int PPad::dukptGenerateKeyOnline(int keyID, Bytes* keySerial) {
  if (keyID < 0 || keyID > 7) return kInvalid;
  return commandInto(*d_, ppad::kGroupDukpt, {0x06, uint8_t(keyID)}, keySerial);
}

int PPad::dukptCalculateMACOnline(const Bytes& first, const Bytes& inData, Bytes* mac) {
  if (first.size() != 8 || inData.empty()) return kInvalid;
  return commandInto(*d_, ppad::kGroupDukpt, joined(joined({0x07}, first), inData), mac);
}

int PPad::cryptoGetDUKPTKSN(int keyID, Bytes* ksn) {
  Bytes reply;
  const int r = d_->command(ppad::kGroupDukpt, {0x08, uint8_t(keyID)}, &reply);
  if (r == 0 && ksn) {
    reply.resize(kKsnLength);  // always the 10 bytes of a key serial number
    *ksn = std::move(reply);
  }
  return r;
}

int PPad::dukptGetCurrentSerialOnline(int keyID, Bytes* keySerial) {
  if (keyID < 0 || keyID > 1) return kInvalid;
  Bytes request = {0x08};
  if (d_->deviceType == 1) request.push_back(uint8_t(keyID));
  return commandInto(*d_, ppad::kGroupDukpt, request, keySerial);
}

int PPad::cryptoDUKPTCopyKey(int keyID, int keyVariant) {
  return d_->command(ppad::kGroupDukpt, {0x0A, uint8_t(keyID), uint8_t(keyVariant)});
}

int PPad::loadRSAKeyDER(const Bytes& der, int /*version*/) {
  const auto key = ppad::rsaKeyFromDER(der.data(), der.size());
  if (!key) return kInvalidArgument;
  Bytes request = {0x08, 0x00, 0x01, 0x03, 0x00};
  request.insert(request.end(), key->modulus.begin(), key->modulus.end());
  request.insert(request.end(), key->exponent.begin(), key->exponent.end());
  return d_->command(ppad::kGroupMagnetic, request);
}

}  // namespace kestra
