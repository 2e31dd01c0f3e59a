#pragma once
// One-shot and repeating timers on a run loop. The loop keeps a scheduled timer alive
// until it is invalidated (or, for a one-shot timer, until it has fired), so the caller
// may keep a pointer only to invalidate it. A repeating timer that falls behind skips the
// firings it missed, as the platform's timers do.

#include <functional>
#include <memory>
#include <mutex>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"

namespace foundation {

class Timer : public std::enable_shared_from_this<Timer> {
 public:
  using Block = std::function<void(Timer&)>;

  // Schedules on `loop` (the calling thread's loop by default).
  static std::shared_ptr<Timer> scheduled(Duration interval, bool repeats, Block block,
                                          RunLoop* loop = nullptr);

  // Stops the timer; safe from any thread and from inside its own block.
  void invalidate();
  bool isValid() const;
  // Fires now without changing the schedule (a one-shot timer is then invalid).
  void fire();
  MonoTime fireDate() const;
  Duration interval() const { return interval_; }

  ~Timer();

 private:
  Timer(Duration interval, bool repeats, Block block, RunLoop* loop);
  void arm(MonoTime when);
  void onDue();

  const Duration interval_;
  const bool repeats_;
  Block block_;
  RunLoop* loop_;
  mutable std::mutex mutex_;
  bool valid_ = true;
  MonoTime fireDate_{};
  RunLoop::TimerId timerId_ = 0;
  std::shared_ptr<Timer> self_;  // the loop's hold while scheduled
};

}  // namespace foundation
