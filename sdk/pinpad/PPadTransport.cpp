#include "sdk/pinpad/PPadTransport.h"

#include <algorithm>
#include <array>
#include <cstring>

#include "platform/foundation/ThreadName.h"
#include "sdk/foundation/KXUNISDKGlobals.h"
#include "sdk/pinpad/PPadFrame.h"

namespace kestra {

namespace ppad {

std::string getErrorText(int status) {
  static constexpr std::array<const char*, 35> kTexts = {
      "OK",                     "General Error",         "Invalid Command",
      "Invalid Parameter",      "Invalid Address",       "Invalid Value",
      "Invalid Length",         "No Permission",         "No Data",
      "Timeout",                "Invalid Key Number",    "Invalid Key Attributes",
      "Invalid Device",         "Not Supported",         "Pin Limit",
      "Flash Memory Error",     "Hardware Error",        "Invalid CRC",
      "Operation Cancelled",    "Invalid Signature",     "Invalid Header",
      "Invalid Password",       "Wrong Key Format",      "SmartCard Reader Error",
      "HAL Error",              "Invalid Key",           "No PIN Data",
      "Invalid Reminder",       "Not Initialized",       "Limit Reached",
      "Invalid Sequence",       "Not Permitted",         "No TMK",
      "Wrong Key",              "Duplicated Key"};
  if (status < 0 || size_t(status) >= kTexts.size()) return "Unknown";
  return kTexts[size_t(status)];
}

}  // namespace ppad

namespace {
constexpr size_t kResponseCapacity = PPadTransport::kMaxResponseData + 4;
using foundation::Clock;
}  // namespace

// Takes the command lock within 30 s of the clock in force. The lock is a flag under a plain
// mutex with a condition variable, so the wait runs on the clock (a manual clock that is
// advanced ends it as the real one would) and every thread tool sees it as the lock it is.
class PPadTransport::CommandLock {
 public:
  explicit CommandLock(PPadTransport& t) : t_(t) {
    std::unique_lock<std::mutex> lock(t_.cmdLockMutex_);
    held_ = Clock::current().waitFor(lock, t_.cmdLockCv_, kCommandLockTimeout, [this] { return !t_.cmdBusy_; });
    if (held_) t_.cmdBusy_ = true;
  }
  ~CommandLock() {
    if (!held_) return;
    {
      std::lock_guard<std::mutex> lock(t_.cmdLockMutex_);
      t_.cmdBusy_ = false;
    }
    t_.cmdLockCv_.notify_one();
  }
  bool held() const { return held_; }

 private:
  PPadTransport& t_;
  bool held_ = false;
};

PPadTransport::PPadTransport() { cmdBuffer_.resize(kResponseCapacity); }

PPadTransport::~PPadTransport() { stopCacheWriteThread(); }

void PPadTransport::setLink(std::shared_ptr<PPadLink> link) {
  std::lock_guard<std::mutex> lock(stateMutex_);
  link_ = std::move(link);
}

std::shared_ptr<PPadLink> PPadTransport::link() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return link_;
}

void PPadTransport::setTunnel(std::shared_ptr<PPadTunnel> tunnel) {
  std::lock_guard<std::mutex> lock(stateMutex_);
  tunnel_ = std::move(tunnel);
}

std::shared_ptr<PPadTunnel> PPadTransport::tunnel() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return tunnel_;
}

std::optional<foundation::MonoTime> PPadTransport::lastCommandTime() const {
  std::lock_guard<std::mutex> lock(stateMutex_);
  return lastCommandTime_;
}

void PPadTransport::touchLastCommandTime() {
  const auto now = Clock::current().now();
  std::lock_guard<std::mutex> lock(stateMutex_);
  lastCommandTime_ = now;
}

bool PPadTransport::writeToLink(const uint8_t* data, size_t length) {
  auto l = link();
  return l && l->write(data, length);
}

