#pragma once
// Work that must not run on the main thread (reading a large answer, decoding a picture,
// reading a cache file): a small pool of worker threads shared by the process.
//
// `post` may be called from any thread; blocks run in no promised order, each on one of the
// pool's threads. A block that throws is caught and dropped (the caller reports results
// through its own block posted back to the main queue). The pool lives for the process;
// its threads are daemon-like and never joined before exit.

#include <functional>

namespace foundation::BackgroundQueue {

using Block = std::function<void()>;

void post(Block block);

}  // namespace foundation::BackgroundQueue
