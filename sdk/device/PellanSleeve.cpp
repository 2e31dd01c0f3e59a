#include "sdk/device/PellanSleeve.h"

#include "sdk/device/HubDevices.h"
#include "sdk/hub/CarvikStream.h"
#include "sdk/hub/HubReaders.h"
#include "sdk/hub/USBManager.h"
#include "sdk/rf/IClassSam.h"
#include "sdk/rf/RFWrapper.h"

#include "sdk/device/BTLELink.h"
#include "sdk/device/KXDevices.h"
#include "sdk/device/PPadPinpad.h"
#include "sdk/device/PrinterDevice.h"
#include "sdk/pinpad/PPad.h"
#include "sdk/printer/Printer.h"
#include "sdk/sleeve/Pellan.h"
#include "sdk/transport/EAManager.h"

namespace kestra {

// The driver's callbacks, passed on to the device API on the thread they arrive on.
class PellanSleeve::Events final : public PellanDelegate {
 public:
  Events() {
    implements({sel::connectionState, sel::deviceFeatureSupported, sel::pellanButtonPressed,
                sel::pellanButtonReleased, sel::kxdev_debug, sel::kxdev_barcodeData, sel::kxdev_uhfCard,
                sel::kxdev_magneticPassbookData, sel::kxdev_magneticCTDOTData, sel::magneticCardData,
                sel::magneticJISCardData, sel::magneticF2FCardData, sel::magneticCardRawData,
                sel::bluetoothDevicePassKeySent, sel::kxdev_emv2Event, sel::kxdev_magneticCardEncryptedData,
                sel::firmwareUpdateProgress});
  }
  std::weak_ptr<KXDevices> api;

