#include "platform/ui/Window.h"

#include <gtest/gtest.h>

#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Application.h"
#include "platform/ui/Gesture.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/PickerView.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/Stepper.h"

namespace ui {
namespace {

class WindowTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_shared<Window>();
    root = std::make_shared<ViewController>("Root");
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    AnimationLog::shared().clear();
  }
  void TearDown() override { Application::shared().reset(); }
  std::shared_ptr<Window> window;
  std::shared_ptr<ViewController> root;
};

TEST_F(WindowTest, OverlaysStayAboveScreensPresentedLater) {
  auto overlay = makeView<View>({0, 0, 320, 568});
  overlay->setBackgroundColor(Color::black().withAlpha(0.5));
  window->addSubview(overlay);
  auto modal = std::make_shared<ViewController>("Modal");
  root->presentViewController(modal, false);
  EXPECT_EQ(window->hitTest({100, 100}), overlay.get());
  overlay->removeFromSuperview();
  EXPECT_TRUE(modal->view().isDescendantOf(window.get()));
  EXPECT_EQ(window->hitTest({100, 100}), &modal->view());
  // The covered root screen is neither hit nor visible.
  EXPECT_TRUE(window->isCovered(&root->view()));
  EXPECT_FALSE(root->view().isVisibleOnScreen());
}

TEST_F(WindowTest, ApplicationHooksReportUrlsAndExitStatus) {
  auto& app = Application::shared();
  std::vector<std::string> opened;
  std::optional<int> exited;
  app.setOpenUrlHook([&](const std::string& url) {
    opened.push_back(url);
    return true;
  });
  app.setExitHook([&](int status) { exited = status; });
  EXPECT_TRUE(app.openURL("tel:5551234"));
  EXPECT_TRUE(app.canOpenURL("mailto:a@b.c"));
  EXPECT_FALSE(app.canOpenURL("nonsense"));
  app.exit(0);
  EXPECT_EQ(opened, (std::vector<std::string>{"tel:5551234"}));
  EXPECT_EQ(app.openedURLs(), opened);
  EXPECT_EQ(exited, 0);
  EXPECT_EQ(app.exitStatus(), 0);
  app.setIdleTimerDisabled(true);
  EXPECT_TRUE(app.isIdleTimerDisabled());
}

TEST_F(WindowTest, IdleTimerHookHearsEachChangeOfTheFlag) {
  auto& app = Application::shared();
  std::vector<bool> heard;
  app.setIdleTimerDisabled(true);
  app.setIdleTimerHook([&](bool disabled) { heard.push_back(disabled); });
  app.setIdleTimerDisabled(true);  // no change, nothing to tell
  app.setIdleTimerDisabled(false);
  app.setIdleTimerDisabled(true);
  EXPECT_EQ(heard, (std::vector<bool>{true, false, true}));
  app.reset();
  EXPECT_FALSE(app.isIdleTimerDisabled());
  app.setIdleTimerDisabled(true);  // the hook went with the reset
  EXPECT_EQ(heard.size(), 3u);
}

TEST_F(WindowTest, StatusBarTextReadsOnWhatIsBehindIt) {
  struct Case {
    const char* name;
    std::optional<Color> barTint;  // nullopt: no navigation controller
    Color screenBackground;
    StatusBarStyle appStyle;
    Color backdrop;
    StatusBarStyle shown;
  };
  const Color light = Color::white(0.97), mid = Color::white(0.5);
  const Case cases[] = {
      {"black bar, light text asked", Color::black(), Color::whiteColor(), StatusBarStyle::LightContent, Color::black(),
       StatusBarStyle::LightContent},
      {"black bar, dark text asked", Color::black(), Color::whiteColor(), StatusBarStyle::Default, Color::black(),
       StatusBarStyle::LightContent},
      {"default bar, light text asked", light, Color::whiteColor(), StatusBarStyle::LightContent, light,
       StatusBarStyle::Default},
      {"white screen without a bar", std::nullopt, Color::whiteColor(), StatusBarStyle::LightContent,
       Color::whiteColor(), StatusBarStyle::Default},
      {"dark screen without a bar", std::nullopt, Color::rgb(0, 0, 0.3), StatusBarStyle::Default,
       Color::rgb(0, 0, 0.3), StatusBarStyle::LightContent},
      {"mid grey keeps the asked style", mid, Color::whiteColor(), StatusBarStyle::LightContent, mid,
       StatusBarStyle::LightContent},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    Application::shared().setStatusBarStyle(c.appStyle);
    auto screen = std::make_shared<ViewController>("Screen");
    screen->view().setBackgroundColor(c.screenBackground);
    if (c.barTint) {
      auto nav = std::make_shared<NavigationController>(screen);
      nav->navigationBar().setBarTintColor(*c.barTint);
      window->setRootViewController(nav);
    } else {
      window->setRootViewController(screen);
    }
    window->layoutIfNeeded();
    EXPECT_EQ(window->statusBarBackdrop(), c.backdrop);
    EXPECT_EQ(window->effectiveStatusBarStyle(), c.shown);
  }

  // A full-screen modal decides while it covers the screen; an overlay above both decides
  // while it reaches the top.
  auto nav = std::make_shared<NavigationController>(std::make_shared<ViewController>("Orders"));
  nav->navigationBar().setBarTintColor(Color::black());
  window->setRootViewController(nav);
  auto modal = std::make_shared<ViewController>("Modal");
  modal->view().setBackgroundColor(Color::whiteColor());
  nav->presentViewController(modal, false);
  EXPECT_EQ(window->effectiveStatusBarStyle(), StatusBarStyle::Default);
  auto overlay = makeView<View>({0, 0, 320, 100});
  overlay->setBackgroundColor(Color::black());
  window->addSubview(overlay);
  EXPECT_EQ(window->effectiveStatusBarStyle(), StatusBarStyle::LightContent);
  overlay->removeFromSuperview();
  modal->dismissViewControllerAnimated(false);
  window->layoutIfNeeded();
  EXPECT_EQ(window->effectiveStatusBarStyle(), StatusBarStyle::LightContent);
}

