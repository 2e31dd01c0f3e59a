// The picking operations answer from the sample data as the pick screens expect: tickets
// by customer and order, items grouped per bin with 15-entry size arrays, and the units a
// scanned barcode counts.
#include "testing/backoffice/PickingOperations.h"

#include <gtest/gtest.h>

namespace backoffice {
namespace {

using nlohmann::json;

class PickingOperationsTest : public ::testing::Test {
 protected:
  void SetUp() override {
    std::string error;
    ASSERT_TRUE(state.catalogue.load(defaultDataFolder(), &error)) << error;
  }
  Answer call(const std::string& op, std::vector<std::pair<std::string, std::string>> params) {
    const Operation* o = findOperation(ServiceKind::ScanPack, op);
    EXPECT_NE(o, nullptr) << op;
    if (!o) return std::string();
    EXPECT_EQ(findOperation(ServiceKind::Mobile, op), nullptr) << op << " belongs to the scan-pack service";
    return o->handler(Call{op, std::move(params)}, state);
  }
  json object(const Answer& a) { return std::holds_alternative<json>(a) ? std::get<json>(a) : json(); }
  std::vector<std::string> column(const json& rows, const char* key) {
    std::vector<std::string> out;
    for (const auto& r : rows) out.push_back(r.value(key, std::string()));
    return out;
  }
  State state;
};

TEST_F(PickingOperationsTest, PickListByCustomerAndOrder) {
  json all = object(call("GetPickList", {{"customer", ""}, {"orderbyCustomer", "0"}}));
  EXPECT_EQ(column(all, "PickNo"), (std::vector<std::string>{"P26101", "P26102", "P26103", "P26104"}));
  EXPECT_EQ(column(all, "Response"), std::vector<std::string>(4, "True"));
  EXPECT_EQ(all[2].value("IsChecked", ""), "True");

  json byCustomer = object(call("GetPickList", {{"customer", ""}, {"orderbyCustomer", "1"}}));
  EXPECT_EQ(column(byCustomer, "Customer"), (std::vector<std::string>{"C1001", "C1001", "C1002", "C1003"}));

  json one = object(call("GetPickList", {{"customer", "C1001"}, {"orderbyCustomer", "0"}}));
  EXPECT_EQ(column(one, "PickNo"), (std::vector<std::string>{"P26101", "P26103"}));

  json none = object(call("GetPickList", {{"customer", "C1006"}, {"orderbyCustomer", "0"}}));
  ASSERT_EQ(none.size(), 1u);
  EXPECT_EQ(none[0].value("Response", ""), "False");
  EXPECT_EQ(none[0].value("Error", ""), "There is no pick ticket for C1006.");
}

TEST_F(PickingOperationsTest, PickupItemsMergeTicketsPerBinAndFillFifteenColumns) {
  json items = object(call("GetPickupItems", {{"jsonPickNo", "[\n  \"P26103\",\n  \"P26101\"\n]"}}));
  ASSERT_EQ(items.size(), 5u);
  // P26103's items first; its B2 TS100 BLK takes P26101's units of the same bin.
  EXPECT_EQ(column(items, "Bin"), (std::vector<std::string>{"B2", "D4", "A1", "B2", "C3"}));
  const json& merged = items[0];
  EXPECT_EQ(merged["PickNOs"], "P26103, P26101");
  EXPECT_EQ(merged["SizeCount"], 4);
  EXPECT_EQ(merged["SizeArray"], json({"S", "M", "L", "XL", "", "", "", "", "", "", "", "", "", "", ""}));
  EXPECT_EQ(merged["UnitArray"], json({2, 1, 1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));
  EXPECT_EQ(merged["TotalUnit"], 5);
  EXPECT_EQ(merged["IsChecked"], "False");

  for (const char* bad : {"", "not json", "{\"PickNo\":1}", "[1]", "[\"P99999\"]", "[]"}) {
    SCOPED_TRACE(bad);
    Answer a = call("GetPickupItems", {{"jsonPickNo", bad}});
    ASSERT_TRUE(std::holds_alternative<std::string>(a));
    EXPECT_EQ(std::get<std::string>(a), "False");
  }
}

TEST_F(PickingOperationsTest, BarcodeCountsItsSizeOrItsListedUnits) {
  json size = object(call("GetQtyByBarcode", {{"barcode", "400000000002"}}));  // TS100 BLK M
  EXPECT_EQ(size["Style"], "TS100");
  EXPECT_EQ(size["Color"], "BLK");
  EXPECT_EQ(json::parse(size["BarcodeUnitArray"].get<std::string>()), json({0, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

  json pack = object(call("GetQtyByBarcode", {{"barcode", "1002795"}}));
  EXPECT_EQ(json::parse(pack["BarcodeUnitArray"].get<std::string>()), json({1, 1, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0, 0}));

  Answer unknown = call("GetQtyByBarcode", {{"barcode", "999"}});
  ASSERT_TRUE(std::holds_alternative<std::string>(unknown));
  EXPECT_EQ(std::get<std::string>(unknown), "False");
}

}  // namespace
}  // namespace backoffice
