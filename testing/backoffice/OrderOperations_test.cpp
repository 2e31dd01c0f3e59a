// The order-taking operations answered from the sample data, called as the server calls
// them (through the operation table).
#include "testing/backoffice/OrderOperations.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <optional>

namespace backoffice {
namespace {

using nlohmann::json;

class OrderOperationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(state.catalogue.load(defaultDataFolder(), &error)) << error;
  }
  Answer call(const std::string& op, std::vector<std::pair<std::string, std::string>> params) {
    const Operation* o = findOperation(ServiceKind::Mobile, op);
    EXPECT_NE(o, nullptr) << op;
    Call c{op, std::move(params)};
    EXPECT_TRUE(paramsInOrder(*o, c)) << op;
    return o->handler(c, state);
  }
  json price(const std::string& code, const std::string& customer = "C1001", const std::string& level = "1",
             const std::string& rate = "0.000000", std::optional<std::string> items = std::nullopt) {
    std::vector<std::pair<std::string, std::string>> p{
        {"ItemCode", code}, {"CustomerCode", customer}, {"StoreCode", customer + "-1"}, {"PriceEditLevel", "2"},
        {"PriceLevel", level}, {"OrderDiscountRate", rate}, {"DupItemHandlingMode", "0"}, {"EditOrderNum", ""}};
    if (items) p.emplace_back("JsonItemsForRealtime", *items);
    p.emplace_back("WH", "");
    return std::get<json>(call("GetPrice", p));
  }
  State state;
};

TEST_F(OrderOperationsTest, PriceOfASizeFollowsTheLevelAndTheDiscount) {
  json a = price("400000000002", "C1003", "3", "5.000000");
  EXPECT_TRUE(a["Error"].is_null());
  EXPECT_EQ(a["Kind"], "upc");
  EXPECT_EQ(a["Style"], "TS100");
  EXPECT_EQ(a["Color"], "BLK");
  EXPECT_EQ(a["SizeCode"], "M");
  EXPECT_EQ(a["OrgPrice"], "7.65");  // level 3
  EXPECT_EQ(a["Price"], "7.27");     // 5 % off
  EXPECT_EQ(a["Sum"], "1");
  EXPECT_TRUE(a["Bundle"].is_null());
  EXPECT_EQ(json::parse(a["OverBooking"].get<std::string>())["OverBookingLimit"], "False");
  // Negative stock reads "False" in its status.
  EXPECT_EQ(price("400000000001")["AtsStatus"], "False");
}

TEST_F(OrderOperationsTest, PrepackIsABundleOfItsUnits) {
  json a = price("500000000000");
  EXPECT_EQ(a["Kind"], "bundle");
  EXPECT_EQ(a["Bundle"], "TS100-PP1");
  EXPECT_EQ(a["Sum"], "6");
  EXPECT_EQ(a["Color"], "BLK");
}

TEST_F(OrderOperationsTest, LimitsHistoryAndUnusualFormsComeFromThePricingFile) {
  json limited = price("400000000007");
  EXPECT_EQ(json::parse(limited["OverBooking"].get<std::string>())["OverBookingLimit"], "2");
  json before = price("400000000003", "C1002");
  EXPECT_EQ(before["BeforeTotal"], 4);
  EXPECT_EQ(before["BeforeOrderNum"], "SO10042");
  EXPECT_EQ(price("400000000003", "C1001")["BeforeTotal"], 0);
  EXPECT_TRUE(price("400000000010")["Price"].is_number());
  EXPECT_TRUE(price("400000000009")["Price"].is_null());
  EXPECT_FALSE(price("400000000013").contains("Ats"));
  EXPECT_EQ(price("999")["Error"], "Item 999 is not found.");
}

TEST_F(OrderOperationsTest, RealTimeItemsAreOptionalAndANewOrderGetsANumber) {
  EXPECT_EQ(price("400000000002")["RealTime"], "");
  json first = price("400000000002", "C1001", "1", "0", R"([{"NEWSO":{"DivisionCode":"01"}}])");
  json second = price("400000000002", "C1001", "1", "0", R"([{"NEWSO":{"DivisionCode":"01"}}])");
  EXPECT_FALSE(first["RealTime"].get<std::string>().empty());
  EXPECT_NE(first["RealTime"], second["RealTime"]);
}

TEST_F(OrderOperationsTest, CustomerSearchByScopeAndStoresOfACustomer) {
  auto names = [&](const std::string& text, const std::string& scope) {
    std::vector<std::string> out;
    const json rows = std::get<json>(call("GetCustomer", {{"customerName", text}, {"optionIndex", scope}}));
    for (auto& r : rows)
      out.push_back(r.value("Name", r["Response"].get<std::string>()));
    return out;
  };
  EXPECT_EQ(names("harbor", "0"), (std::vector<std::string>{"Harbor Outfitters", "harbor Supply Co"}));
  EXPECT_EQ(names("c1002", "1"), (std::vector<std::string>{"Maple & Pine Boutique"}));
  EXPECT_EQ(names("nobody", "0"), (std::vector<std::string>{"False"}));
  EXPECT_EQ(std::get<json>(call("GetStoreForCustomer", {{"customerCode", "C1002"}})).size(), 2u);
  EXPECT_EQ(std::get<json>(call("GetStoreForCustomer", {{"customerCode", "C1008"}}))[0]["Response"], "False");
}

