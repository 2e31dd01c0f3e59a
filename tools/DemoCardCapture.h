#pragma once
// The demo's walk through card capture, after the order road: the card screen as the
// order's last screen opens it, a test card swiped on the simulated sleeve (posted as a
// swipe when there is no sleeve), the cardholder's signature on the pad, and the card
// stored on the back office. A screenshot is taken of each screen. Demo code (tools/).

#include <string>

#include "app/core/AppNames.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/payments/CcSignatureViewController.h"
#include "app/payments/CcViewController.h"
#include "app/payments/PaymentNames.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/Paths.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/harness/Harness.h"
#include "testing/backoffice/PaymentOperations.h"
#include "testing/devices/sleeve/SimulatedSleeve.h"
#include "tools/DemoOrderRoad.h"

namespace demo {

inline bool walkCardCapture(orvo::OrvoMobileAppDelegate& app, ui::harness::Harness& h,
                            devices::SimulatedSleeve* sleeve, const WalkSteps& s) {
  auto waitFor = [](const std::function<bool()>& done) {
    return foundation::RunLoop::main().runUntil(done, std::chrono::milliseconds(10000));
  };
  // The demo's back office and application share the SAMPLE card-cipher word.
  backoffice::writeCardCipherConfig(foundation::Paths::configDir());
  ui::ViewController* shown = s.top();
  auto* nav = shown ? shown->navigationController() : nullptr;
  auto screen = ui::viewControllerFromInterface<orvo::CcViewController>(orvo::kCcViewController);
  if (!s.step("card capture screen opens", nav && screen)) return false;
  nav->pushViewController(screen, true);
  s.settle();
  s.shot("card-capture");

  const std::string track1 = "%B4111111111111111^DEMO/CARDHOLDER^2711101000000000000000";
  if (sleeve)
    sleeve->swipe(track1, std::string(";4111111111111111=27111010000000000?"));
  else
    foundation::NotificationCenter::defaultCenter().post(orvo::kGetMagneticCardData, nullptr, {{orvo::kTrack1, track1}});
  waitFor([&] { return screen->lbl_cardNumber()->text() != "-" || !s.alertText().empty(); });
  s.settle();
  s.step("swiped test card shown masked (" + screen->lbl_cardNumber()->text() + ")",
         screen->lbl_cardNumber()->text() == "XXXX-XXXX-XXXX-1111");
  s.shot("card-swiped");
  if (!s.alertText().empty()) {  // the CVV prompt, when the server asks for it
    h.typeText("123");
    h.pressAlertButton("OK");
  }
  auto pad = [&] { return dynamic_cast<orvo::CcSignatureViewController*>(nav->presentedViewController()); };
  waitFor([&] { return pad() != nullptr && pad()->isViewLoaded(); });
  if (!s.step("signature pad opens", pad() != nullptr)) return false;
  s.settle();
  // A short signature: two strokes.
  auto stroke = [&](std::vector<ui::Point> points) { h.stroke(&pad()->view(), points); };
  stroke({{60, 150}, {80, 110}, {100, 160}, {120, 100}, {140, 170}, {170, 120}, {200, 150}});
  stroke({{210, 140}, {240, 110}, {260, 150}, {290, 120}, {320, 160}});
  s.shot("card-signature");
  s.step("Next on the pad", h.tap(pad()->nextButton()));
  waitFor([&] { return !s.alertText().empty(); });
  s.waitIdle();
  s.step("card stored: " + s.alertText(), s.alertText() == "Thank you for your credit card capture.");
  s.shot("card-stored");
  h.pressAlertButton("OK");
  s.settle();
  return s.step("card screen closes with the card authorized", app.settings().authorizeSuccessFlag);
}

}  // namespace demo
