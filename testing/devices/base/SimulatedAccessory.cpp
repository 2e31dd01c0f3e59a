#include "testing/devices/base/SimulatedAccessory.h"

#include "platform/foundation/Uuid.h"

#include <fcntl.h>
#include <linux/sockios.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/ioctl.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <sys/un.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstring>
#include <fstream>
#include <nlohmann/json.hpp>

#include "platform/accessory/AccessoryManager.h"
#include "platform/accessory/Session.h"
#include "testing/devices/base/LinkIo.h"

namespace devices {

namespace fs = std::filesystem;

namespace {

std::string makeId(const std::string& name) {
  static std::atomic<int> counter{0};
  std::string safe;
  for (char c : name) safe += (std::isalnum(static_cast<unsigned char>(c)) ? c : '_');
  if (safe.empty()) safe = "accessory";
  return safe + "-" + std::to_string(getpid()) + "-" + std::to_string(++counter);
}

}  // namespace

SimulatedAccessory::SimulatedAccessory(accessory::AccessoryIdentity identity, fs::path folder)
    : identity_(std::move(identity)),
      folder_(folder.empty() ? accessory::AccessoryManager::defaultFolder() : std::move(folder)),
      id_(makeId(identity_.name)) {}

SimulatedAccessory::~SimulatedAccessory() { detach(); }

fs::path SimulatedAccessory::socketPath() const { return folder_ / (id_ + ".sock"); }
fs::path SimulatedAccessory::descriptorPath() const { return folder_ / (id_ + ".json"); }

bool SimulatedAccessory::attached() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return attached_;
}

bool SimulatedAccessory::attach() {
  // One attach or detach at a time: a detach in progress still joins the device thread that
  // this one would replace.
  std::lock_guard<std::mutex> lifecycle(lifecycleMutex_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (attached_) return true;
  }
  std::error_code ec;
  if (!fs::exists(folder_, ec)) {
    fs::create_directories(folder_, ec);
    ::chmod(folder_.c_str(), 0700);
  }
  const std::string sock = socketPath().string();
  sockaddr_un addr{};
  addr.sun_family = AF_UNIX;
  if (sock.size() >= sizeof addr.sun_path) return false;
  std::memcpy(addr.sun_path, sock.c_str(), sock.size() + 1);
  ::unlink(sock.c_str());
  int fd = ::socket(AF_UNIX, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 16) != 0) {
    ::close(fd);
    return false;
  }
  listenFd_ = fd;
  stopping_ = false;
  ownedLoop_ = std::make_unique<foundation::RunLoop>();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    loop_ = ownedLoop_.get();
  }
  thread_ = std::thread([this] { threadMain(); });
  loop_->addFd(listenFd_, EPOLLIN, [this](int, uint32_t) { onListen(); });

  // The descriptor appears in one step (rename), after the socket listens.
  nlohmann::json j = accessory::identityToJson(identity_);
  j["pid"] = long(getpid());
  // A fresh instance text per attach, so that a quick detach and re-attach (which may reuse
  // the files' inode numbers) is still seen as a new accessory.
  j["instance"] = foundation::uuidString();
  fs::path tmp = folder_ / ("." + id_ + ".tmp");
  {
    std::ofstream out(tmp);
    out << j.dump(2);
  }
  fs::rename(tmp, descriptorPath(), ec);
  std::lock_guard<std::mutex> lock(mutex_);
  attached_ = true;
  return true;
}

void SimulatedAccessory::detach() {
  std::lock_guard<std::mutex> lifecycle(lifecycleMutex_);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!attached_) return;
    attached_ = false;
  }
  std::error_code ec;
  fs::remove(descriptorPath(), ec);
  stopping_ = true;
  if (ownedLoop_) ownedLoop_->wakeUp();
  if (thread_.joinable()) thread_.join();
  // The device thread is gone: close what its loop watched.
  std::lock_guard<std::mutex> lock(mutex_);
  loop_ = nullptr;
  ownedLoop_.reset();
  sendsQueued_ = 0;  // what the loop had not run went with it
  for (auto& [ch, fd] : channelFds_) ::close(fd);
  channelFds_.clear();
  for (auto& [fd, p] : pending_) ::close(fd);
  pending_.clear();
  if (listenFd_ >= 0) ::close(listenFd_);
  listenFd_ = -1;
  fs::remove(socketPath(), ec);
  changed_.notify_all();
}

