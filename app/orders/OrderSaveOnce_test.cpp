// An order is saved exactly once whatever the user does after the answer of its insert was
// lost: the back office on loopback takes the insert and the answer never arrives, then the
// user saves again as is, adds an item, removes a line, changes the memo or the header,
// restarts the application, or saves the same backup from a second device. Every road ends
// with one order on the server holding the user's last changes, under the number the user
// is shown.
#include <gtest/gtest.h>

#include <filesystem>
#include <nlohmann/json.hpp>

#include "app/core/OrderBackup.h"
#include "app/core/UserDefaultsKeys.h"
#include "app/orders/LastSelectorViewController.h"
#include "app/orders/OrderInfoViewController.h"
#include "app/orders/OrderListViewController.h"
#include "app/orders/SoOrderTypeViewController.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/DateFormat.h"
#include "platform/foundation/Paths.h"
#include "platform/ui/BarButtonItem.h"
#include "testing/app/OrderRoadTestSupport.h"

namespace orvo {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;
using test_support::OrderRoadHarness;

class OrderSaveOnce : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(t.started);
    t.launch();
  }

  // Save → Yes with the insert taken by the server and its answer lost: the request times
  // out on the device, the user closes the alert.
  void retype(OrderInfoViewController* header, ui::View* field, const std::string& text) {
    ASSERT_TRUE(t.retypeHeaderField(*header, field, text)) << t.h->dump();
  }
  void saveWithAnswerLost(OrderInfoViewController* header) {
    const int inserts = t.calls("InsertOrder");
    t.server.setFault("InsertOrder", backoffice::Fault::answerHeld());
    ASSERT_TRUE(t.h->tap(header->saveButton()));
    t.settle();
    ASSERT_TRUE(t.waitForAlert("Are you sure you want to save?"));
    t.press("Yes");
    ASSERT_TRUE(t.app.runUntil([&] { return t.server.heldCount() == 1; }));
    ASSERT_TRUE(t.outwaitHeld(61s));
    ASSERT_FALSE(t.app.alerts().empty());
    t.app.dismissAlerts();
    t.server.clearFaults();
    t.server.releaseHeld();
    EXPECT_EQ(t.calls("InsertOrder"), inserts + 1);
    EXPECT_EQ(t.app.delegate->globalSO().orderNumber, "");
  }

  // The header's Back, to the item list the header was opened from.
  OrderListViewController* backToList(OrderInfoViewController* header) {
    EXPECT_TRUE(t.h->tapBarItem(header->navigationItem().leftBarButtonItem())) << t.h->dump();
    t.settle();
    return t.top<OrderListViewController>();
  }
  // NEXT on the bar when an item is on display, then on to the header, loaded.
  OrderInfoViewController* toHeader(OrderListViewController* list) {
    if (t.h->isReachable(list->nextBarButtonItem()->barView())) t.h->tapBarItem(list->nextBarButtonItem());
    t.settle();
    t.h->tap(list->btn_NextToGoToOrderInfoViewButton());
    t.settle();
    auto* header = t.top<OrderInfoViewController>();
    if (!header) return nullptr;
    t.h->advance(100ms);
    t.waitForRequests();
    return header;
  }
  void scan(const std::string& code) {
    t.app.devices->raiseBarcode(code);
    t.waitForRequests();
  }

  // The application ends and starts again: the user defaults are read back from their
  // file, the order's state in memory is gone, and the user logs in, opens the order type
  // screen and takes the offered unfinished order back.
  OrderListViewController* restartAndLoadBackup() {
    GlobalSO& so = t.app.delegate->globalSO();
    GlobalSO fresh;
    fresh.loginID = so.loginID;
    fresh.priceEditLevel = so.priceEditLevel;
    fresh.divisionCode = so.divisionCode;
    fresh.warehouseCode = so.warehouseCode;
    t.app.delegate->initFlag();
    t.app.root->dismissViewControllerAnimated(false);
    t.settle();
    so = fresh;
    foundation::UserDefaults::resetStandard();
    OrderBackup::resetStandard();
    t.openOrderType();
    t.h->chooseRow(*t.top<SoOrderTypeViewController>()->tableView(), {0, 1});
    t.settle();
    if (!t.waitForAlert("Do you want to load previous order list?")) return nullptr;
    t.press("Yes");
    t.waitForRequests();
    return t.top<OrderListViewController>();
  }

  // The one order on the server, with the number the user was shown.
  json theOneOrder() {
    const json orders = t.serverOrders();
    EXPECT_EQ(orders.size(), 1u) << orders.dump();
    if (orders.size() != 1) return json::object();
    const std::string number = orders.begin().key();
    EXPECT_EQ(t.app.delegate->globalSO().orderNumber, number);
    EXPECT_TRUE(t.alertTitled("SO# " + number)) << ::testing::PrintToString(t.alertMessages());
    return orders.begin().value();
  }
  static json quantities(const json& order) {
    json out = json::object();
    for (const auto& line : order["Items"]) out[line.value("Barcode", "")] = line.value("Qty", "");
    return out;
  }

  foundation::ScopedManualClock clock;
  OrderRoadHarness t;
};

