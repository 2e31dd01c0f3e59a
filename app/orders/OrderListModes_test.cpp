// The item list in its modes and hand-offs: the real-time forms of the price request,
// sections by style in multi-colour mode, the stock pop-up's ordered sizes, the subtotal
// hand-off, and the camera by shake.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/core/JsonClass.h"
#include "app/orders/OrderScreens.h"
#include "platform/foundation/Clock.h"
#include "app/core/OrderBackup.h"
#include "testing/app/OrderRoadTestSupport.h"

namespace orvo {
namespace {

using nlohmann::json;
using test_support::OrderRoadHarness;

std::string field(const json& line, const char* key) { return line.value(key, std::string("?")); }

// What the stock pop-up and the subtotal list are handed.
class RecordingStockPopup : public StandInViewController, public StockPopupReceiver {
 public:
  explicit RecordingStockPopup(std::string nib) : StandInViewController(std::move(nib)) {}
  void setBarcode(const std::string& v) override { got["barcode"] = v; }
  void setStyle(const std::string& v) override { got["style"] = v; }
  void setColor(const std::string& v) override { got["color"] = v; }
  void setOrderedQty(const std::string& v) override { got["orderedQty"] = v; }
  void setBundle(const std::string& v) override { got["bundle"] = v; }
  void setBundle_lbl(const std::string& v) override { got["bundle_lbl"] = v; }
  static inline json got = json::object();
};
class RecordingSubtotal : public StandInViewController, public OrderLinesReceiver {
 public:
  explicit RecordingSubtotal(std::string nib) : StandInViewController(std::move(nib)) {}
  void setOrderListArray(const json& lines) override { rows = lines; }
  static inline json rows = nullptr;
};

class OrderListModes : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(t.started);
    auto& r = ui::ViewControllerRegistry::shared();
    r.add<RecordingStockPopup>("AtsViewController");
    r.add<RecordingSubtotal>("SubtotalViewController");
    RecordingStockPopup::got = json::object();
    RecordingSubtotal::rows = nullptr;
  }
  OrderListViewController* open() {
    t.launch();
    return t.walkToItemList("harbor o", {0, 0}, 0);
  }
  void scan(const std::string& code) {
    t.app.devices->raiseBarcode(code);
    t.waitForRequests();
  }
  json lastItems() {
    auto text = t.server.received("GetPrice").back().param("JsonItemsForRealtime");
    return json::parse(text);
  }

  foundation::ScopedManualClock clock;
  OrderRoadHarness t;
};

TEST_F(OrderListModes, RealTimePriceRequestsCarryTheNewOrderTheLineOrTheCode) {
  t.defaults().setBool("RealtimeSoStatus", true);
  auto* list = open();
  ASSERT_NE(list, nullptr);
  GlobalSO& so = t.app.delegate->globalSO();
  so.loginID = "demo";
  so.orderTypeCode = "PRE";

  scan("400000000002");
  // An empty new order: its head, in this order.
  auto raw = t.server.received("GetPrice").back().param("JsonItemsForRealtime");
  EXPECT_LT(raw.find("\"DivisionCode\""), raw.find("\"WarehouseCode\""));
  EXPECT_LT(raw.find("\"StoreCode\""), raw.find("\"OrderType\""));
  EXPECT_EQ(lastItems(), json::parse(R"([{"NEWSO":{"DivisionCode":"01","WarehouseCode":"WH1","LoginUser":"demo",
      "CustomerCode":"C1001","StoreCode":"C1001-1","OrderType":"PRE"}}])"));
  // The server's new order number is taken.
  ASSERT_FALSE(so.orderNumber.empty());
  EXPECT_EQ(list->lbl_topOrderInfo()->text(), "SO# " + so.orderNumber + " \tPrice Level : 1");

  scan("400000000041");  // not in the cart: the code alone
  EXPECT_EQ(lastItems(), (json::array({{{so.orderNumber, {{"Barcode", "400000000041"}}}}})));
  EXPECT_EQ(t.server.received("GetPrice").back().param("EditOrderNum"), so.orderNumber);
  scan("400000000002");  // in the cart: its line with one more
  EXPECT_EQ(lastItems(),
            (json::array({{{so.orderNumber, {{"Barcode", "400000000002"}, {"Qty", "2"}, {"Price", "8.50"}}}}})));
  // Without the real-time switch the parameter is not sent at all (see the road test).
}

TEST_F(OrderListModes, MultiColourModeGroupsLinesByStyleAndDropsAnEmptiedSection) {
  t.defaults().setBool("MultiColorSoStatus", true);
  auto* list = open();
  ASSERT_NE(list, nullptr);
  scan("400000000041");  // HD400
  scan("400000000002");  // TS100
  scan("400000000045");  // HD400 again, another colour: joins its style
  EXPECT_TRUE(t.h->tapBarItem(list->nextBarButtonItem()));
  t.settle();
  EXPECT_EQ(list->indexTitle(), (std::vector<std::string>{"HD400", "TS100"}));
  auto* table = list->orderListTableView();
  EXPECT_EQ(table->numberOfSections(), 2);
  EXPECT_EQ(table->numberOfRowsInSection(0), 2);
  EXPECT_EQ(table->sectionIndexTitles(), list->indexTitle());
  EXPECT_EQ(field(list->orderListArray()[1], "Barcode"), "400000000045");

  EXPECT_TRUE(t.h->swipeRow(*table, {1, 0}, ui::SwipeLeft));
  EXPECT_TRUE(t.h->tap(t.h->findLabel("Delete")));
  t.settle();
  EXPECT_EQ(table->numberOfSections(), 1);
  EXPECT_EQ(list->indexTitle(), std::vector<std::string>{"HD400"});
  EXPECT_EQ(list->orderListArray().size(), 2u);
}

