// The picture slider on pictures served by the back office on loopback: the page counter,
// paging by dragging, pictures fitted to the page and zoomed, loading only what is shown,
// and a picture that cannot be loaded.
#include <gtest/gtest.h>

#include "app/orders/ImageViewClass.h"
#include "app/orders/OrderListViewController.h"
#include "app/orders/ZMImageSliderViewController.h"
#include "testing/app/StyleTestSupport.h"

namespace orvo {
namespace {

using test_support::StyleHarness;

const std::string kSolidus = "\xEF\xBC\x8F";  // the full-width solidus of the counter

ZMImageSliderViewController* openSlider(StyleHarness& f, const std::string& style, int index) {
  ImageViewClass::showImageSlider(*f.t.app.root, style, "X", index);
  if (!f.waitFor([&] { return f.t.top<ZMImageSliderViewController>() != nullptr; })) return nullptr;
  return f.t.top<ZMImageSliderViewController>();
}

// Drags the strip by `pages` of its width (negative: towards the next page).
void dragStrip(StyleHarness& f, ZMImageSliderViewController* slider, double pages) {
  auto* strip = slider->imageSliderView();
  const ui::Point mid = strip->convertToWindow({strip->bounds().midX(), strip->bounds().midY()});
  f.t.h->window().drag(mid, {mid.x + pages * strip->bounds().width(), mid.y}, 10);
  f.t.settle();
}

TEST(ImageSlider, OpensAtTheIndexAndLoadsOnlyThePageShown) {
  StyleHarness f;
  f.servePicture("TALL_X_front.jpg", 100, 300);
  f.servePicture("TALL_X_back.jpg", 300, 100);
  auto* slider = openSlider(f, "TALL", 1);
  ASSERT_NE(slider, nullptr);
  EXPECT_EQ(slider->title(), "TALL");
  EXPECT_EQ(slider->displayLabel()->text(), "2" + kSolidus + "2");
  auto* strip = slider->imageSliderView();
  ASSERT_EQ(strip->sliderCells().size(), 2u);
  auto* wide = strip->sliderCells()[1].get();
  auto* tall = strip->sliderCells()[0].get();
  ASSERT_TRUE(f.waitFor([&] { return wide->imageView()->image() != nullptr; }));
  EXPECT_EQ(strip->scrollView()->contentOffset().x, strip->bounds().width());
  EXPECT_EQ(f.pictureRequests("TALL_X_front").size(), 1u);  // probed, never loaded
  EXPECT_EQ(f.pictureRequests("TALL_X_back").size(), 2u);   // probed and loaded
  EXPECT_EQ(tall->imageView()->image(), nullptr);

  // A wide picture fills the page's width and sits in the middle of its height.
  const double w = wide->bounds().width(), h = wide->bounds().height();
  EXPECT_EQ(wide->imageView()->image()->pixelWidth(), 300);
  EXPECT_EQ(wide->imageView()->frame().width(), w);
  EXPECT_DOUBLE_EQ(wide->imageView()->frame().height(), w / 3);
  EXPECT_DOUBLE_EQ(wide->imageView()->center().y, h / 2);

  // 40 % of a page does not switch; 60 % does, reports and loads the page.
  dragStrip(f, slider, 0.4);
  EXPECT_EQ(strip->currentIndex(), 1);
  EXPECT_EQ(slider->displayLabel()->text(), "2" + kSolidus + "2");
  dragStrip(f, slider, 0.6);
  EXPECT_EQ(strip->currentIndex(), 0);
  EXPECT_EQ(slider->displayLabel()->text(), "1" + kSolidus + "2");
  ASSERT_TRUE(f.waitFor([&] { return tall->imageView()->image() != nullptr; }));
  // A tall picture is as wide as the page and scrolls vertically at zoom 1.
  EXPECT_DOUBLE_EQ(tall->imageView()->frame().height(), 3 * w);
  EXPECT_DOUBLE_EQ(tall->scrollView()->contentSize().height, 3 * w);
  EXPECT_DOUBLE_EQ(tall->imageView()->center().y, 1.5 * w);

  // Back to the second page: its picture stays, nothing is fetched again.
  dragStrip(f, slider, -0.6);
  EXPECT_EQ(strip->currentIndex(), 1);
  EXPECT_EQ(f.pictureRequests("TALL_X_back").size(), 2u);

  // A vertical drag does not move the strip.
  const ui::Point mid = strip->convertToWindow({strip->bounds().midX(), strip->bounds().midY()});
  f.t.h->window().drag(mid, {mid.x, mid.y - 100});
  f.t.settle();
  EXPECT_EQ(strip->scrollView()->contentOffset().y, 0);
  EXPECT_EQ(strip->currentIndex(), 1);

  ASSERT_TRUE(f.t.h->tapBarItem(slider->navigationItem().leftBarButtonItem()));  // Close
  f.t.settle();
  EXPECT_EQ(f.t.topScreen(), f.t.app.root.get());
}

TEST(ImageSlider, DoubleTapZoomsToTwoAndBackAndASizeChangeKeepsThePage) {
  StyleHarness f;
  f.servePicture("SQ_X_front.jpg", 200, 200);
  auto* slider = openSlider(f, "SQ", 0);
  ASSERT_NE(slider, nullptr);
  auto* strip = slider->imageSliderView();
  auto* page = strip->sliderCells()[0].get();
  ASSERT_TRUE(f.waitFor([&] { return page->imageView()->image() != nullptr; }));
  auto* zoom = page->scrollView();
  EXPECT_EQ(zoom->zoomScale(), 1.0);
  EXPECT_EQ(zoom->maximumZoomScale(), 2.0);
  const ui::Point p = page->convertToWindow({100, 150});
  f.t.h->window().tap(p);
  f.t.h->window().tap(p);
  f.t.settle();
  EXPECT_EQ(zoom->zoomScale(), 2.0);
  EXPECT_DOUBLE_EQ(page->imageView()->frame().width(), 2 * page->bounds().width());
  f.t.h->advance(std::chrono::seconds(1));
  f.t.h->window().tap(p);
  f.t.h->window().tap(p);
  f.t.settle();
  EXPECT_EQ(zoom->zoomScale(), 1.0);
  // Smaller than the page, the picture stays in its middle.
  EXPECT_DOUBLE_EQ(page->imageView()->center().y, page->bounds().height() / 2);

  // A new size (rotation) lays the pages out again on the same page, zoom back at 1.
  zoom->setZoomScale(2.0);
  slider->view().setFrame({0, 0, 568, 256});
  f.t.settle();
  EXPECT_EQ(strip->currentIndex(), 0);
  EXPECT_EQ(page->bounds().width(), 568);
  EXPECT_EQ(zoom->zoomScale(), 1.0);
  EXPECT_EQ(slider->displayLabel()->text(), "1" + kSolidus + "1");
}

TEST(ImageSlider, APictureThatCannotBeLoadedSaysSoAndIsTriedAgain) {
  StyleHarness f;
  f.t.server.withState([](backoffice::State& s) { s.documents["BAD_X_front.jpg"] = "not a picture"; });
  f.servePicture("BAD_X_back.jpg", 120, 80);
  auto* slider = openSlider(f, "BAD", 0);
  ASSERT_NE(slider, nullptr);
  ASSERT_TRUE(f.waitFor([&] { return f.t.h->findText(ZMImageSliderCell::kFailedMessage) != nullptr; }));
  auto* page = slider->imageSliderView()->sliderCells()[0].get();
  EXPECT_EQ(page->imageView()->image(), nullptr);
  EXPECT_EQ(f.pictureRequests("BAD_X_front").size(), 2u);
  dragStrip(f, slider, -0.6);
  ASSERT_TRUE(f.waitFor([&] { return slider->imageSliderView()->sliderCells()[1]->imageView()->image() != nullptr; }));
  dragStrip(f, slider, 0.6);
  ASSERT_TRUE(f.waitFor([&] { return f.pictureRequests("BAD_X_front").size() == 3u; }));
  // The notice stays a minute.
  f.t.h->advance(std::chrono::seconds(59));
  EXPECT_NE(f.t.h->findText(ZMImageSliderCell::kFailedMessage), nullptr);
}

TEST(ImageSlider, AnIndexOutsideTheListIsNeverUsed) {
  StyleHarness f;
  auto one = ZMImageSliderView::make(5, {"http://127.0.0.1:1/a.jpg"});
  EXPECT_EQ(one->currentIndex(), 0);
  auto none = ZMImageSliderView::make(1, {});
  none->setFrame({0, 0, 320, 400});
  none->switchImage(3);
  EXPECT_TRUE(none->sliderCells().empty());
  // Before the strip has a width no scroll event switches pages.
  auto two = ZMImageSliderView::make(0, {"http://127.0.0.1:1/a.jpg", "http://127.0.0.1:1/b.jpg"});
  two->scrollView()->setContentOffset({10, 0});
  two->scrollView()->setContentOffset({30, 0});
  EXPECT_EQ(two->currentIndex(), 0);
  auto vc = ZMImageSliderViewController::make(7, {"http://127.0.0.1:1/a.jpg"});
  EXPECT_EQ(vc->displayLabel()->text(), "1" + kSolidus + "1");
}

TEST(ImageSlider, ASingleTapOnAPictureClosesTheSliderWhileADoubleTapZooms) {
  using namespace std::chrono_literals;
  StyleHarness f;
  f.servePicture("TAP_X_front.jpg", 200, 200);
  auto* slider = openSlider(f, "TAP", 0);
  ASSERT_NE(slider, nullptr);
  auto* page = slider->imageSliderView()->sliderCells()[0].get();
  ASSERT_TRUE(f.waitFor([&] { return page->imageView()->image() != nullptr; }));
  ASSERT_TRUE(f.t.h->tap(page));
  f.t.h->advance(100ms);
  ASSERT_TRUE(f.t.h->tap(page));
  f.t.h->advance(1s);
  EXPECT_EQ(f.t.top<ZMImageSliderViewController>(), slider);
  EXPECT_GT(page->scrollView()->zoomScale(), 1.0);

  ASSERT_TRUE(f.t.h->tap(page));
  f.t.h->advance(1s);
  f.t.settle();
  EXPECT_EQ(f.t.top<ZMImageSliderViewController>(), nullptr);
}

TEST(ImageSlider, ALineSwipedToTheRightOffersItsPictureWhoseTapOpensTheSlider) {
  using namespace std::chrono_literals;
  StyleHarness f;
  auto* list = f.t.walkToItemList("harbor o", {0, 0}, 0);
  ASSERT_NE(list, nullptr);
  f.scan("400000000026");  // PL300 WHT S: front and back pictures
  ASSERT_TRUE(f.t.h->tapBarItem(list->nextBarButtonItem()));  // the line is saved
  f.t.settle();
  ASSERT_EQ(list->orderListArray().size(), 1u);
  auto* table = list->orderListTableView();
  // From right to left: the delete button, not the picture.
  ASSERT_TRUE(f.t.h->swipeRow(*table, {0, 0}, ui::SwipeLeft));
  EXPECT_EQ(f.t.h->findLabel("Picture"), nullptr);
  ASSERT_TRUE(f.t.h->swipeRow(*table, {0, 0}, ui::SwipeLeft));  // closes it again
  ASSERT_TRUE(f.t.h->swipeRow(*table, {0, 0}, ui::SwipeRight));
  auto* picture = dynamic_cast<ui::Button*>(f.t.h->findLabel("Picture"));
  ASSERT_NE(picture, nullptr) << f.t.h->dump();
  // The icon becomes the style's picture, 75 points high.
  const auto blank = picture->currentImage();
  ASSERT_TRUE(f.waitFor([&] { return picture->currentImage() != blank; }));
  EXPECT_EQ(picture->currentImage()->size().height, 75);
  ASSERT_TRUE(f.t.h->tap(picture));
  ASSERT_TRUE(f.waitFor([&] { return f.t.top<ZMImageSliderViewController>() != nullptr; }));
  auto* slider = f.t.top<ZMImageSliderViewController>();
  EXPECT_EQ(slider->title(), "PL300");
  EXPECT_EQ(slider->imageSliderView()->sliderCells().size(), 2u);
  EXPECT_EQ(table->cellForRowAtIndexPath({0, 0})->swipeState(), 0);  // the line closed
}

}  // namespace
}  // namespace orvo
