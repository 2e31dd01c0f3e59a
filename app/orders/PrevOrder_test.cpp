// An existing order opened on the item list: its lines and head from "GetPrevOrderList"
// (saved orders of the back office, and answers of every form), edited prices found by
// comparing the price texts, the server copy of a real-time duplicate, and a load that
// fails.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "platform/foundation/Clock.h"
#include "platform/ui/NavigationController.h"
#include "testing/app/OrderRoadTestSupport.h"

namespace orvo {
namespace {

using nlohmann::json;
using test_support::OrderRoadHarness;

std::string text(const json& o, const char* key) {
  auto it = o.find(key);
  return it == o.end() || !it->is_string() ? std::string("?") : it->get<std::string>();
}

json item(const char* code, const char* kind, json qty, json price, const char* orgPrice, const char* sum) {
  return {{"Code", code},       {"Id", "7"},          {"Kind", kind},       {"Descript", "Tee"},
          {"Ats", "3"},         {"AtsStatus", "True"}, {"Ots", "9"},        {"OtsStatus", "True"},
          {"Sum", sum},         {"Qty", qty},          {"Price", price},    {"OrgPrice", orgPrice},
          {"MinPrice", "6.80"}, {"Color", "BLK"},      {"MultiColor", ""},  {"Bundle", "PP1"},
          {"Style", "TS100"},   {"CancelDate", "09/01/2026"}, {"SizeCode", "M"},
          {"OverBooking", R"({"OverBookingMsg":"m","OverBookingLimit":"4"})"}};
}

class PrevOrder : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(t.started);
    t.launch();
    first = t.walkToItemList("harbor o", {0, 0}, 0);
    ASSERT_NE(first, nullptr) << t.h->dump();
  }
  GlobalSO& so() { return t.app.delegate->globalSO(); }
  // A new item list opened on order `number`, as the selector opens one.
  OrderListViewController* open(const std::string& number) {
    const std::string dupNum = so().pDupNum;
    t.app.delegate->AutoSaveFuncDataInit();  // no backup of an earlier cart joins the order
    so().pDupNum = dupNum;
    so().orderNumber = number;
    first->navigationController()->pushViewController(makeScreen("OrderListView"), false);
    t.waitForRequests();
    t.waitForRequests();
    return t.top<OrderListViewController>();
  }
  void answer(const json& a) { t.server.setFault("GetPrevOrderList", backoffice::Fault::result(a.dump())); }

  foundation::ScopedManualClock clock;
  OrderRoadHarness t;
  OrderListViewController* first = nullptr;
};

TEST_F(PrevOrder, ASavedOrderOpensWithItsLinesAndHead) {
  t.server.withState([](backoffice::State& s) {
    s.salesOrders["20001"] = {{"OrderNumber", "20001"}, {"CustomerId", "C1003"}, {"StoreId", "C1003-2"},
                              {"PriceLevel", "3"},      {"Header", {{"canceldate", "10/15/2026"}}},
                              {"Items", json::array({{{"Barcode", "400000000002"}, {"Qty", "4"}, {"Price", "7.00"}},
                                                     {{"Barcode", "500000000000"}, {"Qty", "2"}, {"Price", "7.65"}}})}};
  });
  auto* list = open("20001");
  ASSERT_NE(list, nullptr) << t.h->dump();
  ASSERT_EQ(t.calls("GetPrevOrderList"), 1);
  const auto call = t.server.received("GetPrevOrderList")[0];
  EXPECT_EQ(call.params, (std::vector<std::pair<std::string, std::string>>{
                             {"OrderNumber", "20001"}, {"PriceEditLevel", "2"}, {"WH", ""}}));
  EXPECT_TRUE(list->isEditOrderMode());
  EXPECT_EQ(so().customerID, "C1003");
  EXPECT_EQ(so().storeID, "C1003-2");
  EXPECT_EQ(so().priceLevel, "3");
  const json& cart = list->orderListArray();
  ASSERT_EQ(cart.size(), 2u);
  EXPECT_EQ(cart[0].size(), 23u);
  EXPECT_EQ(text(cart[0], "Qty"), "4");
  EXPECT_EQ(text(cart[0], "Price"), "7.00");
  EXPECT_EQ(text(cart[0], "extPrice"), "28.00");
  EXPECT_EQ(text(cart[0], "EtaForPrint"), "10/15/2026");
  EXPECT_EQ(text(cart[1], "extPrice"), "91.80");  // 2 packs of 6 at 7.65
  // 7.00 is an edited price of the level's 7.65; the prepack kept the level's price.
  EXPECT_EQ(list->editedPriceArray(),
            json::array({{{"Style", "TS100"}, {"Color", "BLK"}, {"EditedPrice", "7.00"}}}));
  EXPECT_EQ(list->lbl_topOrderInfo()->text().rfind("SO# 20001 \tPrice Level : 3", 0), 0u)
      << list->lbl_topOrderInfo()->text();
  // Leaving an order opened for editing never deletes it.
  EXPECT_TRUE(t.h->tapBarItem(list->backBarButtonItem()));
  t.settle();
  EXPECT_EQ(t.alertMessages(),
            std::vector<std::string>{"Are you sure you want to leave this page?\n All items on your cart will be deleted."});
}

