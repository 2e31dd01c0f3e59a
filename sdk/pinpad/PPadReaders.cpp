// The smart-card, key, display and printer commands that the link and its events use:
// re-arming the smart-card slot after a removal, the next DUKPT key for card data, the
// keypad switched on at connection and the printer enabled for models that have one.
#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadImpl.h"

namespace kestra {

int PPad::scInit(int slot, int voltage, int protocol) {
  if (slot < 0 || slot > 1 || voltage < 3 || voltage > 5 || protocol < 0 || protocol > 1)
    return ppad::kInvalidParameter;
  const int r = d_->command(ppad::kGroupSmartCard, {0x01, uint8_t(slot), uint8_t(voltage), uint8_t(protocol)});
  if (r == 0) {
    d_->smartCardSlot = slot;
    scIsCardPresent(slot);
  }
  return r;
}

int PPad::scIsCardPresent(int slot) {
  if (slot < 0 || slot > 1) return ppad::kInvalidParameter;
  return d_->command(ppad::kGroupSmartCard, {0x04, uint8_t(slot)});
}

int PPad::dukptGenerateKeyOnline(int keyID, Bytes* keySerial) {
  if (keyID < 0 || keyID > 7) return ppad::kInvalidParameter;
  Bytes reply;
  const int r = d_->command(ppad::kGroupDukpt, {0x06, uint8_t(keyID)}, &reply);
  if (r == 0 && keySerial) *keySerial = std::move(reply);
  return r;
}

int PPad::uiKeyboardControl(bool enabled) {
  return d_->command(ppad::kGroupUI, {0x06, uint8_t(enabled ? 1 : 0)}, nullptr, true);
}

int PPad::prnEnable(bool enabled) {
  return d_->command(ppad::kGroupPrinter, {0x01, uint8_t(enabled ? 1 : 0)});
}

bool PPad::prnGetCapability(int capability, int* value, Error* error) {
  Bytes reply;
  int r = d_->command(ppad::kGroupPrinter, {0x04, uint8_t(capability)}, &reply);
  if (r == 0 && reply.size() < 4) r = ppad::kFailed;
  if (r != 0) {
    if (error) *error = KXUNISDKGlobals::makeError(-16500 - r, ppad::getErrorText(r));
    return false;
  }
  if (value) *value = int(foundation::readLE32(reply.data()));
  return true;
}

}  // namespace kestra
