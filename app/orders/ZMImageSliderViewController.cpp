#include "app/orders/ZMImageSliderViewController.h"

#include <cstdio>

#include "platform/ui/BarButtonItem.h"
#include "platform/ui/NavigationController.h"

namespace orvo {

namespace {
// The strip starts this far below the top of the screen's view: at once, since the view
// already starts below the navigation bar (the platform's translucent bar covered the
// view's top, so the strip there began 44 points down). The counter sits this far above
// the view's bottom.
constexpr double kSliderTop = 0;
constexpr double kLabelBottomMargin = 5;
}  // namespace

std::shared_ptr<ZMImageSliderViewController> ZMImageSliderViewController::make(int64_t index,
                                                                                const std::vector<std::string>& imageUrls) {
  auto vc = std::make_shared<ZMImageSliderViewController>();
  vc->imageSliderView_ = ZMImageSliderView::make(index, imageUrls);
  vc->imageSliderView_->setDelegate(vc);
  if (!imageUrls.empty()) {
    const int64_t shown = vc->imageSliderView_->currentIndex();
    vc->imageSliderViewImageSwitch(shown, int64_t(imageUrls.size()), imageUrls[size_t(shown)]);
  }
  return vc;
}

ui::Label* ZMImageSliderViewController::displayLabel() {
  if (!displayLabel_) {
    displayLabel_ = std::make_shared<ui::Label>();
    displayLabel_->setFont(ui::Font::systemFont(12));
    displayLabel_->setTextColor(ui::Color::whiteColor());
    displayLabel_->setAdjustsFontSizeToFitWidth(true);
    displayLabel_->setBackgroundColor(ui::Color::black().withAlpha(0.5));
  }
  return displayLabel_.get();
}

void ZMImageSliderViewController::viewDidLoad() {
  navigationItem().setLeftBarButtonItem(
      ui::BarButtonItem::withTitle("Close", ui::BarButtonItemStyle::Plain, [this](ui::BarButtonItem&) { closeFunc(); }));
  view().setClipsToBounds(true);
  view().setBackgroundColor(ui::Color::black());
  view().addSubview(imageSliderView_);
  setImageSliderViewConstraints();
  displayLabel();
  view().addSubview(displayLabel_);
  setDisplayLabelConstraints();
}

void ZMImageSliderViewController::setImageSliderViewConstraints() {
  const ui::Rect b = view().bounds();
  imageSliderView_->setFrame({0, kSliderTop, b.width(), std::max(0.0, b.height() - kSliderTop)});
  imageSliderView_->setAutoresizingMask(ui::FlexibleWidth | ui::FlexibleHeight);
}

void ZMImageSliderViewController::setDisplayLabelConstraints() {
  if (!displayLabel_) return;
  displayLabel_->sizeToFit();
  const ui::Rect b = view().bounds();
  const ui::Size s = displayLabel_->frame().size;
  displayLabel_->setFrame({b.width() - s.width, b.height() - kLabelBottomMargin - s.height, s.width, s.height});
  displayLabel_->setAutoresizingMask(ui::FlexibleLeftMargin | ui::FlexibleTopMargin);
}

void ZMImageSliderViewController::closeFunc() {
  if (auto* nav = navigationController())
    nav->dismissViewControllerAnimated(true);
  else
    dismissViewControllerAnimated(true);
}

void ZMImageSliderViewController::imageSliderViewImageSwitch(int64_t index, int64_t count, const std::string&) {
  char text[64];
  std::snprintf(text, sizeof text, "%lld\xEF\xBC\x8F%lld", static_cast<long long>(index + 1),
                static_cast<long long>(count));
  displayLabel()->setText(text);
  if (isViewLoaded()) setDisplayLabelConstraints();
}

}  // namespace orvo
