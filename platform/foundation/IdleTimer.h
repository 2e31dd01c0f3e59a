#pragma once
// The phone's idle timer: whether the system may dim and lock the screen after a while
// without input. One process-wide setting, readable and writable from any thread.
//
// By default the setting is only kept here. A platform layer that can act on it (the UI's
// application object, a session inhibitor) installs a hook, which is then called on the
// main queue with every new value, in the order the values were set.

#include <functional>

namespace foundation::IdleTimer {

bool disabled();
void setDisabled(bool disabled);
// Installs (or with an empty function removes) the platform's hook.
void setHook(std::function<void(bool disabled)> hook);

}  // namespace foundation::IdleTimer
