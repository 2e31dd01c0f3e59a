#pragma once
// The stock grid that the style look-up and the stock pop-up share: seven rows of text
// (sizes, on hand, orders, purchase orders, ATS, OTS, ATA) in a horizontally scrolling
// area, five characters and 50 points per size, with a caption before each row, a summary
// figure after each stock row, and an arrow that hints at sizes beyond the visible five.
// The rows are shown as the server sends them, in a fixed-width font so the columns line
// up. Main thread.

#include <array>
#include <memory>
#include <string>

#include "platform/ui/ImageView.h"
#include "platform/ui/Label.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/View.h"

namespace orvo {

// The grid's width per size and the characters each size takes in a row's text.
inline constexpr double kStockColumnWidth = 50;
inline constexpr int kStockColumnChars = 5;
// More sizes than this and the arrow shows.
inline constexpr int kStockVisibleSizes = 5;
inline constexpr const char* kStockForwardArrow = "stock-forward-100.png";
inline constexpr const char* kStockBackArrow = "stock-back-100.png";

// The number of sizes in a stock row's text: its length divided by five, rounded down.
int stockSizeCount(const std::string& sizeList);

class StockGrid {
 public:
  static constexpr int kRows = 7;     // sizes first
  static constexpr int kTotals = 6;   // one per stock row
  static constexpr double kRowHeight = 18;
  static constexpr double kVisibleWidth = kStockVisibleSizes * kStockColumnWidth;

  // Adds the grid to `parent` with its top left corner at `origin` (captions included).
  StockGrid(ui::View& parent, ui::Point origin);

  ui::Label& row(int i) const { return *rows_[size_t(i)]; }
  ui::Label& total(int i) const { return *totals_[size_t(i)]; }
  ui::ScrollView& scrollView() const { return *scrollView_; }
  ui::ImageView& arrow() const { return *arrow_; }
  const std::shared_ptr<ui::ScrollView>& scrollViewPtr() const { return scrollView_; }

  // Sizes the scrolling area for `sizeList` (50 points per size), shows the forward arrow
  // for more than five sizes (hides it otherwise) and scrolls back to the start.
  void setStockScrollViewSize(const std::string& sizeList);
  // After the user's scrolling: the back arrow at the end, the forward arrow before it.
  void scrollViewDidEndDecelerating();

 private:
  std::shared_ptr<ui::ScrollView> scrollView_;
  std::shared_ptr<ui::ImageView> arrow_;
  std::array<std::shared_ptr<ui::Label>, kRows> rows_;
  std::array<std::shared_ptr<ui::Label>, kTotals> totals_;
};

// Draws the two arrow images unless resources of those names are registered.
void registerStockGridImages();

}  // namespace orvo
