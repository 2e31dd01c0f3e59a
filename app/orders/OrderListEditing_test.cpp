// Working on the lines of the item list: choosing a line to edit, deleting it, the
// earlier-order question, the navigation bar's states and leaving the screen.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/foundation/Clock.h"
#include "app/core/OrderBackup.h"
#include "app/orders/OrderCart.h"
#include "app/orders/OrderCells.h"
#include "app/orders/PriceClass.h"
#include "testing/app/OrderRoadTestSupport.h"

namespace orvo {
namespace {

using nlohmann::json;
using test_support::OrderRoadHarness;

std::string field(const json& line, const char* key) { return line.value(key, std::string("?")); }

class OrderListEditing : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(t.started);
    t.launch();
  }
  OrderListViewController* open(const std::string& customer = "harbor o") {
    auto* list = t.walkToItemList(customer, {0, 0}, 0);
    return list;
  }
  void scan(const std::string& code) {
    t.app.devices->raiseBarcode(code);
    t.waitForRequests();
  }
  ui::Color barColor(OrderListViewController* list) {
    return list->navigationController()->navigationBar().barTintColor().value_or(ui::Color::clear());
  }

  foundation::ScopedManualClock clock;
  OrderRoadHarness t;
};

TEST_F(OrderListEditing, ChosenLineIsEditedWithTheScannerOffAndSavedOrRemoved) {
  auto* list = open();
  ASSERT_NE(list, nullptr);
  scan("400000000002");
  scan("400000000041");
  EXPECT_TRUE(t.h->tapBarItem(list->nextBarButtonItem()));
  t.settle();
  EXPECT_EQ(list->title(), "Scan your item");
  EXPECT_EQ(list->backBarButtonItem()->title(), "Back");
  EXPECT_EQ(barColor(list), ui::Color::blue());
  EXPECT_EQ(t.app.devices->scanButtonModes().back(), 1);

  // Choosing the second line: edit state, black bar, scanner off, the line's quantity.
  t.h->chooseRow(*list->orderListTableView(), {0, 1});
  t.settle();
  EXPECT_TRUE(list->isRowEditMode());
  EXPECT_EQ(list->title(), "Edit your item");
  EXPECT_EQ(list->backBarButtonItem()->title(), "Delete");
  EXPECT_EQ(barColor(list), ui::Color::black());
  EXPECT_EQ(t.app.devices->scanButtonModes().back(), 0);
  EXPECT_EQ(list->lbl_style()->text(), "HD400");
  EXPECT_EQ(list->txt_Qty()->text(), "1");
  t.h->deleteBackward();
  t.h->typeText("4");
  EXPECT_TRUE(t.h->tapBarItem(list->nextBarButtonItem()));
  t.settle();
  EXPECT_FALSE(list->isRowEditMode());
  EXPECT_EQ(field(list->orderListArray()[1], "Qty"), "4");
  EXPECT_EQ(field(list->orderListArray()[1], "extPrice"), "85.00");
  EXPECT_EQ(t.app.delegate->globalSO().orderTotalQty, "5");

  // Delete on the bar removes the chosen line.
  t.h->chooseRow(*list->orderListTableView(), {0, 0});
  t.settle();
  EXPECT_TRUE(t.h->tapBarItem(list->backBarButtonItem()));
  t.settle();
  ASSERT_EQ(list->orderListArray().size(), 1u);
  EXPECT_EQ(field(list->orderListArray()[0], "Style"), "HD400");
  EXPECT_FALSE(list->isDetailShowing());
  EXPECT_EQ(t.app.devices->scanButtonModes().back(), 1);

  // A swipe's delete removes a line too; the last one leaves an empty cart, no next.
  EXPECT_TRUE(t.h->swipeRow(*list->orderListTableView(), {0, 0}, ui::SwipeLeft));
  EXPECT_TRUE(t.h->tap(t.h->findLabel("Delete")));
  t.settle();
  EXPECT_TRUE(list->orderListArray().empty());
  EXPECT_TRUE(list->btn_NextToGoToOrderInfoViewButton()->isHidden());
  EXPECT_EQ(t.app.delegate->globalSO().orderTotalExtPrice, "0.00");
  EXPECT_TRUE(OrderBackup::standard().values().value("backupOrderListArray", json()).empty());
}

