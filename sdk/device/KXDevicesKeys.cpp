// The device API's security calls: random numbers, key loading and key versions, device and
// host authentication, certificates, the TransArmor command channel and the commands built
// on it, the Voltage payment-encryption commands, and the sleeve's SAM slot.
//
// Most of these belong to the sleeve. A sleeve that carries an encrypted head (feature 0,
// bit 2) takes its keys in the head instead, through the head's command library. The pinpad
// takes random numbers and the TransArmor and Voltage channels. The sleeve is chosen with
// active type 0, or automatic with the sleeve connected; the pinpad with type 2, or
// automatic with the pinpad connected and the sleeve not.
//
// Key material passes through here (keys, key blocks, challenges): none of it is logged,
// and the buffers built from a key are cleared after use.

#include <algorithm>
#include <ctime>

#include "sdk/device/KXDevices.h"
#include "sdk/foundation/KXBase64.h"
#include "sdk/foundation/KXErrors.h"
#include "sdk/pinpad/PPad.h"
#include "sdk/sleeve/PellanCrypto.h"

namespace kestra {

namespace {

constexpr int kFeatureHeadBit = 4;
constexpr size_t kHeadRandomBytes = 16;
constexpr size_t kHeadKeyBlockBytes = 48;
constexpr size_t kHeadMaxKeyBytes = kHeadKeyBlockBytes - kHeadRandomBytes;
// Certificates: the slots asked, the shortest PEM text taken and the largest DER sent.
constexpr uint8_t kCertificateSlots[] = {0, 2, 3};
constexpr size_t kCertificateMinText = 256;
constexpr size_t kCertificateMaxBytes = 4040;
constexpr size_t kMerchantIDBytes = 8;
constexpr size_t kVoltageMaxText = 254;
constexpr size_t kBase64LineLength = 64;
// TransArmor commands.
enum : uint8_t {
  TA_CERTIFICATE_INFO = 0x01,
  TA_LOAD_CERTIFICATE = 0x02,
  TA_MERCHANT_ID = 0x03,
  TA_ENCRYPTION_MODE = 0x05,
  TA_ENCRYPT_DATA = 0x06,
  TA_BIN_RANGES = 0x07,
  TA_BIN_RANGES_EX = 0x08,
};
// Voltage commands.
enum : uint8_t {
  VOLTAGE_GET_INFO = 0x01,
  VOLTAGE_GENERATE_KEY = 0x02,
  VOLTAGE_SETTINGS_VERSION = 0x03,
  VOLTAGE_MERCHANT_ID = 0x04,
  VOLTAGE_PUBLIC_PARAMETERS = 0x05,
  VOLTAGE_IDENTITY = 0x06,
  VOLTAGE_ENCRYPTION_TYPE = 0x07,
  VOLTAGE_KEY_ROLLOVER = 0x08,
};

// The host key of TransArmor's host-side encryption (AES-128, the text's ASCII bytes).
const Bytes& taHostKey() {
  static const Bytes key = foundation::bytesOf("TORKA VELSIN ;-)");
  return key;
}

bool invalid(Error* error, const std::string& text) {
  const Error e = KXUNISDKGlobals::makeError(-9, text);
  KXUNISDKGlobals::LOG("ERROR: %s", e.text.c_str());
  return foundation::fail(error, e);
}

// Compares without stopping at the first difference.
bool sameBytes(const Bytes& a, const Bytes& b) {
  if (a.size() != b.size()) return false;
  uint8_t diff = 0;
  for (size_t i = 0; i < a.size(); ++i) diff |= uint8_t(a[i] ^ b[i]);
  return diff == 0;
}

}  // namespace

// The built-in test public parameters of the Voltage module: a fixed block of 756 bytes,
// sent when the caller gives none. Only a test module accepts it.
const Bytes& gTestIBEParams() {
  static const Bytes params = [] {
    Bytes b = foundation::bytesOf("IBE TEST PARAMETERS v1");
    uint32_t x = 0x1BE7E57u;
    while (b.size() < 756) {
      x = x * 1103515245u + 12345u;
      b.push_back(uint8_t(x >> 16));
    }
    return b;
  }();
  return params;
}

bool KXDevices::keysOnHead() { return (sleeve_->getSupportedFeature(kFeatureMagneticReader, nullptr) & kFeatureHeadBit) != 0; }

// ---- Random numbers and keys -------------------------------------------------------------------

std::optional<Bytes> KXDevices::cryptoRawGenerateRandomData(Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Pinpad});
  if (!kind) {
    routeError(error);
    return std::nullopt;
  }
  if (*kind == Kind::Sleeve) {
    if (keysOnHead()) return emsrGenerateRandom(error);
    return sleeve_->cryptoRawGenerateRandomData(error);
  }
  PPad* pad = securePinpad(error);
  if (!pad) return std::nullopt;
  Bytes random;
  if (!ppadResult(pad->getRandomData(&random), error)) return std::nullopt;
  return random;
}

