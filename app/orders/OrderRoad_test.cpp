// The order road walked as a user walks it, against the back office on loopback: order type,
// selector, customer search, store, and the item list with scanned and typed codes, prices,
// totals, the booking limit, edited prices, the backup and bad answers.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/orders/OrderListViewController.h"
#include "app/orders/SoOrderTypeViewController.h"
#include "app/orders/SoSelectorViewController.h"
#include "app/orders/StyleInfoTableViewController.h"
#include "app/orders/StyleLookupViewController.h"
#include "platform/foundation/Clock.h"
#include "app/core/OrderBackup.h"
#include "testing/app/OrderRoadTestSupport.h"

namespace orvo {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;
using test_support::OrderRoadHarness;

class OrderRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(t.started);
    t.launch();
  }

  OrderListViewController* walkToItemList(const std::string& search = "maple", ui::IndexPath customer = {0, 0},
                                          int storeRow = 1, int typeRow = 1) {
    return t.walkToItemList(search, customer, storeRow, typeRow);
  }

  void scan(const std::string& code) {
    t.app.devices->raiseBarcode(code);
    t.waitForRequests();
  }
  static std::string field(const json& line, const char* key) { return line.value(key, std::string("?")); }

  foundation::ScopedManualClock clock;
  OrderRoadHarness t;
};

TEST_F(OrderRoad, FromOrderTypeToTheItemListWithAScannedAndATypedCodePricedSavedAndTotalled) {
  auto* list = walkToItemList();
  ASSERT_NE(list, nullptr) << t.h->dump();
  GlobalSO& so = t.app.delegate->globalSO();
  EXPECT_EQ(so.orderTypeCode, "PRE");
  EXPECT_EQ(so.customerID, "C1002");
  EXPECT_EQ(so.storeID, "C1002-2");
  EXPECT_EQ(so.priceLevel, "2");
  EXPECT_DOUBLE_EQ(so.orderDiscountRate, 2.5);
  EXPECT_EQ(list->lbl_topOrderInfo()->text(), "Price Level : 2\tDiscount Rate : 2.50%");
  EXPECT_TRUE(list->btn_NextToGoToOrderInfoViewButton()->isHidden());

  // A scanned size: priced at level 2 less 2.5 %.
  scan("400000000002");
  ASSERT_EQ(list->orderListArray().size(), 1u);
  const json line = list->orderListArray()[0];
  EXPECT_EQ(field(line, "Kind"), "upc");
  EXPECT_EQ(field(line, "Qty"), "1");
  EXPECT_EQ(field(line, "OrgPrice"), "8.07");
  EXPECT_EQ(field(line, "Price"), "7.87");
  EXPECT_EQ(field(line, "extPrice"), "7.87");
  EXPECT_EQ(field(line, "Id"), "0");
  EXPECT_EQ(line.size(), 24u);
  auto request = t.server.received("GetPrice").back();
  std::vector<std::string> names;
  for (auto& [k, v] : request.params) names.push_back(k);
  EXPECT_EQ(names, (std::vector<std::string>{"ItemCode", "CustomerCode", "StoreCode", "PriceEditLevel", "PriceLevel",
                                             "OrderDiscountRate", "DupItemHandlingMode", "EditOrderNum", "WH"}));
  EXPECT_EQ(request.param("OrderDiscountRate"), "2.500000");
  EXPECT_EQ(request.param("PriceEditLevel"), "2");
  EXPECT_TRUE(list->isDetailShowing());
  EXPECT_EQ(list->lbl_price()->text(), "$8.07 $7.87");  // struck-through price before discount

  // The code on display scanned again: one more, without asking the server.
  scan("400000000002");
  EXPECT_EQ(t.calls("GetPrice"), 1);
  EXPECT_EQ(field(list->orderListArray()[0], "Qty"), "2");
  EXPECT_EQ(field(list->orderListArray()[0], "extPrice"), "15.74");

  // A prepack found on the style search by hand comes back as a scan. The hand search is
  // on the bar once the item on display is saved.
  EXPECT_EQ(t.h->findLabel("Manual"), nullptr);
  ASSERT_TRUE(t.h->tapBarItem(list->nextBarButtonItem()));
  t.settle();
  ASSERT_TRUE(t.h->tap(t.h->findLabel("Manual")));
  t.settle();
  auto* search = t.top<StyleInfoTableViewController>();
  ASSERT_NE(search, nullptr);
  EXPECT_TRUE(search->isOrderScanMode());
  t.h->typeText("ts100");
  t.h->pressReturn();
  t.waitForRequests();
  ASSERT_EQ(search->indexTitle(), std::vector<std::string>{"TS100"});
  ASSERT_TRUE(t.h->chooseRow(*search->tableView(), {0, 0}));
  t.settle();
  EXPECT_EQ(so.manualBarcode, "500000000000");
  EXPECT_EQ(t.topScreen(), list);
  t.h->advance(200ms);  // the code is replayed a moment after the list reappears
  t.waitForRequests();
  EXPECT_EQ(t.calls("GetPrice"), 2);
  ASSERT_EQ(list->orderListArray().size(), 2u);
  const json pack = list->orderListArray()[1];
  EXPECT_EQ(field(pack, "Kind"), "bundle");
  EXPECT_EQ(field(pack, "Bundle"), "TS100-PP1");
  EXPECT_EQ(field(pack, "Sum"), "6");
  EXPECT_EQ(field(pack, "extPrice"), "47.22");  // 7.87 × 6 × 1
  EXPECT_TRUE(so.manualBarcode.empty());

  // Saved with NEXT of the bar: totals in units and money, and next hands the cart on.
  EXPECT_TRUE(t.h->tapBarItem(list->nextBarButtonItem()));
  t.settle();
  EXPECT_FALSE(list->isDetailShowing());
  EXPECT_EQ(so.orderTotalQty, "8");
  EXPECT_EQ(so.orderTotalExtPrice, "62.96");
  EXPECT_EQ(list->lbl_tUnites()->text(), "8");
  EXPECT_EQ(list->lbl_tPrice()->text(), "$62.96");
  EXPECT_FALSE(list->btn_NextToGoToOrderInfoViewButton()->isHidden());
  ASSERT_TRUE(t.h->tap(list->btn_NextToGoToOrderInfoViewButton()));
  t.settle();
  EXPECT_EQ(so.lastOrderListArray, list->orderListArray());
  EXPECT_EQ(t.topScreen()->nibName(), "OrderInfoViewController");
}

