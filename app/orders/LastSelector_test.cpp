// The last screen of a saved order against the back office on loopback: its documents,
// the server's print and e-mail operations with their time-outs, card captures counted,
// the web-shop customer, and the roads out (duplicate, main, logout).
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/core/UserDefaultsKeys.h"
#include "app/customers/CustomerViewController.h"
#include "app/customers/StoreViewController.h"
#include "app/orders/LastSelectorViewController.h"
#include "app/orders/OrderInfoViewController.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/PrintInteractionController.h"
#include "testing/app/OrderRoadTestSupport.h"

namespace orvo {
namespace {

using nlohmann::json;
using namespace std::chrono_literals;
using test_support::OrderRoadHarness;

// A printer that keeps the jobs it is given.
class FakePrinter : public ui::PrintService {
 public:
  std::vector<ui::PrintJob> jobs;
  bool isAvailable() override { return true; }
  void submit(const ui::PrintJob& job, std::function<void(std::optional<foundation::Error>)> done) override {
    jobs.push_back(job);
    done(std::nullopt);
  }
};

class LastScreen : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(t.started);
    t.launch();
  }
  // A new order of two units saved; its last screen.
  LastSelectorViewController* saveAnOrder() {
    auto* header = t.walkToHeader({"400000000002", "400000000002"});
    if (!header || !t.saveHeader(*header)) return nullptr;
    t.press("OK");
    t.waitForRequests();
    return t.top<LastSelectorViewController>();
  }
  std::vector<std::string> paramNames(const std::string& operation) {
    std::vector<std::string> out;
    const auto calls = t.server.received(operation);
    for (auto& [k, v] : calls.back().params) out.push_back(k);
    return out;
  }

  foundation::ScopedManualClock clock;
  OrderRoadHarness t;
};

TEST_F(LastScreen, ServerPrintAndEmailOperationsSendTheOrderAndReportTheServersWord) {
  Settings& settings = t.app.delegate->settings();
  t.defaults().setBool(defaults::PrintUsingServer, true);  // the order type screen reads it
  auto* last = saveAnOrder();
  ASSERT_NE(last, nullptr) << t.h->dump();
  EXPECT_EQ(t.server.received("CreateSOpdf")[0].param("airPrintFlag"), "0");
  settings.print2CopiesFlag = true;
  t.app.delegate->globalSO().printerNum = 2;
  struct Case {
    const char* button;
    const char* operation;
    std::vector<std::string> params;
    std::string title, message;
  };
  const std::vector<std::string> emailParams = {"orderNumber", "copyMode",     "printerNo",    "company",
                                                "customerName", "customerEmail", "setEmailFlag"};
  const std::vector<Case> cases = {
      {"PRINT SO", "PrintSObyServer", {"orderNumber", "copyMode", "printerNo"}, "SO# 10001",
       "SO#10001 has been printed successfully."},
      {"E-MAIL SO", "SendSOEmail", {"orderNumber", "company", "customerName", "customerEmail", "setEmailFlag"},
       "SO# 10001", "The email has been sent successfully."},
      {"PRINT SO & E-MAIL", "PrintSOandEmailbyServer", emailParams, "SO# 10001",
       "'Print SO & E-mail' has been done successfully."},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.button);
    ASSERT_TRUE(t.h->tap(last->button(c.button)));
    t.waitForRequests();
    ASSERT_EQ(t.calls(c.operation), 1);
    EXPECT_EQ(paramNames(c.operation), c.params);
    const auto call = t.server.received(c.operation)[0];
    EXPECT_EQ(call.param("orderNumber"), "10001");
    if (!call.param("copyMode").empty()) {
      EXPECT_EQ(call.param("copyMode"), "1");
      EXPECT_EQ(call.param("printerNo"), "2");
    }
    if (!call.param("customerEmail").empty()) {
      EXPECT_EQ(call.param("company"), "Orvo Apparel Inc.");
      EXPECT_EQ(call.param("customerName"), "C1002");
      EXPECT_EQ(call.param("customerEmail"), "buyer1@example.com");
      EXPECT_EQ(call.param("setEmailFlag"), "0");
    }
    auto alert = t.alertTitled(c.title);
    ASSERT_TRUE(alert) << ::testing::PrintToString(t.alertMessages());
    EXPECT_EQ(alert->message, c.message);
    EXPECT_EQ(t.app.delegate->globalSO().currSoapFuncName, "");
    t.app.dismissAlerts();
  }
  // The card form (its button waits for a card) and a printer the server does not know.
  last->printCCbyServer();
  t.waitForRequests();
  EXPECT_EQ(paramNames("PrintCCbyServer"), (std::vector<std::string>{"orderNumber", "printerNo"}));
  ASSERT_TRUE(t.waitForAlert("Authorization form has been printed successfully."));
  t.app.dismissAlerts();
  t.app.delegate->globalSO().printerNum = 9;
  ASSERT_TRUE(t.h->tap(last->button("PRINT SO")));
  t.waitForRequests();
  auto refused = t.alertTitled("Error");
  ASSERT_TRUE(refused);
  EXPECT_EQ(refused->message, "Printer 9 is not set up on the server.");
  // The server keeps what it printed and e-mailed.
  const json order = t.serverOrders()["10001"];
  EXPECT_EQ(order["Printed"].size(), 3u);
  EXPECT_EQ(order["Emailed"].size(), 2u);
}

