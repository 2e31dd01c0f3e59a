// The magnetic-card commands (group 0x34) that the card event reads the swiped card with.
#include <algorithm>

#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadImpl.h"

namespace kestra {

namespace {

// Reply bytes up to the first zero as text.
std::string asciiText(const Bytes& reply) {
  const auto end = std::find(reply.begin(), reply.end(), 0);
  return std::string(reply.begin(), end);
}

int clampStored(std::atomic<int>& setting, int max) {
  if (setting > max) setting = max;
  return setting;
}

uint8_t digitsAfterFlags(int after) { return after <= 3 ? 0 : after == 4 ? 1 : 3; }

int dataCommand(PPad::Impl& d, const Bytes& request, Bytes* out) {
  Bytes reply;
  const int r = d.command(ppad::kGroupMagnetic, request, &reply);
  if (r == 0 && out) *out = reply;
  foundation::secureClear(reply);
  return r;
}

}  // namespace

int PPad::msStart() { return d_->command(ppad::kGroupMagnetic, {0x01}, nullptr, true); }

int PPad::msStop() { return d_->command(ppad::kGroupMagnetic, {0x04}, nullptr, true); }

int PPad::msGetCardData(Bytes* data) {
  Bytes reply;
  int r = d_->command(ppad::kGroupMagnetic, {0x03, uint8_t(d_->emsrTracks)}, &reply);
  if (r == 0 && reply.size() < 10) r = ppad::kNoData;
  if (r == 0 && data) *data = reply;
  foundation::secureClear(reply);
  return r;
}

int PPad::msGetMaskedData(std::string* track2) {
  const uint8_t start = uint8_t(clampStored(d_->msUnmaskedDigitsAtStart, 6));
  const uint8_t end = uint8_t(clampStored(d_->msUnmaskedDigitsAtEnd, 4));
  const uint8_t after = uint8_t(clampStored(d_->msUnmaskedDigitsAfter, 7));
  Bytes reply;
  const int r = d_->command(ppad::kGroupMagnetic, {0x0B, start, end, after}, &reply);
  if (r == 0 && track2) *track2 = asciiText(reply);
  return r;
}

int PPad::msGetMaskedDataFull(Bytes* data) {
  const uint8_t start = uint8_t(clampStored(d_->msUnmaskedDigitsAtStart, 6));
  const uint8_t end = uint8_t(clampStored(d_->msUnmaskedDigitsAtEnd, 4));
  const uint8_t flags = digitsAfterFlags(d_->msUnmaskedDigitsAfter);
  return dataCommand(*d_, {0x13, start, end, flags, uint8_t(0xA0 + d_->msTracks)}, data);
}

int PPad::msGetCardholderName(std::string* name) {
  Bytes reply;
  const int r = d_->command(ppad::kGroupMagnetic, {0x0D}, &reply);
  if (r == 0 && name) *name = asciiText(reply);
  foundation::secureClear(reply);
  return r;
}

int PPad::msGetEncryptedCardDataRSA(Bytes* data) { return dataCommand(*d_, {0x07}, data); }

int PPad::msGetEncryptedCardData3DES(int keyID, uint32_t uniqueID, Bytes* data) {
  Bytes request = {0x0A, uint8_t(d_->emsrTracks), uint8_t(keyID)};
  foundation::appendLE32(request, uniqueID);
  return dataCommand(*d_, request, data);
}

int PPad::msGetEncryptedCardDataWithAlgorithm(int algorithm, int keyID, uint32_t randomSeed,
                                              uint32_t uniqueID, Bytes* data) {
  Bytes request = {0x10, uint8_t(algorithm)};
  const bool noKeyByte = algorithm == 8 || algorithm == 13 || algorithm == 16;
  if (!noKeyByte && keyID != -1) request.push_back(uint8_t(keyID));
  if (algorithm == 15 || algorithm == 18) request.push_back(uint8_t(keyID >> 8));
  if (algorithm == 17) {
    if (keyID != -1) request.push_back(0x01);
    foundation::appendLE16(request, uint16_t(randomSeed));
  }
  if (algorithm == 19 || algorithm == 20) foundation::appendLE32(request, uniqueID);
  if (algorithm == 3 || algorithm == 4) {
    clampStored(d_->msUnmaskedDigitsAfter, 7);
    uint8_t flags = digitsAfterFlags(d_->msUnmaskedDigitsAfter);
    if (!d_->msIncludeSentinels) flags |= 0x80;
    request.push_back(flags);
    request.push_back(uint8_t(clampStored(d_->msUnmaskedDigitsAtStart, 6)));
    request.push_back(uint8_t(clampStored(d_->msUnmaskedDigitsAtEnd, 4)));
  }
  if (algorithm == 14 && !d_->msIncludeSentinels) request.push_back(0x01);
  return dataCommand(*d_, request, data);
}

}  // namespace kestra
