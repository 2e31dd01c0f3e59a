#pragma once
// The sleeve driver `Pellan` as the device API sees it, and the driver factory that the
// device API uses in production.
//
// `PellanSleeve` forwards the device API's sleeve calls to a `Pellan` unchanged and turns
// the driver's callbacks (which `Pellan` delivers on the main queue) into the device API's
// driver callbacks, on the same thread. It registers itself as one of the driver's
// delegates, so other delegates of the driver keep receiving their events.
//
// Threads: as `Pellan`: commands block the caller until the sleeve answers.

#include <memory>

#include "sdk/device/KXDeviceDrivers.h"

namespace kestra {

class Pellan;
class PPad;
class EAManager;

class PellanSleeve final : public KXSleeveDriver {
 public:
  explicit PellanSleeve(std::shared_ptr<Pellan> pellan);
  ~PellanSleeve() override;

  void attach(std::weak_ptr<KXDevices> api) override;
  // The `Pellan` itself takes the sleeve's accessories.
  std::shared_ptr<AccessoryManagerDelegate> accessoryDriver() override;
  std::string deviceName() override;
  std::string deviceModel() override;
  std::string firmwareRevision() override;
  std::string hardwareRevision() override;
  std::string serialNumber() override;
  int getSupportedFeature(int feature, Error* error) override;
  int connstate() override;
  void managedConnect() override;
  void disconnect() override;
  bool isPresent() override;
  int connectionType() override;
  void setConnectionType(int type) override;
  bool connectWithStreams(std::shared_ptr<accessory::InputStream> input,
                          std::shared_ptr<accessory::OutputStream> output, Error* error) override;
  int emsrCommand(const uint8_t* packet, int length, uint8_t* reply, int capacity) override;

  bool msEnable(Error* error) override;
  bool msDisable(Error* error) override;
  bool msSetCardDataMode(int mode, Error* error) override;
  bool barcodeStartScan(Error* error) override;
  bool barcodeStopScan(Error* error) override;
  bool barcodeGetScanMode(int* mode, Error* error) override;
  bool barcodeSetScanMode(int mode, Error* error) override;
  bool barcodeGetScanButtonMode(int* mode, Error* error) override;
  bool barcodeSetScanButtonMode(int mode, Error* error) override;
  bool barcodeSetScanBeep(bool enabled, int volume, const int* beepData, int length, Error* error) override;
  bool barcodeGetBeepOnReady(bool* on, Error* error) override;
  bool barcodeSetBeepOnReady(bool on, Error* error) override;
  bool barcodeGetUVLights(bool* on, Error* error) override;
  bool barcodeSetUVLights(bool on, Error* error) override;
  bool playSound(int volume, const int* beepData, int length, Error* error) override;
  bool getCharging(bool* charging, Error* error) override;
  bool setCharging(bool enabled, Error* error) override;
  bool getSyncButtonMode(int* mode, Error* error) override;
  bool setSyncButtonMode(int mode, Error* error) override;
  bool getKioskMode(bool* on, Error* error) override;
  bool rfReaderInit(int readerType, Error* error) override;
  bool rfReaderClose(int readerType, Error* error) override;
  std::optional<Bytes> rfReaderWrite(int readerType, const uint8_t* data, int length, Error* error) override;
  bool getBatteryCapacity(int* percent, float* volts, Error* error) override;
  std::shared_ptr<KXBatteryInfo> getBatteryInfo(Error* error) override;
  bool getUSBChargeCurrent(int* current, Error* error) override;
  bool setUSBChargeCurrent(int current, Error* error) override;
  bool uiControlLEDsWithBitMask(uint32_t mask, Error* error) override;
  bool uiEnableVibrationForTime(float seconds, Error* error) override;
  bool uiEnableSpeaker(bool on, Error* error) override;
  bool uiIsSpeakerEnabled(bool* on, Error* error) override;
  bool uiEnableSpeakerButton(bool on, Error* error) override;
  bool uiIsSpeakerButtonEnabled(bool* on, Error* error) override;
  bool uiEnableSpeakerAutoControl(bool on, Error* error) override;
  bool uiIsSpeakerAutoControlEnabled(bool* on, Error* error) override;
  std::optional<nlohmann::json> getFirmwareFileInformation(const Bytes& data, Error* error) override;
  bool updateFirmwareData(const Bytes& data, bool validate, Error* error) override;
  std::optional<Bytes> emv2Command(const uint8_t* data, int length, Error* error) override;
  bool vasInitWIthData(const Bytes& data, Error* error) override;
  bool vasClose(Error* error) override;
  bool vasLoadECCPrivateKeyAtSlot(int slot, const Bytes& key, uint32_t version, Error* error) override;
  bool vasGetECCPrivateKeyVersionAtSlot(int slot, uint32_t* version, Error* error) override;
  bool vasSetActiveECCPrivateKeyAtSlot(int slot, Error* error) override;
  bool vasSetCollectorID(uint32_t id, Error* error) override;
  bool emsrSetActiveHead(int head, Error* error) override;
  // Settings, keys, TransArmor, Voltage and the SAM slot.
  bool setKioskMode(bool on, Error* error) override;
  bool setBatteryMaxCapacity(int capacity, Error* error) override;
  bool setInternalBatteryChargeCurrentMode(int mode, Error* error) override;
  bool getInternalBatteryChargeCurrentMode(int* mode, Error* error) override;
  bool setAutoOffWhenIdle(double idle, double disconnected, Error* error) override;
  bool getAutoOffWhenIdle(double* idle, double* disconnected, Error* error) override;
  int getFirmwareVersion() override;
  std::optional<Bytes> cryptoRawGenerateRandomData(Error* error) override;
  bool cryptoRawSetKey(int keyID, const Bytes& data, uint32_t version, uint32_t flags, Error* error) override;
  bool cryptoSetKey(int keyID, const Bytes& key, const std::optional<Bytes>& oldKey, uint32_t version,
                    uint32_t flags, Error* error) override;
  bool cryptoGetKeyVersion(int keyID, uint32_t* version, Error* error) override;
  std::optional<Bytes> cryptoRawAuthenticateDevice(const Bytes& data, Error* error) override;
  bool cryptoAuthenticateDevice(const Bytes& key, Error* error) override;
  bool cryptoRawAuthenticateHost(const Bytes& data, Error* error) override;
  bool cryptoAuthenticateHost(const Bytes& key, Error* error) override;
  std::optional<Bytes> taCommand(const Bytes& data, Error* error) override;
  std::optional<Bytes> voltageCommand(const uint8_t* data, int length, Error* error) override;
  std::optional<Bytes> samPowerOn(Error* error) override;
  bool samPowerOff(Error* error) override;
  std::optional<Bytes> samRawAPDU(const Bytes& apdu, uint16_t* status, Error* error) override;
  bool samAPDU(uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2, const std::optional<Bytes>& data, uint16_t* status,
               Error* error) override;
  std::optional<Bytes> samCAPDU(uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2, const std::optional<Bytes>& data,
                                int outLength, uint16_t* status, Error* error) override;
  std::optional<Bytes> uhfCommand(const uint8_t* data, int length, Error* error) override;
  bool uhfInit(int code, Error* error) override;
  bool uhfClose(Error* error) override;
  bool uhfStartAutoReadForTagType(int tagType, int maxNumberOfTags, int maxTimeForTagging, int repeatCycleCount,
                                  Error* error) override;
  bool uhfStopAutoRead(Error* error) override;
  std::optional<Bytes> hidGetVersionInfo(Error* error) override;
  std::optional<Bytes> hidGetSerialNumber(Error* error) override;
  std::optional<Bytes> hidGetContentElement(int element, const std::optional<Bytes>& pin,
                                            const std::optional<Bytes>& rootSoOID, Error* error) override;
  std::optional<Bytes> hidProcessKeyRollerCard(Error* error) override;
  std::optional<Bytes> hidProcessConfigCard(Error* error) override;

