// The sleeve's EMV kernel and contactless-pass (VAS) commands. Kernel packets are
// [sub-command][00][payload] carried by sleeve command 55 (or the pinpad pass-through on
// sleeves whose kernel sits behind it); the kernel's events are handled in
// PellanSecureEvents.cpp. Transaction data holds card data: it is never logged, only its
// length.

#include "sdk/foundation/KXDeviceInfo.h"
#include "sdk/foundation/KXTLV.h"
#include "sdk/foundation/Emsr.h"
#include "sdk/sleeve/Pellan.h"
#include "sdk/sleeve/PellanImpl.h"

namespace kestra {

namespace {

constexpr uint8_t kCmdEmv = 55;
constexpr uint8_t kPassThroughEmv = 0x3E;
constexpr uint8_t kCmdVas = 70;
constexpr uint8_t kCmdVasGV = 72;
// Feature 10 bit: the kernel sits behind the pinpad pass-through.
constexpr int kKernelBehindPinpad = 4;

constexpr uint8_t kEmvLoadContactless = 0x01;
constexpr uint8_t kEmvGetInfo = 0x02;
constexpr uint8_t kEmvStart = 0x03;
constexpr uint8_t kEmvOnlineResult = 0x04;
constexpr uint8_t kEmvCancel = 0x05;
constexpr uint8_t kEmvTracksEncrypted = 0x06;
constexpr uint8_t kEmvTagsEncrypted = 0x07;
constexpr uint8_t kEmvTagsPlain = 0x08;
constexpr uint8_t kEmvInitialise = 0x61;
constexpr uint8_t kEmvDeinitialise = 0x62;

constexpr uint8_t kVasInit = 0x01;
constexpr uint8_t kVasClose = 0x00;
constexpr uint8_t kVasGenerateKeys = 0x02;
constexpr uint8_t kVasLoadKey = 0x10;
constexpr uint8_t kVasKeyVersion = 0x11;
constexpr uint8_t kVasActiveKey = 0x13;
constexpr uint8_t kVasCollector = 0x14;

Bytes packet(uint8_t sub, const Bytes& payload = {}) {
  Bytes p = {sub, 0x00};
  p.insert(p.end(), payload.begin(), payload.end());
  return p;
}

uint32_t firstWord(const KXTLV& t) {
  if (!t.data) return 0;
  uint32_t v = 0;
  for (size_t i = 0; i < 4 && i < t.data->size(); ++i) v = v << 8 | (*t.data)[i];
  return v;
}

}  // namespace

std::optional<Bytes> Pellan::emv2Command(const uint8_t* data, int length, Error* error) {
  if (length < 0 || (length > 0 && !data)) {
    pellanFail(error, -9, "Invalid parameter");
    return std::nullopt;
  }
  std::optional<Bytes> answer;
  if (d_->feature(10) & kKernelBehindPinpad)
    answer = ppadCommand(kPassThroughEmv, data, uint64_t(length), error);
  else
    answer = sendCommand(0, kCmdEmv, data, uint64_t(length), error);
  if (!answer) return std::nullopt;
  if (answer->size() < 2) {
    pellanFail(error, -6, "Invalid data length received");
    return std::nullopt;
  }
  return Bytes(answer->begin() + 2, answer->end());
}

namespace {

std::optional<Bytes> kernel(Pellan& p, const char* name, uint8_t sub, const Bytes& payload, Error* error) {
  KXUNISDKGlobals::LOG("PN:* %s", name);
  const Bytes request = packet(sub, payload);
  return p.emv2Command(request.data(), int(request.size()), error);
}

}  // namespace

bool Pellan::emv2LoadContactlessConfiguration(const Bytes& configuration, Error* error) {
  return kernel(*this, "emv2LoadConfigurationData", kEmvLoadContactless, configuration, error).has_value();
}

std::shared_ptr<KXEMV2Info> Pellan::emv2GetInfo(Error* error) {
  auto answer = kernel(*this, "emv2GetInfo", kEmvGetInfo, {}, error);
  if (!answer) return nullptr;
  auto info = std::make_shared<KXEMV2Info>();
  if (auto tags = KXTLV::decodeTags(*answer)) {
    if (auto c1 = KXTLV::findLastTag(0xC1, *tags)) {
      info->configurationVersion = int(firstWord(*c1));
      info->contactlessConfigurationVersion = int(firstWord(*c1));
    }
    if (auto c2 = KXTLV::findLastTag(0xC2, *tags)) info->emvKernelVersion = int(firstWord(*c2));
  }
  return info;
}

bool Pellan::emv2SetTransactionType(int type, int amount, int currencyCode, Error*) {
  KXUNISDKGlobals::LOG("PN:* emv2SetTransactionType");
  d_->transactionType = type;
  d_->transactionAmount = amount;
  d_->transactionCurrency = currencyCode;
  return true;
}

bool Pellan::emv2SetCardEmulationMode(bool enabled, int encryption, int keyID, Error*) {
  d_->emvMSEmulation = enabled;
  d_->emvAlgorithm = encryption;
  d_->emvKeyID = keyID;
  return true;
}

bool Pellan::emv2SelectApplication(int, Error*) {
  KXUNISDKGlobals::LOG("PN:* emv2SelectApplication");
  return true;
}

bool Pellan::emv2StartTransactionWithFlags(int, const std::optional<Bytes>& initData, Error* error) {
  KXUNISDKGlobals::LOG("PN:* emv2StartTransactionWithFlags");
  // Negative parameters have no BCD form: they start as 0.
  auto bcd = [](int v) { return uint64_t(v < 0 ? 0 : v); };
  Bytes tags = KXTLV::encodeTags({KXTLV::tlvWithBCD(bcd(d_->transactionType), 1, 0x9C),
                                  KXTLV::tlvWithBCD(bcd(d_->transactionAmount), 6, 0x9F02),
                                  KXTLV::tlvWithBCD(bcd(d_->transactionCurrency), 2, 0x5F2A)});
  Bytes request = packet(kEmvStart, tags);
  if (initData) request.insert(request.end(), initData->begin(), initData->end());
  {
    std::lock_guard<std::mutex> lock(d_->emvMutex);
    if (d_->emvTags) foundation::secureClear(*d_->emvTags);
    d_->emvTags = std::move(tags);
  }
  // The emulated head is switched on for this one call, whichever head is active.
  const int saved = d_->activeHead.exchange(1);
  emsrEnable(this, 1);
  d_->activeHead = saved;
  auto answer = emv2Command(request.data(), int(request.size()), error);
  foundation::secureClear(request);
  return answer.has_value();
}

bool Pellan::emv2SetOnlineResult(const Bytes& result, Error* error) {
  return kernel(*this, "emv2SetOnlineResult", kEmvOnlineResult, result, error).has_value();
}

bool Pellan::emv2CancelTransaction(Error* error) {
  if (!kernel(*this, "emv2CancelTransaction", kEmvCancel, {}, error)) return false;
  emv2Deinitialise(error);
  return true;
}

std::optional<Bytes> Pellan::emv2GetCardTracksEncryptedWithFormat(int format, int keyID, Error* error) {
  const Bytes payload = KXTLV::encodeTags(
      {KXTLV::tlvWithInt(uint32_t(format), 4, 0xC1), KXTLV::tlvWithInt(uint32_t(keyID), 4, 0xC2)});
  return kernel(*this, "emv2GetCardTracksEncryptedWithFormat", kEmvTracksEncrypted, payload, error);
}

std::optional<Bytes> Pellan::emv2GetTagsEncrypted(const Bytes& tagList, int format, int keyType, int keyIndex,
                                                  uint32_t packetID, Error* error) {
  const uint32_t key = uint32_t(keyType) * 1024u | uint32_t(keyIndex);
  const Bytes payload = KXTLV::encodeTags({KXTLV::tlvWithInt(uint32_t(format), 4, 0xC1),
                                           KXTLV::tlvWithInt(key, 4, 0xC2), KXTLV::tlvWithData(tagList, 0xC3),
                                           KXTLV::tlvWithInt(packetID, 4, 0xC4)});
  return kernel(*this, "emv2GetTagsEncrypted", kEmvTagsEncrypted, payload, error);
}

std::optional<Bytes> Pellan::emv2GetTagsPlain(const Bytes& tagList, Error* error) {
  const Bytes payload = KXTLV::encodeTags({KXTLV::tlvWithData(tagList, 0xC3)});
  return kernel(*this, "emv2GetTagsPlain", kEmvTagsPlain, payload, error);
}

bool Pellan::emv2Initialise(Error* error) {
  return kernel(*this, "emv2Initialise", kEmvInitialise, {}, error).has_value();
}

bool Pellan::emv2Deinitialise(Error* error) {
  return kernel(*this, "emv2Deinitialise", kEmvDeinitialise, {}, error).has_value();
}

Bytes Pellan::emvTags() const {
  std::lock_guard<std::mutex> lock(d_->emvMutex);
  return d_->emvTags.value_or(Bytes());
}

// ---- Contactless passes -----------------------------------------------------------------------

namespace {

std::optional<Bytes> vas(Pellan& p, uint8_t command, const Bytes& data, Error* error) {
  return p.sendCommand(0, command, data.data(), data.size(), error);
}

}  // namespace

bool Pellan::vasInitWIthData(const Bytes& data, Error* error) {
  const auto outer = KXTLV::decodeTags(data);
  const std::optional<KXTLV> e0 = outer ? KXTLV::findLastTag(0xE0, *outer) : std::nullopt;
  if (!e0 || !e0->data) return pellanFail(error, -9, "VAS data missing");
  // A Google pass reader needs its keys made first, unless the caller said otherwise (C1 = 1
  // or absent means keys are wanted).
  if (auto inner = KXTLV::decodeTags(*e0->data)) {
    const auto flag = KXTLV::findLastTag(0xDFC90C, *inner);
    const auto c1 = KXTLV::findLastTag(0xC1, *outer);
    const bool wanted = !c1 || (c1->data && !c1->data->empty() && (*c1->data)[0] == 1);
    if (flag && flag->data && flag->data->size() >= 2 && ((*flag->data)[1] & 1) && wanted)
      vasGoogleGenerateVASKeys(error);
  }
  Bytes request = {kVasInit};
  foundation::append(request, KXTLV::encodeTags({*e0}));
  return vas(*this, featCheck("GV") ? kCmdVasGV : kCmdVas, request, error).has_value();
}

bool Pellan::vasClose(Error* error) {
  return vas(*this, featCheck("GV") ? kCmdVasGV : kCmdVas, {kVasClose}, error).has_value();
}

bool Pellan::vasGoogleGenerateVASKeys(Error* error) {
  return vas(*this, kCmdVas, {kVasGenerateKeys}, error).has_value();
}

bool Pellan::vasLoadECCPrivateKeyAtSlot(int slot, const Bytes& keyData, uint32_t version, Error* error) {
  Bytes request = {kVasLoadKey, uint8_t(slot)};
  foundation::append(request, keyData);
  foundation::appendBE32(request, version);
  const bool ok = vas(*this, featCheck("GV") ? kCmdVasGV : kCmdVas, request, error).has_value();
  foundation::secureClear(request);
  return ok;
}

bool Pellan::vasGetECCPrivateKeyVersionAtSlot(int slot, uint32_t* version, Error* error) {
  auto answer = vas(*this, featCheck("GV") ? kCmdVasGV : kCmdVas, {kVasKeyVersion, uint8_t(slot)}, error);
  if (!answer) return false;
  if (answer->size() < 4) return pellanFail(error, -16, "No key loaded at that slot");
  if (version) *version = foundation::readBE32(answer->data());
  return true;
}

bool Pellan::vasSetActiveECCPrivateKeyAtSlot(int slot, Error* error) {
  return vas(*this, featCheck("GV") ? kCmdVasGV : kCmdVas, {kVasActiveKey, uint8_t(slot)}, error).has_value();
}

bool Pellan::vasSetCollectorID(uint32_t collectorID, Error* error) {
  Bytes request = {kVasCollector};
  foundation::appendBE32(request, collectorID);
  return vas(*this, featCheck("GV") ? kCmdVasGV : kCmdVas, request, error).has_value();
}

}  // namespace kestra
