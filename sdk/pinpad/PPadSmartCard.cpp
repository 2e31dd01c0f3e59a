// The contact smart-card reader (group 0x33): set-up, power, presence and APDU exchange.
#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadImpl.h"

namespace kestra {

namespace {
bool validSlot(int slot) { return slot == 0 || slot == 1; }
}  // namespace

int PPad::scInit(int slot, int voltage, int protocol) {
  if (!validSlot(slot) || voltage < 3 || voltage > 5 || protocol < 0 || protocol > 1)
    return ppad::kInvalidParameter;
  const int r = d_->command(ppad::kGroupSmartCard, {0x01, uint8_t(slot), uint8_t(voltage), uint8_t(protocol)});
  if (r == 0) {
    d_->smartCardSlot = slot;
    scIsCardPresent(slot);
  }
  return r;
}

int PPad::scIsCardPresent(int slot) {
  if (!validSlot(slot)) return ppad::kInvalidParameter;
  return d_->command(ppad::kGroupSmartCard, {0x04, uint8_t(slot)});
}

int PPad::scCardPowerOn(int slot, Bytes* atr) {
  if (!validSlot(slot)) return ppad::kInvalidParameter;
  int r = commandInto(*d_, ppad::kGroupSmartCard, {0x02, uint8_t(slot)}, atr);
  if (r != 0) r = commandInto(*d_, ppad::kGroupSmartCard, {0x02, uint8_t(slot)}, atr);
  return r;
}

int PPad::scCardPowerOff(int slot) {
  if (!validSlot(slot)) return ppad::kInvalidParameter;
  return d_->command(ppad::kGroupSmartCard, {0x03, uint8_t(slot)}, nullptr, true);
}

int PPad::scCAPDU(int slot, const Bytes& apdu, Bytes* response) {
  if (!validSlot(slot)) return ppad::kInvalidParameter;
  return commandInto(*d_, ppad::kGroupSmartCard, withArgs({0x05, uint8_t(slot)}, apdu), response);
}

int PPad::scEncryptedCAPDU(int slot, int encryption, int keyID, const Bytes& apdu, Bytes* response) {
  if (!validSlot(slot)) return ppad::kInvalidParameter;
  Bytes ksn;
  if (encryption == 0) {
    if (const int r = dukptGenerateKeyOnline(keyID, &ksn); r != 0) return r;
  }
  Bytes reply;
  const int r = commandInto(*d_, ppad::kGroupSmartCard, withArgs({0x07, uint8_t(slot)}, apdu), &reply);
  if (r == 0 && response) *response = joined(reply, ksn);
  foundation::secureClear(reply);
  return r;
}

int PPad::scClose(int slot) {
  if (!validSlot(slot)) return ppad::kInvalidParameter;
  return d_->command(ppad::kGroupSmartCard, {0x06, uint8_t(slot)}, nullptr, true);
}

int PPad::smartCardSlot() const { return d_->smartCardSlot; }

}  // namespace kestra
