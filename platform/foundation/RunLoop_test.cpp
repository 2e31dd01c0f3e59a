#include "platform/foundation/RunLoop.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <thread>
#include <vector>

#include "platform/foundation/MainQueue.h"
#include "platform/foundation/Timer.h"

using namespace foundation;

TEST(MainQueue, BlocksPostedFromOtherThreadsRunOnMainThreadInOrder) {
  std::vector<int> seen;
  std::vector<bool> onMain;
  constexpr int kThreads = 4, kPerThread = 50;
  std::vector<std::thread> threads;
  for (int t = 0; t < kThreads; ++t) {
    threads.emplace_back([&, t] {
      for (int i = 0; i < kPerThread; ++i)
        MainQueue::post([&, t, i] {
          seen.push_back(t * 1000 + i);
          onMain.push_back(MainQueue::isMainThread());
        });
    });
  }
  for (auto& th : threads) th.join();
  ASSERT_TRUE(RunLoop::main().runUntil([&] { return seen.size() == kThreads * kPerThread; }));
  for (bool b : onMain) EXPECT_TRUE(b);
  // Each thread's blocks keep their order.
  for (int t = 0; t < kThreads; ++t) {
    int last = -1;
    for (int v : seen)
      if (v / 1000 == t) {
        EXPECT_GT(v % 1000, last);
        last = v % 1000;
      }
  }
}

TEST(RunLoop, FileDescriptorCallbackRunsOnLoopThreadAndStopsAfterRemoval) {
  int p[2];
  ASSERT_EQ(pipe(p), 0);
  int calls = 0;
  RunLoop& loop = RunLoop::main();
  loop.addFd(p[0], EPOLLIN, [&](int fd, uint32_t) {
    char c;
    ASSERT_EQ(read(fd, &c, 1), 1);
    ++calls;
  });
  ASSERT_EQ(write(p[1], "x", 1), 1);
  EXPECT_TRUE(loop.runUntil([&] { return calls == 1; }));
  loop.removeFd(p[0]);
  ASSERT_EQ(write(p[1], "y", 1), 1);
  loop.runOnce(std::chrono::milliseconds(20));
  EXPECT_EQ(calls, 1);
  close(p[0]);
  close(p[1]);
}

TEST(RunLoop, StopEndsRunFromAnotherThread) {
  RunLoop* loop = nullptr;
  std::atomic<bool> ready{false}, ended{false};
  std::thread worker([&] {
    loop = &RunLoop::current();
    ready = true;
    loop->run();
    ended = true;
  });
  while (!ready) std::this_thread::yield();
  loop->perform([&] { loop->stop(); });
  worker.join();
  EXPECT_TRUE(ended);
}

TEST(Timer, ThirtySecondTimerFiresWhenManualClockAdvancesThirtySecondsNotBefore) {
  ScopedManualClock clock;
  int fired = 0;
  auto timer = Timer::scheduled(30s, false, [&](Timer&) { ++fired; }, &RunLoop::main());
  clock->advance(29s);
  RunLoop::main().runOnce(std::chrono::milliseconds(5));
  EXPECT_EQ(fired, 0);
  clock->advance(999ms);
  RunLoop::main().runOnce(std::chrono::milliseconds(5));
  EXPECT_EQ(fired, 0);
  clock->advance(1ms);
  EXPECT_TRUE(RunLoop::main().runUntil([&] { return fired == 1; }));
  EXPECT_FALSE(timer->isValid());
  clock->advance(60s);
  RunLoop::main().runOnce(std::chrono::milliseconds(5));
  EXPECT_EQ(fired, 1);
}

TEST(Timer, RepeatingTimerSkipsMissedFiringsAndStopsWhenInvalidatedFromItsBlock) {
  ScopedManualClock clock;
  int fired = 0;
  auto timer = Timer::scheduled(1s, true, [&](Timer& t) {
    if (++fired == 3) t.invalidate();
  }, &RunLoop::main());
  clock->advance(10s);  // ten intervals pass at once: one firing, not ten
  RunLoop::main().runUntil([&] { return fired == 1; });
  RunLoop::main().runOnce(std::chrono::milliseconds(5));
  EXPECT_EQ(fired, 1);
  clock->advance(1s);
  RunLoop::main().runUntil([&] { return fired == 2; });
  clock->advance(1s);
  RunLoop::main().runUntil([&] { return fired == 3; });
  clock->advance(5s);
  RunLoop::main().runOnce(std::chrono::milliseconds(5));
  EXPECT_EQ(fired, 3);
  EXPECT_FALSE(timer->isValid());
}

TEST(Timer, PostAfterRunsOnMainQueueAfterDelay) {
  ScopedManualClock clock;
  bool ran = false;
  MainQueue::postAfter(2s, [&] { ran = true; });
  RunLoop::main().runOnce(std::chrono::milliseconds(5));
  EXPECT_FALSE(ran);
  clock->advance(2s);
  EXPECT_TRUE(RunLoop::main().runUntil([&] { return ran; }));
}

TEST(Clock, WaitForEndsOnlyWhenManualClockPassesTheDeadline) {
  ScopedManualClock clock;
  std::mutex m;
  std::condition_variable cv;
  std::atomic<int> checks{0};
  std::atomic<bool> finished{false};
  bool result = true;
  std::thread waiter([&] {
    std::unique_lock<std::mutex> lock(m);
    result = Clock::current().waitFor(lock, cv, 5s, [&] {
      ++checks;
      return false;
    });
    finished = true;
  });
  // Moving the clock before the waiter fixed its deadline would move the deadline too: wait
  // until it has.
  ASSERT_TRUE(clock->waitForWaiters(1));
  // A spurious wake-up must not end the wait: the waiter checks again and keeps waiting.
  const int before = checks.load();
  cv.notify_all();
  while (checks.load() < before + 3) std::this_thread::yield();
  EXPECT_FALSE(finished);
  EXPECT_EQ(clock->waiters(), 1u);
  clock->advance(4999ms);
  const int afterShortAdvance = checks.load();
  while (checks.load() < afterShortAdvance + 3) std::this_thread::yield();
  EXPECT_FALSE(finished);
  clock->advance(1ms);
  waiter.join();
  EXPECT_FALSE(result);
  EXPECT_EQ(clock->waiters(), 0u);
}
