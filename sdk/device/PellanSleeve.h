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
  Pellan* linkSleeve() override { return pellan_.get(); }

 private:
  class Events;
  std::shared_ptr<Pellan> pellan_;
  std::shared_ptr<Events> events_;
};

// Drivers for a device API: the sleeve is `pellan` and the pinpad `pad` (when given), both
// registered with `manager` (which also runs the accessory search of `tryConnect`); every
// other driver has no device.
std::shared_ptr<KXDriverFactory> makePellanDriverFactory(std::shared_ptr<Pellan> pellan,
                                                         EAManager* manager,
                                                         std::shared_ptr<PPad> pad = nullptr);

}  // namespace kestra
