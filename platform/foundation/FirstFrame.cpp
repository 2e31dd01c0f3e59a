#include "platform/foundation/FirstFrame.h"

#include <mutex>
#include <vector>

#include "platform/foundation/MainQueue.h"

namespace foundation::FirstFrame {
namespace {

struct State {
  std::mutex mutex;
  bool held = false;
  std::vector<std::function<void()>> waiting;
};

// Lives for the whole process: any thread may ask while the process exits.
State& state() {
  static State* const s = new State;
  return *s;
}

}  // namespace

void hold() {
  std::lock_guard lock(state().mutex);
  state().held = true;
}

void painted() {
  std::vector<std::function<void()>> waiting;
  {
    std::lock_guard lock(state().mutex);
    state().held = false;
    waiting.swap(state().waiting);
  }
  for (auto& block : waiting) MainQueue::post(std::move(block));
}

void runAfter(std::function<void()> block) {
  {
    std::lock_guard lock(state().mutex);
    if (state().held) {
      state().waiting.push_back(std::move(block));
      return;
    }
  }
  block();
}

bool held() {
  std::lock_guard lock(state().mutex);
  return state().held;
}

}  // namespace foundation::FirstFrame
