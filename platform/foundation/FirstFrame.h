#pragma once
// Work that a program's start puts off until its window's first frame is painted, so that
// what the first screen does not need (a location lookup that starts a subprocess, say)
// does not hold that screen back. A host that paints a window (the Qt host) calls `hold()`
// before it launches the application and `painted()` once the first frame is on the screen;
// blocks given to `runAfter` in between then run on the main queue, in the order given.
// Without a host holding (SDK programs, tests, the headless harness) and once the first frame
// is painted, `runAfter` runs its block at once, on the caller's thread. Nothing given is
// dropped: `painted()` is the host's promise to call once, and it also ends a hold that no
// frame ends (a window that is never shown).
//
// Thread-safe; the blocks are the caller's and must not throw.

#include <functional>

namespace foundation::FirstFrame {

void hold();
void painted();
void runAfter(std::function<void()> block);
// True while a host holds start-up work back.
bool held();

}  // namespace foundation::FirstFrame