TEST_F(OrderRoad, BookingLimitOfAScannedItemFollowsItsQuantity) {
  auto* list = walkToItemList("harbor o", {0, 0}, 0);
  ASSERT_NE(list, nullptr) << t.h->dump();
  // Limit 5: the first scan books one (limit 4), each further scan one more.
  scan("400000000006");
  ASSERT_EQ(list->orderListArray().size(), 1u);
  EXPECT_EQ(field(list->orderListArray()[0], "OverBookingLimit"), "4");
  scan("400000000006");
  EXPECT_EQ(field(list->orderListArray()[0], "Qty"), "2");
  EXPECT_EQ(field(list->orderListArray()[0], "OverBookingLimit"), "3");

  // Typing 9 asks for 7 more than the 2 held: capped at 5, limit 0, and the notice.
  t.h->typeText("9");  // "29" would be the text; the rule caps it
  t.settle();
  EXPECT_EQ(list->txt_Qty()->text(), "5");
  EXPECT_EQ(field(list->orderListArray()[0], "Qty"), "5");
  EXPECT_EQ(field(list->orderListArray()[0], "OverBookingLimit"), "0");
  ASSERT_TRUE(t.waitForAlert("All ATS has been booked. \nYou can't order this item more."));
  t.press("OK");
  // Lowering gives the units back to the limit; leaving the item keeps the sum.
  t.h->deleteBackward();
  t.h->typeText("3");
  t.settle();
  EXPECT_EQ(field(list->orderListArray()[0], "Qty"), "3");
  EXPECT_EQ(field(list->orderListArray()[0], "OverBookingLimit"), "2");
  EXPECT_TRUE(t.h->tapBarItem(list->nextBarButtonItem()));
  t.settle();
  EXPECT_EQ(field(list->orderListArray()[0], "Qty"), "3");
  EXPECT_EQ(field(list->orderListArray()[0], "OverBookingLimit"), "2");

  // Fully booked (limit -1): a new item gets no line and the proposal shows 0.
  scan("400000000008");
  EXPECT_EQ(list->orderListArray().size(), 1u);
  EXPECT_EQ(list->txt_Qty()->text(), "0");
}

