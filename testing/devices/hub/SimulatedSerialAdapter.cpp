#include "testing/devices/hub/SimulatedSerialAdapter.h"

#include <fcntl.h>
#include <poll.h>
#include <pty.h>
#include <sys/ioctl.h>
#include <termios.h>
#include <unistd.h>

#include <chrono>

namespace devices {

SimulatedSerialAdapter::SimulatedSerialAdapter() {
  int slave = -1;
  char name[128] = {};
  if (openpty(&master_, &slave, name, nullptr, nullptr) != 0) {
    master_ = -1;
    return;
  }
  termios t{};
  tcgetattr(master_, &t);
  cfmakeraw(&t);
  tcsetattr(master_, TCSANOW, &t);
  // The host opens the slave by its path; this descriptor keeps the terminal from hanging up
  // while the host has it closed.
  slave_ = slave;
  slaveName_ = name;
  thread_ = std::thread([this] { run(); });
}

SimulatedSerialAdapter::~SimulatedSerialAdapter() {
  stop_ = true;
  if (thread_.joinable()) thread_.join();
  if (master_ >= 0) ::close(master_);
  if (slave_ >= 0) ::close(slave_);
}

void SimulatedSerialAdapter::run() {
  uint8_t buf[1024];
  while (!stop_) {
    pollfd p{master_, POLLIN, 0};
    // A bounded poll so the thread notices `stop_`; not a wait any test depends on.
    if (::poll(&p, 1, 20) <= 0) continue;
    reading_ = true;
    const ssize_t n = ::read(master_, buf, sizeof buf);
    if (n <= 0) {
      reading_ = false;
      continue;  // no slave open yet (EIO) or nothing
    }
    bytesRead_ += size_t(n);
    std::vector<std::tuple<int, uint8_t, Bytes>> frames;
    {
      std::lock_guard lock(mutex_);
      rx_.insert(rx_.end(), buf, buf + n);
      for (;;) {
        while (!rx_.empty() && rx_[0] != 0) rx_.erase(rx_.begin());
        if (rx_.size() < 6) break;
        const size_t len = size_t(rx_[1] << 8 | rx_[2]);
        if (rx_.size() < len + 6) break;
        frames.emplace_back(rx_[3], rx_[5], Bytes(rx_.begin() + 6, rx_.begin() + long(len + 6)));
        rx_.erase(rx_.begin(), rx_.begin() + long(len + 6));
      }
    }
    for (auto& [cmd, id, data] : frames) handle(cmd, id, data);
    reading_ = false;
  }
}

size_t SimulatedSerialAdapter::bytesSeen() const {
  // Nothing unread on the terminal first, then no read under way: every byte written before
  // the call has then been read and counted.
  const auto until = std::chrono::steady_clock::now() + std::chrono::seconds(20);
  for (;;) {
    int pending = 0;
    if (master_ < 0 || ::ioctl(master_, FIONREAD, &pending) != 0) pending = 0;
    if (pending == 0 && !reading_.load()) break;
    if (std::chrono::steady_clock::now() > until) break;
    std::this_thread::yield();
  }
  return bytesRead_.load();
}

void SimulatedSerialAdapter::sendPacket(int command, uint8_t id, const Bytes& data) {
  Bytes f{0x00, uint8_t(data.size() >> 8), uint8_t(data.size()), uint8_t(command), 0x02, id};
  f.insert(f.end(), data.begin(), data.end());
  std::lock_guard lock(writeMutex_);
  size_t off = 0;
  while (off < f.size()) {
    const ssize_t w = ::write(master_, f.data() + off, f.size() - off);
    if (w <= 0) return;
    off += size_t(w);
  }
}

void SimulatedSerialAdapter::serialIn(const Bytes& data) {
  Bytes d{0, 0};
  d.insert(d.end(), data.begin(), data.end());
  sendPacket(6, 0, d);
}

void SimulatedSerialAdapter::btEvent(uint8_t event, const Bytes& data) {
  Bytes d{0, 0, event};
  d.insert(d.end(), data.begin(), data.end());
  sendPacket(30, 0, d);
}

std::map<uint32_t, Bytes> SimulatedSerialAdapter::firmwarePages() const { std::lock_guard l(mutex_); return firmware_; }
std::vector<int> SimulatedSerialAdapter::firmwareCommands() const { std::lock_guard l(mutex_); return firmwareCommands_; }
Bytes SimulatedSerialAdapter::serialSettings() const { std::lock_guard l(mutex_); return settings_; }
Bytes SimulatedSerialAdapter::serialOut() const { std::lock_guard l(mutex_); return serialOut_; }
Bytes SimulatedSerialAdapter::bluetoothOut() const { std::lock_guard l(mutex_); return btOut_; }
std::vector<Bytes> SimulatedSerialAdapter::bluetoothCommands() const { std::lock_guard l(mutex_); return btCommands_; }

void SimulatedSerialAdapter::setConnectOutcome(bool succeeds, bool silent) {
  std::lock_guard lock(mutex_);
  connectSucceeds_ = succeeds;
  connectSilent_ = silent;
}

void SimulatedSerialAdapter::setDiscovered(std::vector<std::pair<Bytes, std::string>> devices, bool timeout) {
  std::lock_guard lock(mutex_);
  discovered_ = std::move(devices);
  discoverTimeout_ = timeout;
}

void SimulatedSerialAdapter::setRemoteDevice(RemoteDevice device) {
  std::lock_guard lock(mutex_);
  remote_ = std::move(device);
}

void SimulatedSerialAdapter::loseLink() {
  linked_ = false;
  btEvent(6);
}

void SimulatedSerialAdapter::toRemote(const Bytes& written) {
  RemoteDevice remote;
  {
    std::lock_guard lock(mutex_);
    remote = remote_;
  }
  if (!linked_ || !remote || written.empty()) return;
  const Bytes back = remote(written);
  // In data events that fit the adapter's 512-byte packets.
  constexpr size_t kEventData = 400;
  for (size_t at = 0; at < back.size(); at += kEventData)
    btEvent(10, Bytes(back.begin() + long(at), back.begin() + long(std::min(back.size(), at + kEventData))));
}

void SimulatedSerialAdapter::handle(int command, uint8_t id, const Bytes& data) {
  auto taken = [&](size_t n) {
    const size_t t = take_ < 0 ? n : std::min(n, size_t(take_.load()));
    return t;
  };
  if (command == 3) {
    {
      std::lock_guard lock(mutex_);
      settings_ = data;
    }
    sendPacket(3, id, {0, 0});
    return;
  }
  if (command == 5) {
    const size_t t = taken(data.size());
    {
      std::lock_guard lock(mutex_);
      serialOut_.insert(serialOut_.end(), data.begin(), data.begin() + long(t));
    }
    sendPacket(5, id, {0, 0, uint8_t(t >> 8), uint8_t(t)});
    toRemote(Bytes(data.begin(), data.begin() + long(t)));
    return;
  }
  if (command >= 240 && command <= 243) {
    {
      std::lock_guard lock(mutex_);
      firmwareCommands_.push_back(command);
      if (command == 241) firmware_.clear();
      if (command == 242 && data.size() >= 4)
        firmware_[uint32_t(data[0] << 24 | data[1] << 16 | data[2] << 8 | data[3])] = Bytes(data.begin() + 4, data.end());
    }
    sendPacket(command, id, {0, 0});
    return;
  }
  if (command != 29 || data.empty()) {
    sendPacket(command, id, {4, 0});
    return;
  }
  const uint8_t sub = data[0];
  std::vector<std::pair<Bytes, std::string>> found;
  bool succeeds, silent, timeout;
  {
    std::lock_guard lock(mutex_);
    btCommands_.push_back(data);
    found = discovered_;
    succeeds = connectSucceeds_;
    silent = connectSilent_;
    timeout = discoverTimeout_;
  }
  switch (sub) {
    case 0x01:
      radioOn_ = true;
      sendPacket(29, id, {0, 0});
      btEvent(1);
      return;
    case 0x02:
      radioOn_ = false;
      linked_ = false;
      break;
    case 0x0C: linked_ = false; break;
    case 0x03: sendPacket(29, id, {0, 0, uint8_t(radioOn_ ? 1 : 0)}); return;
    case 0x04: sendPacket(29, id, {0, 0, 'C', 'a', 'r', 'v', 'i', 'k', 0}); return;
    case 0x07: sendPacket(29, id, {0, 0, '0', '0', 'A', '0', 'B', '1', 'C', '2', 'D', '3', 'E', '4', 0}); return;
    case 0x0A:
      sendPacket(29, id, {0, 0});
      for (const auto& [address, name] : found) {
        Bytes d = address;
        d.insert(d.end(), name.begin(), name.end());
        btEvent(7, d);
      }
      btEvent(timeout ? 9 : 8);
      return;
    case 0x0B:
      sendPacket(29, id, {0, 0});
      linked_ = succeeds && !silent;
      if (!silent) btEvent(succeeds ? 3 : 2);
      return;
    case 0x0F: {
      const size_t t = taken(data.size() - 1);
      {
        std::lock_guard lock(mutex_);
        btOut_.insert(btOut_.end(), data.begin() + 1, data.begin() + 1 + long(t));
      }
      sendPacket(29, id, {0, 0, uint8_t(t >> 8), uint8_t(t)});
      toRemote(Bytes(data.begin() + 1, data.begin() + 1 + long(t)));
      return;
    }
    default: break;
  }
  sendPacket(29, id, {0, 0});
}

}  // namespace devices
