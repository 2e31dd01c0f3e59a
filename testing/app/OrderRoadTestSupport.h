#pragma once
// Test fixture for the order road: the application core of AppHarness with the order and
// customer screens registered, a back-office server on loopback whose settings (division,
// warehouse, server lists) are stored as the settings screen stores them, and the screen
// harness. `openOrderType` presents the order type screen as the login does; helpers walk
// the road to the item list and read the screens. Header-only; test code. The test
// executable links app_orders and app_customers.

#include <chrono>
#include <memory>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>
#include <vector>

#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenNavigation.h"
#include "app/customers/CustomerViewController.h"
#include "app/customers/StoreViewController.h"
#include "app/orders/OrderInfoViewController.h"
#include "app/orders/OrderListViewController.h"
#include "app/orders/SoOrderTypeViewController.h"
#include "app/orders/SoSelectorViewController.h"
#include "app/customers/CustomerScreens.h"
#include "app/orders/OrderScreens.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/harness/Harness.h"
#include "testing/app/AppTestSupport.h"
#include "testing/backoffice/BackOfficeServer.h"

namespace orvo::test_support {

class OrderRoadHarness {
 public:
  OrderRoadHarness() {
    registerOrderScreens();
    registerCustomerScreens();
    started = server.start();
    storeSettings();
  }
  // A request still in flight ends here, not in the next test.
  ~OrderRoadHarness() {
    if (h) waitForRequests();
    server.stop();
  }

  foundation::UserDefaults& defaults() { return app.fresh.defaults(); }

  // What the settings screen stores after "Request", a division and a warehouse.
  void storeSettings() {
    auto& d = defaults();
    d.setString("serverIP", "127.0.0.1");
    d.setString("serverPort", std::to_string(server.port()));
    d.setString("divisionCode", "01");
    d.setString("companyName", "Orvo Apparel Inc.");
    d.setBool("warehouseState", true);
    d.setString("warehouseCode", "WH1");
    d.setString("terms", R"([{"Code":"NET30","Description":"Net 30 days"}])");
    d.setString("shipvia", R"([{"Code":"UPS"}])");
    d.setString("paymentcode", R"([{"Code":"CHK"}])");
    d.setString("state", R"([{"Code":"OR","Description":"Oregon"}])");
    d.setString("country", R"([{"Code":"US","Description":"United States"}])");
    d.setString("salesrep", R"([{"Code":"R1"}])");
    d.setString("customerpriority", R"([{"Code":"A","Description":"Top"}])");
  }

  // Launches with the stand-in login screen as the root and a logged-in user.
  void launch() {
    app.launch();
    h = std::make_unique<ui::harness::Harness>(app.delegate->window.get());
    app.delegate->globalSO().loginID = "demo";
    app.delegate->globalSO().priceEditLevel = 2;
    settle();
  }
  void settle() {
    app.drain();
    app.delegate->window->layoutIfNeeded();
  }
  // Runs the main queue until no request is in flight.
  bool waitForRequests() {
    settle();
    bool ok = app.runUntil([&] { return !app.delegate->isActivityViewerShown(); });
    settle();
    return ok;
  }
  // Times out the request the server holds: the clock moves by `period` until the request
  // has ended (see `AppHarness::outwaitHeldRequest`).
  bool outwaitHeld(foundation::Duration period) {
    settle();
    bool ok = app.outwaitHeldRequest(period, [&] { return !app.delegate->isActivityViewerShown(); });
    settle();
    return ok;
  }
  bool waitForAlert(const std::string& message) {
    return app.runUntil([&] {
      for (auto& a : app.alerts())
        if (a.message == message) return true;
      return false;
    });
  }
  std::vector<std::string> alertMessages() {
    std::vector<std::string> out;
    for (auto& a : app.alerts()) out.push_back(a.message);
    return out;
  }
  bool press(const std::string& button) {
    bool ok = h->pressAlertButton(button);
    settle();
    return ok;
  }

  // The screen on top of the presentation chain (inside its navigation controller).
  ui::ViewController* topScreen() {
    ui::ViewController* vc = app.delegate->window->rootViewController().get();
    while (vc->presentedViewController() && !dynamic_cast<ui::AlertController*>(vc->presentedViewController()))
      vc = vc->presentedViewController();
    // Under an alert: the screen the alert covers.
    if (auto* nav = dynamic_cast<ui::NavigationController*>(vc)) return nav->topViewController();
    return vc;
  }
  template <class T>
  T* top() {
    return dynamic_cast<T*>(topScreen());
  }

  // The order type screen, presented from the root as the login does.
  void openOrderType() {
    presentInNewNavigation(*app.root, makeScreen("SoOrderTypeViewController"), false);
    waitForRequests();
  }

