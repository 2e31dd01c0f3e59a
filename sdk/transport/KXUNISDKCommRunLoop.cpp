#include "sdk/transport/KXUNISDKCommRunLoop.h"

#include <pthread.h>

#include <algorithm>

#include "platform/foundation/ThreadName.h"

namespace kestra {

KXUNISDKCommRunLoop& KXUNISDKCommRunLoop::sharedClass() {
  static KXUNISDKCommRunLoop* instance = new KXUNISDKCommRunLoop();  // never destroyed
  return *instance;
}

KXUNISDKCommRunLoop::KXUNISDKCommRunLoop() : loop_(std::make_unique<foundation::RunLoop>()) {}

KXUNISDKCommRunLoop::~KXUNISDKCommRunLoop() {
  std::thread last;
  {
    std::unique_lock<std::mutex> lock(runLock_);
    sources_.clear();
    requestCounter_ = 0;
    changed_.wait(lock, [this] { return !starting_; });
    if (threadActive_) {
      threadShouldClose_ = true;
      stopTime_ = foundation::Clock::current().now();
      loop_->wakeUp();
      changed_.wait(lock, [this] { return !threadActive_; });
    }
    last = std::move(thread_);
  }
  // The thread still lets go of the loop after it reported the end: wait for it.
  if (last.joinable()) {
    if (last.get_id() == std::this_thread::get_id())
      last.detach();
    else
      last.join();
  }
}

void KXUNISDKCommRunLoop::run(const void* client) {
  std::unique_lock<std::mutex> lock(runLock_);
  // The membership test is made under the lock, so two racing registrations of one
  // client count once.
  if (std::find(sources_.begin(), sources_.end(), client) != sources_.end()) return;
  threadShouldClose_ = false;  // cancels a pending delayed stop
  sources_.push_back(client);
  ++requestCounter_;
  if (!threadActive_ && !starting_) {
    starting_ = true;
    // An earlier thread has reported its end and takes no lock any more.
    if (thread_.joinable()) thread_.join();
    thread_ = std::thread([this] { runLoopThread(); });
  }
  changed_.wait(lock, [this] { return threadActive_ && !starting_; });
}

void KXUNISDKCommRunLoop::stop(const void* client) {
  std::lock_guard<std::mutex> lock(runLock_);
  auto it = std::find(sources_.begin(), sources_.end(), client);
  if (client && it == sources_.end()) return;
  if (requestCounter_ >= 1) --requestCounter_;
  if (client) sources_.erase(it);
  if (requestCounter_ == 0 && threadActive_) runLoopCancel();
}

void KXUNISDKCommRunLoop::runLoopCancel() {
  stopTime_ = foundation::Clock::current().now() + kStopDelay;
  threadShouldClose_ = true;
  if (runLoop_) runLoop_->wakeUp();
}

void KXUNISDKCommRunLoop::runLoopThread() {
  // Linux keeps 15 characters of a thread name; `kThreadName` is the logical name.
  foundation::setCurrentThreadName("CommRunLoop");
  foundation::RunLoop& loop = *loop_;
  {
    std::lock_guard<std::mutex> lock(runLock_);
    runLoop_ = &loop;
    threadId_ = std::this_thread::get_id();
    threadActive_ = true;
    starting_ = false;
    // Every client may have left while the thread was starting.
    if (requestCounter_ == 0 && !threadShouldClose_) runLoopCancel();
    changed_.notify_all();
  }

  foundation::MonoTime wakeArmedFor{};
  foundation::RunLoop::TimerId wakeTimer = 0;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(runLock_);
      foundation::MonoTime now = foundation::Clock::current().now();
      if (threadShouldClose_ && now >= stopTime_) {
        runLoop_ = nullptr;
        threadActive_ = false;
        threadShouldClose_ = false;
        threadId_ = {};
        // Under the lock: once it is released this thread touches nothing of `this`.
        changed_.notify_all();
        break;
      }
      // A timer at the stop time wakes the loop then, whatever else it waits for.
      if (threadShouldClose_ && wakeArmedFor != stopTime_) {
        if (wakeTimer) loop.cancelTimer(wakeTimer);
        wakeTimer = loop.addTimer(stopTime_, [] {});
        wakeArmedFor = stopTime_;
      }
    }
    try {
      loop.runOnce(kRunSlice);
    } catch (...) {
      // A stream handler's exception must not end the thread.
    }
  }
  if (wakeTimer) loop.cancelTimer(wakeTimer);
}

foundation::RunLoop* KXUNISDKCommRunLoop::runLoop() const {
  std::lock_guard<std::mutex> lock(runLock_);
  return runLoop_;
}

bool KXUNISDKCommRunLoop::threadActive() const {
  std::lock_guard<std::mutex> lock(runLock_);
  return threadActive_;
}

bool KXUNISDKCommRunLoop::isRunLoopThread() const {
  std::lock_guard<std::mutex> lock(runLock_);
  return threadActive_ && threadId_ == std::this_thread::get_id();
}

std::thread::id KXUNISDKCommRunLoop::threadId() const {
  std::lock_guard<std::mutex> lock(runLock_);
  return threadId_;
}

int KXUNISDKCommRunLoop::requestCounter() const {
  std::lock_guard<std::mutex> lock(runLock_);
  return requestCounter_;
}

bool KXUNISDKCommRunLoop::waitUntilStopped(std::chrono::milliseconds timeout) {
  std::unique_lock<std::mutex> lock(runLock_);
  return changed_.wait_for(lock, timeout, [this] { return !threadActive_ && !starting_; });
}

}  // namespace kestra
