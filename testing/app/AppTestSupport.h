#pragma once
// Test fixture for the application core: fresh user defaults, the fake device facade and
// a counting agent, a reachable network, and a launched `OrvoMobileAppDelegate` with a
// window and a navigation controller. Helpers run the main queue and read the alerts on
// screen. Header-only; used by the tests of app/ folders.

#include <memory>
#include <string>
#include <vector>

#include "app/core/CoreScreens.h"
#include "testing/app/FakeOKTKXDevices.h"
#include "testing/app/LoginTestSupport.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/OverlayViewController.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"
#include "platform/net/Reachability.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"

namespace orvo::test_support {

// One alert on screen, of either kind.
struct ShownAlert {
  std::string title;
  std::string message;
  std::vector<std::string> buttons;
  int tag = 0;
  bool legacy = true;
};

class AppHarness {
 public:
  AppHarness() {
    devices = std::make_shared<FakeOKTKXDevices>();
    OKTKXDevices::setShared(devices);
    OKTVexa::setRegistrar([this] { ++agentRegistrations; });
    net::Reachability::setProbe([] { return net::ReachableViaWiFi; });
    ui::Application::shared().reset();
    ui::Application::shared().setExitHook([this](int status) { exitStatuses.push_back(status); });
    registerCoreScreens();
    root = std::make_shared<StandInViewController>("LoginViewController");
    delegate = std::make_shared<OrvoMobileAppDelegate>();
    delegate->window = std::make_shared<ui::Window>();
    delegate->navigationController = std::make_shared<ui::NavigationController>(root);
  }
  ~AppHarness() {
    dismissAlerts();
    drain();
    ui::Application::shared().reset();
    OKTVexa::setRegistrar(nullptr);
    OKTKXDevices::setShared(nullptr);
    net::Reachability::setProbe(nullptr);
  }

  void launch() { ui::Application::shared().launch(delegate); }

  // Runs the main queue until `done()` holds (false when it did not within 20 s).
  template <class F>
  bool runUntil(F done) {
    return foundation::RunLoop::main().runUntil(done, std::chrono::milliseconds(20000));
  }
  // Moves the test's manual clock past the time-out of a request the server holds, until
  // `done()`. The client's idle timer starts again at the request's last bytes, and on a
  // loaded machine the client may note them only after the server holds the request and the
  // clock has moved: so while the request is still waited for, the clock moves on by another
  // `period` (at most five). An extra period ends the request the same way, timed out.
  template <class F>
  bool outwaitHeldRequest(foundation::Duration period, F done) {
    auto& clock = dynamic_cast<foundation::ManualClock&>(foundation::Clock::current());
    for (int step = 0; step < 5; ++step) {
      clock.advance(period);
      const auto poll = std::chrono::milliseconds(step < 4 ? 1000 : 20000);
      if (foundation::RunLoop::main().runUntil(done, poll)) return true;
    }
    return false;
  }
  // Runs what is ready on the main queue now.
  void drain() {
    for (int i = 0; i < 100 && foundation::RunLoop::main().runOnce(foundation::Duration::zero()); ++i) {
    }
  }

  // Legacy alert views and alert controllers on screen, oldest first.
  std::vector<ShownAlert> alerts() const {
    std::vector<ShownAlert> out;
    for (const auto& a : ui::AlertView::visibleAlerts()) {
      ShownAlert s{a->title(), a->message(), {}, a->tag(), true};
      for (int i = 0; i < a->numberOfButtons(); ++i) s.buttons.push_back(a->buttonTitleAtIndex(i));
      out.push_back(std::move(s));
    }
    for (ui::ViewController* vc = delegate->window ? delegate->window->rootViewController().get() : nullptr;
         vc; vc = vc->presentedViewController()) {
      if (auto* ac = dynamic_cast<ui::AlertController*>(vc->presentedViewController())) {
        ShownAlert s{ac->alertTitle(), ac->message(), {}, ac->isViewLoaded() ? ac->view().tag() : 0, false};
        for (const auto& action : ac->actions()) s.buttons.push_back(action.get()->title());
        out.push_back(std::move(s));
      }
    }
    return out;
  }
  // Closes every alert without pressing a button.
  void dismissAlerts() {
    for (int guard = 0; guard < 50; ++guard) {
      auto legacy = ui::AlertView::visibleAlerts();
      if (legacy.empty()) break;
      legacy.back()->dismissWithClickedButtonIndex(0, false);
    }
    for (ui::ViewController* vc = delegate->window ? delegate->window->rootViewController().get() : nullptr;
         vc; vc = vc->presentedViewController()) {
      if (dynamic_cast<ui::AlertController*>(vc->presentedViewController())) {
        vc->dismissViewControllerAnimated(false);
        break;
      }
    }
  }

  FreshDefaults fresh;
  std::shared_ptr<FakeOKTKXDevices> devices;
  std::shared_ptr<StandInViewController> root;
  std::shared_ptr<OrvoMobileAppDelegate> delegate;
  int agentRegistrations = 0;
  std::vector<int> exitStatuses;
};

}  // namespace orvo::test_support