TEST_F(WindowTest, LaunchCallsTheDelegateAndShakeFallsToIt) {
  class Delegate : public ApplicationDelegate {
   public:
    bool didFinishLaunchingWithOptions(Application&, const nlohmann::json&) override { return ++launches > 0; }
    void applicationDidEnterBackground(Application&) override { ++background; }
    void motionEnded(Application&) override { ++shakes; }
    int launches = 0, background = 0, shakes = 0;
  };
  auto d = std::make_shared<Delegate>();
  EXPECT_TRUE(Application::shared().launch(d));
  EXPECT_EQ(d->launches, 1);
  Application::shared().enterBackground();
  EXPECT_EQ(d->background, 1);
  window->shake();  // no first responder
  EXPECT_EQ(d->shakes, 1);
  Device::current().setName("Counter 3");
  Device::current().setSystemVersion("9.3");
  EXPECT_EQ(Device::current().name(), "Counter 3");
  EXPECT_EQ(Device::current().systemVersion(), "9.3");
  EXPECT_EQ(Device::current().identifierForVendor(), Device::current().identifierForVendor());
  EXPECT_EQ(Device::current().identifierForVendor().size(), 36u);
}

TEST_F(WindowTest, TheApplicationPostsItsLifeAfterTellingTheDelegate) {
  std::vector<std::string> seen;
  class Delegate : public ApplicationDelegate {
   public:
    explicit Delegate(std::vector<std::string>& seen) : seen_(seen) {}
    bool didFinishLaunchingWithOptions(Application&, const nlohmann::json&) override { return log("launch"); }
    void applicationWillResignActive(Application&) override { log("resign"); }
    void applicationDidEnterBackground(Application&) override { log("background"); }
    void applicationWillEnterForeground(Application&) override { log("foreground"); }
    void applicationDidBecomeActive(Application&) override { log("active"); }
    void applicationWillTerminate(Application&) override { log("terminate"); }
    bool log(const char* what) {
      seen_.push_back(what);
      return true;
    }
    std::vector<std::string>& seen_;
  };
  int token = 0;
  auto& center = foundation::NotificationCenter::defaultCenter();
  for (const char* name : {kApplicationDidFinishLaunchingNotification, kApplicationDidBecomeActiveNotification,
                           kApplicationWillResignActiveNotification, kApplicationDidEnterBackgroundNotification,
                           kApplicationWillEnterForegroundNotification, kApplicationWillTerminateNotification})
    center.addObserver(&token, name, nullptr, [&seen](const foundation::Notification& n) { seen.push_back(n.name); });
  auto& app = Application::shared();
  app.launch(std::make_shared<Delegate>(seen));
  EXPECT_EQ(app.applicationState(), ApplicationState::Active);
  app.becomeActive();    // already active: nothing
  app.resignActive();    // another window took the focus
  app.becomeActive();
  app.enterBackground();  // minimised: resigns first
  app.enterBackground();
  app.enterForeground();
  app.terminate();
  app.terminate();
  center.removeObserver(&token);
  EXPECT_EQ(seen, (std::vector<std::string>{
                      "launch", "UIApplicationDidFinishLaunchingNotification",
                      "active", "UIApplicationDidBecomeActiveNotification",
                      "resign", "UIApplicationWillResignActiveNotification",
                      "active", "UIApplicationDidBecomeActiveNotification",
                      "resign", "UIApplicationWillResignActiveNotification",
                      "background", "UIApplicationDidEnterBackgroundNotification",
                      "foreground", "UIApplicationWillEnterForegroundNotification",
                      "active", "UIApplicationDidBecomeActiveNotification",
                      "terminate", "UIApplicationWillTerminateNotification"}));
}

