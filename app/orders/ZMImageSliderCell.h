#pragma once
// One page of the picture slider: a zoomable picture view that loads its picture from its
// address the first time it is asked to (`loadImage`) and keeps it for its life. While it
// loads, an activity toast turns in the middle of the page; a picture that cannot be
// fetched or decoded leaves the page empty under the notice "Failed to load the image" for
// a minute, and the next `loadImage` tries again. The picture fills the page's width and
// keeps its proportions; it zooms between 1 and 2 by pinching or a double tap, and sits in
// the middle of the page while it is smaller than the page. A single tap (one that no
// second tap follows) goes to the delegate.
//
// Made with `make`; lives inside its `ZMImageSliderView`. Main thread.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/ui/Gesture.h"
#include "platform/ui/ImageView.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/View.h"

namespace orvo {

class ZMImageSliderCellDelegate {
 public:
  virtual ~ZMImageSliderCellDelegate() = default;
  virtual void imageSliderCellSingleTap(ui::GestureRecognizer& tap) = 0;
};

class ZMImageSliderCell : public ui::View, public ui::ScrollViewDelegate {
 public:
  static constexpr const char* kFailedMessage = "Failed to load the image";
  // Seconds the failure notice stays.
  static constexpr double kFailedToastDuration = 60.0;

  // `initWithImageUrl:`.
  static std::shared_ptr<ZMImageSliderCell> make(const std::string& imageUrl);
  ZMImageSliderCell() = default;

  const std::string& imageUrl() const { return imageUrl_; }
  ui::ImageView* imageView() const { return imageView_.get(); }
  ui::ScrollView* scrollView() const { return scrollView_.get(); }
  void setDelegate(std::weak_ptr<ZMImageSliderCellDelegate> d) { delegate_ = std::move(d); }

  void loadImage();
  void drawImage();
  void resetZoomScale();
  ui::Point centerOfScrollView(const ui::ScrollView& scrollView) const;
  void imageSliderCellDoubleTap(ui::GestureRecognizer& tap);
  void imageSliderCellSingleTap(ui::GestureRecognizer& tap);

  // The page re-lays itself whenever its frame changes (to anything but the zero rectangle).
  void setFrame(ui::Rect frame) override;

  // ui::ScrollViewDelegate.
  ui::View* viewForZoomingInScrollView(ui::ScrollView&) override { return imageView_.get(); }
  void scrollViewDidZoom(ui::ScrollView& scrollView) override;
  void scrollViewDidEndZooming(ui::ScrollView& scrollView, ui::View* view, double scale) override;

 private:
  void initialize();
  void loaded(const std::shared_ptr<ui::Image>& image);

  std::string imageUrl_;
  std::shared_ptr<ui::ImageView> imageView_;
  std::shared_ptr<ui::ScrollView> scrollView_;
  std::weak_ptr<ZMImageSliderCellDelegate> delegate_;
};

}  // namespace orvo
