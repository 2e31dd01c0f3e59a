// The order header and its save, walked as a user walks them against the back office on
// loopback: a new order saved and read back from the server's record, an interrupted
// insert that the processing check finds, an order edited, multi-SO numbers, the totals
// comparison, and the header's rows and values.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/core/UserDefaultsKeys.h"
#include "app/orders/LastSelectorViewController.h"
#include "app/orders/OrderInfoViewController.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/DateFormat.h"
#include "testing/app/OrderRoadTestSupport.h"

namespace orvo {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;
using test_support::OrderRoadHarness;

class OrderSave : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(t.started);
    t.launch();
  }

  OrderInfoViewController* walkToHeader(const std::vector<std::string>& codes = {"400000000002", "400000000002"},
                                        const std::string& orderNumber = "") {
    return t.walkToHeader(codes, orderNumber);
  }
  void retype(OrderInfoViewController* header, ui::View* field, const std::string& text) {
    ASSERT_TRUE(t.retypeHeaderField(*header, field, text)) << t.h->dump();
  }
  void save(OrderInfoViewController* header) {
    ASSERT_TRUE(t.saveHeader(*header)) << ::testing::PrintToString(t.alertMessages()) << t.h->dump();
  }
  std::optional<test_support::ShownAlert> alertTitled(const std::string& prefix) { return t.alertTitled(prefix); }
  json serverOrders() { return t.serverOrders(); }
  void seedOrder(const std::string& number, json header, json items) {
    t.server.withState([&](backoffice::State& s) {
      s.salesOrders[number] = {{"OrderNumber", number}, {"CustomerId", "C1002"}, {"StoreId", "C1002-2"},
                               {"LoginId", "demo"},     {"DivisionCode", "01"},  {"PDupNum", ""},
                               {"Header", header},      {"Items", items},        {"OrderDate", "12/01/2026 10:00:00"},
                               {"UpdateDate", "12/01/2026 10:00:00"}, {"Signature", "c2lnbg=="}};
    });
  }
  foundation::UserDefaults& defaults() { return t.defaults(); }

  foundation::ScopedManualClock clock;
  OrderRoadHarness t;
};