bool KXDevices::cryptoRawSetKey(int keyID, const Bytes& encryptedData, uint32_t keyVersion, uint32_t keyFlags,
                                Error* error) {
  if (!route({Kind::Sleeve})) return routeError(error);
  if (keysOnHead()) return emsrSetKeyOld(keyID, encryptedData, int(keyVersion), error);
  return sleeve_->cryptoRawSetKey(keyID, encryptedData, keyVersion, keyFlags, error);
}

bool KXDevices::cryptoSetKey(int keyID, const Bytes& key, const std::optional<Bytes>& oldKey, uint32_t keyVersion,
                             uint32_t keyFlags, Error* error) {
  if (!route({Kind::Sleeve})) return routeError(error);
  if (!keysOnHead()) return sleeve_->cryptoSetKey(keyID, key, oldKey, keyVersion, keyFlags, error);
  // The head takes [its random number][the key, zero-filled]; the old key plays no part.
  if (key.size() > kHeadMaxKeyBytes) return invalid(error, "Invalid argument: key");
  auto random = emsrGenerateRandom(error);
  if (!random || random->size() < kHeadRandomBytes) {
    if (random) foundation::fail(error, emsrError(-6));
    return false;
  }
  Bytes block(kHeadKeyBlockBytes, 0);
  std::copy_n(random->begin(), kHeadRandomBytes, block.begin());
  std::copy(key.begin(), key.end(), block.begin() + kHeadRandomBytes);
  const bool ok = cryptoRawSetKey(keyID, block, keyVersion, keyFlags, error);
  foundation::secureClear(block);
  return ok;
}

bool KXDevices::cryptoGetKeyVersion(int keyID, uint32_t* keyVersion, Error* error) {
  if (!route({Kind::Sleeve})) return routeError(error);
  if (!keysOnHead()) return sleeve_->cryptoGetKeyVersion(keyID, keyVersion, error);
  int version = 0;
  if (!emsrGetKeyVersion(keyID, &version, error)) return false;
  if (keyVersion) *keyVersion = uint32_t(version);
  return true;
}

// ---- Authentication ------------------------------------------------------------------------------

std::optional<Bytes> KXDevices::cryptoRawAuthenticateDevice(const Bytes& randomData, Error* error) {
  if (!route({Kind::Sleeve})) {
    routeError(error);
    return std::nullopt;
  }
  if (!keysOnHead()) return sleeve_->cryptoRawAuthenticateDevice(randomData, error);
  // The head answers a challenge of its own making; the caller's is not used.
  const auto random = emsrGenerateRandom(error);
  if (!random) return std::nullopt;
  return emsrAuthenticate(*random, error);
}

bool KXDevices::cryptoAuthenticateDevice(const Bytes& key, Error* error) {
  if (!route({Kind::Sleeve})) return routeError(error);
  if (!keysOnHead()) return sleeve_->cryptoAuthenticateDevice(key, error);
  const auto random = emsrGenerateRandom(error);
  if (!random) return false;
  const auto answer = emsrAuthenticate(*random, error);
  if (!answer) return false;
  // The head proves itself with the whole challenge encrypted under the key: an answer
  // that is shorter (even empty) proves nothing.
  auto expected = AESEncryptWithKey(*random, key);
  const bool same = expected && sameBytes(*answer, *expected);
  if (expected) foundation::secureClear(*expected);
  return same;
}