TEST_F(OrderRoad, EditedPriceAppliesToEveryLineOfTheStyleAndColourAndNotBelowTheMinimum) {
  auto* list = walkToItemList("harbor o", {0, 0}, 0);
  ASSERT_NE(list, nullptr);
  scan("400000000002");  // TS100 BLK M, 8.50
  scan("400000000003");  // TS100 BLK L
  scan("400000000006");  // TS100 WHT M
  ASSERT_EQ(list->orderListArray().size(), 3u);
  t.settle();
  ASSERT_TRUE(t.h->tap(list->btn_EditPriceButton()));
  t.settle();
  ASSERT_TRUE(list->isEditPriceShowing());
  EXPECT_EQ(list->txt_editPrice()->text(), "8.50");
  // One cent below the minimum (6.80) is refused.
  ASSERT_TRUE(t.h->tap(list->txt_editPrice()));
  t.h->deleteBackward(8);
  t.h->typeText("6.79");
  ASSERT_TRUE(t.h->tap(list->btn_editPriceSaveButton()));
  t.settle();
  EXPECT_EQ(t.alertMessages(), std::vector<std::string>{"The unit price should be $6.80 or more."});
  t.press("OK");
  EXPECT_EQ(list->txt_editPrice()->text(), "8.50");
  EXPECT_TRUE(list->isEditPriceShowing());

  ASSERT_TRUE(t.h->tap(list->txt_editPrice()));
  t.h->deleteBackward(8);
  t.h->typeText("6.8");
  ASSERT_TRUE(t.h->tap(list->btn_editPriceSaveButton()));
  t.settle();
  EXPECT_FALSE(list->isEditPriceShowing());
  ASSERT_EQ(list->editedPriceArray().size(), 1u);
  EXPECT_EQ(list->editedPriceArray()[0], (json{{"Style", "TS100"}, {"Color", "WHT"}, {"EditedPrice", "6.80"}}));
  // Only the white lines of TS100 change.
  EXPECT_EQ(field(list->orderListArray()[0], "Price"), "8.50");
  EXPECT_EQ(field(list->orderListArray()[2], "Price"), "6.80");
  EXPECT_EQ(field(list->orderListArray()[2], "extPrice"), "6.80");
  // A white size priced later takes the edited price.
  scan("400000000007");
  EXPECT_EQ(field(list->orderListArray()[3], "Price"), "6.80");
}

TEST_F(OrderRoad, BackupIsSavedOnReloadOfferedOnTheNextVisitAndDroppedWhenTooOld) {
  auto* list = walkToItemList("harbor o", {0, 0}, 0);
  ASSERT_NE(list, nullptr);
  scan("400000000002");
  scan("400000000040");
  EXPECT_TRUE(t.h->tapBarItem(list->nextBarButtonItem()));
  t.settle();
  json stored = OrderBackup::standard().values().value("backupOrderListArray", json());
  ASSERT_TRUE(stored.is_array());
  EXPECT_EQ(stored, list->orderListArray());
  EXPECT_EQ(OrderBackup::standard().values().value("backupCustomerId", json()), "C1001");

  // The next start of the application: the selector offers the unfinished order.
  t.app.delegate->initFlag();
  t.app.root->dismissViewControllerAnimated(false);
  t.settle();
  foundation::UserDefaults::resetStandard();  // read back from the files, as at a start
  OrderBackup::resetStandard();
  t.openOrderType();
  t.h->advance(19min);
  t.h->chooseRow(*t.top<SoOrderTypeViewController>()->tableView(), {0, 0});
  t.settle();
  ASSERT_EQ(t.alertMessages(), std::vector<std::string>{"Do you want to load previous order list?"});
  t.press("Yes");
  auto* restored = t.top<OrderListViewController>();
  ASSERT_NE(restored, nullptr);
  EXPECT_EQ(restored->orderListArray().size(), 2u);
  EXPECT_EQ(t.app.delegate->globalSO().customerID, "C1001");
  EXPECT_EQ(t.app.delegate->globalSO().orderTotalQty, "2");

  // Back to the selector: a backup 20 minutes old is dropped without a question.
  restored->navigationController()->popViewControllerAnimated(false);
  t.app.dismissAlerts();
  t.h->advance(20min);
  auto* selector = t.top<SoSelectorViewController>();
  ASSERT_NE(selector, nullptr);
  // The style look-up and Back bring the selector up again.
  ASSERT_TRUE(t.h->tap(selector->styleLookupButton())) << t.h->dump();
  t.settle();
  auto* lookup = t.top<StyleLookupViewController>();
  ASSERT_NE(lookup, nullptr) << t.h->dump();
  ASSERT_TRUE(t.h->tapBarItem(lookup->navigationItem().leftBarButtonItem())) << t.h->dump();  // Back
  t.settle();
  EXPECT_TRUE(t.alertMessages().empty());
  EXPECT_TRUE(OrderBackup::standard().values().value("backupOrderListArray", json()).is_null());
}

}  // namespace
}  // namespace orvo
