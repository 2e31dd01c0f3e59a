// The hub's command transport, demultiplexer, port scan and port dispatch.

#include "sdk/hub/USBManager.h"

#include <thread>

#include "platform/foundation/MainQueue.h"
#include "sdk/foundation/KXUNISDKGlobals.h"
#include "sdk/hub/HubFrame.h"
#include "sdk/hub/HubPort.h"
#include "sdk/transport/GlobalQueue.h"

namespace kestra {

namespace {
std::vector<std::string> splitText(const std::string& text, char sep) {
  std::vector<std::string> out;
  size_t start = 0;
  for (;;) {
    const size_t at = text.find(sep, start);
    out.push_back(text.substr(start, at == std::string::npos ? std::string::npos : at - start));
    if (at == std::string::npos) return out;
    start = at + 1;
  }
}

bool storeError(Error* error, Error e) {
  KXUNISDKGlobals::LOG("TRELMO:%s", e.text.c_str());
  return foundation::fail(error, std::move(e));
}
}  // namespace

std::optional<HubPortConfig> parsePortConfig(const std::string& text) {
  const auto fields = splitText(text, '|');
  if (fields.size() < 3) return std::nullopt;
  HubPortConfig c;
  c.name = fields[0];
  c.communication = splitText(fields[1], '/');
  c.channels = splitText(fields[2], ',');
  return c;
}

USBManager& USBManager::sharedManager() {
  // Registered with the accessory manager by the device API's driver factory, in its place
  // in the fixed order, not here.
  static std::shared_ptr<USBManager> shared = create();
  return *shared;
}

std::shared_ptr<USBManager> USBManager::create() { return std::shared_ptr<USBManager>(new USBManager()); }

uint64_t USBManager::nowMs() const {
  return uint64_t(std::chrono::duration_cast<std::chrono::milliseconds>(clock().now().time_since_epoch()).count());
}

void USBManager::setDelegate(std::shared_ptr<AccessoryManagerDelegate> driver) {
  if (!driver) return;
  std::lock_guard lock(mutex_);
  for (const auto& d : delegates_)
    if (d == driver) return;
  delegates_.push_back(std::move(driver));
}

std::shared_ptr<AccessoryManagerDelegate> USBManager::delegate() const {
  std::lock_guard lock(mutex_);
  return delegates_.empty() ? nullptr : delegates_.front();
}

void USBManager::setControlDelegate(std::weak_ptr<HubControlDelegate> d) {
  std::lock_guard lock(mutex_);
  controlDelegate_ = std::move(d);
}

std::shared_ptr<HubControlDelegate> USBManager::controlDelegate() const {
  std::lock_guard lock(mutex_);
  return controlDelegate_.lock();
}

std::string USBManager::deviceName() const { std::lock_guard l(mutex_); return deviceName_; }
std::string USBManager::deviceModel() const { std::lock_guard l(mutex_); return deviceModel_; }
std::string USBManager::firmwareRevision() const { std::lock_guard l(mutex_); return firmwareRevision_; }
std::string USBManager::hardwareRevision() const { std::lock_guard l(mutex_); return hardwareRevision_; }
std::string USBManager::serialNumber() const { std::lock_guard l(mutex_); return serialNumber_; }

std::shared_ptr<USBStream> USBManager::stream(int port) const {
  if (port < 0 || port >= kMaxPorts) return nullptr;
  std::lock_guard lock(mutex_);
  return streams_[size_t(port)];
}

// ---- Accessory contract ---------------------------------------------------------------

std::optional<std::vector<std::string>> USBManager::accessoryShouldConnect(const std::string& /*name*/,
                                                                           std::vector<std::string> channels) {
  if (connected_ || channels.empty() || channels.front() != kHubProtocol) return std::nullopt;
  return channels;
}

void USBManager::accessoryConnected(const std::shared_ptr<EAStream>& stream) {
  {
    std::lock_guard lock(mutex_);
    session_ = stream;
    deviceName_ = stream->deviceName();
    deviceModel_ = stream->deviceModel();
    firmwareRevision_ = stream->firmwareRevision();
    hardwareRevision_ = stream->hardwareRevision();
    serialNumber_ = stream->serialNumber();
  }
  connected_ = true;
  nStreams_ = 0;
  scanPorts();
  for (int p = 0; p < nStreams_; ++p) {
    auto s = this->stream(p);
    if (s && s->connectionState() == 1) {
      std::weak_ptr<USBManager> self = weak_from_this();
      GlobalQueue::async([self, s] {
        if (auto m = self.lock()) m->slaveConnected(s);
      });
    }
  }
  if (auto cd = controlDelegate()) cd->TrelmoConnected();
}

void USBManager::scanPorts() {
  std::array<std::shared_ptr<USBStream>, kMaxPorts> streams;
  std::array<std::shared_ptr<TrelmoDevice>, kMaxPorts> devices;
  int found = 0;
  for (int p = 0; p < kMaxPorts; ++p) {
    auto status = sendCommand(hub::kCmdPortStatus, p);
    if (!status) break;
    auto type = sendCommand(hub::kCmdPortType, p);
    if (!type) break;
    const int st = status->empty() ? 0 : (*status)[0];
    const int ty = type->empty() ? 0 : (*type)[0];
    KXUNISDKGlobals::LOG("TRELMO:Port: %d, status: %d, type: %d", p, st, ty);
    streams[size_t(p)] = std::make_shared<USBStream>(p, ty, st, weak_from_this());
    devices[size_t(p)] = TrelmoDevice::create(streams[size_t(p)], ty != 1);
    found = p + 1;
  }
  {
    std::lock_guard lock(mutex_);
    // Attach and remove events that came during the scan found no stream; the last one of a
    // port is at least as new as the status the scan read, so it decides the port's state.
    for (int p = 0; p < found; ++p) {
      if (const auto attach = pendingAttach_[size_t(p)]) {
        if (*attach) streams[size_t(p)]->setLastConnectTime(nowMs());
        streams[size_t(p)]->setConnectionState(*attach ? 1 : 0);
      }
    }
    pendingAttach_.fill(std::nullopt);
    streams_ = streams;
    devices_ = devices;
    portHandled_.fill(false);
  }
  {
    std::lock_guard lock(memLock_);
    for (auto& b : readBuffer_) b.clear();
  }
  nStreams_ = found;
  KXUNISDKGlobals::LOG("TRELMO:connected: %d", found);
}

void USBManager::slaveConnected(const std::shared_ptr<USBStream>& stream) {
  const int p = stream->slaveID();
  if (p < 0 || p >= kMaxPorts) return;
  {
    std::lock_guard lock(mutex_);
    portHandled_[size_t(p)] = false;
  }
  {
    std::lock_guard lock(memLock_);
    readBuffer_[size_t(p)].clear();
  }
  stream->setPortConnected(true);
  stream->setLastEventTime(nowMs());

  std::string text;
  if (auto config = sendCommand(hub::kCmdGetPortConfig, p)) text.assign(config->begin(), config->end());
  bool handled = false;
  if (auto config = parsePortConfig(text)) {
    if (config->communication.size() >= 2 && config->communication[0] == "SERIAL") {
      const uint32_t baud = uint32_t(std::strtoul(config->communication[1].c_str(), nullptr, 10));
      const Bytes b{uint8_t(baud >> 24), uint8_t(baud >> 16), uint8_t(baud >> 8), uint8_t(baud)};
      sendCommand(hub::kCmdSerialSettings, p, b);
    }
    std::vector<std::shared_ptr<AccessoryManagerDelegate>> drivers;
    {
      std::lock_guard lock(mutex_);
      drivers = delegates_;
    }
    // The first driver that accepts takes the port, as the accessory manager gives an
    // accessory to one driver: two printer drivers waiting for a printer would otherwise both
    // take one port, and only the second would hear its answers.
    for (const auto& driver : drivers) {
      if (!driver->accessoryShouldConnect(config->name, config->channels)) continue;
      handled = true;
      {
        std::lock_guard lock(mutex_);
        portHandled_[size_t(p)] = true;
      }
      stream->setDelegate(driver);
      stream->setDeviceName(config->name);
      stream->setDeviceModel("trelmo");
      stream->setFirmwareRevision("");
      stream->setHardwareRevision("");
      stream->setSerialNumber("");
      const bool printer = !config->channels.empty() &&
                           config->channels.front().find("com.sabrel.printer") != std::string::npos;
      const uint64_t since = nowMs() - stream->lastConnectTime();
      GlobalQueue::async([driver, stream, printer, since] {
        const auto settle = std::chrono::duration_cast<std::chrono::milliseconds>(kPrinterSettleTime).count();
        if (printer && since < uint64_t(settle)) {
          auto& clock = foundation::Clock::current();
          const auto until = clock.now() + std::chrono::milliseconds(uint64_t(settle) - since);
          std::mutex m;
          std::condition_variable cv;
          std::unique_lock lock(m);
          clock.waitFor(lock, cv, until - clock.now(), [&] { return clock.now() >= until; });
        }
        driver->accessoryConnected(stream);
      });
      break;
    }
  }
  if (handled) return;
  std::shared_ptr<TrelmoDevice> device;
  {
    std::lock_guard lock(mutex_);
    device = devices_[size_t(p)];
  }
  auto cd = controlDelegate();
  if (!device || !cd) return;
  device->portIndex = p;
  device->portType = stream->portType();
  device->portStatus = stream->connectionState();
  device->setPortConfig(text);
  foundation::MainQueue::post([cd, device] { cd->TrelmoDeviceConnected(device); });
}

int USBManager::accessoryData(int /*channel*/, const uint8_t* buffer, int length) {
  return hub::splitFrames(buffer, length, [this](const hub::Frame& f) {
    if (f.command != 0) {
      std::lock_guard lock(cmdMutex_);
      if (f.rawLength > hub::kMaxReplyFrame) {
        KXUNISDKGlobals::LOG("TRELMO:reply of %d bytes dropped", f.rawLength);
        replyLost_ = true;
      } else {
        reply_.assign(f.raw, f.raw + f.rawLength);
        replyReady_ = true;
      }
      cmdCv_.notify_all();
      return;
    }
    processData(f.raw, f.rawLength);
  });
}

void USBManager::processData(const uint8_t* frame, int length) {
  if (length < hub::kHeaderSize) return;
  const int p = frame[5];
  const int code = frame[2];
  const uint8_t* data = frame + hub::kHeaderSize;
  const int n = length - hub::kHeaderSize;
  if (p >= kMaxPorts) return;
  std::shared_ptr<USBStream> s;
  bool handled;
  std::shared_ptr<TrelmoDevice> device;
  {
    std::lock_guard lock(mutex_);
    s = streams_[size_t(p)];
    handled = portHandled_[size_t(p)];
    device = devices_[size_t(p)];
    if (!s && (code == hub::kEventConnect || code == hub::kEventDisconnect)) {
      // The port scan has not made this port's stream yet: it applies the event when it does.
      pendingAttach_[size_t(p)] = code == hub::kEventConnect;
      return;
    }
  }
  if (!s) return;
  try {
    switch (code) {
      case hub::kEventConnect: {
        KXUNISDKGlobals::LOG("TRELMO:EVENT_CONNECT_ID, slave=%d", p);
        s->setLastConnectTime(nowMs());
        s->setConnectionState(1);
        std::weak_ptr<USBManager> self = weak_from_this();
        GlobalQueue::async([self, s] {
          if (auto m = self.lock()) m->slaveConnected(s);
        });
        break;
      }
      case hub::kEventDisconnect: {
        KXUNISDKGlobals::LOG("TRELMO:EVENT_DISCONNECT_ID, slave=%d", p);
        s->setPortConnected(false);
        s->setConnectionState(0);
        if (auto d = s->delegate())
          foundation::MainQueue::post([d, s] { d->accessoryDisconnected(s); });
        auto cd = controlDelegate();
        if (!handled && cd && device) foundation::MainQueue::post([cd, device] { cd->TrelmoDeviceDisconnected(device); });
        break;
      }
      case hub::kEventReceive: {
        KXUNISDKGlobals::LOG("TRELMO:EVENT_RECEIVE_ID, slave=%d, dataLen=%d", p, n);
        Bytes held;
        {
          std::lock_guard lock(memLock_);
          Bytes& buf = readBuffer_[size_t(p)];
          const size_t room = kPortBufferSize - buf.size();
          if (size_t(n) > room) KXUNISDKGlobals::LOG("TRELMO:port %d buffer full, %d bytes dropped", p, int(n - room));
          buf.insert(buf.end(), data, data + std::min(size_t(n), room));
          held = buf;
        }
        auto d = s->delegate();
        size_t used = 0;
        while (used < held.size()) {
          if (!d) {
            used = held.size();
            break;
          }
          const int r = d->accessoryData(0, held.data() + used, int(held.size() - used));
          if (r < 1) break;
          used += std::min(size_t(r), held.size() - used);
        }
        std::lock_guard lock(memLock_);
        Bytes& buf = readBuffer_[size_t(p)];
        buf.erase(buf.begin(), buf.begin() + long(std::min(used, buf.size())));
        break;
      }
      case hub::kEventReceiveInterrupt:
        KXUNISDKGlobals::LOG("TRELMO:EVENT_RECEIVE_INTERRUPT_ID, slave=%d, dataLen=%d", p, n);
        if (auto d = s->delegate()) d->accessoryData(1, data, n);
        break;
      default: break;
    }
  } catch (...) {
  }
}

void USBManager::accessoryDisconnected(const std::shared_ptr<EAStream>& /*stream*/) {
  {
    std::lock_guard lock(mutex_);
    session_.reset();
    pendingAttach_.fill(std::nullopt);
    deviceName_.clear();
    deviceModel_.clear();
    firmwareRevision_.clear();
    hardwareRevision_.clear();
    serialNumber_.clear();
  }
  connected_ = false;
  {
    std::lock_guard lock(cmdMutex_);
    cmdCv_.notify_all();
  }
  std::weak_ptr<USBManager> self = weak_from_this();
  GlobalQueue::async([self] {
    if (auto m = self.lock()) {
      m->dropPorts();
      m->disconnect();
    }
  });
}

void USBManager::dropPorts() {
  const int n = nStreams_;
  for (int p = 0; p < n; ++p) {
    std::shared_ptr<USBStream> s;
    {
      std::lock_guard lock(mutex_);
      s.swap(streams_[size_t(p)]);
    }
    if (!s) continue;
    s->setPortConnected(false);
    if (auto d = s->delegate()) foundation::MainQueue::post([d, s] { d->accessoryDisconnected(s); });
  }
  nStreams_ = 0;
}

void USBManager::disconnect() {
  std::shared_ptr<EAStream> session;
  {
    std::lock_guard lock(mutex_);
    session.swap(session_);
  }
  if (session) session->disconnect();
  if (auto cd = controlDelegate()) cd->TrelmoDisconnected();
}

// ---- Command transport ------------------------------------------------------------------

std::optional<Bytes> USBManager::sendCommand(int command, int slave, const uint8_t* data, size_t length,
                                             Error* error) {
  std::unique_lock lock(cmdMutex_);
  if (!clock().waitFor(lock, cmdCv_, kCommandLockTimeout, [&] { return !cmdBusy_; })) {
    storeError(error, KXUNISDKGlobals::makeError(-6, std::string("Failed aquiring command lock")));
    return std::nullopt;
  }
  auto frame = hub::encodeCommand(command, slave, data, length);
  if (!frame) {
    storeError(error, KXUNISDKGlobals::makeError(-9, "Invalid data length: command=%02x", command & 0xFF));
    return std::nullopt;
  }
  cmdBusy_ = true;
  replyReady_ = false;
  replyLost_ = false;
  reply_.clear();
  std::shared_ptr<EAStream> session;
  {
    std::lock_guard l(mutex_);
    session = session_;
  }
  auto finish = [&](std::optional<Error> e) -> std::optional<Bytes> {
    cmdBusy_ = false;
    cmdCv_.notify_all();
    if (e) {
      storeError(error, std::move(*e));
      return std::nullopt;
    }
    return Bytes(reply_.begin() + hub::kHeaderSize, reply_.end());
  };
  lock.unlock();
  const bool written = session && session->write(0, *frame);
  lock.lock();
  if (!written) return finish(KXUNISDKGlobals::makeError(-6, "Timeout sending data: command=%02x", command & 0xFF));
  clock().waitFor(lock, cmdCv_, kReplyTimeout, [&] {
    return replyReady_ || replyLost_ || !connected_ || !session->isOpen();
  });
  if (!replyReady_) return finish(KXUNISDKGlobals::makeError(-6, "Command response lost: command=%02x", command & 0xFF));
  const int echo = reply_[1];
  if (echo != (command & 0xFF))
    return finish(KXUNISDKGlobals::makeError(-6, "Wrong command received: Expected: %02x but received: %02x",
                                             command & 0xFF, echo));
  const int status = reply_[2];
  if (status != 0) return finish(hub::statusError(status, command & 0xFF));
  return finish(std::nullopt);
}

// ---- Port operations ---------------------------------------------------------------------

int USBManager::getSupportedFeature(int feature, Error* error) const {
  if (feature == 16) return 1;
  foundation::fail(error, KXUNISDKGlobals::makeError(0, std::string("Feature not supported on the connected device(s)")));
  return 0;
}

std::optional<std::vector<TrelmoPortInfo>> USBManager::getPortsInfo(Error* error) {
  std::vector<TrelmoPortInfo> list;
  for (int p = 0; p < nStreams_; ++p) {
    TrelmoPortInfo info;
    info.portIndex = p;
    auto status = sendCommand(hub::kCmdPortStatus, p, {}, error);
    if (!status) return std::nullopt;
    auto type = sendCommand(hub::kCmdPortType, p, {}, error);
    if (!type) break;
    info.portStatus = status->empty() ? 0 : (*status)[0];
    info.portType = type->empty() ? 0 : (*type)[0];
    info.portConfig = getPortConfig(p, error).value_or("");
    if (auto c = parsePortConfig(info.portConfig)) {
      info.portConfigName = c->name;
      info.portConfigCommunication = c->communication;
      info.portConfigChannel = c->channels;
    }
    list.push_back(std::move(info));
  }
  return list;
}

std::optional<std::string> USBManager::getPortConfig(int port, Error* error) {
  auto r = sendCommand(hub::kCmdGetPortConfig, port, {}, error);
  if (!r) return std::nullopt;
  return std::string(r->begin(), r->end());
}

bool USBManager::setPortConfig(const std::string& config, int port, bool recreateConnection, Error* error) {
  // The whole UTF-8 text goes out, whatever its characters.
  if (!sendCommand(hub::kCmdSetPortConfig, port, Bytes(config.begin(), config.end()), error)) return false;
  auto s = stream(port);
  if (recreateConnection && s && s->connectionState() == 1) {
    uint8_t event[hub::kHeaderSize] = {0, 0, hub::kEventDisconnect, 0, 0, uint8_t(port)};
    processData(event, hub::kHeaderSize);
    std::mutex m;
    std::condition_variable cv;
    std::unique_lock lock(m);
    const auto until = clock().now() + kRecreatePause;
    clock().waitFor(lock, cv, kRecreatePause, [&] { return clock().now() >= until; });
    event[2] = hub::kEventConnect;
    processData(event, hub::kHeaderSize);
  }
  return true;
}

bool USBManager::setUSBCharge(bool on, int port, Error* error) {
  return sendCommand(hub::kCmdPortCharging, port, Bytes{uint8_t(on ? 1 : 0)}, error).has_value();
}

bool USBManager::setAppleCharge(int current, Error* error) {
  return sendCommand(hub::kCmdChargeCurrent, 0, Bytes{uint8_t(current >> 8), uint8_t(current)}, error).has_value();
}

bool USBManager::getAppleCharge(int* current, Error* error) {
  auto r = sendCommand(hub::kCmdChargeCurrent, 0, {}, error);
  if (!r) return false;
  if (current && r->size() >= 2) *current = ((*r)[0] << 8) | (*r)[1];
  return true;
}

bool USBManager::setSerial(const std::string& serial, Error* error) {
  return sendCommand(hub::kCmdSetSerialNumber, 0, Bytes(serial.begin(), serial.end()), error).has_value();
}

std::optional<TrelmoUSBDeviceDescriptor> USBManager::getUSBDeviceDescriptorForSlave(int port, Error* error) {
  auto d = sendCommand(hub::kCmdUSBDescriptor, port, {}, error);
  if (!d) return std::nullopt;
  Bytes b = *d;
  b.resize(std::max<size_t>(b.size(), 18), 0);
  TrelmoUSBDeviceDescriptor r;
  auto u16 = [&](int i) { return uint16_t(b[size_t(i)] | (b[size_t(i) + 1] << 8)); };
  r.bcdUSB = u16(2);
  r.bDeviceClass = b[4];
  r.bDeviceSubClass = b[5];
  r.bDeviceProtocol = b[6];
  r.bMaxPacketSize = b[7];
  r.idVendor = u16(8);
  r.idProduct = u16(10);
  r.bcdDevice = u16(12);
  r.bNumConfigurations = b[17];
  auto strings = sendCommand(hub::kCmdUSBStrings, port, Bytes{b[14]}, nullptr);
  std::vector<std::string> list;
  if (strings && !strings->empty()) list = splitText(std::string(strings->begin(), strings->end()), '\0');
  auto pick = [&](uint8_t k) { return k == 0 || size_t(k - 1) >= list.size() ? std::string() : list[size_t(k - 1)]; };
  r.iManufacturer = pick(b[14]);
  r.iProduct = pick(b[15]);
  r.iSerialNumber = pick(b[16]);
  return r;
}

std::shared_ptr<TrelmoDevice> USBManager::getPortDeviceFormPort(int port, Error* error) {
  if (port < 0 || port >= nStreams_) {
    storeError(error, KXUNISDKGlobals::makeError(-16, std::string("No such port available")));
    return nullptr;
  }
  std::lock_guard lock(mutex_);
  return devices_[size_t(port)];
}

}  // namespace kestra