TEST_F(OrderSave, NewOrderIsSavedWithItsHeaderAndLinesExactlyAsSentThenTheLastScreenMakesItsPdf) {
  defaults().setString(defaults::backupSOmemo, "left from before");
  auto* header = walkToHeader();
  ASSERT_NE(header, nullptr) << t.h->dump();
  GlobalSO& so = t.app.delegate->globalSO();
  // The customer's defaults; a new order starts with no PO, the chosen type, no hold and the
  // memo kept when the header was last left.
  EXPECT_EQ(t.server.received("GetOrderInfo").back().param("customerID"), "C1002");
  EXPECT_EQ(json::parse(t.server.received("GetOrderInfo").back().param("orderItems")),
            json::parse(R"([{"Style":"TS100","Color":"BLK","SizeCode":"M","Bundle":""}])"));
  EXPECT_EQ(header->field(kTagEmail)->text(), "buyer1@example.com");
  EXPECT_EQ(header->field(kTagPhone)->text(), "555-0101");
  EXPECT_EQ(header->field(kTagCustomerPo)->text(), "");
  EXPECT_EQ(header->field(kTagOrderType)->text(), "PRE");
  EXPECT_EQ(header->field(kTagTerms)->text(), "NET30");
  EXPECT_EQ(header->field(kTagCancelDate)->text(), "09/30/2026");
  EXPECT_EQ(header->memoView()->text(), "left from before");
  EXPECT_EQ(header->orderInfoItems().size(), 10u);

  ASSERT_TRUE(t.h->type(header->field(kTagCustomerPo), "PO-77 <rush>"));
  // The keyboard covers the lower rows; the table scrolls them up above it.
  ASSERT_FALSE(t.h->isReachable(header->field(kTagShipDate)));
  ASSERT_TRUE(t.h->swipe(header->tableView(), ui::SwipeUp, 200));
  ASSERT_TRUE(t.h->tap(header->field(kTagShipDate))) << t.h->dump();
  ASSERT_TRUE(t.h->chooseDate(*header->datePicker(kTagShipDate), *foundation::parseDate("10/02/2026", "MM/dd/yyyy", true)));
  EXPECT_EQ(header->field(kTagShipDate)->text(), "10/02/2026");
  // The memo kept from before is emptied key by key (it then shows its placeholder and
  // lets the keyboard go) and typed anew.
  if (!t.h->isReachable(header->memoView())) {
    ASSERT_TRUE(t.h->swipe(header->tableView(), ui::SwipeUp, 200));
  }
  ASSERT_TRUE(t.h->tap(header->memoView())) << t.h->dump();
  t.h->deleteBackward(int(std::string("left from before").size()));
  EXPECT_EQ(header->memoView()->text(), "Enter Memo");
  ASSERT_TRUE(t.h->type(header->memoView(), "a<b>c")) << t.h->dump();
  save(header);

  EXPECT_TRUE(t.app.delegate->globalSO().orderNumber == "10001");
  auto saved = alertTitled("SO# 10001");
  ASSERT_TRUE(saved) << ::testing::PrintToString(t.alertMessages());
  EXPECT_EQ(saved->message, "Your sales order has been saved.\nTotal Qty : 2 \nTotal Ext. Price : $15.74");

  // Read back from the server's record: the header and lines as they were typed and sent.
  const json orders = serverOrders();
  ASSERT_EQ(orders.size(), 1u);
  const json& o = orders["10001"];
  EXPECT_EQ(o["CustomerId"], "C1002");
  EXPECT_EQ(o["StoreId"], "C1002-2");
  EXPECT_EQ(o["LoginId"], "demo");
  EXPECT_EQ(o["WarehouseCode"], "WH1");
  EXPECT_EQ(o["Header"], (json{{"canceldate", "09/30/2026"},
                               {"shipdate", "10/02/2026"},
                               {"term", "NET30"},
                               {"paymentcode", "CHK"},
                               {"shipvia", "UPS"},
                               {"ordertype", "PRE"},
                               {"email1", "buyer1@example.com"},
                               {"phone1", "555-0101"},
                               {"pono", "PO-77 <rush>"},
                               {"soHold", "Open"},
                               {"customerPriority", "(null)"},
                               {"memo", "a[b]c"},
                               {"salesRepCode", "(null)"}}));
  ASSERT_EQ(o["Items"].size(), 1u);
  EXPECT_EQ(o["Items"][0]["Barcode"], "400000000002");
  EXPECT_EQ(o["Items"][0]["Qty"], "2");
  EXPECT_EQ(o["Items"][0]["Price"], "7.87");
  EXPECT_EQ(o["Items"][0]["Prepack"], "");
  EXPECT_EQ(so.orderCustomerPo, "PO-77 <rush>");

  // OK: the last screen, which has the server make the order's PDF; the crash backup and
  // the processing flag are cleared.
  t.press("OK");
  t.waitForRequests();
  auto* last = t.top<LastSelectorViewController>();
  ASSERT_NE(last, nullptr) << t.h->dump();
  EXPECT_FALSE(defaults().boolForKey(defaults::OrderProcessingFlag));
  EXPECT_FALSE(defaults().stringForKey(defaults::backupSOmemo).has_value());
  ASSERT_EQ(t.calls("CreateSOpdf"), 1);
  EXPECT_EQ(t.server.received("CreateSOpdf")[0].param("orderNumber"), "10001");
  EXPECT_EQ(t.server.received("CreateSOpdf")[0].param("airPrintFlag"), "1");
  EXPECT_EQ(last->lbl_so()->text(), "SO# 10001");
  EXPECT_EQ(last->printFileNameDic(), (std::map<std::string, std::string>{{"10001", "10001"}}));
  EXPECT_EQ(last->documentUrls(kPrintKindAll),
            (std::vector<std::string>{"http://127.0.0.1:" + std::to_string(t.server.port()) + "/styleimages/pdf/SO10001.pdf",
                                      "http://127.0.0.1:" + std::to_string(t.server.port()) + "/styleimages/pdf/CC10001.pdf"}));
}

