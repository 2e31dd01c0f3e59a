// What a user sees of the item list's rows and the order header: measured with the renderer's real font metrics,
// through the screen as the road builds it (a size line and a prepack line, with and without
// the section index of multi-colour mode), nothing in a row lies over anything else or under
// the chevron, and each text fits its label.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/orders/OrderCells.h"
#include "app/orders/OrderScreens.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/Text.h"
#include "platform/ui/qt/Offscreen.h"
#include "testing/app/OrderRoadTestSupport.h"

namespace orvo {
namespace {

using test_support::OrderRoadHarness;

std::string shownText(const ui::Label& l) {
  if (!l.hasAttributedText()) return l.text();
  std::string all;
  for (const auto& run : l.attributedText()) all += run.text;
  return all;
}

bool overlap(ui::Rect a, ui::Rect b) {
  return a.x() < b.maxX() && b.x() < a.maxX() && a.y() < b.maxY() && b.y() < a.maxY();
}

TEST(OrderListLayout, RowsKeepTheirPartsApartAndTheirTextsInsideTheirLabels) {
  ui::qt::ensureGuiApplication();  // the painted text's metrics, as on screen
  for (bool multiColour : {false, true}) {
    SCOPED_TRACE(multiColour ? "multi-colour (section index)" : "one list");
    foundation::ScopedManualClock clock;
    OrderRoadHarness t;
    ASSERT_TRUE(t.started);
    t.defaults().setBool("MultiColorSoStatus", multiColour);
    t.launch();
    auto* list = t.walkToItemList("harbor o", {0, 0}, 0);
    ASSERT_NE(list, nullptr);
    for (const char* code : {"400000000002", "500000000000"}) {  // a size, then a prepack
      t.app.devices->raiseBarcode(code);
      t.waitForRequests();
      while (t.h->topAlert()) t.press("OK");
      ASSERT_TRUE(t.h->tapBarItem(list->nextBarButtonItem()));
      t.settle();
    }
    auto* table = list->orderListTableView();
    const auto cells = table->visibleCells();
    ASSERT_EQ(cells.size(), 2u);
    for (auto* base : cells) {
      auto* cell = dynamic_cast<CustomCellForOrderList*>(base);
      ASSERT_NE(cell, nullptr);
      const ui::Rect content = cell->contentView().convertRectToWindow(cell->contentView().bounds());
      struct Part {
        const char* name;
        ui::Label* label;
      };
      const Part parts[] = {{"style and colour", &cell->customStyleColor()},
                            {"quantity", &cell->customQty()},
                            {"pieces", &cell->customPrepackQty()},
                            {"detail", &cell->customDetail()}};
      for (size_t i = 0; i < std::size(parts); ++i) {
        SCOPED_TRACE(std::string(parts[i].name) + ": " + shownText(*parts[i].label));
        const ui::Label& l = *parts[i].label;
        const ui::Rect f = l.convertRectToWindow(l.bounds());
        // Left of the chevron and inside the row.
        EXPECT_LE(f.maxX(), content.maxX());
        EXPECT_GE(f.x(), content.x());
        EXPECT_LE(f.maxY(), content.maxY());
        for (size_t j = i + 1; j < std::size(parts); ++j)
          EXPECT_FALSE(overlap(f, parts[j].label->convertRectToWindow(parts[j].label->bounds())))
              << "lies over the " << parts[j].name;
        // The text whole in its label: on one line where the label has one, else within its
        // lines and height.
        const std::string text = shownText(l);
        if (text.empty() || l.adjustsFontSizeToFitWidth()) continue;
        const ui::Size need = l.numberOfLines() == 1 ? ui::measureText(text, l.font())
                                                     : ui::measureText(text, l.font(), f.width());
        EXPECT_LE(need.width, f.width());
        EXPECT_LE(need.height, f.height());
        if (l.numberOfLines() > 1) {  // no line beyond the label's last is cut off
          EXPECT_LE(need.height, ui::measureText("Ag", l.font()).height * l.numberOfLines() + 1);
        }
      }
    }
  }
}

// The order header's row titles shrink to their width where they are longer ("Pay Method:"),
// whole, never cut off with an ellipsis.
TEST(OrderListLayout, HeaderTitlesFitTheirLabels) {
  ui::qt::ensureGuiApplication();
  foundation::ScopedManualClock clock;
  OrderRoadHarness t;
  ASSERT_TRUE(t.started);
  t.launch();
  auto* header = t.walkToHeader({"400000000002"});
  ASSERT_NE(header, nullptr);
  int checked = 0;
  for (auto* cell : header->tableView()->visibleCells()) {
    const ui::Label& title = cell->textLabel();
    if (title.text().empty() || title.isHidden()) continue;
    SCOPED_TRACE(title.text());
    ++checked;
    EXPECT_LE(ui::measureText(title.text(), title.effectiveFont()).width, title.frame().width());
  }
  EXPECT_GE(checked, 9);
}

}  // namespace
}  // namespace orvo