// Every change of the cart reaches the backup as it happens and the footer's totals follow
// it: after each step the stored cart (read back as a new start reads it) is the screen's,
// the totals are the whole cart's, and the rows on screen show the changed lines.
TEST_F(OrderListEditing, BackupTotalsAndRowsFollowEveryChangeOfTheCart) {
  auto* list = open();
  ASSERT_NE(list, nullptr);
  auto check = [&](const char* step) {
    SCOPED_TRACE(step);
    OrderBackup::resetStandard();  // read from the files
    EXPECT_EQ(OrderBackup::standard().values().value("backupOrderListArray", json()), list->orderListArray());
    const cart::Totals totals = cart::totals(list->orderListArray());
    EXPECT_EQ(t.app.delegate->globalSO().orderTotalQty, std::to_string(totals.units));
    EXPECT_EQ(t.app.delegate->globalSO().orderTotalExtPrice, centsToDecimal(totals.cents));
    ui::TableView& table = *list->orderListTableView();
    ASSERT_EQ(table.numberOfRowsInSection(0), int(list->orderListArray().size()));
    for (int row = 0; row < table.numberOfRowsInSection(0); ++row) {
      auto* cell = dynamic_cast<CustomCellForOrderList*>(table.cellForRowAtIndexPath({0, row}));
      ASSERT_NE(cell, nullptr);
      EXPECT_EQ(cell->customQty().text(), field(list->orderListArray()[size_t(row)], "Qty"));
    }
  };
  scan("400000000002");
  scan("400000000041");
  ASSERT_TRUE(t.h->tapBarItem(list->nextBarButtonItem())) << t.h->dump();
  t.settle();
  check("two lines scanned");

  t.h->chooseRow(*list->orderListTableView(), {0, 1});
  t.settle();
  t.h->deleteBackward();
  t.h->typeText("7");
  ASSERT_TRUE(t.h->tapBarItem(list->nextBarButtonItem())) << t.h->dump();
  t.settle();
  check("a quantity typed");

  scan("400000000002");
  scan("400000000002");
  ASSERT_TRUE(t.h->tapBarItem(list->nextBarButtonItem())) << t.h->dump();
  t.settle();
  check("a line raised by scans");

  scan("400000000003");
  ASSERT_TRUE(t.h->tapBarItem(list->backBarButtonItem()));  // Delete of the item on display
  t.settle();
  check("a new line deleted again");

  ASSERT_TRUE(t.h->swipeRow(*list->orderListTableView(), {0, 0}, ui::SwipeLeft));
  ASSERT_TRUE(t.h->tap(t.h->findLabel("Delete"))) << t.h->dump();
  t.settle();
  check("a line swiped away");
}

TEST_F(OrderListEditing, AQuantityAtTheLargestNumberStaysThereOnTheNextScan) {
  auto* list = open();
  ASSERT_NE(list, nullptr);
  scan("400000000002");
  ASSERT_EQ(list->txt_Qty()->text(), "1");
  // Typed far past what a quantity holds: kept at the largest one.
  ASSERT_TRUE(t.h->type(list->txt_Qty(), "99999999999")) << t.h->dump();
  t.settle();
  EXPECT_EQ(list->txt_Qty()->text(), "2147483647");
  // Scanning it again adds nothing more, and never wraps round to a negative quantity.
  scan("400000000002");
  EXPECT_EQ(list->txt_Qty()->text(), "2147483647");
  ASSERT_EQ(list->orderListArray().size(), 1u);
  EXPECT_EQ(field(list->orderListArray()[0], "Qty"), "2147483647");
}

TEST_F(OrderListEditing, EarlierOrderOfTheCustomerIsAskedForTheFirstUnitOnly) {
  t.defaults().setBool("previousOrderFunc", true);
  auto* list = open("maple");
  ASSERT_NE(list, nullptr);
  scan("400000000003");  // the customer holds 4 on order 2
  ASSERT_EQ(t.alertMessages(),
            std::vector<std::string>{"Existing Sales Order : 2 \n Total Qty : 4 \n Are you sure you want to order?"});
  EXPECT_TRUE(list->isPromptOpen());
  EXPECT_TRUE(list->orderListArray().empty());
  t.press("Yes");
  EXPECT_FALSE(list->isPromptOpen());
  ASSERT_EQ(list->orderListArray().size(), 1u);
  scan("400000000003");  // the second unit is not asked about
  EXPECT_TRUE(t.alertMessages().empty());
  EXPECT_EQ(field(list->orderListArray()[0], "Qty"), "2");

  // An item the customer has not ordered before is taken without a question.
  scan("400000000041");
  EXPECT_TRUE(t.alertMessages().empty());
  EXPECT_EQ(list->orderListArray().size(), 2u);
}

TEST_F(OrderListEditing, LeavingAsksFirstAndClearsTheBackup) {
  auto* list = open();
  ASSERT_NE(list, nullptr);
  scan("400000000002");
  EXPECT_TRUE(t.h->tapBarItem(list->nextBarButtonItem()));
  t.settle();
  ASSERT_FALSE(OrderBackup::standard().values().value("backupOrderListArray", json()).is_null());
  EXPECT_TRUE(t.h->tapBarItem(list->backBarButtonItem()));
  t.settle();
  EXPECT_EQ(t.alertMessages(),
            std::vector<std::string>{"Are you sure you want to leave this page?\n All items on your cart will be deleted."});
  EXPECT_EQ(t.app.devices->scanButtonModes().back(), 0);
  t.press("No");
  EXPECT_EQ(t.topScreen(), list);
  EXPECT_EQ(t.app.devices->scanButtonModes().back(), 1);
  EXPECT_TRUE(t.h->tapBarItem(list->backBarButtonItem()));
  t.settle();
  t.press("Yes");
  EXPECT_NE(t.topScreen(), list);
  EXPECT_TRUE(OrderBackup::standard().values().value("backupOrderListArray", json()).is_null());
}

TEST_F(OrderListEditing, ARequestThatCannotBeSentLeavesTheItemOnDisplayAsItWas) {
  auto* list = open();
  ASSERT_NE(list, nullptr);
  scan("400000000002");
  net::Reachability::setProbe([] { return net::NotReachable; });
  scan("400000000003");
  net::Reachability::setProbe([] { return net::ReachableViaWiFi; });
  // One alert (the network's), and the code on display is forgotten: the next scan of any
  // code asks the server.
  EXPECT_EQ(t.app.alerts().size(), 1u);
  EXPECT_EQ(list->beforeBarcode(), "");
  EXPECT_EQ(list->orderListArray().size(), 1u);
  t.app.dismissAlerts();
  scan("400000000003");
  EXPECT_EQ(list->orderListArray().size(), 2u);
}

}  // namespace
}  // namespace orvo
