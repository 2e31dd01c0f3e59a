#pragma once
// The pinpad driver `PPad` as the device API sees it.
//
// `PPadPinpad` forwards the device API's pinpad calls to a `PPad` unchanged and turns the
// driver's callbacks into the device API's driver callbacks, on the thread they arrive on
// (connection changes and pinpad events on the main queue, debug text on the run-loop
// thread, POG data on a global-queue thread). It registers itself as one of the driver's
// delegates, so other delegates of the driver keep receiving their events. The `PPad`
// itself takes the pinpad's accessories.
//
// Threads: as `PPad`: commands block the caller until the pinpad answers.

#include <memory>

#include "sdk/device/KXDeviceDrivers.h"

namespace kestra {

class PPad;

class PPadPinpad final : public KXPinpadDriver {
 public:
  explicit PPadPinpad(std::shared_ptr<PPad> pad);
  ~PPadPinpad() override;

  void attach(std::weak_ptr<KXDevices> api) override;
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
  int connectWithStreams(std::shared_ptr<accessory::InputStream> input,
                         std::shared_ptr<accessory::OutputStream> output) override;
  int emsrCommand(const uint8_t* packet, int length, uint8_t* reply, int capacity) override;

  int msStart() override;
  int msStop() override;
  int msSimulateCardData(const std::optional<std::string>& track1, const std::optional<std::string>& track2,
                         const std::optional<std::string>& track3) override;
  int msGetLoyaltyNumber(int id, Bytes* data) override;
  std::optional<nlohmann::json> msGetLastCardMaskedData(Error* error) override;
  int msUniversalGetEncryptedCardData(int format, int keyID, const Bytes& params, Bytes* data) override;
  int barStart() override;
  int barStop() override;
  int barGetScanMode(int* mode) override;
  int barSetScanMode(int mode) override;
  int barSetScanBeep(bool enabled, int volume, const int* beepData, int length) override;
  int sysGetEnabledEvents(uint32_t* mask) override;
  int sysEnableEvents(uint32_t mask) override;
  int sysPlaySound(const int* beepData, int length, int volume) override;
  // The pinpad's contactless reader: its bytes (write answers and RF data packets) go to
  // the contactless stack from the first `rfReaderInit` on.
  bool rfReaderInit(int readerType, Error* error) override;
  bool rfReaderClose(int readerType, Error* error) override;
  std::optional<Bytes> rfReaderWrite(int readerType, const uint8_t* data, int length, Error* error) override;
  int displayWidth() override;
  int displayHeight() override;
  bool displayAtBottom() override;
  PPad* securePad() override { return pad_.get(); }
#define KX_PRN_SHARED(R, API, DRV, PIN, P, A, F) R PIN P override;
#include "sdk/device/KXPrinterAPI.inc"
  int emv2Command(const uint8_t* data, int length, Bytes* result) override;
  int dukptGenerateKeyOnline(int keyID, Bytes* keySerial) override;

  // Scan engine and system settings (PPadPinpadSystem.cpp).
  int barReset() override;
  int barOpticonSetInitString(const std::string& text) override;
  int barSetInitData(const Bytes& data) override;
  int _barcodeEngineWrite(const uint8_t* data, int length, Bytes* out) override;
  int _barcodeEngineSpecialWrite(const uint8_t* data, int length, Bytes* out) override;
  int _barcodeEngineRead(Bytes* data) override;
  int _barcodeEngineDownloadModeEnable(bool on) override;
  int _barcodeEngineChangeBaudRate(int baud) override;
  int _barcodeEngineGetInitData(Bytes* data) override;
  int _barcodeEngineSetInitData(const Bytes& data) override;
  int commTest(int repetitions, int nBytes) override;
  int sysSetBatteryWarningLevelPercent(int percent) override;
  int getTimeRemainingToPowerOff(double* seconds) override;
  int sysTurnOff() override;
  bool sysIsDevelopmentUnit() override;
  int sysGetDate(std::chrono::system_clock::time_point* date) override;
  int sysSetDate(std::chrono::system_clock::time_point date) override;
  Bytes serialNumberCPU() override;

 private:
  class Events;
  std::shared_ptr<PPad> pad_;
  std::shared_ptr<Events> events_;
};

}  // namespace kestra
