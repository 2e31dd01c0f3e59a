#include "platform/ui/ViewController.h"

#include <gtest/gtest.h>

#include "platform/ui/AlertController.h"
#include "platform/ui/Animation.h"
#include "platform/ui/Application.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/TextField.h"
#include "platform/ui/Window.h"

namespace ui {
namespace {
namespace view_controller_test {

using Log = std::vector<std::string>;

// A screen that writes its life-cycle calls into a shared log.
class Recorder : public ViewController {
 public:
  Recorder(std::string name, Log* log) : ViewController(name), log_(log) {}
  void viewDidLoad() override { log_->push_back(nibName() + ".viewDidLoad"); }
  void viewWillAppear(bool) override { log_->push_back(nibName() + ".viewWillAppear"); }
  void viewDidAppear(bool) override { log_->push_back(nibName() + ".viewDidAppear"); }
  void viewWillDisappear(bool) override { log_->push_back(nibName() + ".viewWillDisappear"); }
  void viewDidDisappear(bool) override { log_->push_back(nibName() + ".viewDidDisappear"); }

 private:
  Log* log_;
};

class ScreenStackTest : public ::testing::Test {
 protected:
  std::shared_ptr<Recorder> make(const std::string& name) { return std::make_shared<Recorder>(name, &log); }
  // A window showing `root`, with the launch calls cleared from the log.
  void show(std::shared_ptr<ViewController> root) {
    window = std::make_shared<Window>();
    window->setRootViewController(root);
    window->makeKeyAndVisible();
    log.clear();
  }
  Log log;
  std::shared_ptr<Window> window;
};

TEST_F(ScreenStackTest, LaunchLoadsThenAppearsTheRootScreen) {
  auto a = make("A");
  window = std::make_shared<Window>();
  window->setRootViewController(std::make_shared<NavigationController>(a));
  window->makeKeyAndVisible();
  EXPECT_EQ(log, (Log{"A.viewDidLoad", "A.viewWillAppear", "A.viewDidAppear"}));
}

TEST_F(ScreenStackTest, PushAndPopCallBothScreensInPlatformOrder) {
  auto a = make("A");
  auto nav = std::make_shared<NavigationController>(a);
  show(nav);
  auto b = make("B");
  nav->pushViewController(b, true);
  EXPECT_EQ(log, (Log{"B.viewDidLoad", "A.viewWillDisappear", "B.viewWillAppear", "A.viewDidDisappear",
                      "B.viewDidAppear"}));
  EXPECT_EQ(b->navigationController(), nav.get());
  EXPECT_EQ(window->topViewController(), b.get());

  log.clear();
  auto popped = nav->popViewControllerAnimated(true);
  EXPECT_EQ(popped, b);
  EXPECT_EQ(log, (Log{"B.viewWillDisappear", "A.viewWillAppear", "B.viewDidDisappear", "A.viewDidAppear"}));
  EXPECT_EQ(b->navigationController(), nullptr);
  // At the root, pop does nothing.
  log.clear();
  EXPECT_EQ(nav->popViewControllerAnimated(true), nullptr);
  EXPECT_TRUE(log.empty());
}

TEST_F(ScreenStackTest, PopToRootCallsOnlyTheTopAndTheRoot) {
  auto a = make("A"), b = make("B"), c = make("C");
  auto nav = std::make_shared<NavigationController>(a);
  show(nav);
  nav->pushViewController(b, false);
  nav->pushViewController(c, false);
  log.clear();
  auto popped = nav->popToRootViewControllerAnimated(false);
  ASSERT_EQ(popped.size(), 2u);
  EXPECT_EQ(log, (Log{"C.viewWillDisappear", "A.viewWillAppear", "C.viewDidDisappear", "A.viewDidAppear"}));
  EXPECT_EQ(nav->viewControllers().size(), 1u);
}

TEST_F(ScreenStackTest, PresentAndDismissCallTheCoveredScreenAndRunCompletions) {
  auto a = make("A");
  auto nav = std::make_shared<NavigationController>(a);
  show(nav);
  auto c = make("C");
  bool presented = false;
  EXPECT_TRUE(a->presentViewController(c, true, [&] {
    log.push_back("presented");
    presented = true;
  }));
  EXPECT_TRUE(presented);
  EXPECT_EQ(log, (Log{"C.viewDidLoad", "A.viewWillDisappear", "C.viewWillAppear", "A.viewDidDisappear",
                      "C.viewDidAppear", "presented"}));
  // The container presents on behalf of its child.
  EXPECT_EQ(c->presentingViewController(), nav.get());
  EXPECT_EQ(window->topViewController(), c.get());

  log.clear();
  c->dismissViewControllerAnimated(true, [&] { log.push_back("dismissed"); });
  EXPECT_EQ(log, (Log{"C.viewWillDisappear", "A.viewWillAppear", "C.viewDidDisappear", "A.viewDidAppear",
                      "dismissed"}));
  EXPECT_EQ(nav->presentedViewController(), nullptr);
  EXPECT_EQ(window->topViewController(), a.get());
}

TEST_F(ScreenStackTest, DismissingAModalNavigationStackUncoversTheRootScreen) {
  // A login-like root screen without a container presents settings inside their own
  // navigation controller; the settings screen dismisses itself.
  auto root = make("Root");
  show(root);
  auto settings = make("Settings");
  auto modalNav = std::make_shared<NavigationController>(settings);
  ASSERT_TRUE(root->presentViewController(modalNav, true));
  EXPECT_EQ(log, (Log{"Settings.viewDidLoad", "Root.viewWillDisappear", "Settings.viewWillAppear",
                      "Root.viewDidDisappear", "Settings.viewDidAppear"}));
  log.clear();
  settings->dismissViewControllerAnimated(true);
  EXPECT_EQ(log, (Log{"Settings.viewWillDisappear", "Root.viewWillAppear", "Settings.viewDidDisappear",
                      "Root.viewDidAppear"}));
  EXPECT_TRUE(root->isVisible());
}

TEST_F(ScreenStackTest, DismissFromTheBottomTakesDownAWholePresentedChain) {
  auto root = make("Root");
  show(root);
  auto first = make("First"), second = make("Second");
  root->presentViewController(first, false);
  first->presentViewController(second, false);
  log.clear();
  root->dismissViewControllerAnimated(false);
  EXPECT_EQ(log, (Log{"Second.viewWillDisappear", "Root.viewWillAppear", "Second.viewDidDisappear",
                      "Root.viewDidAppear"}));
  EXPECT_EQ(root->presentedViewController(), nullptr);
  EXPECT_EQ(first->presentedViewController(), nullptr);
  EXPECT_EQ(window->screenViews().size(), 1u);
}

TEST_F(ScreenStackTest, ASecondPresentationWhilePresentingIsRefused) {
  auto root = make("Root");
  show(root);
  ASSERT_TRUE(root->presentViewController(make("One"), false));
  bool ran = false;
  EXPECT_FALSE(root->presentViewController(make("Two"), false, [&] { ran = true; }));
  EXPECT_FALSE(ran);
  // A screen that is not on screen cannot present either.
  auto offscreen = make("Off");
  EXPECT_FALSE(offscreen->presentViewController(make("Three"), false));
}

TEST_F(ScreenStackTest, AlertControllerLeavesTheScreenBeneathAppearing) {
  auto root = make("Root");
  show(root);
  auto alert = AlertController::make("Title", "Message");
  std::string pressed;
  alert->addAction(AlertAction::make("OK", AlertActionStyle::Default, [&](AlertAction& a) {
    // The alert is gone by the time the handler runs.
    EXPECT_EQ(root->presentedViewController(), nullptr);
    pressed = a.title();
  }));
  ASSERT_TRUE(root->presentViewController(alert, true));
  EXPECT_TRUE(log.empty());
  EXPECT_TRUE(alert->pressAction("OK"));
  EXPECT_EQ(pressed, "OK");
  EXPECT_TRUE(log.empty());
  // A second press of a gone alert does nothing.
  EXPECT_FALSE(alert->pressAction("OK"));
}

TEST_F(ScreenStackTest, RegistryMakesScreensByInterfaceName) {
  ViewControllerRegistry::shared().add("TestScreenForRegistry", [this] { return make("TestScreenForRegistry"); });
  auto vc = viewControllerFromInterface<Recorder>("TestScreenForRegistry");
  ASSERT_NE(vc, nullptr);
  EXPECT_EQ(vc->nibName(), "TestScreenForRegistry");
  EXPECT_EQ(ViewControllerRegistry::shared().make("NoSuchInterface"), nullptr);
}

TEST_F(ScreenStackTest, NavigationBarShowsTitleBackButtonAndItems) {
  auto a = make("A"), b = make("B");
  a->setTitle("Orders");
  b->setTitle("Detail");
  auto nav = std::make_shared<NavigationController>(a);
  show(nav);
  nav->pushViewController(b, false);
  int saved = 0;
  b->navigationItem().setRightBarButtonItem(
      BarButtonItem::withTitle("Save", BarButtonItemStyle::Plain, [&](BarButtonItem&) { ++saved; }));
  window->layoutIfNeeded();
  std::vector<std::string> titles;
  for (auto& v : nav->navigationBar().subviews())
    for (auto& t : v->texts()) titles.push_back(t);
  EXPECT_NE(std::find(titles.begin(), titles.end(), "Detail"), titles.end());
  EXPECT_NE(std::find(titles.begin(), titles.end(), "Save"), titles.end());
  EXPECT_NE(std::find(titles.begin(), titles.end(), "\u2039 Orders"), titles.end());
  // Hiding the back button rebuilds the bar on the next layout.
  b->navigationItem().setHidesBackButton(true);
  window->layoutIfNeeded();
  titles.clear();
  for (auto& v : nav->navigationBar().subviews())
    for (auto& t : v->texts()) titles.push_back(t);
  EXPECT_EQ(std::find(titles.begin(), titles.end(), "\u2039 Orders"), titles.end());

  // A tap on the back button pops: the bar keeps its buttons through the touch.
  b->navigationItem().setHidesBackButton(false);
  window->layoutIfNeeded();
  log.clear();
  window->tap({30, 42});
  EXPECT_EQ(nav->viewControllers().size(), 1u);
  EXPECT_EQ(log, (Log{"B.viewWillDisappear", "A.viewWillAppear", "B.viewDidDisappear", "A.viewDidAppear"}));
  // And a tap on a bar item runs its action.
  a->navigationItem().setRightBarButtonItem(
      BarButtonItem::withTitle("Add", BarButtonItemStyle::Plain, [&](BarButtonItem&) { ++saved; }));
  window->layoutIfNeeded();
  window->tap({300, 42});
  EXPECT_EQ(saved, 1);
}

TEST_F(ScreenStackTest, ShakeGoesToTheFirstResponderElseToTheScreenOnTop) {
  class Shaken : public ViewController {
   public:
    int shakes = 0;
    void motionEnded(MotionType m) override { shakes += m == MotionType::Shake; }
  };
  auto below = std::make_shared<Shaken>();
  auto top = std::make_shared<Shaken>();
  auto nav = std::make_shared<NavigationController>(below);
  show(nav);
  nav->pushViewController(top, false);
  // No first responder: the screen the user sees takes it, not the one below it.
  window->shake();
  EXPECT_EQ(top->shakes, 1);
  EXPECT_EQ(below->shakes, 0);
  // A field of the screen as first responder: the motion climbs from it to its screen.
  auto field = std::make_shared<TextField>();
  top->view().addSubview(field);
  ASSERT_TRUE(field->becomeFirstResponder());
  window->shake();
  EXPECT_EQ(top->shakes, 2);
  field->resignFirstResponder();
  // A screen that is first responder itself.
  top->setCanBecomeFirstResponder(true);
  ASSERT_TRUE(top->becomeFirstResponder());
  window->shake();
  EXPECT_EQ(top->shakes, 3);
  top->resignFirstResponder();
}

}  // namespace view_controller_test
}  // namespace
}  // namespace ui
