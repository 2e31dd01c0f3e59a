// Autoresizing, the frame-change hook and the toast's style.
#include <gtest/gtest.h>

#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/Toast.h"
#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace ui {
namespace {

TEST(AutoresizingTest, SubviewsFollowTheirMasksWhenTheSuperviewResizes) {
  struct Case {
    const char* name;
    unsigned mask;
    Rect after;  // of a 20,10,60,30 child when its 100x50 parent becomes 200x80
  };
  const Case cases[] = {
      {"none", AutoresizingNone, {20, 10, 60, 30}},
      {"width", FlexibleWidth, {20, 10, 160, 30}},
      {"left margin", FlexibleLeftMargin, {120, 10, 60, 30}},
      {"right margin", FlexibleRightMargin, {20, 10, 60, 30}},
      {"both margins (centred)", FlexibleLeftMargin | FlexibleRightMargin, {20 + 100 * 20.0 / 40, 10, 60, 30}},
      {"width and height", FlexibleWidth | FlexibleHeight, {20, 10, 160, 60}},
      {"top margin", FlexibleTopMargin, {20, 40, 60, 30}},
      {"all", FlexibleLeftMargin | FlexibleWidth | FlexibleRightMargin | FlexibleTopMargin | FlexibleHeight |
                  FlexibleBottomMargin,
       {40, 16, 120, 48}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto parent = makeView<View>(Rect(0, 0, 100, 50));
    auto child = makeView<View>(Rect(20, 10, 60, 30));
    child->setAutoresizingMask(c.mask);
    parent->addSubview(child);
    parent->setFrame({0, 0, 200, 80});
    EXPECT_EQ(child->frame(), c.after);
  }
  // Switched off, nothing follows; nested views follow in turn.
  auto parent = makeView<View>(Rect(0, 0, 100, 50));
  auto child = makeView<View>(Rect(0, 0, 100, 50));
  auto grandchild = makeView<View>(Rect(0, 0, 100, 10));
  child->setAutoresizingMask(FlexibleWidth);
  grandchild->setAutoresizingMask(FlexibleWidth);
  parent->addSubview(child);
  child->addSubview(grandchild);
  parent->setFrame({0, 0, 300, 50});
  EXPECT_EQ(grandchild->frame().width(), 300);
  parent->setAutoresizesSubviews(false);
  parent->setFrame({0, 0, 100, 50});
  EXPECT_EQ(child->frame().width(), 300);
}

TEST(AutoresizingTest, TheFrameChangeHookLaysOutChildren) {
  auto bar = makeView<View>(Rect(0, 0, 100, 40));
  auto label = makeView<Label>(Rect(0, 0, 10, 40));
  bar->addSubview(label);
  std::vector<Rect> olds;
  bar->setFrameChangeHandler([&](View& v, Rect old) {
    olds.push_back(old);
    label->setFrame({10, 0, v.frame().width() - 20, v.frame().height()});
  });
  bar->setFrame({0, 100, 200, 40});
  EXPECT_EQ(label->frame(), (Rect{10, 0, 180, 40}));
  bar->setFrame({0, 100, 200, 40});  // no change, no call
  bar->setCenter({150, 150});        // moved only
  ASSERT_EQ(olds.size(), 2u);
  EXPECT_EQ(olds[0], (Rect{0, 0, 100, 40}));
  EXPECT_EQ(olds[1], (Rect{0, 100, 200, 40}));
}

TEST(ToastTest, StyleSetsPaddingImageSizeAndTheToastGoesAfterItsDuration) {
  foundation::ScopedManualClock clock;
  auto window = std::make_shared<Window>();
  auto screen = std::make_shared<ViewController>();
  window->setRootViewController(screen);
  window->makeKeyAndVisible();
  ToastStyle style;
  style.verticalPadding = 10;
  style.horizontalPadding = 6;
  style.imageSize = {40, 40};
  style.messageAlignment = TextAlignment::Center;
  auto toast = makeToast(screen->view(), "Please check your scanner", 10.0, ToastPosition::Center, "",
                         Image::filled({96, 96}, Color::blue()), style);
  ASSERT_EQ(toast->superview(), &window->toastLayer());
  auto* image = dynamic_cast<ImageView*>(toast->subviews().at(0).get());
  ASSERT_TRUE(image);
  EXPECT_EQ(image->frame(), (Rect{6, 10, 40, 40}));
  auto* message = dynamic_cast<Label*>(toast->subviews().at(1).get());
  ASSERT_TRUE(message);
  EXPECT_EQ(message->frame().x(), 6 + 40 + 6);
  EXPECT_EQ(message->textAlignment(), TextAlignment::Center);
  EXPECT_GE(toast->frame().height(), 10 + 40 + 10);
  EXPECT_EQ(toast->frame().width(), message->frame().maxX() + 6);
  EXPECT_DOUBLE_EQ(toast->frame().midX(), screen->view().frame().midX());

  clock->advance(std::chrono::milliseconds(9900));
  foundation::RunLoop::main().runOnce(foundation::Duration::zero());
  EXPECT_TRUE(toast->superview());
  clock->advance(std::chrono::milliseconds(200));
  EXPECT_TRUE(foundation::RunLoop::main().runUntil([&] { return toast->superview() == nullptr; }));
}

}  // namespace
}  // namespace ui