  // Scan engine and system settings (PellanSleeveEngine.cpp).
  int getFWVER() override;
  bool barcodeEngineResetToDefaults(Error* error) override;
  bool barcodeEngineCheckReady(bool* ready, Error* error) override;
  bool barcodeEnginePowerControl(bool on, int maxTimeMinutes, Error* error) override;
  bool barcodeOpticonSetInitString(const std::string& text, Error* error) override;
  bool barcodeOpticonSetParams(const std::string& params, bool saveToFlash, Error* error) override;
  std::optional<std::string> barcodeOpticonGetIdent(Error* error) override;
  bool barcodeOpticonUpdateFirmware(const Bytes& image, bool bootLoader, Error* error) override;
  bool barcodeCodeSetParam(int param, uint64_t value, Error* error) override;
  bool barcodeCodeGetParam(int param, uint64_t* value, Error* error) override;
  bool barcodeCodeUpdateFirmware(const std::string& fileName, const Bytes& image, Error* error) override;
  std::optional<KXEngineInformation> barcodeCodeGetInformation(Error* error) override;
  bool barcodeHoneywellSetInitString(const Bytes& data, Error* error) override;
  bool barcodeIntermecSetInitData(const Bytes& data, Error* error) override;
  std::optional<Bytes> barcodeIntermecGetInitData(Error* error) override;
  std::optional<Bytes> barcodeNewlandQuery(const Bytes& query, Error* error) override;
  bool barcodeNewlandSetInitString(const std::string& text, Error* error) override;
  bool barcodeNewlandUpdateFirmware(const Bytes& image, Error* error) override;
  std::optional<Bytes> _barcodeEngineWrite(const uint8_t* data, int length, Error* error) override;
  std::optional<Bytes> _barcodeEngineSpecialWrite(const uint8_t* data, int length, Error* error) override;
  std::optional<Bytes> _barcodeEngineRead(Error* error) override;
  bool _barcodeEngineDownloadModeEnable(bool on, Error* error) override;
  bool _barcodeEngineChangeBaudRate(int baud, Error* error) override;
  std::optional<Bytes> _barcodeEngineGetInitData(Error* error) override;
  bool _barcodeEngineSetInitData(const Bytes& data, Error* error) override;
  bool getTimeRemainingToPowerOff(double* seconds, Error* error) override;
  bool sysSaveSettingsToFlash(Error* error) override;
  bool sysPowerOff(Error* error) override;
  bool sysEnterPassThrough(Error* error) override;
  bool sysMute(Error* error) override;
  Pellan* linkSleeve() override { return pellan_.get(); }

 private:
  class Events;
  // The SAM's and the RF reader's bytes reach the RF stack through the module sink.
  void ensureModuleSink();
  std::shared_ptr<Pellan> pellan_;
  std::shared_ptr<Events> events_;
};

// Drivers for a device API: the sleeve is `pellan` and the pinpad `pad` (when given), both
// registered with `manager` (which also runs the accessory search of `tryConnect`); every
// other driver has no device. The Bluetooth Low Energy link is `ble` when given, else one
// over the default radio.
std::shared_ptr<KXDriverFactory> makePellanDriverFactory(std::shared_ptr<Pellan> pellan,
                                                         EAManager* manager,
                                                         std::shared_ptr<PPad> pad = nullptr,
                                                         std::shared_ptr<KXBLEStreamDriver> ble = nullptr);

}  // namespace kestra
