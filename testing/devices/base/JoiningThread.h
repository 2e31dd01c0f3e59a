#pragma once
// A thread that a test always joins: also when a failed assertion leaves the test early.
// `release` (optional) frees whatever the thread may still be waiting on - a manual clock
// moved past every time-out, a wait aborted - and runs only when the thread is left to the
// destructor; a test that joins on its own path calls `join()` and is left as it was.
//
//   devices::JoiningThread t([&] { ... blocking command ... },
//                            [&] { clock->advance(std::chrono::minutes(1)); });
//   ASSERT_TRUE(...);  // a failure here still joins `t`
//   t.join();

#include <functional>
#include <thread>
#include <utility>

namespace devices {

class JoiningThread {
 public:
  template <class F>
  explicit JoiningThread(F&& body, std::function<void()> release = {})
      : release_(std::move(release)), thread_(std::forward<F>(body)) {}
  ~JoiningThread() {
    if (!thread_.joinable()) return;
    if (release_) release_();
    thread_.join();
  }
  JoiningThread(const JoiningThread&) = delete;
  JoiningThread& operator=(const JoiningThread&) = delete;

  void join() {
    if (thread_.joinable()) thread_.join();
  }

 private:
  std::function<void()> release_;
  std::thread thread_;
};

}  // namespace devices
