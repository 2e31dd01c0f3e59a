#include "platform/foundation/BackgroundQueue.h"

#include <condition_variable>
#include <deque>
#include <mutex>
#include <thread>

namespace foundation::BackgroundQueue {

namespace {

// Two threads: enough that one slow picture does not hold up an answer, few enough for a
// two-core machine.
constexpr int kThreads = 2;

struct Pool {
  std::mutex mutex;
  std::condition_variable wake;
  std::deque<Block> blocks;

  Pool() {
    for (int i = 0; i < kThreads; ++i) std::thread([this] { work(); }).detach();
  }

  void work() {
    for (;;) {
      Block block;
      {
        std::unique_lock lock(mutex);
        wake.wait(lock, [this] { return !blocks.empty(); });
        block = std::move(blocks.front());
        blocks.pop_front();
      }
      try {
        block();
      } catch (...) {
      }
    }
  }
};

Pool& pool() {
  // Never destroyed: detached workers may still wait on it while the process exits.
  static Pool* p = new Pool;
  return *p;
}

}  // namespace

void post(Block block) {
  if (!block) return;
  Pool& p = pool();
  {
    std::lock_guard lock(p.mutex);
    p.blocks.push_back(std::move(block));
  }
  p.wake.notify_one();
}

}  // namespace foundation::BackgroundQueue
