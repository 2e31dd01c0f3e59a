#include "sdk/foundation/KXIdleTimer.h"

#include <mutex>

#include "platform/foundation/IdleTimer.h"

namespace kestra {

namespace {
std::mutex savedMutex;
bool idleTimerDisabledOld = false;
}  // namespace

void idleTimerStop() {
  std::lock_guard lock(savedMutex);
  idleTimerDisabledOld = foundation::IdleTimer::disabled();
  foundation::IdleTimer::setDisabled(true);
}

void idleTimerRestore() {
  std::lock_guard lock(savedMutex);
  foundation::IdleTimer::setDisabled(idleTimerDisabledOld);
}

}  // namespace kestra
