// PIN entry on the pinpad's keypad: the blocking entry, the asynchronous start / check /
// cancel commands and the background entry built on them, offline verification and PIN
// blocks. The PIN itself never reaches the host.
#include "platform/foundation/MainQueue.h"
#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadImpl.h"
#include "sdk/transport/GlobalQueue.h"

namespace kestra {

namespace {

constexpr auto kPinPoll = std::chrono::milliseconds(50);
constexpr size_t kKeyVariantSize = 16;

// The prompt as the pinpad takes it after the last window's font, closed by a zero byte;
// nothing for no prompt.
Bytes promptBytes(const PPad::Impl& d, const OptText& message) {
  if (!message) return {};
  const int font = d.lastFont;
  if (font == 3 || font == 4 || font == 6) {
    Bytes out(message->begin(), message->end());
    out.push_back(0);
    return out;
  }
  return getTextBytes(*message);  // ends with its zero byte
}

bool validLimits(int minPin, int maxPin) { return minPin >= 1 && minPin <= maxPin; }

}  // namespace

int PPad::uiEnterPIN(int x, int y, int timeout, int echo, const OptText& message) {
  const Bytes request = joined({0x09, uint8_t(x), uint8_t(y), uint8_t(echo), uint8_t(timeout)},
                               promptBytes(*d_, message));
  return d_->command(ppad::kGroupUI, request, nullptr, false,
                     std::chrono::seconds(std::max(timeout, 0)) + std::chrono::seconds(10));
}

int PPad::uiEnterPINAsyncStart(int x, int y, int timeout, int echo, int minPin, int maxPin,
                               const OptText& message) {
  Bytes request = validLimits(minPin, maxPin)
                      ? Bytes{0x26, uint8_t(x), uint8_t(y), uint8_t(echo), uint8_t(timeout), uint8_t(minPin),
                              uint8_t(maxPin)}
                      : Bytes{0x20, uint8_t(x), uint8_t(y), uint8_t(echo), uint8_t(timeout)};
  request = joined(std::move(request), promptBytes(*d_, message));
  return d_->command(ppad::kGroupUI, request);
}

int PPad::uiEnterPINAsyncStart(int x, int y, int timeout, int echo, const OptText& message) {
  return uiEnterPINAsyncStart(x, y, timeout, echo, -1, -1, message);
}

int PPad::uiEnterPINAsyncCheck() { return d_->command(ppad::kGroupUI, {0x21}); }

int PPad::uiEnterPINAsyncCancel() { return d_->command(ppad::kGroupUI, {0x22}, nullptr, true); }

bool PPad::pinEntryRunning() const { return d_->pinThreadActive; }

int PPad::uiEnterPINStart(int x, int y, int timeout, int echo, int minPin, int maxPin, const OptText& message) {
  auto& d = *d_;
  // Claimed here, before anything runs in the background, so that a second start or a
  // cancel made right after this call sees the entry.
  bool expected = false;
  if (!d.pinThreadActive.compare_exchange_strong(expected, true)) return 1;
  std::weak_ptr<PPad> weak = weak_from_this();
  // Clears the flag first, so a waiting cancel does not depend on the main queue, then
  // delivers the result there.
  auto finish = [weak](int result) {
    auto self = weak.lock();
    if (!self) return;
    self->d_->pinThreadActive = false;
    foundation::MainQueue::post([weak, result] {
      auto s = weak.lock();
      if (!s) return;
      s->d_->fanOut(ppsel::PINEntryComplete, [result](PPadDelegate& del) {
        KXUNISDKGlobals::LOG("TDelegate responds to selector, will be notified");
        del.PINEntryComplete(result);
      });
      s->msStart();
    });
  };

  const int started = uiEnterPINAsyncStart(x, y, timeout, echo, minPin, maxPin, message);
  if (started == ppad::kOK) {
    d.pinModeAsync = true;
    d.pinThreadCancelled = false;
    GlobalQueue::async([weak, finish] {
      auto self = weak.lock();
      if (!self) return;
      int result = ppad::kNoData;
      while (result == ppad::kNoData) {
        result = self->uiEnterPINAsyncCheck();
        if (self->d_->pinThreadCancelled) result = 18;  // "Operation Cancelled"
      }
      finish(result);
    });
    return 0;
  }
  // A pinpad without the asynchronous commands: the blocking entry, in the background.
  d.pinModeAsync = false;
  const OptText prompt = message;
  GlobalQueue::async([weak, finish, x, y, timeout, echo, prompt] {
    auto self = weak.lock();
    if (!self) return;
    finish(self->uiEnterPIN(x, y, timeout, echo, prompt));
  });
  return 0;
}

int PPad::uiEnterPINStart(int x, int y, int timeout, int echo, const OptText& message) {
  return uiEnterPINStart(x, y, timeout, echo, -1, -1, message);
}

int PPad::uiEnterPINCancel() {
  auto& d = *d_;
  if (d.pinModeAsync) {
    d.pinThreadCancelled = true;
    uiEnterPINAsyncCancel();
  }
  while (d.pinThreadActive) ppadPause(kPinPoll);
  return 0;
}

int PPad::uiVerifyPINOffline(bool encrypted, uint16_t* cardStatus) {
  Bytes reply;
  const int r = d_->command(ppad::kGroupUI, {0x0A, uint8_t(encrypted ? 1 : 0)}, &reply);
  if (r == 0 && cardStatus) {
    if (reply.size() < 2) return ppad::kFailed;
    *cardStatus = uint16_t(reply[0] | reply[1] << 8);
  }
  return r;
}

namespace {
int verifyOfflineEncrypted(PPad& pad, PPad::Impl& d, uint8_t form, int keyType, int keyID, Bytes* outData) {
  Bytes ksn;
  if (keyType == 0) {
    const int r = pad.dukptGenerateKeyOnline(keyID, &ksn);
    if (r != 0) return r;
  }
  Bytes reply;
  const int r = commandInto(d, ppad::kGroupUI, {0x0A, form}, &reply);
  if (r == 0 && outData) *outData = keyType == 0 ? joined(reply, ksn) : reply;
  foundation::secureClear(reply);
  return r;
}
}  // namespace

int PPad::uiVerifyPINOfflinePlainAndEncryptResponse(int keyType, int keyID, Bytes* outData) {
  return verifyOfflineEncrypted(*this, *d_, 0x64, keyType, keyID, outData);
}

int PPad::uiVerifyPINOfflineEncryptedAndEncryptResponse(int keyType, int keyID, Bytes* outData) {
  return verifyOfflineEncrypted(*this, *d_, 0x65, keyType, keyID, outData);
}

int PPad::pinSetPAN(const OptText& pan) {
  std::lock_guard<std::mutex> lock(d_->panMutex);
  if (d_->pinPan) foundation::secureClear(*d_->pinPan);
  d_->pinPan = pan;
  return 0;
}

namespace {
bool validBlockArguments(int keyType, int minKeyType, int pinFormat, const Bytes& variant) {
  return keyType >= minKeyType && keyType <= 4 && pinFormat >= 4 && pinFormat <= 13 &&
         variant.size() == kKeyVariantSize;
}

Bytes blockRequest(int keyType, int pinFormat, const Bytes& variant, int keyID) {
  Bytes request = {0x0A, 0x02, uint8_t(keyType), uint8_t(pinFormat)};
  request.insert(request.end(), variant.begin(), variant.end());
  request.push_back(uint8_t(keyID));
  return request;
}

// The card number in the single-byte form, without its closing zero byte.
Bytes panBytes(const std::string& pan) {
  Bytes b = getTextBytes(pan);
  b.pop_back();
  return b;
}
}  // namespace

int PPad::pinGetPINBlock(int keyType, int pinFormat, const std::optional<Bytes>& keyVariant, int keyID,
                         Bytes* encryptedPIN) {
  const Bytes variant = keyVariant ? *keyVariant : Bytes(kKeyVariantSize, 0);
  if (!validBlockArguments(keyType, 1, pinFormat, variant)) return ppad::kInvalidParameter;
  Bytes request = blockRequest(keyType, pinFormat, variant, keyID);
  if (pinFormat == 4 || pinFormat == 13) {
    std::lock_guard<std::mutex> lock(d_->panMutex);
    if (d_->pinPan) {  // serves one request only
      Bytes pan = panBytes(*d_->pinPan);
      request = joined(std::move(request), pan);
      foundation::secureClear(pan);
      foundation::secureClear(*d_->pinPan);
      d_->pinPan.reset();
    }
  }
  const int r = commandInto(*d_, ppad::kGroupUI, request, encryptedPIN);
  foundation::secureClear(request);
  return r;
}

int PPad::uiVerifyPINOnline(int keyType, int pinFormat, const std::optional<Bytes>& keyVariant, int keyID,
                            const std::string& pan, Bytes* encryptedPIN) {
  const Bytes variant = keyVariant ? *keyVariant : Bytes(kKeyVariantSize, 0);
  if (!validBlockArguments(keyType, 2, pinFormat, variant) || pan.empty()) return ppad::kInvalidParameter;
  Bytes request = joined(blockRequest(keyType, pinFormat, variant, keyID), panBytes(pan));
  const int r = commandInto(*d_, ppad::kGroupUI, request, encryptedPIN);
  foundation::secureClear(request);
  return r;
}

int PPad::pinGetPINBlockFixedKey(int keyID, const std::optional<Bytes>& keyVariant, int pinFormat,
                                 Bytes* encryptedPIN) {
  return pinGetPINBlock(4, pinFormat, keyVariant, keyID, encryptedPIN);
}

int PPad::pinGetPINBlockMasterSession(const Bytes& workingKey, int keyID, int pinFormat, Bytes* encryptedPIN) {
  return pinGetPINBlock(3, pinFormat, workingKey, keyID, encryptedPIN);
}

int PPad::pinGetPINBlockDUKPT(int keyID, const std::optional<Bytes>& keyVariant, int pinFormat,
                              Bytes* encryptedPIN) {
  // A request the pinpad would be sent back for is refused before a key serial number is
  // spent on it: each DUKPT key is made once.
  if (!validBlockArguments(2, 1, pinFormat, keyVariant ? *keyVariant : Bytes(kKeyVariantSize, 0)))
    return ppad::kInvalidParameter;
  Bytes ksn;
  int r = dukptGenerateKeyOnline(keyID, &ksn);
  if (r != 0) return r;
  Bytes block;
  r = pinGetPINBlock(2, pinFormat, keyVariant, keyID, &block);
  if (r == 0 && encryptedPIN) *encryptedPIN = joined(block, ksn);
  foundation::secureClear(block);
  return r;
}

}  // namespace kestra
