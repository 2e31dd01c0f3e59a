#pragma once
// The paging strip of the picture slider: one `ZMImageSliderCell` per picture address,
// side by side in a horizontally paging scroll view. It keeps track of the page on screen,
// loads a page's picture when the page is reached (so a picture never reached is never
// fetched), and tells its delegate of every page change and of a page's single tap.
//
// Every change of its size lays the pages out again and keeps the page on screen. A page
// counts as reached once at least half of it is on screen; the scroll event that the
// layout itself causes, and every scroll event before the strip has a width, are ignored.
// An index outside the list is never used to take a page: the start index is held within
// the list. Made with `make`; main thread.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/orders/ZMImageSliderCell.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/View.h"

namespace orvo {

class ZMImageSliderViewDelegate {
 public:
  virtual ~ZMImageSliderViewDelegate() = default;
  virtual void imageSliderViewSingleTap(ui::GestureRecognizer& tap) = 0;
  virtual void imageSliderViewImageSwitch(int64_t index, int64_t count, const std::string& imageUrl) = 0;
};

class ZMImageSliderView : public ui::View, public ui::ScrollViewDelegate, public ZMImageSliderCellDelegate {
 public:
  // `initWithOptions:imageUrls:`.
  static std::shared_ptr<ZMImageSliderView> make(int64_t index, const std::vector<std::string>& imageUrls);
  ZMImageSliderView() = default;

  const std::vector<std::shared_ptr<ZMImageSliderCell>>& sliderCells() const { return sliderCells_; }
  ui::ScrollView* scrollView() const { return scrollView_.get(); }
  int64_t currentIndex() const { return currentIndex_; }
  void setDelegate(std::weak_ptr<ZMImageSliderViewDelegate> d) { delegate_ = std::move(d); }

  void updateCellFrames();
  void switchImage(int64_t index);

  // ui::View: a change of size lays the pages out.
  void sizeChanged() override { updateCellFrames(); }
  // ui::ScrollViewDelegate.
  void scrollViewDidScroll(ui::ScrollView& scrollView) override;
  // ZMImageSliderCellDelegate.
  void imageSliderCellSingleTap(ui::GestureRecognizer& tap) override;

 private:
  void initialize(int64_t index, const std::vector<std::string>& imageUrls);

  std::vector<std::shared_ptr<ZMImageSliderCell>> sliderCells_;
  std::shared_ptr<ui::ScrollView> scrollView_;
  int64_t currentIndex_ = 0;
  bool isUpdatingCellFrames_ = false;
  bool isInitImg_ = true;
  std::weak_ptr<ZMImageSliderViewDelegate> delegate_;
};

}  // namespace orvo
