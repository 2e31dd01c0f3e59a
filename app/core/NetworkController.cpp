#include "app/core/NetworkController.h"

#include <fcntl.h>
#include <netdb.h>
#include <netinet/in.h>
#include <sys/socket.h>
#include <unistd.h>

#include <algorithm>
#include <cerrno>
#include <cstdlib>
#include <cstring>

#include "platform/foundation/RunLoop.h"

namespace orvo {

using foundation::RunLoop;

NetworkController& NetworkController::sharedInstance() {
  static NetworkController* shared = [] {
    const char* host = std::getenv("KESTRA_DEBUG_HOST");
    return new NetworkController(host && *host ? host : "127.0.0.1", kDebugPort);
  }();
  return *shared;
}

NetworkController::NetworkController(std::string host, int port) : host_(std::move(host)), port_(port) {}

NetworkController::~NetworkController() {
  if (fd_ >= 0) {
    if (loop_) loop_->removeFd(fd_);
    ::close(fd_);
  }
}

void NetworkController::setMessageReceivedBlock(MessageBlock b) {
  std::lock_guard<std::mutex> lock(blocksMutex_);
  messageReceivedBlock_ = std::move(b);
}
void NetworkController::setConnectionOpenedBlock(ConnectionBlock b) {
  std::lock_guard<std::mutex> lock(blocksMutex_);
  connectionOpenedBlock_ = std::move(b);
}
void NetworkController::setConnectionFailedBlock(ConnectionBlock b) {
  std::lock_guard<std::mutex> lock(blocksMutex_);
  connectionFailedBlock_ = std::move(b);
}
void NetworkController::setConnectionClosedBlock(ConnectionBlock b) {
  std::lock_guard<std::mutex> lock(blocksMutex_);
  connectionClosedBlock_ = std::move(b);
}

void NetworkController::notifyConnectionBlock(const ConnectionBlock& block) {
  ConnectionBlock copy;
  {
    std::lock_guard<std::mutex> lock(blocksMutex_);
    copy = block;
  }
  if (copy) copy(*this);
}

void NetworkController::connect() {
  if (isConnected() || opening_) return;
  if (!openConnection()) notifyConnectionBlock(connectionFailedBlock_);
}

void NetworkController::disconnect() { closeConnection(); }

void NetworkController::sendMessage(const std::string& message) {
  outputBuffer_.insert(outputBuffer_.end(), message.begin(), message.end());
  outputBuffer_.insert(outputBuffer_.end(), messageDelimiter_.begin(), messageDelimiter_.end());
  writeOutputBufferToStream();
}

bool NetworkController::openConnection() {
  isInputStreamOpen_ = false;
  isOutputStreamOpen_ = false;
  addrinfo hints{};
  hints.ai_family = AF_UNSPEC;
  hints.ai_socktype = SOCK_STREAM;
  addrinfo* result = nullptr;
  std::string port = std::to_string(port_);
  if (::getaddrinfo(host_.c_str(), port.c_str(), &hints, &result) != 0 || !result) return false;
  int fd = ::socket(result->ai_family, SOCK_STREAM | SOCK_NONBLOCK | SOCK_CLOEXEC, 0);
  if (fd < 0) {
    ::freeaddrinfo(result);
    return false;
  }
  int r = ::connect(fd, result->ai_addr, result->ai_addrlen);
  ::freeaddrinfo(result);
  if (r < 0 && errno != EINPROGRESS) {
    ::close(fd);
    return false;
  }
  fd_ = fd;
  opening_ = true;
  loop_ = &RunLoop::current();
  loop_->addFd(fd_, EPOLLIN | EPOLLOUT, [this](int, uint32_t events) { handleEvent(events); });
  inputBuffer_.clear();
  outputBuffer_.clear();
  return true;
}

void NetworkController::handleEvent(uint32_t events) {
  if (fd_ < 0) return;
  if (opening_) {
    int err = 0;
    socklen_t len = sizeof err;
    ::getsockopt(fd_, SOL_SOCKET, SO_ERROR, &err, &len);
    if (err != 0 || (events & EPOLLERR)) {
      closeConnection();
      return;
    }
    if (!(events & (EPOLLOUT | EPOLLIN))) return;
    opening_ = false;
    // Both directions of the socket are open now.
    isInputStreamOpen_ = true;
    finishOpeningConnection();
    if (fd_ < 0) return;
    isOutputStreamOpen_ = true;
    finishOpeningConnection();
    if (fd_ < 0) return;
  }
  if (events & EPOLLIN) {
    readFromStreamToInputBuffer();
    if (fd_ < 0) return;
  } else if (events & (EPOLLHUP | EPOLLERR)) {
    closeConnection();
    return;
  }
  if (events & EPOLLOUT) writeOutputBufferToStream();
  // Only ask for writability while something waits to be written.
  if (fd_ >= 0 && loop_) loop_->modifyFd(fd_, outputBuffer_.empty() ? EPOLLIN : (EPOLLIN | EPOLLOUT));
}

void NetworkController::finishOpeningConnection() {
  if (!isConnected()) return;
  notifyConnectionBlock(connectionOpenedBlock_);
  writeOutputBufferToStream();
}

void NetworkController::readFromStreamToInputBuffer() {
  uint8_t chunk[kReadChunk];
  for (;;) {
    ssize_t n = ::read(fd_, chunk, sizeof chunk);
    if (n > 0) {
      inputBuffer_.insert(inputBuffer_.end(), chunk, chunk + n);
      continue;
    }
    if (n < 0 && (errno == EAGAIN || errno == EWOULDBLOCK)) break;
    if (n < 0 && errno == EINTR) continue;
    // End of stream or a read error: what arrived before is still delivered.
    parseIncomingData();
    closeConnection();
    return;
  }
  parseIncomingData();
}

void NetworkController::parseIncomingData() {
  const std::string& d = messageDelimiter_;
  while (!inputBuffer_.empty() && fd_ >= 0) {
    auto it = std::search(inputBuffer_.begin(), inputBuffer_.end(), d.begin(), d.end());
    if (it == inputBuffer_.end()) break;
    std::string message(inputBuffer_.begin(), it);
    inputBuffer_.erase(inputBuffer_.begin(), it + d.size());
    MessageBlock block;
    {
      std::lock_guard<std::mutex> lock(blocksMutex_);
      block = messageReceivedBlock_;
    }
    if (block) block(*this, message);
  }
}

void NetworkController::writeOutputBufferToStream() {
  if (!isConnected() || outputBuffer_.empty() || fd_ < 0) return;
  ssize_t n = ::send(fd_, outputBuffer_.data(), outputBuffer_.size(), MSG_NOSIGNAL);
  if (n < 0) {
    if (errno == EAGAIN || errno == EWOULDBLOCK || errno == EINTR) {
      if (loop_) loop_->modifyFd(fd_, EPOLLIN | EPOLLOUT);
      return;
    }
    disconnect();
    return;
  }
  outputBuffer_.erase(outputBuffer_.begin(), outputBuffer_.begin() + n);
  if (!outputBuffer_.empty() && loop_) loop_->modifyFd(fd_, EPOLLIN | EPOLLOUT);
}

void NetworkController::closeConnection() {
  if (fd_ < 0) return;
  const bool wasOpen = isConnected();
  int fd = fd_;
  fd_ = -1;
  opening_ = false;
  if (loop_) loop_->removeFd(fd);
  ::close(fd);
  isInputStreamOpen_ = false;
  isOutputStreamOpen_ = false;
  inputBuffer_.clear();
  outputBuffer_.clear();
  notifyConnectionBlock(wasOpen ? connectionClosedBlock_ : connectionFailedBlock_);
}

}  // namespace orvo