TEST_F(OrderSaveOnce, ARetryAsItIsEditsTheOrderTheLostInsertMade) {
  auto* header = t.walkToHeader({"400000000002", "400000000002"});
  ASSERT_NE(header, nullptr) << t.h->dump();
  saveWithAnswerLost(header);
  ASSERT_TRUE(t.saveHeader(*header));
  EXPECT_EQ(t.calls("InsertOrder"), 1);
  EXPECT_EQ(t.calls("EditOrder"), 1);
  const json order = theOneOrder();
  EXPECT_EQ(quantities(order), (json{{"400000000002", "2"}}));
}

TEST_F(OrderSaveOnce, AnItemAddedAfterTheLostAnswerIsEditedIntoThatOrder) {
  auto* header = t.walkToHeader({"400000000002", "400000000002"});
  ASSERT_NE(header, nullptr) << t.h->dump();
  saveWithAnswerLost(header);
  auto* list = backToList(header);
  ASSERT_NE(list, nullptr) << t.h->dump();
  scan("400000000014");
  header = toHeader(list);
  ASSERT_NE(header, nullptr) << t.h->dump();
  ASSERT_TRUE(t.saveHeader(*header));
  // The check asked about what the insert sent, not about the cart as it is now.
  ASSERT_EQ(t.calls("CheckOrderProcessing"), 1);
  EXPECT_EQ(t.server.received("CheckOrderProcessing")[0].param("totalQty"), "2");
  EXPECT_EQ(t.server.received("CheckOrderProcessing")[0].param("totalExtPrice"), "15.74");
  EXPECT_EQ(t.calls("InsertOrder"), 1);
  const json order = theOneOrder();
  EXPECT_EQ(quantities(order), (json{{"400000000002", "2"}, {"400000000014", "1"}}));
}

TEST_F(OrderSaveOnce, ALineRemovedAfterTheLostAnswerIsEditedOutOfThatOrder) {
  auto* header = t.walkToHeader({"400000000002", "400000000014"});
  ASSERT_NE(header, nullptr) << t.h->dump();
  saveWithAnswerLost(header);
  auto* list = backToList(header);
  ASSERT_NE(list, nullptr) << t.h->dump();
  ASSERT_EQ(list->orderListArray().size(), 2u);
  const std::string kept = list->orderListArray()[1].value("Barcode", "");
  ASSERT_TRUE(t.h->swipeRow(*list->orderListTableView(), {0, 0}, ui::SwipeLeft));
  ASSERT_TRUE(t.h->tap(t.h->findLabel("Delete"))) << t.h->dump();
  t.settle();
  ASSERT_EQ(list->orderListArray().size(), 1u);
  header = toHeader(list);
  ASSERT_NE(header, nullptr) << t.h->dump();
  ASSERT_TRUE(t.saveHeader(*header));
  EXPECT_EQ(t.calls("InsertOrder"), 1);
  const json order = theOneOrder();
  EXPECT_EQ(quantities(order), (json{{kept, "1"}}));
}

