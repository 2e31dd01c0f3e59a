// The order selector against the back office on loopback: an order opened by its SO
// number (scanned or typed, checked by the server), reprints on a server printer and on
// the device, and the field's layout without line sheets.
#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "app/core/UserDefaultsKeys.h"
#include "app/customers/CustomerViewController.h"
#include "app/customers/StoreViewController.h"
#include "app/orders/LoadOrderListViewController.h"
#include "app/orders/SoSelectorViewController.h"
#include "platform/foundation/Clock.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/PrintInteractionController.h"
#include "testing/app/OrderRoadTestSupport.h"

namespace orvo {
namespace {

using nlohmann::json;
using test_support::OrderRoadHarness;

class FakePrinter : public ui::PrintService {
 public:
  std::vector<ui::PrintJob> jobs;
  bool isAvailable() override { return true; }
  void submit(const ui::PrintJob& job, std::function<void(std::optional<foundation::Error>)> done) override {
    jobs.push_back(job);
    done(std::nullopt);
  }
};

class SoSelector : public ::testing::Test {
 protected:
  void SetUp() override {
    ASSERT_TRUE(t.started);
    t.launch();
    // A saved order of the sample customer, with its PDF.
    t.server.withState([](backoffice::State& s) {
      s.salesOrders["20001"] = {{"OrderNumber", "20001"}, {"CustomerId", "C1002"}, {"StoreId", "C1002-2"},
                                {"Header", json::object()}, {"Items", json::array()}};
    });
  }
  // Types `text` over what the order-number field holds, as a user does.
  void retype(ui::TextField* field, const std::string& text) {
    ASSERT_TRUE(t.h->type(field, "")) << t.h->dump();
    t.h->deleteBackward(int(field->text().size()));
    t.h->typeText(text);
    ASSERT_EQ(field->text(), text);
  }
  SoSelectorViewController* openSelector() {
    t.openOrderType();
    auto* types = t.top<SoOrderTypeViewController>();
    if (!types) return nullptr;
    t.h->chooseRow(*types->tableView(), {0, 1});
    t.settle();
    return t.top<SoSelectorViewController>();
  }
  // Edit by customer: the saved orders of the chosen customer and store.
  LoadOrderListViewController* openSavedOrders(int storeRow) {
    auto* selector = openSelector();
    if (!selector) return nullptr;
    t.h->tap(selector->editButton());
    t.settle();
    auto* customers = t.top<CustomerViewController>();
    if (!customers) return nullptr;
    t.h->typeText("maple");
    t.h->pressReturn();
    t.waitForRequests();
    t.h->chooseRow(*customers->tableView(), {0, 0});
    t.settle();
    t.press("OK");
    t.waitForRequests();
    auto* stores = t.top<StoreViewController>();
    if (!stores) return nullptr;
    t.h->chooseRow(*stores->tableView(), {0, storeRow});
    t.waitForRequests();
    return t.top<LoadOrderListViewController>();
  }

