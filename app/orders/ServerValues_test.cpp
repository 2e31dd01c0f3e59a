// Numbers and order numbers from the back office are checked for form before they reach the
// cart, a total or an alert: the readers on their own, then a price answer on the item list
// and the save answers on the order header, against the back office on loopback.
#include "app/orders/ServerValues.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/core/OrderBackup.h"
#include "app/core/UserDefaultsKeys.h"
#include "app/orders/OrderInfoViewController.h"
#include "app/orders/OrderListViewController.h"
#include "platform/foundation/Clock.h"
#include "testing/app/OrderRoadTestSupport.h"

namespace orvo {
namespace {

using nlohmann::json;
using test_support::OrderRoadHarness;

TEST(ServerValues, MoneyQuantityCountAndOrderNumberForms) {
  struct Case {
    json value;
    std::optional<std::string> money, quantity, count, orderNumber;
  };
  using std::nullopt;
  const std::vector<Case> cases = {
      {"7.87", "7.87", "7.87", nullopt, "7.87"},
      {"12", "12", "12", "12", "12"},
      {"0", "0", "0", "0", "0"},
      {7.5, "7.50", "7.5", nullopt, nullopt},
      {12, "12.00", "12", "12", "12"},
      {"abc", nullopt, nullopt, nullopt, "abc"},
      {"12.3.4", nullopt, nullopt, nullopt, "12.3.4"},
      {"1e400", nullopt, nullopt, nullopt, "1e400"},
      {"1e2", nullopt, nullopt, nullopt, "1e2"},
      {1e308, nullopt, nullopt, nullopt, nullopt},
      {"99999999999999", nullopt, nullopt, nullopt, "99999999999999"},
      {"-3.50", nullopt, nullopt, nullopt, "-3.50"},
      {-2, nullopt, nullopt, nullopt, nullopt},
      {"", nullopt, nullopt, nullopt, nullopt},
      {" 5", nullopt, nullopt, nullopt, " 5"},
      {"5.", nullopt, nullopt, nullopt, "5."},
      {".5", nullopt, nullopt, nullopt, ".5"},
      {nullptr, nullopt, nullopt, nullopt, nullopt},
      {true, nullopt, nullopt, nullopt, nullopt},
      {json::array({"10001"}), nullopt, nullopt, nullopt, nullopt},
      {json::array({json::array({"10001"})}), nullopt, nullopt, nullopt, nullopt},
      {json{{"OrderNumber", "10001"}}, nullopt, nullopt, nullopt, nullopt},
      {"100\n01", nullopt, nullopt, nullopt, nullopt},
      {6.0, "6.00", "6", "6", nullopt},
      {6.5, "6.50", "6.5", nullopt, nullopt},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.value.dump());
    EXPECT_EQ(server_values::moneyText(c.value), c.money);
    EXPECT_EQ(server_values::quantityText(c.value), c.quantity);
    EXPECT_EQ(server_values::countText(c.value), c.count);
    EXPECT_EQ(server_values::orderNumberText(c.value), c.orderNumber);
  }
  EXPECT_EQ(server_values::moneyText("-3.50", true), "-3.50");
}

class ServerValuesOnTheRoad : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(t.started);
    t.launch();
  }
  void scan(const std::string& code) {
    t.app.devices->raiseBarcode(code);
    t.waitForRequests();
  }
  foundation::ScopedManualClock clock;
  OrderRoadHarness t;
};

// A price answer as the server gives one, with `key` replaced.
json priceAnswer(const char* key, json value) {
  json a{{"Error", nullptr},        {"RealTime", ""},          {"Code", "400000000003"},   {"Kind", "upc"},
         {"Style", "TS100"},        {"Color", "BLK"},          {"MultiColor", "BLK,WHT"},  {"Sum", "1"},
         {"Price", "7.50"},         {"OrgPrice", "8.00"},      {"MinPrice", "6.40"},       {"Ats", "10"},
         {"AtsStatus", "True"},     {"Ots", "10"},             {"OtsStatus", "True"},      {"Eta", "09/01/2026"},
         {"EtaForPrint", "09/01/2026"}, {"SizeCode", "L"},     {"Descript", "Tee"},        {"BeforeTotal", 0},
         {"BeforeTime", 0},         {"BeforeOrderNum", ""},    {"InvDateAndQtyJson", "[]"},
         {"OverBooking", R"({"OverBookingMsg":"","OverBookingLimit":"False"})"}, {"Bundle", nullptr}};
  if (key) a[key] = std::move(value);
  return a;
}