int PPadTransport::command(uint8_t group, const foundation::Bytes& data, foundation::Bytes* out,
                           bool cached, foundation::Duration timeout) {
  if (out) out->clear();
  // Data the command buffer cannot hold is refused before anything is locked or sent.
  if (data.size() > kCmdBufferSize) return ppad::kInvalidParameter;
  CommandLock lock(*this);
  if (!lock.held()) {
    KXUNISDKGlobals::LOG("PPad: Timeout aquiring lock, command=%02x", group);
    return ppad::kFailed;
  }
  struct Running {
    std::atomic<bool>& flag;
    ~Running() { flag = false; }
  } running{commandRunning_};
  commandRunning_ = true;
  return exchange(group, data, out, cached, timeout);
}

int PPadTransport::exchange(uint8_t group, const foundation::Bytes& data, foundation::Bytes* out,
                            bool cached, foundation::Duration timeout) {
  Clock& clock = Clock::current();
  const auto started = clock.now();
  auto tun = tunnel();
  if (connState != 2 && !fakeConnected && !tun) {
    KXUNISDKGlobals::LOG("PPad: not connected, command=%02x", group);
    return ppad::kNotConnected;
  }

  foundation::Bytes frame;
  ppad::appendFrame(frame, group, data.data(), data.size());

  if (cached && caching_) {
    bool queued = false;
    {
      std::lock_guard<std::mutex> c(cacheMutex_);
      if (cmdCacheBuffer_.size() + frame.size() <= kCacheBufferSize) {
        cmdCacheTime_ = clock.now();
        cmdCacheBuffer_.insert(cmdCacheBuffer_.end(), frame.begin(), frame.end());
        ++cmdCacheQueued_;
        ++cmdCacheNCommands_;
        KXUNISDKGlobals::LOG("PPad: Command cached, cmdcachelen=%d", int(cmdCacheBuffer_.size()));
        queued = true;
      }
    }
    if (queued) return ppad::kOK;
    // A full queue is written first; the command then goes out directly.
  }
  // The queue goes out before a direct command, so the pinpad sees commands in order.
  flushCache();

  uint64_t generation;
  {
    std::lock_guard<std::mutex> w(waitMutex_);
    cmdLen_ = 0;
    generation = abortGeneration_;
  }
  {
    std::lock_guard<std::mutex> s(stateMutex_);
    lastCommandTime_ = clock.now();
  }

  if (tun) {
    const auto answer = tun->ppadPassThrough(frame);
    std::lock_guard<std::mutex> w(waitMutex_);
    if (!answer || answer->size() > kResponseCapacity) {
      KXUNISDKGlobals::LOG("PPad: pass-through failed, command=%02x", group);
      return ppad::kFailed;
    }
    std::memcpy(cmdBuffer_.data(), answer->data(), answer->size());
    cmdLen_ = answer->size();
  } else {
    if (!writeToLink(frame.data(), frame.size())) {
      KXUNISDKGlobals::LOG("PPad: write failed, command=%02x", group);
      return ppad::kFailed;
    }
  }

  std::unique_lock<std::mutex> w(waitMutex_);
  if (!tun) {
    const auto l = link();
    auto done = [&] { return cmdLen_ >= 4 || abortGeneration_ != generation || !l || !l->isOpen(); };
    const auto deadline = clock.now() + timeout;
    while (!done()) {
      const auto now = clock.now();
      if (now >= deadline) break;
      clock.waitFor(w, waitCv_, std::min<foundation::Duration>(kLinkCheck, deadline - now), done);
    }
  }
  if (cmdLen_ < 4) {
    KXUNISDKGlobals::LOG("PPad: wait data failed, command=%02x", group);
    cmdLen_ = 0;
    return ppad::kFailed;
  }
  const int status = cmdBuffer_[1];
  const size_t n = foundation::readBE16(cmdBuffer_.data() + 2);
  if (n > kMaxResponseData || cmdLen_ < n + 4) {
    KXUNISDKGlobals::LOG("PPad: command=%02x,packetLen=%d", group, int(n + 4));
    cmdLen_ = 0;
    return ppad::kFailed;
  }
  if (out) out->assign(cmdBuffer_.begin() + 4, cmdBuffer_.begin() + 4 + long(n));
  // Responses may carry card data: nothing stays behind in the shared buffer.
  std::fill(cmdBuffer_.begin(), cmdBuffer_.begin() + long(cmdLen_), 0);
  cmdLen_ = 0;
  w.unlock();
  if (status != 0) KXUNISDKGlobals::LOG("PPad command: %02x failed with status: %d", group, status);
  KXUNISDKGlobals::LOG("PPad: Command took: %.02f",
                       std::chrono::duration<double>(clock.now() - started).count());
  return status;
}

