// Port streams and port devices of the hub.

#include "sdk/hub/HubPort.h"

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

// ---- Port device --------------------------------------------------------------------------

std::shared_ptr<TrelmoDevice> TrelmoDevice::create(std::shared_ptr<USBStream> stream, bool rs232) {
  std::shared_ptr<TrelmoDevice> d(new TrelmoDevice(std::move(stream), rs232));
  d->stream_->setDelegate(d);
  d->portIndex = d->stream_->slaveID();
  return d;
}

TrelmoDevice::TrelmoDevice(std::shared_ptr<USBStream> stream, bool rs232) : stream_(std::move(stream)), rs232_(rs232) {}

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
      std::lock_guard lock(mutex_);
      rxBuf_.insert(rxBuf_.end(), bytes.begin(), bytes.end());
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