TEST_F(OrderSave, AnInsertWhoseAnswerIsLostIsFoundByTheProcessingCheckAndMakesOneOrder) {
  auto* header = walkToHeader();
  ASSERT_NE(header, nullptr) << t.h->dump();
  retype(header, header->memoView(), "call first");
  // The server takes the insert, but its answer never comes back.
  t.server.setFault("InsertOrder", backoffice::Fault::answerHeld());
  ASSERT_TRUE(t.h->tap(header->saveButton()));
  t.settle();
  t.press("Yes");
  ASSERT_TRUE(t.app.runUntil([&] { return t.server.heldCount() == 1; }));
  // The flag is written before the request leaves, so it survives even a crash here.
  EXPECT_TRUE(defaults().boolForKey(defaults::OrderProcessingFlag));
  EXPECT_EQ(defaults().stringForKey(defaults::backupSOmemo), "call first");
  ASSERT_TRUE(t.outwaitHeld(61s));
  ASSERT_FALSE(t.app.alerts().empty());
  t.app.dismissAlerts();
  t.server.clearFaults();
  t.server.releaseHeld();
  EXPECT_EQ(t.app.delegate->globalSO().orderNumber, "");
  ASSERT_EQ(serverOrders().size(), 1u);

  // Save again: the server is asked what it made of the order, then that order is edited.
  save(header);
  ASSERT_EQ(t.calls("CheckOrderProcessing"), 1);
  const auto check = t.server.received("CheckOrderProcessing")[0];
  std::vector<std::string> names;
  for (auto& [k, v] : check.params) names.push_back(k);
  EXPECT_EQ(names, (std::vector<std::string>{"loginId", "divisionCode", "customerId", "storeId", "pDupNum",
                                             "orderType", "memo", "totalQty", "totalExtPrice"}));
  EXPECT_EQ(check.param("memo"), "call first");
  EXPECT_EQ(check.param("totalQty"), "2");
  EXPECT_EQ(check.param("totalExtPrice"), "15.74");
  EXPECT_EQ(t.calls("InsertOrder"), 1);
  EXPECT_EQ(t.calls("EditOrder"), 1);
  EXPECT_EQ(t.server.received("EditOrder")[0].param("orderNumber"), "10001");
  EXPECT_EQ(serverOrders().size(), 1u);
  EXPECT_TRUE(alertTitled("SO# 10001"));
}

TEST_F(OrderSave, TheProcessingCheckAnswersDecideWhatFollows) {
  struct Case {
    const char* answer;
    int inserts;
    int edits;
    std::string orderNumber;
    bool savedAlert;
  };
  const std::vector<Case> cases = {
      {"FALSE", 1, 0, "10001", true},
      {"[\"30001\",\"30002\",\"30003\"]", 0, 0, "30001,30002,30003", true},
      {"false", 0, 0, "", false},  // read as JSON: nothing follows
      {"[]", 0, 0, "", false},
  };
  auto* header = walkToHeader();
  ASSERT_NE(header, nullptr) << t.h->dump();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer);
    t.app.delegate->globalSO().orderNumber.clear();
    defaults().setBool(defaults::OrderProcessingFlag, true);
    t.h->advance(1ms);
    header = t.reopenHeader(*header);  // the flags are read each time the header shows
    ASSERT_NE(header, nullptr) << t.h->dump();
    t.server.setFault("CheckOrderProcessing", backoffice::Fault::result(c.answer));
    const int inserts = t.calls("InsertOrder"), edits = t.calls("EditOrder");
    save(header);
    EXPECT_EQ(t.calls("InsertOrder") - inserts, c.inserts);
    EXPECT_EQ(t.calls("EditOrder") - edits, c.edits);
    EXPECT_EQ(t.app.delegate->globalSO().orderNumber, c.orderNumber);
    EXPECT_EQ(alertTitled("SO# ").has_value(), c.savedAlert);
    t.app.dismissAlerts();
    t.server.clearFaults();
  }
}

