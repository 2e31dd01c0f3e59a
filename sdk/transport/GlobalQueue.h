#pragma once
// The SDK's global concurrent queue: blocks that must not run on the caller's thread (an
// accessory search, a disconnect after a stream ended) run on worker threads of their own.
// Blocks may block for seconds (they open sessions, wait for the main queue), so each one
// gets a thread; nothing ever waits for a free worker.
//
// `waitIdle` is for tests: it waits (real time, bounded) until every block posted so far
// has finished, so a test can end without leaving a block running behind it.

#include <chrono>
#include <functional>

namespace kestra::GlobalQueue {

using Block = std::function<void()>;

// Any thread. An exception thrown by the block is caught and dropped.
void async(Block block);
// Number of blocks that are running now.
int running();
// True when no block runs any more; false when `timeout` passed first.
bool waitIdle(std::chrono::milliseconds timeout = std::chrono::milliseconds(5000));

}  // namespace kestra::GlobalQueue
