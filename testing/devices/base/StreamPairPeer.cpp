#include "testing/devices/base/StreamPairPeer.h"

#include <arpa/inet.h>
#include <netinet/in.h>
#include <netinet/tcp.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>

#include "platform/foundation/Clock.h"
#include "testing/devices/base/FrameCommandSimulator.h"
#include "testing/devices/base/LinkIo.h"

namespace devices {

StreamPairPeer::StreamPairPeer(FrameParser parser, uint16_t port)
    : frames_(std::make_unique<FrameCommandDevice>(parser ? std::move(parser) : FrameParser(
                                                                                     [](const uint8_t*, size_t) {
                                                                                       return FrameScan::needMore();
                                                                                     }))),
      requestedPort_(port) {}

StreamPairPeer::~StreamPairPeer() { stop(); }

bool StreamPairPeer::start() {
  if (loop_) return true;
  int fd = ::socket(AF_INET, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) return false;
  int one = 1;
  ::setsockopt(fd, SOL_SOCKET, SO_REUSEADDR, &one, sizeof one);
  sockaddr_in addr{};
  addr.sin_family = AF_INET;
  addr.sin_addr.s_addr = htonl(INADDR_LOOPBACK);
  addr.sin_port = htons(requestedPort_);
  socklen_t len = sizeof addr;
  if (::bind(fd, reinterpret_cast<sockaddr*>(&addr), sizeof addr) != 0 || ::listen(fd, 8) != 0 ||
      ::getsockname(fd, reinterpret_cast<sockaddr*>(&addr), &len) != 0) {
    ::close(fd);
    return false;
  }
  port_ = ntohs(addr.sin_port);
  listenFd_ = fd;
  stopping_ = false;
  loop_ = std::make_unique<foundation::RunLoop>();
  loop_->addFd(listenFd_, EPOLLIN, [this](int, uint32_t) { onAccept(); });
  thread_ = std::thread([this] { threadMain(); });
  return true;
}

void StreamPairPeer::stop() {
  if (!loop_) return;
  stopping_ = true;
  loop_->wakeUp();
  if (thread_.joinable()) thread_.join();
  std::lock_guard lock(mutex_);
  if (connFd_ >= 0) ::close(connFd_);
  connFd_ = -1;
  if (listenFd_ >= 0) ::close(listenFd_);
  listenFd_ = -1;
  loop_.reset();
  changed_.notify_all();
}

void StreamPairPeer::threadMain() {
  while (!stopping_) loop_->runOnce(std::chrono::milliseconds(200));
  loop_->removeFd(listenFd_);
  std::lock_guard lock(mutex_);
  if (connFd_ >= 0) loop_->removeFd(connFd_);
}

void StreamPairPeer::onAccept() {
  const int fd = ::accept4(listenFd_, nullptr, nullptr, SOCK_NONBLOCK | SOCK_CLOEXEC);
  if (fd < 0) return;
  if (refuse_) {
    ::close(fd);
    return;
  }
  int one = 1;
  ::setsockopt(fd, IPPROTO_TCP, TCP_NODELAY, &one, sizeof one);
  closeConnection();  // one connection at a time
  {
    std::lock_guard lock(mutex_);
    connFd_ = fd;
    ++accepted_;
    changed_.notify_all();
  }
  loop_->addFd(fd, EPOLLIN, [this](int f, uint32_t) { onReadable(f); });
  onConnected();
}

void StreamPairPeer::onReadable(int fd) {
  uint8_t buf[4096];
  const ssize_t n = ::recv(fd, buf, sizeof buf, 0);
  if (n == 0 || (n < 0 && errno != EAGAIN && errno != EINTR)) {
    closeConnection();
    return;
  }
  if (n < 0) return;
  {
    std::lock_guard lock(mutex_);
    received_.insert(received_.end(), buf, buf + n);
    changed_.notify_all();
  }
  onReceive(buf, size_t(n));
}

void StreamPairPeer::onReceive(const uint8_t* data, size_t length) {
  for (const Outgoing& o : frames_->feed(0, data, length)) {
    if (o.fault)
      sendWith(o.bytes, FrameCommandSimulator::sendFaultsFor(*o.fault));
    else
      send(o.bytes);
  }
}

void StreamPairPeer::closeConnection() {
  int fd;
  {
    std::lock_guard lock(mutex_);
    fd = connFd_;
    connFd_ = -1;
  }
  if (fd < 0) return;
  loop_->removeFd(fd);
  ::close(fd);
  frames_->resetChannel(0);
  {
    std::lock_guard lock(mutex_);
    changed_.notify_all();
  }
  onDisconnected();
}

void StreamPairPeer::sendWith(const Bytes& bytes, const SendFaults& faults) {
  Bytes payload = faults.garbage;
  std::vector<size_t> cuts;
  if (!payload.empty()) cuts.push_back(payload.size());
  for (size_t c : faults.boundaries) cuts.push_back(c + faults.garbage.size());
  payload.insert(payload.end(), bytes.begin(), bytes.end());
  if (faults.everyByte)
    for (size_t i = 1; i < payload.size(); ++i) cuts.push_back(i);
  bool drop = false;
  if (faults.dropAfter >= 0) {
    payload.resize(std::min(payload.size(), faults.garbage.size() + size_t(faults.dropAfter)));
    drop = true;
  }
  std::sort(cuts.begin(), cuts.end());
  cuts.erase(std::unique(cuts.begin(), cuts.end()), cuts.end());
  std::erase_if(cuts, [&](size_t c) { return c == 0 || c >= payload.size(); });
  auto block = [this, payload = std::move(payload), cuts = std::move(cuts), drop] {
    int fd;
    {
      std::lock_guard lock(mutex_);
      fd = connFd_;
    }
    if (fd >= 0) {
      size_t start = 0;
      for (size_t i = 0; i <= cuts.size(); ++i) {
        const size_t end = i < cuts.size() ? cuts[i] : payload.size();
        writeToLink(fd, payload.data() + start, end - start, i < cuts.size());
        start = end;
      }
    }
    if (drop) closeConnection();
  };
  std::lock_guard lock(mutex_);
  if (!loop_) return;
  if (faults.delay && *faults.delay > foundation::Duration::zero())
    loop_->addTimer(foundation::Clock::current().now() + *faults.delay, std::move(block));
  else
    loop_->perform(std::move(block));
}

Bytes StreamPairPeer::received() const {
  std::lock_guard lock(mutex_);
  return received_;
}

void StreamPairPeer::clearReceived() {
  std::lock_guard lock(mutex_);
  received_.clear();
}

bool StreamPairPeer::waitForReceived(size_t count, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return received_.size() >= count; });
}

bool StreamPairPeer::connected() const {
  std::lock_guard lock(mutex_);
  return connFd_ >= 0;
}

bool StreamPairPeer::waitForConnection(bool up, std::chrono::milliseconds timeout) {
  std::unique_lock lock(mutex_);
  return changed_.wait_for(lock, timeout, [&] { return (connFd_ >= 0) == up; });
}

int StreamPairPeer::connectionsAccepted() const {
  std::lock_guard lock(mutex_);
  return accepted_;
}

void StreamPairPeer::dropLink() {
  std::lock_guard lock(mutex_);
  if (loop_) loop_->perform([this] { closeConnection(); });
}

}  // namespace devices
