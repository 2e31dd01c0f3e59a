// The serial adapter's command transport, incoming packets, stream face and serial port.

#include "sdk/hub/CarvikStream.h"

#include <algorithm>

#include "platform/foundation/MainQueue.h"
#include "sdk/foundation/KXUNISDKGlobals.h"
#include "sdk/hub/PagedFirmware.h"

namespace kestra {

namespace {
Error logFail(Error* error, Error e) {
  KXUNISDKGlobals::LOG("ERROR: %s", e.text.c_str());
  if (error) *error = e;
  return e;
}


std::optional<Error> statusError(int status, int code, int channel, int command) {
  struct Entry {
    int status, code;
    const char* text;
  } static const table[] = {
      {1, -1, "General error"},   {2, -9, "Invalid data length"},         {3, -9, "Invalid argument"},
      {4, -17, "Invalid command"}, {5, -6, "Timeout"},                     {6, -7, "Module inactive"},
      {7, -20, "Operation is not permitted"}, {8, -20, "Authentication required"},
  };
  for (const auto& e : table)
    if (e.status == status)
      return KXUNISDKGlobals::makeError(e.code, "%s: channel=%d, command=%d", e.text, channel, command);
  if (code != 0) return KXUNISDKGlobals::makeError(-1, "Unknown error %d: channel=%d, command=%d", code, channel, command);
  return std::nullopt;
}
}  // namespace

void CarvikStream::setDelegate(std::weak_ptr<CarvikStreamDelegate> d) {
  std::lock_guard lock(mutex_);
  delegate_ = std::move(d);
}

void CarvikStream::setControlDelegate(std::weak_ptr<CarvikControlDelegate> d) {
  std::lock_guard lock(mutex_);
  control_ = std::move(d);
}

std::shared_ptr<CarvikControlDelegate> CarvikStream::control() const {
  std::lock_guard lock(mutex_);
  return control_.lock();
}

void CarvikStream::notify(int event) {
  std::shared_ptr<CarvikStreamDelegate> d;
  {
    std::lock_guard lock(mutex_);
    d = delegate_.lock();
  }
  if (!d) return;
  try {
    d->handleEvent(event);
  } catch (...) {
  }
}

std::vector<std::string> CarvikStream::btConnectedDevices() const { return module_->btConnectedDevices(); }
std::vector<std::string> CarvikStream::btDeviceAddresses() const {
  return module_->btDeviceAddresses().value_or(std::vector<std::string>{});
}
std::vector<std::string> CarvikStream::btDeviceNames() const { return module_->btDeviceNames(); }
std::string CarvikStream::deviceName() const { std::lock_guard l(mutex_); return deviceName_; }
std::string CarvikStream::deviceModel() const { std::lock_guard l(mutex_); return deviceModel_; }
std::string CarvikStream::firmwareRevision() const { std::lock_guard l(mutex_); return firmwareRevision_; }
std::string CarvikStream::hardwareRevision() const { std::lock_guard l(mutex_); return hardwareRevision_; }
std::string CarvikStream::serialNumber() const { std::lock_guard l(mutex_); return serialNumber_; }

// ---- Accessory contract --------------------------------------------------------------------

std::optional<std::vector<std::string>> CarvikStream::accessoryShouldConnect(const std::string& name,
                                                                             std::vector<std::string> channels) {
  if (connected_ || name.rfind(kCarvikAccessoryName, 0) != 0) return std::nullopt;
  if (std::find(channels.begin(), channels.end(), "com.sabrel.carvik.communication") == channels.end())
    return std::nullopt;
  return std::vector<std::string>{"com.sabrel.carvik.communication"};
}

void CarvikStream::accessoryConnected(const std::shared_ptr<EAStream>& stream) {
  {
    std::lock_guard lock(mutex_);
    eaStream_ = stream;
    deviceName_ = stream->deviceName();
    deviceModel_ = stream->deviceModel();
    firmwareRevision_ = stream->firmwareRevision();
    hardwareRevision_ = stream->hardwareRevision();
    serialNumber_ = stream->serialNumber();
    serialSupported_ = deviceModel_ == "R";
    bluetoothSupported_ = deviceModel_ == "B";
  }
  connected_ = true;
  btDiscoverInProgress_ = false;
  discoverFilter = 0;
  if (auto c = control()) c->carvikConnected();
}

void CarvikStream::accessoryDisconnected(const std::shared_ptr<EAStream>& /*stream*/) {
  connected_ = false;
  serialEnabled_ = btEnabled_ = serialSupported_ = bluetoothSupported_ = btDataMode_ = false;
  {
    std::lock_guard lock(mutex_);
    eaStream_.reset();
    deviceName_.clear();
    deviceModel_.clear();
    firmwareRevision_.clear();
    hardwareRevision_.clear();
    serialNumber_.clear();
  }
  // The radio's links went with the adapter.
  module_->btDeviceDisconnected("");
  {
    std::lock_guard lock(cmdMutex_);
    cmdCv_.notify_all();
  }
  auto c = control();
  if (c) c->carvikDisconnected();
  if (btDiscoverInProgress_)
    discoverFinish(KXUNISDKGlobals::makeError(-20, std::string("Lost connection with the module")));
  streamStatus_ = 6;
  if (c) c->bluetoothDeviceDisconnected();
  notify(kStreamEndEncountered);
}

int CarvikStream::accessoryData(int /*channel*/, const uint8_t* buffer, int length) {
  int pos = 0;
  while (length - pos >= kHeader) {
    const uint8_t* p = buffer + pos;
    const int n = (p[1] << 8) | p[2];
    if (p[0] != 0 || n + kHeader > kMaxFrame) {
      // Not a frame start, or a length no frame has: skip to the next possible start.
      ++pos;
      while (pos < length && buffer[pos] != 0) ++pos;
      continue;
    }
    if (length - pos < n + kHeader) break;
    if (p[4] != 0x02) return length;  // wrong direction: everything held is dropped
    const int command = p[3];
    const uint8_t* data = p + kHeader;
    if (command == kCmdSerialIn) {
      if (n > 2) appendStreamData(data + 2, n - 2);
    } else if (command == kCmdBluetoothEvent) {
      if (n > 2) processBTEvents(data + 2, n - 2);
    } else {
      std::lock_guard lock(cmdMutex_);
      reply_.assign(p, p + n + kHeader);
      replyReady_ = true;
      cmdCv_.notify_all();
    }
    pos += n + kHeader;
  }
  return pos;
}

bool CarvikStream::dataPathOpen() const {
  return streamStatus_ == 2 && (serialSupported_ || (bluetoothSupported_ && btDataMode_));
}

void CarvikStream::appendStreamData(const uint8_t* data, int length) {
  {
    std::lock_guard lock(mutex_);
    streamData_.insert(streamData_.end(), data, data + length);
    if (streamData_.size() > kMaxUnread) {
      // Nobody reads: keep the newest bytes rather than all of them.
      const size_t drop = streamData_.size() - kMaxUnread;
      streamData_.erase(streamData_.begin(), streamData_.begin() + long(drop));
      KXUNISDKGlobals::LOG("SERR: %zu unread bytes dropped", drop);
    }
  }
  if (dataPathOpen()) notify(kStreamHasBytesAvailable);
}

// ---- Command transport ----------------------------------------------------------------------

std::optional<Bytes> CarvikStream::sendCommand(int channel, int command, const Bytes& data, Error* error) {
  auto& clock = foundation::Clock::current();
  std::unique_lock lock(cmdMutex_);
  if (!clock.waitFor(lock, cmdCv_, kCommandLockTimeout, [&] { return !cmdBusy_; })) {
    logFail(error, KXUNISDKGlobals::makeError(-20, std::string("Failed aquiring command lock")));
    return std::nullopt;
  }
  if (!connected_) {
    logFail(error, KXUNISDKGlobals::makeError(-16, std::string("Device not connected")));
    return std::nullopt;
  }
  if (data.size() + kHeader > size_t(kMaxFrame)) {
    logFail(error, KXUNISDKGlobals::makeError(-9, std::string("Input length is too big")));
    return std::nullopt;
  }
  std::shared_ptr<EAStream> stream;
  {
    std::lock_guard l(mutex_);
    stream = eaStream_;
  }
  cmdBusy_ = true;
  replyReady_ = false;
  reply_.clear();
  Bytes frame{0x00, uint8_t(data.size() >> 8), uint8_t(data.size()), uint8_t(command), 0x01, messageId_++};
  frame.insert(frame.end(), data.begin(), data.end());
  auto done = [&](std::optional<Error> e) -> std::optional<Bytes> {
    cmdBusy_ = false;
    cmdCv_.notify_all();
    if (e) {
      KXUNISDKGlobals::LOG("channel=%d,command=%d", channel, command);
      logFail(error, *e);
      return std::nullopt;
    }
    return Bytes(reply_.begin() + kHeader, reply_.end());
  };
  lock.unlock();
  const bool written = stream && stream->write(0, frame);
  lock.lock();
  if (!written)
    return done(KXUNISDKGlobals::makeError(-6, "Timeout sending data: channel=%d, command=%d", channel, command));
  clock.waitFor(lock, cmdCv_, kReplyTimeout, [&] { return replyReady_ || !connected_; });
  if (!replyReady_)
    return done(KXUNISDKGlobals::makeError(-6, "Command response lost: channel=%d, command=%d", channel, command));
  if (reply_[3] != uint8_t(command))
    return done(KXUNISDKGlobals::makeError(-6, "Wrong command received: channel=%d, command=%d", channel, command));
  const int status = reply_.size() > kHeader ? reply_[kHeader] : 0;
  const int code = reply_.size() > kHeader + 1 ? reply_[kHeader + 1] : 0;
  return done(statusError(status, code, channel, command));
}

// ---- Stream face -----------------------------------------------------------------------------

void CarvikStream::open() {
  if (streamStatus_ != 2) streamStatus_ = 1;
  if (serialEnabled_ || btEnabled_) {
    streamStatus_ = 2;
    notify(kStreamOpenCompleted);
  }
}

void CarvikStream::close() {
  if (streamStatus_ == 6) return;
  streamStatus_ = 6;
  serialEnabled_ = false;
  btEnabled_ = false;
}

int CarvikStream::read(uint8_t* buffer, int maxLength) {
  std::lock_guard lock(mutex_);
  const int n = std::min(maxLength, int(streamData_.size()));
  if (n <= 0) return 0;
  std::copy(streamData_.begin(), streamData_.begin() + n, buffer);
  streamData_.erase(streamData_.begin(), streamData_.begin() + n);
  return n;
}

bool CarvikStream::hasBytesAvailable() const {
  std::lock_guard lock(mutex_);
  return !streamData_.empty();
}

int CarvikStream::write(const uint8_t* data, int length) { return btWrite(data, length) ? length : 0; }

void CarvikStream::clear() {
  std::lock_guard lock(mutex_);
  streamData_.clear();
}

void CarvikStream::disconnect() {
  std::shared_ptr<EAStream> stream;
  {
    std::lock_guard lock(mutex_);
    stream = eaStream_;
  }
  if (stream) stream->disconnect();
}

// ---- Serial port -------------------------------------------------------------------------------

bool CarvikStream::serialSetSettings(int baud, int parity, int dataBits, int stopBits, int flowControl, Error* error) {
  baudRate_ = baud;
  parity_ = parity;
  dataBits_ = dataBits;
  stopBits_ = stopBits;
  flowControl_ = flowControl;
  return connected_ ? applySerialSettings(error) : true;
}

bool CarvikStream::applySerialSettings(Error* error) {
  const uint32_t b = uint32_t(baudRate_.load());
  const Bytes data{uint8_t(b >> 24), uint8_t(b >> 16), uint8_t(b >> 8), uint8_t(b),
                   uint8_t(dataBits_ | stopBits_ << 1 | parity_ << 2 | flowControl_ << 4),
                   0x00, 0x14, 0x00, 0x14};
  auto r = sendCommand(0, kCmdSerialSettings, data, error);
  if (!r) return false;
  if (r->size() != 2) {
    logFail(error, KXUNISDKGlobals::makeError(-9, std::string("Invalid data length received")));
    return false;
  }
  return true;
}

bool CarvikStream::serialConnect(Error* error) {
  if (!connected_) {
    logFail(error, KXUNISDKGlobals::makeError(-20, std::string("Device is not connected")));
    return false;
  }
  if (!serialSupported_) {
    logFail(error, KXUNISDKGlobals::makeError(-7, std::string("No serial port present on this device")));
    return false;
  }
  if (!applySerialSettings(error)) return false;
  serialEnabled_ = true;
  if (streamStatus_ == 1) {
    streamStatus_ = 2;
    notify(kStreamOpenCompleted);
  }
  return true;
}

bool CarvikStream::btWrite(const uint8_t* data, int length, Error* error) {
  if (length < 1) return true;
  auto& clock = foundation::Clock::current();
  // An adapter that keeps taking nothing (its port blocked by flow control, say) ends the
  // write with an error instead of holding the caller for ever.
  const auto deadline = clock.now() + kSerialWriteTimeout;
  int sent = 0;
  while (sent < length) {
    if (clock.now() >= deadline)
      return foundation::fail(error, KXUNISDKGlobals::makeError(-6, std::string("Timeout writing data")));
    const int chunk = std::min(length - sent, kSerialChunk);
    auto r = sendCommand(0, kCmdSerialOut, Bytes(data + sent, data + sent + chunk), error);
    if (!r || r->size() != 4) return false;
    const int taken = std::min(chunk, ((*r)[2] << 8) | (*r)[3]);
    if (taken == 0) pauseOnClock(kFullPause);
    sent += taken;
  }
  return true;
}

int CarvikStream::getSupportedFeature(int feature, Error* error) const {
  if (feature == 2) return 1;
  foundation::fail(error, KXUNISDKGlobals::makeError(0, std::string("Feature not supported on the connected device(s)")));
  return 0;
}

}  // namespace kestra
