#include "platform/foundation/OperationQueue.h"

#include <gtest/gtest.h>

#include <atomic>
#include <mutex>
#include <vector>

namespace foundation {
namespace {

TEST(OperationQueue, OneAtATimeInOrderWithNamesCancelAndSuspend) {
  OperationQueue q(1);
  std::mutex m;
  std::condition_variable cv;
  bool release = false;
  std::vector<int> order;
  q.addOperation([&] {
    std::unique_lock l(m);
    cv.wait(l, [&] { return release; });
    order.push_back(1);
  }, "first");
  q.addOperation([&] { order.push_back(2); }, "second");
  EXPECT_TRUE(q.hasOperationNamed("first"));
  EXPECT_TRUE(q.hasOperationNamed("second"));
  EXPECT_FALSE(q.hasOperationNamed("third"));
  EXPECT_EQ(q.operationCount(), 2u);
  {
    std::lock_guard l(m);
    release = true;
  }
  cv.notify_all();
  q.waitUntilAllOperationsAreFinished();
  EXPECT_EQ(order, (std::vector<int>{1, 2}));

  q.setSuspended(true);
  q.addOperation([&] { order.push_back(3); });
  EXPECT_EQ(q.operationCount(), 1u);
  q.cancelAllOperations();
  q.setSuspended(false);
  q.waitUntilAllOperationsAreFinished();
  EXPECT_EQ(order.size(), 2u);
}

TEST(OperationQueue, ManyAtOnceAndEscapingExceptionsAreCaught) {
  OperationQueue q(4);
  std::atomic<int> together{0};
  std::mutex m;
  std::condition_variable cv;
  int started = 0;
  // Each operation waits until all four have started: only four at once lets them meet.
  for (int i = 0; i < 4; ++i)
    q.addOperation([&] {
      std::unique_lock l(m);
      ++started;
      cv.notify_all();
      if (cv.wait_for(l, std::chrono::seconds(20), [&] { return started == 4; })) ++together;
    });
  q.waitUntilAllOperationsAreFinished();
  EXPECT_EQ(together, 4);
  std::string caught;
  OperationQueue::setExceptionHandler([&](const std::string& what) { caught = what; });
  q.addOperation([] { throw std::runtime_error("escaped"); });
  q.waitUntilAllOperationsAreFinished();
  EXPECT_EQ(caught, "escaped");
  OperationQueue::setExceptionHandler(nullptr);
}

}  // namespace
}  // namespace foundation
