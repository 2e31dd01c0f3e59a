// The order type screen with the stored settings it loads, its order types and logout, and
// the printer list with its test page, against the back office on loopback.
#include <gtest/gtest.h>

#include "app/orders/PrinterViewController.h"
#include "platform/foundation/Clock.h"
#include "testing/app/OrderRoadTestSupport.h"

namespace orvo {
namespace {

using test_support::OrderRoadHarness;

class OrderSetup : public ::testing::Test {
 protected:
  void SetUp() override { ASSERT_TRUE(t.started); }

  foundation::ScopedManualClock clock;
  OrderRoadHarness t;
};

TEST_F(OrderSetup, StoredSettingsAndOrderTypesAreLoaded) {
  auto& d = t.defaults();
  d.setBool("RealtimeSoStatus", true);
  d.setBool("MultiColorSoStatus", true);
  d.setBool("overBooking", true);
  d.setString("printerName", "3");
  d.setString("priceLevel", "2");
  t.launch();
  t.app.delegate->settings().isCustomerPriorityOption = true;
  t.openOrderType();
  auto* types = t.top<SoOrderTypeViewController>();
  ASSERT_NE(types, nullptr);
  EXPECT_TRUE(t.alertMessages().empty());
  const Settings& s = t.app.delegate->settings();
  const GlobalSO& so = t.app.delegate->globalSO();
  EXPECT_TRUE(s.realtimeSoFlag);
  EXPECT_TRUE(s.multiColorSoFlag);
  EXPECT_TRUE(s.overBookingFlag);
  EXPECT_FALSE(s.multiSoFlag);
  EXPECT_EQ(so.printerNum, 3);
  EXPECT_EQ(so.fixedPriceLevel, "2");
  EXPECT_EQ(so.warehouseCode, "WH1");
  EXPECT_EQ(so.divisionCode, "01");
  EXPECT_EQ(so.stateArray, nlohmann::json::array({"Oregon"}));
  EXPECT_EQ(so.customerPriorityArray, nlohmann::json::array({"[A] Top"}));
  EXPECT_TRUE(so.salesRepArray.empty());  // its option is off

  ASSERT_EQ(types->listContent().size(), 4u);
  EXPECT_EQ(so.orderTypeArray, types->listContent());
  EXPECT_EQ(types->tableView()->numberOfRowsInSection(0), 4);
  auto* cell = types->tableView()->cellForRowAtIndexPath({0, 2});
  ASSERT_NE(cell, nullptr);
  EXPECT_EQ(cell->textLabel().text(), "SHW");
  EXPECT_EQ(cell->detailTextLabel().text(), "Trade show");
}

TEST_F(OrderSetup, WithoutServerListsTheOtherSettingsStillLoadAndTheUserIsAskedOnce) {
  for (const char* key : {"terms", "shipvia", "paymentcode", "state", "country"}) t.defaults().removeObjectForKey(key);
  t.defaults().setBool("warehouseState", false);
  t.launch();
  t.app.delegate->globalSO().warehouseCode = "OLD";
  t.openOrderType();
  EXPECT_EQ(t.alertMessages(),
            std::vector<std::string>{"Please go back to Orvo setting and click 'Request' of Orvo Settings."});
  const GlobalSO& so = t.app.delegate->globalSO();
  EXPECT_EQ(so.fixedPriceLevel, "AUTO");
  EXPECT_EQ(so.printerNum, 1);
  EXPECT_EQ(so.warehouseCode, "");  // warehouse switch off
  EXPECT_EQ(so.divisionCode, "01");
  EXPECT_EQ(t.calls("GetSoOrderType"), 1);
}

TEST_F(OrderSetup, DivisionNoticeOnEveryAppearanceAndLogoutResetsTheOrder) {
  t.defaults().setString("divisionStatus", "Y");
  t.launch();
  t.openOrderType();
  const std::string notice =
      "This iPod is setup for \u201cOrvo Apparel Inc.\u201d division.\nPlease use \u201cSetting\u201d if you need to "
      "change your division.";
  EXPECT_EQ(t.alertMessages(), std::vector<std::string>{notice});
  t.press("OK");
  auto* types = t.top<SoOrderTypeViewController>();
  ASSERT_NE(types, nullptr);
  t.h->chooseRow(*types->tableView(), {0, 0});
  t.settle();
  EXPECT_EQ(t.app.delegate->globalSO().orderTypeCode, "SO");
  t.app.dismissAlerts();
  types->navigationController()->popViewControllerAnimated(false);
  t.settle();
  EXPECT_EQ(t.alertMessages(), std::vector<std::string>{notice});
  t.press("OK");

  t.app.delegate->globalSO().customerID = "C1001";
  ASSERT_TRUE(t.h->tap(t.h->findLabel("Logout"))) << t.h->dump();
  t.settle();
  t.press("No");
  EXPECT_EQ(t.app.delegate->globalSO().customerID, "C1001");
  ASSERT_TRUE(t.h->tap(t.h->findLabel("Logout"))) << t.h->dump();
  t.settle();
  t.press("Yes");
  EXPECT_EQ(t.app.delegate->globalSO().customerID, "");
  EXPECT_EQ(t.topScreen(), t.app.root.get());
}

TEST_F(OrderSetup, PrinterChoiceIsStoredAndTheTestPageAnswerIsShown) {
  t.defaults().setString("printerName", "1");
  t.launch();
  auto printers = std::make_shared<PrinterViewController>();
  t.app.delegate->navigationController->pushViewController(printers, false);
  t.waitForRequests();
  ASSERT_EQ(printers->listContent().size(), 3u);
  EXPECT_EQ(printers->tableView()->cellForRowAtIndexPath({0, 2})->textLabel().text(), "3");
  EXPECT_EQ(printers->tableView()->cellForRowAtIndexPath({0, 2})->detailTextLabel().text(), "Showroom");

  // The swipe's button prints the test page and the row stays.
  EXPECT_TRUE(t.h->swipeRow(*printers->tableView(), {0, 0}, ui::SwipeLeft));
  EXPECT_TRUE(t.h->tap(t.h->findLabel("Delete")));
  t.waitForRequests();
  EXPECT_EQ(t.server.received("PrintTestPage").back().param("printerNo"), "1");
  EXPECT_EQ(t.alertMessages(), std::vector<std::string>{"The test page was sent to printer 1 (Office laser)."});
  t.press("OK");
  EXPECT_EQ(printers->listContent().size(), 3u);

  t.h->chooseRow(*printers->tableView(), {0, 2});
  t.settle();
  EXPECT_EQ(t.defaults().stringForKey("printerName"), "3");
  EXPECT_NE(t.topScreen(), printers.get());
}

TEST_F(OrderSetup, PrinterListRefusedIsTheServersError) {
  t.server.setFault("GetPrinterList", backoffice::Fault::responseValue("False"));
  t.launch();
  auto printers = std::make_shared<PrinterViewController>();
  t.app.delegate->navigationController->pushViewController(printers, false);
  t.waitForRequests();
  auto alerts = t.app.alerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].title, "Error");
  EXPECT_TRUE(printers->listContent().empty());
}

}  // namespace
}  // namespace orvo
