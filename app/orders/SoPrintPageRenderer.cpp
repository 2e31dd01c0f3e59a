#include "app/orders/SoPrintPageRenderer.h"

#include "platform/ui/Text.h"

namespace orvo {
namespace {

const ui::Font kHeaderFont = ui::Font::named("Helvetica", 14);
const ui::Font kFooterFont = ui::Font::named("Helvetica", 9);
constexpr double kFooterRightMargin = 5;
constexpr double kFooterHeightAdjustment = 10;

}  // namespace

void SoPrintPageRenderer::setHeaderText(const std::optional<std::string>& text) {
  if (text == headerText_) return;
  headerText_ = text;
  if (text) headerHeight_ = ui::measureText(*text, kHeaderFont).height;
}

void SoPrintPageRenderer::setFooterText(const std::optional<std::string>& text) {
  if (text == footerText_) return;
  footerText_ = text;
  if (text) footerHeight_ = ui::measureText(*text, kFooterFont).height - kFooterHeightAdjustment;
}

void SoPrintPageRenderer::drawHeaderForPageAtIndex(int64_t, ui::Rect rect) {
  if (!headerText_) return;
  const ui::Size size = ui::measureText(*headerText_, kHeaderFont);
  drawn_.push_back({*headerText_, kHeaderFont,
                    {rect.maxX() / 2 - size.width / 2, rect.maxY() - size.height}});
}

void SoPrintPageRenderer::drawFooterForPageAtIndex(int64_t pageIndex, ui::Rect rect) {
  const std::string number = std::to_string(pageIndex + 1) + " - " + std::to_string(pageRange_.length);
  const ui::Size size = ui::measureText(number, kFooterFont);
  const double y = rect.maxY() - size.height;
  drawn_.push_back({number, kFooterFont, {rect.maxX() / 2 - size.width / 2, y}});
  if (!footerText_) return;
  const ui::Size footer = ui::measureText(*footerText_, kFooterFont);
  drawn_.push_back({*footerText_, kFooterFont, {rect.maxX() - footer.width - kFooterRightMargin, y}});
}

}  // namespace orvo
