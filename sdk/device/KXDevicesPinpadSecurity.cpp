// The pinpad's secure calls of the device API: key information, key exchange (plain and
// TR-31), DUKPT keys, 3DES and MACs, manual card entry, a few pinpad services, and the
// legacy EMV kernel's steps with its certificate-authority keys. Each routes to the pinpad
// alone (active type 2, or automatic with the pinpad connected) and passes the driver's
// operation through.
#include <algorithm>
#include <cstring>
#include <mutex>

#include "platform/foundation/MainQueue.h"
#include "sdk/device/KXDevices.h"
#include "sdk/device/KXDevicesEmv2.h"
#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadKeys.h"

namespace kestra {

namespace {

constexpr int kDUKPTKey = 255;
constexpr size_t kMaxApplications = 50;
constexpr size_t kMaxLabel = 16;
constexpr int kNotConnected = 16;

// The key serial number of the last DUKPT key made for an encrypted tag read.
std::mutex lastKSNMutex;
std::optional<Bytes> lastKSN;

Error invalidArgument(const char* name) { return KXUNISDKGlobals::makeError(-9, "Invalid argument: %s", name); }

}  // namespace

PPad* KXDevices::securePinpad(Error* error) const {
  if (!route({Kind::Pinpad})) {
    if (error) routeError(error);
    return nullptr;
  }
  PPad* pad = pinpad_->securePad();
  if (!pad) ppadResult(kNotConnected, error);
  return pad;
}

// ---- Keys ----------------------------------------------------------------------------------

std::optional<KXKeyInfo> KXDevices::ppadGetKeyInfo(int keyID, Error* error) {
  PPad* pad = securePinpad(error);
  if (!pad) return std::nullopt;
  KXKeyInfo info;  // version 0 when the pinpad has nothing to say
  pad->cryptoGetKeyInfo(keyID, &info);
  return info;
}

std::optional<std::vector<KXKeyInfo>> KXDevices::ppadGetKeysInfo(Error* error) {
  PPad* pad = securePinpad(error);
  if (!pad) return std::nullopt;
  std::vector<KXKeyInfo> keys;
  if (!ppadResult(pad->cryptoGetKeysInfo(&keys), error)) return std::nullopt;
  return keys;
}

std::optional<Bytes> KXDevices::ppadGetDUKPTKeyKSN(int keyID, Error* error) {
  PPad* pad = securePinpad(error);
  if (!pad) return std::nullopt;
  Bytes ksn;
  if (!ppadResult(pad->cryptoGetDUKPTKSN(keyID, &ksn), error)) return std::nullopt;
  return ksn;
}

bool KXDevices::ppadCryptoDelete3DESKeyID(int keyID, Error* error) {
  PPad* pad = securePinpad(error);
  if (!pad) return false;
  return ppadResult(pad->cryptoDeleteKey(keyID), error) && ppadResult(pad->cryptoSaveKeysToFlash(), error);
}

std::optional<Bytes> KXDevices::ppadCryptoExchangeKeyID(int keyID, int kekID, int usage, int version,
                                                        const Bytes& data, bool cbc, Error* error) {
  PPad* pad = securePinpad(error);
  if (!pad) return std::nullopt;
  Bytes checkValue;
  if (!ppadResult(pad->cryptoExchangeKey(kekID, keyID, usage, version, data, cbc, &checkValue), error) ||
      !ppadResult(pad->cryptoSaveKeysToFlash(), error))
    return std::nullopt;
  return checkValue;
}

std::optional<Bytes> KXDevices::ppadCryptoTR31ExchangeKeyID(int keyID, int kekID, const std::string& tr31,
                                                            Error* error) {
  PPad* pad = securePinpad(error);
  if (!pad) return std::nullopt;
  // A block that is not a key block is refused before the target key is touched.
  if (!ppad::readTR31Header(tr31)) {
    const Error e = invalidArgument("tr31");
    KXUNISDKGlobals::LOG("ERROR: %s", e.text.c_str());
    foundation::fail(error, e);
    return std::nullopt;
  }
  if (tr31.rfind("B080", 0) == 0) pad->cryptoDeleteKey(keyID);
  Bytes block = foundation::bytesOf(tr31);
  block.push_back(0);
  Bytes checkValue;
  const int r = pad->cryptoExchangeKey(kekID, keyID, 0, 0, block, false, &checkValue);
  foundation::secureClear(block);
  if (!ppadResult(r, error) || !ppadResult(pad->cryptoSaveKeysToFlash(), error)) return std::nullopt;
  return checkValue;
}

std::optional<Bytes> KXDevices::ppadCryptoDUKPTGenerateKeyWithID(int keyID, Error* error) {
  PPad* pad = securePinpad(error);
  if (!pad) return std::nullopt;
  Bytes ksn;
  if (!ppadResult(pad->dukptGenerateKeyOnline(keyID, &ksn), error)) return std::nullopt;
  return ksn;
}

bool KXDevices::ppadCryptoDUKPTCopyGeneratedKeyToID(int keyID, int keyVariant, Error* error) {
  PPad* pad = securePinpad(error);
  return pad && ppadResult(pad->cryptoDUKPTCopyKey(keyID, keyVariant), error);
}

// ---- Encryption and MACs ----------------------------------------------------------------------

namespace {

// Runs `op` (a driver operation with a data out value) and gives its data on 0.
template <class Op>
std::optional<Bytes> dataOf(bool routed, Op op) {
  if (!routed) return std::nullopt;
  Bytes out;
  if (!op(&out)) return std::nullopt;
  return out;
}

}  // namespace

std::optional<Bytes> KXDevices::ppadCrypto3DESGeneratePANMACWithKeyID(int keyID, Error* error) {
  PPad* pad = securePinpad(error);
  return dataOf(pad, [&](Bytes* out) { return ppadResult(pad->crypto3DESGeneratePANMACWithKeyID(keyID, out), error); });
}

std::optional<Bytes> KXDevices::ppadCrypto3DESECBEncryptKeyID(int keyID, const Bytes& inData, Error* error) {
  PPad* pad = securePinpad(error);
  return dataOf(pad, [&](Bytes* out) { return ppadResult(pad->crypto3DESECB(0, keyID, inData, out), error); });
}

std::optional<Bytes> KXDevices::ppadCrypto3DESECBDecryptKeyID(int keyID, const Bytes& inData, Error* error) {
  PPad* pad = securePinpad(error);
  return dataOf(pad, [&](Bytes* out) { return ppadResult(pad->crypto3DESECB(1, keyID, inData, out), error); });
}

std::optional<Bytes> KXDevices::ppadCrypto3DESCBCEncryptKeyID(int keyID, const std::optional<Bytes>& initVector,
                                                             const Bytes& inData, Error* error) {
  PPad* pad = securePinpad(error);
  return dataOf(pad, [&](Bytes* out) {
    return ppadResult(pad->crypto3DESCBC(0, keyID, initVector, inData, out), error);
  });
}

std::optional<Bytes> KXDevices::ppadCrypto3DESCBCDecryptKeyID(int keyID, const std::optional<Bytes>& initVector,
                                                             const Bytes& inData, Error* error) {
  PPad* pad = securePinpad(error);
  return dataOf(pad, [&](Bytes* out) {
    return ppadResult(pad->crypto3DESCBC(1, keyID, initVector, inData, out), error);
  });
}

std::optional<Bytes> KXDevices::ppadCrypto3DESCBCMACWithMode(int mode, int keyID, const Bytes& initVector,
                                                            const Bytes& keyVariant, const Bytes& inData,
                                                            Error* error) {
  PPad* pad = securePinpad(error);
  return dataOf(pad, [&](Bytes* out) {
    return ppadResult(pad->crypto3DESCBCMACExtended(mode, keyID, initVector, keyVariant, inData, out), error);
  });
}

std::optional<Bytes> KXDevices::ppadCryptoDUKPTMACWithMode(int mode, const Bytes& initVector, const Bytes& keyVariant,
                                                          const Bytes& inData, Error* error) {
  return ppadCrypto3DESCBCMACWithMode(mode, kDUKPTKey, initVector, keyVariant, inData, error);
}

// ---- Card entry and pinpad services ---------------------------------------------------------------

bool KXDevices::ppadMagneticCardEntry(int argument, int timeout, Error* error) {
  PPad* pad = securePinpad(error);
  if (!pad) return false;
  Bytes card;
  if (!ppadResult(pad->msEnterMagneticCardData(argument, timeout, &card), error)) return false;
  int encryption = 0;  // the card-data encryption in force, passed along with the card data
  {
    std::lock_guard lock(emv2State().mutex);
    encryption = emv2State().encryptionAlgorithm;
  }
  auto self = shared_from_this();
  foundation::MainQueue::post([self, encryption, card = std::move(card)]() mutable {
    if (card.empty()) {
      // Nothing came back: not even the byte naming the tracks.
      self->kxdev_magneticCardReadFailed(0, 0);
      return;
    }
    const Bytes data(card.begin() + 1, card.end());
    self->kxdev_magneticCardEncryptedData(encryption, card[0], data, std::nullopt, std::nullopt, std::nullopt, 0);
    foundation::secureClear(card);
  });
  return true;
}

bool KXDevices::ppadCancelMagneticCardEntry(Error* error) {
  if (error) *error = KXUNISDKGlobals::makeError(-7, "Function not supported on the connected device");
  return false;
}

std::optional<KXPinpadInfo> KXDevices::ppadGetSystemInfo(Error* error) {
  PPad* pad = securePinpad(error);
  if (!pad) return std::nullopt;
  return pad->sysGetInfo();
}

bool KXDevices::ppadKeyboardControl(bool enabled, Error* error) {
  PPad* pad = securePinpad(error);
  return pad && ppadResult(pad->uiKeyboardControl(enabled), error);
}

bool KXDevices::ppadEnableStatusLine(bool enabled, Error* error) {
  PPad* pad = securePinpad(error);
  return pad && ppadResult(pad->sysStatusLine(enabled), error);
}

std::optional<Bytes> KXDevices::ppadCustomCommand(int command, const std::optional<Bytes>& data, double timeout,
                                                  Error* error) {
  PPad* pad = securePinpad(error);
  return dataOf(pad, [&](Bytes* out) {
    return ppadResult(pad->ppadCustomCommand(command, timeout, data, out), error);
  });
}

std::optional<Bytes> KXDevices::pogCommandForSolution(int solution, int command, const Bytes& data, Error* error) {
  PPad* pad = securePinpad(error);
  return dataOf(pad, [&](Bytes* out) { return ppadResult(pad->pogCommand(solution, command, data, out), error); });
}

// ---- Legacy EMV steps ------------------------------------------------------------------------------

namespace {

// Runs a step with the status word's place; the word is kept only when the step succeeded.
template <class Step>
int emvRun(std::atomic<int16_t>& last, Step step) {
  int16_t word = last.load();
  const int r = step(&word);
  if (r == 0) last = word;
  return r;
}

}  // namespace

#define KX_EMV_STEP(CALL)                                                                   \
  PPad* pad = securePinpad(error);                                                          \
  return pad && ppadResult(emvRun(emvLastStatus_, [&](int16_t* st) { return pad->CALL; }), error)

bool KXDevices::emvInitialise(Error* error) { KX_EMV_STEP(emvInit(st)); }
bool KXDevices::emvDeinitialise(Error* error) { KX_EMV_STEP(emvDone(st)); }
bool KXDevices::emvATRValidation(const Bytes& atr, bool warmReset, Error* error) {
  KX_EMV_STEP(emvATRValidation(st, warmReset, atr));
}
bool KXDevices::emvInitialAppProcessing(const Bytes& aid, Error* error) { KX_EMV_STEP(emvInitialAppProcessing(st, aid)); }
bool KXDevices::emvReadAppData(const std::vector<int>& tags, Error* error) { KX_EMV_STEP(emvReadAppData(st, tags)); }
bool KXDevices::emvAuthentication(bool checkAmount, Error* error) { KX_EMV_STEP(emvAuthentication(st, checkAmount)); }
bool KXDevices::emvProcessRestrictions(Error* error) { KX_EMV_STEP(emvProcessRestrictions(st)); }
bool KXDevices::emvTerminalRisk(bool force, Error* error) { KX_EMV_STEP(emvTerminalRisk(st, force)); }
bool KXDevices::emvGetAuthenticationMethod(Error* error) { KX_EMV_STEP(emvGetAuthenticationMethod(st)); }
bool KXDevices::emvSetAuthenticationResult(int result, Error* error) {
  KX_EMV_STEP(emvSetAuthenticationResult(st, result));
}
bool KXDevices::emvVerifyPinOffline(Error* error) { KX_EMV_STEP(emvVerifyPinOffline(st)); }
bool KXDevices::emvGenerateCertificate(int type, int risk, Error* error) {
  KX_EMV_STEP(emvGenerateCertificate(st, type, risk));
}
bool KXDevices::emvMakeTransactionDecision(Error* error) { KX_EMV_STEP(emvMakeTransactionDecision(st)); }
bool KXDevices::emvMakeDefaultDecision(Error* error) { KX_EMV_STEP(emvMakeDefaultDecision(st)); }
bool KXDevices::emvAuthenticateIssuer(Error* error) { KX_EMV_STEP(emvAuthenticateIssuer(st)); }
bool KXDevices::emvScriptProcessing(int type, Error* error) { KX_EMV_STEP(emvScriptProcessing(st, type)); }
bool KXDevices::emvUpdateTVRByte(int byte, int bit, int value, Error* error) {
  KX_EMV_STEP(emvUpdateTVR(st, byte, bit, value));
}
bool KXDevices::emvUpdateTSIByte(int byte, int bit, int value, Error* error) {
  KX_EMV_STEP(emvUpdateTSI(st, byte, bit, value));
}
bool KXDevices::emvCheckTVRByte(int byte, int bit, Error* error) { KX_EMV_STEP(emvCheckTVR(st, byte, bit)); }
bool KXDevices::emvCheckTSIByte(int byte, int bit, Error* error) { KX_EMV_STEP(emvCheckTSI(st, byte, bit)); }
bool KXDevices::emvRemovePublicKey(int caIndex, const Bytes& RID, Error* error) {
  KX_EMV_STEP(emvRemovePublicKey(st, RID, caIndex));
}
bool KXDevices::emvSetDataAsBinary(unsigned tagID, const Bytes& data, Error* error) {
  KX_EMV_STEP(emvSetDataAsBinary(st, int(tagID), data));
}
bool KXDevices::emvSetDataAsString(unsigned tagID, const std::string& data, Error* error) {
  KX_EMV_STEP(emvSetDataAsString(st, int(tagID), data));
}
bool KXDevices::emvGetDataDetails(unsigned tagID, int* tagType, int* maxLen, int* currentLen, Error* error) {
  KX_EMV_STEP(emvGetDataDetails(st, int(tagID), tagType, maxLen, currentLen));
}
bool KXDevices::emvSetBypassMode(int mode, Error* error) { KX_EMV_STEP(emvSetBypassMode(st, mode)); }
bool KXDevices::emvSetTags(const Bytes& tlv, Error* error) { KX_EMV_STEP(emvSetTags(st, tlv)); }

#undef KX_EMV_STEP

bool KXDevices::emvLoadAppList(const std::vector<KXEMVApplication>& apps, int selectionMethod,
                               bool includeBlockedAIDs, Error* error) {
  PPad* pad = securePinpad(error);
  if (!pad) return false;
  const auto refuse = [&](const char* what) {
    const Error e = invalidArgument(what);
    KXUNISDKGlobals::LOG("ERROR: %s", e.text.c_str());
    return foundation::fail(error, e);
  };
  if (apps.size() > kMaxApplications) return refuse("apps");
  std::vector<PPadEMVApplication> records(apps.size());
  for (size_t i = 0; i < apps.size(); ++i) {
    const auto& a = apps[i];
    if (a.aid.size() > records[i].aid.size()) return refuse("aid");
    const bool ascii = std::all_of(a.label.begin(), a.label.end(), [](char c) { return uint8_t(c) < 0x80 && c; });
    if (a.label.size() > kMaxLabel || !ascii) return refuse("label");
    std::copy(a.aid.begin(), a.aid.end(), records[i].aid.begin());
    records[i].aidLength = int32_t(a.aid.size());
    std::copy(a.label.begin(), a.label.end(), records[i].label.begin());
    records[i].matchCriteria = a.matchCriteria;
  }
  return ppadResult(emvRun(emvLastStatus_, [&](int16_t* st) {
                      return pad->emvLoadAppList(st, selectionMethod, includeBlockedAIDs, records.data(),
                                                 int(records.size()));
                    }),
                    error);
}

std::optional<std::vector<KXEMVApplication>> KXDevices::emvGetCommonAppList(bool* confirmationRequired,
                                                                            Error* error) {
  PPad* pad = securePinpad(error);
  if (!pad) return std::nullopt;
  std::vector<PPadEMVApplication> records(kMaxApplications);
  int count = int(records.size());
  if (!ppadResult(emvRun(emvLastStatus_, [&](int16_t* st) {
                    return pad->emvGetCommonAppList(st, confirmationRequired, records.data(), &count);
                  }),
                  error))
    return std::nullopt;
  std::vector<KXEMVApplication> out;
  for (int i = 0; i < count; ++i) {
    const auto& r = records[size_t(i)];
    KXEMVApplication a;
    a.aid.assign(r.aid.begin(), r.aid.begin() + std::clamp(r.aidLength, 0, int(r.aid.size())));
    a.label.assign(r.label.data(), strnlen(r.label.data(), r.label.size()));
    a.matchCriteria = r.matchCriteria;
    out.push_back(std::move(a));
  }
  return out;
}

std::optional<Bytes> KXDevices::emvGetDataAsBinary(unsigned tagID, Error* error) {
  PPad* pad = securePinpad(error);
  return dataOf(pad, [&](Bytes* out) {
    return ppadResult(emvRun(emvLastStatus_, [&](int16_t* st) { return pad->emvGetDataAsBinary(st, int(tagID), out); }),
                      error);
  });
}

std::optional<std::string> KXDevices::emvGetDataAsString(unsigned tagID, Error* error) {
  PPad* pad = securePinpad(error);
  if (!pad) return std::nullopt;
  std::string text;
  if (!ppadResult(emvRun(emvLastStatus_, [&](int16_t* st) { return pad->emvGetDataAsString(st, int(tagID), &text); }),
                  error))
    return std::nullopt;
  return text;
}

std::optional<Bytes> KXDevices::emvGetTags(const Bytes& tagList, Error* error) {
  PPad* pad = securePinpad(error);
  return dataOf(pad, [&](Bytes* out) {
    return ppadResult(emvRun(emvLastStatus_, [&](int16_t* st) { return pad->emvGetTags(st, tagList, out); }), error);
  });
}

std::optional<Bytes> KXDevices::emvGetTagsEncrypted3DES(const Bytes& tagList, int keyID, unsigned uniqueID,
                                                        Error* error) {
  PPad* pad = securePinpad(error);
  return dataOf(pad, [&](Bytes* out) {
    return ppadResult(
        emvRun(emvLastStatus_, [&](int16_t* st) { return pad->emvGetTagsEncrypted(st, keyID, uniqueID, tagList, out); }),
        error);
  });
}

std::optional<Bytes> KXDevices::emvGetTagsEncryptedDUKPT(const Bytes& tagList, int keyID, unsigned uniqueID,
                                                         Error* error) {
  PPad* pad = securePinpad(error);
  if (!pad) return std::nullopt;
  Bytes ksn;
  {
    std::lock_guard<std::mutex> lock(lastKSNMutex);
    if (keyID == kDUKPTKey && lastKSN) ksn = *lastKSN;
  }
  if (ksn.empty()) {
    if (!ppadResult(pad->dukptGenerateKeyOnline(keyID, &ksn), error)) return std::nullopt;
    std::lock_guard<std::mutex> lock(lastKSNMutex);
    lastKSN = ksn;
  }
  Bytes block;
  if (!ppadResult(emvRun(emvLastStatus_,
                         [&](int16_t* st) { return pad->emvGetTagsEncrypted(st, kDUKPTKey, uniqueID, tagList, &block); }),
                  error))
    return std::nullopt;
  block.insert(block.end(), ksn.begin(), ksn.end());
  return block;
}

// ---- Certificate-authority keys --------------------------------------------------------------------

bool KXDevices::caImportKeyNumber(int keyNumber, const Bytes& RIDI, const Bytes& modulus, const Bytes& exponent,
                                  Error* error) {
  PPad* pad = securePinpad(error);
  return pad && ppadResult(pad->caImportKey(keyNumber, RIDI, modulus, exponent), error);
}

bool KXDevices::caWriteKeysToFlash(Error* error) {
  PPad* pad = securePinpad(error);
  return pad && ppadResult(pad->caWriteKeysToFlash(), error);
}

std::optional<std::vector<KXCAKeyInfo>> KXDevices::caGetKeysData(Error* error) {
  PPad* pad = securePinpad(error);
  if (!pad) return std::nullopt;
  std::array<uint8_t, 232> table{};
  if (!ppadResult(pad->caGetKeysData(&table), error)) return std::nullopt;
  std::vector<KXCAKeyInfo> keys;
  for (int slot = 0; slot < 29; ++slot) {
    const uint8_t* entry = table.data() + 8 * slot;
    const int moduleLength = foundation::readLE16(entry + 6);
    if (moduleLength == 0) continue;
    KXCAKeyInfo info;
    info.keyIndex = slot;
    info.RIDI.assign(entry, entry + 6);
    info.moduleLength = moduleLength;
    keys.push_back(std::move(info));
  }
  return keys;
}

std::optional<Bytes> KXDevices::caImportIssuerKeyNumber(int keyNumber, const Bytes& exponent, const Bytes& remainder,
                                                        const Bytes& certificate, Error* error) {
  PPad* pad = securePinpad(error);
  return dataOf(pad, [&](Bytes* out) {
    return ppadResult(pad->caImportIssuerKey(keyNumber, exponent, remainder, certificate, out), error);
  });
}

std::optional<Bytes> KXDevices::caImportICCKeyType(int keyType, const Bytes& exponent, const Bytes& remainder,
                                                   const Bytes& certificate, Error* error) {
  PPad* pad = securePinpad(error);
  return dataOf(pad, [&](Bytes* out) {
    return ppadResult(pad->caImportICCKey(keyType, exponent, remainder, certificate, out), error);
  });
}

std::optional<Bytes> KXDevices::caRSAVerify(int keyNumber, const Bytes& inData, Error* error) {
  PPad* pad = securePinpad(error);
  return dataOf(pad, [&](Bytes* out) { return ppadResult(pad->caRSAVerify(keyNumber, inData, out), error); });
}

}  // namespace kestra