TEST_F(PrevOrder, AnswerFormsBecomeTheLinesAndHeadTheyDescribe) {
  struct Case {
    const char* name;
    json items;
    json priceLevel;
    const char* level;
    std::vector<std::string> ext;
    size_t editedPrices;
  } cases[] = {
      {"bundle and unit lines", json::array({item("1", "bundle", 3, 10, "10.00", "6"), item("2", "upc", 3, 10, "10.00", "1")}),
       "2", "2", {"180.00", "30.00"}, 0},
      {"12.5 against 12.50 is no edit", json::array({item("1", "upc", 1, 12.5, "12.50", "1")}), "2", "2", {"12.50"}, 0},
      {"12.5 against 12.5 is one", json::array({item("1", "upc", 1, 12.5, "12.5", "1")}), "2", "2", {"12.50"}, 1},
      {"texts read as numbers", json::array({item("1", "upc", "2", "1234.56", "1234.56", "1")}), "2", "2", {"2469.12"}, 0},
      {"a blank level is level 1", json::array(), " ", "1", {}, 0},
      {"an empty level stays empty", json::array(), "", "", {}, 0},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    so().customerID = "?";
    answer({{"Error", nullptr}, {"CustomerId", "C1002"}, {"StoreId", "C1002-2"}, {"CustomerOrderDiscountRate", "2.5"},
            {"PriceLevel", c.priceLevel}, {"SohCancelDate", "09/30/2026"}, {"EditOrderItemList", c.items}});
    auto* list = open("30001");
    ASSERT_NE(list, nullptr);
    std::vector<std::string> ext;
    for (const auto& l : list->orderListArray()) ext.push_back(text(l, "extPrice"));
    EXPECT_EQ(ext, c.ext);
    EXPECT_EQ(list->editedPriceArray().size(), c.editedPrices);
    EXPECT_EQ(so().priceLevel, c.level);
    EXPECT_EQ(so().customerID, "C1002");  // the head is taken with or without lines
    if (!list->orderListArray().empty()) {
      const json& l = list->orderListArray()[0];
      EXPECT_EQ(text(l, "OverBookingLimit"), "4");
      EXPECT_EQ(text(l, "OverBookingMsg"), "m");
      EXPECT_EQ(text(l, "Id"), "7");
      EXPECT_FALSE(l.contains("BeforeOrderNum"));
    }
    list->navigationController()->popViewControllerAnimated(false);
    t.settle();
  }
}

TEST_F(PrevOrder, AnOrderThatCannotBeLoadedIsSaidAndLeft) {
  auto* list = open("99999");  // not on the server
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(t.alertMessages(), std::vector<std::string>{"SO# 99999 is not found."});
  EXPECT_TRUE(list->orderListArray().empty());
  t.press("OK");
  EXPECT_EQ(t.top<OrderListViewController>(), first);

  // An answer without "Error" is no success either.
  answer({{"CustomerId", "C1002"}, {"EditOrderItemList", json::array({item("1", "upc", 1, 1, "1", "1")})}});
  list = open("30001");
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(t.alertMessages(), std::vector<std::string>{""});
  EXPECT_TRUE(list->orderListArray().empty());
}

TEST_F(PrevOrder, ARealTimeDuplicateGetsItsServerCopyOnlyFromAnOrderThatLoaded) {
  t.server.withState([](backoffice::State& s) {
    s.salesOrders["20002"] = {{"OrderNumber", "20002"}, {"CustomerId", "C1001"}, {"StoreId", "C1001-1"},
                              {"PriceLevel", "1"},      {"Header", json::object()},
                              {"Items", json::array({{{"Barcode", "400000000002"}, {"Qty", "3"}, {"Price", "8.50"}}})}};
  });
  Settings& settings = t.app.delegate->settings();
  settings.realtimeSoFlag = true;
  settings.duplicateSoFlag = true;
  so().pDupNum = "20002";
  auto* list = open("20002");
  ASSERT_NE(list, nullptr);
  ASSERT_EQ(t.calls("InsertDupSO"), 1);
  const auto dup = t.server.received("InsertDupSO")[0];
  std::vector<std::string> names;
  for (auto& [k, v] : dup.params) names.push_back(k);
  EXPECT_EQ(names, (std::vector<std::string>{"login", "pDupNum", "customerId", "storeId", "priceLevel"}));
  EXPECT_EQ(dup.param("pDupNum"), "20002");
  const std::string copy = so().orderNumber;
  EXPECT_NE(copy, "20002");
  EXPECT_FALSE(list->isEditOrderMode());
  EXPECT_EQ(list->lbl_topOrderInfo()->text().rfind("Duplicated SO# " + copy, 0), 0u);
  EXPECT_EQ(t.serverOrders()[copy]["Items"].size(), 1u);
  EXPECT_EQ(list->orderListArray().size(), 1u);
  list->navigationController()->popViewControllerAnimated(false);
  t.settle();

  // The order to duplicate cannot be loaded: no copy is made on the server.
  const size_t orders = t.serverOrders().size();
  list = open("88888");
  ASSERT_NE(list, nullptr);
  EXPECT_EQ(t.calls("InsertDupSO"), 1);
  EXPECT_EQ(t.serverOrders().size(), orders);
}

}  // namespace
}  // namespace orvo