TEST_F(OrderListModes, StockPopupGetsTheCartsSizesOfTheStyleAndColour) {
  auto* list = open();
  ASSERT_NE(list, nullptr);
  scan("400000000003");  // TS100 BLK L
  scan("400000000002");  // TS100 BLK M
  scan("400000000002");
  t.h->tap(list->btn_ATSButton());
  t.settle();
  const json& got = RecordingStockPopup::got;
  EXPECT_EQ(got.value("barcode", ""), "400000000002");
  EXPECT_EQ(got.value("bundle", ""), "M");
  EXPECT_EQ(got.value("bundle_lbl", ""), "SizeCode  ");
  EXPECT_EQ(json::parse(got.value("orderedQty", "null")), json::parse(R"([{"L":"1"},{"M":"2"}])"));
  t.topScreen()->navigationController()->dismissViewControllerAnimated(false);
  t.settle();

  scan("500000000000");  // a prepack: its own quantity
  t.h->tap(list->btn_ATSButton());
  t.settle();
  EXPECT_EQ(RecordingStockPopup::got.value("bundle", ""), "TS100-PP1");
  EXPECT_EQ(RecordingStockPopup::got.value("bundle_lbl", ""), "Bundle  ");
  EXPECT_EQ(RecordingStockPopup::got.value("orderedQty", ""), "1");
}

TEST_F(OrderListModes, SubtotalGetsSixValuesPerLineOrTheUserIsToldToCheck) {
  auto* list = open();
  ASSERT_NE(list, nullptr);
  scan("400000000002");
  EXPECT_TRUE(t.h->tapBarItem(list->nextBarButtonItem()));
  t.settle();
  ASSERT_TRUE(t.h->tap(list->footerImageView()));
  t.settle();
  ASSERT_TRUE(RecordingSubtotal::rows.is_array());
  ASSERT_EQ(RecordingSubtotal::rows.size(), 1u);
  EXPECT_EQ(RecordingSubtotal::rows[0].size(), 6u);
  EXPECT_EQ(RecordingSubtotal::rows[0]["extPrice"], "8.50");
  t.topScreen()->navigationController()->dismissViewControllerAnimated(false);
  t.settle();

  // A restored line without its dates cannot be subtotalled: the next start offers the
  // unfinished order, whose line lacks them, and the footer tells the user to check.
  RecordingSubtotal::rows = nullptr;
  t.app.delegate->initFlag();
  t.app.root->dismissViewControllerAnimated(false);
  t.settle();
  OrderBackup::standard().update({{"backupOrderListArray", json::array({{{"Barcode", "1"}, {"Qty", "1"}}})}});
  t.openOrderType();
  ASSERT_TRUE(t.h->chooseRow(*t.top<SoOrderTypeViewController>()->tableView(), {0, 0}));
  t.settle();
  ASSERT_EQ(t.alertMessages(), std::vector<std::string>{"Do you want to load previous order list?"});
  t.press("Yes");
  auto* restored = t.top<OrderListViewController>();
  ASSERT_NE(restored, nullptr);
  ASSERT_EQ(restored->orderListArray().size(), 1u);
  ASSERT_TRUE(t.h->tap(restored->footerImageView())) << t.h->dump();
  t.settle();
  EXPECT_EQ(t.alertMessages(), std::vector<std::string>{"Please check the subtotal in Orvo."});
  EXPECT_TRUE(RecordingSubtotal::rows.is_null());
}

TEST_F(OrderListModes, ShakeOpensTheCameraInCameraModeButNotWhileALineIsEdited) {
  auto* list = open();
  ASSERT_NE(list, nullptr);
  scan("400000000002");
  EXPECT_TRUE(t.h->tapBarItem(list->nextBarButtonItem()));
  t.settle();
  ASSERT_EQ(ui::Responder::firstResponder(), nullptr);  // nothing is being typed
  t.h->shake();
  t.settle();
  EXPECT_EQ(t.topScreen(), list);  // camera mode is off
  t.app.delegate->settings().isCameraScannerMode = true;
  ASSERT_TRUE(t.h->chooseRow(*list->orderListTableView(), {0, 0}));
  t.settle();
  t.h->shake();  // from the quantity field being edited, up to the screen
  t.settle();
  EXPECT_EQ(t.topScreen(), list);  // editing a line
  EXPECT_TRUE(t.h->tapBarItem(list->nextBarButtonItem()));
  t.settle();
  t.h->shake();
  t.settle();
  EXPECT_EQ(t.topScreen()->nibName(), "CameraScanViewController");
}

}  // namespace
}  // namespace orvo
