#pragma once
// Test fixture for the card screens: the launched application core of AppHarness, the card
// screens registered, the sample card-cipher word in the configuration folder, and a
// back-office server on loopback that the settings point at. An order is on hand
// (`GlobalSO` order number, customer, total). Header-only; test code.

#include <memory>
#include <string>

#include "app/core/AppNames.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/payments/CcManualAndCameraTableViewController.h"
#include "app/payments/CcSignatureViewController.h"
#include "app/payments/CcViewController.h"
#include "app/payments/PaymentNames.h"
#include "app/payments/PaymentScreens.h"
#include "platform/foundation/Paths.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/harness/Harness.h"
#include "testing/app/AppTestSupport.h"
#include "testing/backoffice/BackOfficeServer.h"
#include "testing/backoffice/PaymentOperations.h"

namespace orvo::test_support {

class PaymentHarness {
 public:
  explicit PaymentHarness(bool launchNow = true) {
    registerPaymentScreens();
    started = server.start();
    app.fresh.defaults().setString("serverIP", "127.0.0.1");
    app.fresh.defaults().setString("serverPort", std::to_string(server.port()));
    backoffice::writeCardCipherConfig(foundation::Paths::configDir());
    if (launchNow) launch();
  }
  void launch() {
    app.launch();
    h = std::make_unique<ui::harness::Harness>(app.delegate->window.get());
    GlobalSO& so = app.delegate->globalSO();
    so.orderNumber = "SO-1001";
    so.customerID = "C100";
    so.orderTotalExtPrice = "42.50";
    app.drain();
  }
  ~PaymentHarness() { server.stop(); }

  ui::NavigationController& nav() { return *app.delegate->navigationController; }

  // The card screen, pushed on the main navigation controller.
  std::shared_ptr<CcViewController> openCardScreen() {
    auto screen = ui::viewControllerFromInterface<CcViewController>(kCcViewController);
    nav().pushViewController(screen, false);
    app.drain();
    return screen;
  }

  // The typed card entry, opened by the card screen's own button; nullptr when it does not
  // open.
  CcManualAndCameraTableViewController* openTypedEntry() {
    if (!h->tapText("Add Credit Card Manually")) return nullptr;
    app.drain();
    auto* presented = dynamic_cast<ui::NavigationController*>(nav().presentedViewController());
    return presented ? dynamic_cast<CcManualAndCameraTableViewController*>(presented->topViewController()) : nullptr;
  }

  // The signature pad presented now, if any.
  CcSignatureViewController* pad() {
    return dynamic_cast<CcSignatureViewController*>(nav().presentedViewController());
  }

  ui::AlertController* alertController() {
    for (ui::ViewController* vc = app.delegate->window->rootViewController().get(); vc;
         vc = vc->presentedViewController())
      if (auto* a = dynamic_cast<ui::AlertController*>(vc->presentedViewController())) return a;
    return nullptr;
  }

  // Draws a stroke on the pad with a finger through the points (the pad screen's view
  // coordinates), through the window; `lift` false leaves the finger down.
  bool stroke(CcSignatureViewController& pad, const std::vector<ui::Point>& points, bool lift = true) {
    return h->stroke(&pad.view(), points, lift);
  }

  bool waitForRequests() {
    app.drain();
    return app.runUntil([&] { return !app.delegate->isActivityViewerShown(); });
  }

  size_t calls(const std::string& op) { return server.received(op).size(); }

  AppHarness app;
  backoffice::BackOfficeServer server;
  bool started = false;
  std::unique_ptr<ui::harness::Harness> h;
};

}  // namespace orvo::test_support
