#pragma once
// Test fixture for the picking screens: the launched application core of AppHarness, the
// picking screens registered, and a back-office server on loopback that the settings point
// at. Screens are pushed on the main navigation controller; scans come from the fake device
// facade through the application delegate's "changeBarcode". Header-only; test code.

#include <memory>
#include <optional>
#include <string>
#include <vector>

#include "app/picking/PickTicketViewController.h"
#include "app/picking/PickUpViewController.h"
#include "app/picking/PickingScreens.h"
#include "platform/ui/harness/Harness.h"
#include "testing/app/AppTestSupport.h"
#include "testing/backoffice/BackOfficeServer.h"

namespace orvo::test_support {

class PickingHarness {
 public:
  // `launchNow` false leaves the launch to the test (after it installed another facade).
  explicit PickingHarness(bool launchNow = true) {
    registerPickingScreens();
    started = server.start();
    app.fresh.defaults().setString("serverIP", "127.0.0.1");
    app.fresh.defaults().setString("serverPort", std::to_string(server.port()));
    if (launchNow) launch();
  }
  void launch() {
    app.launch();
    h = std::make_unique<ui::harness::Harness>(app.delegate->window.get());
    app.drain();
  }
  ~PickingHarness() { server.stop(); }

  ui::NavigationController& nav() { return *app.delegate->navigationController; }

  // Runs the main queue until no request is in flight.
  bool waitForRequests() {
    app.drain();
    bool idle = app.runUntil([&] { return !app.delegate->isActivityViewerShown(); });
    app.delegate->window->layoutIfNeeded();
    return idle;
  }

  // The pick-ticket screen for `customer`, pushed, with its list loaded.
  std::shared_ptr<PickTicketViewController> openTickets(std::optional<std::string> customer) {
    auto screen = ui::viewControllerFromInterface<PickTicketViewController>("PickTicketViewController");
    screen->setCustomerID(std::move(customer));
    nav().pushViewController(screen, false);
    waitForRequests();
    return screen;
  }

  // The pick-up screen for the tickets `numbers`, pushed, with its items loaded.
  std::shared_ptr<PickUpViewController> openPickUp(const std::vector<std::string>& numbers) {
    auto screen = std::make_shared<PickUpViewController>();
    std::string text = "[";
    for (size_t i = 0; i < numbers.size(); ++i) text += (i ? ", \"" : "\"") + numbers[i] + "\"";
    screen->setJsonPickNOs(text + "]");
    nav().pushViewController(screen, false);
    waitForRequests();
    return screen;
  }

  // A barcode read by the sleeve, and the answer to its "GetQtyByBarcode" applied.
  bool scan(const std::string& barcode) {
    const size_t before = server.received("GetQtyByBarcode").size();
    app.devices->raiseBarcode(barcode);
    bool answered = app.runUntil([&] {
      return server.received("GetQtyByBarcode").size() > before && !app.delegate->isActivityViewerShown();
    });
    app.delegate->window->layoutIfNeeded();
    return answered;
  }

  // Titles of the alerts on screen (this screen's alerts carry their text as the title).
  std::vector<std::string> alertTitles() {
    std::vector<std::string> out;
    for (auto& a : app.alerts()) out.push_back(a.title);
    return out;
  }

  AppHarness app;
  backoffice::BackOfficeServer server;
  bool started = false;
  std::unique_ptr<ui::harness::Harness> h;
};

}  // namespace orvo::test_support
