// Contact smart cards and the encrypted magnetic head.
//
// Smart-card calls go to the pinpad first, then to the active printer's card reader (which
// has one slot: the slot number is not passed to it). The encrypted head's calls run the
// head's command library with the device API as owner, so each packet travels through the
// device API's transport to whichever head the active device carries; a negative library
// result becomes the error of the same code. The encryption and masking settings set here
// are kept for the process (in the EMV kernel's state, which the card-entry and kernel calls
// read) and survive reconnection.

#include <cstdio>

#include <nlohmann/json.hpp>

#include "sdk/device/KXDevices.h"
#include "sdk/device/KXDevicesEmv2.h"
#include "sdk/device/KXDevicesInternal.h"
#include "sdk/foundation/Emsr.h"
#include "sdk/foundation/KXBase64.h"
#include "sdk/pinpad/PPad.h"

namespace kestra {

namespace {

constexpr int kPinpadCardVoltage = 5;
constexpr int kPinpadCardProtocol = 0;
constexpr int kTrackIdentifiers = 0x80;
constexpr int kHeadDUKPTKey = 32;
constexpr int kSmartCardHeadBit = 4;  // feature 0: the device carries an encrypted head

bool smartCardHeadResult(int r, Error* error) {
  if (r >= 0) return true;
  return foundation::fail(error, emsrError(r));
}

// The key id used when the caller gives -1, by encryption algorithm.
int defaultKeyID(int algorithm) {
  switch (algorithm) {
    case 0: case 2: case 7: return 1;
    case 3: case 4: return 32;
    case 11: case 12: return 9;
    default: return 0;
  }
}

int jsonInt(const std::optional<nlohmann::json>& params, const char* key, int fallback) {
  if (!params || !params->is_object()) return fallback;
  const auto it = params->find(key);
  if (it == params->end() || !it->is_number()) return fallback;
  return it->get<int>();
}

bool jsonBool(const std::optional<nlohmann::json>& params, const char* key, bool fallback) {
  if (!params || !params->is_object()) return fallback;
  const auto it = params->find(key);
  if (it == params->end()) return fallback;
  if (it->is_boolean()) return it->get<bool>();
  if (it->is_number()) return it->get<double>() != 0;
  return fallback;
}

}  // namespace

std::optional<Bytes> ConvertPEM2Data(const std::string& pem) {
  std::string text;
  text.reserve(pem.size());
  for (char c : pem)
    if (c != '\r' && c != '\n') text.push_back(c);
  static constexpr std::string_view kStart = "PUBLIC KEY-----";
  const size_t start = text.find(kStart);
  if (start == std::string::npos) return std::nullopt;
  const size_t body = start + kStart.size();
  const size_t end = text.find("-----", body);
  if (end == std::string::npos) return std::nullopt;
  auto key = KXBase64::decodeBase64WithString(std::string_view(text).substr(body, end - body));
  if (!key || key->empty()) return std::nullopt;
  return key;
}

// ---- Smart card ---------------------------------------------------------------------------------

bool KXDevices::scInit(int slot, Error* error) {
  const auto kind = route({Kind::Pinpad, Kind::Printer});
  if (!kind) return routeError(error);
  if (*kind == Kind::Printer) return printer().scInit(error);
  PPad* pad = securePinpad(error);
  return pad && ppadResult(pad->scInit(slot, kPinpadCardVoltage, kPinpadCardProtocol), error);
}

bool KXDevices::scClose(int slot, Error* error) {
  const auto kind = route({Kind::Pinpad, Kind::Printer});
  if (!kind) return routeError(error);
  if (*kind == Kind::Printer) return printer().scClose(error);
  PPad* pad = securePinpad(error);
  return pad && ppadResult(pad->scClose(slot), error);
}

std::optional<Bytes> KXDevices::scCardPowerOn(int slot, Error* error) {
  const auto kind = route({Kind::Pinpad, Kind::Printer});
  if (!kind) {
    routeError(error);
    return std::nullopt;
  }
  if (*kind == Kind::Printer) return printer().scReset(error);
  PPad* pad = securePinpad(error);
  if (!pad) return std::nullopt;
  Bytes atr;
  if (!ppadResult(pad->scCardPowerOn(slot, &atr), error)) return std::nullopt;
  return atr;
}

bool KXDevices::scCardPowerOff(int slot, Error* error) {
  const auto kind = route({Kind::Pinpad, Kind::Printer});
  if (!kind) return routeError(error);
  if (*kind == Kind::Printer) return true;  // the printer's reader has no power-off of its own
  PPad* pad = securePinpad(error);
  return pad && ppadResult(pad->scCardPowerOff(slot), error);
}

bool KXDevices::scIsCardPresent(int slot, Error* error) {
  const auto kind = route({Kind::Pinpad, Kind::Printer});
  if (!kind) return routeError(error);
  if (*kind == Kind::Printer) return printer().scIsCardPresent(error);
  PPad* pad = securePinpad(error);
  return pad && ppadResult(pad->scIsCardPresent(slot), error);
}

std::optional<Bytes> KXDevices::scCAPDU(int slot, const Bytes& apdu, Error* error) {
  const auto kind = route({Kind::Pinpad, Kind::Printer});
  if (!kind) {
    routeError(error);
    return std::nullopt;
  }
  if (*kind == Kind::Printer) return printer().scAPDU(apdu, error);
  PPad* pad = securePinpad(error);
  if (!pad) return std::nullopt;
  Bytes response;
  if (!ppadResult(pad->scCAPDU(slot, apdu, &response), error)) return std::nullopt;
  return response;
}

std::optional<Bytes> KXDevices::scEncryptedCAPDU(int slot, int encryption, int keyID, const Bytes& apdu,
                                                 Error* error) {
  PPad* pad = securePinpad(error);
  if (!pad) return std::nullopt;
  Bytes response;
  if (!ppadResult(pad->scEncryptedCAPDU(slot, encryption, keyID, apdu, &response), error)) return std::nullopt;
  return response;
}

// ---- Encrypted head: the library's calls ------------------------------------------------------------

bool KXDevices::emsrIsTampered(bool* tampered, Error* error) {
  bool value = false;
  if (!smartCardHeadResult(emsrCall(this, [&](void* owner) { return ::kestra::emsrIsTampered(owner, &value); }), error))
    return false;
  if (tampered) *tampered = value;
  return true;
}

bool KXDevices::emsrEnterTamperMode(Error* error) {
  return smartCardHeadResult(emsrCall(this, [](void* owner) { return ::kestra::emsrEnterTamperMode(owner); }), error);
}

bool KXDevices::emsrGetKeyVersion(int keyID, int* keyVersion, Error* error) {
  uint32_t version = 0;
  if (!smartCardHeadResult(emsrCall(this, [&](void* owner) { return ::kestra::emsrGetKeyVersion(owner, keyID, &version); }),
                  error))
    return false;
  if (keyVersion) *keyVersion = int(version);
  return true;
}

bool KXDevices::emsrLoadInitialKey(const Bytes& keyData, Error* error) {
  return smartCardHeadResult(emsrCall(this, [&](void* owner) {
                      return ::kestra::emsrLoadInitialKey(owner, keyData.data(), int(keyData.size()));
                    }),
                    error);
}

bool KXDevices::emsrLoadKey(const Bytes& keyData, Error* error) {
  return smartCardHeadResult(emsrCall(this, [&](void* owner) {
                      return ::kestra::emsrLoadKey(owner, keyData.data(), int(keyData.size()));
                    }),
                    error);
}

std::optional<Bytes> KXDevices::emsrGetDUKPTSerial(Error* error) { return emsrGetDUKPTSerialForKeyID(kHeadDUKPTKey, error); }

std::optional<Bytes> KXDevices::emsrGetDUKPTSerialForKeyID(int keyID, Error* error) {
  Bytes ksn;
  if (!smartCardHeadResult(emsrCall(this, [&](void* owner) { return ::kestra::emsrGetDUKPTSerial(owner, keyID, &ksn); }),
                  error))
    return std::nullopt;
  return ksn;
}

std::optional<std::string> KXDevices::emsrGetDeviceModel(Error* error) {
  char model[17] = {};
  if (!smartCardHeadResult(emsrCall(this, [&](void* owner) { return ::kestra::emsrGetDeviceModel(owner, model); }), error))
    return std::nullopt;
  return std::string(model);
}

bool KXDevices::emsrGetFirmwareVersion(int* version, Error* error) {
  int value = 0;
  if (!smartCardHeadResult(emsrCall(this, [&](void* owner) { return ::kestra::emsrGetFirmwareVersion(owner, &value); }),
                  error))
    return false;
  if (version) *version = value;
  return true;
}

bool KXDevices::emsrGetSecurityVersion(int* version, Error* error) {
  int value = 0;
  if (!smartCardHeadResult(emsrCall(this, [&](void* owner) { return ::kestra::emsrGetSecurityVersion(owner, &value); }),
                  error))
    return false;
  if (version) *version = value;
  return true;
}

std::optional<Bytes> KXDevices::emsrGetSerialNumber(Error* error) {
  Bytes serial;
  if (!smartCardHeadResult(emsrCall(this, [&](void* owner) { return ::kestra::emsrGetSerialNumber(owner, &serial); }), error))
    return std::nullopt;
  return serial;
}

std::optional<nlohmann::json> KXDevices::emsrGetFirmwareInformation(const Bytes& file, Error* error) {
  char name[17] = {};
  int version = 0;
  if (!smartCardHeadResult(emsrCall(this,
                           [&](void* owner) {
                             return ::kestra::emsrGetFirmwareInformation(owner, file.data(), int(file.size()), name,
                                                                         &version);
                           }),
                  error))
    return std::nullopt;
  char revision[32];
  std::snprintf(revision, sizeof revision, "%d.%02d", version / 100, version % 100);
  return nlohmann::json{
      {"deviceModel", std::string(name)}, {"firmwareRevision", revision}, {"firmwareRevisionNumber", version}};
}

bool KXDevices::emsrUpdateFirmware(const Bytes& file, Error* error) {
  return smartCardHeadResult(
      emsrCall(this, [&](void* owner) { return ::kestra::emsrUpdateFirmware(owner, file.data(), int(file.size())); }),
      error);
}

std::optional<std::vector<int>> KXDevices::emsrGetSupportedEncryptions(Error* error) {
  Bytes list;
  if (!smartCardHeadResult(emsrCall(this, [&](void* owner) { return ::kestra::emsrGetSupportedEncryptions(owner, &list); }),
                  error))
    return std::nullopt;
  return std::vector<int>(list.begin(), list.end());
}

std::optional<Bytes> KXDevices::emsrGenerateRandom(Error* error) {
  Bytes random;
  if (!smartCardHeadResult(emsrCall(this, [&](void* owner) { return ::kestra::emsrGenerateRandom(owner, &random); }), error))
    return std::nullopt;
  return random;
}

bool KXDevices::emsrSetKeyOld(int keyID, const Bytes& data, int version, Error* error) {
  return smartCardHeadResult(
      emsrCall(this, [&](void* owner) { return ::kestra::emsrSetKeyOld(owner, keyID, data, uint32_t(version)); }),
      error);
}

std::optional<Bytes> KXDevices::emsrAuthenticate(const Bytes& data, Error* error) {
  Bytes answer;
  if (!smartCardHeadResult(emsrCall(this, [&](void* owner) { return ::kestra::emsrAuthenticate(owner, data, &answer); }),
                  error))
    return std::nullopt;
  return answer;
}

std::optional<EMSRDeviceInfo> KXDevices::emsrGetDeviceInfo(Error* error) {
  EMSRInfo info;
  if (!smartCardHeadResult(emsrCall(this, [&](void* owner) { return ::kestra::emsrGetInfo(owner, &info); }), error))
    return std::nullopt;
  // A head that does not tell its firmware version is the sleeve's own: the sleeve's counts.
  const int fakeVersion = emv2SleeveRoute() ? sleeve_->getFirmwareVersion() : 0;
  return EMSRDeviceInfo::initWithInfo(info, fakeVersion);
}

std::optional<EMSRKeysInfo> KXDevices::emsrGetKeysInfo(Error* error) {
  EMSRKeyInfo info;
  if (!smartCardHeadResult(emsrCall(this, [&](void* owner) { return ::kestra::emsrGetKeyInfo(owner, &info); }), error))
    return std::nullopt;
  return EMSRKeysInfo::initWithInfo(info);
}

bool KXDevices::emsrSetActiveHead(int head, Error* error) {
  // Only the sleeve has a choice of heads; elsewhere there is nothing to choose.
  if (!emv2SleeveRoute()) return true;
  return sleeve_->emsrSetActiveHead(head, error);
}

// ---- Encrypted head: settings ---------------------------------------------------------------------------

bool KXDevices::emsrSetCardDataMode(int /*mode*/, int tracks, bool trackIdentifiers, Error* /*error*/) {
  const int value = tracks | (trackIdentifiers ? kTrackIdentifiers : 0);
  if (emv2PinpadRoute())
    if (PPad* pad = pinpad_->securePad()) pad->emsrSetTracks(value);
  const int active = activeDeviceType_.load();
  if (active == DEVICE_TYPE_PRINTER || (active == DEVICE_TYPE_AUTOMATIC && kindConnected(Kind::Printer)))
    printer().emsrSetTracks(value);
  return true;
}

bool KXDevices::emsrSetEncryption(int algorithm, const std::optional<nlohmann::json>& params, Error* error) {
  return emsrSetEncryption(algorithm, -1, params, error);
}

bool KXDevices::emsrSetEncryption(int algorithm, int keyID, const std::optional<nlohmann::json>& params,
                                  Error* error) {
  keyID = jsonInt(params, "keyID", keyID);
  const bool includeSentinels = jsonBool(params, "includeSentinels", true);
  const int includeTracks = jsonInt(params, "includeTracks", 7);
  if (keyID == -1) keyID = defaultKeyID(algorithm);
  // The sleeve numbers its head's 3DES keys from 32.
  if (emv2SleeveRoute() && (algorithm == 3 || algorithm == 4) && keyID < 32) keyID += 32;

  KXEmv2State& state = emv2State();
  uint32_t uniqueID = 0;
  {
    std::lock_guard lock(state.mutex);
    state.mask.includeSentinels = includeSentinels;
    state.algorithm = algorithm;
    state.keyID = keyID;
    if (params && params->contains("uniqueID")) state.mask.uniqueID = uint32_t(jsonInt(params, "uniqueID", 0));
    uniqueID = state.mask.uniqueID;
  }
  auto inForce = [&](int value) {
    std::lock_guard lock(state.mutex);
    state.encryptionAlgorithm = value;
    return true;
  };

  if (emv2PinpadRoute()) {
    if (PPad* pad = pinpad_->securePad()) {
      int padKey = keyID;
      // The pinpad numbers its 3DES keys from 0.
      if ((algorithm == 3 || algorithm == 4 || algorithm == 10) && padKey >= 32) padKey -= 32;
      pad->msSetEncryption(algorithm, padKey, includeSentinels, includeTracks);
      switch (algorithm) {
        case 6: case 15: case 13: case 16: return inForce(algorithm);
        case 7: case 10: case 17: {
          if (algorithm == 7 && padKey == 0) padKey = 1;
          if (algorithm == 10 && padKey == -1) padKey = 0;
          pad->msSet3DESParamsKeyID(padKey, uniqueID, uint32_t(jsonInt(params, "randomSeed", 0)));
          return inForce(algorithm);
        }
        default: break;
      }
    }
  }

  if (algorithm == 8) return inForce(8);
  if (!(computeSupportedFeature(kFeatureMagneticReader) & kSmartCardHeadBit)) return inForce(algorithm);
  // The head has no algorithm 13 of its own: it encrypts with 2 under key 1 instead.
  const int sendAlgorithm = algorithm == 13 ? 2 : algorithm;
  const int sendKey = algorithm == 13 ? 1 : keyID;
  const int r = emsrCall(this, [&](void* owner) {
    return ::kestra::emsrSetEncryption(owner, sendAlgorithm, sendKey, nullptr, 0);
  });
  inForce(sendAlgorithm);
  if (r < 0 && !emv2PinpadRoute()) return smartCardHeadResult(r, error);
  return true;
}

bool KXDevices::emsrConfigMaskedDataShowExpiration(bool showExpiration, int unmaskedDigitsAtStart,
                                                   int unmaskedDigitsAtEnd, Error* error) {
  return emsrConfigMaskedDataShowExpiration(showExpiration, unmaskedDigitsAtStart, unmaskedDigitsAtEnd, 0, error);
}

bool KXDevices::emsrConfigMaskedDataShowExpiration(bool showExpiration, int unmaskedDigitsAtStart,
                                                   int unmaskedDigitsAtEnd, int unmaskedDigitsAfter, Error* error) {
  return emsrConfigMaskedDataShowExpiration(showExpiration, false, unmaskedDigitsAtStart, unmaskedDigitsAtEnd,
                                            unmaskedDigitsAfter, error);
}

bool KXDevices::emsrConfigMaskedDataShowExpiration(bool showExpiration, bool showServiceCode,
                                                   int unmaskedDigitsAtStart, int unmaskedDigitsAtEnd,
                                                   int unmaskedDigitsAfter, Error* error) {
  return emsrConfigMaskedDataShowExpiration(showExpiration, showServiceCode, true, unmaskedDigitsAtStart,
                                            unmaskedDigitsAtEnd, unmaskedDigitsAfter, error);
}

bool KXDevices::emsrConfigMaskedDataShowExpiration(bool showExpiration, bool showServiceCode, bool showTrack3,
                                                   int unmaskedDigitsAtStart, int unmaskedDigitsAtEnd,
                                                   int unmaskedDigitsAfter, Error* error) {
  {
    KXEmv2State& state = emv2State();
    std::lock_guard lock(state.mutex);
    state.mask.showExpiration = showExpiration;
    state.mask.showServiceCode = showServiceCode;
    state.mask.unmaskedDigitsAtStart = unmaskedDigitsAtStart;
    state.mask.unmaskedDigitsAtEnd = unmaskedDigitsAtEnd;
    state.mask.unmaskedDigitsAfter = unmaskedDigitsAfter;
  }
  if (emv2PinpadRoute())
    if (PPad* pad = pinpad_->securePad()) {
      // The expiry date follows the first digits after the card number: keep them visible.
      const int after = showExpiration && unmaskedDigitsAfter < 4 ? 4 : unmaskedDigitsAfter;
      pad->msConfigMaskedData(unmaskedDigitsAtStart, unmaskedDigitsAtEnd, after, nullptr);
    }
  const int r = emsrCall(this, [&](void* owner) {
    return ::kestra::emsrConfigMaskedData(owner, showExpiration, showServiceCode, showTrack3, unmaskedDigitsAtStart,
                                          unmaskedDigitsAtEnd);
  });
  if (r < 0 && !emv2PinpadRoute()) return smartCardHeadResult(r, error);
  return true;
}

bool KXDevices::emsrLoadRSAKeyPEM(const std::string& pem, int version, Error* error) {
  const auto key = ConvertPEM2Data(pem);
  if (!key) {
    const Error e = KXUNISDKGlobals::makeError(-9, "Invalid argument: %s", "pem");
    KXUNISDKGlobals::LOG("ERROR: %s", e.text.c_str());
    return foundation::fail(error, e);
  }
  PPad* pad = securePinpad(error);
  return pad && ppadResult(pad->loadRSAKeyDER(*key, version), error);
}

}  // namespace kestra
