#include "sdk/transport/BTStreamCore.h"

#include <algorithm>
#include <cstring>

#include <pthread.h>

#include "platform/foundation/ThreadName.h"
#include "sdk/foundation/KXUNISDKGlobals.h"

namespace kestra {

using foundation::Clock;

BTStreamCore::BTStreamCore(Announce announce, Send send) : announce_(std::move(announce)), send_(std::move(send)) {}

BTStreamCore::~BTStreamCore() { stop(); }

// ---- Receive ------------------------------------------------------------------------------------

void BTStreamCore::append(const uint8_t* data, size_t length) {
  std::lock_guard<std::mutex> lock(lock_);
  if (length) streamData_.insert(streamData_.end(), data, data + length);
  if (streamData_.size() > kMaxUnread) {
    // Nobody reads: keep the newest bytes rather than all of them.
    const size_t drop = streamData_.size() - kMaxUnread;
    streamData_.erase(streamData_.begin(), streamData_.begin() + ptrdiff_t(drop));
    KXUNISDKGlobals::LOG("BTStream: %zu unread bytes dropped", drop);
  }
  lastPacketTime_ = Clock::current().now();
}

bool BTStreamCore::announceNow() { return announce_ && announce_(); }

void BTStreamCore::notify() {
  if (!notificationsEnabled_.load()) {
    notificationSent_ = false;
    return;
  }
  bool announce = false;
  {
    std::lock_guard<std::mutex> lock(lock_);
    const size_t held = streamData_.size();
    bool sequenceTest = true;
    if (maxLength_ != 0) {
      if (maxLength_ >= 1 && held >= size_t(maxLength_)) {
        announce = true;
        sequenceTest = false;
      }
    } else if (maxTime_ == foundation::Duration::zero() && !sequenceData_) {
      announce = true;
      sequenceTest = false;
    }
    if (sequenceTest && sequenceData_ && held >= sequenceData_->size())
      announce = containsData(streamData_, *sequenceData_);
  }
  notificationSent_ = announce && announceNow();
}

size_t BTStreamCore::read(uint8_t* buffer, size_t maxLength) {
  std::lock_guard<std::mutex> lock(lock_);
  const size_t n = std::min(maxLength, streamData_.size());
  if (n == 0) return 0;
  std::memcpy(buffer, streamData_.data(), n);
  streamData_.erase(streamData_.begin(), streamData_.begin() + ptrdiff_t(n));
  return n;
}

foundation::Bytes BTStreamCore::held() const {
  std::lock_guard<std::mutex> lock(lock_);
  return streamData_;
}

size_t BTStreamCore::heldLength() const {
  std::lock_guard<std::mutex> lock(lock_);
  return streamData_.size();
}

void BTStreamCore::editHeld(const std::function<void(foundation::Bytes&)>& edit) {
  std::lock_guard<std::mutex> lock(lock_);
  edit(streamData_);
}

void BTStreamCore::clear() {
  KXUNISDKGlobals::LOG("BTStream: clear");
  std::lock_guard<std::mutex> lock(lock_);
  streamData_.clear();
  writeCacheLen_ = 0;
  writeCacheDate_ = Clock::current().now();
}

// ---- Policy ---------------------------------------------------------------------------------------

void BTStreamCore::setDataNotification(double maxTime, int maxLength, std::optional<foundation::Bytes> sequence) {
  std::lock_guard<std::mutex> lock(lock_);
  // Whole milliseconds; a negative time is off.
  maxTime_ = maxTime > 0 ? std::chrono::milliseconds(uint64_t(maxTime * 1000)) : foundation::Duration::zero();
  maxLength_ = maxLength;
  sequenceData_ = std::move(sequence);
}

// ---- Write ------------------------------------------------------------------------------------------

ssize_t BTStreamCore::write(const uint8_t* data, size_t length) {
  if (!writeCachingEnabled_.load()) {
    std::lock_guard<std::mutex> send(sendMutex_);
    return send_ && send_(data, length) ? ssize_t(length) : -1;
  }
  bool ok = true;
  size_t done = 0;
  while (done < length) {
    bool full;
    {
      std::lock_guard<std::mutex> lock(lock_);
      const size_t n = std::min(length - done, kWriteCacheSize - writeCacheLen_);
      std::memcpy(writeCache_.data() + writeCacheLen_, data + done, n);
      writeCacheLen_ += n;
      done += n;
      full = writeCacheLen_ == kWriteCacheSize;
    }
    if (full) ok = flush() && ok;
  }
  {
    std::lock_guard<std::mutex> lock(lock_);
    writeCacheDate_ = Clock::current().now();
  }
  return ok ? ssize_t(length) : -1;
}

bool BTStreamCore::flush() {
  std::lock_guard<std::mutex> send(sendMutex_);
  std::array<uint8_t, kWriteCacheSize> out;
  size_t n;
  {
    std::lock_guard<std::mutex> lock(lock_);
    n = writeCacheLen_;
    if (n == 0) return true;
    std::memcpy(out.data(), writeCache_.data(), n);
    writeCacheLen_ = 0;
    writeCacheDate_ = Clock::current().now();
  }
  return send_ && send_(out.data(), n);
}

size_t BTStreamCore::cachedLength() const {
  std::lock_guard<std::mutex> lock(lock_);
  return writeCacheLen_;
}

// ---- Thread ----------------------------------------------------------------------------------------------

void BTStreamCore::run() {
  std::lock_guard<std::mutex> lock(threadMutex_);
  if (thread_.joinable()) return;
  threadStop_ = false;
  threadStarted_ = true;
  thread_ = std::thread([this] { threadMain(); });
}

void BTStreamCore::stop() {
  std::thread t;
  {
    std::lock_guard<std::mutex> lock(threadMutex_);
    threadStop_ = true;
    t = std::move(thread_);
  }
  threadCv_.notify_all();
  if (t.joinable()) {
    if (t.get_id() == std::this_thread::get_id())
      t.detach();
    else
      t.join();
  }
  threadStarted_ = false;
}

void BTStreamCore::threadMain() {
  foundation::setCurrentThreadName("BTStream Thread");
  for (;;) {
    {
      std::unique_lock<std::mutex> lock(threadMutex_);
      if (threadStop_) return;
    }
    const foundation::MonoTime now = Clock::current().now();
    bool announce = false;
    bool flushDue = false;
    {
      std::lock_guard<std::mutex> lock(lock_);
      if (!notificationSent_.load() && lastPacketTime_ && maxTime_ != foundation::Duration::zero() &&
          now - *lastPacketTime_ > maxTime_) {
        notificationSent_ = true;  // the quiet period is spent, whether anybody hears of it or not
        announce = notificationsEnabled_.load();
      }
      flushDue = writeCacheLen_ != 0 && writeCacheDate_ && now - *writeCacheDate_ >= kWriteCacheDelay;
    }
    if (announce) announceNow();
    if (flushDue) flush();
    std::unique_lock<std::mutex> lock(threadMutex_);
    Clock::current().waitFor(lock, threadCv_, kThreadPass, [this] { return threadStop_; });
  }
}

}  // namespace kestra
