#pragma once
// An event loop for one thread: file descriptors (epoll), timers on the `Clock`, and blocks
// performed on it from any thread. Every thread that needs one gets its own through
// `RunLoop::current()`; the process's main thread owns `RunLoop::main()`, which is the main
// queue (see MainQueue.h).
//
// Sources may be added and removed from any thread; their callbacks always run on the
// thread that runs the loop. A loop can also be driven from another event loop (the Qt
// renderer does this): watch `pollFd()` for reading, and call `runOnce(0)` when it is
// readable or when `nextTimerDeadline()` passes.

#include <sys/epoll.h>

#include <atomic>
#include <cstdint>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <thread>
#include <vector>

#include "platform/foundation/Clock.h"

namespace foundation {

class RunLoop {
 public:
  using Block = std::function<void()>;
  // `events` holds the epoll bits that are ready (EPOLLIN, EPOLLOUT, EPOLLHUP, EPOLLERR).
  using FdCallback = std::function<void(int fd, uint32_t events)>;
  using TimerId = uint64_t;

  RunLoop();
  ~RunLoop();
  RunLoop(const RunLoop&) = delete;
  RunLoop& operator=(const RunLoop&) = delete;

  // This thread's loop, created on first use (the main thread's is `main()`).
  static RunLoop& current();
  static RunLoop& main();
  static bool isMainThread();

  // Watches `fd` for `events` (EPOLLIN and/or EPOLLOUT). Replaces an earlier watch of `fd`.
  bool addFd(int fd, uint32_t events, FdCallback callback);
  void modifyFd(int fd, uint32_t events);
  // After this returns the callback of `fd` is not called again (unless it is running on
  // the loop's thread right now, in which case it finishes).
  void removeFd(int fd);

  // Runs `block` on the loop's thread, after blocks performed earlier. Any thread.
  void perform(Block block);

  // Runs `block` once when the current clock reaches `when`. Any thread.
  TimerId addTimer(MonoTime when, Block block);
  void cancelTimer(TimerId id);
  std::optional<MonoTime> nextTimerDeadline() const;

  // Runs until `stop()`. Must be called on the loop's own thread.
  void run();
  // Makes `run()` return after the work it is doing now. Any thread.
  void stop();
  // Runs until `condition()` holds, for at most `realTimeout` of real time (a safety net for
  // tests; the loop's timers follow the `Clock`). Returns whether the condition held.
  bool runUntil(const std::function<bool()>& condition,
                std::chrono::milliseconds realTimeout = std::chrono::milliseconds(20000));
  // Does what is ready, waiting at most `maxWait` for something to become ready. Returns
  // whether anything ran.
  bool runOnce(Duration maxWait);

  int pollFd() const { return epollFd_; }
  void wakeUp();
  // Wakes every live loop (the manual clock calls this when it moves).
  static void wakeAll();

 private:
  struct FdEntry {
    uint64_t generation;
    std::shared_ptr<FdCallback> callback;
  };
  struct TimerEntry {
    TimerId id;
    Block block;
  };

  bool runDueTimers();
  bool runPerformed();

  int epollFd_ = -1;
  int wakeFd_ = -1;
  std::atomic<bool> stopped_{false};
  mutable std::mutex mutex_;
  std::map<int, FdEntry> fds_;
  uint64_t fdGeneration_ = 0;
  std::vector<Block> performed_;
  std::multimap<MonoTime, TimerEntry> timers_;
  TimerId nextTimerId_ = 1;
};

}  // namespace foundation
