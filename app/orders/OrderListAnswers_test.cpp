// The item list against answers that are not what it asked for, and against a server that
// goes away in the middle of an order: the user sees the screen's prompt and the cart and
// its backup keep every line. Also the road of a code scanned by the simulated sleeve
// through the device SDK.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/core/KestraDevices.h"
#include "platform/foundation/Clock.h"
#include "sdk/device/OKTKXDevices.h"
#include "sdk/device/PellanSleeve.h"
#include "app/core/OrderBackup.h"
#include "testing/app/OrderRoadTestSupport.h"
#include "testing/devices/sleeve/SleeveTestBench.h"

namespace orvo {
namespace {

using nlohmann::json;
using test_support::OrderRoadHarness;

std::string field(const json& line, const char* key) { return line.value(key, std::string("?")); }

class OrderListAnswers : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(t.started);
    t.launch();
    list = t.walkToItemList("harbor o", {0, 0}, 0);
    ASSERT_NE(list, nullptr) << t.h->dump();
    scan("400000000002");  // one good line first
    ASSERT_EQ(list->orderListArray().size(), 1u);
  }
  void scan(const std::string& code) {
    t.app.devices->raiseBarcode(code);
    t.waitForRequests();
  }
  json backup() { return OrderBackup::standard().values().value("backupOrderListArray", json()); }

  foundation::ScopedManualClock clock;
  OrderRoadHarness t;
  OrderListViewController* list = nullptr;
};

TEST_F(OrderListAnswers, UnknownCodeIsTheServersMessageAndTheCartStays) {
  scan("999");
  ASSERT_EQ(t.alertMessages(), std::vector<std::string>{"Item 999 is not found."});
  t.press("OK");
  EXPECT_FALSE(list->isDetailShowing());
  EXPECT_EQ(list->beforeBarcode(), "");
  EXPECT_EQ(list->orderListArray().size(), 1u);
  EXPECT_EQ(backup(), list->orderListArray());
  // The same unknown code again asks the server again.
  scan("999");
  EXPECT_EQ(t.calls("GetPrice"), 3);
}

TEST_F(OrderListAnswers, AnswerWithoutAPriceIsRefusedAndTheItemOnDisplayKeepsItsCode) {
  scan("400000000009");  // the server answers a null price for this one
  auto alerts = t.app.alerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].title, "Error");
  EXPECT_EQ(alerts[0].message.rfind("[F]-[OrderListViewController getPriceResponseData:]\n[N]NSInvalidArgumentException", 0),
            0u)
      << alerts[0].message;
  t.press("OK");
  EXPECT_EQ(list->orderListArray().size(), 1u);
  // The code on display is still the good item's: scanning it adds to its own line.
  EXPECT_EQ(list->beforeBarcode(), "400000000002");
  scan("400000000002");
  EXPECT_EQ(field(list->orderListArray()[0], "Qty"), "2");
}

TEST_F(OrderListAnswers, NumbersAsNumbersAndMissingStockKeysStillMakeTextLines) {
  scan("400000000010");  // every number of this answer is a JSON number
  ASSERT_EQ(list->orderListArray().size(), 2u);
  const json& numeric = list->orderListArray()[1];
  EXPECT_EQ(field(numeric, "Price"), "8.50");
  EXPECT_EQ(field(numeric, "Sum"), "1");
  EXPECT_EQ(field(numeric, "Ats"), "13");
  EXPECT_EQ(field(numeric, "extPrice"), "8.50");
  for (auto& [k, v] : numeric.items()) EXPECT_TRUE(v.is_string()) << k;

  scan("400000000013");  // stock, limit and minimum price left out
  ASSERT_EQ(list->orderListArray().size(), 3u);
  const json& sparse = list->orderListArray()[2];
  EXPECT_EQ(field(sparse, "Ats"), "");
  EXPECT_EQ(field(sparse, "OverBookingLimit"), "False");
  EXPECT_EQ(field(sparse, "Qty"), "1");
  EXPECT_TRUE(t.alertMessages().empty());
}