void SimulatedAccessory::threadMain() {
  foundation::RunLoop& loop = *ownedLoop_;
  while (!stopping_) loop.runOnce(std::chrono::milliseconds(200));
  if (listenFd_ >= 0) loop.removeFd(listenFd_);
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& [ch, fd] : channelFds_) loop.removeFd(fd);
  for (auto& [fd, p] : pending_) loop.removeFd(fd);
}

void SimulatedAccessory::onListen() {
  for (;;) {
    int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
    if (fd < 0) return;
    if (refuseSessions_) {
      ::close(fd);
      continue;
    }
    {
      std::lock_guard<std::mutex> lock(mutex_);
      pending_[fd] = Pending{fd, {}};
    }
    loop_->addFd(fd, EPOLLIN, [this](int f, uint32_t) { onPendingReadable(f); });
  }
}

void SimulatedAccessory::onPendingReadable(int fd) {
  handling_ = true;  // until the session's answer is on the link (see `busy()`)
  struct Handled {
    std::atomic<bool>& flag;
    ~Handled() { flag = false; }
  } handled{handling_};
  std::string line;
  bool complete = false;
  for (;;) {
    char c;
    ssize_t n = ::read(fd, &c, 1);
    if (n == 1) {
      if (c == accessory::kSessionRequestTerminator) {
        complete = true;
        break;
      }
      std::lock_guard<std::mutex> lock(mutex_);
      auto& p = pending_[fd];
      p.line += c;
      if (p.line.size() > 512) break;  // not a session request
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) return;  // more to come
    break;                                                            // closed or failed
  }
  std::unique_lock<std::mutex> lock(mutex_);
  line = pending_[fd].line;
  const auto& protocols = identity_.protocolStrings;
  auto it = std::find(protocols.begin(), protocols.end(), line);
  loop_->removeFd(fd);
  if (!complete || it == protocols.end() || refuseSessions_) {
    pending_.erase(fd);
    ::close(fd);
    return;
  }
  if (holdSessions_) return;  // stays pending, never answered, closed at detach
  pending_.erase(fd);
  const int channel = int(it - protocols.begin());
  if (auto old = channelFds_.find(channel); old != channelFds_.end()) {
    loop_->removeFd(old->second);
    ::close(old->second);
  }
  uint8_t ack = accessory::kSessionAcceptByte;
  if (::send(fd, &ack, 1, MSG_NOSIGNAL) != 1) {
    ::close(fd);
    channelFds_.erase(channel);
    return;
  }
  channelFds_[channel] = fd;
  ++sessionsOpened_;
  if (!stallReads_)
    loop_->addFd(fd, EPOLLIN, [this, channel](int f, uint32_t) { onChannelReadable(channel, f); });
  lock.unlock();
  changed_.notify_all();
  onChannelOpened(channel);
}

void SimulatedAccessory::onChannelReadable(int channel, int fd) {
  // Set before the read, so that `busy()` never sees the bytes neither unread nor handled.
  handling_ = true;
  struct Handled {
    std::atomic<bool>& flag;
    ~Handled() { flag = false; }
  } handled{handling_};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = channelFds_.find(channel);
    if (it == channelFds_.end() || it->second != fd) {
      loop_->removeFd(fd);
      return;
    }
    if (stallReads_) {
      loop_->removeFd(fd);
      return;
    }
  }
  uint8_t buf[4096];
  ssize_t n = ::read(fd, buf, sizeof buf);
  if (n > 0) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto& r = received_[channel];
      r.insert(r.end(), buf, buf + n);
    }
    changed_.notify_all();
    if (!silent_) onReceive(channel, buf, size_t(n));
    return;
  }
  if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) return;
  closeChannel(channel);
}

void SimulatedAccessory::closeChannel(int channel) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = channelFds_.find(channel);
    if (it == channelFds_.end()) return;
    loop_->removeFd(it->second);
    ::close(it->second);
    channelFds_.erase(it);
  }
  changed_.notify_all();
  onChannelClosed(channel);
}

