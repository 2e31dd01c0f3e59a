#include "platform/foundation/MainQueue.h"

#include "platform/foundation/RunLoop.h"

namespace foundation::MainQueue {

void post(Block block) { RunLoop::main().perform(std::move(block)); }

void postAfter(Duration delay, Block block) {
  RunLoop::main().addTimer(Clock::current().now() + delay, std::move(block));
}

void runOrPost(Block block) {
  if (isMainThread())
    block();
  else
    post(std::move(block));
}

bool isMainThread() { return RunLoop::isMainThread(); }

}  // namespace foundation::MainQueue
