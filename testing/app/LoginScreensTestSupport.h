#pragma once
// Test fixture for the login and settings screens: the application core of AppHarness
// with the login screen as the root of the main navigation controller, a back-office
// server on loopback, and the screen harness. Header-only; test code.

#include <memory>
#include <string>

#include "testing/app/AppTestSupport.h"
#include "app/core/LoginScreens.h"
#include "app/core/LoginViewController.h"
#include "platform/ui/harness/Harness.h"
#include "testing/backoffice/BackOfficeServer.h"

namespace orvo::test_support {

class LoginScreensHarness {
 public:
  LoginScreensHarness() {
    registerLoginScreens();
    started = server.start();
    // Joined to a Wi-Fi network unless a test says otherwise.
    app.fresh.network->setWifi(system_info::WifiNetwork{"Showroom", "02:00:00:00:00:01"});
    LoginViewController::setSleepHook([this](double s) { sleeps.push_back(s); });
  }
  ~LoginScreensHarness() {
    LoginViewController::setSleepHook(nullptr);
    server.stop();
  }

  foundation::UserDefaults& defaults() { return app.fresh.defaults(); }
  std::shared_ptr<system_info::FixedNetworkInfo>& network() { return app.fresh.network; }

  // Points the stored settings at the server; `complete` also stores a division and the
  // server lists, so the settings check passes.
  void storeServer(bool complete = false) {
    defaults().setString("serverIP", "127.0.0.1");
    defaults().setString("serverPort", std::to_string(server.port()));
    if (complete) {
      defaults().setString("divisionCode", "01");
      defaults().setString("terms", "[]");
    }
  }

  // Launches with the login screen as the root.
  void launch() {
    login = std::make_shared<LoginViewController>();
    app.delegate->navigationController = std::make_shared<ui::NavigationController>(login);
    app.launch();
    h = std::make_unique<ui::harness::Harness>(app.delegate->window.get());
    app.drain();
    app.delegate->window->layoutIfNeeded();
  }

  // Runs the main queue until no request is in flight.
  bool waitForRequests() {
    app.drain();
    return app.runUntil([&] { return !app.delegate->isActivityViewerShown(); });
  }
  // Runs until an alert with `message` is on screen.
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
  // The screen on top of the presentation chain (inside its navigation controller).
  ui::ViewController* topScreen() {
    ui::ViewController* vc = app.delegate->window->rootViewController().get();
    while (vc->presentedViewController()) vc = vc->presentedViewController();
    return vc->visibleViewController();
  }

  AppHarness app;
  backoffice::BackOfficeServer server;
  bool started = false;
  std::shared_ptr<LoginViewController> login;
  std::unique_ptr<ui::harness::Harness> h;
  std::vector<double> sleeps;
};

}  // namespace orvo::test_support