  // Order type (row `typeRow`) → New → customer search → customer → store (`storeRow`) →
  // the item list; nullptr when a step does not lead where it should.
  OrderListViewController* walkToItemList(const std::string& search, ui::IndexPath customer, int storeRow,
                                          int typeRow = 1) {
    openOrderType();
    auto* types = top<SoOrderTypeViewController>();
    if (!types) return nullptr;
    h->chooseRow(*types->tableView(), {0, typeRow});
    settle();
    auto* selector = top<SoSelectorViewController>();
    if (!selector) return nullptr;
    h->tap(selector->newButton());
    settle();
    auto* customers = top<CustomerViewController>();
    if (!customers) return nullptr;
    h->typeText(search);
    h->pressReturn();
    waitForRequests();
    h->chooseRow(*customers->tableView(), customer);
    settle();
    if (app.delegate->globalSO().orderDiscountRate > 0) press("OK");
    waitForRequests();
    auto* stores = top<StoreViewController>();
    if (!stores) return nullptr;
    h->chooseRow(*stores->tableView(), {0, storeRow});
    waitForRequests();
    return top<OrderListViewController>();
  }

  int calls(const std::string& operation) { return int(server.received(operation).size()); }

  // The item list with `codes` scanned, NEXT, then the order header loaded; with an
  // `orderNumber` the header is that saved order's. nullptr when a step does not lead there.
  OrderInfoViewController* walkToHeader(const std::vector<std::string>& codes, const std::string& orderNumber = "") {
    auto* list = walkToItemList("maple", {0, 0}, 1);
    if (!list) return nullptr;
    for (const auto& code : codes) {
      app.devices->raiseBarcode(code);
      waitForRequests();
    }
    if (!h->tapBarItem(list->nextBarButtonItem())) return nullptr;
    settle();
    if (!orderNumber.empty()) app.delegate->globalSO().orderNumber = orderNumber;
    h->tap(list->btn_NextToGoToOrderInfoViewButton());
    settle();
    auto* header = top<OrderInfoViewController>();
    if (!header || !header->saveButton()->isHidden()) return nullptr;  // Save waits for the header
    h->advance(std::chrono::milliseconds(100));
    waitForRequests();
    return header;
  }
  // The header shown again as a user brings it back: its Back to the item list, then the
  // list's NEXT, which shows a header that reads the stored flags as it appears. nullptr
  // when a step does not lead there.
  OrderInfoViewController* reopenHeader(OrderInfoViewController& header) {
    if (!h->tapBarItem(header.navigationItem().leftBarButtonItem())) return nullptr;  // Back
    settle();
    auto* list = top<OrderListViewController>();
    if (!list || !h->tap(list->btn_NextToGoToOrderInfoViewButton())) return nullptr;
    settle();
    auto* again = top<OrderInfoViewController>();
    if (!again) return nullptr;
    h->advance(std::chrono::milliseconds(100));
    waitForRequests();
    return again->saveButton()->isHidden() ? nullptr : again;
  }
  // Types `text` over what a header field or the memo holds, as a user does: the keyboard put
  // away when it covers the field, the field scrolled into reach, tapped, emptied key by key
  // (an emptied memo shows its placeholder) and typed anew. False when a step is out of reach
  // or the field does not end holding `text`.
  bool retypeHeaderField(OrderInfoViewController& header, ui::View* field, const std::string& text) {
    const bool memo = field == header.memoView();
    const auto shown = [&] { return memo ? header.memoView()->text() : header.field(field->tag())->text(); };
    if (!h->isReachable(field) && !header.memoView()->isFirstResponder()) h->pressReturn();
    if (!h->isReachable(field) && !h->scrollIntoReach(*header.tableView(), field)) return false;
    if (!h->tap(field)) return false;
    const std::string before = shown();
    if (!(memo && before == "Enter Memo")) h->deleteBackward(int(before.size()));
    if (!h->isReachable(field) && !h->scrollIntoReach(*header.tableView(), field)) return false;
    return h->type(field, text) && shown() == text;
  }
  // Save → "Yes" → the answer (and a request that the answer starts). False when the
  // question did not come.
  bool saveHeader(OrderInfoViewController& header) {
    if (header.saveButton()->isHidden() || !h->tap(header.saveButton())) return false;
    settle();
    if (!waitForAlert("Are you sure you want to save?")) return false;
    press("Yes");
    waitForRequests();
    waitForRequests();
    return true;
  }
  std::optional<ShownAlert> alertTitled(const std::string& prefix) {
    for (auto& a : app.alerts())
      if (a.title.rfind(prefix, 0) == 0) return a;
    return std::nullopt;
  }
  nlohmann::json serverOrders() {
    nlohmann::json out;
    server.withState([&](backoffice::State& s) { out = s.salesOrders; });
    return out;
  }

  AppHarness app;
  backoffice::BackOfficeServer server;
  bool started = false;
  std::unique_ptr<ui::harness::Harness> h;
};

}  // namespace orvo::test_support