void SimulatedAccessory::closeAllChannels() {
  std::vector<int> channels;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (auto& [ch, fd] : channelFds_) channels.push_back(ch);
  }
  for (int ch : channels) closeChannel(ch);
}

void SimulatedAccessory::send(int channel, const Bytes& bytes) { sendInPieces(channel, bytes, {}); }

void SimulatedAccessory::sendInPieces(int channel, const Bytes& bytes,
                                      const std::vector<size_t>& boundaries) {
  SendFaults faults;
  faults.boundaries = boundaries;
  sendWith(channel, bytes, faults);
}

void SimulatedAccessory::sendWith(int channel, const Bytes& bytes, const SendFaults& faults) {
  if (silent_) return;
  Bytes payload;
  std::vector<size_t> cuts = faults.boundaries;
  foundation::Duration delay;
  long dropAfter;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!attached_ || !loop_) return;
    payload = std::move(garbage_);
    garbage_.clear();
    payload.insert(payload.end(), faults.garbage.begin(), faults.garbage.end());
    for (size_t& c : cuts) c += payload.size();
    if (!payload.empty()) cuts.insert(cuts.begin(), payload.size());
    payload.insert(payload.end(), bytes.begin(), bytes.end());
    delay = faults.delay ? *faults.delay : replyDelay_;
    dropAfter = dropAfter_;
    dropAfter_ = -1;
    // The frame's own drop counts from its first byte, after any garbage.
    if (faults.dropAfter >= 0) dropAfter = long(payload.size() - bytes.size()) + faults.dropAfter;
  }
  if (splitDelivery_ || faults.everyByte) {
    cuts.clear();
    for (size_t i = 1; i < payload.size(); ++i) cuts.push_back(i);
  }
  bool drop = false;
  if (dropAfter >= 0 && size_t(dropAfter) < payload.size()) {
    payload.resize(size_t(dropAfter));
    drop = true;
  } else if (dropAfter >= 0) {
    drop = true;
  }
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  cuts.erase(std::remove_if(cuts.begin(), cuts.end(),
                            [&](size_t c) { return c == 0 || c >= payload.size(); }),
             cuts.end());
  const bool now = delay <= foundation::Duration::zero();
  auto block = [this, channel, payload = std::move(payload), cuts = std::move(cuts), drop, now] {
    deliver(channel, payload, cuts);
    if (drop) closeAllChannels();
    if (now) --sendsQueued_;
  };
  std::lock_guard<std::mutex> lock(mutex_);  // the loop lives while attached
  if (!attached_ || !loop_) return;
  if (!now) {
    loop_->addTimer(foundation::Clock::current().now() + delay, std::move(block));
    return;
  }
  ++sendsQueued_;
  loop_->perform(std::move(block));
}

bool SimulatedAccessory::writeNow(int channel, const Bytes& bytes) {
  std::lock_guard<std::mutex> lock(mutex_);  // the device thread does not close it meanwhile
  auto it = channelFds_.find(channel);
  if (it == channelFds_.end()) return false;
  writeToLink(it->second, bytes.data(), bytes.size(), false);
  return true;
}

bool SimulatedAccessory::waitUntilHostRead(int channel, std::chrono::milliseconds timeout) {
  // A block queued behind the sends marks when they have all been written.
  auto written = std::make_shared<std::atomic<bool>>(false);
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!attached_ || !loop_) return false;
    loop_->perform([written] { *written = true; });
  }
  const auto giveUp = std::chrono::steady_clock::now() + timeout;
  while (!*written)
    if (std::chrono::steady_clock::now() > giveUp) return false;
    else std::this_thread::yield();
  for (;;) {
    int queued = 0;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      auto it = channelFds_.find(channel);
      if (it == channelFds_.end() || ::ioctl(it->second, SIOCOUTQ, &queued) != 0) return true;
    }
    if (queued == 0) return true;
    if (std::chrono::steady_clock::now() > giveUp) return false;
    std::this_thread::yield();
  }
}

void SimulatedAccessory::deliver(int channel, Bytes bytes, std::vector<size_t> boundaries) {
  int fd;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    auto it = channelFds_.find(channel);
    if (it == channelFds_.end()) return;
    fd = it->second;
  }
  size_t start = 0;
  boundaries.push_back(bytes.size());
  for (size_t i = 0; i < boundaries.size(); ++i) {
    size_t end = boundaries[i];
    if (end <= start) continue;
    writePiece(fd, bytes.data() + start, end - start, i + 1 < boundaries.size());
    start = end;
  }
}