TEST_F(WindowTest, SwipesAndPinchesAreRecognized) {
  auto box = makeView<View>({0, 100, 320, 200});
  root->view().addSubview(box);
  std::vector<std::string> seen;
  auto left = std::make_shared<SwipeGestureRecognizer>([&](GestureRecognizer&) { seen.push_back("left"); });
  left->setDirection(SwipeLeft);
  auto right = std::make_shared<SwipeGestureRecognizer>([&](GestureRecognizer&) { seen.push_back("right"); });
  auto pinch = std::make_shared<PinchGestureRecognizer>([&](GestureRecognizer& g) {
    if (g.state() == GestureState::Ended) seen.push_back("pinch " + std::to_string(static_cast<PinchGestureRecognizer&>(g).scale()).substr(0, 3));
  });
  box->addGestureRecognizer(left);
  box->addGestureRecognizer(right);
  box->addGestureRecognizer(pinch);
  window->drag({250, 200}, {100, 205});
  window->drag({100, 200}, {250, 195});
  window->drag({100, 200}, {120, 200});  // too short
  window->drag({100, 120}, {110, 280});  // vertical
  pinch->pinch(2.0);
  EXPECT_EQ(seen, (std::vector<std::string>{"left", "right", "pinch 2.0"}));
}

TEST_F(WindowTest, AnimationsApplyTheirFinalStateAndAreRecorded) {
  auto v = makeView<View>({0, 0, 10, 10});
  bool done = false;
  View::animate(0.3, [&] { v->setAlpha(0); }, [&](bool finished) { done = finished; });
  EXPECT_EQ(v->alpha(), 0);
  EXPECT_TRUE(done);
  auto nav = std::make_shared<NavigationController>(std::make_shared<ViewController>("A"));
  window->setRootViewController(nav);
  nav->pushViewController(std::make_shared<ViewController>("B"), true);
  const auto& r = AnimationLog::shared().records();
  ASSERT_EQ(r.size(), 2u);
  EXPECT_EQ(r[0].kind, "animate");
  EXPECT_EQ(r[0].duration, 0.3);
  EXPECT_EQ(r[1].kind, "push");
  EXPECT_EQ(r[1].subject, "B");
}

TEST_F(WindowTest, ScrollViewDragsWithinContentAndSnapsToPages) {
  class Watcher : public ScrollViewDelegate {
   public:
    void scrollViewDidScroll(ScrollView&) override { ++scrolls; }
    void scrollViewDidEndDecelerating(ScrollView& s) override { ended = s.contentOffset(); }
    int scrolls = 0;
    Point ended{-1, -1};
  };
  auto watcher = std::make_shared<Watcher>();
  auto pages = makeView<ScrollView>({0, 100, 320, 200});
  pages->setContentSize({960, 200});
  pages->setPagingEnabled(true);
  pages->setDelegate(watcher);
  root->view().addSubview(pages);
  window->drag({300, 200}, {100, 200});
  EXPECT_EQ(pages->contentOffset(), (Point{320, 0}));
  EXPECT_EQ(watcher->ended, (Point{320, 0}));
  EXPECT_GT(watcher->scrolls, 0);
  window->drag({300, 200}, {0, 200});
  window->drag({300, 200}, {0, 200});
  EXPECT_EQ(pages->contentOffset(), (Point{640, 0}));  // not past the last page
}

TEST_F(WindowTest, StepperCallsEveryTargetInOrderWithinItsLimits) {
  auto stepper = makeView<Stepper>({10, 100, Stepper::kWidth, Stepper::kHeight});
  stepper->setMaximumValue(2);
  root->view().addSubview(stepper);
  std::vector<std::string> calls;
  stepper->addTarget(this, [&](Control& c) { calls.push_back("cell " + std::to_string(int(static_cast<Stepper&>(c).value()))); }, ValueChanged);
  stepper->addTarget(this, [&](Control& c) { calls.push_back("grid " + std::to_string(int(static_cast<Stepper&>(c).value()))); }, ValueChanged);
  for (int i = 0; i < 3; ++i) window->tap({90, 110});  // plus half
  window->tap({20, 110});                               // minus half
  EXPECT_EQ(calls, (std::vector<std::string>{"cell 1", "grid 1", "cell 2", "grid 2", "cell 1", "grid 1"}));
}

TEST_F(WindowTest, PickerTellsTheDelegateOnlyAboutUserChoices) {
  class Months : public PickerViewDataSource, public PickerViewDelegate {
   public:
    int numberOfComponentsInPickerView(PickerView&) override { return 1; }
    int numberOfRowsInComponent(PickerView&, int) override { return 12; }
    std::string titleForRow(PickerView&, int row, int) override { return std::to_string(row + 1); }
    void didSelectRow(PickerView&, int row, int) override { chosen.push_back(row); }
    std::vector<int> chosen;
  };
  auto months = std::make_shared<Months>();
  auto picker = makeView<PickerView>({0, 300, 320, PickerView::kHeight});
  picker->setDataSource(months);
  picker->setDelegate(months);
  root->view().addSubview(picker);
  picker->selectRow(5, 0, false);
  EXPECT_EQ(picker->selectedRowInComponent(0), 5);
  EXPECT_TRUE(months->chosen.empty());
  // A tap one row below the selection chooses the next row.
  window->tap({160, 300 + PickerView::kHeight / 2 + PickerView::kRowHeight});
  EXPECT_EQ(months->chosen, (std::vector<int>{6}));
  picker->selectRow(40, 0, false);
  EXPECT_EQ(picker->selectedRowInComponent(0), 11);
}

}  // namespace
}  // namespace ui
