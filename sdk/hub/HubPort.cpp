// Port streams and port devices of the hub.

#include "sdk/hub/HubPort.h"

#include <algorithm>

#include "sdk/foundation/KXUNISDKGlobals.h"
#include "sdk/hub/PagedFirmware.h"
#include "sdk/hub/HubFrame.h"
#include "sdk/hub/USBManager.h"

namespace kestra {

USBStream::USBStream(int slaveID, int portType, int connectionState, std::weak_ptr<USBManager> manager)
    : slaveID_(slaveID), portType_(portType), connectionState_(connectionState), manager_(std::move(manager)) {}

bool USBStream::write(int channel, const uint8_t* data, size_t length) {
  return write(channel, data, length, kWriteTimeout, nullptr) >= 0;
}

int USBStream::write(int /*channel*/, const uint8_t* data, size_t length, foundation::Duration timeout,
                     Error* /*error*/) {
  if (length == 0) return 0;
  auto manager = manager_.lock();
  if (!manager) return -1;
  auto& clock = foundation::Clock::current();
  const auto deadline = clock.now() + timeout;
  size_t sent = 0;
  while (sent < length && clock.now() < deadline) {
    const size_t chunk = std::min(length - sent, size_t(kMaxChunk));
    auto reply = manager->sendCommand(hub::kCmdWrite, slaveID_, data + sent, chunk, nullptr);
    // A failed hub command ends the write as a failure: the bytes may not have arrived.
    if (!reply) return -1;
    size_t accepted = chunk;
    if (reply->size() >= 2) {
      accepted = std::min(chunk, size_t(((*reply)[0] << 8) | (*reply)[1]));
      if (accepted == 0) pauseOnClock(kFullPause);
    }
    sent += accepted;
  }
  if (sent == 0) return -1;
  return sent < length ? -1 : int(sent);
}

// ---- Port byte stream ------------------------------------------------------------------------

void TrelmoStream::setDelegate(std::weak_ptr<TrelmoStreamDelegate> d) {
  std::lock_guard lock(mutex_);
  delegate_ = std::move(d);
}

void TrelmoStream::send(int event) {
  std::shared_ptr<TrelmoStreamDelegate> d;
  {
    std::lock_guard lock(mutex_);
    d = delegate_.lock();
  }
  if (d) d->handleEvent(event);
}

void TrelmoStream::open() {
  status_ = 2;
  clear();
  if (notificationsEnabled_) send(kTrelmoOpenCompleted);
}

void TrelmoStream::close() {
  const int was = status_.exchange(6);
  if (was == 2) send(kTrelmoEndEncountered);
}

int TrelmoStream::read(uint8_t* buffer, int maxLength) {
  std::lock_guard lock(mutex_);
  const int n = std::min(maxLength, int(streamData_.size()));
  if (n <= 0) return 0;
  std::copy(streamData_.begin(), streamData_.begin() + n, buffer);
  streamData_.erase(streamData_.begin(), streamData_.begin() + n);
  return n;
}

bool TrelmoStream::hasBytesAvailable() const {
  std::lock_guard lock(mutex_);
  return !streamData_.empty();
}

int TrelmoStream::write(const uint8_t* data, int length) {
  auto port = port_.lock();
  return port ? port->write(0, data, size_t(std::max(length, 0)), USBStream::kWriteTimeout, nullptr) : -1;
}

void TrelmoStream::clear() {
  std::lock_guard lock(mutex_);
  streamData_.clear();
}

void TrelmoStream::setDataNotification(foundation::Duration maxTime, int maxLength, const Bytes& sequence) {
  std::lock_guard lock(mutex_);
  maxTime_ = maxTime;
  maxLength_ = maxLength;
  sequence_ = sequence;
}

namespace {

// Appends and then drops the oldest bytes beyond `cap`.
void appendBounded(Bytes& buffer, const uint8_t* data, size_t length, size_t cap, const char* what) {
  buffer.insert(buffer.end(), data, data + length);
  if (buffer.size() <= cap) return;
  const size_t drop = buffer.size() - cap;
  buffer.erase(buffer.begin(), buffer.begin() + long(drop));
  KXUNISDKGlobals::LOG("TRELMO:%s: %zu unread bytes dropped", what, drop);
}

}  // namespace

void TrelmoStream::streamAppendData(const uint8_t* data, int length) {
  if (!data || length <= 0) return;
  std::lock_guard lock(mutex_);
  appendBounded(streamData_, data, size_t(length), kMaxUnread, "stream");
}

void TrelmoStream::streamNotify() {
  if (!notificationsEnabled_) return;
  bool announce;
  {
    std::lock_guard lock(mutex_);
    if (maxLength_ > 0)
      announce = int(streamData_.size()) >= maxLength_;
    else
      announce = maxTime_ == foundation::Duration::zero() && sequence_.empty();
  }
  if (announce) send(kTrelmoHasBytesAvailable);
}

// ---- Port device --------------------------------------------------------------------------

std::shared_ptr<TrelmoDevice> TrelmoDevice::create(std::shared_ptr<USBStream> stream, bool rs232) {
  std::shared_ptr<TrelmoDevice> d(new TrelmoDevice(std::move(stream), rs232));
  d->stream_->setDelegate(d);
  d->portIndex = d->stream_->slaveID();
  return d;
}

TrelmoDevice::TrelmoDevice(std::shared_ptr<USBStream> stream, bool rs232)
    : stream_(std::move(stream)), rs232_(rs232), istream_(stream_) {
  istream_.setNotificationsEnabled(true);
  istream_.open();
}

std::optional<Bytes> TrelmoDevice::sendCommand(int command, const Bytes& data, Error* error) {
  auto m = stream_->manager();
  if (!m) {
    foundation::fail(error, KXUNISDKGlobals::makeError(-20, std::string("No device connected")));
    return std::nullopt;
  }
  return m->sendCommand(command, portIndex, data, error);
}

std::optional<Bytes> TrelmoDevice::readData(int length, foundation::Duration timeout, Error* error) {
  std::unique_lock lock(mutex_);
  foundation::Clock::current().waitFor(lock, rxCv_, timeout, [&] {
    return length <= 0 ? !rxBuf_.empty() : rxBuf_.size() >= size_t(length);
  });
  if (rxBuf_.empty()) {
    foundation::fail(error, KXUNISDKGlobals::makeError(-6, std::string("Timeout waitintg for data")));
    return std::nullopt;
  }
  const size_t n = length <= 0 ? rxBuf_.size() : std::min(rxBuf_.size(), size_t(length));
  Bytes out(rxBuf_.begin(), rxBuf_.begin() + long(n));
  rxBuf_.erase(rxBuf_.begin(), rxBuf_.begin() + long(n));
  return out;
}

int TrelmoDevice::writeData(const Bytes& data, foundation::Duration timeout, Error* error) {
  return stream_->write(0, data.data(), data.size(), timeout, error);
}

std::optional<std::vector<std::string>> TrelmoDevice::accessoryShouldConnect(const std::string&,
                                                                             std::vector<std::string> channels) {
  return channels;
}

void TrelmoDevice::accessoryConnected(const std::shared_ptr<EAStream>&) {
  std::lock_guard lock(mutex_);
  rxBuf_.clear();
}

void TrelmoDevice::accessoryDisconnected(const std::shared_ptr<EAStream>&) {
  std::lock_guard lock(mutex_);
  rxBuf_.clear();
}

int TrelmoDevice::accessoryData(int channel, const uint8_t* buffer, int length) {
  std::shared_ptr<TrelmoDeviceDelegate> d;
  {
    std::lock_guard lock(mutex_);
    d = delegate_.lock();
  }
  const Bytes bytes(buffer, buffer + length);
  if (channel == 1) {
    if (d) d->TrelmoUSBInterruptDataReceivedForDevice(*this, bytes);
  } else if (channel == 0) {
    if (d) {
      d->TrelmoDataReceivedForDevice(*this, bytes);
    } else {
      istream_.streamAppendData(bytes.data(), int(bytes.size()));
      istream_.streamNotify();
      std::lock_guard lock(mutex_);
      appendBounded(rxBuf_, bytes.data(), bytes.size(), TrelmoStream::kMaxUnread, "port");
      rxCv_.notify_all();
    }
  }
  return length;
}

void TrelmoDevice::setDelegate(std::weak_ptr<TrelmoDeviceDelegate> d) {
  std::lock_guard lock(mutex_);
  delegate_ = std::move(d);
}

std::string TrelmoDevice::portConfig() const {
  std::lock_guard lock(mutex_);
  return portConfig_;
}

void TrelmoDevice::setPortConfig(const std::string& text) {
  std::lock_guard lock(mutex_);
  portConfig_ = text;
}

bool TrelmoDevice::setRS232ConfigWithBaud(int baud, int dataBits, int stopBits, int parity, int flowControl,
                                          Error* error) {
  const uint32_t b = uint32_t(baud);
  const Bytes data{uint8_t(b >> 24),      uint8_t(b >> 16),     uint8_t(b >> 8),
                   uint8_t(b),            uint8_t(dataBits),    uint8_t(stopBits),
                   uint8_t(parity),       uint8_t(flowControl)};
  return sendCommand(hub::kCmdSerialSettings, data, error).has_value();
}

}  // namespace kestra