  void connectionState(int state) override {
    if (auto a = api.lock()) a->connectionState(state);
  }
  void firmwareUpdateProgress(int phase, int percent) override {
    if (auto a = api.lock()) a->firmwareUpdateProgress(phase, percent);
  }
  void deviceFeatureSupported(int feature, int value) override {
    if (auto a = api.lock()) a->deviceFeatureSupported(feature, value);
  }
  void pellanButtonPressed(int button) override {
    if (auto a = api.lock()) a->pellanButtonPressed(button);
  }
  void pellanButtonReleased(int button) override {
    if (auto a = api.lock()) a->pellanButtonReleased(button);
  }
  void kxdev_debug(const std::string& text, int source) override {
    if (auto a = api.lock()) a->kxdev_debug(text, source);
  }
  void kxdev_barcodeData(const foundation::Bytes& barcode) override {
    if (auto a = api.lock()) a->kxdev_barcodeData(barcode);
  }
  void kxdev_uhfCard(int pc, const foundation::Bytes& epc) override {
    if (auto a = api.lock()) a->kxdev_uhfCard(uint16_t(pc), epc);
  }
  void kxdev_magneticPassbookData(const foundation::Bytes& data) override {
    if (auto a = api.lock()) a->kxdev_magneticPassbookData(data);
  }
  void kxdev_magneticCTDOTData(const foundation::Bytes& data) override {
    if (auto a = api.lock()) a->kxdev_magneticCTDOTData(data);
  }
  void magneticCardData(const std::optional<std::string>& track1, const std::optional<std::string>& track2,
                        const std::optional<std::string>& track3) override {
    if (auto a = api.lock()) a->magneticCardData(track1, track2, track3);
  }
  void magneticJISCardData(const std::string& data) override {
    if (auto a = api.lock()) a->magneticJISCardData(data);
  }
  void magneticF2FCardData(const std::string& data) override {
    if (auto a = api.lock()) a->magneticF2FCardData(data);
  }
  void magneticCardRawData(const foundation::Bytes& data) override {
    if (auto a = api.lock()) a->magneticCardRawData(data);
  }
  void bluetoothDevicePassKeySent(const std::string& address, const std::string& passKey) override {
    if (auto a = api.lock()) a->bluetoothDevicePassKeySent(address, passKey);
  }
  void kxdev_emv2Event(const foundation::Bytes& event) override {
    if (auto a = api.lock()) a->kxdev_emv2Event(event);
  }
  void kxdev_magneticCardEncryptedData(int encryption, int tracks, const foundation::Bytes& data,
                                       const std::optional<std::string>& track1masked,
                                       const std::optional<std::string>& track2masked,
                                       const std::optional<std::string>& track3, int source) override {
    if (auto a = api.lock())
      a->kxdev_magneticCardEncryptedData(encryption, tracks, data, track1masked, track2masked, track3, source);
  }
  bool clientsRespondToSelector(std::string_view selector) override {
    auto a = api.lock();
    return a && a->clientsRespondToSelector(selector);
  }
};

PellanSleeve::PellanSleeve(std::shared_ptr<Pellan> pellan)
    : pellan_(std::move(pellan)), events_(std::make_shared<Events>()) {}

PellanSleeve::~PellanSleeve() { pellan_->removeDelegate(events_); }

std::shared_ptr<AccessoryManagerDelegate> PellanSleeve::accessoryDriver() { return pellan_; }

void PellanSleeve::attach(std::weak_ptr<KXDevices> api) {
  events_->api = std::move(api);
  pellan_->addDelegate(events_);
}

std::string PellanSleeve::deviceName() { return pellan_->deviceName(); }
std::string PellanSleeve::deviceModel() { return pellan_->deviceModel(); }
std::string PellanSleeve::firmwareRevision() { return pellan_->firmwareRevision(); }
std::string PellanSleeve::hardwareRevision() { return pellan_->hardwareRevision(); }
std::string PellanSleeve::serialNumber() { return pellan_->serialNumber(); }
int PellanSleeve::getSupportedFeature(int feature, Error* error) { return pellan_->getSupportedFeature(feature, error); }
int PellanSleeve::connstate() { return pellan_->connstate(); }
void PellanSleeve::managedConnect() { pellan_->managedConnect(); }
void PellanSleeve::disconnect() { pellan_->disconnect(); }
bool PellanSleeve::isPresent() { return pellan_->isPresent(); }
int PellanSleeve::connectionType() { return pellan_->connectionType(); }
void PellanSleeve::setConnectionType(int type) { pellan_->setConnectionType(type); }
bool PellanSleeve::connectWithStreams(std::shared_ptr<accessory::InputStream> input,
                                      std::shared_ptr<accessory::OutputStream> output, Error* error) {
  return pellan_->connectWithStreams(std::move(input), std::move(output), error);
}
int PellanSleeve::emsrCommand(const uint8_t* packet, int length, uint8_t* reply, int capacity) {
  return pellan_->emsrCommand(packet, length, reply, capacity);
}

bool PellanSleeve::msEnable(Error* error) { return pellan_->msEnable(error); }
bool PellanSleeve::msDisable(Error* error) { return pellan_->msDisable(error); }
bool PellanSleeve::msSetCardDataMode(int mode, Error* error) { return pellan_->msSetCardDataMode(mode, error); }
bool PellanSleeve::barcodeStartScan(Error* error) { return pellan_->barcodeStartScan(error); }
bool PellanSleeve::barcodeStopScan(Error* error) { return pellan_->barcodeStopScan(error); }
bool PellanSleeve::barcodeGetScanMode(int* mode, Error* error) { return pellan_->barcodeGetScanMode(mode, error); }
bool PellanSleeve::barcodeSetScanMode(int mode, Error* error) { return pellan_->barcodeSetScanMode(mode, error); }
bool PellanSleeve::barcodeGetScanButtonMode(int* mode, Error* error) {
  return pellan_->barcodeGetScanButtonMode(mode, error);
}
bool PellanSleeve::barcodeSetScanButtonMode(int mode, Error* error) {
  return pellan_->barcodeSetScanButtonMode(mode, error);
}
bool PellanSleeve::barcodeSetScanBeep(bool enabled, int volume, const int* beepData, int length, Error* error) {
  return pellan_->barcodeSetScanBeep(enabled, volume, beepData, length, error);
}
bool PellanSleeve::barcodeGetBeepOnReady(bool* on, Error* error) { return pellan_->barcodeGetBeepOnReady(on, error); }
bool PellanSleeve::barcodeSetBeepOnReady(bool on, Error* error) { return pellan_->barcodeSetBeepOnReady(on, error); }
bool PellanSleeve::barcodeGetUVLights(bool* on, Error* error) { return pellan_->barcodeGetUVLights(on, error); }
bool PellanSleeve::barcodeSetUVLights(bool on, Error* error) { return pellan_->barcodeSetUVLights(on, error); }
bool PellanSleeve::playSound(int volume, const int* beepData, int length, Error* error) {
  return pellan_->playSound(volume, beepData, length, error);
}
bool PellanSleeve::getCharging(bool* charging, Error* error) { return pellan_->getCharging(charging, error); }
bool PellanSleeve::setCharging(bool enabled, Error* error) { return pellan_->setCharging(enabled, error); }
bool PellanSleeve::getSyncButtonMode(int* mode, Error* error) { return pellan_->getSyncButtonMode(mode, error); }
bool PellanSleeve::setSyncButtonMode(int mode, Error* error) { return pellan_->setSyncButtonMode(mode, error); }
bool PellanSleeve::getKioskMode(bool* on, Error* error) { return pellan_->getKioskMode(on, error); }
std::optional<nlohmann::json> PellanSleeve::getFirmwareFileInformation(const Bytes& data, Error* error) {
  auto info = pellan_->getFirmwareFileInformation(data, error);
  if (!info) return std::nullopt;
  return info->toJson();
}
bool PellanSleeve::updateFirmwareData(const Bytes& data, bool validate, Error* error) {
  return pellan_->updateFirmwareData(data, validate, error);
}
bool PellanSleeve::getBatteryCapacity(int* percent, float* volts, Error* error) {
  return pellan_->getBatteryCapacity(percent, volts, error);
}
std::shared_ptr<KXBatteryInfo> PellanSleeve::getBatteryInfo(Error* error) { return pellan_->getBatteryInfo(error); }
bool PellanSleeve::getUSBChargeCurrent(int* current, Error* error) { return pellan_->getUSBChargeCurrent(current, error); }
bool PellanSleeve::setUSBChargeCurrent(int current, Error* error) { return pellan_->setUSBChargeCurrent(current, error); }
bool PellanSleeve::uiControlLEDsWithBitMask(uint32_t mask, Error* error) {
  return pellan_->uiControlLEDsWithBitMask(mask, error);
}
bool PellanSleeve::uiEnableVibrationForTime(float seconds, Error* error) {
  return pellan_->uiEnableVibrationForTime(seconds, error);
}
bool PellanSleeve::uiEnableSpeaker(bool on, Error* error) { return pellan_->uiEnableSpeaker(on, error); }
bool PellanSleeve::uiIsSpeakerEnabled(bool* on, Error* error) { return pellan_->uiIsSpeakerEnabled(on, error); }
bool PellanSleeve::uiEnableSpeakerButton(bool on, Error* error) { return pellan_->uiEnableSpeakerButton(on, error); }
bool PellanSleeve::uiIsSpeakerButtonEnabled(bool* on, Error* error) {
  return pellan_->uiIsSpeakerButtonEnabled(on, error);
}
bool PellanSleeve::uiEnableSpeakerAutoControl(bool on, Error* error) {
  return pellan_->uiEnableSpeakerAutoControl(on, error);
}
bool PellanSleeve::uiIsSpeakerAutoControlEnabled(bool* on, Error* error) {
  return pellan_->uiIsSpeakerAutoControlEnabled(on, error);
}

// ---- Factories ---------------------------------------------------------------------------------

namespace {

class PellanDriverFactory final : public KXDriverFactory {
 public:
  PellanDriverFactory(std::shared_ptr<Pellan> pellan, EAManager* manager, std::shared_ptr<PPad> pad,
                      std::shared_ptr<KXBLEStreamDriver> ble)
      : pellan_(std::move(pellan)), manager_(manager), pad_(std::move(pad)), ble_(std::move(ble)) {}
  std::shared_ptr<KXBLEStreamDriver> makeBLEStream() override { return ble_ ? ble_ : makeBTLELink(); }
  std::shared_ptr<KXSleeveDriver> makeSleeve() override { return std::make_shared<PellanSleeve>(pellan_); }
  // The printers and the pinpad also take devices plugged into the hub's ports: they are the
  // hub's first port-device drivers, before the HID readers, as the device API makes them.
  std::shared_ptr<KXPinpadDriver> makePinpad() override {
    if (!pad_) return KXDriverFactory::makePinpad();
    auto pinpad = std::make_shared<PPadPinpad>(pad_);
    if (manager_) hub()->setDelegate(pinpad->accessoryDriver());
    return pinpad;
  }
  std::shared_ptr<KXPrinterDriver> makePrinter(int index) override {
    if (!manager_) return KXDriverFactory::makePrinter(index);
    auto printer = std::make_shared<PrinterDevice>(Printer::create(index, *manager_));
    hub()->setDelegate(printer->accessoryDriver());
    return printer;
  }
  std::shared_ptr<KXSerialAdapterDriver> makeSerialAdapter() override {
    return manager_ ? makeSerialAdapterDriver(CarvikStream::create()) : KXDriverFactory::makeSerialAdapter();
  }
  std::shared_ptr<KXStreamDriver> makeHub() override {
    return manager_ ? makeHubDriver(hub()) : KXDriverFactory::makeHub();
  }
  std::shared_ptr<KXStreamDriver> makeBarcodeHID() override {
    return manager_ ? makeHubReaderDriver(BarcodeHID::create(), hub()) : KXDriverFactory::makeBarcodeHID();
  }
  std::shared_ptr<KXStreamDriver> makeKeyboardHID() override {
    return manager_ ? makeHubReaderDriver(KeyboardHID::create(), hub()) : KXDriverFactory::makeKeyboardHID();
  }
  std::shared_ptr<KXStreamDriver> makeMagtek() override {
    return manager_ ? makeHubReaderDriver(Magtek::create(), hub()) : KXDriverFactory::makeMagtek();
  }
  EAManager* accessoryManager() override { return manager_; }
  void tryConnect() override {
    if (manager_) manager_->tryConnect();
  }

