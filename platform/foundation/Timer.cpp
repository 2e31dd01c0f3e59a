#include "platform/foundation/Timer.h"

namespace foundation {

namespace {
// The platform's timers never repeat faster than this.
constexpr Duration kMinimumRepeatInterval = std::chrono::microseconds(100);
}

Timer::Timer(Duration interval, bool repeats, Block block, RunLoop* loop)
    : interval_(repeats ? std::max(interval, kMinimumRepeatInterval) : interval),
      repeats_(repeats),
      block_(std::move(block)),
      loop_(loop) {}

Timer::~Timer() = default;

std::shared_ptr<Timer> Timer::scheduled(Duration interval, bool repeats, Block block,
                                        RunLoop* loop) {
  std::shared_ptr<Timer> t(new Timer(interval, repeats, std::move(block),
                                     loop ? loop : &RunLoop::current()));
  std::lock_guard<std::mutex> lock(t->mutex_);
  t->self_ = t;
  t->arm(Clock::current().now() + t->interval_);
  return t;
}

// Called with mutex_ held.
void Timer::arm(MonoTime when) {
  fireDate_ = when;
  std::weak_ptr<Timer> weak = weak_from_this();
  timerId_ = loop_->addTimer(when, [weak] {
    if (auto t = weak.lock()) t->onDue();
  });
}

void Timer::onDue() {
  auto keep = shared_from_this();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!valid_) return;
  }
  if (block_) block_(*this);
  std::lock_guard<std::mutex> lock(mutex_);
  if (!valid_) return;
  if (!repeats_) {
    valid_ = false;
    self_.reset();
    return;
  }
  MonoTime now = Clock::current().now();
  MonoTime next = fireDate_ + interval_;
  if (next <= now) {  // skip the firings that were missed
    auto missed = (now - fireDate_) / interval_;
    next = fireDate_ + interval_ * (missed + 1);
  }
  arm(next);
}

void Timer::invalidate() {
  std::shared_ptr<Timer> keep;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!valid_) return;
  valid_ = false;
  loop_->cancelTimer(timerId_);
  keep = std::move(self_);  // released after the lock
}

bool Timer::isValid() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return valid_;
}

void Timer::fire() {
  auto keep = shared_from_this();
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!valid_) return;
  }
  if (block_) block_(*this);
  if (!repeats_) invalidate();
}

MonoTime Timer::fireDate() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return fireDate_;
}

}  // namespace foundation
