#include "sdk/device/ProtocolControl.h"

#include <cstdio>

#include "platform/foundation/NotificationCenter.h"
#include "sdk/device/ChargingCaseFrames.h"

namespace kestra {

using namespace chargingcase;

namespace {

std::string format(const char* fmt, double value) {
  char text[32];
  std::snprintf(text, sizeof text, fmt, value);
  return text;
}
std::string format(const char* fmt, int value) {
  char text[32];
  std::snprintf(text, sizeof text, fmt, value);
  return text;
}

}  // namespace

ProtocolControl::ProtocolControl(std::shared_ptr<OKTEADSessionController> controller)
    : controller_(std::move(controller)) {}

ProtocolControl::~ProtocolControl() { foundation::NotificationCenter::defaultCenter().removeObserver(this); }

const std::shared_ptr<OKTEADSessionController>& ProtocolControl::eaSessionController() {
  if (!controller_) controller_ = OKTEADSessionController::sharedController();
  return controller_;
}

int ProtocolControl::openSession() {
  auto& controller = eaSessionController();
  // One registration however often the session is opened.
  foundation::NotificationCenter::defaultCenter().addUniqueObserver(
      this, kEADSessionDataReceivedNotification, controller.get(),
      [this](const foundation::Notification&) { sessionDataReceived(); });
  return controller->openSessionWithProtocol(kCaseControlProtocol);
}

void ProtocolControl::closeSession() {
  auto& controller = eaSessionController();
  if (!controller->sessionIsOpen()) return;
  foundation::NotificationCenter::defaultCenter().removeObserver(this);
  controller->closeSession();
}

bool ProtocolControl::isSessionOpen() { return eaSessionController()->sessionIsOpen(); }

int ProtocolControl::sendCommand(const Bytes& data, uint8_t command) {
  auto& controller = eaSessionController();
  if (!controller->sessionIsOpen()) return kControlNoSession;
  controller->writeData(controlMessage(command, data));
  return 0;
}

int ProtocolControl::sendInitialize() { return sendCommand({}, kControlInitialize); }
int ProtocolControl::sendLEDs(int mask) { return sendCommand({uint8_t(mask & 0xFF)}, kControlLEDs); }
int ProtocolControl::sendCurrent(uint16_t milliamps) {
  return sendCommand({uint8_t(milliamps & 0xFF), uint8_t(milliamps >> 8)}, kControlCurrent);
}
int ProtocolControl::sendInquiry(int code) { return sendCommand({uint8_t(code & 0xFF)}, kControlInquiry); }

std::string ProtocolControl::getAccessoryName() { return eaSessionController()->accessoryName(); }
std::string ProtocolControl::getAccessoryManufacturer() { return eaSessionController()->accessoryManufacturer(); }
std::string ProtocolControl::getAccessoryModel() { return eaSessionController()->accessoryModel(); }
std::string ProtocolControl::getAccessoryHardwareRevision() {
  return eaSessionController()->accessoryHardwareRevision();
}

std::string ProtocolControl::getAccessoryFirmwareRevision() {
  std::string revision = eaSessionController()->accessoryFirmwareRevision();
  std::erase(revision, 'v');
  return revision;
}

std::optional<std::string> ProtocolControl::getAccessorySerialNumber() {
  const std::string serial = eaSessionController()->accessorySerialNumber();
  std::string lower = serial;
  for (char& c : lower) c = char(std::tolower(static_cast<unsigned char>(c)));
  if (lower.find("not connected") != std::string::npos) return std::nullopt;
  return serial.substr(0, 15);
}

std::optional<std::string> ProtocolControl::getStrBatterySerialNumber() {
  const std::string serial = eaSessionController()->accessorySerialNumber();
  if (serial == "not connected") return std::nullopt;
  if (serial.size() <= 15) return std::string();
  return serial.substr(15, 15);
}

std::string ProtocolControl::getStrBatteryMaxCapacity() const {
  return format("%d mA-H", int(values_.batteryMaxCapacity));
}
std::string ProtocolControl::getStrBatteryCapacity() const { return format("%d %%", int(values_.batteryCapacity)); }
std::string ProtocolControl::getStrBatteryHealth() const { return format("%d %%", int(values_.batteryHealth)); }
std::string ProtocolControl::getStrBatteryVoltage() const {
  return format("%4.2f V", double(values_.batteryVoltage) / 1000.0);
}
std::string ProtocolControl::getStrBatteryChargeCount() const { return format("%d", int(values_.batteryChargeCount)); }
std::string ProtocolControl::getStrBatteryInquiry() const { return format("%d", int(values_.batteryInquiry)); }
std::string ProtocolControl::getStrBatteryFirmwareVer() const {
  return format("%d", int(values_.batteryFirmwareVersion));
}

std::string ProtocolControl::getStrPowerSource() const {
  switch (values_.powerSource) {
    case 1: return "Not Charging";
    case 2: return "Charging";
    default: return "";
  }
}

void ProtocolControl::sessionDataReceived() {
  auto controller = eaSessionController();
  applyControlReplies(controller->readBuffer(), values_, [this](const char* name) {
    foundation::NotificationCenter::defaultCenter().post(name, this);
  });
}

}  // namespace kestra