void SimulatedAccessory::writePiece(int fd, const uint8_t* data, size_t length, bool waitDrained) {
  writeToLink(fd, data, length, waitDrained);
}

Bytes SimulatedAccessory::received(int channel) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = received_.find(channel);
  return it == received_.end() ? Bytes{} : it->second;
}

Bytes SimulatedAccessory::takeReceived(int channel) {
  std::lock_guard<std::mutex> lock(mutex_);
  Bytes out;
  out.swap(received_[channel]);
  return out;
}

void SimulatedAccessory::clearReceived() {
  std::lock_guard<std::mutex> lock(mutex_);
  received_.clear();
}

bool SimulatedAccessory::waitForReceived(int channel, size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return received_[channel].size() >= count; });
}

bool SimulatedAccessory::channelOpen(int channel) const {
  std::lock_guard<std::mutex> lock(mutex_);
  return channelFds_.count(channel) > 0;
}

bool SimulatedAccessory::waitForChannel(int channel, bool open, std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(mutex_);
  return changed_.wait_for(lock, timeout,
                           [&] { return (channelFds_.count(channel) > 0) == open; });
}

bool SimulatedAccessory::busy() const {
  // In this order: a connection not yet accepted, unread bytes (of a session request or on a
  // channel), then a read in hand, then what the device sends, so that bytes moving from one
  // stage to the next are always seen in one of them.
  std::lock_guard<std::mutex> lock(mutex_);
  if (listenFd_ >= 0) {
    pollfd p{listenFd_, POLLIN, 0};
    if (::poll(&p, 1, 0) > 0) return true;
  }
  for (const auto& [fd, request] : pending_) {
    int unread = 0;
    if (::ioctl(fd, FIONREAD, &unread) == 0 && unread > 0) return true;
  }
  for (const auto& [channel, fd] : channelFds_) {
    int unread = 0;
    if (::ioctl(fd, FIONREAD, &unread) == 0 && unread > 0) return true;
  }
  if (handling_ || sendsQueued_ > 0) return true;
  for (const auto& [channel, fd] : channelFds_) {
    int unsent = 0;
    if (::ioctl(fd, SIOCOUTQ, &unsent) == 0 && unsent > 0) return true;
  }
  return false;
}

int SimulatedAccessory::sessionsOpened() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return sessionsOpened_;
}

void SimulatedAccessory::setSilent(bool on) { silent_ = on; }
void SimulatedAccessory::setSplitDelivery(bool on) { splitDelivery_ = on; }
void SimulatedAccessory::setRefuseSessions(bool on) { refuseSessions_ = on; }
void SimulatedAccessory::setHoldSessions(bool on) { holdSessions_ = on; }

void SimulatedAccessory::setReplyDelay(foundation::Duration delay) {
  std::lock_guard<std::mutex> lock(mutex_);
  replyDelay_ = delay;
}

void SimulatedAccessory::injectGarbageBeforeNextSend(const Bytes& garbage) {
  std::lock_guard<std::mutex> lock(mutex_);
  garbage_ = garbage;
}

void SimulatedAccessory::dropLinkAfter(size_t bytes) {
  std::lock_guard<std::mutex> lock(mutex_);
  dropAfter_ = long(bytes);
}

void SimulatedAccessory::dropLink() {
  std::lock_guard<std::mutex> lock(mutex_);
  if (loop_) loop_->perform([this] { closeAllChannels(); });
}

void SimulatedAccessory::setStallReads(bool on) {
  stallReads_ = on;
  if (on) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!loop_) return;
  for (auto& [ch, fd] : channelFds_) {
    int channel = ch;
    loop_->addFd(fd, EPOLLIN, [this, channel](int f, uint32_t) { onChannelReadable(channel, f); });
  }
}

void SimulatedAccessory::onReceive(int, const uint8_t*, size_t) {}
void SimulatedAccessory::onChannelOpened(int) {}
void SimulatedAccessory::onChannelClosed(int) {}

}  // namespace devices
