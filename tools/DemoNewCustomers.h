#pragma once
// The demo's walk through the new-customer screens, from the customer list: the menu, a
// customer typed on the manual form (with the list of existing customers a familiar name
// brings up, and "Create New Customer"), a customer from a trade-show badge scanned by the
// simulated sleeve (posted as a scan when there is no sleeve), and a customer from a
// business-card photo taken with the camera. Each new customer opens the item list. A
// screenshot is taken of each screen. Demo code (tools/).

#include <string>

#include "app/customers/BusinessCardViewController.h"
#include "app/customers/CustomerViewController.h"
#include "app/customers/ExistedCustomerViewController.h"
#include "app/customers/ManualViewController.h"
#include "app/customers/NewCustomerSelectorViewController.h"
#include "tools/DemoOrderRoad.h"

namespace demo {

inline bool walkNewCustomers(orvo::OrvoMobileAppDelegate& app, ui::harness::Harness& h,
                             devices::SimulatedSleeve* sleeve, const WalkSteps& s) {
  using F = orvo::CustomerField;
  auto waitFor = [](const std::function<bool()>& done) {
    return foundation::RunLoop::main().runUntil(done, std::chrono::milliseconds(10000));
  };
  // Back to the customer list of the order road; the order taken there is put aside.
  app.AutoSaveFuncDataInit();
  auto* nav = s.top() ? s.top()->navigationController() : nullptr;
  orvo::CustomerViewController* customers = nullptr;
  if (nav)
    for (auto& vc : nav->viewControllers())
      if (auto* c = dynamic_cast<orvo::CustomerViewController*>(vc.get())) customers = c;
  if (!s.step("back on the customer list", customers != nullptr)) return false;
  nav->popToViewController(customers, false);
  s.settle();
  auto openMenu = [&]() -> orvo::NewCustomerSelectorViewController* {
    if (auto* menu = dynamic_cast<orvo::NewCustomerSelectorViewController*>(s.top())) return menu;
    // Leaving the empty item list of the customer just made, as its Back does.
    app.AutoSaveFuncDataInit();
    nav->popToViewController(customers, false);
    s.settle();
    h.tap(&customers->searchBarView()->cancelButton());  // " NEW "
    s.settle();
    return dynamic_cast<orvo::NewCustomerSelectorViewController*>(s.top());
  };
  auto* menu = openMenu();
  if (!s.step("\" NEW \" opens the new-customer menu", menu != nullptr)) return false;
  s.shot("new-customer-menu");

  // The manual form: a familiar name first lists the existing customers.
  h.tap(menu->manualButton());
  s.settle();
  auto* form = dynamic_cast<orvo::ManualViewController*>(s.top());
  if (!s.step("manual form opens", form != nullptr)) return false;
  // Each field dragged into reach and typed; "Done" above the phone pad ends the last.
  const std::pair<F, const char*> typed[] = {{F::Code, "qt100"},        {F::Name, "Harbor Outfitters"},
                                             {F::Address1, "12 Quay Street"}, {F::City, "Astoria"},
                                             {F::Zip, "97103"},         {F::Phone1, "5035550190"}};
  for (const auto& [field, text] : typed) {
    h.scrollIntoReach(*form->tableView(), &form->textField(field));
    h.type(&form->textField(field), text);
  }
  h.tapText("Done");
  s.settle();
  h.scrollIntoReach(*form->tableView(), form->saveButton());
  s.shot("manual-form-filled");
  h.tap(form->saveButton());
  s.waitIdle();
  auto* matches = dynamic_cast<orvo::ExistedCustomerViewController*>(s.top());
  s.step("a familiar name lists the existing customers", matches != nullptr);
  if (matches) {
    s.shot("existing-customers");
    h.tap(matches->createNewCustomerButton());
    s.waitIdle();
  }
  auto* list = dynamic_cast<orvo::OrderListViewController*>(s.top());
  s.step("customer QT100 created: the item list opens (customer " + app.globalSO().customerID + ")",
         list && app.globalSO().customerID == "QT100");
  s.shot("manual-customer-item-list");

  // A badge scanned with the sleeve fills the form.
  menu = openMenu();
  if (!s.step("back on the new-customer menu", menu != nullptr)) return false;
  const std::string badge = std::string("REG     ") + orvo::NewCustomerSelectorViewController::sampleBadge();
  if (sleeve)
    sleeve->sendBarcode(badge);
  else
    foundation::NotificationCenter::defaultCenter().post(orvo::kChangeBarcode, nullptr, {{orvo::kLastBarcode, badge}});
  waitFor([&] { return dynamic_cast<orvo::ManualViewController*>(s.top()) != nullptr || !s.alertText().empty(); });
  s.settle();
  form = dynamic_cast<orvo::ManualViewController*>(s.top());
  if (!s.step("badge scanned by the sleeve fills the form", form && form->title() == "2D Barcode" &&
                                                              form->textField(F::Code).text() == "LAKESHORE"))
    return false;
  s.shot("badge-form");
  h.tap(form->saveButton());
  s.waitIdle();
  list = dynamic_cast<orvo::OrderListViewController*>(s.top());
  s.step("badge customer LAKESHORE created: the item list opens", list && app.globalSO().customerID == "LAKESHORE");
  s.shot("badge-customer-item-list");

  // A business card photographed with the camera.
  menu = openMenu();
  if (!s.step("back on the new-customer menu", menu != nullptr)) return false;
  h.tap(menu->businessCardButton());
  s.settle();
  auto* card = dynamic_cast<orvo::BusinessCardViewController*>(s.top());
  if (!s.step("business card screen opens", card != nullptr)) return false;
  h.typeText("bc200");
  h.tap(card->btn_customerCodeCheck());
  s.waitIdle();
  s.step("code BC200 is free", s.alertText().find("is available.") != std::string::npos);
  s.shot("business-card-code-free");
  h.pressAlertButton("OK");
  s.settle();
  h.tap(card->btn_FrontTakePic());
  s.settle();
  auto* picker = dynamic_cast<ui::ImagePickerController*>(s.top());
  if (picker) {
    s.shot("business-card-camera");
    picker->userTakePhoto();
    s.settle();
  }
  if (!s.step("front photo taken with the camera", card->frontImageView()->image() != nullptr)) return false;
  s.shot("business-card-photo");
  h.tap(card->btn_Next());
  s.waitIdle();
  list = dynamic_cast<orvo::OrderListViewController*>(s.top());
  s.step("business-card customer BC200 created: the item list opens", list && app.globalSO().customerID == "BC200");
  s.shot("business-card-customer-item-list");
  return true;
}

}  // namespace demo
