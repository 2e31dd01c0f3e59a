#pragma once
// Where every time-out and timer takes its time from. Production code asks
// `Clock::current()`; tests install a `ManualClock` and advance it, so a 30-second wait
// takes no real time and no test sleeps.
//
// `now()` is monotonic (for time-outs and timers); `wallNow()` is calendar time (for dates).
// Both may be read from any thread.

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <vector>

namespace foundation {

using Duration = std::chrono::steady_clock::duration;
using MonoTime = std::chrono::steady_clock::time_point;
using WallTime = std::chrono::system_clock::time_point;
using namespace std::chrono_literals;

class Clock {
 public:
  virtual ~Clock() = default;
  virtual MonoTime now() const = 0;
  virtual WallTime wallNow() const = 0;
  virtual bool isManual() const { return false; }

  // Waits on `cv` (with `lock` held) until `pred()` holds or `timeout` of this clock's time
  // has passed. Returns `pred()`. Spurious wake-ups never end the wait early. Under a
  // manual clock the wait ends only when the predicate holds or the clock is advanced past
  // the deadline; the clock learns of the wait once its deadline is fixed (a test that
  // means to move the clock past it waits for that with `ManualClock::waitForWaiters`), and
  // an advance wakes it at once.
  template <class Pred>
  bool waitFor(std::unique_lock<std::mutex>& lock, std::condition_variable& cv, Duration timeout,
               Pred pred) const {
    const MonoTime deadline = now() + timeout;
    if (!isManual()) {
      while (!pred()) {
        if (now() >= deadline) return pred();
        cv.wait_until(lock, deadline);
      }
      return true;
    }
    struct End {
      const Clock& clock;
      ~End() { clock.endWait(this); }
    } end{*this};
    beginWait(&end, &cv);
    while (!pred()) {
      const MonoTime t = now();
      if (t >= deadline) return pred();
      waitGoesOn(&end, t);
      // An advance notifies `cv`; the short real-time bound covers one that lands between
      // the check above and the wait.
      cv.wait_for(lock, std::chrono::milliseconds(2));
    }
    return true;
  }

  // The clock in force. Defaults to the system clock.
  static Clock& current();
  // Installs `clock` (nullptr restores the system clock). Clocks that were in force stay
  // alive until the process ends, so a thread still reading one is never left dangling.
  static void setCurrent(std::shared_ptr<Clock> clock);

 protected:
  // A wait (`id`, on `cv`) on this clock with its deadline fixed begins or ends (manual
  // clocks only).
  virtual void beginWait(const void* /*id*/, std::condition_variable* /*cv*/) const {}
  virtual void endWait(const void* /*id*/) const {}
  // The wait saw the clock at `seen`, short of its deadline, and goes on.
  virtual void waitGoesOn(const void* /*id*/, MonoTime /*seen*/) const {}
};

class SystemClock final : public Clock {
 public:
  MonoTime now() const override { return std::chrono::steady_clock::now(); }
  WallTime wallNow() const override { return std::chrono::system_clock::now(); }
};

// A clock that moves only when told. Advancing it wakes every run loop so that timers
// that fall due fire the next time their loop runs.
class ManualClock final : public Clock {
 public:
  ManualClock();
  MonoTime now() const override;
  WallTime wallNow() const override;
  bool isManual() const override { return true; }
  void advance(Duration d);
  void setWallTime(WallTime t);

  // Threads in `waitFor` on this clock now (each with its deadline fixed).
  size_t waiters() const;
  // Blocks until at least `count` threads wait on this clock, at most `realTimeout` of real
  // time (a safety net); true when they do. A test calls it before it advances the clock past
  // a deadline that another thread is about to fix.
  bool waitForWaiters(size_t count, std::chrono::milliseconds realTimeout = std::chrono::milliseconds(20000)) const;
  // Blocks until every thread waiting on this clock has looked at the time as it is now and
  // gone on waiting (short of its deadline), at most `realTimeout` of real time. After an
  // advance, a test uses it to see that the advance ended no wait it should not have.
  bool waitUntilWaitersSawNow(std::chrono::milliseconds realTimeout = std::chrono::milliseconds(20000)) const;

 protected:
  void beginWait(const void* id, std::condition_variable* cv) const override;
  void endWait(const void* id) const override;
  void waitGoesOn(const void* id, MonoTime seen) const override;

 private:
  struct Waiter {
    const void* id;
    std::condition_variable* cv;
    MonoTime seen;
  };
  mutable std::mutex mutex_;
  mutable std::condition_variable waitersChanged_;
  mutable std::vector<Waiter> waiting_;
  MonoTime mono_;
  WallTime wall_;
};

// Installs a fresh manual clock for the life of a test scope and restores the system
// clock afterwards.
class ScopedManualClock {
 public:
  ScopedManualClock() : clock_(std::make_shared<ManualClock>()) { Clock::setCurrent(clock_); }
  ~ScopedManualClock() { Clock::setCurrent(nullptr); }
  ManualClock& operator*() { return *clock_; }
  ManualClock* operator->() { return clock_.get(); }

 private:
  std::shared_ptr<ManualClock> clock_;
};

}  // namespace foundation