TEST_F(ServerValuesOnTheRoad, APriceThatIsNoNumberIsRefusedAndTheCartAndTotalsStay) {
  auto* list = t.walkToItemList("harbor o", {0, 0}, 0);
  ASSERT_NE(list, nullptr) << t.h->dump();
  scan("400000000002");
  ASSERT_EQ(list->orderListArray().size(), 1u);
  const json cart = list->orderListArray();
  const GlobalSO& so = t.app.delegate->globalSO();
  const std::string qty = so.orderTotalQty, ext = so.orderTotalExtPrice;
  struct Case {
    const char* key;
    json value;
  };
  const std::vector<Case> cases = {
      {"Price", "abc"},     {"Price", "12.3.4"}, {"Price", "1e400"},      {"Price", 1e308},
      {"Price", "-1.00"},   {"Price", -4},       {"Price", json::array()}, {"OrgPrice", "abc"},
      {"MinPrice", "-0.5"}, {"Sum", "six"},      {"Sum", -6},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(std::string(c.key) + " " + c.value.dump());
    t.server.setFault("GetPrice", backoffice::Fault::result(priceAnswer(c.key, c.value).dump()));
    scan("400000000003");
    auto alerts = t.app.alerts();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].title, "Error");
    EXPECT_NE(alerts[0].message.find(std::string("\"") + c.key + "\" is not"), std::string::npos) << alerts[0].message;
    t.press("OK");
    EXPECT_EQ(list->orderListArray(), cart);
    EXPECT_EQ(so.orderTotalQty, qty);
    EXPECT_EQ(so.orderTotalExtPrice, ext);
    EXPECT_EQ(OrderBackup::standard().values().value("backupOrderListArray", nlohmann::json()), cart);
  }
  // The same answer with a well-formed price makes a line.
  t.server.setFault("GetPrice", backoffice::Fault::result(priceAnswer(nullptr, nullptr).dump()));
  scan("400000000003");
  EXPECT_TRUE(t.app.alerts().empty()) << ::testing::PrintToString(t.alertMessages());
  EXPECT_EQ(list->orderListArray().size(), 2u);
}

TEST_F(ServerValuesOnTheRoad, SaveAnswersWithTotalsThatAreNoNumbersKeepTheApplicationsTotals) {
  const std::string recheck = "\n*Please recheck your order information at Orvo. [T]";
  struct Case {
    const char* name;
    json totalQty, totalExt;  // null: the key is left out
  };
  const std::vector<Case> cases = {
      {"missing", nullptr, nullptr},
      {"NaN text", "NaN", "15.74"},
      {"too large", "2", "1e400"},
      {"huge number", 2, 1e308},
      {"a list", json::array({2}), "15.74"},
      {"an object", "2", json{{"v", 1}}},
      {"negative", "-2", "15.74"},
  };
  auto* header = t.walkToHeader({"400000000002", "400000000002"});
  ASSERT_NE(header, nullptr) << t.h->dump();
  GlobalSO& so = t.app.delegate->globalSO();
  int n = 0;
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const std::string number = std::to_string(40001 + n++);
    json answer{{"Error", nullptr}, {"OrderNumber", number}, {"Id", "1"}};
    if (!c.totalQty.is_null()) answer["TotalQty"] = c.totalQty;
    if (!c.totalExt.is_null()) answer["TotalExtPrice"] = c.totalExt;
    t.server.setFault("InsertOrder", backoffice::Fault::result(answer.dump()));
    so.orderNumber.clear();
    t.defaults().setBool(defaults::OrderProcessingFlag, false);
    header = t.reopenHeader(*header);  // the flags are read each time the header shows
    ASSERT_NE(header, nullptr) << t.h->dump();
    ASSERT_TRUE(t.saveHeader(*header));
    auto alert = t.alertTitled("SO# " + number);
    ASSERT_TRUE(alert) << ::testing::PrintToString(t.alertMessages());
    EXPECT_EQ(alert->message, "Total Qty : 2\nTotal Ext. Price : $15.74" + recheck);
    EXPECT_EQ(so.orderTotalQty, "2");
    EXPECT_EQ(so.orderTotalExtPrice, "15.74");
    t.app.dismissAlerts();
    t.server.clearFaults();
  }
}

