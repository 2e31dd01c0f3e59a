#include <gtest/gtest.h>

#include "app/core/GlobalPick.h"
#include "app/core/GlobalSO.h"
#include "app/core/ScannedItem.h"
#include "app/core/Settings.h"

namespace orvo {
namespace {

TEST(RecordsTest, InitVarGivesTheLaunchValues) {
  Settings s;
  s.isUpcSizeMode = true;
  s.logoutFlag = true;
  s.showOrderDiscountRateFromServer = 4.5;
  s.initVar();
  // Every flag reads NO: the record is 34 Booleans followed by the double.
  const bool* flags = reinterpret_cast<const bool*>(&s);
  for (int i = 0; i < 34; ++i) EXPECT_FALSE(flags[i]) << i;
  EXPECT_EQ(s.showOrderDiscountRateFromServer, 0.0);

  GlobalSO so;
  so.orderNumber = "SO1";
  so.printerNum = 3;
  so.termsArray.push_back("NET30");
  so.initVar();
  EXPECT_EQ(so.printerNum, 1);
  EXPECT_EQ(so.orderNumber, "");
  EXPECT_TRUE(so.termsArray.is_array());
  EXPECT_TRUE(so.termsArray.empty());
  EXPECT_TRUE(so.lastOrderListArray.is_array());

  GlobalPick pick;
  pick.customerID = "C1";
  pick.initVar();
  EXPECT_EQ(pick.customerID, "");
}

TEST(RecordsTest, ScannedItemTakesBarcodeAsCodeAndKeepsValueKinds) {
  nlohmann::json answer = {{"Barcode", "123"}, {"Code", "999"}, {"Qty", 4},       {"Price", "12.50"},
                           {"Descript", "x"},  {"Status", "A"}, {"Style", "TS100"}};
  ScannedItem item(answer);
  EXPECT_EQ(item.Code, "123");
  EXPECT_TRUE(item.Qty.is_number());
  EXPECT_EQ(item.Qty, 4);
  EXPECT_EQ(item.Price, "12.50");
  // Not taken from the answer, and absent keys stay null.
  EXPECT_TRUE(item.Descript.is_null());
  EXPECT_TRUE(item.Status.is_null());
  EXPECT_TRUE(item.Color.is_null());
  EXPECT_EQ(item.BeforeTotal, 0);

  item.BeforeTime = 3;
  item.initScannedItem();
  EXPECT_TRUE(item.Code.is_null());
  EXPECT_EQ(item.BeforeTime, 0);
}

}  // namespace
}  // namespace orvo
