// Card data read from the EMV kernel: the card's tracks encrypted in a chosen format, and
// EMV tags plain or encrypted. Answers hold card data; they are never logged.

#include <nlohmann/json.hpp>

#include "platform/crypto/Digest.h"
#include "sdk/device/KXDevices.h"
#include "sdk/device/KXDevicesEmv2.h"
#include "sdk/foundation/KXBase64.h"

namespace kestra {

namespace {

constexpr uint8_t kCmdTracksEncrypted = 0x06;
constexpr uint8_t kCmdTagsEncrypted = 0x07;
constexpr uint8_t kCmdTagsPlain = 0x08;

uint32_t freshRandom() {
  const Bytes r = crypto::randomBytes(4);
  return r.size() == 4 ? foundation::readBE32(r.data()) : 0;
}

std::optional<int> intEntry(const std::optional<nlohmann::json>& d, const char* key) {
  if (!d || !d->is_object()) return std::nullopt;
  auto it = d->find(key);
  if (it == d->end()) return std::nullopt;
  if (it->is_number()) return it->get<int>();
  if (it->is_string()) {
    try {
      return std::stoi(it->get<std::string>());
    } catch (...) {
      return 0;
    }
  }
  if (it->is_boolean()) return it->get<bool>() ? 1 : 0;
  return std::nullopt;
}

}  // namespace

Bytes emv2PostProcessTracks(const Bytes& answer) {
  std::string text;
  size_t offset = 0;
  bool first = true;
  while (offset < answer.size()) {
    // A block that does not fit leaves the answer as it came.
    if (answer.size() - offset < 3) return answer;
    const uint8_t header = answer[offset];
    const size_t length = foundation::readBE16(answer.data() + offset + 1);
    if (answer.size() - offset - 3 < length) return answer;
    const Bytes block(answer.begin() + long(offset + 3), answer.begin() + long(offset + 3 + length));
    if (!first) text += "|";
    first = false;
    text += std::to_string(header & 7) + ",";
    text += KXBase64::encodeBase64WithData(block).value_or("");
    offset += 3 + length;
  }
  KXUNISDKGlobals::LOG("TransArmor: %zu characters", text.size());
  Bytes out = {answer.empty() ? uint8_t(0) : answer[0]};
  foundation::append(out, text);
  foundation::secureClear(text);
  return out;
}

std::optional<Bytes> KXDevices::emv2GetCardTracksEncryptedWithFormat(int format, int keyID, Error* error) {
  return emv2GetCardTracksEncryptedWithFormat(format, keyID, std::nullopt, true, error);
}

std::optional<Bytes> KXDevices::emv2GetCardTracksEncryptedWithFormat(int format, int keyID,
                                                                      const std::optional<nlohmann::json>& additionalData,
                                                                      Error* error) {
  return emv2GetCardTracksEncryptedWithFormat(format, keyID, additionalData, true, error);
}

std::optional<Bytes> KXDevices::emv2GetCardTracksEncryptedWithFormat(int format, int keyID,
                                                                      const std::optional<nlohmann::json>& additionalData,
                                                                      bool processData, Error* error) {
  KXUNISDKGlobals::LOG("* emv2GetCardTracksEncryptedWithFormat, format:%d, keyid: %d", format, keyID);
  std::vector<KXTLV> items = {KXTLV::tlvWithInt(uint32_t(format), 4, 0xC1), KXTLV::tlvWithInt(uint32_t(keyID), 4, 0xC2)};
  KXEmsrMaskSettings mask;
  {
    std::lock_guard lock(emv2State().mutex);
    mask = emv2State().mask;
  }
  if (format == 7 || format == 10 || format == 19 || format == 20) {
    uint32_t random = freshRandom();
    if (mask.uniqueID != 0) random = mask.uniqueID;
    if (auto given = intEntry(additionalData, "RandomNumber")) random = uint32_t(*given);
    items.push_back(KXTLV::tlvWithInt(random, 4, 0xC3));
  } else if (format == 17) {
    items.push_back(KXTLV::tlvWithInt(uint32_t(intEntry(additionalData, "randomSeed").value_or(0)), 2, 0xC3));
  }
  if (emv2PinpadRoute()) {
    if (format == 3 || format == 4) {
      uint8_t flags = 0;
      if (mask.showExpiration || mask.unmaskedDigitsAfter > 3) flags |= 0x01;
      if (mask.unmaskedDigitsAfter > 4) flags |= 0x02;
      if (!mask.includeSentinels) flags |= 0x80;
      items.push_back(KXTLV::tlvWithData({flags}, 0xC3));
      items.push_back(KXTLV::tlvWithData({uint8_t(mask.unmaskedDigitsAtStart)}, 0xC4));
      items.push_back(KXTLV::tlvWithData({uint8_t(mask.unmaskedDigitsAtEnd)}, 0xC5));
    } else if (format == 14) {
      items.push_back(KXTLV::tlvWithData({uint8_t(mask.includeSentinels ? 0 : 1)}, 0xCB));
    }
  }
  Bytes c = {kCmdTracksEncrypted, 0x00};
  foundation::append(c, KXTLV::encodeTags(items));
  auto answer = emv2Command(c.data(), int(c.size()), error);
  if (!answer) return std::nullopt;
  if (processData && !answer->empty()) {
    const int answerFormat = (*answer)[0] >> 3;
    if (answerFormat == 16 || answerFormat == 13) {
      Bytes processed = emv2PostProcessTracks(*answer);
      foundation::secureClear(*answer);
      return processed;
    }
  }
  return answer;
}

std::optional<Bytes> KXDevices::emv2GetTagsPlain(const Bytes& tagList, Error* error) {
  KXUNISDKGlobals::LOG("* emv2GetTagsPlain");
  Bytes c = {kCmdTagsPlain, 0x00};
  foundation::append(c, KXTLV::encodeTags({KXTLV::tlvWithData(tagList, 0xC3)}));
  return emv2Command(c.data(), int(c.size()), error);
}

std::optional<Bytes> KXDevices::emv2GetTagsEncrypted(const Bytes& tagList, int format, int keyType, int keyIndex,
                                                     int packetID, Error* error) {
  KXUNISDKGlobals::LOG("* emv2GetTagsEncrypted");
  Bytes c = {kCmdTagsEncrypted, 0x00};
  foundation::append(c, KXTLV::encodeTags({KXTLV::tlvWithInt(uint32_t(format), 4, 0xC1),
                                           KXTLV::tlvWithInt(uint32_t(keyIndex) | uint32_t(keyType) << 10, 4, 0xC2),
                                           KXTLV::tlvWithData(tagList, 0xC3),
                                           KXTLV::tlvWithInt(uint32_t(packetID), 4, 0xC4)}));
  std::optional<Bytes> keySerial;
  if (emv2PinpadRoute() && (keyType == 7 || keyType == 8)) {
    Bytes ksn;
    const int status = pinpad_->dukptGenerateKeyOnline(keyIndex, &ksn);
    if (status != 0) {
      foundation::fail(error, ppadError(status));
      return std::nullopt;
    }
    keySerial = std::move(ksn);
  }
  auto answer = emv2Command(c.data(), int(c.size()), error);
  if (!answer) return std::nullopt;
  if (keySerial) foundation::append(*answer, *keySerial);
  return answer;
}

}  // namespace kestra
