// The "no device" bodies of the driver interfaces, and the factory's fixed making and
// registration order.

#include "sdk/device/KXDeviceDrivers.h"

#include <nlohmann/json.hpp>

#include "sdk/foundation/KXBatteryInfo.h"
#include "sdk/foundation/KXUNISDKGlobals.h"
#include "sdk/transport/EAManager.h"

namespace kestra {

Error noDeviceError() { return KXUNISDKGlobals::makeError(-20, std::string("No device connected")); }

namespace {
bool noDevice(Error* error) { return foundation::fail(error, noDeviceError()); }
}  // namespace

bool KXSleeveDriver::msEnable(Error* error) { return noDevice(error); }
std::optional<nlohmann::json> KXSleeveDriver::getFirmwareFileInformation(const Bytes&, Error* error) {
  noDevice(error);
  return std::nullopt;
}
bool KXSleeveDriver::updateFirmwareData(const Bytes&, bool, Error* error) { return noDevice(error); }
std::optional<nlohmann::json> KXStreamDriver::getFirmwareFileInformation(const Bytes&, Error* error) {
  noDevice(error);
  return std::nullopt;
}
bool KXSleeveDriver::msDisable(Error* error) { return noDevice(error); }
bool KXSleeveDriver::msSetCardDataMode(int, Error* error) { return noDevice(error); }
bool KXSleeveDriver::barcodeStartScan(Error* error) { return noDevice(error); }
bool KXSleeveDriver::barcodeStopScan(Error* error) { return noDevice(error); }
bool KXSleeveDriver::barcodeGetScanMode(int*, Error* error) { return noDevice(error); }
bool KXSleeveDriver::barcodeSetScanMode(int, Error* error) { return noDevice(error); }
bool KXSleeveDriver::barcodeGetScanButtonMode(int*, Error* error) { return noDevice(error); }
bool KXSleeveDriver::barcodeSetScanButtonMode(int, Error* error) { return noDevice(error); }
bool KXSleeveDriver::barcodeSetScanBeep(bool, int, const int*, int, Error* error) { return noDevice(error); }
bool KXSleeveDriver::barcodeGetBeepOnReady(bool*, Error* error) { return noDevice(error); }
bool KXSleeveDriver::barcodeSetBeepOnReady(bool, Error* error) { return noDevice(error); }
bool KXSleeveDriver::barcodeGetUVLights(bool*, Error* error) { return noDevice(error); }
bool KXSleeveDriver::barcodeSetUVLights(bool, Error* error) { return noDevice(error); }
bool KXSleeveDriver::playSound(int, const int*, int, Error* error) { return noDevice(error); }
bool KXSleeveDriver::getCharging(bool*, Error* error) { return noDevice(error); }
bool KXSleeveDriver::setCharging(bool, Error* error) { return noDevice(error); }
bool KXSleeveDriver::getSyncButtonMode(int*, Error* error) { return noDevice(error); }
bool KXSleeveDriver::setSyncButtonMode(int, Error* error) { return noDevice(error); }
bool KXSleeveDriver::getKioskMode(bool*, Error* error) { return noDevice(error); }
bool KXSleeveDriver::getBatteryCapacity(int*, float*, Error* error) { return noDevice(error); }
std::shared_ptr<KXBatteryInfo> KXSleeveDriver::getBatteryInfo(Error* error) {
  noDevice(error);
  return nullptr;
}
bool KXSleeveDriver::getUSBChargeCurrent(int*, Error* error) { return noDevice(error); }
bool KXSleeveDriver::setUSBChargeCurrent(int, Error* error) { return noDevice(error); }
bool KXSleeveDriver::uiControlLEDsWithBitMask(uint32_t, Error* error) { return noDevice(error); }

bool KXPrinterDriver::beep(Error* error) { return noDevice(error); }
std::optional<std::string> KXPrinterDriver::scanBarcode(double, int*, Error* error) {
  noDevice(error);
  return std::nullopt;
}

bool KXPrinterDriver::pageFillRectangle(int, Error* error) { return noDevice(error); }
bool KXPrinterDriver::pageFillRectangle(int, int, int, int, int, Error* error) { return noDevice(error); }
bool KXPrinterDriver::pageRectangleFrame(int, int, int, int, int, int, Error* error) { return noDevice(error); }

std::optional<nlohmann::json> KXPinpadDriver::msGetLastCardMaskedData(Error* error) {
  noDevice(error);
  return std::nullopt;
}

bool KXSerialAdapterDriver::serialSetSettings(int, int, int, int, int, Error* error) { return noDevice(error); }
bool KXSerialAdapterDriver::serialConnect(Error* error) { return noDevice(error); }

std::shared_ptr<KXSleeveDriver> KXDriverFactory::makeSleeve() { return std::make_shared<KXSleeveDriver>(); }
std::shared_ptr<KXPrinterDriver> KXDriverFactory::makePrinter(int) { return std::make_shared<KXPrinterDriver>(); }
std::shared_ptr<KXPinpadDriver> KXDriverFactory::makePinpad() { return std::make_shared<KXPinpadDriver>(); }
std::shared_ptr<KXSerialAdapterDriver> KXDriverFactory::makeSerialAdapter() {
  return std::make_shared<KXSerialAdapterDriver>();
}
std::shared_ptr<KXStreamDriver> KXDriverFactory::makeHub() { return std::make_shared<KXStreamDriver>(); }
std::shared_ptr<KXStreamDriver> KXDriverFactory::makeBarcodeHID() { return std::make_shared<KXStreamDriver>(); }
std::shared_ptr<KXStreamDriver> KXDriverFactory::makeKeyboardHID() { return std::make_shared<KXStreamDriver>(); }
std::shared_ptr<KXStreamDriver> KXDriverFactory::makeMagtek() { return std::make_shared<KXStreamDriver>(); }
std::shared_ptr<KXBLEStreamDriver> KXDriverFactory::makeBLEStream() { return std::make_shared<KXBLEStreamDriver>(); }

KXDriverSet KXDriverFactory::makeDrivers() {
  KXDriverSet set;
  set.sleeve = makeSleeve();
  set.printers[0] = makePrinter(0);
  set.printers[1] = makePrinter(1);
  set.pinpad = makePinpad();
  set.barcodeHID = makeBarcodeHID();
  set.keyboardHID = makeKeyboardHID();
  set.magtek = makeMagtek();
  set.adapter = makeSerialAdapter();
  set.hub = makeHub();
  set.ble = makeBLEStream();
  if (EAManager* manager = accessoryManager()) {
    for (KXDriverBase* driver : {static_cast<KXDriverBase*>(set.sleeve.get()),
                                 static_cast<KXDriverBase*>(set.printers[0].get()),
                                 static_cast<KXDriverBase*>(set.printers[1].get()),
                                 static_cast<KXDriverBase*>(set.pinpad.get()),
                                 static_cast<KXDriverBase*>(set.adapter.get()),
                                 static_cast<KXDriverBase*>(set.hub.get())})
      if (auto taker = driver->accessoryDriver()) manager->setDelegate(std::move(taker));
  }
  return set;
}

bool KXSleeveDriver::rfReaderInit(int, Error* error) { return noDevice(error); }
bool KXSleeveDriver::rfReaderClose(int, Error* error) { return noDevice(error); }
std::optional<Bytes> KXSleeveDriver::rfReaderWrite(int, const uint8_t*, int, Error* error) {
  noDevice(error);
  return std::nullopt;
}
bool KXPinpadDriver::rfReaderInit(int, Error* error) { return noDevice(error); }
bool KXPinpadDriver::rfReaderClose(int, Error* error) { return noDevice(error); }
std::optional<Bytes> KXPinpadDriver::rfReaderWrite(int, const uint8_t*, int, Error* error) {
  noDevice(error);
  return std::nullopt;
}

}  // namespace kestra