void PPadTransport::storeResponse(const uint8_t* body, size_t length) {
  {
    std::lock_guard<std::mutex> c(cacheMutex_);
    if (cmdCacheNCommands_ > 0) {
      // The answer of a queued command: it was reported as done when it was queued.
      KXUNISDKGlobals::LOG("PPad: Cache: removed command response");
      --cmdCacheNCommands_;
      return;
    }
  }
  std::lock_guard<std::mutex> w(waitMutex_);
  if (cmdLen_ + length > cmdBuffer_.size()) return;  // does not fit: dropped
  std::memcpy(cmdBuffer_.data() + cmdLen_, body, length);
  cmdLen_ += length;
  waitCv_.notify_all();
}

void PPadTransport::abortWait() {
  std::lock_guard<std::mutex> w(waitMutex_);
  ++abortGeneration_;
  waitCv_.notify_all();
}

void PPadTransport::setCaching(bool caching) {
  const bool was = caching_.exchange(caching);
  if (was && !caching) flushCache();
}

bool PPadTransport::flushCache() {
  std::lock_guard<std::mutex> f(flushMutex_);
  foundation::Bytes batch;
  int frames;
  {
    std::lock_guard<std::mutex> c(cacheMutex_);
    batch.swap(cmdCacheBuffer_);
    frames = cmdCacheQueued_;
    cmdCacheQueued_ = 0;
  }
  if (batch.empty()) return true;
  KXUNISDKGlobals::LOG("PPad: cmdFlushCache, data=%d", int(batch.size()));
  if (writeToLink(batch.data(), batch.size())) return true;
  KXUNISDKGlobals::LOG("PPad: write failed on flush cache");
  // The batch is not retried, so its responses will never come.
  std::lock_guard<std::mutex> c(cacheMutex_);
  cmdCacheNCommands_ = std::max(0, cmdCacheNCommands_ - frames);
  return false;
}

void PPadTransport::resetCache() {
  std::lock_guard<std::mutex> c(cacheMutex_);
  cmdCacheBuffer_.clear();
  cmdCacheQueued_ = 0;
  cmdCacheNCommands_ = 0;
}

int PPadTransport::cachedResponsesOutstanding() const {
  std::lock_guard<std::mutex> c(cacheMutex_);
  return cmdCacheNCommands_;
}

void PPadTransport::startCacheWriteThread() {
  std::lock_guard<std::mutex> t(threadMutex_);
  if (cacheThread_.joinable()) {
    if (!stopThread_) return;  // still running
    cacheThread_.join();
  }
  stopThread_ = false;
  cacheThread_ = std::thread([this] { cacheWriteThreadMain(); });
}

void PPadTransport::stopCacheWriteThread() {
  std::thread t;
  {
    std::lock_guard<std::mutex> l(threadMutex_);
    stopThread_ = true;
    threadCv_.notify_all();
    t = std::move(cacheThread_);
  }
  if (t.joinable() && t.get_id() != std::this_thread::get_id()) t.join();
  else if (t.joinable()) t.detach();
}

void PPadTransport::cacheWriteThreadMain() {
  foundation::setCurrentThreadName("CacheWrite Thread");
  Clock& clock = Clock::current();
  std::unique_lock<std::mutex> l(threadMutex_);
  while (!stopThread_ && (fakeConnected || connState == 2)) {
    clock.waitFor(l, threadCv_, kCachePoll, [&] { return stopThread_; });
    if (stopThread_) break;
    bool due;
    {
      std::lock_guard<std::mutex> c(cacheMutex_);
      due = !cmdCacheBuffer_.empty() && clock.now() - cmdCacheTime_ >= kCacheQuiet;
    }
    if (!due) continue;
    l.unlock();
    KXUNISDKGlobals::LOG("PPad: Cache: flushing...");
    flushCache();
    {
      std::lock_guard<std::mutex> c(cacheMutex_);
      cmdCacheTime_ = clock.now();
    }
    l.lock();
  }
  stopThread_ = true;
}

}  // namespace kestra
