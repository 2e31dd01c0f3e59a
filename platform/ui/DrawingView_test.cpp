#include "platform/ui/DrawingView.h"

#include <gtest/gtest.h>

#include "platform/ui/ViewController.h"
#include "platform/ui/Window.h"

namespace ui {
namespace {

// A signature pad: a white drawing view taking strokes from the finger.
struct Pad {
  std::shared_ptr<Window> window = std::make_shared<Window>();
  std::shared_ptr<ViewController> screen = std::make_shared<ViewController>();
  std::shared_ptr<DrawingView> pad = makeView<DrawingView>(Rect(10, 100, 200, 100));
  std::vector<std::pair<TouchPhase, Point>> seen;

  Pad() {
    window->setRootViewController(screen);
    window->makeKeyAndVisible();
    pad->setBackgroundColor(Color::whiteColor());
    screen->view().addSubview(pad);
    pad->setTouchHandler([this](TouchPhase phase, Point at) {
      seen.emplace_back(phase, at);
      if (phase == TouchPhase::Began)
        pad->beginStroke(at, 4, Color::black());
      else if (phase == TouchPhase::Moved || phase == TouchPhase::Ended)
        pad->extendStroke(at);
    });
  }
};

bool dark(const Image& img, int x, int y) {
  Color c = img.pixelAt(x, y);
  return c.a > 0.9 && c.r < 0.3 && c.g < 0.3 && c.b < 0.3;
}

TEST(DrawingViewTest, ADrawnStrokeIsReadBackFromTheImage) {
  Pad p;
  // Window (30, 150) is pad (20, 50); the stroke runs across the pad's middle.
  p.window->drag({30, 150}, {190, 150}, 8);
  ASSERT_GE(p.seen.size(), 3u);
  EXPECT_EQ(p.seen.front().first, TouchPhase::Began);
  EXPECT_EQ(p.seen.front().second, (Point{20, 50}));
  EXPECT_EQ(p.seen.back().first, TouchPhase::Ended);
  EXPECT_EQ(p.seen.back().second, (Point{180, 50}));
  ASSERT_EQ(p.pad->drawings().size(), 1u);

  auto image = p.pad->image(2);
  ASSERT_EQ(image->pixelWidth(), 400);
  ASSERT_EQ(image->pixelHeight(), 200);
  for (int x : {40, 200, 360}) EXPECT_TRUE(dark(*image, x, 100)) << x;
  EXPECT_EQ(image->pixelAt(200, 20), Color::whiteColor());   // above the stroke
  EXPECT_EQ(image->pixelAt(395, 100), Color::whiteColor());  // past its end

  p.pad->clear();
  EXPECT_TRUE(p.pad->isEmpty());
  EXPECT_EQ(p.pad->image()->pixelAt(100, 50), Color::whiteColor());
}

TEST(DrawingViewTest, ACancelledTouchIsReportedAsCancelled) {
  Pad p;
  p.window->sendTouch(TouchPhase::Began, {50, 150});
  p.window->sendTouch(TouchPhase::Moved, {60, 150});
  p.window->sendTouch(TouchPhase::Cancelled, {60, 150});
  ASSERT_EQ(p.seen.size(), 3u);
  EXPECT_EQ(p.seen[2].first, TouchPhase::Cancelled);
}

TEST(DrawingViewTest, FillsAndPicturesArePaintedInOrder) {
  DrawingView v;
  v.setFrame({0, 0, 20, 10});
  v.fillRect({0, 0, 20, 10}, Color::red());
  v.drawImage(Image::filled({10, 10}, Color::blue()), {10, 0, 10, 10});
  auto image = v.image();
  EXPECT_EQ(image->pixelAt(5, 5), Color::red());
  EXPECT_EQ(image->pixelAt(15, 5), Color::blue());
}

}  // namespace
}  // namespace ui
