#include "sdk/device/PPadPinpad.h"

#include <nlohmann/json.hpp>

#include "sdk/device/KXDevices.h"
#include "sdk/pinpad/PPad.h"
#include "sdk/rf/RFWrapper.h"

namespace kestra {

// The driver's callbacks, passed on to the device API on the thread they arrive on.
class PPadPinpad::Events final : public PPadDelegate {
 public:
  Events() {
    implements({ppsel::ppadConnectionState, ppsel::ppadButtonPressed, ppsel::ppadButtonReleased,
                ppsel::kxdev_debug, ppsel::kxdev_pogdata, ppsel::kxdev_barcodeData, ppsel::magneticCardData,
                ppsel::kxdev_magneticCardEncryptedData, ppsel::kxdev_magneticCardDetected,
                ppsel::smartCardInserted_slot, ppsel::smartCardRemoved_slot, ppsel::kxdev_emv2Event,
                ppsel::firmwareUpdateProgress, ppsel::PINEntryComplete, btsel::bluetoothDevicePassKeySent,
                btsel::bluetoothDiscoverComplete, btsel::bluetoothDeviceDiscovered, btsel::bluetoothDeviceConnected,
                btsel::bluetoothDeviceDisconnected, btsel::bluetoothDeviceRequestedConnection,
                btsel::bluetoothDevicePINCodeRequired});
  }
  std::weak_ptr<KXDevices> api;

