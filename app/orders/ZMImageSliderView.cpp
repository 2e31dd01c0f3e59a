#include "app/orders/ZMImageSliderView.h"

#include <algorithm>
#include <cmath>

namespace orvo {

std::shared_ptr<ZMImageSliderView> ZMImageSliderView::make(int64_t index, const std::vector<std::string>& imageUrls) {
  auto view = std::make_shared<ZMImageSliderView>();
  view->initialize(index, imageUrls);
  return view;
}

void ZMImageSliderView::initialize(int64_t index, const std::vector<std::string>& imageUrls) {
  isUpdatingCellFrames_ = false;
  isInitImg_ = true;
  currentIndex_ = imageUrls.empty() ? 0 : std::clamp<int64_t>(index, 0, int64_t(imageUrls.size()) - 1);
  setClipsToBounds(false);
  scrollView_ = std::make_shared<ui::ScrollView>();
  scrollView_->setPagingEnabled(true);
  scrollView_->setDelegate(std::static_pointer_cast<ZMImageSliderView>(sharedView()));
  scrollView_->setShowsHorizontalScrollIndicator(false);
  scrollView_->setShowsVerticalScrollIndicator(false);
  auto self = std::static_pointer_cast<ZMImageSliderView>(sharedView());
  for (const auto& url : imageUrls) {
    auto cell = ZMImageSliderCell::make(url);
    cell->setDelegate(self);
    sliderCells_.push_back(cell);
    scrollView_->addSubview(cell);
  }
  addSubview(scrollView_);
}

void ZMImageSliderView::updateCellFrames() {
  if (!scrollView_) return;
  const auto n = double(sliderCells_.size());
  const ui::Rect b = bounds();
  isUpdatingCellFrames_ = true;
  scrollView_->setFrame(b);
  scrollView_->setContentSize({b.width() * n, b.height()});
  const ui::Point offset{double(currentIndex_) * b.width(), 0};
  if (offset == scrollView_->contentOffset()) isUpdatingCellFrames_ = false;  // no scroll event follows
  scrollView_->setContentOffset(offset);
  const ui::Rect s = scrollView_->bounds();
  for (size_t i = 0; i < sliderCells_.size(); ++i)
    sliderCells_[i]->setFrame({s.width() * double(i), s.minY(), s.width(), s.height()});
  switchImage(currentIndex_);
}

void ZMImageSliderView::switchImage(int64_t index) {
  if (index < 0 || index >= int64_t(sliderCells_.size())) return;
  const auto& cell = sliderCells_[size_t(index)];
  if (auto d = delegate_.lock()) d->imageSliderViewImageSwitch(index, int64_t(sliderCells_.size()), cell->imageUrl());
  currentIndex_ = index;
  cell->loadImage();
  isInitImg_ = false;
}

void ZMImageSliderView::scrollViewDidScroll(ui::ScrollView& s) {
  if (isUpdatingCellFrames_) {
    isUpdatingCellFrames_ = false;
    return;
  }
  if (s.contentOffset().y != 0) s.setContentOffset({s.contentOffset().x, 0});
  const double w = s.frame().width();
  if (w <= 0) return;
  const double x = s.contentOffset().x;
  const auto page = int64_t(std::floor((x - w / 2) / w)) + 1;
  if (page != currentIndex_ && !isInitImg_) switchImage(page);
}

void ZMImageSliderView::imageSliderCellSingleTap(ui::GestureRecognizer& tap) {
  if (auto d = delegate_.lock()) d->imageSliderViewSingleTap(tap);
}

}  // namespace orvo