TEST_F(LastScreen, AnEmailThatTimesOutAfterReachingTheServerIsReportedScheduled) {
  t.defaults().setBool(defaults::PrintUsingServer, true);
  auto* last = saveAnOrder();
  ASSERT_NE(last, nullptr) << t.h->dump();
  t.server.setFault("SendSOEmail", backoffice::Fault::held());
  ASSERT_TRUE(t.h->tap(last->button("E-MAIL SO")));
  t.settle();
  EXPECT_EQ(t.app.delegate->globalSO().currSoapFuncName, "SendSOEmail");
  ASSERT_TRUE(t.app.runUntil([&] { return t.server.heldCount() == 1; }));
  ASSERT_TRUE(t.outwaitHeld(5s));
  ASSERT_TRUE(t.waitForAlert("The email job has been scheduled in the server."));
  EXPECT_EQ(t.app.delegate->globalSO().currSoapFuncName, "");
  EXPECT_FALSE(last->setEmailFlag());
  t.server.releaseHeld();
  ASSERT_TRUE(t.app.runUntil([&] { return t.server.heldCount() == 0; }));
  t.app.dismissAlerts();
  // A print is not an e-mail: its time-out is a plain failure.
  t.server.setFault("PrintSObyServer", backoffice::Fault::held());
  ASSERT_TRUE(t.h->tap(last->button("PRINT SO")));
  ASSERT_TRUE(t.app.runUntil([&] { return t.server.heldCount() == 1; }));
  ASSERT_TRUE(t.outwaitHeld(10s));
  ASSERT_FALSE(t.app.alerts().empty());
  EXPECT_NE(t.app.alerts()[0].message.find("Please try it again."), std::string::npos);
  t.server.releaseHeld();
}

TEST_F(LastScreen, CardCapturesAreCountedOncePerStoredCardAndTheDocumentsAreMadeOnce) {
  auto* last = saveAnOrder();
  ASSERT_NE(last, nullptr) << t.h->dump();
  Settings& settings = t.app.delegate->settings();
  EXPECT_FALSE(last->btn_cc()->isEnabled());
  EXPECT_TRUE(last->btn_printAllAndEmail()->isHidden());
  auto visit = [&](bool storesACard) {
    ASSERT_TRUE(t.h->tap(last->btn_ccCapture()));
    t.settle();
    ASSERT_EQ(t.topScreen()->nibName(), "CcViewController");
    if (storesACard) settings.authorizeSuccessFlag = true;
    // The card screen is a stand-in here, without controls of its own: the test goes back.
    t.topScreen()->navigationController()->popViewControllerAnimated(false);
    t.settle();
    ASSERT_EQ(t.topScreen(), last);
  };
  visit(true);
  EXPECT_EQ(last->btn_ccCapture()->titleForState(ui::ControlState::Normal), "CREDIT CARD CAPTURE (1)");
  EXPECT_TRUE(last->btn_cc()->isEnabled());
  EXPECT_FALSE(last->btn_printAllAndEmail()->isHidden());
  EXPECT_TRUE(last->btn_printSoAndEmail()->isHidden());
  visit(false);  // a visit that stores nothing is no capture, and the card stays on file
  EXPECT_EQ(last->btn_ccCapture()->titleForState(ui::ControlState::Normal), "CREDIT CARD CAPTURE (1)");
  EXPECT_TRUE(settings.authorizeSuccessFlag);
  visit(false);  // coming back again, with the flag still up from the stored card, counts nothing
  EXPECT_EQ(last->btn_ccCapture()->titleForState(ui::ControlState::Normal), "CREDIT CARD CAPTURE (1)");
  visit(true);
  EXPECT_EQ(last->btn_ccCapture()->titleForState(ui::ControlState::Normal), "CREDIT CARD CAPTURE (2)");
  EXPECT_EQ(t.calls("CreateSOpdf"), 1);
}