  void ppadConnectionState(int state) override {
    if (auto a = api.lock()) a->ppadConnectionState(state);
  }
  void ppadButtonPressed(int button) override {
    if (auto a = api.lock()) a->ppadButtonPressed(button);
  }
  void ppadButtonReleased(int button) override {
    if (auto a = api.lock()) a->ppadButtonReleased(button);
  }
  void kxdev_debug(const std::string& text, int source) override {
    if (auto a = api.lock()) a->kxdev_debug(text, source);
  }
  void kxdev_pogdata(int solution, int command, const Bytes& data) override {
    if (auto a = api.lock()) a->kxdev_pogdata(solution, command, data);
  }
  void kxdev_barcodeData(const Bytes& barcode) override {
    if (auto a = api.lock()) a->kxdev_barcodeData(barcode);
  }
  void magneticCardData(const OptText& t1, const OptText& t2, const OptText& t3) override {
    if (auto a = api.lock()) a->magneticCardData(t1, t2, t3);
  }
  void kxdev_magneticCardEncryptedData(int encryption, int tracks, const Bytes& data, const OptText& t1,
                                       const OptText& t2, const OptText& t3, int source) override {
    if (auto a = api.lock()) a->kxdev_magneticCardEncryptedData(encryption, tracks, data, t1, t2, t3, source);
  }
  bool kxdev_magneticCardDetected() override {
    auto a = api.lock();
    return a && a->kxdev_magneticCardDetected();
  }
  void smartCardInserted(int slot) override {
    if (auto a = api.lock()) a->smartCardInserted(slot);
  }
  void smartCardRemoved(int slot) override {
    if (auto a = api.lock()) a->smartCardRemoved(slot);
  }
  void kxdev_emv2Event(const Bytes& event) override {
    if (auto a = api.lock()) a->kxdev_emv2Event(event);
  }
  void firmwareUpdateProgress(int phase, int percent) override {
    if (auto a = api.lock()) a->firmwareUpdateProgress(phase, percent);
  }
  void PINEntryComplete(int status) override {
    if (auto a = api.lock()) a->PINEntryComplete(status);
  }
  void bluetoothDevicePassKeySent(const std::string& address, const std::string& passKey) override {
    if (auto a = api.lock()) a->bluetoothDevicePassKeySent(address, passKey);
  }
  // The pinpad's Bluetooth module.
  void bluetoothDiscoverComplete(bool success) override {
    if (auto a = api.lock()) a->bluetoothDiscoverComplete(success);
  }
  void bluetoothDeviceDiscovered(const std::string& address, const std::string& name) override {
    if (auto a = api.lock()) a->bluetoothDeviceDiscovered(address, name);
  }
  void bluetoothDeviceConnected(const std::string& address) override {
    if (auto a = api.lock()) a->bluetoothDeviceConnected(address);
  }
  void bluetoothDeviceDisconnected(const std::optional<std::string>& address) override {
    if (auto a = api.lock()) a->bluetoothDeviceDisconnected(address);
  }
  bool bluetoothDeviceRequestedConnection(const std::string& address, const std::string& name) override {
    auto a = api.lock();
    return a && a->bluetoothDeviceRequestedConnection(address, name);
  }
  std::optional<std::string> bluetoothDevicePINCodeRequired(const std::string& address,
                                                            const std::string& name) override {
    auto a = api.lock();
    return a ? a->bluetoothDevicePINCodeRequired(address, name) : std::nullopt;
  }
  bool clientsRespondToSelector(std::string_view selector) override {
    auto a = api.lock();
    return a && a->clientsRespondToSelector(selector);
  }
};

PPadPinpad::PPadPinpad(std::shared_ptr<PPad> pad) : pad_(std::move(pad)), events_(std::make_shared<Events>()) {}

PPadPinpad::~PPadPinpad() { pad_->removeDelegate(events_); }

void PPadPinpad::attach(std::weak_ptr<KXDevices> api) {
  events_->api = std::move(api);
  pad_->addDelegate(events_);
}

std::shared_ptr<AccessoryManagerDelegate> PPadPinpad::accessoryDriver() { return pad_; }
std::string PPadPinpad::deviceName() { return pad_->deviceName(); }
std::string PPadPinpad::deviceModel() { return pad_->deviceModel(); }
std::string PPadPinpad::firmwareRevision() { return pad_->firmwareRevision(); }
std::string PPadPinpad::hardwareRevision() { return pad_->hardwareRevision(); }
std::string PPadPinpad::serialNumber() { return pad_->serialNumber(); }
int PPadPinpad::getSupportedFeature(int feature, Error* error) { return pad_->getSupportedFeature(feature, error); }
int PPadPinpad::connstate() { return pad_->connstate(); }
void PPadPinpad::managedConnect() { pad_->managedConnect(); }
void PPadPinpad::disconnect() { pad_->disconnect(); }
bool PPadPinpad::isPresent() { return pad_->isPresent(); }
int PPadPinpad::connectWithStreams(std::shared_ptr<accessory::InputStream> input,
                                   std::shared_ptr<accessory::OutputStream> output) {
  return pad_->connectWithStreams(std::move(input), std::move(output));
}
void PPadPinpad::setConnectionType(int type) { pad_->setConnectionType(type); }
int PPadPinpad::connectionType() { return pad_->connectionType(); }

int PPadPinpad::emsrCommand(const uint8_t* packet, int length, uint8_t* reply, int capacity) {
  int n = 0;
  return pad_->emsrCommand(packet, length, reply, capacity, &n) == 0 ? n : -6;
}

int PPadPinpad::msStart() { return pad_->msStart(); }
int PPadPinpad::msStop() { return pad_->msStop(); }
int PPadPinpad::msSimulateCardData(const std::optional<std::string>& track1,
                                   const std::optional<std::string>& track2,
                                   const std::optional<std::string>& track3) {
  return pad_->msSimulateCardDataTrack1(track1, track2, track3);
}

int PPadPinpad::msGetLoyaltyNumber(int id, Bytes* data) {
  std::string number;
  const int r = pad_->msGetLoyaltyNumber(id, &number);
  if (r == 0 && data) *data = foundation::bytesOf(number);
  return r;
}

std::optional<nlohmann::json> PPadPinpad::msGetLastCardMaskedData(Error* error) {
  auto card = pad_->msGetLastCardMaskedData(error);
  if (!card) return std::nullopt;
  nlohmann::json out = nlohmann::json::object();
  for (auto& [key, value] : *card) {
    out[key] = value;
    foundation::secureClear(value);
  }
  return out;
}

// `params` is the parameters record ("uniqueID", "randomSeed") as JSON text; anything else
// lets the pinpad choose them.
int PPadPinpad::msUniversalGetEncryptedCardData(int format, int keyID, const Bytes& params, Bytes* data) {
  const nlohmann::json record = nlohmann::json::parse(params.begin(), params.end(), nullptr, false);
  return pad_->msUniversalGetEncryptedCardDataWithAlgorithm(format, keyID, record.is_object() ? &record : nullptr,
                                                            data);
}

bool PPadPinpad::rfReaderInit(int readerType, Error* error) {
  pad_->setRFDataSink([](const Bytes& data) { RFWrapper::dataAvaiable(data); });
  return pad_->rfReaderInit(readerType, error);
}

bool PPadPinpad::rfReaderClose(int readerType, Error* error) { return pad_->rfReaderClose(readerType, error); }

// The reader's answer reaches the stack through the sink, so the write itself returns none.
std::optional<Bytes> PPadPinpad::rfReaderWrite(int readerType, const uint8_t* data, int length, Error* error) {
  if (!pad_->rfReaderWrite(readerType, data, length, error)) return std::nullopt;
  return Bytes{};
}

int PPadPinpad::barStart() { return pad_->barStart(); }
int PPadPinpad::barStop() { return pad_->barStop(); }

int PPadPinpad::barGetScanMode(int* mode) {
  const int r = pad_->_barGetScanMode();
  if (r == 0 && mode) *mode = pad_->barcodeScanMode();
  return r;
}

int PPadPinpad::barSetScanMode(int mode) { return pad_->barSetScanMode(mode); }
int PPadPinpad::barSetScanBeep(bool enabled, int volume, const int* beepData, int length) {
  return pad_->barSetScanBeep(enabled, volume, beepData, length);
}
int PPadPinpad::sysGetEnabledEvents(uint32_t* mask) { return pad_->sysGetEnabledEvents(mask); }
int PPadPinpad::sysEnableEvents(uint32_t mask) { return pad_->sysEnableEvents(mask); }
int PPadPinpad::sysPlaySound(const int* beepData, int length, int volume) {
  return pad_->sysPlaySound(beepData, length, volume);
}
int PPadPinpad::displayWidth() { return pad_->displayWidth(); }
int PPadPinpad::displayHeight() { return pad_->displayHeight(); }
bool PPadPinpad::displayAtBottom() { return pad_->displayAtBottom(); }

// The printer channel of pinpads with a printer.
#define KXDEF
#define KX_PRN_SHARED(R, API, DRV, PIN, P, A, F) \
  R PPadPinpad::PIN P { return pad_->PIN A; }
#include "sdk/device/KXPrinterAPI.inc"

}  // namespace kestra
