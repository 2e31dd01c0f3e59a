// What a user sees of the style search's rows, measured with the renderer's real font metrics
// through the screen as the item list opens it: with the section index as wide as its style
// names, every part of a row stays inside the row's content (clear of the chevron and the
// index), and every text shows whole.
#include <gtest/gtest.h>

#include "app/orders/StyleInfoTableViewController.h"
#include "platform/ui/harness/TextFit.h"
#include "platform/ui/qt/Offscreen.h"
#include "testing/app/StyleTestSupport.h"

namespace orvo {
namespace {

bool insideContent(ui::Rect inner, ui::Rect outer) {
  return inner.x() >= outer.x() - 0.01 && inner.maxX() <= outer.maxX() + 0.01;
}

TEST(StyleSearchLayout, RowsKeepInsideTheirContentBesideAWideSectionIndex) {
  ui::qt::ensureGuiApplication();  // the painted text's metrics, as on screen
  test_support::StyleHarness f;
  auto* list = f.t.walkToItemList("harbor o", {0, 0}, 0);
  ASSERT_NE(list, nullptr);
  ASSERT_TRUE(f.t.h->tap(f.t.h->findLabel("Manual"))) << f.t.h->dump();
  f.t.settle();
  auto* s = f.t.top<StyleInfoTableViewController>();
  ASSERT_NE(s, nullptr);
  ASSERT_TRUE(f.t.h->tapBarItem(s->navigationItem().rightBarButtonItem()));  // the search key
  f.t.h->typeText("ts100");
  f.t.h->pressReturn();
  f.t.waitForRequests();

  ui::TableView& table = *s->tableView();
  ASSERT_FALSE(table.sectionIndexTitles().empty());
  EXPECT_GT(table.indexWidth(), 16);  // "TS100" is wider than a letter
  const auto cells = table.visibleCells();
  ASSERT_FALSE(cells.empty()) << f.t.h->dump();
  for (auto* base : cells) {
    auto* cell = dynamic_cast<CustomCellForStyleInfo*>(base);
    ASSERT_NE(cell, nullptr);
    const ui::Rect content = cell->contentView().convertRectToWindow(cell->contentView().bounds());
    for (ui::Label* part : {&cell->lbl_barcode(), &cell->lbl_price(), &cell->lbl_style(), &cell->lbl_color(),
                            &cell->lbl_sizecode(), &cell->lbl_bundle(), &cell->lbl_eta(), &cell->lbl_ats(),
                            &cell->lbl_atsStatus()})
      EXPECT_TRUE(insideContent(part->convertRectToWindow(part->bounds()), content)) << part->describe();
  }
  EXPECT_TRUE(ui::harness::cutTexts(*f.t.h).empty()) << ::testing::PrintToString(ui::harness::cutTexts(*f.t.h));
}

}  // namespace
}  // namespace orvo