TEST_F(OrderSaveOnce, MemoAndHeaderChangedAfterTheLostAnswerAreEditedIntoThatOrder) {
  auto* header = t.walkToHeader({"400000000002"});
  ASSERT_NE(header, nullptr) << t.h->dump();
  retype(header, header->memoView(), "ring first");
  saveWithAnswerLost(header);
  retype(header, header->memoView(), "leave at the back door");
  retype(header, header->field(kTagCustomerPo), "PO-9");
  retype(header, header->field(kTagEmail), "orders@maple.example");
  retype(header, header->field(kTagPhone), "555-0199");
  t.h->pressReturn();
  if (!t.h->isReachable(header->field(kTagShipDate))) {
    ASSERT_TRUE(t.h->scrollIntoReach(*header->tableView(), header->field(kTagShipDate))) << t.h->dump();
  }
  ASSERT_TRUE(t.h->tap(header->field(kTagShipDate))) << t.h->dump();
  ASSERT_TRUE(t.h->chooseDate(*header->datePicker(kTagShipDate), *foundation::parseDate("10/05/2026", "MM/dd/yyyy", true)));
  ASSERT_TRUE(t.saveHeader(*header));
  ASSERT_EQ(t.calls("CheckOrderProcessing"), 1);
  EXPECT_EQ(t.server.received("CheckOrderProcessing")[0].param("memo"), "ring first");
  EXPECT_EQ(t.calls("InsertOrder"), 1);
  const json order = theOneOrder();
  EXPECT_EQ(order["Header"]["memo"], "leave at the back door");
  EXPECT_EQ(order["Header"]["pono"], "PO-9");
  EXPECT_EQ(order["Header"]["email1"], "orders@maple.example");
  EXPECT_EQ(order["Header"]["phone1"], "555-0199");
  EXPECT_EQ(order["Header"]["shipdate"], "10/05/2026");
  EXPECT_EQ(t.app.delegate->globalSO().orderCustomerPo, "PO-9");
}

TEST_F(OrderSaveOnce, ARefusedInsertThenALostOneIsCheckedByWhatTheLastInsertSent) {
  auto* header = t.walkToHeader({"400000000002"});
  ASSERT_NE(header, nullptr) << t.h->dump();
  // The server refuses the first insert and makes nothing.
  t.server.setFault("InsertOrder", backoffice::Fault::result(R"({"Error":"Credit hold","OrderNumber":""})"));
  ASSERT_TRUE(t.saveHeader(*header));
  ASSERT_TRUE(t.alertTitled("Insert Order Items Error"));
  t.app.dismissAlerts();
  t.server.clearFaults();
  t.server.withState([](backoffice::State& s) { s.salesOrders = json::object(); });
  // The user changes the memo; the check finds nothing and the order is inserted, with the
  // new memo, and that answer is lost.
  retype(header, header->memoView(), "second try");
  t.server.setFault("CheckOrderProcessing", backoffice::Fault::result("FALSE"));
  saveWithAnswerLost(header);
  EXPECT_EQ(t.calls("CheckOrderProcessing"), 1);
  // One more change, one more Save: the check asks about the second insert.
  retype(header, header->field(kTagCustomerPo), "PO-3");
  ASSERT_TRUE(t.saveHeader(*header));
  ASSERT_EQ(t.calls("CheckOrderProcessing"), 2);
  EXPECT_EQ(t.server.received("CheckOrderProcessing")[1].param("memo"), "second try");
  EXPECT_EQ(t.calls("InsertOrder"), 2);
  const json order = theOneOrder();
  EXPECT_EQ(order["Header"]["pono"], "PO-3");
}

TEST_F(OrderSaveOnce, ARestartAfterTheLostAnswerStillEditsThatOrder) {
  auto* header = t.walkToHeader({"400000000002", "400000000002"});
  ASSERT_NE(header, nullptr) << t.h->dump();
  retype(header, header->memoView(), "fragile");
  saveWithAnswerLost(header);
  auto* list = restartAndLoadBackup();
  ASSERT_NE(list, nullptr) << t.h->dump();
  EXPECT_EQ(list->orderListArray().size(), 1u);
  scan("400000000014");  // and the user goes on with the order
  header = toHeader(list);
  ASSERT_NE(header, nullptr) << t.h->dump();
  EXPECT_EQ(header->memoView()->text(), "fragile");
  ASSERT_TRUE(t.saveHeader(*header));
  EXPECT_EQ(t.calls("CheckOrderProcessing"), 1);
  EXPECT_EQ(t.calls("InsertOrder"), 1);
  const json order = theOneOrder();
  EXPECT_EQ(quantities(order), (json{{"400000000002", "2"}, {"400000000014", "1"}}));
  EXPECT_EQ(order["Header"]["memo"], "fragile");
}