TEST_F(LastScreen, ADuplicateIsSavedAndTheRoadReturnsToThisScreenWithTheNewOrder) {
  auto* last = saveAnOrder();
  ASSERT_NE(last, nullptr) << t.h->dump();
  ASSERT_TRUE(t.h->tap(last->button("DUPLICATE SO")));
  t.settle();
  t.press("Yes");
  GlobalSO& so = t.app.delegate->globalSO();
  EXPECT_EQ(so.pDupNum, "10001");
  EXPECT_TRUE(t.app.delegate->settings().duplicateSoFlag);
  auto* customers = t.top<CustomerViewController>();
  ASSERT_NE(customers, nullptr) << t.h->dump();
  t.h->typeText("maple");
  t.h->pressReturn();
  t.waitForRequests();
  t.h->chooseRow(*customers->tableView(), {0, 0});
  t.settle();
  t.press("OK");
  t.waitForRequests();
  auto* stores = t.top<StoreViewController>();
  ASSERT_NE(stores, nullptr) << t.h->dump();
  t.h->chooseRow(*stores->tableView(), {0, 1});
  t.waitForRequests();
  auto* list = t.top<OrderListViewController>();
  ASSERT_NE(list, nullptr) << t.h->dump();
  t.app.devices->raiseBarcode("400000000014");
  t.waitForRequests();
  EXPECT_TRUE(t.h->tapBarItem(list->nextBarButtonItem()));
  t.settle();
  t.h->tap(list->btn_NextToGoToOrderInfoViewButton());
  t.settle();
  auto* header = t.top<OrderInfoViewController>();
  ASSERT_NE(header, nullptr);
  t.h->advance(100ms);
  t.waitForRequests();
  ASSERT_TRUE(t.saveHeader(*header));
  EXPECT_EQ(t.server.received("InsertOrder").back().param("pdupnum"), "10001");
  t.press("OK");
  t.waitForRequests();
  // Back on the same last screen, now for the duplicate, with no way back.
  EXPECT_EQ(t.top<LastSelectorViewController>(), last);
  EXPECT_EQ(so.orderNumber, "10002");
  EXPECT_EQ(last->lbl_so()->text(), "SO# 10002");
  EXPECT_EQ(t.calls("CreateSOpdf"), 2);
  EXPECT_EQ(t.server.received("CreateSOpdf")[1].param("orderNumber"), "10002");
  EXPECT_EQ(last->navigationItem().leftBarButtonItem(), nullptr);
  EXPECT_FALSE(t.app.delegate->settings().duplicateSoFlag);
  EXPECT_EQ(so.pDupNum, "");
  EXPECT_EQ(t.serverOrders().size(), 2u);
}