 private:
  std::shared_ptr<Pellan> pellan_;
  EAManager* manager_;
  std::shared_ptr<PPad> pad_;
  std::shared_ptr<KXBLEStreamDriver> ble_;
  // The hub of this factory's drivers: the process-wide one over the shared accessory
  // manager, a hub of its own over any other.
  std::shared_ptr<USBManager> hub() {
    if (!hub_)
      hub_ = manager_ == &EAManager::sharedManager() ? USBManager::sharedManager().shared_from_this()
                                                     : USBManager::create();
    return hub_;
  }
  std::shared_ptr<USBManager> hub_;
};

}  // namespace

std::shared_ptr<KXDriverFactory> makePellanDriverFactory(std::shared_ptr<Pellan> pellan, EAManager* manager,
                                                         std::shared_ptr<PPad> pad,
                                                         std::shared_ptr<KXBLEStreamDriver> ble) {
  return std::make_shared<PellanDriverFactory>(std::move(pellan), manager, std::move(pad), std::move(ble));
}

std::shared_ptr<KXDriverFactory> KXDriverFactory::standard() {
  Pellan& pellan = Pellan::sharedDevice();
  return makePellanDriverFactory(pellan.shared_from_this(), &EAManager::sharedManager(),
                                 PPad::sharedDevice().shared_from_this());
}

// ---- Contactless reader ---------------------------------------------------------------------

namespace {
// The sleeve's reader bytes (answers and card events) go to the contactless stack, its SAM's
// answers to the iClass SAM layer.
class RFStackSink final : public PellanModuleSink {
 public:
  void rfDataAvailable(const Bytes& data) override { RFWrapper::dataAvaiable(data); }
  void iClassDataAvailable(const uint8_t* data, int length) override { kestra::iClassDataAvailable(data, length); }
};
}  // namespace

void PellanSleeve::ensureModuleSink() {
  if (!pellan_->moduleSink()) pellan_->setModuleSink(std::make_shared<RFStackSink>());
}

bool PellanSleeve::rfReaderInit(int readerType, Error* error) {
  ensureModuleSink();
  return pellan_->rfReaderInit(readerType, error);
}

bool PellanSleeve::rfReaderClose(int readerType, Error* error) { return pellan_->rfReaderClose(readerType, error); }

std::optional<Bytes> PellanSleeve::rfReaderWrite(int readerType, const uint8_t* data, int length, Error* error) {
  return pellan_->rfReaderWrite(readerType, data, length, error);
}

// ---- Settings, keys, TransArmor, Voltage and the SAM slot ----------------------------------

bool PellanSleeve::setKioskMode(bool on, Error* error) { return pellan_->setKioskMode(on, error); }
bool PellanSleeve::setBatteryMaxCapacity(int capacity, Error* error) {
  return pellan_->setBatteryMaxCapacity(capacity, error);
}
bool PellanSleeve::setInternalBatteryChargeCurrentMode(int mode, Error* error) {
  return pellan_->setInternalBatteryChargeCurrentMode(mode != 0, error);
}
bool PellanSleeve::getInternalBatteryChargeCurrentMode(int* mode, Error* error) {
  bool on = false;
  if (!pellan_->getInternalBatteryChargeCurrentMode(&on, error)) return false;
  if (mode) *mode = on ? 1 : 0;
  return true;
}
bool PellanSleeve::setAutoOffWhenIdle(double idle, double disconnected, Error* error) {
  return pellan_->setAutoOffWhenIdle(idle, disconnected, error);
}
bool PellanSleeve::getAutoOffWhenIdle(double* idle, double* disconnected, Error* error) {
  return pellan_->getAutoOffWhenIdle(idle, disconnected, error);
}
int PellanSleeve::getFirmwareVersion() { return pellan_->getFirmwareVersion(); }
std::optional<Bytes> PellanSleeve::cryptoRawGenerateRandomData(Error* error) {
  return pellan_->cryptoRawGenerateRandomData(error);
}
bool PellanSleeve::cryptoRawSetKey(int keyID, const Bytes& data, uint32_t version, uint32_t flags, Error* error) {
  return pellan_->cryptoRawSetKey(keyID, data, version, flags, error);
}
bool PellanSleeve::cryptoSetKey(int keyID, const Bytes& key, const std::optional<Bytes>& oldKey, uint32_t version,
                                uint32_t flags, Error* error) {
  return pellan_->cryptoSetKey(keyID, key, oldKey, version, flags, error);
}
bool PellanSleeve::cryptoGetKeyVersion(int keyID, uint32_t* version, Error* error) {
  return pellan_->cryptoGetKeyVersion(keyID, version, error);
}
std::optional<Bytes> PellanSleeve::cryptoRawAuthenticateDevice(const Bytes& data, Error* error) {
  return pellan_->cryptoRawAuthenticateDevice(data, error);
}
bool PellanSleeve::cryptoAuthenticateDevice(const Bytes& key, Error* error) {
  return pellan_->cryptoAuthenticateDevice(key, error);
}
bool PellanSleeve::cryptoRawAuthenticateHost(const Bytes& data, Error* error) {
  return pellan_->cryptoRawAuthenticateHost(data, error);
}
bool PellanSleeve::cryptoAuthenticateHost(const Bytes& key, Error* error) {
  return pellan_->cryptoAuthenticateHost(key, error);
}
std::optional<Bytes> PellanSleeve::taCommand(const Bytes& data, Error* error) { return pellan_->taCommand(data, error); }
std::optional<Bytes> PellanSleeve::voltageCommand(const uint8_t* data, int length, Error* error) {
  return pellan_->voltageCommand(data, length, error);
}
std::optional<Bytes> PellanSleeve::samPowerOn(Error* error) { return pellan_->samPowerOn(error); }
bool PellanSleeve::samPowerOff(Error* error) { return pellan_->samPowerOff(error); }
std::optional<Bytes> PellanSleeve::samRawAPDU(const Bytes& apdu, uint16_t* status, Error* error) {
  return pellan_->samRawAPDU(apdu, status, error);
}
bool PellanSleeve::samAPDU(uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2, const std::optional<Bytes>& data,
                           uint16_t* status, Error* error) {
  return pellan_->samAPDU(cla, ins, p1, p2, data, status, error);
}
std::optional<Bytes> PellanSleeve::samCAPDU(uint8_t cla, uint8_t ins, uint8_t p1, uint8_t p2,
                                            const std::optional<Bytes>& data, int outLength, uint16_t* status,
                                            Error* error) {
  return pellan_->samCAPDU(cla, ins, p1, p2, data, outLength, status, error);
}

// ---- The UHF tag reader and the HID SAM module --------------------------------------------------

std::optional<Bytes> PellanSleeve::uhfCommand(const uint8_t* data, int length, Error* error) {
  return pellan_->uhfCommand(data, length, error);
}

bool PellanSleeve::uhfInit(int code, Error* error) { return pellan_->uhfInit(code, error); }

bool PellanSleeve::uhfClose(Error* error) { return pellan_->uhfClose(error); }

bool PellanSleeve::uhfStartAutoReadForTagType(int tagType, int maxNumberOfTags, int maxTimeForTagging,
                                              int repeatCycleCount, Error* error) {
  return pellan_->uhfStartAutoReadForTagType(tagType, maxNumberOfTags, maxTimeForTagging, repeatCycleCount, error);
}

bool PellanSleeve::uhfStopAutoRead(Error* error) { return pellan_->uhfStopAutoRead(error); }

std::optional<Bytes> PellanSleeve::hidGetVersionInfo(Error* error) {
  ensureModuleSink();
  return pellan_->hidGetVersionInfo(error);
}

std::optional<Bytes> PellanSleeve::hidGetSerialNumber(Error* error) {
  ensureModuleSink();
  return pellan_->hidGetSerialNumber(error);
}

std::optional<Bytes> PellanSleeve::hidGetContentElement(int element, const std::optional<Bytes>& pin,
                                                        const std::optional<Bytes>& rootSoOID, Error* error) {
  ensureModuleSink();
  return pellan_->hidGetContentElement(element, pin, rootSoOID, error);
}

std::optional<Bytes> PellanSleeve::hidProcessKeyRollerCard(Error* error) {
  ensureModuleSink();
  return pellan_->hidProcessKeyRollerCard(error);
}

std::optional<Bytes> PellanSleeve::hidProcessConfigCard(Error* error) {
  ensureModuleSink();
  return pellan_->hidProcessConfigCard(error);
}

}  // namespace kestra
