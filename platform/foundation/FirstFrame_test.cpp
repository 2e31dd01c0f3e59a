#include "platform/foundation/FirstFrame.h"

#include <gtest/gtest.h>

#include <chrono>
#include <string>

#include "platform/foundation/RunLoop.h"

using namespace foundation;

namespace {

bool runMainUntil(const std::function<bool()>& condition) {
  return RunLoop::main().runUntil(condition, std::chrono::seconds(30));
}

TEST(FirstFrame, WithoutAHoldWorkRunsAtOnceOnTheCallersThread) {
  ASSERT_FALSE(FirstFrame::held());
  bool ran = false;
  FirstFrame::runAfter([&] { ran = true; });
  EXPECT_TRUE(ran);
}

TEST(FirstFrame, HeldWorkRunsOnTheMainQueueInOrderOnceTheFrameIsPainted) {
  RunLoop::main();
  FirstFrame::hold();
  FirstFrame::hold();  // a second hold (program and host) is the same hold
  std::string order;
  FirstFrame::runAfter([&] { order += "a"; });
  FirstFrame::runAfter([&] { order += "b"; });
  RunLoop::main().runOnce(std::chrono::milliseconds(0));
  EXPECT_EQ(order, "");
  EXPECT_TRUE(FirstFrame::held());

  FirstFrame::painted();
  EXPECT_FALSE(FirstFrame::held());
  EXPECT_EQ(order, "") << "held work runs from the main queue, not inside painted()";
  ASSERT_TRUE(runMainUntil([&] { return order.size() == 2; }));
  EXPECT_EQ(order, "ab");

  // After the first frame, work runs at once again; a second painted() runs nothing twice.
  FirstFrame::runAfter([&] { order += "c"; });
  FirstFrame::painted();
  EXPECT_EQ(order, "abc");
}

}  // namespace