TEST_F(ServerValuesOnTheRoad, AnOrderNumberThatIsAListOrAnObjectIsNoSaveAndTheCheckFindsTheOrder) {
  auto* header = t.walkToHeader({"400000000002"});
  ASSERT_NE(header, nullptr) << t.h->dump();
  GlobalSO& so = t.app.delegate->globalSO();
  for (const json& bad : {json::array({json::array({"10001"})}), json{{"SO", "10001"}}, json(true), json(10001.5)}) {
    SCOPED_TRACE(bad.dump());
    t.server.withState([](backoffice::State& s) { s.salesOrders = json::object(); });
    so.orderNumber.clear();
    t.defaults().setBool(defaults::OrderProcessingFlag, false);
    header = t.reopenHeader(*header);  // the flags are read each time the header shows
    ASSERT_NE(header, nullptr) << t.h->dump();
    // The server makes the order; its answer names it in a form that is no order number.
    t.server.setFault("InsertOrder", backoffice::Fault::result(
                                         json{{"Error", nullptr}, {"OrderNumber", bad}, {"Id", "1"},
                                              {"TotalQty", "1"}, {"TotalExtPrice", "7.87"}}
                                             .dump()));
    ASSERT_TRUE(t.saveHeader(*header));
    EXPECT_TRUE(t.alertTitled("Insert Order Items Error")) << ::testing::PrintToString(t.alertMessages());
    EXPECT_FALSE(t.alertTitled("SO# "));
    EXPECT_EQ(so.orderNumber, "");
    EXPECT_TRUE(t.defaults().boolForKey(defaults::OrderProcessingFlag));
    t.app.dismissAlerts();
    t.server.clearFaults();
    // The next Save asks the server, which names the order it made; that order is edited.
    const int inserts = t.calls("InsertOrder");
    ASSERT_TRUE(t.saveHeader(*header));
    EXPECT_EQ(t.calls("InsertOrder"), inserts);
    const json orders = t.serverOrders();
    ASSERT_EQ(orders.size(), 1u);
    EXPECT_EQ(so.orderNumber, orders.begin().key());
    EXPECT_TRUE(t.alertTitled("SO# " + so.orderNumber)) << ::testing::PrintToString(t.alertMessages());
    t.app.dismissAlerts();
  }
  // The processing check's own answer with an entry of the wrong form is not read either:
  // nothing is edited or inserted, and the user may save again.
  so.orderNumber.clear();
  header = t.reopenHeader(*header);  // the flags are read each time the header shows
  ASSERT_NE(header, nullptr) << t.h->dump();
  const int edits = t.calls("EditOrder"), inserts = t.calls("InsertOrder");
  t.server.setFault("CheckOrderProcessing", backoffice::Fault::result(R"([["10004"]])"));
  ASSERT_TRUE(t.saveHeader(*header));
  EXPECT_TRUE(t.app.alerts().empty()) << ::testing::PrintToString(t.alertMessages());
  EXPECT_EQ(so.orderNumber, "");
  EXPECT_EQ(t.calls("EditOrder"), edits);
  EXPECT_EQ(t.calls("InsertOrder"), inserts);
}

}  // namespace
}  // namespace orvo
