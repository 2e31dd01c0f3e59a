#include "platform/ui/AlertView.h"

#include <gtest/gtest.h>

#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace ui {
namespace {

struct Click {
  int tag;
  int index;
  bool operator==(const Click&) const = default;
};

class Recorder : public AlertViewDelegate {
 public:
  void clickedButtonAtIndex(AlertView& a, int i) override { clicks.push_back({a.tag(), i}); }
  void didDismissWithButtonIndex(AlertView& a, int) override { dismissedVisible = a.isVisible(); }
  std::vector<Click> clicks;
  bool dismissedVisible = true;
};

class AlertViewTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_shared<Window>();
    window->setRootViewController(std::make_shared<ViewController>());
    window->makeKeyAndVisible();
  }
  void TearDown() override {
    for (auto& a : AlertView::visibleAlerts()) a->dismissWithClickedButtonIndex(0, false);
  }
  // Taps the alert's button titled `title` through the window, as a finger would.
  void tapButton(AlertView& alert, const std::string& title) {
    window->layoutIfNeeded();
    for (auto& b : alert.buttons())
      if (b->currentTitle() == title) return window->tap(b->convertToWindow(b->bounds().center()));
    FAIL() << "no button " << title;
  }
  std::shared_ptr<Window> window;
};

TEST_F(AlertViewTest, RoutesTagAndButtonIndexToTheDelegate) {
  struct Case {
    const char* name;
    std::string cancel;
    std::vector<std::string> others;
    const char* press;
    int expectedIndex;
  };
  const Case cases[] = {
      {"cancel is index 0", "Yes", {"No"}, "Yes", 0},
      {"first other follows the cancel", "Yes", {"No"}, "No", 1},
      {"one button", "Ok", {}, "Ok", 0},
      {"without a cancel button others start at 0", "", {"A", "B", "C"}, "C", 2},
      {"stacked cancel keeps index 0", "Cancel", {"A", "B"}, "Cancel", 0},
      {"stacked others follow", "Cancel", {"A", "B"}, "B", 2},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto delegate = std::make_shared<Recorder>();
    auto alert = std::make_shared<AlertView>("Orvo Mobile", "Message", delegate, c.cancel, c.others);
    alert->setTag(80);
    alert->show();
    EXPECT_TRUE(alert->isVisible());
    tapButton(*alert, c.press);
    EXPECT_EQ(delegate->clicks, (std::vector<Click>{{80, c.expectedIndex}}));
    EXPECT_FALSE(alert->isVisible());
    EXPECT_FALSE(delegate->dismissedVisible);
  }
}

TEST_F(AlertViewTest, StackedAlertShowsTheCancelButtonLast) {
  auto alert = std::make_shared<AlertView>("T", "", std::weak_ptr<AlertViewDelegate>(), "Cancel",
                                           std::vector<std::string>{"A", "B"});
  EXPECT_EQ(alert->buttonTitles(), (std::vector<std::string>{"A", "B", "Cancel"}));
  EXPECT_EQ(alert->buttonTitleAtIndex(0), "Cancel");
  EXPECT_EQ(alert->firstOtherButtonIndex(), 1);
}

TEST_F(AlertViewTest, AlertWithoutDelegateStillShowsAndGoes) {
  auto alert = std::make_shared<AlertView>("Title", "Message", std::weak_ptr<AlertViewDelegate>(), "Ok",
                                           std::vector<std::string>{});
  alert->show();
  EXPECT_EQ(AlertView::visibleAlerts().size(), 1u);
  tapButton(*alert, "Ok");
  EXPECT_TRUE(AlertView::visibleAlerts().empty());
}

TEST_F(AlertViewTest, AlertsQueueAndTheOldestReappears) {
  auto d = std::make_shared<Recorder>();
  auto first = std::make_shared<AlertView>("First", "", d, "Ok", std::vector<std::string>{});
  auto second = std::make_shared<AlertView>("Second", "", d, "Ok", std::vector<std::string>{});
  first->setTag(1);
  second->setTag(2);
  first->show();
  second->show();
  EXPECT_TRUE(first->isHidden());
  EXPECT_FALSE(second->isHidden());
  tapButton(*second, "Ok");
  EXPECT_FALSE(first->isHidden());
  tapButton(*first, "Ok");
  EXPECT_EQ(d->clicks, (std::vector<Click>{{2, 0}, {1, 0}}));
}

TEST_F(AlertViewTest, AlertTakesEveryTouchWhileShown) {
  auto vc = window->rootViewController();
  auto button = Button::make("Behind", {10, 100, 100, 40});
  int taps = 0;
  button->addTarget(this, [&](Control&) { ++taps; }, TouchUpInside);
  vc->view().addSubview(button);
  auto alert = std::make_shared<AlertView>("Title", "", std::weak_ptr<AlertViewDelegate>(), "Ok", std::vector<std::string>{});
  alert->show();
  window->tap({60, 120});
  EXPECT_EQ(taps, 0);
  tapButton(*alert, "Ok");
  window->tap({60, 120});
  EXPECT_EQ(taps, 1);
}

TEST_F(AlertViewTest, PlainTextInputStyleHasAFieldThatTakesTyping) {
  auto alert = std::make_shared<AlertView>("Enter", "", std::weak_ptr<AlertViewDelegate>(), "Cancel",
                                           std::vector<std::string>{"Ok"});
  alert->setAlertViewStyle(AlertViewStyle::PlainTextInput);
  ASSERT_NE(alert->textFieldAtIndex(0), nullptr);
  EXPECT_EQ(alert->textFieldAtIndex(1), nullptr);
  alert->show();
  window->insertText("42");
  EXPECT_EQ(alert->textFieldAtIndex(0)->text(), "42");
}

}  // namespace
}  // namespace ui
