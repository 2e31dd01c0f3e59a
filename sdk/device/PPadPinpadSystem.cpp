// The pinpad's scan-engine and system-settings calls, passed to `PPad` unchanged.

#include "sdk/device/PPadPinpad.h"

#include "sdk/pinpad/PPad.h"

namespace kestra {

int PPadPinpad::barReset() { return pad_->barReset(); }
int PPadPinpad::barOpticonSetInitString(const std::string& text) { return pad_->barOpticonSetInitString(text); }
int PPadPinpad::barSetInitData(const Bytes& data) { return pad_->barSetInitData(data); }
int PPadPinpad::_barcodeEngineWrite(const uint8_t* data, int length, Bytes* out) {
  return pad_->_barcodeEngineWrite(data, length, out);
}
int PPadPinpad::_barcodeEngineSpecialWrite(const uint8_t* data, int length, Bytes* out) {
  return pad_->_barcodeEngineSpecialWrite(data, length, out);
}
int PPadPinpad::_barcodeEngineRead(Bytes* data) { return pad_->_barcodeEngineRead(data); }
int PPadPinpad::_barcodeEngineDownloadModeEnable(bool on) { return pad_->_barcodeEngineDownloadModeEnable(on); }
int PPadPinpad::_barcodeEngineChangeBaudRate(int baud) { return pad_->_barcodeEngineChangeBaudRate(baud); }
// The pinpad has no reply data for this command; only its status comes back.
int PPadPinpad::_barcodeEngineGetInitData(Bytes* /*data*/) { return pad_->_barcodeEngineGetInitData(); }
int PPadPinpad::_barcodeEngineSetInitData(const Bytes& data) { return pad_->_barcodeEngineSetInitData(data); }
int PPadPinpad::commTest(int repetitions, int nBytes) { return pad_->commTest(repetitions, nBytes); }
int PPadPinpad::sysSetBatteryWarningLevelPercent(int percent) { return pad_->sysSetBatteryWarningLevelPercent(percent); }
int PPadPinpad::getTimeRemainingToPowerOff(double* seconds) { return pad_->getTimeRemainingToPowerOff(seconds); }
int PPadPinpad::sysTurnOff() { return pad_->sysTurnOff(); }
bool PPadPinpad::sysIsDevelopmentUnit() { return pad_->sysIsDevelopmentUnit(); }
int PPadPinpad::sysGetDate(std::chrono::system_clock::time_point* date) { return pad_->sysGetDate(date); }
int PPadPinpad::sysSetDate(std::chrono::system_clock::time_point date) { return pad_->sysSetDate(date); }
Bytes PPadPinpad::serialNumberCPU() { return pad_->serialNumberCPU(); }

}  // namespace kestra
