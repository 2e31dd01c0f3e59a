#include "testing/devices/pinpad/PinpadTestBench.h"

#include "platform/foundation/Bytes.h"

namespace devices {

using kestra::OptText;
namespace ps = kestra::ppsel;
namespace bs = kestra::btsel;

namespace {
std::string opt(const OptText& t) { return t ? *t : "(nil)"; }
}  // namespace

std::vector<std::string_view> RecordingPPadDelegate::allSelectors() {
  return {ps::ppadConnectionState, ps::ppadButtonPressed, ps::ppadButtonReleased, ps::kxdev_debug,
          ps::kxdev_pogdata, ps::boricaData, ps::boricaInternetData, ps::kxdev_barcodeData,
          ps::magneticCardData, ps::kxdev_magneticCardEncryptedData, ps::magneticCardEncryptedData,
          ps::kxdev_magneticCardDetected, ps::smartCardInserted_slot, ps::smartCardInserted,
          ps::smartCardRemoved_slot, ps::smartCardRemoved, ps::kxdev_emv2Event, ps::kxdev_srEvent,
          ps::firmwareUpdateProgress, ps::PINEntryComplete, bs::bluetoothDiscoverComplete, bs::bluetoothDeviceDiscovered,
          bs::bluetoothDeviceConnected, bs::bluetoothDeviceDisconnected,
          bs::bluetoothDeviceRequestedConnection, bs::bluetoothDevicePINCodeRequired,
          bs::bluetoothDevicePassKeySent};
}

RecordingPPadDelegate::RecordingPPadDelegate(std::vector<std::string_view> selectors,
                                             std::shared_ptr<CallRecorder> log, std::string tag)
    : RecordingDelegate(std::move(log), std::move(tag), selectors.empty() ? allSelectors() : selectors) {}

void RecordingPPadDelegate::ppadConnectionState(int s) { record("ppadConnectionState:" + std::to_string(s)); }
void RecordingPPadDelegate::ppadButtonPressed(int b) { record("ppadButtonPressed:" + std::to_string(b)); }
void RecordingPPadDelegate::ppadButtonReleased(int b) { record("ppadButtonReleased:" + std::to_string(b)); }
void RecordingPPadDelegate::kxdev_debug(const std::string& text, int source) {
  record("kxdev_debug:" + text + ":" + std::to_string(source), false);
}
void RecordingPPadDelegate::kxdev_pogdata(int solution, int command, const foundation::Bytes& data) {
  record("kxdev_pogdata:" + std::to_string(solution) + ":" + std::to_string(command) + ":" + foundation::toHex(data),
         false);
}
void RecordingPPadDelegate::boricaData(const foundation::Bytes& data) {
  record("boricaData:" + foundation::toHex(data), false);
}
void RecordingPPadDelegate::boricaInternetData(const foundation::Bytes& data) {
  record("boricaInternetData:" + foundation::toHex(data), false);
}
void RecordingPPadDelegate::kxdev_barcodeData(const foundation::Bytes& b) {
  record("kxdev_barcodeData:" + foundation::textOf(b));
}
void RecordingPPadDelegate::barcodeData(const std::string& barcode, int type) {
  record("barcodeData:" + barcode + ":" + std::to_string(type));
}
void RecordingPPadDelegate::magneticCardData(const OptText& t1, const OptText& t2, const OptText& t3) {
  record("magneticCardData:" + opt(t1) + ":" + opt(t2) + ":" + opt(t3));
}
void RecordingPPadDelegate::kxdev_magneticCardEncryptedData(int encryption, int tracks, const foundation::Bytes& data,
                                                            const OptText& t1, const OptText& t2,
                                                            const OptText& t3, int source) {
  record("kxdev_magneticCardEncryptedData:" + std::to_string(encryption) + ":" + std::to_string(tracks) + ":" +
         foundation::toHex(data) + ":" + opt(t1) + ":" + opt(t2) + ":" + opt(t3) + ":" + std::to_string(source));
}
void RecordingPPadDelegate::magneticCardEncryptedData(int encryption, int tracks, const foundation::Bytes& data) {
  record("magneticCardEncryptedData:" + std::to_string(encryption) + ":" + std::to_string(tracks) + ":" +
         foundation::toHex(data));
}
bool RecordingPPadDelegate::kxdev_magneticCardDetected() {
  record("kxdev_magneticCardDetected");
  return cardDetectedAnswer;
}
void RecordingPPadDelegate::smartCardInserted(int slot) { record("smartCardInserted:" + std::to_string(slot)); }
void RecordingPPadDelegate::smartCardInserted() { record("smartCardInserted"); }
void RecordingPPadDelegate::smartCardRemoved(int slot) { record("smartCardRemoved:" + std::to_string(slot)); }
void RecordingPPadDelegate::smartCardRemoved() { record("smartCardRemoved"); }
void RecordingPPadDelegate::kxdev_emv2Event(const foundation::Bytes& e) { record("kxdev_emv2Event:" + foundation::toHex(e)); }
void RecordingPPadDelegate::kxdev_srEvent(int event, int status, const std::string& data) {
  record("kxdev_srEvent:" + std::to_string(event) + ":" + std::to_string(status) + ":" + data);
}
void RecordingPPadDelegate::firmwareUpdateProgress(int phase, int percent) {
  record("firmwareUpdateProgress:" + std::to_string(phase) + ":" + std::to_string(percent), false);
}
void RecordingPPadDelegate::PINEntryComplete(int status) { record("PINEntryComplete:" + std::to_string(status)); }
void RecordingPPadDelegate::bluetoothDiscoverComplete(bool success) {
  record("bluetoothDiscoverComplete:" + std::to_string(success), false);
}
void RecordingPPadDelegate::bluetoothDeviceDiscovered(const std::string& address, const std::string& name) {
  record("bluetoothDeviceDiscovered:" + address + ":" + name, false);
}
void RecordingPPadDelegate::bluetoothDeviceConnected(const std::string& address) {
  record("bluetoothDeviceConnected:" + address, false);
}
void RecordingPPadDelegate::bluetoothDeviceDisconnected(const std::optional<std::string>& address) {
  record("bluetoothDeviceDisconnected:" + opt(address), false);
}
bool RecordingPPadDelegate::bluetoothDeviceRequestedConnection(const std::string& address, const std::string& name) {
  record("bluetoothDeviceRequestedConnection:" + address + ":" + name, false);
  return connectionAnswer;
}
std::optional<std::string> RecordingPPadDelegate::bluetoothDevicePINCodeRequired(const std::string& address,
                                                                                 const std::string& name) {
  record("bluetoothDevicePINCodeRequired:" + address + ":" + name, false);
  return pinAnswer;
}
void RecordingPPadDelegate::bluetoothDevicePassKeySent(const std::string& address, const std::string& passKey) {
  record("bluetoothDevicePassKeySent:" + address + ":" + passKey, false);
}

PinpadTestBench::PinpadTestBench(PinpadPersona persona, std::string accessoryName)
    : persona_(std::move(persona)), name_(std::move(accessoryName)) {
  pad = kestra::PPad::create(*bench.manager);
  bench.manager->setDelegate(pad);
  delegate = std::make_shared<RecordingPPadDelegate>();
  pad->addDelegate(delegate);
}

PinpadTestBench::~PinpadTestBench() {
  pad->disconnect();
  runUntil([] { return true; }, std::chrono::milliseconds(10));
}

bool PinpadTestBench::connect(std::chrono::milliseconds timeout) {
  device = &bench.attach<SimulatedPinpad>(SimulatedPinpad::identityFor(name_), persona_);
  pad->connect();
  return runUntil([&] { return identified() && delegate->log().count("ppadConnectionState:2") > 0; }, timeout);
}

bool PinpadTestBench::identified() const {
  // Connected, and identification's last command (the event mask) answered.
  return pad->connstate() == 2 && !pad->transport().fakeConnected;
}

bool PinpadTestBench::runUntil(const std::function<bool()>& condition, std::chrono::milliseconds timeout) {
  return AccessoryTestBench::pumpUntil(condition, timeout);
}

}  // namespace devices
