// The pinpad's barcode engine (group 0x38, and the baud-rate command of group 0x36).
#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadImpl.h"

namespace kestra {

namespace {
constexpr uint32_t kBarcodeEvents = 0x20;
constexpr int kModeMultiScan = 1;
}  // namespace

int PPad::barStart() {
  // Barcode events for this scan without changing the mask the application chose.
  const uint32_t events = d_->events;
  if (!(events & kBarcodeEvents)) {
    sysEnableEvents(events | kBarcodeEvents);
    d_->events = d_->events & ~kBarcodeEvents;
  }
  return d_->command(ppad::kGroupBarcode, {0x01}, nullptr, true);
}

int PPad::barIsDataReady() { return d_->command(ppad::kGroupBarcode, {0x02}); }

int PPad::barGetBarcodeData(Bytes* data) {
  Bytes reply;
  const int r = d_->command(ppad::kGroupBarcode, {0x03}, &reply);
  if (r == 0 && data) *data = std::move(reply);
  return r;
}

int PPad::barStop() {
  if (!(d_->events & kBarcodeEvents)) sysEnableEvents(d_->events);
  return d_->command(ppad::kGroupBarcode, {0x04}, nullptr, true);
}

int PPad::_barGetScanMode() {
  Bytes reply;
  const int r = d_->command(ppad::kGroupBarcode, {0x05}, &reply);
  if (r != 0) return r;
  if (reply.empty()) return ppad::kFailed;
  d_->barcodeScanMode = int(reply[0]) - 1;
  return 0;
}

int PPad::barGetScanMode() {
  _barGetScanMode();
  return d_->barcodeScanMode;
}

int PPad::barcodeScanMode() const { return d_->barcodeScanMode; }

int PPad::barSetScanMode(int mode) {
  // The pinpad filters repeated codes itself in multi-scan mode.
  if (mode == kModeMultiScan) mode = MODE_MULTI_SCAN_NO_DUPLICATES;
  const int r = d_->command(ppad::kGroupBarcode, {0x05, uint8_t(mode + 1)});
  if (r == 0) d_->barcodeScanMode = mode;
  return r;
}

int PPad::barOpticonSetInitString(std::string_view text) {
  const Bytes bytes = getTextBytes(text);  // its terminating zero does not go out
  const Bytes data = withArgs({0x06}, bytes.data(), bytes.size() - 1);
  return d_->command(ppad::kGroupBarcode, data, nullptr, true);
}

int PPad::barSetInitData(const Bytes& init) {
  return d_->command(ppad::kGroupBarcode, withArgs({0x06}, init), nullptr, true);
}

int PPad::_barcodeEngineSetInitData(const Bytes& init) { return barSetInitData(init); }

int PPad::barSetScanBeep(bool enabled, int volume, const int* beepData, int length) {
  if (volume > 100) return ppad::kInvalidParameter;
  Bytes data = {0x07};
  if (enabled && beepData) {
    const int n = length / 4;  // an unpaired last number is ignored
    for (int i = 0; i + 1 < n; i += 2) {
      foundation::appendLE16(data, uint16_t(beepData[i]));
      foundation::appendLE16(data, uint16_t(beepData[i + 1]));
      data.push_back(uint8_t((volume / 2) & 0x7F));
    }
  }
  return d_->command(ppad::kGroupBarcode, data, nullptr, true);
}

int PPad::barReset() { return d_->command(ppad::kGroupBarcode, {0x08}, nullptr, true); }

int PPad::_barcodeEngineDownloadModeEnable(bool on) {
  return d_->command(ppad::kGroupBarcode, {0x09, uint8_t(on ? 1 : 0)});
}

int PPad::_barcodeEngineRead(Bytes* data) {
  Bytes reply;
  const int r = d_->command(ppad::kGroupBarcode, {0x0A}, &reply);
  if (r == 0 && data) *data = std::move(reply);
  return r;
}

int PPad::_barcodeEngineWrite(const uint8_t* bytes, int length, Bytes* out) {
  if (length < 0 || (!bytes && length > 0)) return ppad::kInvalidParameter;
  Bytes reply;
  const int r = d_->command(ppad::kGroupBarcode, withArgs({0x0B}, bytes, size_t(length)), &reply);
  if (r == 0 && out) *out = std::move(reply);
  return r;
}

int PPad::_barcodeEngineChangeBaudRate(int baud) {
  KXUNISDKGlobals::LOG("PPad: Cange baud to: %d", baud);
  Bytes data = {0x19, 0x03};
  foundation::appendLE32(data, uint32_t(baud));
  data.push_back(0x00);
  return d_->command(ppad::kGroupSystem, data);
}

int PPad::_barcodeEngineGetInitData() { return ppad::kNotSupported; }

int PPad::_barcodeEngineSpecialWrite(const uint8_t*, int, Bytes*) { return ppad::kNotSupported; }

}  // namespace kestra
