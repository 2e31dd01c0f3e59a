#include "sdk/transport/GlobalQueue.h"

#include <condition_variable>
#include <mutex>
#include <thread>

namespace kestra::GlobalQueue {

namespace {
struct State {
  std::mutex mutex;
  std::condition_variable idle;
  int running = 0;
};
State& state() {
  static State* s = new State();  // lives for the whole process
  return *s;
}
}  // namespace

void async(Block block) {
  State& s = state();
  {
    std::lock_guard<std::mutex> lock(s.mutex);
    ++s.running;
  }
  std::thread([block = std::move(block)] {
    try {
      block();
    } catch (...) {
    }
    State& st = state();
    std::lock_guard<std::mutex> lock(st.mutex);
    if (--st.running == 0) st.idle.notify_all();
  }).detach();
}

int running() {
  State& s = state();
  std::lock_guard<std::mutex> lock(s.mutex);
  return s.running;
}

bool waitIdle(std::chrono::milliseconds timeout) {
  State& s = state();
  std::unique_lock<std::mutex> lock(s.mutex);
  return s.idle.wait_for(lock, timeout, [&] { return s.running == 0; });
}

}  // namespace kestra::GlobalQueue
