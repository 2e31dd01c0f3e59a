#pragma once
// A receipt printer driver (`Printer`) as the device API sees it.
//
// `PrinterDevice` forwards the device API's printer calls to a `Printer` unchanged and turns
// the driver's callbacks (which `Printer` delivers on the main queue) into the device API's
// driver callbacks, on the same thread. It registers itself as one of the driver's
// delegates, so other delegates of the driver keep receiving their events.
//
// Threads: as `Printer`: commands block the caller until the printer answers.

#include <memory>

#include "sdk/device/KXDeviceDrivers.h"

namespace kestra {

class Printer;

class PrinterDevice final : public KXPrinterDriver {
 public:
  explicit PrinterDevice(std::shared_ptr<Printer> printer);
  ~PrinterDevice() override;

  const std::shared_ptr<Printer>& driver() const { return printer_; }

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
  bool connectWithStreams(std::shared_ptr<accessory::InputStream> input,
                          std::shared_ptr<accessory::OutputStream> output, Error* error) override;
  int emsrCommand(const uint8_t* packet, int length, uint8_t* reply, int capacity) override;

  bool beep(Error* error) override;
  // Settings, battery and the card reader.
  bool getInfo(int item, int* data, Error* error) override;
  bool setGenericPrinterSettingsPageWidth(int width, int feedLines, Error* error) override;
  bool prnSetAutoOffTime(int seconds, Error* error) override;
  bool scInit(Error* error) override;
  bool scClose(Error* error) override;
  std::optional<Bytes> scReset(Error* error) override;
  bool scIsCardPresent(Error* error) override;
  std::optional<Bytes> scAPDU(const Bytes& apdu, Error* error) override;
  void emsrSetTracks(int tracks) override;
  std::optional<std::string> scanBarcode(double timeoutSeconds, int* type, Error* error) override;
  bool loadLogo(const KXImage& image, int align, Error* error) override;
#define KX_PRN(R, API, DRV, P, A, F) R DRV P override;
#define KX_PRN_SHARED(R, API, DRV, PIN, P, A, F) R DRV P override;
#include "sdk/device/KXPrinterAPI.inc"
  int getPrinterStatus(Error* error) override;
  void prnStartTransaction() override;
  void prnEndStransaction() override;
  bool pageIsSupported() override;
  bool tableIsSupported() override;
  bool pageFillRectangle(int color, Error* error) override;
  bool pageFillRectangle(int left, int top, int width, int height, int color, Error* error) override;
  bool pageRectangleFrame(int left, int top, int width, int height, int frameWidth, int color,
                          Error* error) override;

 private:
  class Events;
  std::shared_ptr<Printer> printer_;
  std::shared_ptr<Events> events_;
};

}  // namespace kestra
