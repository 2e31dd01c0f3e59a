#include "sdk/transport/KXUNISDKCommRunLoop.h"

#include <gtest/gtest.h>

#include <future>
#include <stdexcept>

#include "platform/accessory/FdStream.h"

namespace kestra {
namespace {

using namespace std::chrono_literals;

TEST(CommRunLoopTest, StartsWithFirstClientKeepsThreadWithinGraceAndEndsTwoSecondsAfterLast) {
  foundation::ScopedManualClock clock;
  KXUNISDKCommRunLoop comm;
  int a = 0, b = 0;
  EXPECT_FALSE(comm.threadActive());
  EXPECT_EQ(comm.runLoop(), nullptr);

  comm.run(&a);
  ASSERT_TRUE(comm.threadActive());
  ASSERT_NE(comm.runLoop(), nullptr);
  const std::thread::id first = comm.threadId();
  EXPECT_NE(first, std::this_thread::get_id());
  std::promise<std::thread::id> ranOn;
  comm.runLoop()->perform([&] { ranOn.set_value(std::this_thread::get_id()); });
  EXPECT_EQ(ranOn.get_future().get(), first);

  // A client that comes within the grace period keeps the same thread.
  comm.stop(&a);
  clock->advance(1900ms);
  comm.run(&b);
  EXPECT_TRUE(comm.threadActive());
  EXPECT_EQ(comm.threadId(), first);
  clock->advance(1s);  // the earlier stop was cancelled
  EXPECT_FALSE(comm.waitUntilStopped(50ms));

  // The delay counts from the last stop.
  comm.stop(&b);
  clock->advance(1900ms);
  EXPECT_FALSE(comm.waitUntilStopped(50ms));
  EXPECT_NE(comm.runLoop(), nullptr);
  clock->advance(200ms);
  EXPECT_TRUE(comm.waitUntilStopped(2000ms));
  EXPECT_EQ(comm.runLoop(), nullptr);

  // After the end, the next client starts a fresh thread and gets its loop at once.
  comm.run(&a);
  EXPECT_TRUE(comm.threadActive());
  EXPECT_NE(comm.runLoop(), nullptr);
  comm.stop(&a);
}

TEST(CommRunLoopTest, CountsEachClientOnce) {
  foundation::ScopedManualClock clock;
  struct Case {
    const char* name;
    std::function<void(KXUNISDKCommRunLoop&, int*, int*)> act;
    int counter;
    bool closing;  // the delayed stop has begun
  };
  const Case cases[] = {
      {"run twice, stop once",
       [](auto& c, int* a, int*) { c.run(a); c.run(a); c.stop(a); }, 0, true},
      {"stop of a client that never ran",
       [](auto& c, int* a, int* b) { c.run(a); c.stop(b); }, 1, false},
      {"stop with no client only counts down",
       [](auto& c, int* a, int* b) { c.run(a); c.run(b); c.stop(nullptr); }, 1, false},
      {"stop twice",
       [](auto& c, int* a, int* b) { c.run(a); c.run(b); c.stop(a); c.stop(a); }, 1, false},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    KXUNISDKCommRunLoop comm;
    int a = 0, b = 0;
    c.act(comm, &a, &b);
    EXPECT_EQ(comm.requestCounter(), c.counter);
    clock->advance(KXUNISDKCommRunLoop::kStopDelay + 1ms);
    EXPECT_EQ(comm.waitUntilStopped(c.closing ? 2000ms : 50ms), c.closing);
  }
}

TEST(CommRunLoopTest, RacingRegistrationsOfOneClientCountOnce) {
  foundation::ScopedManualClock clock;
  KXUNISDKCommRunLoop comm;
  int a = 0;
  std::vector<std::thread> threads;
  for (int i = 0; i < 8; ++i) threads.emplace_back([&] { comm.run(&a); });
  for (auto& t : threads) t.join();
  EXPECT_EQ(comm.requestCounter(), 1);
  comm.stop(&a);
  EXPECT_EQ(comm.requestCounter(), 0);
  clock->advance(KXUNISDKCommRunLoop::kStopDelay + 1ms);
  EXPECT_TRUE(comm.waitUntilStopped(2000ms));
}

TEST(CommRunLoopTest, HandlerExceptionDoesNotEndTheThread) {
  KXUNISDKCommRunLoop comm;
  int a = 0;
  comm.run(&a);
  const auto id = comm.threadId();
  std::promise<void> threw;
  comm.runLoop()->perform([&] {
    threw.set_value();
    throw std::runtime_error("handler failed");
  });
  ASSERT_EQ(threw.get_future().wait_for(2s), std::future_status::ready);
  std::promise<std::thread::id> later;
  comm.runLoop()->perform([&] { later.set_value(std::this_thread::get_id()); });
  auto f = later.get_future();
  ASSERT_EQ(f.wait_for(2s), std::future_status::ready);
  EXPECT_EQ(f.get(), id);
  EXPECT_TRUE(comm.threadActive());
  comm.stop(&a);
}

TEST(CommRunLoopTest, LoopOutlivesItsThreadAndServesTheNextOne) {
  foundation::ScopedManualClock clock;
  KXUNISDKCommRunLoop comm;
  int a = 0;
  comm.run(&a);
  foundation::RunLoop* loop = comm.runLoop();
  ASSERT_NE(loop, nullptr);
  auto [host, device] = accessory::makeSocketStreamPairs();
  ASSERT_TRUE(host.input);
  host.input->schedule(*loop);
  host.input->open();

  // A client that leaves before it takes its stream off the loop.
  comm.stop(&a);
  clock->advance(KXUNISDKCommRunLoop::kStopDelay + 1ms);
  ASSERT_TRUE(comm.waitUntilStopped(2000ms));
  host.input->remove(*loop);  // the loop is idle, not gone
  host.input->close();
  std::promise<std::thread::id> early;
  loop->perform([&] { early.set_value(std::this_thread::get_id()); });

  // The next thread runs the same loop, and with it what was left waiting there.
  comm.run(&a);
  EXPECT_EQ(comm.runLoop(), loop);
  auto f = early.get_future();
  ASSERT_EQ(f.wait_for(2s), std::future_status::ready);
  EXPECT_EQ(f.get(), comm.threadId());
  comm.stop(&a);
}

}  // namespace
}  // namespace kestra
