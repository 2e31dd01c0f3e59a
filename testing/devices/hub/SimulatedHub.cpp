#include "testing/devices/hub/SimulatedHub.h"

namespace devices {

namespace {
// US keyboard: usage ID and shift for the characters a scanner types.
std::optional<std::pair<uint8_t, bool>> usageFor(char c) {
  if (c >= 'a' && c <= 'z') return std::make_pair(uint8_t(0x04 + (c - 'a')), false);
  if (c >= 'A' && c <= 'Z') return std::make_pair(uint8_t(0x04 + (c - 'A')), true);
  if (c >= '1' && c <= '9') return std::make_pair(uint8_t(0x1E + (c - '1')), false);
  if (c == '0') return std::make_pair(uint8_t(0x27), false);
  if (c == '\r' || c == '\n') return std::make_pair(uint8_t(0x28), false);
  if (c == ' ') return std::make_pair(uint8_t(0x2C), false);
  if (c == '-') return std::make_pair(uint8_t(0x2D), false);
  if (c == '.') return std::make_pair(uint8_t(0x37), false);
  if (c == '/') return std::make_pair(uint8_t(0x38), false);
  if (c == '%') return std::make_pair(uint8_t(0x22), true);
  if (c == '+') return std::make_pair(uint8_t(0x2E), true);
  return std::nullopt;
}
}  // namespace

accessory::AccessoryIdentity SimulatedHub::identity() {
  accessory::AccessoryIdentity id;
  id.name = "Trelmo Hub";
  id.manufacturer = "SABREL";
  id.modelNumber = "HUB-PM";
  id.serialNumber = "H0001";
  id.firmwareRevision = "1.10";
  id.hardwareRevision = "1.0";
  id.protocolStrings = {"com.sabrel.carvik.communication"};
  return id;
}

SimulatedHub::SimulatedHub(accessory::AccessoryIdentity identity, std::filesystem::path folder, int portCount)
    : SimulatedAccessory(std::move(identity), std::move(folder)), portCount_(portCount) {}

SimulatedHub::~SimulatedHub() { detach(); }

void SimulatedHub::setPort(int port, Port p) {
  std::lock_guard lock(mutex_);
  ports_[size_t(port)] = std::move(p);
}

SimulatedHub::Port SimulatedHub::port(int port) const {
  std::lock_guard lock(mutex_);
  return ports_[size_t(port)];
}

int SimulatedHub::appleChargeCurrent() const {
  std::lock_guard lock(mutex_);
  return appleCharge_;
}

std::string SimulatedHub::hubSerial() const {
  std::lock_guard lock(mutex_);
  return serial_;
}

std::vector<std::pair<int, int>> SimulatedHub::commands() const {
  std::lock_guard lock(mutex_);
  return commands_;
}

void SimulatedHub::forceStatus(int command, int status, int times) {
  std::lock_guard lock(mutex_);
  if (times == 0)
    forced_.erase(command);
  else
    forced_[command] = {status, times};
}

std::map<uint32_t, Bytes> SimulatedHub::firmwarePages() const {
  std::lock_guard lock(mutex_);
  return firmware_;
}

std::vector<int> SimulatedHub::firmwareCommands() const {
  std::lock_guard lock(mutex_);
  return firmwareCommands_;
}

void SimulatedHub::setWriteAccept(std::optional<int> bytes) {
  std::lock_guard lock(mutex_);
  writeAccept_ = bytes;
}

void SimulatedHub::onCommand(std::function<void(int, int)> hook) {
  std::lock_guard lock(mutex_);
  commandHook_ = std::move(hook);
}

void SimulatedHub::hostDevice(int port, PortDevice device) {
  std::lock_guard lock(mutex_);
  hosted_[size_t(port)] = std::move(device);
}

SimulatedHub::PortDevice SimulatedHub::framed(std::shared_ptr<FrameCommandDevice> device) {
  return [device](const Bytes& written) {
    Bytes out;
    for (const auto& o : device->feed(0, written.data(), written.size()))
      out.insert(out.end(), o.bytes.begin(), o.bytes.end());
    return out;
  };
}

Bytes SimulatedHub::eventFrame(int code, int port, const Bytes& data) {
  Bytes f{0x3E, 0x00, uint8_t(code), uint8_t(data.size() >> 8), uint8_t(data.size()), uint8_t(port)};
  f.insert(f.end(), data.begin(), data.end());
  return f;
}

void SimulatedHub::plugIn(int port, const std::string& config) {
  {
    std::lock_guard lock(mutex_);
    ports_[size_t(port)].attached = true;
    ports_[size_t(port)].config = config;
  }
  send(0, eventFrame(1, port));
}

void SimulatedHub::unplug(int port) {
  {
    std::lock_guard lock(mutex_);
    ports_[size_t(port)].attached = false;
  }
  send(0, eventFrame(2, port));
}

void SimulatedHub::portData(int port, const Bytes& data, bool interrupt) {
  send(0, eventFrame(interrupt ? 5 : 3, port, data));
}

std::optional<Bytes> SimulatedHub::keyReport(char c) {
  auto u = usageFor(c);
  if (!u) return std::nullopt;
  return Bytes{uint8_t(u->second ? 0x02 : 0x00), 0, u->first, 0, 0, 0, 0, 0};
}

void SimulatedHub::typeText(int port, const std::string& text, bool enter) {
  const Bytes release(8, 0);
  std::string all = text;
  if (enter) all.push_back('\r');
  Bytes frames;  // one write: the host sees the reports merged
  for (char c : all) {
    if (auto r = keyReport(c)) {
      for (const Bytes* b : {static_cast<const Bytes*>(&*r), &release}) {
        const Bytes f = eventFrame(5, port, *b);
        frames.insert(frames.end(), f.begin(), f.end());
      }
    }
  }
  send(0, frames);
}

void SimulatedHub::swipeCard(int port, const std::string& t1, const std::string& t2, const std::string& t3) {
  Bytes report{0, 0, 0, uint8_t(t1.size()), uint8_t(t2.size()), uint8_t(t3.size()), 0};
  for (const auto* t : {&t1, &t2, &t3}) report.insert(report.end(), t->begin(), t->end());
  report.resize(report.size() + 16, 0);
  portData(port, report, true);
}

void SimulatedHub::onReceive(int channel, const uint8_t* data, size_t length) {
  if (channel != 0) return;
  std::vector<std::tuple<int, int, Bytes>> frames;
  {
    std::lock_guard lock(mutex_);
    rx_.insert(rx_.end(), data, data + length);
    for (;;) {
      while (!rx_.empty() && rx_[0] != 0x3E) rx_.erase(rx_.begin());
      if (rx_.size() < 6) break;
      const size_t n = size_t(rx_[3] << 8 | rx_[4]);
      if (rx_.size() < n + 6) break;
      frames.emplace_back(rx_[1], rx_[5], Bytes(rx_.begin() + 6, rx_.begin() + long(n + 6)));
      rx_.erase(rx_.begin(), rx_.begin() + long(n + 6));
    }
  }
  for (auto& [cmd, port, payload] : frames) handle(cmd, port, payload);
}

void SimulatedHub::reply(int command, int status, int port, const Bytes& data) {
  Bytes f{0x3E, uint8_t(command), uint8_t(status), uint8_t(data.size() >> 8), uint8_t(data.size()), uint8_t(port)};
  f.insert(f.end(), data.begin(), data.end());
  send(0, f);
}

void SimulatedHub::handle(int command, int port, const Bytes& data) {
  std::unique_lock lock(mutex_);
  commands_.emplace_back(command, port);
  if (auto hook = commandHook_) {
    lock.unlock();
    hook(command, port);
    lock.lock();
  }
  if (command >= 0xF0) firmwareCommands_.push_back(command);
  if (port >= portCount_) {  // no such port: the hub refuses the value
    lock.unlock();
    reply(command, 3, port);
    return;
  }
  if (auto it = forced_.find(command); it != forced_.end()) {
    const int status = it->second.first;
    if (it->second.second > 0 && --it->second.second == 0) forced_.erase(it);
    lock.unlock();
    reply(command, status, port);
    return;
  }
  Port& p = ports_[size_t(port)];
  Bytes answer;
  PortDevice hosted;
  Bytes forDevice;
  switch (command) {
    case 0x01: {
      const size_t accepted = writeAccept_ ? std::min(data.size(), size_t(*writeAccept_)) : data.size();
      p.written.insert(p.written.end(), data.begin(), data.begin() + long(accepted));
      answer = {uint8_t(accepted >> 8), uint8_t(accepted)};
      if (p.attached && accepted > 0 && hosted_[size_t(port)]) {
        hosted = hosted_[size_t(port)];
        forDevice.assign(data.begin(), data.begin() + long(accepted));
      }
      break;
    }
    case 0x02: answer = {uint8_t(p.type)}; break;
    case 0x03: answer = {uint8_t(p.attached ? 1 : 0)}; break;
    case 0x04: p.config.assign(data.begin(), data.end()); break;
    case 0x05: answer.assign(p.config.begin(), p.config.end()); break;
    case 0x07: serial_.assign(data.begin(), data.end()); break;
    case 0x10: answer = p.descriptor; break;
    case 0x11:
      for (const auto& s : p.strings) {
        answer.insert(answer.end(), s.begin(), s.end());
        answer.push_back(0);
      }
      break;
    case 0x12:
      if (data.size() >= 2)
        appleCharge_ = data[0] << 8 | data[1];
      else
        answer = {uint8_t(appleCharge_ >> 8), uint8_t(appleCharge_)};
      break;
    case 0x13: p.charging = !data.empty() && data[0] == 1; break;
    case 0x20: p.serialSettings = data; break;
    case 0xF0:
    case 0xF3: break;
    case 0xF1: firmware_.clear(); break;
    case 0xF2:
      if (data.size() < 4) {
        lock.unlock();
        reply(command, 2, port);
        return;
      }
      firmware_[uint32_t(data[0] << 24 | data[1] << 16 | data[2] << 8 | data[3])] = Bytes(data.begin() + 4, data.end());
      break;
    default:
      lock.unlock();
      reply(command, 4, port);
      return;
  }
  lock.unlock();
  reply(command, 0, port, answer);
  if (!hosted) return;
  // The device's answer, in event frames the host's port buffer takes whole.
  const Bytes back = hosted(forDevice);
  constexpr size_t kEventData = 1024;
  for (size_t at = 0; at < back.size(); at += kEventData)
    portData(port, Bytes(back.begin() + long(at), back.begin() + long(std::min(back.size(), at + kEventData))));
}

}  // namespace devices