TEST_F(OrderSave, SavedTotalsAreComparedWithTheServersAndMarked) {
  struct Case {
    const char* operation;
    json answer;
    std::string message;
    std::string qty, ext;
  };
  const std::string recheck = "\n*Please recheck your order information at Orvo. ";
  const std::vector<Case> cases = {
      {"InsertOrder",
       {{"Error", nullptr}, {"OrderNumber", "40001"}, {"Id", "0"}, {"TotalQty", "2"}, {"TotalExtPrice", "15.74"}},
       "Total Qty : 2\nTotal Ext. Price : $15.74" + recheck + "[I]", "2", "15.74"},
      {"InsertOrder",
       {{"Error", nullptr}, {"OrderNumber", "40002"}, {"Id", "7"}, {"TotalQty", "2"}, {"TotalExtPrice", "15.740"}},
       "Total Qty : 2\nTotal Ext. Price : $15.74" + recheck + "[T]", "2", "15.740"},
      {"EditOrder",
       {{"Error", nullptr}, {"OrderNumber", "40002"}, {"Id", "0"}, {"TotalQty", "1200"}, {"TotalExtPrice", "9000"},
        {"CustomerId", "C1002"}, {"StoreId", "C1002-2"}},
       "Total Qty : 1,200\nTotal Ext. Price : $9,000.00" + recheck + "[E]", "1200", "9000"},
  };
  auto* header = walkToHeader();
  ASSERT_NE(header, nullptr) << t.h->dump();
  GlobalSO& so = t.app.delegate->globalSO();
  for (const auto& c : cases) {
    SCOPED_TRACE(c.answer.dump());
    t.server.setFault(c.operation, backoffice::Fault::result(c.answer.dump()));
    so.orderNumber.clear();
    defaults().setBool(defaults::OrderProcessingFlag, false);
    header = t.reopenHeader(*header);  // the flags are read each time the header shows
    ASSERT_NE(header, nullptr) << t.h->dump();
    so.orderNumber = std::string(c.operation) == "EditOrder" ? "40002" : "";
    so.orderTotalQty = "2";
    so.orderTotalExtPrice = "15.74";
    save(header);
    auto alert = alertTitled("SO# " + c.answer["OrderNumber"].get<std::string>());
    ASSERT_TRUE(alert) << ::testing::PrintToString(t.alertMessages());
    EXPECT_EQ(alert->message, c.message);
    EXPECT_EQ(so.orderTotalQty, c.qty);
    EXPECT_EQ(so.orderTotalExtPrice, c.ext);
    t.app.dismissAlerts();
    t.server.clearFaults();
  }
}

TEST_F(OrderSave, ServerRefusalsLeaveTheOrderOnTheDevice) {
  auto* header = walkToHeader();
  ASSERT_NE(header, nullptr) << t.h->dump();
  // An error answer: its message, nothing changes, and the flag sends the next Save to the check.
  t.server.setFault("InsertOrder", backoffice::Fault::result(R"({"Error":"Credit hold","OrderNumber":""})"));
  save(header);
  auto alert = alertTitled("Insert Order Items Error");
  ASSERT_TRUE(alert);
  EXPECT_EQ(alert->message, "Credit hold");
  EXPECT_EQ(t.app.delegate->globalSO().orderNumber, "");
  EXPECT_TRUE(defaults().boolForKey(defaults::OrderProcessingFlag));
  EXPECT_EQ(t.top<OrderInfoViewController>(), header);
  t.app.dismissAlerts();
  // Nor is an answer without the order's number, or one that cannot be read.
  t.server.setFault("CheckOrderProcessing", backoffice::Fault::result("FALSE"));
  t.server.setFault("InsertOrder", backoffice::Fault::result(R"({"Error":null,"Id":"1"})"));
  save(header);
  EXPECT_TRUE(alertTitled("Insert Order Items Error"));
  EXPECT_EQ(t.app.delegate->globalSO().orderNumber, "");
  t.app.dismissAlerts();
  t.server.setFault("CheckOrderProcessing", backoffice::Fault::result("FALSE"));
  t.server.setFault("InsertOrder", backoffice::Fault::badJson());
  save(header);
  EXPECT_TRUE(alertTitled("Insert Order Items Error"));
  EXPECT_FALSE(alertTitled("SO# "));
  EXPECT_EQ(t.app.delegate->globalSO().orderNumber, "");
}

