// The magnetic-card commands (group 0x34): reader control, plain, masked and encrypted card
// data, simulated swipes, manual entry, and the card settings the reads use.
#include <algorithm>
#include <cstdio>

#include "platform/foundation/Values.h"

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
  return commandInto(d, ppad::kGroupMagnetic, request, out);
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

namespace kestra {

namespace {

std::optional<std::string> trackText(const KXTrackDictionary& d, const char* key) {
  auto it = d.texts.find(key);
  if (it == d.texts.end()) return std::nullopt;
  return it->second;
}

std::string field(const KXFinancialCardDictionary& d, const char* key) {
  auto it = d.find(key);
  return it == d.end() ? std::string() : it->second;
}

constexpr int kTimeoutMargin = 1;

}  // namespace

bool PPad::lastCardMaskedTracks(OptText* t1, OptText* t2, OptText* t3) {
  Bytes full;
  if (msGetMaskedDataFull(&full) == 0) {
    auto tracks = KXUNISDKGlobals::msExtractTracks(full.data(), int(full.size()), false);
    *t1 = trackText(tracks, trackkey::track1);
    *t2 = trackText(tracks, trackkey::track2);
    *t3 = trackText(tracks, trackkey::track3);
    foundation::secureClear(full);
    for (auto& [key, value] : tracks.texts) foundation::secureClear(value);
    return true;
  }
  std::string masked2;
  if (msGetMaskedData(&masked2) != 0) return false;
  *t2 = masked2;
  auto card = KXUNISDKGlobals::msProcessFinancialCard(std::nullopt, masked2);
  foundation::secureClear(masked2);
  std::string name;
  if (card && msGetCardholderName(&name) == 0) {
    char expiry[16];
    std::snprintf(expiry, sizeof expiry, "%02d%02d",
                  foundation::intValue(std::string_view(field(*card, trackkey::expirationYear))) - 2000,
                  foundation::intValue(std::string_view(field(*card, trackkey::expirationMonth))));
    *t1 = "%B" + field(*card, trackkey::accountNumber) + "^" + name + "^" + expiry +
          field(*card, trackkey::serviceCode) + field(*card, trackkey::discretionaryData) + "?";
    foundation::secureClear(name);
  }
  if (card)
    for (auto& [key, value] : *card) foundation::secureClear(value);
  return true;
}

std::optional<KXFinancialCardDictionary> PPad::msGetLastCardMaskedData(Error* error) {
  OptText t1, t2, t3;
  std::optional<KXFinancialCardDictionary> card;
  if (lastCardMaskedTracks(&t1, &t2, &t3)) card = KXUNISDKGlobals::msProcessFinancialCard(t1, t2);
  for (auto* t : {&t1, &t2, &t3})
    if (*t) foundation::secureClear(**t);
  if (!card) {
    const Error e = KXUNISDKGlobals::makeError(-16, "Invalid card data");
    KXUNISDKGlobals::LOG("ERROR: %s", e.text.c_str());
    if (error) *error = e;
  }
  return card;
}

int PPad::msIsDataReady() { return d_->command(ppad::kGroupMagnetic, {0x02}); }

int PPad::msGetEncryptedCardData(int keyID, const Bytes& sessionKey, Bytes* cardData) {
  if (keyID < 1 || keyID > 255 || sessionKey.size() != 16) return ppad::kInvalidParameter;
  Bytes request = withArgs({0x05, uint8_t(keyID)}, sessionKey);
  const int r = commandInto(*d_, ppad::kGroupMagnetic, request, cardData);
  foundation::secureClear(request);
  return r;
}

int PPad::msEnterMagneticCardData(int argument, int timeoutSeconds, Bytes* cardData) {
  if (timeoutSeconds < 0 || timeoutSeconds > 255) return ppad::kInvalidParameter;
  return commandInto(*d_, ppad::kGroupMagnetic, {0x09, uint8_t(timeoutSeconds), uint8_t(argument)}, cardData,
                     std::chrono::seconds(timeoutSeconds + kTimeoutMargin));
}

int PPad::msSimulateCardDataTrack1(const OptText& track1, const OptText& track2, const OptText& track3) {
  Bytes request = {0x14};
  const OptText* tracks[] = {&track1, &track2, &track3};
  for (uint8_t k = 0; k < 3; ++k) {
    if (!*tracks[k] || (*tracks[k])->empty()) continue;
    request.push_back(uint8_t(0xF1 + k));
    request.insert(request.end(), (*tracks[k])->begin(), (*tracks[k])->end());
  }
  const int r = d_->command(ppad::kGroupMagnetic, request);
  foundation::secureClear(request);
  if (r == 0) simulateEvent(0x6A, std::nullopt);
  return r;
}

int PPad::msGetLoyaltyNumber(int id, std::string* number) {
  Bytes reply;
  const int r = d_->command(ppad::kGroupMagnetic, {0x15, uint8_t(id)}, &reply);
  if (r == 0 && number) *number = asciiText(reply);
  foundation::secureClear(reply);
  return r;
}

int PPad::crypto3DESGeneratePANMACWithKeyID(int keyID, Bytes* mac) {
  if (keyID < 1 || keyID > 255) return ppad::kInvalidParameter;
  return commandInto(*d_, ppad::kGroupMagnetic, {0x12, uint8_t(keyID)}, mac);
}

void PPad::msSetEncryption(int algorithm, int keyID, bool includeSentinels, int includeTracks) {
  d_->msEncryption = algorithm;
  d_->msKeyID = keyID;
  d_->msIncludeSentinels = includeSentinels;
  d_->msTracks = includeTracks;
}

void PPad::msSet3DESParamsKeyID(int keyID, uint32_t uniqueID, uint32_t randomSeed) {
  d_->msKeyID = keyID;
  d_->msUniqueID = uniqueID;
  d_->msRandomSeed = randomSeed;
}

bool PPad::msConfigMaskedData(int atStart, int atEnd, int after, Error*) {
  d_->msUnmaskedDigitsAtStart = atStart;
  d_->msUnmaskedDigitsAtEnd = atEnd;
  d_->msUnmaskedDigitsAfter = after;
  return true;
}

void PPad::emsrSetTracks(int tracks) { d_->emsrTracks = tracks; }

}  // namespace kestra
