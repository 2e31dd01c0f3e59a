// The sleeve's scan-engine and system-settings calls, passed to `Pellan` unchanged.

#include "sdk/device/PellanSleeve.h"

#include "sdk/sleeve/Pellan.h"

namespace kestra {

int PellanSleeve::getFWVER() { return pellan_->getFWVER(); }
bool PellanSleeve::barcodeEngineResetToDefaults(Error* error) { return pellan_->barcodeEngineResetToDefaults(error); }
bool PellanSleeve::barcodeEngineCheckReady(bool* ready, Error* error) {
  return pellan_->barcodeEngineCheckReady(ready, error);
}
bool PellanSleeve::barcodeEnginePowerControl(bool on, int maxTimeMinutes, Error* error) {
  return pellan_->barcodeEnginePowerControl(on, maxTimeMinutes, error);
}
bool PellanSleeve::barcodeOpticonSetInitString(const std::string& text, Error* error) {
  return pellan_->barcodeOpticonSetInitString(text, error);
}
bool PellanSleeve::barcodeOpticonSetParams(const std::string& params, bool saveToFlash, Error* error) {
  return pellan_->barcodeOpticonSetParams(params, saveToFlash, error);
}
std::optional<std::string> PellanSleeve::barcodeOpticonGetIdent(Error* error) {
  return pellan_->barcodeOpticonGetIdent(error);
}
bool PellanSleeve::barcodeOpticonUpdateFirmware(const Bytes& image, bool bootLoader, Error* error) {
  return pellan_->barcodeOpticonUpdateFirmware(image, bootLoader, error);
}
bool PellanSleeve::barcodeCodeSetParam(int param, uint64_t value, Error* error) {
  return pellan_->barcodeCodeSetParam(param, value, error);
}
bool PellanSleeve::barcodeCodeGetParam(int param, uint64_t* value, Error* error) {
  return pellan_->barcodeCodeGetParam(param, value, error);
}
bool PellanSleeve::barcodeCodeUpdateFirmware(const std::string& fileName, const Bytes& image, Error* error) {
  return pellan_->barcodeCodeUpdateFirmware(fileName, image, error);
}
std::optional<KXEngineInformation> PellanSleeve::barcodeCodeGetInformation(Error* error) {
  return pellan_->barcodeCodeGetInformation(error);
}
bool PellanSleeve::barcodeHoneywellSetInitString(const Bytes& data, Error* error) {
  return pellan_->barcodeHoneywellSetInitString(data, error);
}
bool PellanSleeve::barcodeIntermecSetInitData(const Bytes& data, Error* error) {
  return pellan_->barcodeIntermecSetInitData(data, error);
}
std::optional<Bytes> PellanSleeve::barcodeIntermecGetInitData(Error* error) {
  return pellan_->barcodeIntermecGetInitData(error);
}
std::optional<Bytes> PellanSleeve::barcodeNewlandQuery(const Bytes& query, Error* error) {
  return pellan_->barcodeNewlandQuery(query, error);
}
bool PellanSleeve::barcodeNewlandSetInitString(const std::string& text, Error* error) {
  return pellan_->barcodeNewlandSetInitString(text, error);
}
bool PellanSleeve::barcodeNewlandUpdateFirmware(const Bytes& image, Error* error) {
  return pellan_->barcodeNewlandUpdateFirmware(image, error);
}
std::optional<Bytes> PellanSleeve::_barcodeEngineWrite(const uint8_t* data, int length, Error* error) {
  return pellan_->_barcodeEngineWrite(data, length, error);
}
std::optional<Bytes> PellanSleeve::_barcodeEngineSpecialWrite(const uint8_t* data, int length, Error* error) {
  return pellan_->_barcodeEngineSpecialWrite(data, length, error);
}
std::optional<Bytes> PellanSleeve::_barcodeEngineRead(Error* error) { return pellan_->_barcodeEngineRead(error); }
bool PellanSleeve::_barcodeEngineDownloadModeEnable(bool on, Error* error) {
  return pellan_->_barcodeEngineDownloadModeEnable(on, error);
}
bool PellanSleeve::_barcodeEngineChangeBaudRate(int baud, Error* error) {
  return pellan_->_barcodeEngineChangeBaudRate(baud, error);
}
std::optional<Bytes> PellanSleeve::_barcodeEngineGetInitData(Error* error) {
  return pellan_->_barcodeEngineGetInitData(error);
}
bool PellanSleeve::_barcodeEngineSetInitData(const Bytes& data, Error* error) {
  return pellan_->_barcodeEngineSetInitData(data, error);
}
bool PellanSleeve::getTimeRemainingToPowerOff(double* seconds, Error* error) {
  return pellan_->getTimeRemainingToPowerOff(seconds, error);
}
bool PellanSleeve::sysSaveSettingsToFlash(Error* error) { return pellan_->sysSaveSettingsToFlash(error); }
bool PellanSleeve::sysPowerOff(Error* error) { return pellan_->sysPowerOff(error); }
bool PellanSleeve::sysEnterPassThrough(Error* error) { return pellan_->sysEnterPassThrough(error); }
bool PellanSleeve::sysMute(Error* error) { return pellan_->sysMute(error); }

}  // namespace kestra
