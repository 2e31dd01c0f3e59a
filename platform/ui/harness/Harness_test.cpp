#include "platform/ui/harness/Harness.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <filesystem>

#include "platform/ui/AlertController.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/DrawingView.h"
#include "platform/ui/Gesture.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/Switch.h"
#include "platform/ui/TextField.h"
#include "platform/ui/Toast.h"

namespace ui::harness {
namespace {

class DigitsOnly : public TextFieldDelegate {
 public:
  bool shouldChangeCharactersInRange(TextField&, Range, const std::string& s) override {
    return s.find_first_not_of("0123456789") == std::string::npos;
  }
};

class Rows : public TableViewDataSource, public TableViewDelegate {
 public:
  int numberOfRowsInSection(TableView&, int) override { return 40; }
  std::shared_ptr<TableViewCell> cellForRowAtIndexPath(TableView& t, IndexPath ip) override {
    auto c = t.dequeueReusableCellWithIdentifier("R");
    if (!c) c = std::make_shared<TableViewCell>(CellStyle::Default, "R");
    c->textLabel().setText("Row " + std::to_string(ip.row));
    return c;
  }
  void didSelectRowAtIndexPath(TableView&, IndexPath ip) override { chosen.push_back(ip.row); }
  std::vector<int> chosen;
};

// A login-like screen: a title, a user field, a password field, a switch and a button.
class HarnessTest : public ::testing::Test {
 protected:
  void SetUp() override {
    window = std::make_shared<Window>();
    screen = std::make_shared<ViewController>("Login");
    screen->setTitle("Welcome");
    nav = std::make_shared<NavigationController>(screen);
    window->setRootViewController(nav);
    window->makeKeyAndVisible();
    auto& v = screen->view();
    auto title = makeView<Label>({10, 10, 300, 20});
    title->setText("Orvo Mobile");
    v.addSubview(title);
    user = makeView<TextField>({10, 40, 165, 21});
    user->setPlaceholder("User ID");
    user->setTag(1);
    v.addSubview(user);
    pin = makeView<TextField>({10, 70, 170, 21});
    pin->setPlaceholder("PIN");
    pin->setSecureTextEntry(true);
    pin->setTag(2);
    pin->setDelegate(digits);
    v.addSubview(pin);
    remember = makeView<Switch>({10, 100, Switch::kWidth, Switch::kHeight});
    remember->setAccessibilityLabel("Remember");
    v.addSubview(remember);
    auto login = Button::make("Login", {10, 140, 100, 30});
    login->addTarget(this, [this](Control&) { ++logins; }, TouchUpInside);
    v.addSubview(login);
  }
  void TearDown() override {
    for (auto& a : AlertView::visibleAlerts()) a->dismissWithClickedButtonIndex(0, false);
    if (auto* r = Responder::firstResponder()) r->resignFirstResponder();
  }
  std::shared_ptr<Window> window;
  std::shared_ptr<ViewController> screen;
  std::shared_ptr<NavigationController> nav;
  std::shared_ptr<TextField> user, pin;
  std::shared_ptr<Switch> remember;
  std::shared_ptr<DigitsOnly> digits = std::make_shared<DigitsOnly>();
  int logins = 0;
  Harness h;
};

TEST_F(HarnessTest, FindsByTextTagAndLabelAndTapsThroughHitTesting) {
  EXPECT_EQ(h.findText("Orvo Mobile")->kind(), std::string("Label"));
  EXPECT_EQ(h.findText("User ID"), user.get());  // a placeholder counts
  EXPECT_EQ(h.findTag(2), pin.get());
  EXPECT_EQ(h.findLabel("Remember"), remember.get());
  EXPECT_EQ(h.findText("Nowhere"), nullptr);
  EXPECT_TRUE(h.tapText("Login"));
  EXPECT_EQ(logins, 1);
  EXPECT_TRUE(h.tap(remember.get()));
  EXPECT_TRUE(remember->isOn());
  // Hidden views are not found and cannot be tapped.
  h.findText("Login")->setHidden(true);
  EXPECT_EQ(h.findText("Login"), nullptr);
  EXPECT_FALSE(h.tap(nullptr));
}

TEST_F(HarnessTest, TypingGoesThroughTheDelegateLikeTheRenderersKeys) {
  EXPECT_TRUE(h.type(user.get(), "q73"));
  EXPECT_EQ(user->text(), "q73");
  EXPECT_TRUE(h.type(pin.get(), "1a2\xC3\xA9" "3"));
  EXPECT_EQ(pin->text(), "123");
  EXPECT_FALSE(user->isFirstResponder());
  h.deleteBackward();
  EXPECT_EQ(pin->text(), "12");
}

TEST_F(HarnessTest, CoveredViewsCannotBeTappedOrFound) {
  auto cover = std::make_shared<ViewController>("Cover");
  screen->presentViewController(cover, false);
  EXPECT_EQ(h.findText("Login"), nullptr);
  EXPECT_FALSE(h.tap(user.get()));
  cover->dismissViewControllerAnimated(false);
  EXPECT_TRUE(h.tap(user.get()));
}

TEST_F(HarnessTest, PressesButtonsOfBothKindsOfAlert) {
  std::string pressed;
  auto ac = AlertController::make("Question", "Go on?");
  ac->addAction(AlertAction::make("No", AlertActionStyle::Cancel, [&](AlertAction&) { pressed = "No"; }));
  ac->addAction(AlertAction::make("Yes", AlertActionStyle::Default, [&](AlertAction&) { pressed = "Yes"; }));
  screen->presentViewController(ac, true);
  ASSERT_NE(h.topAlert(), nullptr);
  EXPECT_EQ(h.topAlert()->title(), "Question");
  EXPECT_FALSE(h.tapText("Login"));  // the alert takes the touch
  EXPECT_TRUE(h.pressAlertButton("Yes"));
  EXPECT_EQ(pressed, "Yes");
  EXPECT_EQ(h.topAlert(), nullptr);

  auto av = std::make_shared<AlertView>("Orvo Mobile", "Saved", std::weak_ptr<AlertViewDelegate>(), "Ok",
                                        std::vector<std::string>{});
  av->show();
  EXPECT_FALSE(h.pressAlertButton("Cancel"));
  EXPECT_TRUE(h.pressAlertButton("Ok"));
  EXPECT_FALSE(av->isVisible());
}

TEST_F(HarnessTest, AlertsWithTextFieldsStayAboveTheKeyboard) {
  // A tall input view leaves little room; the buttons must still be reachable.
  auto tall = makeView<View>({0, 0, 320, 330});
  struct Case {
    const char* name;
    KeyboardType type;
    std::shared_ptr<View> inputView;
    int fields;
  };
  const Case cases[] = {
      {"number pad, two fields", KeyboardType::NumberPad, nullptr, 2},
      {"keyboard, one field", KeyboardType::Default, nullptr, 1},
      {"tall input view, two fields", KeyboardType::Default, tall, 2},
  };
  for (const Case& c : cases) {
    SCOPED_TRACE(c.name);
    std::string pressed;
    auto ac = AlertController::make("Quantity", "How many of each?");
    for (int i = 0; i < c.fields; ++i)
      ac->addTextField([&](TextField& f) {
        f.setKeyboardType(c.type);
        if (c.inputView) f.setInputView(c.inputView);
      });
    ac->addAction(AlertAction::make("Cancel", AlertActionStyle::Cancel, [&](AlertAction&) { pressed = "Cancel"; }));
    ac->addAction(AlertAction::make("OK", AlertActionStyle::Default, [&](AlertAction&) { pressed = "OK"; }));
    screen->presentViewController(ac, true);
    ASSERT_TRUE(window->isKeyboardVisible());
    window->layoutIfNeeded();
    const double keyboardTop = window->keyboardLayer().frame().y();
    AlertPanel* panel = h.topAlert();
    ASSERT_NE(panel, nullptr);
    EXPECT_LE(panel->convertRectToWindow(panel->bounds()).maxY(), keyboardTop);
    // Both fields take typing from the keys and the actions take taps.
    EXPECT_TRUE(h.type(ac->textFields().back().get(), "12"));
    EXPECT_EQ(ac->textFields().back()->text(), "12");
    EXPECT_TRUE(h.pressAlertButton("OK"));
    EXPECT_EQ(pressed, "OK");
    EXPECT_FALSE(window->isKeyboardVisible());
  }

  // The prompt kind of alert view moves up too, and back down when the keyboard goes.
  auto av = std::make_shared<AlertView>("Price level", "", std::weak_ptr<AlertViewDelegate>(), "Cancel",
                                        std::vector<std::string>{"Ok"});
  av->setAlertViewStyle(AlertViewStyle::PlainTextInput);
  av->show();
  ASSERT_TRUE(window->isKeyboardVisible());
  window->layoutIfNeeded();
  AlertPanel* panel = h.topAlert();
  ASSERT_NE(panel, nullptr);
  EXPECT_LE(panel->convertRectToWindow(panel->bounds()).maxY(), window->keyboardLayer().frame().y());
  av->textFieldAtIndex(0)->resignFirstResponder();
  window->layoutIfNeeded();
  EXPECT_NEAR(panel->convertRectToWindow(panel->bounds()).midY(), Window::kScreenHeight / 2, 1);
  EXPECT_TRUE(h.pressAlertButton("Ok"));
}

TEST_F(HarnessTest, ChoosesRowsOutOfViewAndPickerRows) {
  auto rows = std::make_shared<Rows>();
  auto table = makeView<TableView>({0, 200, 320, 200});
  table->setDataSource(rows);
  table->setDelegate(rows);
  screen->view().addSubview(table);
  EXPECT_TRUE(h.chooseRow(*table, {0, 30}));
  EXPECT_EQ(rows->chosen, (std::vector<int>{30}));
  EXPECT_FALSE(h.chooseRow(*table, {0, 99}));
}

TEST_F(HarnessTest, AdvanceRunsToastsAndDoubleTapsOnTheManualClock) {
  foundation::ScopedManualClock clock;
  makeToast(screen->view(), "Saved", 3.0);
  EXPECT_NE(h.findText("Saved"), nullptr);
  h.advance(std::chrono::milliseconds(2900));
  EXPECT_NE(h.findText("Saved"), nullptr);
  h.advance(std::chrono::milliseconds(200));
  EXPECT_EQ(h.findText("Saved"), nullptr);

  // A single tap that must wait for a double tap fires only once the double-tap time passed.
  auto box = makeView<View>({0, 300, 320, 100});
  box->setBackgroundColor(Color::lightGray());
  screen->view().addSubview(box);
  int singles = 0, doubles = 0;
  auto dbl = std::make_shared<TapGestureRecognizer>([&](GestureRecognizer&) { ++doubles; });
  dbl->setNumberOfTapsRequired(2);
  auto single = std::make_shared<TapGestureRecognizer>([&](GestureRecognizer&) { ++singles; });
  single->requireGestureRecognizerToFail(dbl);
  box->addGestureRecognizer(dbl);
  box->addGestureRecognizer(single);
  h.tap(box.get());
  EXPECT_EQ(singles, 0);
  h.advance(std::chrono::milliseconds(400));
  EXPECT_EQ(singles, 1);
  h.tap(box.get());
  h.advance(std::chrono::milliseconds(100));
  h.tap(box.get());
  h.advance(std::chrono::milliseconds(400));
  EXPECT_EQ(doubles, 1);
  EXPECT_EQ(singles, 1);
}

TEST_F(HarnessTest, ReachesOnlyWhatShowsAboveTheKeyboardAndInsideItsScrollView) {
  // The screen's view starts below the navigation bar (64 points); the keyboard covers
  // the window from 352 down.
  int taps = 0;
  auto button = [&](const char* title, Rect frame, View& parent) {
    auto b = Button::make(title, frame);
    b->addTarget(this, [&taps](Control&) { ++taps; }, TouchUpInside);
    parent.addSubview(b);
    return b;
  };
  auto& v = screen->view();
  auto below = button("Below", {10, 320, 300, 30}, v);  // window 384..414
  auto half = button("Half", {10, 275, 300, 40}, v);    // window 339..379: its centre is under the keyboard
  ASSERT_TRUE(h.type(user.get(), "x"));
  ASSERT_TRUE(window->isKeyboardVisible());
  EXPECT_FALSE(h.isReachable(below.get()));
  EXPECT_FALSE(h.tap(below.get()));
  EXPECT_EQ(taps, 0);
  EXPECT_TRUE(h.tap(half.get()));  // at the part above the keyboard
  EXPECT_EQ(taps, 1);
  user->resignFirstResponder();
  EXPECT_TRUE(h.tap(below.get()));
  EXPECT_EQ(taps, 2);

  // A button scrolled out of its scroll view's window is not reached; scrolled in, it is.
  auto scroller = makeView<ScrollView>({0, 200, 320, 100});
  scroller->setContentSize({320, 400});
  v.addSubview(scroller);
  auto inside = button("Inside", {10, 250, 300, 40}, *scroller);
  EXPECT_FALSE(h.tap(inside.get()));
  scroller->setContentOffset({0, 220});
  EXPECT_TRUE(h.tap(inside.get()));
  EXPECT_EQ(taps, 3);
  // Hidden with its parent: not reached.
  scroller->setHidden(true);
  EXPECT_FALSE(h.tap(inside.get()));
  EXPECT_EQ(taps, 3);
}

TEST_F(HarnessTest, TapsBarItemsAndSwipesViewsAndRowsLikeAFinger) {
  int adds = 0;
  auto add = BarButtonItem::withSystemItem(BarButtonSystemItem::Add, [&](BarButtonItem&) { ++adds; });
  screen->navigationItem().setRightBarButtonItem(add);
  EXPECT_TRUE(h.tapBarItem(add));
  EXPECT_EQ(adds, 1);
  add->setEnabled(false);
  h.tapBarItem(add);
  EXPECT_EQ(adds, 1);
  add->setEnabled(true);
  auto cover = std::make_shared<ViewController>("Cover");
  screen->presentViewController(cover, false);
  EXPECT_FALSE(h.tapBarItem(add));
  EXPECT_EQ(adds, 1);
  cover->dismissViewControllerAnimated(false);

  int rights = 0;
  auto box = makeView<View>({0, 200, 320, 100});
  auto right = std::make_shared<SwipeGestureRecognizer>([&](GestureRecognizer&) { ++rights; });
  right->setDirection(SwipeRight);
  box->addGestureRecognizer(right);
  screen->view().addSubview(box);
  EXPECT_TRUE(h.swipe(box.get(), SwipeLeft));
  EXPECT_EQ(rights, 0);
  EXPECT_TRUE(h.swipe(box.get(), SwipeRight));
  EXPECT_EQ(rights, 1);

  // A row's left buttons show after a swipe to the right, and a tap on one runs it.
  struct SwipeRows : Rows {
    std::shared_ptr<TableViewCell> cellForRowAtIndexPath(TableView& t, IndexPath ip) override {
      auto c = Rows::cellForRowAtIndexPath(t, ip);
      c->leftButtons = {SwipeButton::make("Look", nullptr, Color::darkGray(), 5, [this](TableViewCell&) {
        ++looks;
        return true;
      })};
      return c;
    }
    int looks = 0;
  };
  auto rows = std::make_shared<SwipeRows>();
  auto table = makeView<TableView>({0, 0, 320, 400});
  table->setDataSource(rows);
  table->setDelegate(rows);
  screen->view().addSubview(table);
  ASSERT_TRUE(h.swipeRow(*table, {0, 25}, SwipeRight));
  ASSERT_EQ(table->cellForRowAtIndexPath({0, 25})->swipeState(), 1);
  EXPECT_TRUE(rows->chosen.empty());
  EXPECT_TRUE(h.tapText("Look"));
  EXPECT_EQ(rows->looks, 1);
  EXPECT_EQ(table->cellForRowAtIndexPath({0, 25})->swipeState(), 0);
}

// A stroke is one finger put down on the view, moved and lifted (or cancelled), in the
// view's own coordinates; it does not start where the view cannot be reached.
TEST_F(HarnessTest, StrokesAFingerAcrossAViewAndOnlyWhereItCanBeReached) {
  auto pad = makeView<DrawingView>({20, 200, 280, 150});
  std::vector<std::pair<TouchPhase, Point>> seen;
  pad->setTouchHandler([&](TouchPhase phase, Point at) { seen.emplace_back(phase, at); });
  screen->view().addSubview(pad);

  ASSERT_TRUE(h.stroke(pad.get(), {{10, 10}, {60, 30}, {120, 40}}));
  ASSERT_EQ(seen.size(), 4u);
  EXPECT_EQ(seen.front().first, TouchPhase::Began);
  EXPECT_EQ(seen.front().second, (Point{10, 10}));
  EXPECT_EQ(seen[2].first, TouchPhase::Moved);
  EXPECT_EQ(seen[2].second, (Point{120, 40}));
  EXPECT_EQ(seen.back().first, TouchPhase::Ended);

  // Left down, then taken away by the system.
  seen.clear();
  ASSERT_TRUE(h.stroke(pad.get(), {{10, 10}, {40, 40}}, false));
  EXPECT_EQ(seen.back().first, TouchPhase::Moved);
  EXPECT_FALSE(h.stroke(pad.get(), {{10, 10}}));  // one finger at a time
  h.cancelTouch();
  EXPECT_EQ(seen.back().first, TouchPhase::Cancelled);

  // Outside the view, or under a screen presented over it: nothing is touched.
  seen.clear();
  EXPECT_FALSE(h.stroke(pad.get(), {{-5, 10}, {40, 40}}));
  auto cover = std::make_shared<ViewController>("Cover");
  screen->presentViewController(cover, false);
  EXPECT_FALSE(h.stroke(pad.get(), {{10, 10}, {40, 40}}));
  cover->dismissViewControllerAnimated(false);
  EXPECT_TRUE(seen.empty());
}

TEST_F(HarnessTest, DumpShowsTheVisibleScreenAsIndentedText) {
  h.type(user.get(), "q73");
  h.type(pin.get(), "12");
  pin->resignFirstResponder();
  const std::string expected =
      "Window\n"
      "  View\n"
      "    View\n"
      "      Label \"Orvo Mobile\"\n"
      "      TextField \"q73\" placeholder=\"User ID\" tag=1\n"
      "      TextField \"\xE2\x80\xA2\xE2\x80\xA2\" placeholder=\"PIN\" tag=2\n"
      "      Switch off label=\"Remember\"\n"
      "      Button \"Login\"\n"
      "    NavigationBar\n"
      "      NavigationTitle \"Welcome\"\n";
  EXPECT_EQ(h.dump(), expected);
}

TEST_F(HarnessTest, SavesAScreenshotThroughTheRenderer) {
  // A name of this process's own, removed when the test ends.
  const std::filesystem::path path =
      std::filesystem::path(::testing::TempDir()) / ("harness-shot-" + std::to_string(::getpid()) + ".png");
  struct Remove {
    std::filesystem::path p;
    ~Remove() {
      std::error_code ec;
      std::filesystem::remove(p, ec);
    }
  } remove{path};
  ASSERT_TRUE(h.saveScreenshot(path.string()));
  auto img = Image::fromFile(path.string());
  ASSERT_NE(img, nullptr);
  EXPECT_EQ(img->pixelHeight(), 568);
}

}  // namespace
}  // namespace ui::harness