TEST_F(LastScreen, WebShopCustomerAndTheWayBackToTheSelector) {
  t.app.delegate->settings().WebNewCustomerFlag = true;
  auto* last = saveAnOrder();
  ASSERT_NE(last, nullptr) << t.h->dump();
  EXPECT_FALSE(last->btn_www()->isHidden());
  EXPECT_TRUE(last->btn_linesheet()->isHidden());
  ASSERT_TRUE(t.h->tap(last->btn_www()));
  t.waitForRequests();
  ASSERT_EQ(t.calls("SetMagentoNewCustomer"), 1);
  EXPECT_EQ(t.server.received("SetMagentoNewCustomer")[0].param("customerCode"), "C1002");
  EXPECT_EQ(t.server.received("SetMagentoNewCustomer")[0].param("email"), "");
  ASSERT_TRUE(t.waitForAlert("Customer C1002 has been created in the web shop."));
  t.app.dismissAlerts();
  ASSERT_TRUE(t.h->tap(last->button("INVOICE")));  // does nothing
  ASSERT_TRUE(t.h->tap(last->button("MAIN")));
  t.settle();
  t.press("No");
  EXPECT_EQ(t.top<LastSelectorViewController>(), last);
  ASSERT_TRUE(t.h->tap(last->button("MAIN")));
  t.settle();
  t.press("Yes");
  t.settle();
  EXPECT_EQ(t.topScreen()->nibName(), "SoSelectorViewController");
  EXPECT_FALSE(t.app.delegate->isActivityViewerShown());  // the selector takes it down
}

TEST_F(LastScreen, DevicePrintGivesEachOrderAndCopyItsOwnDocumentAndCountsThePrint) {
  auto printer = std::make_shared<FakePrinter>();
  ui::PrintInteractionController::setPrintService(printer);
  auto* header = t.walkToHeader({"400000000002", "400000000014"});
  ASSERT_NE(header, nullptr) << t.h->dump();
  Settings& settings = t.app.delegate->settings();
  settings.multiSoFlag = true;
  ASSERT_TRUE(t.saveHeader(*header));
  t.press("OK");
  t.waitForRequests();
  auto* last = t.top<LastSelectorViewController>();
  ASSERT_NE(last, nullptr) << t.h->dump();
  settings.print2CopiesFlag = true;
  auto& sheet = ui::PrintInteractionController::shared();

  ASSERT_TRUE(t.h->tap(last->button("PRINT SO")));
  ASSERT_TRUE(t.app.runUntil([&] { return sheet.isPresented(); }));
  std::vector<std::string> names;
  for (const auto& item : sheet.printingItems) {
    names.push_back(item.name);
    EXPECT_EQ(std::string(item.data.begin(), item.data.begin() + 5), "%PDF-");
  }
  EXPECT_EQ(names, (std::vector<std::string>{"SO10001.pdf", "SO10002.pdf", "SO10001.pdf", "SO10002.pdf"}));
  EXPECT_FALSE(t.app.delegate->isActivityViewerShown());
  ASSERT_TRUE(t.h->pressAlertButton("Print"));
  ASSERT_TRUE(t.app.runUntil([&] { return t.calls("setPrintCountInSOH") == 1; }));
  t.waitForRequests();
  ASSERT_EQ(printer->jobs.size(), 1u);
  EXPECT_EQ(printer->jobs[0].items.size(), 4u);
  EXPECT_EQ(t.server.received("setPrintCountInSOH")[0].param("copyMode"), "1");
  EXPECT_EQ(t.serverOrders()["10002"]["PrintCount"], 2);

  // Cancelling the sheet counts nothing; a document the server no longer has opens no
  // sheet, says so, and leaves no print-and-e-mail road behind.
  ASSERT_TRUE(t.h->tap(last->button("PRINT SO")));
  ASSERT_TRUE(t.app.runUntil([&] { return sheet.isPresented(); }));
  ASSERT_TRUE(t.h->pressAlertButton("Cancel"));
  t.waitForRequests();
  EXPECT_EQ(t.calls("setPrintCountInSOH"), 1);
  t.server.withState([](backoffice::State& s) { s.documents.clear(); });
  ASSERT_TRUE(t.h->tap(last->button("PRINT SO & E-MAIL")));
  ASSERT_TRUE(t.app.runUntil([&] { return !t.app.alerts().empty(); }));
  t.waitForRequests();
  EXPECT_FALSE(sheet.isPresented());
  EXPECT_EQ(t.app.alerts()[0].message.rfind("The document could not be fetched.", 0), 0u);
  EXPECT_FALSE(last->printSoAndEmailFlag());
  EXPECT_FALSE(last->printAllandEmailFlag());
  EXPECT_EQ(printer->jobs.size(), 1u);
  ui::PrintInteractionController::setPrintService(nullptr);
}

}  // namespace
}  // namespace orvo
