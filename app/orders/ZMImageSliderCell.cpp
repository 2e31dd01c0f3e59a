#include "app/orders/ZMImageSliderCell.h"

#include "platform/ui/Animation.h"
#include "platform/ui/Toast.h"

namespace orvo {

std::shared_ptr<ZMImageSliderCell> ZMImageSliderCell::make(const std::string& imageUrl) {
  auto cell = std::make_shared<ZMImageSliderCell>();
  cell->imageUrl_ = imageUrl;
  cell->initialize();
  return cell;
}

void ZMImageSliderCell::initialize() {
  imageView_ = std::make_shared<ui::ImageView>();
  imageView_->setContentMode(ui::ContentMode::ScaleAspectFit);
  scrollView_ = std::make_shared<ui::ScrollView>();
  scrollView_->setClipsToBounds(true);
  scrollView_->setDelegate(std::static_pointer_cast<ZMImageSliderCell>(sharedView()));
  scrollView_->setShowsHorizontalScrollIndicator(false);
  scrollView_->setShowsVerticalScrollIndicator(false);
  scrollView_->setBounces(true);
  scrollView_->addSubview(imageView_);
  addSubview(scrollView_);
  auto doubleTap = std::make_shared<ui::TapGestureRecognizer>([this](ui::GestureRecognizer& g) { imageSliderCellDoubleTap(g); });
  doubleTap->setNumberOfTapsRequired(2);
  scrollView_->addGestureRecognizer(doubleTap);
  // A single tap is reported once it is clear that no second tap follows.
  auto singleTap = std::make_shared<ui::TapGestureRecognizer>([this](ui::GestureRecognizer& g) { imageSliderCellSingleTap(g); });
  singleTap->requireGestureRecognizerToFail(doubleTap);
  scrollView_->addGestureRecognizer(singleTap);
}

void ZMImageSliderCell::setFrame(ui::Rect frame) {
  ui::View::setFrame(frame);
  if (frame == ui::Rect{} || !scrollView_) return;
  scrollView_->setFrame(bounds());
  resetZoomScale();
  drawImage();
}

void ZMImageSliderCell::loadImage() {
  if (imageView_->image()) return;
  ui::makeToastActivity(*this, ui::ToastPosition::Center);
  scrollView_->setFrame(bounds());
  resetZoomScale();
  std::weak_ptr<ZMImageSliderCell> weak = std::static_pointer_cast<ZMImageSliderCell>(sharedView());
  imageView_->setImageWithURL(imageUrl_, nullptr, [weak](std::shared_ptr<ui::Image> image) {
    if (auto cell = weak.lock()) cell->loaded(image);
  });
}

void ZMImageSliderCell::loaded(const std::shared_ptr<ui::Image>& image) {
  ui::hideToastActivity(*this);
  if (image) {
    imageView_->setImage(image);
    drawImage();
    return;
  }
  ui::ToastStyle style;
  style.messageAlignment = ui::TextAlignment::Center;
  ui::makeToast(*this, kFailedMessage, kFailedToastDuration, ui::ToastPosition::Center, {}, nullptr, style);
}

void ZMImageSliderCell::drawImage() {
  const ui::Rect f = scrollView_->frame();
  auto image = imageView_->image();
  const ui::Size size = image ? image->size() : ui::Size{};
  if (!image || size.width <= 0 || size.height <= 0) {
    imageView_->setFrame({0, 0, f.width(), f.height()});
    scrollView_->setContentSize(f.size);
    resetZoomScale();
  } else {
    imageView_->setFrame({0, 0, f.width(), size.height * f.width() / size.width});
    scrollView_->setContentSize(imageView_->frame().size);
    imageView_->setCenter(centerOfScrollView(*scrollView_));
    scrollView_->setMinimumZoomScale(1.0);
    scrollView_->setMaximumZoomScale(2.0);
    scrollView_->setZoomScale(1.0);
  }
  scrollView_->setContentOffset({0, 0});
}

void ZMImageSliderCell::resetZoomScale() {
  scrollView_->setMinimumZoomScale(1.0);
  scrollView_->setMaximumZoomScale(1.0);
  scrollView_->setZoomScale(1.0);
}

ui::Point ZMImageSliderCell::centerOfScrollView(const ui::ScrollView& s) const {
  const ui::Size b = s.bounds().size, c = s.contentSize();
  const double dx = b.width > c.width ? (b.width - c.width) * 0.5 : 0;
  const double dy = b.height > c.height ? (b.height - c.height) * 0.5 : 0;
  return {c.width * 0.5 + dx, c.height * 0.5 + dy};
}

void ZMImageSliderCell::scrollViewDidZoom(ui::ScrollView& s) { imageView_->setCenter(centerOfScrollView(s)); }

void ZMImageSliderCell::scrollViewDidEndZooming(ui::ScrollView& s, ui::View* view, double) {
  if (!view) return;
  ui::View::animate(0.25, [&] { view->setCenter(centerOfScrollView(s)); });
}

void ZMImageSliderCell::imageSliderCellDoubleTap(ui::GestureRecognizer& tap) {
  const ui::Point p = tap.locationInView(this);
  if (scrollView_->zoomScale() == scrollView_->minimumZoomScale())
    scrollView_->zoomToRect({p.x, p.y, 1, 1}, true);
  else
    scrollView_->setZoomScale(scrollView_->minimumZoomScale(), true);
}

void ZMImageSliderCell::imageSliderCellSingleTap(ui::GestureRecognizer& tap) {
  if (auto d = delegate_.lock()) d->imageSliderCellSingleTap(tap);
}

}  // namespace orvo
