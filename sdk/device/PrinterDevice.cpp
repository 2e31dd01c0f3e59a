#include "sdk/device/PrinterDevice.h"

#include "sdk/device/KXDevices.h"
#include "sdk/printer/Printer.h"

namespace kestra {

// The driver's delegate that hands its events to the device API.
class PrinterDevice::Events final : public PrinterDelegate {
 public:
  Events() {
    implements({prnsel::prnConnectionState, prnsel::kxdev_barcodeData, prnsel::magneticCardData,
                prnsel::kxdev_magneticCardEncryptedData, prnsel::paperStatus});
  }
  std::weak_ptr<KXDevices> api;

  void prnConnectionState(int state) override {
    if (auto a = api.lock()) a->prnConnectionState(state);
  }
  void kxdev_barcodeData(const Bytes& barcode) override {
    if (auto a = api.lock()) a->kxdev_barcodeData(barcode);
  }
  void magneticCardData(const std::optional<std::string>& t1, const std::optional<std::string>& t2,
                        const std::optional<std::string>& t3) override {
    if (auto a = api.lock()) a->magneticCardData(t1, t2, t3);
  }
  void kxdev_magneticCardEncryptedData(int encryption, int tracks, const Bytes& data,
                                       const std::optional<std::string>& t1,
                                       const std::optional<std::string>& t2,
                                       const std::optional<std::string>& t3, int source) override {
    if (auto a = api.lock()) a->kxdev_magneticCardEncryptedData(encryption, tracks, data, t1, t2, t3, source);
  }
  void paperStatus(bool present) override {
    if (auto a = api.lock()) a->paperStatus(present);
  }
};

PrinterDevice::PrinterDevice(std::shared_ptr<Printer> printer)
    : printer_(std::move(printer)), events_(std::make_shared<Events>()) {}

PrinterDevice::~PrinterDevice() { printer_->removeDelegate(events_); }

void PrinterDevice::attach(std::weak_ptr<KXDevices> api) {
  events_->api = std::move(api);
  printer_->addDelegate(events_);
}

std::shared_ptr<AccessoryManagerDelegate> PrinterDevice::accessoryDriver() { return printer_; }
std::string PrinterDevice::deviceName() { return printer_->deviceName(); }
std::string PrinterDevice::deviceModel() { return printer_->deviceModel(); }
std::string PrinterDevice::firmwareRevision() { return printer_->firmwareRevision(); }
std::string PrinterDevice::hardwareRevision() { return printer_->hardwareRevision(); }
std::string PrinterDevice::serialNumber() { return printer_->serialNumber(); }
int PrinterDevice::getSupportedFeature(int feature, Error* error) {
  return printer_->getSupportedFeature(feature, error);
}
int PrinterDevice::connstate() { return printer_->connstate(); }
void PrinterDevice::managedConnect() { printer_->managedConnect(); }
void PrinterDevice::disconnect() { printer_->disconnect(); }
bool PrinterDevice::isPresent() { return printer_->isPresent(); }
int PrinterDevice::connectionType() { return printer_->connectionType(); }
void PrinterDevice::setConnectionType(int type) { printer_->setConnectionType(type); }
bool PrinterDevice::connectWithStreams(std::shared_ptr<accessory::InputStream> input,
                                       std::shared_ptr<accessory::OutputStream> output, Error* error) {
  return printer_->connectWithStreams(std::move(input), std::move(output), error);
}
int PrinterDevice::emsrCommand(const uint8_t* packet, int length, uint8_t* reply, int capacity) {
  return printer_->emsrCommand(packet, length, reply, capacity);
}
bool PrinterDevice::beep(Error* error) { return printer_->beep(error); }
std::optional<std::string> PrinterDevice::scanBarcode(double timeoutSeconds, int* type, Error* error) {
  return printer_->scanBarcode(timeoutSeconds, type, error);
}

bool PrinterDevice::loadLogo(const KXImage& image, int align, Error* error) {
  return printer_->loadLogo(image, align, error);
}

#define KXDEF
#define KX_PRN(R, API, DRV, P, A, F) \
  R PrinterDevice::DRV P { return printer_->DRV A; }
#define KX_PRN_SHARED(R, API, DRV, PIN, P, A, F) KX_PRN(R, API, DRV, P, A, F)
#include "sdk/device/KXPrinterAPI.inc"

int PrinterDevice::getPrinterStatus(Error* error) { return printer_->getPrinterStatus(error); }
void PrinterDevice::prnStartTransaction() { printer_->prnStartTransaction(); }
void PrinterDevice::prnEndStransaction() { printer_->prnEndStransaction(); }
bool PrinterDevice::pageIsSupported() { return printer_->pageIsSupported(); }
bool PrinterDevice::tableIsSupported() { return printer_->tableIsSupported(); }
bool PrinterDevice::pageFillRectangle(int color, Error* error) { return printer_->pageFillRectangle(color, error); }
bool PrinterDevice::pageFillRectangle(int left, int top, int width, int height, int color, Error* error) {
  return printer_->pageFillRectangle(left, top, width, height, color, error);
}
bool PrinterDevice::pageRectangleFrame(int left, int top, int width, int height, int frameWidth, int color,
                                       Error* error) {
  return printer_->pageRectangleFrame(left, top, width, height, frameWidth, color, error);
}

// ---- Settings, battery and the card reader ----------------------------------------------------

bool PrinterDevice::getInfo(int item, int* data, Error* error) { return printer_->getInfo(item, data, error); }
bool PrinterDevice::setGenericPrinterSettingsPageWidth(int width, int feedLines, Error* error) {
  return printer_->setGenericPrinterSettingsPageWidth(width, feedLines, error);
}
bool PrinterDevice::prnSetAutoOffTime(int seconds, Error* error) { return printer_->prnSetAutoOffTime(seconds, error); }
bool PrinterDevice::scInit(Error* error) { return printer_->scInit(error); }
bool PrinterDevice::scClose(Error* error) { return printer_->scClose(error); }
std::optional<Bytes> PrinterDevice::scReset(Error* error) { return printer_->scReset(error); }
bool PrinterDevice::scIsCardPresent(Error* error) { return printer_->scIsCardPresent(error); }
std::optional<Bytes> PrinterDevice::scAPDU(const Bytes& apdu, Error* error) { return printer_->scAPDU(apdu, error); }
void PrinterDevice::emsrSetTracks(int tracks) { printer_->emsrSetTracks(tracks); }

}  // namespace kestra
