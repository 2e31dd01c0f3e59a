#pragma once
// The common run-loop thread ("CommRunLoop Thread") on which every accessory session
// stream and every stream pair of `CommStream` is scheduled, so that all stream events of
// the SDK arrive on that one thread, one at a time - never on the caller's thread and
// never on the main thread.
//
// How a client uses it:
//   1. `KXUNISDKCommRunLoop::sharedClass().run(this)` - registers the client and returns
//      once the thread and its run loop exist (a second `run` by the same client is a
//      no-op);
//   2. schedule its streams on `runLoop()` and open them;
//   3. when finished, remove its streams from that loop and call `stop(this)`.
// The thread starts with the first client and ends `kStopDelay` (2 s of the `Clock`) after
// the last client left - a client that registers within that window keeps the same thread.
//
// `run` and `stop` may be called from any thread, including the run-loop thread itself.
// A client must call `stop` before it is destroyed (the list holds identities only).
// An exception thrown by a stream handler on the thread is caught and dropped.
//
// The run loop belongs to this object, not to the thread: a thread that ends leaves it
// behind, and the next thread runs the same loop. A stream that is removed from the loop
// (or closed) after the thread has ended therefore touches a live, idle loop. Code on the
// thread schedules its work on `runLoop()`; `foundation::RunLoop::current()` there is a
// different loop that nobody runs.

#include <chrono>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <thread>
#include <vector>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"

namespace kestra {

class KXUNISDKCommRunLoop {
 public:
  static constexpr const char* kThreadName = "CommRunLoop Thread";
  // How long the thread outlives its last client.
  static constexpr foundation::Duration kStopDelay = std::chrono::seconds(2);
  // The longest single run of the run loop between checks of the stop request.
  static constexpr foundation::Duration kRunSlice = std::chrono::seconds(1);

  // The process-wide instance (created once, thread-safely; never destroyed).
  static KXUNISDKCommRunLoop& sharedClass();

  // Instances other than the shared one are for tests.
  KXUNISDKCommRunLoop();
  ~KXUNISDKCommRunLoop();
  KXUNISDKCommRunLoop(const KXUNISDKCommRunLoop&) = delete;
  KXUNISDKCommRunLoop& operator=(const KXUNISDKCommRunLoop&) = delete;

  // Registers `client` (once) and makes sure the thread runs; returns when its run loop
  // exists.
  void run(const void* client);
  // Unregisters `client`; nullptr only takes one off the count. A client that is not
  // registered changes nothing. When no client is left the delayed stop begins.
  void stop(const void* client);

  // The thread's run loop; nullptr while no thread runs. The loop itself lives as long
  // as this object.
  foundation::RunLoop* runLoop() const;

  // For tests and diagnostics.
  bool threadActive() const;
  bool isRunLoopThread() const;
  std::thread::id threadId() const;
  int requestCounter() const;
  // Waits (real time, bounded) until no thread runs; false when `timeout` passed first.
  bool waitUntilStopped(std::chrono::milliseconds timeout);

 private:
  void runLoopCancel();  // with runLock_ held
  void runLoopThread();

  mutable std::mutex runLock_;
  std::condition_variable changed_;
  std::vector<const void*> sources_;
  int requestCounter_ = 0;
  bool threadActive_ = false;
  bool starting_ = false;
  bool threadShouldClose_ = false;
  foundation::MonoTime stopTime_{};
  const std::unique_ptr<foundation::RunLoop> loop_;  // run by every thread in turn
  foundation::RunLoop* runLoop_ = nullptr;            // `loop_` while a thread runs it
  std::thread::id threadId_{};
  std::thread thread_;  // the current (or last) thread; joined before the next starts
};

}  // namespace kestra
