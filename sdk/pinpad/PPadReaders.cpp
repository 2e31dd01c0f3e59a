// The display and printer commands that the link uses: the keypad switched on at connection
// and the printer enabled for models that have one.
#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadImpl.h"

namespace kestra {

int PPad::uiKeyboardControl(bool enabled) {
  return d_->command(ppad::kGroupUI, {0x06, uint8_t(enabled ? 1 : 0)}, nullptr, true);
}

int PPad::prnEnable(bool enabled) {
  const int r = d_->command(ppad::kGroupPrinter, {0x01, uint8_t(enabled ? 1 : 0)});
  if (r == 0) {
    std::lock_guard<std::mutex> lock(d_->printCacheMutex);
    d_->printCache.clear();
  }
  return r;
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
