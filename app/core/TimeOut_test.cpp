// The inactivity time-out of the application delegate, under the manual clock.
#include <gtest/gtest.h>

#include "testing/app/AppTestSupport.h"
#include "app/core/UserDefaultsKeys.h"
#include "platform/ui/harness/Harness.h"

namespace orvo {
namespace {

using namespace std::chrono_literals;

class TimeOutTest : public ::testing::Test {
 protected:
  void SetUp() override { app.launch(); }
  void advance(foundation::Duration d) {
    clock->advance(d);
    app.drain();
  }
  const test_support::ShownAlert* warning() {
    shown = app.alerts();
    for (const auto& a : shown)
      if (a.tag == kTimeOutAlertTag) return &a;
    return nullptr;
  }
  foundation::ScopedManualClock clock;
  test_support::AppHarness app;
  std::vector<test_support::ShownAlert> shown;
};

TEST_F(TimeOutTest, WarnsAfterTheStoredMinutesAndCountsDownToExit) {
  app.fresh.defaults().setString(defaults::timeOut, "5");
  app.delegate->timeOutInit();
  advance(299s);
  EXPECT_EQ(warning(), nullptr);
  advance(1s);
  const auto* w = warning();
  ASSERT_NE(w, nullptr);
  EXPECT_EQ(w->title, "Orvo Mobile");
  EXPECT_EQ(w->message, "Orvo Mobile will be shut down.\n If you want to cancel it\n Please press 'NO'.");
  EXPECT_EQ(w->buttons, (std::vector<std::string>{"Yes", "No"}));

  auto* label = app.delegate->timerLabel();
  for (int shownDigit = 9; shownDigit >= 1; --shownDigit) {
    advance(1s);
    EXPECT_EQ(label->text(), std::to_string(shownDigit));
    EXPECT_EQ(label->superview(), app.delegate->window.get());
    EXPECT_TRUE(app.exitStatuses.empty());
  }
  advance(1s);
  EXPECT_EQ(label->text(), "0");
  EXPECT_EQ(app.exitStatuses, std::vector<int>{0});
  advance(5s);
  EXPECT_EQ(app.exitStatuses.size(), 1u);  // the countdown ended with the exit
}

TEST_F(TimeOutTest, NoHidesTheDigitsAndRearmsYesExitsAtOnce) {
  app.fresh.defaults().setString(defaults::timeOut, "1");
  app.delegate->timeOutInit();
  advance(60s);
  ASSERT_NE(warning(), nullptr);
  for (int i = 0; i < 3; ++i) advance(1s);
  EXPECT_EQ(app.delegate->timerLabel()->text(), "7");

  ASSERT_TRUE(ui::harness::Harness(app.delegate->window.get()).pressAlertButton("No"));
  EXPECT_EQ(app.delegate->timerLabel()->superview(), nullptr);
  EXPECT_TRUE(app.delegate->isTimeOutArmed());
  advance(59s);
  EXPECT_EQ(warning(), nullptr);
  EXPECT_TRUE(app.exitStatuses.empty());
  advance(1s);
  ASSERT_NE(warning(), nullptr);
  advance(1s);
  EXPECT_EQ(app.delegate->timerLabel()->text(), "9");  // a full new countdown

  ASSERT_TRUE(ui::harness::Harness(app.delegate->window.get()).pressAlertButton("Yes"));
  EXPECT_EQ(app.exitStatuses, std::vector<int>{0});
  advance(20s);
  EXPECT_EQ(app.exitStatuses.size(), 1u);
}

// The warning can be answered while a request keeps the activity viewer's touch-blocking
// overlay over the window: its buttons are above it, and "No" cancels the shut-down.
TEST_F(TimeOutTest, WarningIsAnswerableAboveTheActivityViewer) {
  app.fresh.defaults().setString(defaults::timeOut, "1");
  app.delegate->timeOutInit();
  app.delegate->showActivityViewer("GetPrevOrderList");
  advance(60s);
  ASSERT_NE(warning(), nullptr);
  advance(1s);
  ui::harness::Harness h(app.delegate->window.get());
  ASSERT_TRUE(h.pressAlertButton("No"));
  EXPECT_EQ(warning(), nullptr);
  EXPECT_EQ(app.delegate->timerLabel()->superview(), nullptr);
  advance(30s);
  EXPECT_TRUE(app.exitStatuses.empty());
  EXPECT_TRUE(app.delegate->isActivityViewerShown());  // the request's viewer is not the warning's to take
}

TEST_F(TimeOutTest, UnusableValueArmsNothing) {
  struct Case {
    const char* name;
    std::optional<std::string> value;
  };
  const std::vector<Case> cases = {{"absent", std::nullopt}, {"empty", ""}, {"not a number", "abc"},
                                   {"zero", "0.0"},          {"negative", "-3"}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    if (c.value)
      app.fresh.defaults().setString(defaults::timeOut, *c.value);
    else
      app.fresh.defaults().removeObjectForKey(defaults::timeOut);
    app.delegate->timeOutInit();
    EXPECT_FALSE(app.delegate->isTimeOutArmed());
    advance(24h);
    EXPECT_EQ(warning(), nullptr);
    EXPECT_TRUE(app.exitStatuses.empty());
  }
}

TEST_F(TimeOutTest, TimeOutEndAndInitFlagDisarm) {
  app.fresh.defaults().setString(defaults::timeOut, "2");
  app.delegate->timeOutStart();
  advance(60s);
  app.delegate->timeOutInit();  // re-arms from now
  advance(119s);
  EXPECT_EQ(warning(), nullptr);
  app.delegate->initFlag();
  EXPECT_FALSE(app.delegate->isTimeOutArmed());
  advance(1h);
  EXPECT_EQ(warning(), nullptr);
}

}  // namespace
}  // namespace orvo