TEST_F(OrderSave, AnExistingOrderIsLoadedEditedAndSavedWithEditOrder) {
  seedOrder("20001",
            {{"canceldate", "11/30/2026"}, {"shipdate", "11/01/2026"}, {"term", "NET30"}, {"paymentcode", "CHK"},
             {"shipvia", "UPS"}, {"ordertype", "PRE"}, {"email1", "old@example.com"}, {"phone1", "555-0199"},
             {"pono", "PO-1"}, {"soHold", "Hold"}, {"customerPriority", ""}, {"memo", ""}, {"salesRepCode", ""}},
            json::array());
  auto* header = walkToHeader({"400000000002"}, "20001");
  ASSERT_NE(header, nullptr) << t.h->dump();
  EXPECT_EQ(t.calls("GetOrderInfo"), 0);
  ASSERT_EQ(t.calls("GetBeforeOrderInfo"), 1);
  EXPECT_EQ(t.server.received("GetBeforeOrderInfo")[0].param("orderNumber"), "20001");
  EXPECT_EQ(header->field(kTagCustomerPo)->text(), "PO-1");
  EXPECT_EQ(header->field(kTagEmail)->text(), "old@example.com");
  EXPECT_EQ(header->field(kTagCancelDate)->text(), "11/30/2026");
  EXPECT_TRUE(header->soStateFlag());                      // "Hold", although the row is hidden
  EXPECT_EQ(header->memoView()->text(), "Enter Memo");      // a null memo shows the placeholder
  EXPECT_EQ(t.app.delegate->globalSO().signatureBase64StringForSo, "c2lnbg==");

  retype(header, header->field(kTagCustomerPo), "PO-2");
  save(header);
  EXPECT_EQ(t.calls("InsertOrder"), 0);
  ASSERT_EQ(t.calls("EditOrder"), 1);
  const json o = serverOrders()["20001"];
  EXPECT_EQ(o["Header"]["pono"], "PO-2");
  EXPECT_EQ(o["Header"]["soHold"], "Hold");
  EXPECT_EQ(o["Header"]["memo"], "");
  ASSERT_EQ(o["Items"].size(), 1u);
  EXPECT_EQ(o["Items"][0]["Id"], "0");  // added on the device
  EXPECT_EQ(o["Items"][0]["Barcode"], "400000000002");
  EXPECT_TRUE(alertTitled("SO# 20001"));
  EXPECT_EQ(serverOrders().size(), 1u);
}

TEST_F(OrderSave, RealTimeEditSavesTheHeaderOnlyAndAnUnreadableAnswerIsNotASave) {
  seedOrder("20002",
            {{"canceldate", "11/30/2026"}, {"shipdate", "11/01/2026"}, {"term", "NET30"}, {"paymentcode", "CHK"},
             {"shipvia", "UPS"}, {"ordertype", "PRE"}, {"email1", ""}, {"phone1", ""}, {"pono", ""},
             {"soHold", "Open"}, {"customerPriority", ""}, {"memo", "keep dry"}, {"salesRepCode", ""}},
            json::array());
  auto* header = walkToHeader({"400000000002"}, "20002");
  ASSERT_NE(header, nullptr) << t.h->dump();
  t.app.delegate->settings().realtimeSoFlag = true;
  t.server.setFault("EditOrderInfo", backoffice::Fault::badJson());
  save(header);
  EXPECT_TRUE(alertTitled("Insert Order Error"));
  EXPECT_FALSE(alertTitled("SO# "));
  t.app.dismissAlerts();
  t.server.clearFaults();
  retype(header, header->field(kTagCustomerPo), "RT-PO");
  save(header);
  EXPECT_EQ(t.calls("EditOrder"), 0);
  ASSERT_EQ(t.calls("EditOrderInfo"), 2);
  EXPECT_EQ(t.server.received("EditOrderInfo").back().params.size(), 15u);  // no items
  EXPECT_EQ(serverOrders()["20002"]["Header"]["pono"], "RT-PO");
  EXPECT_TRUE(alertTitled("SO# 20002"));
}