bool KXDevices::cryptoRawAuthenticateHost(const Bytes& encryptedData, Error* error) {
  if (!route({Kind::Sleeve})) return routeError(error);
  if (keysOnHead())
    return foundation::fail(error, KXUNISDKGlobals::makeError(-15, std::string("Function is not implemented with encrypted head")));
  return sleeve_->cryptoRawAuthenticateHost(encryptedData, error);
}

bool KXDevices::cryptoAuthenticateHost(const Bytes& key, Error* error) {
  if (!route({Kind::Sleeve})) return routeError(error);
  if (keysOnHead())
    return foundation::fail(error, KXUNISDKGlobals::makeError(-15, std::string("Function is not implemented with encrypted head")));
  return sleeve_->cryptoAuthenticateHost(key, error);
}

// ---- TransArmor ------------------------------------------------------------------------------------

std::optional<Bytes> KXDevices::taCommand(const Bytes& data, Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Pinpad});
  if (!kind) {
    routeError(error);
    return std::nullopt;
  }
  if (*kind == Kind::Sleeve) return sleeve_->taCommand(data, error);
  PPad* pad = securePinpad(error);
  if (!pad) return std::nullopt;
  Bytes response;
  if (!ppadResult(pad->taCommand(data, &response), error)) return std::nullopt;
  return response;
}

std::optional<std::vector<KXCertificateInfo>> KXDevices::cryptoGetCertificatesInfo(Error* error) {
  std::vector<KXCertificateInfo> out;
  for (uint8_t slot : kCertificateSlots) {
    const auto reply = taCommand(Bytes{TA_CERTIFICATE_INFO, slot}, error);
    if (!reply || reply->size() < 8) continue;  // a slot that did not answer, or not in full
    KXCertificateInfo info;
    info.slot = slot;
    info.usage = foundation::readBE32(reply->data());
    info.version = foundation::readBE32(reply->data() + 4);
    out.push_back(info);
  }
  if (out.empty()) return std::nullopt;
  if (error) *error = Error();
  return out;
}

bool KXDevices::cryptoLoadCertificate(const std::optional<std::string>& certificate, int version, int position,
                                      int rootPosition, Error* error) {
  static const std::string kInvalid = "Certificate is invalid";
  if (!certificate || certificate->size() < kCertificateMinText) return invalid(error, kInvalid);
  // PEM to DER: the marker lines go, the Base64 lines are joined.
  std::string body;
  size_t start = 0;
  while (start <= certificate->size()) {
    size_t end = certificate->find('\n', start);
    if (end == std::string::npos) end = certificate->size();
    std::string line = certificate->substr(start, end - start);
    if (line.empty() || line[0] != '-') {
      std::erase(line, '\r');
      body += line;
    }
    start = end + 1;
  }
  const auto der = KXBase64::decodeBase64WithString(body);
  if (!der || der->empty() || der->size() > kCertificateMaxBytes) return invalid(error, kInvalid);
  Bytes command{TA_LOAD_CERTIFICATE, uint8_t(position), uint8_t(rootPosition), 0, 0, 0, 0};
  foundation::appendBE32(command, uint32_t(version));
  command.insert(command.end(), der->begin(), der->end());
  return taCommand(command, error).has_value();
}

bool KXDevices::taSetBINRanges(const std::optional<Bytes>& data, Error* error) {
  if (!data || data->empty()) return invalid(error, "Data is invalid");
  Bytes command{TA_BIN_RANGES};
  command.insert(command.end(), data->begin(), data->end());
  return taCommand(command, error).has_value();
}

bool KXDevices::taSetBINRangesEx(const std::optional<Bytes>& data, Error* error) {
  if (!data || data->empty()) return invalid(error, "Data is invalid");
  Bytes command{TA_BIN_RANGES_EX};
  command.insert(command.end(), data->begin(), data->end());
  return taCommand(command, error).has_value();
}

