// The subtotal list: the cart summed by cancel date, the immediate date before the same
// plain date, pieces counted line by line, money summed to the cent; and the item list's
// footer handing the cart over against the back office.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/orders/OrderCells.h"
#include "app/orders/SubtotalViewController.h"
#include "platform/foundation/Clock.h"
#include "testing/app/OrderRoadTestSupport.h"

namespace orvo {
namespace {

// The footer's picture under the totals: a tap on it opens the subtotal.
ui::View* footerOf(OrderListViewController& list) {
  for (auto& v : list.lbl_tUnites()->superview()->subviews())
    if (dynamic_cast<ui::ImageView*>(v.get())) return v.get();
  return nullptr;
}

using nlohmann::json;
using test_support::OrderRoadHarness;

json line(const char* date, const char* qty, const char* sum, const char* ext) {
  return {{"Eta", date}, {"EtaForPrint", date}, {"Sum", sum}, {"Price", "1.00"}, {"Qty", qty}, {"extPrice", ext}};
}

std::shared_ptr<SubtotalViewController> subtotalOf(const json& lines) {
  auto vc = std::make_shared<SubtotalViewController>();
  vc->setOrderListArray(lines);
  vc->view();  // loads
  return vc;
}

TEST(Subtotal, SortKeysPutAnImmediateDateADayEarlier) {
  struct Case {
    const char* date;
    const char* key;
  } cases[] = {{"05/01/2024", "2024/05/01"},
               {"05/01/2024 (Immediate)", "2024/04/30"},
               {"01/01/2025 (Immediate)", "2024/12/31"},
               {"03/01/2024 (Immediate)", "2024/02/29"},
               {"13/45/2024", ""},
               {"", ""},
               {"soon", ""}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.date);
    EXPECT_EQ(SubtotalViewController::getSortCancelDate(c.date), c.key);
  }
}

TEST(Subtotal, LinesOfADateMergeAndTheImmediateDateComesFirst) {
  auto vc = subtotalOf(json::array({line("05/01/2024", "2", "6", "10.5"), line("05/01/2024 (Immediate)", "1", "1", "3.10"),
                                    line("05/01/2024", "3", "1", "4"), line("04/15/2024", "1", "1", "0.20")}));
  const json& rows = vc->listContent();
  ASSERT_EQ(rows.size(), 3u);
  EXPECT_EQ(rows[0]["EtaForPrint"], "04/15/2024");
  EXPECT_EQ(rows[1]["EtaForPrint"], "05/01/2024 (Immediate)");
  EXPECT_EQ(rows[2]["EtaForPrint"], "05/01/2024");
  EXPECT_EQ(rows[2]["Qty"], "5");           // packs 2 and 3
  EXPECT_EQ(rows[2]["extPrice"], "14.50");  // 10.5 and 4
  // Pieces of the merged row: 2 packs of 6 and 3 of 1, each by its own pack size.
  EXPECT_EQ(rows[2]["Units"], "15");
  auto* table = vc->subtotalTableView();
  ASSERT_EQ(table->numberOfRowsInSection(0), 3);
  EXPECT_EQ(vc->titleForHeaderInSection(*table, 0), "Subtotal by cancel date");
  auto* cell = dynamic_cast<CustomCellForSubtotal*>(table->cellForRowAtIndexPath({0, 2}));
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(cell->lbl_cancelDate().text(), "05/01/2024");
  EXPECT_EQ(cell->lbl_unitQty().text(), "15");
  EXPECT_EQ(cell->lbl_packQty().text(), "5");
  EXPECT_EQ(cell->lbl_subtotal().text(), "$14.50");
  // The rows add up to the total.
  EXPECT_EQ(vc->lbl_totalQty()->text(), "17");
  EXPECT_EQ(vc->lbl_totalExtPrice()->text(), "$17.80");
  EXPECT_FALSE(table->allowsSelection());
}

TEST(Subtotal, AnEmptyCartHasNoRowsAndZeroTotals) {
  auto vc = subtotalOf(json::array());
  EXPECT_TRUE(vc->listContent().empty());
  EXPECT_EQ(vc->lbl_totalQty()->text(), "0");
  EXPECT_EQ(vc->lbl_totalExtPrice()->text(), "$0.00");
}

TEST(Subtotal, TheFooterOfTheItemListShowsTheCartByDateAndCloses) {
  foundation::ScopedManualClock clock;
  OrderRoadHarness t;
  ASSERT_TRUE(t.started);
  t.launch();
  auto* list = t.walkToItemList("harbor o", {0, 0}, 0);
  ASSERT_NE(list, nullptr) << t.h->dump();
  for (const char* code : {"400000000002", "400000000005", "500000000000"}) {  // in stock, not, prepack
    t.app.devices->raiseBarcode(code);
    t.waitForRequests();
    t.app.dismissAlerts();
    EXPECT_TRUE(t.h->tapBarItem(list->nextBarButtonItem()));
    t.settle();
  }
  ASSERT_EQ(list->orderListArray().size(), 3u);
  ASSERT_TRUE(t.h->tap(footerOf(*list))) << t.h->dump();
  t.settle();
  auto* sub = t.top<SubtotalViewController>();
  ASSERT_NE(sub, nullptr) << t.h->dump();
  const json& rows = sub->listContent();
  ASSERT_EQ(rows.size(), 2u);
  // Items in stock are due at once; the immediate date sorts before the later plain one.
  EXPECT_NE(rows[0]["EtaForPrint"].get<std::string>().find("(Immediate)"), std::string::npos);
  EXPECT_EQ(rows[1]["EtaForPrint"], "09/01/2026");
  EXPECT_EQ(sub->lbl_totalQty()->text(), t.app.delegate->globalSO().orderTotalQty);
  EXPECT_EQ(sub->lbl_totalExtPrice()->text(), PriceClass::stringToCurrency(t.app.delegate->globalSO().orderTotalExtPrice));
  EXPECT_TRUE(t.h->tapBarItem(sub->navigationItem().leftBarButtonItem()));
  t.settle();
  EXPECT_EQ(t.top<OrderListViewController>(), list);
}

}  // namespace
}  // namespace orvo