TEST_F(OrderSave, MultiSoNumbersAreJoinedAndTheLastScreenKeepsThemTogether) {
  t.app.delegate->settings().multiSoFlag = true;
  defaults().setBool("MultiSo", true);
  auto* header = walkToHeader({"400000000002", "400000000014"});
  ASSERT_NE(header, nullptr) << t.h->dump();
  t.app.delegate->settings().multiSoFlag = true;
  save(header);
  // Two styles, two sales orders.
  auto alert = alertTitled("SO# ");
  ASSERT_TRUE(alert) << ::testing::PrintToString(t.alertMessages());
  const std::string numbers = t.app.delegate->globalSO().orderNumber;
  EXPECT_NE(numbers.find(','), std::string::npos) << numbers;
  EXPECT_EQ(alert->title, "SO# " + numbers);
  t.press("OK");
  t.waitForRequests();
  auto* last = t.top<LastSelectorViewController>();
  ASSERT_NE(last, nullptr);
  EXPECT_EQ(last->sOrderNumberArray().size(), 2u);
  EXPECT_EQ(t.calls("CreateSOpdf"), 1);
  EXPECT_EQ(t.server.received("CreateSOpdf")[0].param("orderNumber"), numbers);
  EXPECT_EQ(last->lbl_so()->text(), "SO# " + numbers);
  EXPECT_EQ(last->printFileNameDic().size(), 2u);
  EXPECT_EQ(last->navigationItem().leftBarButtonItem(), nullptr);  // no Back in multi-SO mode
}

// Servers write 12/31/9999 for "no date"; the first day of the calendar comes too. Both show
// in their fields as loaded and go back to the server unchanged, and their wheels never show
// a date wrapped round from them.
TEST_F(OrderSave, DatesAtTheEndsOfTheCalendarShowAsLoadedAndAreSavedUnchanged) {
  seedOrder("20002",
            {{"canceldate", "12/31/9999"}, {"shipdate", "01/01/0001"}, {"term", "NET30"}, {"paymentcode", "CHK"},
             {"shipvia", "UPS"}, {"ordertype", "PRE"}, {"email1", ""}, {"phone1", ""}, {"pono", ""},
             {"soHold", ""}, {"customerPriority", ""}, {"memo", ""}, {"salesRepCode", ""}},
            json::array());
  auto* header = walkToHeader({"400000000002"}, "20002");
  ASSERT_NE(header, nullptr) << t.h->dump();
  for (auto [tag, text] : {std::pair{kTagCancelDate, "12/31/9999"}, std::pair{kTagShipDate, "01/01/0001"}}) {
    SCOPED_TRACE(text);
    EXPECT_EQ(header->field(tag)->text(), text);
    const std::string shown = header->datePicker(tag)->displayText();
    EXPECT_NE(shown.substr(6), "1816");
    EXPECT_NE(shown.substr(6), "2128");
  }
  save(header);
  ASSERT_EQ(t.calls("EditOrder"), 1);
  const json o = serverOrders()["20002"];
  EXPECT_EQ(o["Header"]["canceldate"], "12/31/9999");
  EXPECT_EQ(o["Header"]["shipdate"], "01/01/0001");
}