bool KXDevices::msSetBINRangesEx(const std::optional<Bytes>& data, Error* error) { return taSetBINRangesEx(data, error); }

bool KXDevices::taSetMerchantID(const std::optional<std::string>& merchantID, Error* error) {
  if (!merchantID || merchantID->empty()) return invalid(error, "MerchantID is invalid");
  Bytes command(1 + kMerchantIDBytes, 0);
  command[0] = TA_MERCHANT_ID;
  std::copy_n(merchantID->begin(), std::min(merchantID->size(), kMerchantIDBytes), command.begin() + 1);
  return taCommand(command, error).has_value();
}

bool KXDevices::taSetEncryptionModeForCard(int cardMode, int manualMode, bool includeSentinels, Error* error) {
  const Bytes command{TA_ENCRYPTION_MODE, uint8_t(includeSentinels ? 0x00 : 0x80), 0x00, uint8_t(manualMode),
                      uint8_t(cardMode)};
  return taCommand(command, error).has_value();
}

std::optional<std::string> KXDevices::taEncryptData(const std::string& text, Error* error) {
  if (text.size() > 0xFFFF) {
    invalid(error, "Data is invalid");
    return std::nullopt;
  }
  // [length, 2 bytes big-endian][text], zero-filled to whole AES blocks.
  const size_t n = text.size();
  Bytes block((n + 2 + 15) / 16 * 16, 0);
  block[0] = uint8_t(n >> 8);
  block[1] = uint8_t(n);
  std::copy(text.begin(), text.end(), block.begin() + 2);
  auto cipher = AESEncryptWithKey(block, taHostKey());
  foundation::secureClear(block);
  if (!cipher) {
    invalid(error, "Data is invalid");
    return std::nullopt;
  }
  Bytes command{TA_ENCRYPT_DATA};
  command.insert(command.end(), cipher->begin(), cipher->end());
  const auto reply = taCommand(command, error);
  if (!reply) return std::nullopt;
  const std::string base64 = KXBase64::encodeBase64WithData(*reply).value_or("");
  std::string out;
  for (size_t i = 0; i < base64.size(); i += kBase64LineLength) {
    out += base64.substr(i, kBase64LineLength);
    out += "\r\n";
  }
  return out;
}

// ---- Voltage -------------------------------------------------------------------------------------

std::optional<Bytes> KXDevices::voltageCommand(const uint8_t* data, int length, Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Pinpad});
  if (!kind) {
    routeError(error);
    return std::nullopt;
  }
  if (*kind == Kind::Sleeve) return sleeve_->voltageCommand(data, length, error);
  PPad* pad = securePinpad(error);
  if (!pad) return std::nullopt;
  Bytes response;
  if (!ppadResult(pad->voltageCommand(data, length, &response), error)) return std::nullopt;
  return response;
}

namespace {
Bytes voltageText(uint8_t command, const std::optional<std::string>& text) {
  Bytes b{command};
  if (text) b.insert(b.end(), text->begin(), text->end());
  return b;
}
}  // namespace

std::optional<KXVoltageInfo> KXDevices::voltageGetInfo(Error* error) {
  const uint8_t command = VOLTAGE_GET_INFO;
  const auto reply = voltageCommand(&command, 1, error);
  if (!reply) return std::nullopt;
  if (reply->size() < 9) {
    foundation::fail(error, KXUNISDKGlobals::makeError(-6, std::string(KXErrors::getErrorDescription(-6))));
    return std::nullopt;
  }
  KXVoltageInfo info;
  info.settingsVersion = int(foundation::readBE32(reply->data()));
  info.keyGenerated = ((*reply)[4] & 0x01) != 0;
  info.keyGenerationInProgress = ((*reply)[4] & 0x02) != 0;
  if (const uint32_t seconds = foundation::readBE32(reply->data() + 5)) {
    // Seconds since the start of 2000 on the device's own (local) calendar.
    std::tm start{};
    start.tm_year = 100;
    start.tm_mday = 1;
    start.tm_isdst = -1;
    info.keyGenerationDate = std::chrono::system_clock::from_time_t(std::mktime(&start)) + std::chrono::seconds(seconds);
  }
  return info;
}