TEST_F(OrderSaveOnce, ASecondDeviceSavingTheSameBackupEditsTheSameOrder) {
  auto* header = t.walkToHeader({"400000000002", "400000000002"});
  ASSERT_NE(header, nullptr) << t.h->dump();
  saveWithAnswerLost(header);
  // The backup as it stands now goes to a second device.
  namespace fs = std::filesystem;
  const fs::path config = t.app.fresh.dir() / "config";
  const fs::path copy = t.app.fresh.dir() / "second-device";
  fs::copy(config, copy, fs::copy_options::recursive);
  OrderBackup::standard().flush();
  const fs::path backup = foundation::Paths::dataDir() / "OrderBackup";
  const fs::path backupCopy = t.app.fresh.dir() / "second-device-backup";
  fs::copy(backup, backupCopy, fs::copy_options::recursive);

  // The first device saves again (an edit), and its user finishes the order.
  retype(header, header->field(kTagCustomerPo), "FIRST");
  ASSERT_TRUE(t.saveHeader(*header));
  t.press("OK");
  t.waitForRequests();
  ASSERT_NE(t.top<LastSelectorViewController>(), nullptr) << t.h->dump();
  EXPECT_FALSE(t.defaults().boolForKey(defaults::OrderProcessingFlag));

  // The second device starts with that backup, adds an item and saves.
  fs::remove_all(config);
  fs::rename(copy, config);
  fs::remove_all(backup);
  fs::rename(backupCopy, backup);
  t.app.dismissAlerts();
  auto* list = restartAndLoadBackup();
  ASSERT_NE(list, nullptr) << t.h->dump();
  scan("400000000014");
  header = toHeader(list);
  ASSERT_NE(header, nullptr) << t.h->dump();
  retype(header, header->field(kTagCustomerPo), "SECOND");
  ASSERT_TRUE(t.saveHeader(*header));
  EXPECT_EQ(t.calls("InsertOrder"), 1);
  EXPECT_EQ(t.calls("CheckOrderProcessing"), 2);
  const json order = theOneOrder();
  EXPECT_EQ(quantities(order), (json{{"400000000002", "2"}, {"400000000014", "1"}}));
  EXPECT_EQ(order["Header"]["pono"], "SECOND");
}

TEST_F(OrderSaveOnce, AFaultOrAnErrorPageAfterTheServerTookTheInsertShowsItsTextAndTheOrderIsKept) {
  struct Case {
    const char* name;
    backoffice::Fault fault;
    std::string shown;
  };
  const std::vector<Case> cases = {
      {"SOAP Fault", backoffice::Fault::soapFaultOk("Server was unable to process request. Timeout expired."),
       "Server was unable to process request. Timeout expired."},
      {"HTML page", backoffice::Fault::htmlPageOk(),
       "Server Error in '/Webservice' Application. Runtime Error An application error occurred on the server "
       "while running InsertOrder."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    t.server.withState([](backoffice::State& s) { s.salesOrders = json::object(); });
    t.app.delegate->globalSO().orderNumber.clear();
    t.defaults().setBool(defaults::OrderProcessingFlag, false);
    t.defaults().removeObjectForKey(defaults::OrderProcessingInsert);
    auto* header = t.top<OrderInfoViewController>();
    if (!header) header = t.walkToHeader({"400000000002"});
    ASSERT_NE(header, nullptr) << t.h->dump();
    header = t.reopenHeader(*header);  // the flags are read each time the header shows
    ASSERT_NE(header, nullptr) << t.h->dump();
    t.server.setFault("InsertOrder", c.fault);
    ASSERT_TRUE(t.saveHeader(*header));
    EXPECT_EQ(t.alertMessages(), std::vector<std::string>{c.shown});
    EXPECT_EQ(t.app.delegate->globalSO().orderNumber, "");
    EXPECT_EQ(t.top<OrderInfoViewController>(), header);
    t.app.dismissAlerts();
    t.server.clearFaults();
    // The next Save finds the order the server made and edits it.
    const int inserts = t.calls("InsertOrder");
    ASSERT_TRUE(t.saveHeader(*header));
    EXPECT_EQ(t.calls("InsertOrder"), inserts);
    theOneOrder();
    t.app.dismissAlerts();
  }
}

}  // namespace
}  // namespace orvo
