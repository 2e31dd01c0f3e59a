#pragma once
// A page renderer that puts a header text centred at the top of each page, and at the
// bottom each page's number ("<page> - <pages>": the page's index + 1 and the number of
// pages being drawn) centred, with an optional footer text at the right. No print job of
// the application uses it: the back office's PDFs print as they were made. It keeps what
// it drew, so the layout can be read back. Text is in Helvetica.

#include <cstdint>
#include <optional>
#include <string>
#include <vector>

#include "platform/ui/Color.h"
#include "platform/ui/Geometry.h"

namespace orvo {

class SoPrintPageRenderer {
 public:
  struct PageRange {
    uint64_t location = 0;
    uint64_t length = 0;
  };
  struct DrawnText {
    std::string text;
    ui::Font font;
    ui::Point origin;
  };

  void setHeaderText(const std::optional<std::string>& text);
  void setFooterText(const std::optional<std::string>& text);
  const std::optional<std::string>& headerText() const { return headerText_; }
  const std::optional<std::string>& footerText() const { return footerText_; }
  double headerHeight() const { return headerHeight_; }
  double footerHeight() const { return footerHeight_; }

  void prepareForDrawingPages(PageRange range) { pageRange_ = range; }
  void drawHeaderForPageAtIndex(int64_t pageIndex, ui::Rect headerRect);
  void drawFooterForPageAtIndex(int64_t pageIndex, ui::Rect footerRect);

  const std::vector<DrawnText>& drawn() const { return drawn_; }

 private:
  std::optional<std::string> headerText_, footerText_;
  double headerHeight_ = 0, footerHeight_ = 0;
  PageRange pageRange_;
  std::vector<DrawnText> drawn_;
};

// The print header record (a cancel date).
struct PrintHeader {
  std::string cancelDate;
};

}  // namespace orvo
