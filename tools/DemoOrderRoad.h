#pragma once
// The demo's walk along the order road, from the order type screen that the login opens:
// an order type, a new order, a customer found by name, its store, and the item list with
// two codes scanned by the simulated sleeve (posted as scans when there is no sleeve),
// saved and totalled. A screenshot is taken of each screen. Demo code (tools/).

#include <functional>
#include <string>

#include "app/core/AppNames.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/customers/CustomerViewController.h"
#include "app/customers/StoreViewController.h"
#include "app/orders/OrderListViewController.h"
#include "app/orders/SoOrderTypeViewController.h"
#include "app/orders/SoSelectorViewController.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/harness/Harness.h"
#include "testing/devices/sleeve/SimulatedSleeve.h"

namespace demo {

// What the walk of the demo offers its steps.
struct WalkSteps {
  std::function<bool(const std::string& what, bool ok)> step;
  std::function<void(const std::string& name)> shot;
  std::function<void()> settle;
  std::function<bool()> waitIdle;
  std::function<ui::ViewController*()> top;
  std::function<std::string()> alertText;
};

inline bool walkOrderRoad(orvo::OrvoMobileAppDelegate& app, ui::harness::Harness& h, devices::SimulatedSleeve* sleeve,
                          const WalkSteps& s) {
  auto waitFor = [](const std::function<bool()>& done) {
    return foundation::RunLoop::main().runUntil(done, std::chrono::milliseconds(10000));
  };
  // The code the camera read on the login screen is not one for this order.
  app.globalSO().manualBarcode.clear();
  auto* types = dynamic_cast<orvo::SoOrderTypeViewController*>(s.top());
  if (!s.step("order types listed", types && types->listContent().size() > 1)) return false;
  h.chooseRow(*types->tableView(), {0, 1});
  s.settle();
  auto* selector = dynamic_cast<orvo::SoSelectorViewController*>(s.top());
  if (!s.step("order type chosen: the selector follows", selector != nullptr)) return false;
  s.shot("so-selector");
  h.tap(selector->newButton());
  s.settle();

  auto* customers = dynamic_cast<orvo::CustomerViewController*>(s.top());
  if (!s.step("customer list opens for a new order", customers != nullptr)) return false;
  h.typeText("maple");
  h.pressReturn();
  s.waitIdle();
  s.step("customer found by name", !customers->customerIndexTitle().empty());
  s.shot("customers");
  h.chooseRow(*customers->tableView(), {0, 0});
  s.settle();
  if (!s.alertText().empty()) {
    s.step("order discount rate announced", s.alertText().find("Order Discount Rate") != std::string::npos);
    s.shot("customer-discount");
    h.pressAlertButton("OK");
  }
  s.waitIdle();
  auto* stores = dynamic_cast<orvo::StoreViewController*>(s.top());
  if (!s.step("stores of the customer listed", stores && !stores->docListArray().empty())) return false;
  s.shot("stores");
  h.chooseRow(*stores->tableView(), {0, 0});
  s.waitIdle();

  auto* list = dynamic_cast<orvo::OrderListViewController*>(s.top());
  if (!s.step("item list opens for the customer and store", list != nullptr)) return false;
  s.shot("item-list");
  auto scan = [&](const std::string& code, const std::string& name) {
    size_t lines = list->orderListArray().size();
    if (sleeve)
      sleeve->sendBarcode(code);
    else
      foundation::NotificationCenter::defaultCenter().post(orvo::kChangeBarcode, nullptr, {{orvo::kLastBarcode, code}});
    waitFor([&] { return list->orderListArray().size() > lines || !s.alertText().empty(); });
    s.waitIdle();
    if (!s.alertText().empty()) {  // a stock warning before the item is taken
      s.shot(name + "-warning");
      h.pressAlertButton("OK");
      s.settle();
    }
    bool ok = list->orderListArray().size() == lines + 1;
    s.step("scanned " + code + ": priced and added", ok);
    s.shot(name);
    return ok;
  };
  scan("400000000002", "item-scanned");
  scan("500000000000", "item-prepack-scanned");
  s.step("Next on the bar saves the item", h.tapBarItem(list->nextBarButtonItem()));
  s.settle();
  const auto& so = app.globalSO();
  s.step("items saved and totalled (" + so.orderTotalQty + " units, $" + so.orderTotalExtPrice + ")",
         !so.orderTotalQty.empty() && so.orderTotalQty != "0");
  s.shot("item-list-totals");
  return true;
}

}  // namespace demo
