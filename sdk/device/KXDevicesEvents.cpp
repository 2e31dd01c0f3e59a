// Driver events that the device API passes on to its delegates: buttons, keyboard, hub
// devices, debug text, UHF tags, RF and smart cards, PIN entry, paper and barcodes. EMV
// kernel events are parsed in KXDevicesEmv2Transaction.cpp.

#include "sdk/device/KXDevices.h"
#include "sdk/foundation/KXTLV.h"

namespace kestra {

void KXDevices::pellanButtonPressed(int button) {
  fanOut(kxsel::deviceButtonPressed, [button](KXDeviceDelegate& d) { d.deviceButtonPressed(button); });
}

void KXDevices::pellanButtonReleased(int button) {
  fanOut(kxsel::deviceButtonReleased, [button](KXDeviceDelegate& d) { d.deviceButtonReleased(button); });
}

void KXDevices::ppadButtonPressed(int button) { pellanButtonPressed(button); }
void KXDevices::ppadButtonReleased(int button) { pellanButtonReleased(button); }

void KXDevices::keyboardButtonPressed(bool pressed, int vk, signed char character, int modifiers) {
  fanOut(kxsel::keyboardButtonPressed, [&](KXDeviceDelegate& d) {
    d.keyboardButtonPressed(pressed, vk, character, modifiers);
  });
}

void KXDevices::TrelmoDeviceConnected(const std::shared_ptr<TrelmoDevice>& device) {
  fanOut(kxsel::TrelmoDeviceConnected, [&](KXDeviceDelegate& d) { d.TrelmoDeviceConnected(device); });
}

void KXDevices::TrelmoDeviceDisconnected(const std::shared_ptr<TrelmoDevice>& device) {
  fanOut(kxsel::TrelmoDeviceDisconnected, [&](KXDeviceDelegate& d) { d.TrelmoDeviceDisconnected(device); });
}

void KXDevices::kxdev_debug(const std::string& text, int source) {
  fanOut(kxsel::sdkDebug, [&](KXDeviceDelegate& d) { d.sdkDebug(text, source); });
}

void KXDevices::bluetoothDevicePassKeySent(const std::string& address, const std::string& passKey) {
  fanOut(kxsel::bluetoothDevicePassKeySent,
         [&](KXDeviceDelegate& d) { d.bluetoothDevicePassKeySent(address, passKey); });
}

void KXDevices::kxdev_uhfCard(uint16_t pc, const Bytes& epc) {
  fanOut(kxsel::uhfTagDetected, [&](KXDeviceDelegate& d) { d.uhfTagDetected(pc, epc); });
}

void KXDevices::rfImplCardDetected(int cardIndex, const std::shared_ptr<KXRFCardInfo>& info) {
  KXUNISDKGlobals::LOG("RF card detected at index %d", cardIndex);
  fanOut(kxsel::rfCardDetected, [&](KXDeviceDelegate& d) { d.rfCardDetected(cardIndex, info); });
}

void KXDevices::rfImplCardRemoved(int cardIndex) {
  KXUNISDKGlobals::LOG("RF card removed from index %d", cardIndex);
  fanOut(kxsel::rfCardRemoved, [&](KXDeviceDelegate& d) { d.rfCardRemoved(cardIndex); });
}

void KXDevices::smartCardInserted(int slot) {
  scinsert_ = true;
  fanOut(kxsel::smartCardInserted, [slot](KXDeviceDelegate& d) { d.smartCardInserted(slot); });
}

void KXDevices::smartCardRemoved(int slot) {
  // Removals are passed on once an insertion has been seen.
  if (!scinsert_.load()) return;
  fanOut(kxsel::smartCardRemoved, [slot](KXDeviceDelegate& d) { d.smartCardRemoved(slot); });
}

void KXDevices::PINEntryComplete(int status) {
  const std::optional<Error> error = status == 0 ? std::nullopt : std::optional<Error>(ppadError(status));
  fanOut(kxsel::PINEntryCompleteWithError, [&](KXDeviceDelegate& d) { d.PINEntryCompleteWithError(error); });
}

void KXDevices::paperStatus(bool present) {
  fanOut(kxsel::paperStatus, [present](KXDeviceDelegate& d) { d.paperStatus(present); });
}

void KXDevices::kxdev_barcodeData(const Bytes& barcode) {
  KXUNISDKGlobals::notifyBarcode(barcodeSnapshot(), barcode, barcodeTypeMode_.load(), barcodeScanMode_.load(),
                                 computeSupportedFeature(kFeatureBarcodeEngine), stripUPCZero_.load());
}

}  // namespace kestra
