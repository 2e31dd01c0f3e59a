#pragma once
// The main queue: blocks and timers run in order on the main thread, by the main run loop.
// In the application the Qt event loop drives that run loop; in SDK programs and tests the
// program or the test runs it (`RunLoop::main().runUntil(...)`).

#include <functional>

#include "platform/foundation/Clock.h"

namespace foundation::MainQueue {

using Block = std::function<void()>;

// Any thread. Blocks posted from one thread run in the order they were posted.
void post(Block block);
// Runs `block` on the main queue once `delay` of the current clock has passed.
void postAfter(Duration delay, Block block);
// Runs `block` now when called on the main thread, else posts it.
void runOrPost(Block block);
bool isMainThread();

}  // namespace foundation::MainQueue
