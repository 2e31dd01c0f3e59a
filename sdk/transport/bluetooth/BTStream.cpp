#include "sdk/transport/bluetooth/BTStream.h"

#include <algorithm>
#include <cstring>

#include <pthread.h>

#include "sdk/foundation/KXUNISDKGlobals.h"

namespace kestra {

using foundation::Clock;

BTStream::BTStream() = default;

BTStream::~BTStream() { stop(); }

void BTStream::pause(foundation::Duration d) {
  std::mutex m;
  std::condition_variable cv;
  std::unique_lock lock(m);
  Clock::current().waitFor(lock, cv, d, [] { return false; });
}

void BTStream::setDelegate(std::shared_ptr<BTStreamDelegate> delegate) {
  std::lock_guard l(delegateMutex_);
  delegate_ = std::move(delegate);
}

std::shared_ptr<BTStreamDelegate> BTStream::delegate() const {
  std::lock_guard l(delegateMutex_);
  return delegate_;
}

void BTStream::send(int event) {
  if (auto d = delegate()) d->handleEvent(*this, event);
}

void BTStream::open() {
  status_ = 2;
  if (notificationsEnabled_) send(kBTStreamOpenCompleted);
}

void BTStream::close() {
  const int previous = status_.exchange(6);
  if (previous == 6) return;
  if (previous == 2) send(kBTStreamEndEncountered);
}

int BTStream::read(uint8_t* buffer, int maxLength) {
  if (!buffer || maxLength <= 0) return 0;
  std::lock_guard l(lock_);
  const size_t n = std::min(streamData_.size(), size_t(maxLength));
  std::memcpy(buffer, streamData_.data(), n);
  streamData_.erase(streamData_.begin(), streamData_.begin() + long(n));
  return int(n);
}

bool BTStream::hasBytesAvailable() const { return heldLength() > 0; }

Bytes BTStream::heldBytes() const {
  std::lock_guard l(lock_);
  return streamData_;
}

size_t BTStream::heldLength() const {
  std::lock_guard l(lock_);
  return streamData_.size();
}

void BTStream::streamAppendData(const uint8_t* data, size_t length) {
  if (!data || length == 0) return;
  {
    std::lock_guard l(lock_);
    streamData_.insert(streamData_.end(), data, data + length);
    lastPacketTime_ = Clock::current().now();
    packetSeen_ = true;
  }
  dataChanged_.notify_all();
}

bool BTStream::policyAnnounces() const {
  if (maxLength_ != 0) {
    if (maxLength_ >= 1 && int(streamData_.size()) >= maxLength_) return true;
  } else if (maxTime_ == foundation::Duration::zero() && sequence_.empty()) {
    return true;
  }
  if (sequence_.empty() || streamData_.size() < sequence_.size()) return false;
  return containsData(streamData_, sequence_);
}

void BTStream::streamNotify() {
  bool announce = false;
  if (notificationsEnabled_ && delegate()) {
    std::lock_guard l(lock_);
    announce = policyAnnounces();
  }
  {
    std::lock_guard l(lock_);
    notificationSent_ = announce;
  }
  if (announce) send(kBTStreamHasBytesAvailable);
}

bool BTStream::setDataNotificationMaxTime(double maxTime, int maxLength, const Bytes& sequence, foundation::Error*) {
  std::lock_guard l(lock_);
  const auto ms = maxTime > 0 ? static_cast<uint64_t>(maxTime * 1000.0) : 0;
  maxTime_ = std::chrono::milliseconds(ms);
  maxLength_ = maxLength;
  sequence_ = sequence;
  return true;
}

void BTStream::clear() {
  {
    std::lock_guard l(lock_);
    streamData_.clear();
    writeCacheLen_ = 0;
    writeCacheDate_ = Clock::current().now();
    writeCacheDated_ = true;
  }
  dataChanged_.notify_all();
}

void BTStream::flush() {
  // The cache lock is held across the module write so that cached bytes keep their order;
  // the write never calls back into the stream.
  std::lock_guard l(lock_);
  if (writeCacheLen_ == 0) return;
  btWrite(writeCache_, writeCacheLen_, nullptr);
  writeCacheLen_ = 0;
  writeCacheDate_ = Clock::current().now();
  writeCacheDated_ = true;
}

int BTStream::write(const uint8_t* data, int length) {
  if (length < 0 || (!data && length > 0)) return -1;
  if (!writeCachingEnabled_) return btWrite(data, length, nullptr) ? length : -1;
  int done = 0;
  while (done < length) {
    bool full;
    {
      std::lock_guard l(lock_);
      const int n = std::min(length - done, kWriteCacheSize - writeCacheLen_);
      std::memcpy(writeCache_ + writeCacheLen_, data + done, size_t(n));
      writeCacheLen_ += n;
      done += n;
      full = writeCacheLen_ == kWriteCacheSize;
    }
    if (full) flush();
  }
  std::lock_guard l(lock_);
  writeCacheDate_ = Clock::current().now();
  writeCacheDated_ = true;
  return length;
}

bool BTStream::waitForHeld(foundation::Duration timeout, const std::function<bool(const Bytes&)>& ready) {
  std::unique_lock l(lock_);
  return Clock::current().waitFor(l, dataChanged_, timeout, [&] { return ready(streamData_); });
}

void BTStream::editHeld(const std::function<void(Bytes&)>& edit) {
  {
    std::lock_guard l(lock_);
    edit(streamData_);
  }
  dataChanged_.notify_all();
}

void BTStream::run() {
  std::lock_guard t(threadMutex_);
  if (threadRunning_) return;
  if (thread_.joinable()) thread_.join();
  threadStop_ = false;
  threadRunning_ = true;
  thread_ = std::thread([this] { threadMain(); });
}

void BTStream::stop() {
  std::lock_guard t(threadMutex_);
  threadStop_ = true;
  threadWake_.notify_all();
  if (thread_.joinable() && thread_.get_id() != std::this_thread::get_id()) thread_.join();
  threadRunning_ = false;
}

void BTStream::threadMain() {
  pthread_setname_np(pthread_self(), "BTStream Thread");
  std::mutex waitMutex;
  while (!threadStop_) {
    const auto now = Clock::current().now();
    bool announce = false, flushNow = false;
    {
      std::lock_guard l(lock_);
      if (!notificationSent_ && packetSeen_ && maxTime_ != foundation::Duration::zero() &&
          now - lastPacketTime_ > maxTime_) {
        // The quiet period is spent whether or not anybody hears of it.
        notificationSent_ = true;
        announce = notificationsEnabled_;
      }
      flushNow = writeCacheLen_ != 0 && writeCacheDated_ && now - writeCacheDate_ >= kCacheAge;
    }
    if (announce) send(kBTStreamHasBytesAvailable);
    if (flushNow) flush();
    std::unique_lock w(waitMutex);
    Clock::current().waitFor(w, threadWake_, kThreadPass, [this] { return threadStop_.load(); });
  }
}

}  // namespace kestra