TEST_F(OrderSave, HeaderRowsFollowTheOptionsAndTheWheelsPutCodes) {
  struct Case {
    bool soStatus, priority, salesRep;
    std::vector<std::string> labels;
    int memoRow;
  };
  const std::vector<Case> cases = {
      {false, false, false, {"Ship Date:", "Memo:"}, 9},
      {false, true, false, {"Ship Date:", "Priority:", "Memo:"}, 10},
      {true, false, false, {"Ship Date:", "   Note/Hold:", "Memo:"}, 10},
      {true, true, true, {"Ship Date:", "   Note/Hold:", "Priority:", "Memo:", "Sales Rep:"}, 11},
  };
  t.openOrderType();
  auto* nav = t.topScreen()->navigationController();
  ASSERT_NE(nav, nullptr);
  GlobalSO& so = t.app.delegate->globalSO();
  so.customerID = "C1002";
  so.customerPriorityArray = json::array({"[A10] Ten", "[a1] One", "[A1] Other"});
  so.salesRepArray = json::array({"R1", "R2"});
  t.server.setFault("GetOrderInfo", backoffice::Fault::result(
                                        R"([{"Canceldate":"09/30/2026","Shipdate":"bad date","Email1":"","Phone1":"",)"
                                        R"("Paymentcode":"CHK","Shipvia":"UPS","Term":"NET30","SalesRepCode":"R2",)"
                                        R"("CustomerPriority":"a1","Status":"Hold","Po":"x","Ordertype":"x"}])"));
  for (const auto& c : cases) {
    SCOPED_TRACE(::testing::PrintToString(c.labels));
    t.app.delegate->settings().isCustomerPriorityOption = c.priority;
    t.app.delegate->settings().isNewCustomerSalesRepOption = c.salesRep;
    defaults().setBool(defaults::SoStatus, c.soStatus);
    auto header = std::make_shared<OrderInfoViewController>();
    nav->pushViewController(header, false);
    t.settle();
    t.h->advance(100ms);
    t.waitForRequests();
    const auto& labels = header->orderInfoItems();
    ASSERT_EQ(labels.size(), 8 + c.labels.size());
    EXPECT_EQ(std::vector<std::string>(labels.begin() + 8, labels.end()), c.labels);
    EXPECT_EQ(header->tableView()->numberOfRowsInSection(0), int(labels.size()));
    EXPECT_EQ(*header->heightForRowAtIndexPath(*header->tableView(), {0, c.memoRow}), 80.0);
    EXPECT_EQ(header->ReturnIndexRow(c.memoRow), 11);
    EXPECT_FALSE(header->soStateFlag());  // a new order is never on hold
    EXPECT_EQ(header->field(kTagCustomerPo)->text(), "");
    if (c.priority) {
      // "a1" is the entry that begins with "[A1] " in any case, not "[A10] ".
      EXPECT_EQ(header->field(kTagCustomerPriority)->text(), "[a1] One");
      EXPECT_EQ(header->getCustomerPriorityCodeForWS(), "a1");
    } else {
      EXPECT_FALSE(header->getCustomerPriorityCodeForWS().has_value());
    }
    if (c.salesRep) {
      EXPECT_EQ(header->picker(kTagSalesRep)->selectedRowInComponent(0), 1);
      EXPECT_EQ(header->getSalesRepForWS(), "R2");
    }
    nav->popViewControllerAnimated(false);
    t.settle();
  }

  // The terms wheel shows descriptions and puts codes; a date wheel writes "MM/dd/yyyy".
  so.termsArray = json::array({json{{"Code", "NET30"}, {"Description", "Net 30 days"}},
                               json{{"Code", "COD"}, {"Description", "Cash on delivery"}}});
  auto header = std::make_shared<OrderInfoViewController>();
  nav->pushViewController(header, false);
  t.settle();
  t.h->advance(100ms);
  t.waitForRequests();
  auto* terms = header->picker(kTagTerms);
  EXPECT_EQ(terms->titleForRow(1, 0), "Cash on delivery");
  ASSERT_TRUE(t.h->tap(header->field(kTagTerms))) << t.h->dump();
  ASSERT_TRUE(t.h->choosePickerRow(*terms, 1, 0));
  EXPECT_EQ(header->field(kTagTerms)->text(), "COD");
  EXPECT_EQ(header->field(kTagShipDate)->text(), "bad date");  // shown as loaded, wheel left alone
  ASSERT_TRUE(t.h->tap(header->field(kTagCancelDate))) << t.h->dump();
  ASSERT_TRUE(t.h->chooseDate(*header->datePicker(kTagCancelDate), *foundation::parseDate("01/15/2027", "MM/dd/yyyy", true)));
  EXPECT_EQ(header->field(kTagCancelDate)->text(), "01/15/2027");

  // An e-mail address that does not read as one blocks the save; OK puts the cursor there.
  retype(header.get(), header->field(kTagEmail), "not an address");
  ASSERT_TRUE(t.h->tap(header->saveButton()));
  t.settle();
  ASSERT_TRUE(t.waitForAlert("Your email address is invalid.\nPlease enter a valid address."));
  t.press("OK");
  EXPECT_TRUE(header->field(kTagEmail)->isFirstResponder());
  EXPECT_EQ(t.calls("InsertOrder"), 0);

  // Leaving a header before it has loaded keeps the memo stored before.
  defaults().setString(defaults::backupSOmemo, "stored");
  auto early = std::make_shared<OrderInfoViewController>();
  nav->pushViewController(early, false);
  t.settle();
  ASSERT_TRUE(t.h->tapBarItem(early->navigationItem().leftBarButtonItem())) << t.h->dump();
  t.settle();
  EXPECT_EQ(defaults().stringForKey(defaults::backupSOmemo), "stored");
  t.h->advance(100ms);  // its header request, had it been sent, would find no screen
  t.waitForRequests();

  // Back keeps the memo for the next header of this new order.
  retype(header.get(), header->memoView(), "fragile");
  ASSERT_TRUE(t.h->tapBarItem(header->navigationItem().leftBarButtonItem())) << t.h->dump();
  t.settle();
  EXPECT_EQ(defaults().stringForKey(defaults::backupSOmemo), "fragile");
  t.server.clearFaults();
  auto again = std::make_shared<OrderInfoViewController>();
  nav->pushViewController(again, false);
  t.settle();
  t.h->advance(100ms);
  t.waitForRequests();
  EXPECT_EQ(again->memoView()->text(), "fragile");
}

