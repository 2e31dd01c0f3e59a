// Barcode scanning: scan start and stop, scan and button modes, beeps, lights, the SDK-side
// barcode numbering, and the scan loop that turns a receipt printer's scanner into the same
// barcode events as the other engines.

#include "platform/foundation/MainQueue.h"
#include "sdk/device/KXDevices.h"
#include "sdk/foundation/KXErrors.h"
#include "sdk/transport/GlobalQueue.h"

namespace kestra {

namespace {
constexpr uint32_t kScanButtonEventBit = 0x20;
}

bool KXDevices::barcodeStartScan(Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Pinpad, Kind::Printer});
  if (!kind) return routeError(error);
  if (*kind == Kind::Sleeve) return sleeve_->barcodeStartScan(error);
  if (*kind == Kind::Pinpad) return ppadResult(pinpad_->barStart(), error);
  // The printer: one loop at a time. The flag is taken here, before the loop is queued, so
  // that two quick starts cannot both run one.
  bool expected = false;
  if (!ppScanning_.compare_exchange_strong(expected, true))
    return foundation::fail(error, KXUNISDKGlobals::makeError(-5, std::string("Scanning still in process")));
  ppScanStop_ = false;
  std::weak_ptr<KXDevices> self = weak_from_this();
  GlobalQueue::async([self] {
    if (auto api = self.lock()) api->printerScanLoop();
  });
  return true;
}

void KXDevices::printerScanLoop() {
  std::optional<std::string> code;
  int type = 0;
  for (int attempt = 0; attempt < kPrinterScanAttempts && !ppScanStop_.load(); ++attempt) {
    code = printer().scanBarcode(kPrinterScanTimeoutSeconds, &type, nullptr);
    if (code && !code->empty()) break;
    code.reset();
  }
  if (code) {
    Bytes event;
    event.push_back(uint8_t(type & 0xFF));
    event.insert(event.end(), code->begin(), code->end());
    std::weak_ptr<KXDevices> self = weak_from_this();
    foundation::MainQueue::post([self, event] {
      if (auto api = self.lock()) api->kxdev_barcodeData(event);
    });
  }
  ppScanning_ = false;
}

bool KXDevices::barcodeStopScan(Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Pinpad, Kind::Printer});
  if (!kind) return routeError(error);
  if (*kind == Kind::Sleeve) return sleeve_->barcodeStopScan(error);
  if (*kind == Kind::Pinpad) return ppadResult(pinpad_->barStop(), error);
  ppScanStop_ = true;
  return true;
}

bool KXDevices::barcodeGetScanMode(int* mode, Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Pinpad, Kind::Printer});
  if (!kind) return routeError(error);
  if (*kind == Kind::Printer) {
    if (mode) *mode = 0;
    return true;
  }
  KXDriverBase& driver = *kind == Kind::Sleeve ? static_cast<KXDriverBase&>(*sleeve_) : *pinpad_;
  if (driver.getSupportedFeature(kFeatureBarcodeEngine, nullptr) == 0)
    return foundation::fail(error, KXUNISDKGlobals::makeError(-7, std::string(KXErrors::getErrorDescription(-7))));
  if (*kind == Kind::Sleeve) return sleeve_->barcodeGetScanMode(mode, error);
  if (!mode) return true;
  int value = 0;
  if (!ppadResult(pinpad_->barGetScanMode(&value), error)) return false;
  *mode = value;
  return true;
}

bool KXDevices::barcodeSetScanMode(int mode, Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Pinpad, Kind::Printer});
  if (!kind) return routeError(error);
  bool ok = false;
  if (*kind == Kind::Sleeve) {
    ok = sleeve_->barcodeSetScanMode(mode, error);
  } else if (*kind == Kind::Pinpad) {
    ok = ppadResult(pinpad_->barSetScanMode(mode), error);
  } else {
    if (mode == 0) return true;
    return foundation::fail(error,
                            KXUNISDKGlobals::makeError(-7, std::string("Feature not supported on the connected device")));
  }
  if (ok) barcodeScanMode_ = mode;
  return ok;
}

bool KXDevices::barcodeGetScanButtonMode(int* mode, Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Pinpad});
  if (!kind) return routeError(error);
  if (*kind == Kind::Sleeve) return sleeve_->barcodeGetScanButtonMode(mode, error);
  if (!mode) return true;
  uint32_t events = 0;
  pinpad_->sysGetEnabledEvents(&events);  // its status is not looked at
  *mode = (events & kScanButtonEventBit) ? 1 : 0;
  return true;
}

bool KXDevices::barcodeSetScanButtonMode(int mode, Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Pinpad});
  if (!kind) return routeError(error);
  if (*kind == Kind::Sleeve) return sleeve_->barcodeSetScanButtonMode(mode, error);
  uint32_t events = 0;
  if (!ppadResult(pinpad_->sysGetEnabledEvents(&events), error)) return false;
  events = mode == kButtonEnabled ? (events | kScanButtonEventBit) : (events & ~kScanButtonEventBit);
  return ppadResult(pinpad_->sysEnableEvents(events), error);
}

bool KXDevices::barcodeSetScanBeep(bool enabled, int volume, const int* beepData, int length, Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Pinpad});
  if (!kind) return routeError(error);
  if (*kind == Kind::Sleeve) return sleeve_->barcodeSetScanBeep(enabled, volume, beepData, length, error);
  return ppadResult(pinpad_->barSetScanBeep(enabled, volume, beepData, length), error);
}

bool KXDevices::barcodeGetBeepOnReady(bool* enabled, Error* error) {
  if (!route({Kind::Sleeve})) return routeError(error);
  return sleeve_->barcodeGetBeepOnReady(enabled, error);
}

bool KXDevices::barcodeSetBeepOnReady(bool enabled, Error* error) {
  if (!route({Kind::Sleeve})) return routeError(error);
  return sleeve_->barcodeSetBeepOnReady(enabled, error);
}

bool KXDevices::barcodeGetUVLights(bool* enabled, Error* error) {
  if (!route({Kind::Sleeve})) return routeError(error);
  return sleeve_->barcodeGetUVLights(enabled, error);
}

bool KXDevices::barcodeSetUVLights(bool enabled, Error* error) {
  if (!route({Kind::Sleeve})) return routeError(error);
  return sleeve_->barcodeSetUVLights(enabled, error);
}

bool KXDevices::barcodeGetTypeMode(int* mode, Error* /*error*/) {
  if (mode) *mode = barcodeTypeMode_.load();
  return true;
}

bool KXDevices::barcodeSetTypeMode(int mode, Error* /*error*/) {
  barcodeTypeMode_ = mode;
  return true;
}

bool KXDevices::barcodeSetUPCZeroStrip(bool enabled, Error* /*error*/) {
  stripUPCZero_ = enabled;
  return true;
}

std::string KXDevices::barcodeType2Text(int barcodeType) {
  return KXUNISDKGlobals::barcodeType2Text(barcodeType, barcodeTypeMode_.load());
}

}  // namespace kestra