bool KXDevices::voltageGenerateNewKey(Error* error) {
  const uint8_t command = VOLTAGE_GENERATE_KEY;
  return voltageCommand(&command, 1, error).has_value();
}

bool KXDevices::voltageSetSettingsVersion(uint32_t version, Error* error) {
  Bytes command{VOLTAGE_SETTINGS_VERSION};
  foundation::appendBE32(command, version);
  return voltageCommand(command.data(), int(command.size()), error).has_value();
}

bool KXDevices::voltageSetMerchantID(const std::optional<std::string>& merchantID, Error* error) {
  if (merchantID && merchantID->size() > kVoltageMaxText) return invalid(error, "Invalid argument: merchantID");
  const Bytes command = voltageText(VOLTAGE_MERCHANT_ID, merchantID);
  return voltageCommand(command.data(), int(command.size()), error).has_value();
}

bool KXDevices::voltageSetIdentityString(const std::optional<std::string>& identity, Error* error) {
  if (identity && identity->size() > kVoltageMaxText) return invalid(error, "Invalid argument: identity");
  const Bytes command = voltageText(VOLTAGE_IDENTITY, identity);
  return voltageCommand(command.data(), int(command.size()), error).has_value();
}

bool KXDevices::voltageSetPublicParameters(const std::optional<Bytes>& parameters, Error* error) {
  return voltageLoadConfiguration(parameters.value_or(gTestIBEParams()), error);
}

bool KXDevices::voltageLoadConfiguration(const Bytes& configuration, Error* error) {
  Bytes command{VOLTAGE_PUBLIC_PARAMETERS};
  command.insert(command.end(), configuration.begin(), configuration.end());
  return voltageCommand(command.data(), int(command.size()), error).has_value();
}

bool KXDevices::voltageSetEncryptionType(int type, Error* error) {
  const Bytes command{VOLTAGE_ENCRYPTION_TYPE, uint8_t(type)};
  return voltageCommand(command.data(), int(command.size()), error).has_value();
}

bool KXDevices::voltageSetKeyRolloverDays(int days, int numberOfTransactions, Error* error) {
  const Bytes command{VOLTAGE_KEY_ROLLOVER, uint8_t(days), uint8_t(numberOfTransactions)};
  return voltageCommand(command.data(), int(command.size()), error).has_value();
}

// ---- The sleeve's SAM slot -------------------------------------------------------------------------

std::optional<Bytes> KXDevices::samPowerOn(Error* error) {
  return sleeveOnly(error, [&](KXSleeveDriver& sleeve) { return sleeve.samPowerOn(error); });
}

bool KXDevices::samPowerOff(Error* error) {
  return sleeveOnly(error, [&](KXSleeveDriver& sleeve) { return sleeve.samPowerOff(error); });
}

std::optional<Bytes> KXDevices::samRawAPDU(const Bytes& apdu, uint16_t* apduStatus, Error* error) {
  return sleeveOnly(error, [&](KXSleeveDriver& sleeve) { return sleeve.samRawAPDU(apdu, apduStatus, error); });
}

bool KXDevices::samAPDU(uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2, const std::optional<Bytes>& inData,
                        uint16_t* apduStatus, Error* error) {
  return sleeveOnly(error,
                    [&](KXSleeveDriver& sleeve) { return sleeve.samAPDU(cla, ins, p1, p2, inData, apduStatus, error); });
}

std::optional<Bytes> KXDevices::samCAPDU(uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2,
                                         const std::optional<Bytes>& inData, int outLength, uint16_t* apduStatus,
                                         Error* error) {
  return sleeveOnly(error, [&](KXSleeveDriver& sleeve) {
    return sleeve.samCAPDU(cla, ins, p1, p2, inData, outLength, apduStatus, error);
  });
}

}  // namespace kestra
