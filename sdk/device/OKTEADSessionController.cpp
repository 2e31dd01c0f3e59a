#include "sdk/device/OKTEADSessionController.h"

#include <algorithm>

#include "platform/foundation/NotificationCenter.h"

namespace kestra {

namespace {
constexpr const char* kSessionNotConnected = "not connected";
// One read takes at most this many bytes; the loop reads again while bytes remain.
constexpr size_t kReadChunk = 128;
}  // namespace

std::shared_ptr<OKTEADSessionController> OKTEADSessionController::sharedController() {
  static const std::shared_ptr<OKTEADSessionController> shared = create(accessory::AccessoryManager::shared());
  return shared;
}

std::shared_ptr<OKTEADSessionController> OKTEADSessionController::create(accessory::AccessoryManager& registry) {
  return std::shared_ptr<OKTEADSessionController>(new OKTEADSessionController(registry));
}

OKTEADSessionController::~OKTEADSessionController() { closeSession(); }

int OKTEADSessionController::openSessionWithProtocol(const std::string& protocol) {
  protocolString_ = protocol;
  // A second session on the same protocol may be refused while the old one is open.
  closeSession();
  accessory_.reset();
  const auto attached = registry_.connectedAccessories();
  if (attached.empty()) return kEADNoAccessory;
  for (const auto& a : attached) {
    const auto& strings = a->protocolStrings();
    if (std::find(strings.begin(), strings.end(), protocol) != strings.end()) {
      accessory_ = a;
      break;
    }
  }
  if (!accessory_) return kEADProtocolNotFound;
  auto session = accessory::Session::open(accessory_, protocol);
  if (!session) return kEADSessionNotCreated;
  session_ = session;
  accessory_->setDelegate(weak_from_this());
  loop_ = &foundation::RunLoop::current();
  for (accessory::Stream* s : {static_cast<accessory::Stream*>(session->inputStream().get()),
                               static_cast<accessory::Stream*>(session->outputStream().get())}) {
    s->setDelegate(weak_from_this());
    if (!s->deliversOwnEvents()) s->schedule(*loop_);
    s->open();
  }
  return session_ ? kEADSessionOpened : kEADSessionGone;
}

void OKTEADSessionController::closeSession() {
  if (session_) {
    for (accessory::Stream* s : {static_cast<accessory::Stream*>(session_->inputStream().get()),
                                 static_cast<accessory::Stream*>(session_->outputStream().get())}) {
      s->close();
      if (loop_ && !s->deliversOwnEvents()) s->remove(*loop_);
      s->clearDelegate();
    }
  }
  session_.reset();
  writeData_.clear();
  readData_.clear();
}

void OKTEADSessionController::writeData(const Bytes& data) {
  writeData_.insert(writeData_.end(), data.begin(), data.end());
  writeBuffered();
}

std::optional<Bytes> OKTEADSessionController::readData(size_t count) {
  if (readData_.size() < count) return std::nullopt;
  Bytes out(readData_.begin(), readData_.begin() + long(count));
  readData_.erase(readData_.begin(), readData_.begin() + long(count));
  return out;
}

std::optional<Bytes> OKTEADSessionController::peekData(size_t count) const {
  if (readData_.size() < count) return std::nullopt;
  return Bytes(readData_.begin(), readData_.begin() + long(count));
}

std::string OKTEADSessionController::identity(std::string accessory::AccessoryIdentity::*field) const {
  if (!session_) return kSessionNotConnected;
  return session_->accessory()->identity().*field;
}

std::string OKTEADSessionController::accessoryName() const { return identity(&accessory::AccessoryIdentity::name); }
std::string OKTEADSessionController::accessoryManufacturer() const {
  return identity(&accessory::AccessoryIdentity::manufacturer);
}
std::string OKTEADSessionController::accessoryModel() const {
  return identity(&accessory::AccessoryIdentity::modelNumber);
}
std::string OKTEADSessionController::accessorySerialNumber() const {
  return identity(&accessory::AccessoryIdentity::serialNumber);
}
std::string OKTEADSessionController::accessoryFirmwareRevision() const {
  return identity(&accessory::AccessoryIdentity::firmwareRevision);
}
std::string OKTEADSessionController::accessoryHardwareRevision() const {
  return identity(&accessory::AccessoryIdentity::hardwareRevision);
}

void OKTEADSessionController::handleEvent(accessory::Stream& stream, accessory::StreamEvent event) {
  if (!session_) return;
  if (event == accessory::StreamEvent::HasBytesAvailable && &stream == session_->inputStream().get())
    readAvailable();
  else if ((event == accessory::StreamEvent::HasSpaceAvailable || event == accessory::StreamEvent::OpenCompleted) &&
           &stream == session_->outputStream().get())
    // Bytes written before the session was accepted go out once it is open.
    writeBuffered();
}

void OKTEADSessionController::accessoryDidDisconnect(const std::shared_ptr<accessory::Accessory>& accessory) {
  if (session_ && session_->accessory() == accessory) closeSession();
}

void OKTEADSessionController::readAvailable() {
  auto input = session_->inputStream();
  uint8_t chunk[kReadChunk];
  while (input->hasBytesAvailable()) {
    const ssize_t n = input->read(chunk, sizeof chunk);
    if (n <= 0) break;
    readData_.insert(readData_.end(), chunk, chunk + n);
  }
  // Keep this object alive through observers that close the session.
  auto self = shared_from_this();
  foundation::NotificationCenter::defaultCenter().post(kEADSessionDataReceivedNotification, this);
}

void OKTEADSessionController::writeBuffered() {
  if (!session_) return;
  auto output = session_->outputStream();
  while (!writeData_.empty() && output->hasSpaceAvailable()) {
    const ssize_t n = output->write(writeData_.data(), writeData_.size());
    if (n <= 0) break;  // kept; the next space event tries again
    writeData_.erase(writeData_.begin(), writeData_.begin() + n);
  }
}

}  // namespace kestra