TEST_F(OrderListAnswers, UnreadableAnswerShowsTheReadingAlertAndTakesNothing) {
  t.server.setFault("GetPrice", backoffice::Fault::badJson());
  scan("400000000003");
  ASSERT_EQ(t.app.alerts().size(), 1u);
  EXPECT_EQ(t.app.alerts()[0].title, "JSON Error");
  t.press("OK");
  EXPECT_EQ(list->orderListArray().size(), 1u);
  EXPECT_EQ(list->beforeBarcode(), "400000000002");
}

TEST_F(OrderListAnswers, AnswerThatIsNoDictionaryIsAnExceptionAlert) {
  t.server.setFault("GetPrice", backoffice::Fault::result("[1,2]"));
  scan("400000000003");
  auto alerts = t.app.alerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].title, "Error");
  t.press("OK");
  EXPECT_EQ(list->orderListArray().size(), 1u);
  EXPECT_EQ(list->beforeBarcode(), "400000000002");
}

TEST_F(OrderListAnswers, ServerThatStopsMidOrderIsAPromptAndTheCartAndBackupKeepTheirLines) {
  // An error page, then no server at all.
  t.server.setFault("GetPrice", backoffice::Fault::serverError());
  scan("400000000003");
  ASSERT_EQ(t.alertMessages(), std::vector<std::string>{"Webservice Server Error : 500\n Please check your server."});
  t.press("OK");  // saves the item on display, as NEXT does
  EXPECT_FALSE(list->isDetailShowing());
  EXPECT_EQ(list->orderListArray().size(), 1u);
  EXPECT_EQ(backup(), list->orderListArray());

  t.server.stop();
  scan("400000000004");
  auto messages = t.alertMessages();
  ASSERT_EQ(messages.size(), 1u);
  EXPECT_NE(messages[0].find("\nPlease check your Server IP."), std::string::npos) << messages[0];
  t.press("OK");
  EXPECT_EQ(list->orderListArray().size(), 1u);
  EXPECT_EQ(field(list->orderListArray()[0], "Barcode"), "400000000002");
  EXPECT_EQ(backup(), list->orderListArray());
  EXPECT_EQ(list->beforeBarcode(), "");
}

TEST(OrderRoadWithSleeve, CodeScannedBySimulatedSleeveIsPricedOnTheItemList) {
  devices::SleeveTestBench bench;
  auto api = kestra::KXDevices::create(kestra::makePellanDriverFactory(bench.pellan, bench.manager.get()));
  auto sdk = kestra::OKTKXDevices::create(api, std::make_shared<kestra::KXChargingCaseStandIn>(),
                                          std::make_shared<kestra::KXDeviceAgentStandIn>());
  OrderRoadHarness t;
  ASSERT_TRUE(t.started);
  OKTKXDevices::setShared(std::make_shared<KestraDevices>(sdk));
  ASSERT_TRUE(bench.sleeve->attach());
  t.launch();
  ASSERT_TRUE(t.app.runUntil([&] { return t.app.delegate->scanner().conn == CONN_CONNECTED; }));

  auto* list = t.walkToItemList("harbor o", {0, 0}, 0);
  ASSERT_NE(list, nullptr) << t.h->dump();
  bench.sleeve->sendBarcode("400000000041");
  ASSERT_TRUE(t.app.runUntil([&] { return t.calls("GetPrice") == 1; }));
  t.waitForRequests();
  ASSERT_EQ(list->orderListArray().size(), 1u);
  EXPECT_EQ(field(list->orderListArray()[0], "Style"), "HD400");
  EXPECT_EQ(field(list->orderListArray()[0], "Price"), "21.25");
  bench.sleeve->sendBarcode("400000000041");
  ASSERT_TRUE(t.app.runUntil([&] { return field(list->orderListArray()[0], "Qty") == "2"; }));
  EXPECT_EQ(t.calls("GetPrice"), 1);
  EXPECT_TRUE(t.h->tapBarItem(list->nextBarButtonItem()));  // saved: the totals follow
  t.settle();
  EXPECT_EQ(t.app.delegate->globalSO().orderTotalExtPrice, "42.50");
}

}  // namespace
}  // namespace orvo
