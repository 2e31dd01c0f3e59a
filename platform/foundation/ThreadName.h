#pragma once
// Names the calling thread for debuggers, `top -H` and crash reports. Linux keeps at most 15
// bytes of a thread's name and refuses a longer one outright (the thread then keeps its
// process's name), so a longer name is cut to its first 15 bytes, never inside a UTF-8
// character. Any thread; names only the caller.

#include <string>
#include <string_view>

namespace foundation {

void setCurrentThreadName(std::string_view name);
// The name the system holds for the calling thread.
std::string currentThreadName();
// The name that `setCurrentThreadName` gives for `name`.
std::string threadNameFor(std::string_view name);

}  // namespace foundation
