#pragma once
// The full-screen picture viewer of a style and colour: the paging strip of its pictures
// (`ZMImageSliderView`) on black, a page counter "<page>／<count>" in the bottom right
// corner, and "Close", which dismisses the navigation controller it was presented in.
//
// Made with `make` (the start index is held within the addresses) and presented by
// `ImageViewClass::showImageSlider`. Main thread.

#include <cstdint>
#include <memory>
#include <string>
#include <vector>

#include "app/orders/ZMImageSliderView.h"
#include "platform/ui/Label.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class ZMImageSliderViewController : public ui::ViewController, public ZMImageSliderViewDelegate {
 public:
  // `initWithOptions:imageUrls:`.
  static std::shared_ptr<ZMImageSliderViewController> make(int64_t index, const std::vector<std::string>& imageUrls);
  ZMImageSliderViewController() : ui::ViewController("ZMImageSliderViewController") {}

  void viewDidLoad() override;
  void setImageSliderViewConstraints();
  void setDisplayLabelConstraints();
  void closeFunc();

  // ZMImageSliderViewDelegate.
  void imageSliderViewSingleTap(ui::GestureRecognizer&) override { closeFunc(); }
  void imageSliderViewImageSwitch(int64_t index, int64_t count, const std::string& imageUrl) override;

  ZMImageSliderView* imageSliderView() const { return imageSliderView_.get(); }
  ui::Label* displayLabel();

 private:
  std::shared_ptr<ZMImageSliderView> imageSliderView_;
  std::shared_ptr<ui::Label> displayLabel_;
};

}  // namespace orvo
