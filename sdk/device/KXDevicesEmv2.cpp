// The EMV kernel's commands: the one door every kernel command goes through (routing to the
// sleeve before the pinpad, automatic initialisation), the session, the option setters kept
// until the next transaction start, the small interactive commands and the contactless-pass
// keys of the sleeve.

#include "sdk/device/KXDevicesEmv2.h"

#include <algorithm>

#include "sdk/device/KXDevices.h"
#include "sdk/foundation/KXBase64.h"

namespace kestra {

namespace {

constexpr int kFeatureEmv2 = 10;
constexpr int kKernelPresent = 6;
constexpr int kPassReaderOnly = 8;
constexpr uint32_t kAllPinpadEvents = 0xFFFFFFFF;

constexpr uint8_t kCmdInitialise = 0x61;
constexpr uint8_t kCmdDeinitialise = 0x62;
constexpr uint8_t kCmdOnlineResult = 0x04;
constexpr uint8_t kCmdCancel = 0x05;
constexpr uint8_t kCmdSelectApplication = 0x0A;
constexpr uint8_t kCmdTip = 0x0C;
constexpr uint8_t kCmdDebugOn = 0x71;
constexpr uint8_t kCmdDebugOff = 0x72;


Bytes command(uint8_t code, std::initializer_list<uint8_t> rest = {}) {
  Bytes c = {code, 0x00};
  c.insert(c.end(), rest.begin(), rest.end());
  return c;
}

// The id of a message item: its first two value bytes.
int itemID(const KXTLV& item) {
  if (!item.data || item.data->size() < 2) return -1;
  return int(foundation::readBE16(item.data->data()));
}

void replaceItem(std::optional<std::vector<KXTLV>>& list, int id, const std::optional<KXTLV>& item) {
  if (!list) list.emplace();
  list->erase(std::remove_if(list->begin(), list->end(), [id](const KXTLV& t) { return itemID(t) == id; }),
              list->end());
  if (item) list->push_back(*item);
}

}  // namespace

// ---- Pure pieces ------------------------------------------------------------------------------------

std::optional<KXTLV> emv2MakeUITag(int id, const std::optional<std::string>& message, int font) {
  Bytes value;
  foundation::appendBE16(value, uint16_t(id));
  value.push_back(uint8_t(font));
  if (message && !message->empty()) {
    std::string text;
    if (font == 3 || font == 4 || font == 6) {
      text = *message;
    } else {
      // ASCII with lossy conversion: every byte of a multi-byte character becomes one "?".
      for (size_t i = 0; i < message->size(); ++i) {
        const auto c = uint8_t((*message)[i]);
        if (c < 0x80) {
          text.push_back(char(c));
        } else if ((c & 0xC0) != 0x80) {
          text.push_back('?');
        }
      }
    }
    if (text.size() > kEmv2MaxMessageBytes) return std::nullopt;
    foundation::append(value, text);
  }
  value.push_back(0x00);
  return KXTLV::tlvWithData(value, 0xC0);
}

std::optional<KXTLV> emv2MakeUISoundTag(int id, const std::optional<Bytes>& sound) {
  Bytes value;
  foundation::appendBE16(value, uint16_t(id));
  if (sound) {
    if (sound->size() > kEmv2MaxSoundBytes) return std::nullopt;
    foundation::append(value, *sound);
  }
  return KXTLV::tlvWithData(value, 0xC0);
}

// ---- State ------------------------------------------------------------------------------------------

KXEmv2State& KXDevices::emv2State() {
  std::call_once(emv2Once_, [this] { emv2_ = std::make_shared<KXEmv2State>(); });
  return *emv2_;
}

bool KXDevices::emv2SleeveRoute() const {
  const int active = activeDeviceType_.load();
  return active == DEVICE_TYPE_SLEEVE || (active == DEVICE_TYPE_AUTOMATIC && sleeve_->connstate() == CONN_CONNECTED);
}

bool KXDevices::emv2PinpadRoute() const {
  const int active = activeDeviceType_.load();
  return active == DEVICE_TYPE_PINPAD || (active == DEVICE_TYPE_AUTOMATIC && pinpad_->connstate() == CONN_CONNECTED);
}

bool KXDevices::emv2Failure(Error* error, int code, const std::string& text) const {
  const Error e = KXUNISDKGlobals::makeError(code, text);
  KXUNISDKGlobals::LOG("ERROR: %s", e.text.c_str());
  return foundation::fail(error, e);
}

size_t KXDevices::emv2FanOut(std::string_view selector, const std::function<void(KXDeviceDelegate&)>& call) const {
  return fanOut(selector, [&](KXDeviceDelegate& d) {
    KXUNISDKGlobals::LOG("TDelegate %p responds to selector, will be notified", static_cast<const void*>(&d));
    call(d);
  });
}

// ---- Routing ----------------------------------------------------------------------------------------

std::optional<Bytes> KXDevices::emv2Command(const uint8_t* data, int length, Error* error) {
  return emv2Command(data, length, false, error);
}

std::optional<Bytes> KXDevices::emv2Command(const uint8_t* data, int length, bool forced, Error* error) {
  if (length < 1 || !data) {
    emv2Failure(error, -9, "Invalid argument: command");
    return std::nullopt;
  }
  KXUNISDKGlobals::LOG("emv2Command: %02x, init=%d", unsigned(data[0]), int(emvInit_.load()));
  if (!forced && !emvInit_.load() && data[0] != kCmdInitialise && !emv2Initialise(error)) return std::nullopt;

  if (emv2SleeveRoute() && (sleeve_->getSupportedFeature(kFeatureEmv2, nullptr) & kKernelPresent))
    return sleeve_->emv2Command(data, length, error);
  if (emv2PinpadRoute() && (pinpad_->getSupportedFeature(kFeatureEmv2, nullptr) & kKernelPresent)) {
    Bytes reply;
    const int status = pinpad_->emv2Command(data, length, &reply);
    if (status != 0) {
      foundation::fail(error, ppadError(status));
      return std::nullopt;
    }
    return reply;
  }
  routeError(error);
  return std::nullopt;
}

// ---- Session ----------------------------------------------------------------------------------------

bool KXDevices::emv2Initialise(Error* error) {
  if (!emvInit_.load()) {
    KXUNISDKGlobals::LOG("* emv2Initialise");
    if (computeSupportedFeature(kFeatureEmv2) != kPassReaderOnly) {
      const Bytes c = command(kCmdInitialise);
      if (!emv2Command(c.data(), int(c.size()), false, error)) return false;
    }
    emvInit_ = true;
    std::lock_guard lock(emv2State().mutex);
    emv2State().info.reset();
    KXUNISDKGlobals::LOG("* emv2Initialise DONE");
  }
  std::lock_guard lock(emv2State().mutex);
  emv2State().msEmulation = false;
  return true;
}

bool KXDevices::emv2Deinitialise(Error* /*error*/) {
  KXUNISDKGlobals::LOG("* emv2Deinitialise");
  if (!emvInit_.exchange(false)) return true;
  if (emv2PinpadRoute()) {
    // Undo the event masking of the transaction start.
    pinpad_->sysEnableEvents(kAllPinpadEvents);
    pinpad_->msStart();
  }
  KXUNISDKGlobals::LOG("* emv2Deinitialise");
  if (computeSupportedFeature(kFeatureEmv2) != kPassReaderOnly) {
    const Bytes c = command(kCmdDeinitialise);
    emv2Command(c.data(), int(c.size()), true, nullptr);
  }
  return true;
}

bool KXDevices::emv2CancelTransaction(Error* error) {
  KXUNISDKGlobals::LOG("* emv2CancelTransaction");
  emv2StopTimer();
  emvActive_ = false;
  if (computeSupportedFeature(kFeatureEmv2) != kPassReaderOnly) {
    // Sent without automatic initialisation: a closed session has nothing to cancel.
    if (emvInit_.load()) {
      const Bytes c = command(kCmdCancel);
      if (!emv2Command(c.data(), int(c.size()), true, error)) return false;
    }
  } else if (emv2SleeveRoute()) {
    sleeve_->vasClose(nullptr);
  }
  emv2Deinitialise(nullptr);
  return true;
}

// ---- Options ----------------------------------------------------------------------------------------

bool KXDevices::emv2SetPINOptions(int option, Error* /*error*/) {
  std::lock_guard lock(emv2State().mutex);
  for (int& o : emv2State().pinEntryInterface) o = option;
  return true;
}

bool KXDevices::emv2SetPINOptions(int option, int interface, Error* /*error*/) {
  int slot = -1;
  switch (interface) {
    case 1: slot = 0; break;
    case 2: slot = 1; break;
    case 4: slot = 2; break;
    case 8: slot = 3; break;
    default: return true;
  }
  std::lock_guard lock(emv2State().mutex);
  emv2State().pinEntryInterface[slot] = option;
  return true;
}

bool KXDevices::emv2SetOnCardReadOptions(int options, int eventType, int keyID, Error* /*error*/) {
  std::lock_guard lock(emv2State().mutex);
  auto& o = emv2State().cardReadOptions;
  o[0] = uint8_t(options);
  o[1] = uint8_t(eventType);
  o[2] = uint8_t(keyID);
  o[3] = 0;
  return true;
}

bool KXDevices::emv2SetManualEntryOptionsEnableCVV(bool cvv, bool expiration, Error* /*error*/) {
  std::lock_guard lock(emv2State().mutex);
  emv2State().manualEntryCVV = cvv;
  emv2State().manualEntryDate = expiration;
  return true;
}

bool KXDevices::emv2SetTransactionType(int type, int amount, int currencyCode, Error* /*error*/) {
  KXUNISDKGlobals::LOG("* emv2SetTransactionType");
  std::lock_guard lock(emv2State().mutex);
  emv2State().transactionType = type;
  emv2State().transactionAmount = amount;
  emv2State().transactionCurrency = currencyCode;
  return true;
}

bool KXDevices::emv2SetCardEmulationMode(bool emulation, int encryption, int keyID, Error* /*error*/) {
  if (encryption == 3 || encryption == 4 || encryption == 10) {
    KXUNISDKGlobals::LOG("Encryption: %d, keyid: %d", encryption, keyID);
    // Key ids of the sleeve's keys are 32 higher than the pinpad's.
    if (emv2PinpadRoute() && keyID >= 32) keyID -= 32;
    if (emv2SleeveRoute() && keyID < 32) keyID += 32;
  }
  KXUNISDKGlobals::LOG("2Encryption: %d, keyid: %d", encryption, keyID);
  std::lock_guard lock(emv2State().mutex);
  emv2State().msEmulation = emulation;
  emv2State().algorithm = encryption;
  emv2State().keyID = keyID;
  return true;
}

bool KXDevices::emv2SetMessageForID(int id, int font, const OptText& message, Error* error) {
  const auto item = emv2MakeUITag(id, message, font);
  if (!item && message && message->size() > kEmv2MaxMessageBytes)
    return emv2Failure(error, -9, "Invalid argument: message");
  std::lock_guard lock(emv2State().mutex);
  replaceItem(emv2State().messages, id, item);
  return true;
}

bool KXDevices::emv2SetMessageSoundForID(int id, const std::optional<Bytes>& sound, Error* error) {
  const auto item = emv2MakeUISoundTag(id, sound);
  if (!item) return emv2Failure(error, -9, "Invalid argument: sound");
  std::lock_guard lock(emv2State().mutex);
  replaceItem(emv2State().messagesSound, id, item);
  return true;
}

// ---- Interactive commands ----------------------------------------------------------------------------

bool KXDevices::emv2EnterTipWithAmount(int amount, int defaultTip, double timeout, int currencyCode, Error* error) {
  KXUNISDKGlobals::LOG("* emv2EnterTipWithAmount");
  Bytes c = command(kCmdTip, {0x01});
  foundation::appendBE32(c, uint32_t(amount));
  foundation::appendBE32(c, uint32_t(defaultTip));
  const double seconds = std::clamp(timeout, 0.0, 65535.0);
  foundation::appendBE16(c, uint16_t(seconds));
  if (currencyCode != 0) foundation::appendBE16(c, uint16_t(currencyCode));
  return emv2Command(c.data(), int(c.size()), true, error).has_value();
}

bool KXDevices::emv2EnterTipCancel(Error* error) {
  KXUNISDKGlobals::LOG("* emv2EnterTipCancel");
  const Bytes c = command(kCmdTip, {0x02});
  return emv2Command(c.data(), int(c.size()), true, error).has_value();
}

bool KXDevices::emv2SelectApplication(int index, Error* error) {
  KXUNISDKGlobals::LOG("* emv2SelectApplication");
  const Bytes c = command(kCmdSelectApplication, {uint8_t(index)});
  return emv2Command(c.data(), int(c.size()), error).has_value();
}

bool KXDevices::emv2ShowApplicationList(const std::vector<int>& indices, Error* error) {
  KXUNISDKGlobals::LOG("* emv2ShowApplicationList");
  if (indices.size() > kEmv2MaxApplications) return emv2Failure(error, -9, "Invalid argument: applications");
  Bytes c = command(kCmdSelectApplication, {0xFF});
  for (int i : indices) c.push_back(uint8_t(i));
  return emv2Command(c.data(), int(c.size()), error).has_value();
}

bool KXDevices::emv2SetOnlineResult(const Bytes& tlv, Error* error) {
  KXUNISDKGlobals::LOG("* emv2SetOnlineResult");
  Bytes c = command(kCmdOnlineResult);
  foundation::append(c, tlv);
  return emv2Command(c.data(), int(c.size()), error).has_value();
}

bool KXDevices::emv2EnableDebug(bool enabled, Error* error) {
  KXUNISDKGlobals::LOG("* emv2EnableDebug");
  const Bytes c = command(enabled ? kCmdDebugOn : kCmdDebugOff);
  return emv2Command(c.data(), int(c.size()), error).has_value();
}

bool KXDevices::ppadEnableDebug(bool enabled, int modules, Error* error) {
  if (!emv2PinpadRoute()) return routeError(error);
  const Bytes c = command(enabled ? kCmdDebugOn : kCmdDebugOff, {uint8_t(modules)});
  return emv2Command(c.data(), int(c.size()), error).has_value();
}

std::optional<Bytes> KXDevices::emv2CustomCommand(int code, const Bytes& data, Error* error) {
  // Longer data would be cut short silently; refuse it instead.
  if (data.size() > kEmv2MaxCustomData) {
    emv2Failure(error, -9, "Invalid argument: data");
    return std::nullopt;
  }
  Bytes c = command(uint8_t(code));
  foundation::append(c, data);
  return emv2Command(c.data(), int(c.size()), error);
}

// ---- Contactless-pass keys (sleeve only) ----------------------------------------------------------------

namespace {

// A PEM text's body: the marker lines and line breaks dropped, the rest Base64-decoded.
std::optional<Bytes> pemBody(const std::string& pem) {
  std::string body;
  size_t pos = 0;
  while (pos <= pem.size()) {
    size_t end = pem.find('\n', pos);
    if (end == std::string::npos) end = pem.size();
    std::string line = pem.substr(pos, end - pos);
    if (!line.empty() && line.back() == '\r') line.pop_back();
    if (line.rfind("-----", 0) != 0) body += line;
    pos = end + 1;
  }
  return KXBase64::decodeBase64WithString(body);
}

}  // namespace

bool KXDevices::emv2GoogleVASLoadECCPrivateKeyAtSlot(int slot, const std::string& keyDataInPEM, int version,
                                                     Error* error) {
  auto key = pemBody(keyDataInPEM);
  if (!key) {
    KXUNISDKGlobals::LOG("* emv2GoogleVASLoadECCPrivateKeyAtSlot");
    return emv2Failure(error, -9, "Invalid argument: keyDataInPEM");
  }
  const bool ok = emv2GoogleVASLoadECCPrivateKeyAtSlot(slot, *key, version, error);
  foundation::secureClear(*key);
  return ok;
}

bool KXDevices::emv2GoogleVASLoadECCPrivateKeyAtSlot(int slot, const Bytes& keyData, int version, Error* error) {
  KXUNISDKGlobals::LOG("* emv2GoogleVASLoadECCPrivateKeyAtSlot");
  if (!emv2SleeveRoute()) return routeError(error);
  return sleeve_->vasLoadECCPrivateKeyAtSlot(slot, keyData, uint32_t(version), error);
}

bool KXDevices::emv2GoogleVASGetECCPrivateKeyVersionAtSlot(int slot, int* version, Error* error) {
  KXUNISDKGlobals::LOG("* emv2GoogleVASGetECCPrivateKeyVersionAtSlot");
  if (!emv2SleeveRoute()) return routeError(error);
  uint32_t v = 0;
  if (!sleeve_->vasGetECCPrivateKeyVersionAtSlot(slot, &v, error)) return false;
  if (version) *version = int(v);
  return true;
}

bool KXDevices::emv2GoogleVASSetActiveECCPrivateKeyAtSlot(int slot, Error* error) {
  KXUNISDKGlobals::LOG("* emv2GoogleVASSetActiveECCPrivateKeyAtSlot");
  if (!emv2SleeveRoute()) return routeError(error);
  return sleeve_->vasSetActiveECCPrivateKeyAtSlot(slot, error);
}

bool KXDevices::emv2GoogleVASSetCollectorID(int collectorID, Error* error) {
  KXUNISDKGlobals::LOG("* emv2GoogleVASSetCollectorID");
  if (!emv2SleeveRoute()) return routeError(error);
  return sleeve_->vasSetCollectorID(uint32_t(collectorID), error);
}

}  // namespace kestra
