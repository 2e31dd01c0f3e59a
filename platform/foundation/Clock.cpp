#include "platform/foundation/Clock.h"

#include <algorithm>
#include <vector>

#include "platform/foundation/RunLoop.h"

namespace foundation {

namespace {
// Never destroyed: threads still at work while the process exits may read it.
struct ClockState {
  std::mutex mutex;
  std::shared_ptr<Clock> clock;
};

ClockState& clockState() {
  static auto* s = new ClockState();
  return *s;
}
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
  auto& state = clockState();
  std::lock_guard<std::mutex> lock(state.mutex);
  return state.clock ? *state.clock : systemClock();
}

void Clock::setCurrent(std::shared_ptr<Clock> clock) {
  {
    auto& state = clockState();
    std::lock_guard<std::mutex> lock(state.mutex);
    if (state.clock) retired().push_back(state.clock);
    state.clock = std::move(clock);
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
    for (auto& w : waiting_) w.cv->notify_all();
  }
  RunLoop::wakeAll();
}

void ManualClock::beginWait(const void* id, std::condition_variable* cv) const {
  std::lock_guard<std::mutex> lock(mutex_);
  waiting_.push_back({id, cv, MonoTime::min()});
  waitersChanged_.notify_all();
}

void ManualClock::endWait(const void* id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = std::find_if(waiting_.begin(), waiting_.end(), [&](const Waiter& w) { return w.id == id; });
  if (it != waiting_.end()) waiting_.erase(it);
  waitersChanged_.notify_all();
}

void ManualClock::waitGoesOn(const void* id, MonoTime seen) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (auto& w : waiting_)
    if (w.id == id && w.seen < seen) w.seen = seen;
  waitersChanged_.notify_all();
}

bool ManualClock::waitUntilWaitersSawNow(std::chrono::milliseconds realTimeout) const {
  std::unique_lock<std::mutex> lock(mutex_);
  return waitersChanged_.wait_for(lock, realTimeout, [&] {
    return std::all_of(waiting_.begin(), waiting_.end(), [&](const Waiter& w) { return w.seen >= mono_; });
  });
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
