#include "platform/foundation/IdleTimer.h"

#include <memory>
#include <mutex>

#include "platform/foundation/MainQueue.h"

namespace foundation::IdleTimer {

namespace {
struct State {
  std::mutex mutex;
  bool disabled = false;
  std::shared_ptr<std::function<void(bool)>> hook;
};
State& state() {
  static State* const s = new State;
  return *s;
}
}  // namespace

bool disabled() {
  std::lock_guard lock(state().mutex);
  return state().disabled;
}

void setDisabled(bool value) {
  std::shared_ptr<std::function<void(bool)>> hook;
  {
    std::lock_guard lock(state().mutex);
    state().disabled = value;
    hook = state().hook;
  }
  if (hook) MainQueue::post([hook, value] { (*hook)(value); });
}

void setHook(std::function<void(bool)> hook) {
  std::lock_guard lock(state().mutex);
  state().hook = hook ? std::make_shared<std::function<void(bool)>>(std::move(hook)) : nullptr;
}

}  // namespace foundation::IdleTimer