  foundation::ScopedManualClock clock;
  OrderRoadHarness t;
};

TEST_F(SoSelector, AnOrderOpensByItsNumberOnceTheServerKnowsIt) {
  auto* selector = openSelector();
  ASSERT_NE(selector, nullptr) << t.h->dump();
  auto* field = selector->orderNumberField();
  EXPECT_TRUE(field->isFirstResponder());
  // Nothing to check: the user is told, and OK puts the cursor back.
  ASSERT_TRUE(t.h->tap(selector->nextButton()));
  t.settle();
  ASSERT_TRUE(t.waitForAlert("Please scan or enter your order number.\n before tap the button."));
  t.press("OK");
  EXPECT_TRUE(field->isFirstResponder());
  EXPECT_EQ(t.calls("CheckOrderNumber"), 0);

  // A scan fills the field; only Next sends it.
  t.app.devices->raiseBarcode("99999");
  t.settle();
  EXPECT_EQ(field->text(), "99999");
  EXPECT_EQ(t.calls("CheckOrderNumber"), 0);
  t.app.delegate->globalSO().orderNumber = "kept";
  ASSERT_TRUE(t.h->tap(selector->nextButton()));
  t.waitForRequests();
  ASSERT_TRUE(t.waitForAlert("SO# 99999 does not exist."));
  EXPECT_EQ(t.app.delegate->globalSO().orderNumber, "kept");
  t.press("OK");

  retype(field, "20001");
  ASSERT_TRUE(t.h->tap(selector->nextButton()));
  t.waitForRequests();
  EXPECT_EQ(t.server.received("CheckOrderNumber").back().param("orderNumber"), "20001");
  EXPECT_EQ(t.app.delegate->globalSO().orderNumber, "20001");
  EXPECT_EQ(t.topScreen()->nibName(), "OrderListView");
}

TEST_F(SoSelector, ReprintGoesToTheServerPrinterOrToTheDeviceByTheSetting) {
  t.defaults().setBool(defaults::PrintUsingServer, true);
  t.defaults().setBool("Print2Copies", true);
  auto* selector = openSelector();
  ASSERT_NE(selector, nullptr) << t.h->dump();
  retype(selector->orderNumberField(), "20001");
  ASSERT_TRUE(t.h->tap(selector->printButton()));
  t.waitForRequests();
  ASSERT_EQ(t.calls("PrintSOdirectly"), 1);
  const auto call = t.server.received("PrintSOdirectly")[0];
  EXPECT_EQ(call.param("copyMode"), "1");
  EXPECT_EQ(call.param("printerNo"), "1");
  auto alert = t.alertTitled("SO# 20001");
  ASSERT_TRUE(alert);
  EXPECT_EQ(alert->message, "SO#20001 has been printed successfully.");
  EXPECT_EQ(selector->orderNumberField()->text(), "");  // emptied after a server print
  EXPECT_EQ(t.calls("CreateSOpdf"), 0);
  t.press("OK");

  // On the device: the server makes the PDF and the print sheet opens with it.
  auto printer = std::make_shared<FakePrinter>();
  ui::PrintInteractionController::setPrintService(printer);
  t.app.delegate->settings().printUsingServerFlag = false;
  retype(selector->orderNumberField(), "20001");
  ASSERT_TRUE(t.h->tap(selector->printButton()));
  auto& sheet = ui::PrintInteractionController::shared();
  ASSERT_TRUE(t.app.runUntil([&] { return sheet.isPresented(); }));
  ASSERT_EQ(t.calls("CreateSOpdf"), 1);
  EXPECT_EQ(t.server.received("CreateSOpdf")[0].params.size(), 1u);  // the one-element form
  // Two copies are the document twice.
  const bool twoCopies = t.app.delegate->settings().print2CopiesFlag;
  ASSERT_EQ(sheet.printingItems.size(), twoCopies ? 2u : 1u);
  EXPECT_EQ(sheet.printingItems[0].name, "SO20001.pdf");
  EXPECT_EQ(selector->orderNumberField()->text(), "20001");
  ASSERT_TRUE(t.h->pressAlertButton("Print"));
  t.settle();
  EXPECT_EQ(printer->jobs.size(), 1u);
  // The finished print is counted under its file name.
  ASSERT_TRUE(t.app.runUntil([&] { return t.calls("setPrintCountInSOH") == 1; }));
  EXPECT_EQ(t.server.received("setPrintCountInSOH")[0].param("orderNumber"), "20001");
  EXPECT_EQ(t.server.received("setPrintCountInSOH")[0].param("copyMode"), twoCopies ? "1" : "0");
  EXPECT_EQ(t.calls("PrintSOdirectly"), 1);
  // An order the server does not know: its error, and no sheet.
  retype(selector->orderNumberField(), "77777");
  ASSERT_TRUE(t.h->tap(selector->printButton()));
  t.waitForRequests();
  ASSERT_TRUE(t.waitForAlert("SO# 77777 is not found."));
  EXPECT_FALSE(sheet.isPresented());
  ui::PrintInteractionController::setPrintService(nullptr);
}

TEST_F(SoSelector, WithoutLineSheetsTheFieldTakesTheButtonsRoom) {
  auto* selector = openSelector();
  ASSERT_NE(selector, nullptr) << t.h->dump();
  EXPECT_TRUE(selector->lineSheetButton()->isHidden());
  EXPECT_EQ(selector->orderNumberField()->frame().origin.x, 10.0);
  EXPECT_EQ(selector->orderNumberField()->frame().size.width, 260.0);
  t.h->shake();  // camera scanning is off: nothing opens
  t.settle();
  EXPECT_EQ(t.top<SoSelectorViewController>(), selector);
}

TEST_F(SoSelector, SavedOrdersOfACustomerAreListedOpenedAndPrinted) {
  t.server.withState([](backoffice::State& s) {
    s.salesOrders["20001"]["OrderDate"] = "12/01/2026 10:00:00";
    s.salesOrders["20001"]["UpdateDate"] = "12/01/2026 10:00:00";
    s.salesOrders["20002"] = {{"OrderNumber", "20002"}, {"CustomerId", "C1002"}, {"StoreId", "C1002-2"},
                              {"Header", json::object()}, {"Items", json::array()},
                              {"OrderDate", "12/02/2026 09:00:00"}, {"UpdateDate", "12/03/2026 17:30:00"}};
  });
  t.defaults().setBool(defaults::PrintUsingServer, true);
  auto* saved = openSavedOrders(1);
  ASSERT_NE(saved, nullptr) << t.h->dump();
  EXPECT_EQ(t.server.received("GetBeforeOrderNumberList")[0].param("customerID"), "C1002");
  EXPECT_EQ(t.server.received("GetBeforeOrderNumberList")[0].param("storeID"), "C1002-2");
  ASSERT_EQ(saved->listContent().size(), 2u);
  EXPECT_EQ(LoadOrderListViewController::rowTexts(saved->listContent()[0]),
            (std::vector<std::string>{"20001", "12/01/2026", ""}));
  EXPECT_EQ(LoadOrderListViewController::rowTexts(saved->listContent()[1]),
            (std::vector<std::string>{"20002", "12/02/2026", "12/03/2026 17:30:00"}));

  // A swipe prints on the server printer; the row stays.
  ASSERT_TRUE(t.h->swipeRow(*saved->tableView(), {0, 1}, ui::SwipeLeft));
  ASSERT_TRUE(t.h->tap(t.h->findLabel("Delete"))) << t.h->dump();
  t.waitForRequests();
  EXPECT_EQ(t.server.received("PrintSOdirectly")[0].param("orderNumber"), "20002");
  ASSERT_TRUE(t.waitForAlert("SO#20002 has been printed successfully."));
  t.press("OK");
  EXPECT_EQ(t.calls("CreateSOpdf"), 0);
  EXPECT_EQ(saved->listContent().size(), 2u);

  // A tap opens the order on the item list.
  t.h->chooseRow(*saved->tableView(), {0, 1});
  t.settle();
  EXPECT_EQ(t.app.delegate->globalSO().orderNumber, "20002");
  EXPECT_EQ(t.topScreen()->nibName(), "OrderListView");
}

TEST_F(SoSelector, ACustomerWithoutOrdersIsToldOnceAndGoesBackToTheCustomerList) {
  auto* saved = openSavedOrders(0);
  ASSERT_NE(saved, nullptr) << t.h->dump();
  ASSERT_TRUE(t.waitForAlert("You don't have any order list."));
  EXPECT_EQ(saved->listContent().size(), 0u);  // nothing to tap or print
  saved->tableView()->reloadData();
  t.settle();
  EXPECT_EQ(t.app.alerts().size(), 1u);
  t.press("OK");
  EXPECT_EQ(t.topScreen()->nibName(), "CustomerView");
}

}  // namespace
}  // namespace orvo
