// The pinpad's PIN calls of the device API: PIN entry on the pinpad's keypad (blocking and
// in the background), the PAN for the next PIN block, PIN blocks under a fixed key, DUKPT or
// a master/session key, offline PIN verification against the chip card, button captions
// and a single key read. Each routes to the pinpad alone (active type 2, or automatic with
// the pinpad connected) and passes the driver's operation through; a pinpad status other
// than 0 becomes the pinpad's error. The PIN itself never reaches the host: the pinpad
// gives only encrypted blocks and verification results.
#include "sdk/device/KXDevices.h"
#include "sdk/pinpad/PPad.h"

namespace kestra {

namespace {

// The screen is cleared in full before a prompt is shown.
constexpr int kWholeScreen = 255;
// The blocking entry's prompt window, in characters; the background entry sizes its own.
constexpr int kPromptColumns = 16;
constexpr int kPromptRows = 4;

// Clears the screen and opens the prompt's text window (results are not examined: the entry
// shows its prompt either way).
void preparePrompt(PPad& pad, int columns, int rows, int font) {
  pad.uiFillRectangle(0, 0, kWholeScreen, kWholeScreen, 0);
  pad._uiOpenTextWindow(0, 0, columns, rows, font, 0);
}

}  // namespace

bool KXDevices::ppadPINEntry(int startX, int startY, int timeout, char echoChar, const OptText& message,
                             Error* error) {
  return ppadPINEntry(startX, startY, timeout, echoChar, message, 0, error);
}

bool KXDevices::ppadPINEntry(int startX, int startY, int timeout, char echoChar, const OptText& message, int font,
                             Error* error) {
  PPad* pad = securePinpad(error);
  if (!pad) return false;
  if (message) preparePrompt(*pad, kPromptColumns, kPromptRows, font);
  return ppadResult(pad->uiEnterPIN(startX, startY, timeout, uint8_t(echoChar), message), error);
}

bool KXDevices::ppadStartPINEntry(int startX, int startY, int timeout, char echoChar, const OptText& message,
                                  Error* error) {
  return ppadStartPINEntry(startX, startY, timeout, echoChar, -1, -1, message, 0, error);
}

bool KXDevices::ppadStartPINEntry(int startX, int startY, int timeout, char echoChar, const OptText& message,
                                  int font, Error* error) {
  return ppadStartPINEntry(startX, startY, timeout, echoChar, -1, -1, message, font, error);
}

bool KXDevices::ppadStartPINEntry(int startX, int startY, int timeout, char echoChar, int minPin, int maxPin,
                                  const OptText& message, int font, Error* error) {
  PPad* pad = securePinpad(error);
  if (!pad) return false;
  if (message) preparePrompt(*pad, 0, 0, font);
  return ppadResult(pad->uiEnterPINStart(startX, startY, timeout, uint8_t(echoChar), minPin, maxPin, message), error);
}

bool KXDevices::ppadCancelPINEntry(Error* error) {
  PPad* pad = securePinpad(error);
  return pad && ppadResult(pad->uiEnterPINCancel(), error);
}

bool KXDevices::ppadSetPAN(const OptText& pan, Error* error) {
  PPad* pad = securePinpad(error);
  return pad && ppadResult(pad->pinSetPAN(pan), error);
}

std::optional<Bytes> KXDevices::ppadGetPINBlockUsingFixedKey(int keyID, const std::optional<Bytes>& keyVariant,
                                                             int pinFormat, Error* error) {
  PPad* pad = securePinpad(error);
  if (!pad) return std::nullopt;
  Bytes block;
  if (!ppadResult(pad->pinGetPINBlockFixedKey(keyID, keyVariant, pinFormat, &block), error)) return std::nullopt;
  return block;
}

std::optional<Bytes> KXDevices::ppadGetPINBlockUsingDUKPT(int keyID, const std::optional<Bytes>& keyVariant,
                                                          int pinFormat, Error* error) {
  PPad* pad = securePinpad(error);
  if (!pad) return std::nullopt;
  Bytes block;
  if (!ppadResult(pad->pinGetPINBlockDUKPT(keyID, keyVariant, pinFormat, &block), error)) return std::nullopt;
  return block;
}

std::optional<Bytes> KXDevices::ppadGetPINBlockUsingMasterSession(const Bytes& sessionData, int fixedKeyID,
                                                                  int pinFormat, Error* error) {
  PPad* pad = securePinpad(error);
  if (!pad) return std::nullopt;
  Bytes block;
  if (!ppadResult(pad->pinGetPINBlockMasterSession(sessionData, fixedKeyID, pinFormat, &block), error))
    return std::nullopt;
  return block;
}

bool KXDevices::ppadVerifyPINOffline(bool encrypted, uint16_t* cardStatus, Error* error) {
  PPad* pad = securePinpad(error);
  return pad && ppadResult(pad->uiVerifyPINOffline(encrypted, cardStatus), error);
}

std::optional<Bytes> KXDevices::ppadVerifyPINOfflinePlainAndEncryptResponse(int keyKind, int keyID, Error* error) {
  PPad* pad = securePinpad(error);
  if (!pad) return std::nullopt;
  Bytes out;
  if (!ppadResult(pad->uiVerifyPINOfflinePlainAndEncryptResponse(keyKind, keyID, &out), error)) return std::nullopt;
  return out;
}

std::optional<Bytes> KXDevices::ppadVerifyPINOfflineEncryptedAndEncryptResponse(int keyKind, int keyID,
                                                                                Error* error) {
  PPad* pad = securePinpad(error);
  if (!pad) return std::nullopt;
  Bytes out;
  if (!ppadResult(pad->uiVerifyPINOfflineEncryptedAndEncryptResponse(keyKind, keyID, &out), error))
    return std::nullopt;
  return out;
}

bool KXDevices::ppadSetButtonCaption(int button, const std::string& caption, Error* error) {
  PPad* pad = securePinpad(error);
  return pad && ppadResult(pad->uiSetButtonCaption(button, caption), error);
}

bool KXDevices::ppadReadKey(char* key, Error* error) {
  PPad* pad = securePinpad(error);
  if (!pad) return false;
  uint8_t k = 0;
  if (!ppadResult(pad->uiReadKey(&k), error)) return false;
  if (key) *key = char(k);
  return true;
}

}  // namespace kestra