TEST_F(OrderOperationsTest, OrderTypesPrintersAndTestPage) {
  EXPECT_EQ(std::get<json>(call("GetSoOrderType", {}))[1]["Code"], "PRE");
  json printers = std::get<json>(call("GetPrinterList", {}));
  EXPECT_EQ(json::parse(printers["ResultValue"].get<std::string>())[2], "Showroom");
  EXPECT_EQ(std::get<std::string>(call("PrintTestPage", {{"printerNo", "1"}})),
            "The test page was sent to printer 1 (Office laser).");
}

}  // namespace
}  // namespace backoffice

namespace backoffice {
namespace {

// The operations behind the item list in depth, called as the application calls them.
TEST(OrderDepthOperations, GridRowsAndARealTimeOrderKeptLineByLine) {
  State s;
  std::string error;
  ASSERT_TRUE(s.catalogue.load(defaultDataFolder(), &error)) << error;
  auto call = [&](const char* op, std::vector<std::pair<std::string, std::string>> params) {
    const Operation* o = findOperation(ServiceKind::Mobile, op);
    EXPECT_NE(o, nullptr) << op;
    Call c{op, std::move(params)};
    EXPECT_TRUE(paramsInOrder(*o, c)) << op;
    return o->handler(c, s);
  };
  auto grid = [&](const char* type, const char* color) {
    return std::get<nlohmann::json>(call("GetMultiColorList", {{"Type", type}, {"Color", color}, {"Style", "TS100"},
                                                               {"CustomerCode", "C1001"}, {"StoreCode", "C1001-1"},
                                                               {"PriceEditLevel", "0"}, {"PriceLevel", "1"},
                                                               {"OrderDiscountRate", "0.000000"}, {"DupItemMode", "0"},
                                                               {"EditOrderNum", ""}, {"OrderList", ""}, {"WH", ""}}));
  };
  const auto packs = grid("bundle", "BLK");
  ASSERT_EQ(packs.size(), 3u);  // the prepack in each colour
  EXPECT_EQ(packs[1]["Color"], "WHT");
  const auto sizes = grid("upc", "WHT");
  ASSERT_EQ(sizes.size(), 4u);
  EXPECT_EQ(nlohmann::json::parse(sizes[0]["PrepackInfo"].get<std::string>()),
            (nlohmann::json{{"S", 1}, {"M", 2}, {"L", 2}, {"XL", 1}}));
  EXPECT_EQ(nlohmann::json::parse(sizes[1]["OverBooking"].get<std::string>())["OverBookingLimit"], "5");

  const std::string number = std::get<std::string>(call(
      "GetNewSOnumberWithSOH", {{"JsonSOHinfo", R"({"CustomerCode":"C1001","StoreCode":"C1001-1","PriceLevel":"1"})"}}));
  ASSERT_NE(number, "0");
  EXPECT_EQ(std::get<std::string>(call("GetNewSOnumberWithSOH", {{"JsonSOHinfo", R"({"CustomerCode":"NOPE"})"}})), "0");
  call("UpdateItemInfoForRealTime", {{"OrderNumber", number}, {"Barcode", "400000000002"}, {"Price", "8.50"}, {"Qty", "2"}, {"WH", ""}});
  call("UpdateItemInfoForRealTime", {{"OrderNumber", number}, {"Barcode", "400000000006"}, {"Price", "8.50"}, {"Qty", "1"}, {"WH", ""}});
  call("DeleteItemForRealTime", {{"OrderNumber", number}, {"Barcode", "400000000002"}});
  ASSERT_EQ(s.salesOrders[number]["Items"].size(), 1u);
  // The whole cart replaces the lines.
  const auto all = std::get<nlohmann::json>(call(
      "UpdateAllItemsForRealTime",
      {{"OrderNum", number},
       {"JsonItemsForRealtime", R"([{")" + number + R"(":{"Barcode":"500000000000","Qty":"3","Price":"8.50"}}])"},
       {"WH", ""}}));
  EXPECT_EQ(all["Response"], "True");
  EXPECT_TRUE(nlohmann::json::parse(all["Stocks"].get<std::string>()).contains("500000000000"));
  ASSERT_EQ(s.salesOrders[number]["Items"].size(), 1u);
  EXPECT_EQ(s.salesOrders[number]["Items"][0]["Prepack"], "TS100-PP1");
  const auto prev = std::get<nlohmann::json>(call("GetPrevOrderList", {{"OrderNumber", number}, {"PriceEditLevel", "0"}, {"WH", ""}}));
  EXPECT_TRUE(prev["Error"].is_null());
  EXPECT_EQ(prev["EditOrderItemList"][0]["Qty"], "3");
  EXPECT_EQ(std::get<nlohmann::json>(call("DeleteSoForRealTime", {{"OrderNumber", number}}))["Response"], "True");
  EXPECT_EQ(std::get<nlohmann::json>(call("DeleteSoForRealTime", {{"OrderNumber", number}}))["Response"], "False");
}

}  // namespace
}  // namespace backoffice
