#include "app/orders/StockGrid.h"

#include <algorithm>

#include "platform/ui/Image.h"

namespace orvo {

namespace {
constexpr const char* kCaptions[StockGrid::kRows] = {"Size", "OH", "Order", "PO", "ATS", "OTS", "ATA"};
constexpr double kCaptionWidth = 36;
}  // namespace

int stockSizeCount(const std::string& sizeList) { return int(sizeList.size() / kStockColumnChars); }

StockGrid::StockGrid(ui::View& parent, ui::Point origin) {
  const double left = origin.x + kCaptionWidth;
  scrollView_ = ui::makeView<ui::ScrollView>({left, origin.y, kVisibleWidth, kRowHeight * kRows});
  scrollView_->setShowsVerticalScrollIndicator(false);
  scrollView_->setBounces(false);
  parent.addSubview(scrollView_);
  for (int i = 0; i < kRows; ++i) {
    const double y = origin.y + kRowHeight * i;
    auto caption = ui::makeView<ui::Label>(ui::Rect{origin.x, y, kCaptionWidth, kRowHeight}, kCaptions[i]);
    caption->setFont(ui::Font::boldSystemFont(11));
    caption->setAdjustsFontSizeToFitWidth(true);  // "Order" in a wide font
    parent.addSubview(caption);
    rows_[size_t(i)] = ui::makeView<ui::Label>(ui::Rect{0, kRowHeight * i, kVisibleWidth, kRowHeight});
    rows_[size_t(i)]->setFont(ui::Font::named("Courier", 16));
    rows_[size_t(i)]->setAdjustsFontSizeToFitWidth(true);
    scrollView_->addSubview(rows_[size_t(i)]);
    if (i == 0) continue;
    auto t = ui::makeView<ui::Label>(ui::Rect{left + kVisibleWidth + 2, y, 26, kRowHeight - 1});
    t->setFont(ui::Font::boldSystemFont(11));
    t->setTextAlignment(ui::TextAlignment::Center);
    t->setAdjustsFontSizeToFitWidth(true);
    parent.addSubview(t);
    totals_[size_t(i - 1)] = t;
  }
  arrow_ = ui::makeView<ui::ImageView>({left + kVisibleWidth + 4, origin.y, 22, kRowHeight});
  arrow_->setContentMode(ui::ContentMode::ScaleAspectFit);
  arrow_->setHidden(true);
  parent.addSubview(arrow_);
}

void StockGrid::setStockScrollViewSize(const std::string& sizeList) {
  const int n = stockSizeCount(sizeList);
  const double width = n * kStockColumnWidth;
  scrollView_->setContentSize({width, scrollView_->frame().height()});
  for (auto& l : rows_) l->setFrame({0, l->frame().y(), std::max(width, kVisibleWidth), kRowHeight});
  if (n > kStockVisibleSizes) {
    arrow_->setHidden(false);
    arrow_->setImage(ui::Image::named(kStockForwardArrow));
  } else {
    arrow_->setHidden(true);
  }
  scrollView_->setContentOffset({0, 0}, true);
}

void StockGrid::scrollViewDidEndDecelerating() {
  const ui::ScrollView& s = *scrollView_;
  const bool atEnd = float(s.contentOffset().x + s.frame().width()) >= s.contentSize().width;
  arrow_->setImage(ui::Image::named(atEnd ? kStockBackArrow : kStockForwardArrow));
}

void registerStockGridImages() {
  auto draw = [](const char* name, bool forward) {
    if (ui::Image::named(name)) return;
    const double w = 44, h = 36;
    ui::ImageContext c({w, h}, false, 2);
    const double tip = forward ? w * 0.85 : w * 0.15, tail = forward ? w * 0.15 : w * 0.85;
    c.strokeLine({tail, h / 2}, {tip, h / 2}, 4, ui::Color::gray());
    c.strokePath({{(tip + tail) / 2, h * 0.2}, {tip, h / 2}, {(tip + tail) / 2, h * 0.8}}, 4, ui::Color::gray());
    ui::Image::registerNamed(name, c.image());
  };
  draw(kStockForwardArrow, true);
  draw(kStockBackArrow, false);
}

}  // namespace orvo
