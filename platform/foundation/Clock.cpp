#include "platform/foundation/Clock.h"

#include <algorithm>
#include <vector>

#include "platform/foundation/RunLoop.h"

namespace foundation {

namespace {
std::mutex gClockMutex;
std::shared_ptr<Clock> gClock;
// Clocks that were once in force; kept so that a reference handed out earlier stays valid.
std::vector<std::shared_ptr<Clock>>& retired() {
  static auto* v = new std::vector<std::shared_ptr<Clock>>();
  return *v;
}
Clock& systemClock() {
  static SystemClock* c = new SystemClock();
  return *c;
}
}  // namespace

Clock& Clock::current() {
  std::lock_guard<std::mutex> lock(gClockMutex);
  return gClock ? *gClock : systemClock();
}

void Clock::setCurrent(std::shared_ptr<Clock> clock) {
  {
    std::lock_guard<std::mutex> lock(gClockMutex);
    if (gClock) retired().push_back(gClock);
    gClock = std::move(clock);
  }
  RunLoop::wakeAll();
}

ManualClock::ManualClock()
    : mono_(std::chrono::steady_clock::time_point(std::chrono::hours(1000))),
      wall_(std::chrono::system_clock::now()) {}

MonoTime ManualClock::now() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return mono_;
}

WallTime ManualClock::wallNow() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return wall_;
}

void ManualClock::advance(Duration d) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    mono_ += d;
    wall_ += std::chrono::duration_cast<WallTime::duration>(d);
    // Under the clock's lock, so that no waiter can end (and free its condition) meanwhile.
    for (auto* cv : waiting_) cv->notify_all();
  }
  RunLoop::wakeAll();
}

void ManualClock::beginWait(std::condition_variable* cv) const {
  std::lock_guard<std::mutex> lock(mutex_);
  waiting_.push_back(cv);
  waitersChanged_.notify_all();
}

void ManualClock::endWait(std::condition_variable* cv) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = std::find(waiting_.begin(), waiting_.end(), cv);
  if (it != waiting_.end()) waiting_.erase(it);
  waitersChanged_.notify_all();
}

size_t ManualClock::waiters() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return waiting_.size();
}

bool ManualClock::waitForWaiters(size_t count, std::chrono::milliseconds realTimeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return waitersChanged_.wait_for(lock, realTimeout, [&] { return waiting_.size() >= count; });
}

void ManualClock::setWallTime(WallTime t) {
  std::lock_guard<std::mutex> lock(mutex_);
  wall_ = t;
}

}  // namespace foundation
