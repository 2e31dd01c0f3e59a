#include "sdk/device/ProtocolBootloader.h"

#include <zlib.h>

#include <cstdio>

#include "platform/foundation/NotificationCenter.h"
#include "sdk/device/ChargingCaseFrames.h"

namespace kestra {

using namespace chargingcase;

namespace {

std::string hex(const char* fmt, unsigned value) {
  char text[32];
  std::snprintf(text, sizeof text, fmt, value);
  return text;
}

uint32_t le32(const Bytes& b, size_t at) {
  return uint32_t(b[at]) | (uint32_t(b[at + 1]) << 8) | (uint32_t(b[at + 2]) << 16) | (uint32_t(b[at + 3]) << 24);
}

}  // namespace

ProtocolBootloader::ProtocolBootloader(std::shared_ptr<OKTEADSessionController> controller)
    : controller_(std::move(controller)) {}

ProtocolBootloader::~ProtocolBootloader() {
  stopTimer();
  foundation::NotificationCenter::defaultCenter().removeObserver(this);
}

const std::shared_ptr<OKTEADSessionController>& ProtocolBootloader::eaSessionController() {
  if (!controller_) {
    controller_ = OKTEADSessionController::sharedController();
    state_ = kBootIdle;
  }
  return controller_;
}

int ProtocolBootloader::openSession() {
  auto& controller = eaSessionController();
  foundation::NotificationCenter::defaultCenter().addUniqueObserver(
      this, kEADSessionDataReceivedNotification, controller.get(),
      [this](const foundation::Notification&) { sessionDataReceived(); });
  return controller->openSessionWithProtocol(kCaseBootloaderProtocol);
}

void ProtocolBootloader::closeSession() {
  foundation::NotificationCenter::defaultCenter().removeObserver(this, kEADSessionDataReceivedNotification);
  stopTimer();
  eaSessionController()->closeSession();
  firmwareId_ = 0;
  versionMajor_ = versionMinor_ = versionPatch_ = 0;
  chunkStart_ = 0;
  state_ = kBootIdle;
}

bool ProtocolBootloader::initializeAccessory() {
  const bool written = sendCommand({}, kBootTargetInformation) == 0;
  state_ = written ? kBootTargetRequested : kBootIdle;
  return written;
}

bool ProtocolBootloader::startDownload(const Bytes& image) {
  state_ = kBootReady;
  image_ = image;
  crc_ = uint32_t(crc32(crc32(0L, Z_NULL, 0), image_.data(), uInt(image_.size())));
  chunkStart_ = 0;
  state_ = kBootCreatingStore;
  const uint32_t size = uint32_t(image_.size());
  sendCommand({uint8_t(size), uint8_t(size >> 8), uint8_t(size >> 16), uint8_t(size >> 24), 0}, kBootCreateStore);
  return true;
}

int ProtocolBootloader::sendCommand(const Bytes& payload, uint16_t code) {
  auto& controller = eaSessionController();
  if (!controller->sessionIsOpen()) {
    complete("\n Session Not Open\n");
    return 5;
  }
  lastCommand_ = code;
  controller->writeData(bootloaderFrame(code, payload));
  restartTimer();
  return 0;
}

void ProtocolBootloader::sendFirmwareChunk() {
  foundation::NotificationCenter::defaultCenter().post(kBootloaderStatusUpdate, this);
  if (chunkStart_ >= image_.size()) {
    sendCommand({}, kBootEndOfData);
    return;
  }
  const size_t count = std::min(maxDataSize_ ? maxDataSize_ : kBootloaderMaxDataSize, image_.size() - chunkStart_);
  const Bytes chunk(image_.begin() + long(chunkStart_), image_.begin() + long(chunkStart_ + count));
  chunkStart_ += count;
  sendCommand(chunk, kBootDataChunk);
}

std::string ProtocolBootloader::getAccessoryName() { return eaSessionController()->accessoryName(); }
std::string ProtocolBootloader::getAccessoryModel() { return eaSessionController()->accessoryModel(); }
std::string ProtocolBootloader::getAccessoryManufacturer() { return eaSessionController()->accessoryManufacturer(); }
std::string ProtocolBootloader::getAccessoryFirmwareRevision() {
  return eaSessionController()->accessoryFirmwareRevision();
}
std::string ProtocolBootloader::getAccessoryHardwareRevision() {
  return eaSessionController()->accessoryHardwareRevision();
}

std::string ProtocolBootloader::getFirmwareID() const { return hex("%08x", firmwareId_); }

std::string ProtocolBootloader::getFirmwareVersion() const {
  char text[32];
  std::snprintf(text, sizeof text, "(v%01x.%01x.%01x)", versionMajor_, versionMinor_, versionPatch_);
  return text;
}

void ProtocolBootloader::complete(const std::string& text) {
  foundation::NotificationCenter::defaultCenter().post(kBootloaderStatusComplete, this,
                                                       nlohmann::json{{kBootloaderStatusKey, text}});
}

void ProtocolBootloader::restartTimer() {
  stopTimer();
  timer_ = foundation::Timer::scheduled(kBootloaderResponseTimeout, false, [this](foundation::Timer&) {
    timer_.reset();
    if (state_ != kBootIdle) state_ = kBootReady;
    complete("Response timeout");
  });
}

void ProtocolBootloader::stopTimer() {
  if (timer_) timer_->invalidate();
  timer_.reset();
}

void ProtocolBootloader::sessionDataReceived() {
  auto controller = eaSessionController();
  Bytes& buffer = controller->readBuffer();
  size_t length = scanBootloaderFrame(buffer);
  if (length == 0) return;
  stopTimer();
  while (length > 0 && controller->sessionIsOpen()) {
    const uint16_t code = bootloaderFrameCode(buffer);
    const Bytes payload = bootloaderFramePayload(buffer, length);
    buffer.erase(buffer.begin(), buffer.begin() + long(length));
    handleFrame(code, payload);
    length = scanBootloaderFrame(controller->readBuffer());
  }
}

void ProtocolBootloader::handleFrame(uint16_t code, const Bytes& payload) {
  std::string report = hex("\n command ID: %08x ", code);
  const size_t n = payload.size();
  switch (code) {
    case kBootTargetInformation:
      if (n == 8) {
        firmwareId_ = le32(payload, 0);
        versionPatch_ = payload[4];
        versionMinor_ = payload[5];
        versionMajor_ = payload[6];
        maxDataSize_ = kBootloaderMaxDataSize;
        state_ = kBootReady;
        foundation::NotificationCenter::defaultCenter().post(kBootloaderStatusReady, this);
      } else {
        state_ = kBootReady;
        complete("Cannot get accessory information");
      }
      return;
    case kBootCreateStore:
      if (n == 1 && payload[0] == 1) {
        state_ = kBootSending;
        sendFirmwareChunk();
      } else {
        state_ = kBootReady;
        // One report for one refusal: the reason and the reply's code together.
        complete(n == 1 ? "Cannot store new firmware" + report : "Cannot store new firmware");
      }
      return;
    case kBootDataChunk:
      if (n == 1 && payload[0] == 1) {
        state_ = kBootSending;
        sendFirmwareChunk();
      } else {
        state_ = kBootReady;
        complete(n == 1 ? "Data write error" : "Invalid response");
      }
      return;
    case kBootEndOfData:
      if (n == 1) {
        sendCommand({}, kBootVerify);
        state_ = kBootVerifying;
      } else {
        state_ = kBootReady;
        complete("Invalid response");
      }
      return;
    case kBootVerify:
      if (n == 4) {
        const uint32_t received = le32(payload, 0);
        if (received == crc_) {
          sendCommand({}, kBootInstall);
          state_ = kBootInstalling;
          complete("Installing new firmware...");
        } else {
          report += "Signature Verification (crc32) error";
          report += hex("\n Expected: %02x ", (crc_ >> 24) & 0xFF);
          for (int shift : {16, 8, 0}) report += hex(" %02x ", (crc_ >> shift) & 0xFF);
          report += hex("\n Received: %02x ", (received >> 24) & 0xFF);
          for (int shift : {16, 8, 0}) report += hex(" %02x ", (received >> shift) & 0xFF);
          report += hex("\n length 0x%04x ", unsigned(image_.size()));
          state_ = kBootIdle;
          complete(report);
        }
      } else {
        state_ = kBootIdle;
        complete("Cannot verify new firmware");
      }
      return;
    case kBootInstall:
      complete(std::string("Install") + (n >= 1 && payload[0] == 1 ? " ACK\n" : " NACK\n"));
      return;
    default:
      report += " ??:";
      if (n >= 1) report += hex(" %02x", payload[0]);
      if (n >= 2) report += hex(" %02x\n", payload[1]);
      complete(report);
      return;
  }
}

}  // namespace kestra
