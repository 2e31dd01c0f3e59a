#include "platform/accessory/FdStream.h"

#include <fcntl.h>
#include <poll.h>
#include <sys/epoll.h>
#include <sys/socket.h>
#include <sys/stat.h>
#include <unistd.h>

#include <cerrno>

namespace accessory {

// The shared end of a pair: the descriptor, whether the pair is open (handshake done),
// and the two sides, which it tells when the handshake ends.
class FdLink {
 public:
  FdLink(int fd, std::optional<uint8_t> ack) : fd_(fd), ack_(ack), open_(!ack) {
    struct stat st {};
    isSocket_ = fstat(fd, &st) == 0 && S_ISSOCK(st.st_mode);
  }
  ~FdLink() {
    if (fd_ >= 0) ::close(fd_);
  }
  int fd() const { return fd_; }
  bool isSocket() const { return isSocket_; }
  bool isOpen() {
    std::lock_guard<std::mutex> lock(mutex_);
    return open_;
  }
  bool isFailed() {
    std::lock_guard<std::mutex> lock(mutex_);
    return failed_;
  }
  std::optional<uint8_t> ack() const { return ack_; }
  // Ends the handshake; returns whether this call changed the state.
  bool finishHandshake(bool ok) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (open_ || failed_) return false;
    if (ok)
      open_ = true;
    else
      failed_ = true;
    return true;
  }
  void release() {
    std::lock_guard<std::mutex> lock(mutex_);
    if (--users_ == 0 && fd_ >= 0) {
      ::close(fd_);
      fd_ = -1;
    }
  }

  std::weak_ptr<class FdInputStream> input;
  std::weak_ptr<class FdOutputStream> output;

 private:
  int fd_;
  const std::optional<uint8_t> ack_;
  bool isSocket_ = false;
  std::mutex mutex_;
  bool open_;
  bool failed_ = false;
  int users_ = 2;
};

namespace {

// What both sides share: status, the loop they are scheduled on, a pending open event.
class SideState {
 public:
  StreamStatus status = StreamStatus::NotOpen;
  foundation::RunLoop* loop = nullptr;
  bool openEventPending = false;
  bool released = false;
};

}  // namespace

class FdInputStream final : public InputStream {
 public:
  explicit FdInputStream(std::shared_ptr<FdLink> link) : link_(std::move(link)) {}
  ~FdInputStream() override { close(); }

  void open() override {
    std::unique_lock<std::mutex> lock(mutex_);
    if (s_.status != StreamStatus::NotOpen) return;
    if (link_->isFailed()) {
      s_.status = StreamStatus::Error;
      postLocked(StreamEvent::ErrorOccurred);
      return;
    }
    s_.status = StreamStatus::Opening;
    if (link_->isOpen()) {
      becomeOpenLocked();
    } else {
      armLocked();
    }
  }

  void close() override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (s_.released) return;
    disarmLocked();
    s_.status = StreamStatus::Closed;
    s_.released = true;
    link_->release();
  }

  StreamStatus status() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return s_.status;
  }

  void schedule(foundation::RunLoop& loop) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (s_.loop == &loop) return;
    disarmLocked();
    s_.loop = &loop;
    if (s_.openEventPending) {
      s_.openEventPending = false;
      postLocked(StreamEvent::OpenCompleted);
    }
    if (s_.status == StreamStatus::Opening || s_.status == StreamStatus::Open) armLocked();
  }

  void remove(foundation::RunLoop& loop) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (s_.loop != &loop) return;
    disarmLocked();
    s_.loop = nullptr;
  }

  ssize_t read(uint8_t* buffer, size_t maxLength) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (maxLength == 0) return 0;
    if (s_.status == StreamStatus::AtEnd) return 0;
    if (s_.status != StreamStatus::Open) {
      errno = EBADF;
      return -1;
    }
    ssize_t n = ::read(link_->fd(), buffer, maxLength);
    if (n > 0) {
      readSinceReport_ = true;
      armLocked();
      return n;
    }
    if (n == 0) {
      s_.status = StreamStatus::AtEnd;
      postLocked(StreamEvent::EndEncountered);
      return 0;
    }
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
      int saved = errno;
      readSinceReport_ = true;
      armLocked();
      errno = saved;
      return -1;
    }
    s_.status = StreamStatus::Error;
    postLocked(StreamEvent::ErrorOccurred);
    return -1;
  }

  bool hasBytesAvailable() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (s_.status != StreamStatus::Open) return false;
    pollfd p{link_->fd(), POLLIN, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & (POLLIN | POLLHUP | POLLERR));
  }

  // Called by the link when the handshake ended (any thread).
  void linkOpened(bool ok) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (s_.status != StreamStatus::Opening) return;
    if (ok) {
      becomeOpenLocked();
    } else {
      disarmLocked();
      s_.status = StreamStatus::Error;
      postLocked(StreamEvent::ErrorOccurred);
    }
  }

 private:
  void becomeOpenLocked();
  // The descriptor stays watched while the stream's owner reads it when told, so a stream
  // that is read costs no call to the loop per report; one whose report went unread (or that
  // ended) is unwatched until the next read, so it reports once instead of spinning.
  void armLocked() {
    if (!s_.loop || armed_ || s_.released) return;
    std::weak_ptr<FdInputStream> weak =
        std::static_pointer_cast<FdInputStream>(shared_from_this());
    armed_ = s_.loop->addFd(link_->fd(), EPOLLIN, [weak](int, uint32_t) {
      if (auto self = weak.lock()) self->onReadable();
    });
  }
  void disarmLocked() {
    if (armed_ && s_.loop) s_.loop->removeFd(link_->fd());
    armed_ = false;
  }
  void postLocked(StreamEvent event) {
    if (!s_.loop) {
      if (event == StreamEvent::OpenCompleted) s_.openEventPending = true;
      return;
    }
    std::weak_ptr<Stream> weak = shared_from_this();
    s_.loop->perform([weak, event] {
      if (auto self = std::static_pointer_cast<FdInputStream>(weak.lock()))
        self->deliver(event);
    });
  }
  void deliver(StreamEvent event) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (s_.released) return;
    }
    notify(event);
  }
  void onReadable();

  std::shared_ptr<FdLink> link_;
  mutable std::mutex mutex_;
  SideState s_;
  bool armed_ = false;
  bool readSinceReport_ = false;
};

