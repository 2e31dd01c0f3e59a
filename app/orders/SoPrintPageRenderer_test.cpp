#include "app/orders/SoPrintPageRenderer.h"

#include <gtest/gtest.h>

#include "platform/ui/Text.h"

namespace orvo {
namespace {

TEST(SoPrintPageRenderer, NumbersEachPageByItsIndexAndTheLengthOfTheRangeDrawn) {
  struct Case {
    SoPrintPageRenderer::PageRange range;
    std::vector<std::string> numbers;
  };
  const Case cases[] = {{{0, 5}, {"1 - 5", "2 - 5", "3 - 5", "4 - 5", "5 - 5"}}, {{2, 3}, {"3 - 3", "4 - 3", "5 - 3"}}};
  for (const Case& c : cases) {
    SoPrintPageRenderer r;
    r.prepareForDrawingPages(c.range);
    for (uint64_t i = c.range.location; i < c.range.location + c.range.length; ++i)
      r.drawFooterForPageAtIndex(static_cast<int64_t>(i), {0, 760, 612, 32});
    std::vector<std::string> drawn;
    for (const auto& d : r.drawn()) drawn.push_back(d.text);
    EXPECT_EQ(drawn, c.numbers);
  }
}

TEST(SoPrintPageRenderer, HeaderCentredAndFooterTextAtTheRightOfThePageNumber) {
  SoPrintPageRenderer r;
  r.drawHeaderForPageAtIndex(0, {0, 0, 612, 40});
  EXPECT_TRUE(r.drawn().empty());  // no header text, no header
  r.setHeaderText("SO# 10001");
  r.setFooterText("Orvo Apparel");
  const ui::Size header = ui::measureText("SO# 10001", ui::Font::named("Helvetica", 14));
  EXPECT_EQ(r.headerHeight(), header.height);
  EXPECT_EQ(r.footerHeight(), ui::measureText("Orvo Apparel", ui::Font::named("Helvetica", 9)).height - 10);
  r.prepareForDrawingPages({0, 1});
  r.drawHeaderForPageAtIndex(0, {0, 0, 612, 40});
  r.drawFooterForPageAtIndex(0, {0, 760, 612, 32});
  ASSERT_EQ(r.drawn().size(), 3u);
  EXPECT_EQ(r.drawn()[0].origin.x, 306 - header.width / 2);
  EXPECT_EQ(r.drawn()[0].origin.y, 40 - header.height);
  const ui::Size footer = ui::measureText("Orvo Apparel", ui::Font::named("Helvetica", 9));
  EXPECT_EQ(r.drawn()[2].origin.x, 612 - footer.width - 5);
  EXPECT_EQ(r.drawn()[2].origin.y, r.drawn()[1].origin.y);
}

}  // namespace
}  // namespace orvo