TEST_F(OrderSave, TheMemoBackupKeepsTheMemoAsTyped) {
  auto* header = walkToHeader();
  ASSERT_NE(header, nullptr) << t.h->dump();
  const std::string memo = "Ship <fragile> & keep dry";
  ASSERT_TRUE(t.h->type(header->memoView(), memo));
  // Back: the memo is kept for this order's next header exactly as typed.
  ASSERT_TRUE(t.h->tapText("Back")) << t.h->dump();
  t.settle();
  EXPECT_EQ(defaults().stringForKey(defaults::backupSOmemo), memo);
  auto* list = t.top<OrderListViewController>();
  ASSERT_NE(list, nullptr) << t.h->dump();
  if (t.h->isReachable(list->nextBarButtonItem()->barView())) t.h->tapBarItem(list->nextBarButtonItem());
  t.settle();
  ASSERT_TRUE(t.h->tap(list->btn_NextToGoToOrderInfoViewButton()));
  t.settle();
  t.h->advance(100ms);
  t.waitForRequests();
  header = t.top<OrderInfoViewController>();
  ASSERT_NE(header, nullptr) << t.h->dump();
  EXPECT_EQ(header->memoView()->text(), memo);
  // The save leaves the same backup before the insert goes; the server gets its own form.
  t.server.setFault("InsertOrder", backoffice::Fault::answerHeld());
  ASSERT_TRUE(t.h->tap(header->saveButton()));
  t.settle();
  t.press("Yes");
  ASSERT_TRUE(t.app.runUntil([&] { return t.server.heldCount() == 1; }));
  EXPECT_EQ(defaults().stringForKey(defaults::backupSOmemo), memo);
  EXPECT_EQ(t.server.received("InsertOrder").at(0).param("memo"), "Ship [fragile] & keep dry");
  t.server.releaseHeld();
  t.waitForRequests();
}

}  // namespace
}  // namespace orvo