class FdOutputStream final : public OutputStream {
 public:
  explicit FdOutputStream(std::shared_ptr<FdLink> link) : link_(std::move(link)) {}
  ~FdOutputStream() override { close(); }

  void open() override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (s_.status != StreamStatus::NotOpen) return;
    if (link_->isFailed()) {
      s_.status = StreamStatus::Error;
      postLocked(StreamEvent::ErrorOccurred);
      return;
    }
    s_.status = StreamStatus::Opening;
    if (link_->isOpen()) {
      s_.status = StreamStatus::Open;
      postLocked(StreamEvent::OpenCompleted);
    }
  }
  void close() override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (s_.released) return;
    s_.status = StreamStatus::Closed;
    s_.released = true;
    link_->release();
  }
  StreamStatus status() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    return s_.status;
  }
  void schedule(foundation::RunLoop& loop) override {
    std::lock_guard<std::mutex> lock(mutex_);
    s_.loop = &loop;
    if (s_.openEventPending) {
      s_.openEventPending = false;
      postLocked(StreamEvent::OpenCompleted);
    }
  }
  void remove(foundation::RunLoop& loop) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (s_.loop == &loop) s_.loop = nullptr;
  }
  ssize_t write(const uint8_t* data, size_t length) override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (s_.status != StreamStatus::Open) {
      errno = EBADF;
      return -1;
    }
    if (length == 0) return 0;
    ssize_t n = link_->isSocket() ? ::send(link_->fd(), data, length, MSG_NOSIGNAL | MSG_DONTWAIT)
                                  : ::write(link_->fd(), data, length);
    if (n >= 0) return n;
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) return 0;
    s_.status = StreamStatus::Error;
    postLocked(StreamEvent::ErrorOccurred);
    return -1;
  }
  bool hasSpaceAvailable() const override {
    std::lock_guard<std::mutex> lock(mutex_);
    if (s_.status != StreamStatus::Open) return false;
    pollfd p{link_->fd(), POLLOUT, 0};
    return ::poll(&p, 1, 0) > 0 && (p.revents & POLLOUT);
  }

  void linkOpened(bool ok) {
    std::lock_guard<std::mutex> lock(mutex_);
    if (s_.status != StreamStatus::Opening) return;
    s_.status = ok ? StreamStatus::Open : StreamStatus::Error;
    postLocked(ok ? StreamEvent::OpenCompleted : StreamEvent::ErrorOccurred);
  }

 private:
  void postLocked(StreamEvent event) {
    if (!s_.loop) {
      if (event == StreamEvent::OpenCompleted) s_.openEventPending = true;
      return;
    }
    std::weak_ptr<Stream> weak = shared_from_this();
    s_.loop->perform([weak, event] {
      auto self = std::static_pointer_cast<FdOutputStream>(weak.lock());
      if (!self) return;
      {
        std::lock_guard<std::mutex> lock(self->mutex_);
        if (self->s_.released) return;
      }
      self->notify(event);
    });
  }

  std::shared_ptr<FdLink> link_;
  mutable std::mutex mutex_;
  SideState s_;
};

void FdInputStream::becomeOpenLocked() {
  s_.status = StreamStatus::Open;
  postLocked(StreamEvent::OpenCompleted);
  armLocked();
}

void FdInputStream::onReadable() {
  std::unique_lock<std::mutex> lock(mutex_);
  if (s_.released) return;
  if (s_.status == StreamStatus::Opening) {
    // Waiting for the acceptance byte of the handshake.
    uint8_t byte = 0;
    ssize_t n = ::read(link_->fd(), &byte, 1);
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR)) {
      armLocked();
      return;
    }
    bool ok = n == 1 && link_->ack() && byte == *link_->ack();
    if (!link_->finishHandshake(ok)) return;
    lock.unlock();
    linkOpened(ok);
    if (auto out = link_->output.lock()) out->linkOpened(ok);
    return;
  }
  if (s_.status != StreamStatus::Open) {
    disarmLocked();
    return;
  }
  readSinceReport_ = false;
  lock.unlock();
  notify(StreamEvent::HasBytesAvailable);
  lock.lock();
  if (!readSinceReport_ || s_.status != StreamStatus::Open) disarmLocked();
}

FdStreamPair makeFdStreamPair(int fd, std::optional<uint8_t> ackByte) {
  int flags = fcntl(fd, F_GETFL, 0);
  if (flags >= 0) fcntl(fd, F_SETFL, flags | O_NONBLOCK);
  fcntl(fd, F_SETFD, FD_CLOEXEC);
  auto link = std::make_shared<FdLink>(fd, ackByte);
  auto in = std::make_shared<FdInputStream>(link);
  auto out = std::make_shared<FdOutputStream>(link);
  link->input = in;
  link->output = out;
  return FdStreamPair{in, out};
}

std::pair<FdStreamPair, FdStreamPair> makeSocketStreamPairs() {
  int fds[2];
  if (socketpair(AF_UNIX, SOCK_STREAM | SOCK_CLOEXEC, 0, fds) != 0) return {};
  return {makeFdStreamPair(fds[0]), makeFdStreamPair(fds[1])};
}

}  // namespace accessory
