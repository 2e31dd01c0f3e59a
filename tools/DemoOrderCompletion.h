#pragma once
// The demo's walk from the totalled item list to the end of the order: the order header
// loaded from the back office, a PO typed, Save confirmed, the saved order's totals, and
// the last screen with the order's documents, a server print and an e-mail through the
// server. A screenshot is taken of each screen. Demo code (tools/).

#include "app/payments/CcSignatureViewController.h"
#include <functional>
#include <string>

#include "app/core/OrvoMobileAppDelegate.h"
#include "app/orders/LastSelectorViewController.h"
#include "app/orders/OrderInfoViewController.h"
#include "app/orders/OrderListViewController.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/harness/Harness.h"
#include "tools/DemoDeviceDocuments.h"
#include "tools/DemoOrderRoad.h"

namespace demo {

inline bool walkOrderCompletion(orvo::OrvoMobileAppDelegate& app, ui::harness::Harness& h, const WalkSteps& s) {
  auto waitFor = [](const std::function<bool()>& done) {
    return foundation::RunLoop::main().runUntil(done, std::chrono::milliseconds(10000));
  };
  auto* list = dynamic_cast<orvo::OrderListViewController*>(s.top());
  if (!s.step("item list ready to go on", list && !list->btn_NextToGoToOrderInfoViewButton()->isHidden())) return false;
  h.tap(list->btn_NextToGoToOrderInfoViewButton());
  s.settle();
  auto* header = dynamic_cast<orvo::OrderInfoViewController*>(s.top());
  if (!s.step("order header opens", header != nullptr)) return false;
  waitFor([&] { return !header->saveButton()->isHidden() || !s.alertText().empty(); });
  s.waitIdle();
  if (!s.step("header loaded from the back office", !header->saveButton()->isHidden())) return false;
  h.type(header->field(orvo::kTagCustomerPo), "PO-2026-118");
  header->allDismissKeyboard();
  s.settle();
  s.shot("order-header");
  h.tap(header->saveButton());
  s.settle();
  s.step("save asked for", s.alertText() == "Are you sure you want to save?");
  s.shot("order-save-question");
  h.pressAlertButton("Yes");
  s.settle();
  waitFor([&] { return !app.globalSO().orderNumber.empty() || !s.alertText().empty(); });
  s.waitIdle();
  s.step("order saved as SO# " + app.globalSO().orderNumber, !app.globalSO().orderNumber.empty());
  s.shot("order-saved");
  h.pressAlertButton("OK");
  s.settle();
  // A division whose orders are signed after saving opens the signature pad.
  if (auto* pad = dynamic_cast<orvo::CcSignatureViewController*>(s.top())) {
    // The customer signs for the order: two strokes, then Next.
    auto stroke = [&](std::vector<ui::Point> points) {
      h.stroke(&pad->view(), points);
    };
    stroke({{60, 150}, {90, 110}, {120, 170}, {150, 105}, {180, 160}});
    stroke({{200, 150}, {230, 115}, {260, 155}, {290, 125}});
    s.shot("order-signature");
    s.step("Next on the pad", h.tap(pad->nextButton()));
    s.settle();
    waitFor([&] { return dynamic_cast<orvo::LastSelectorViewController*>(s.top()) != nullptr || !s.alertText().empty(); });
    s.waitIdle();
  } else if (s.top() && s.top()->nibName() == "CcSignatureViewController") {
    s.shot("order-signature");
    h.tapText("Next");
    s.settle();
  }
  auto* last = dynamic_cast<orvo::LastSelectorViewController*>(s.top());
  if (!s.step("last screen follows", last != nullptr)) return false;
  waitFor([&] { return !last->printFileNameDic().empty() || !s.alertText().empty(); });
  s.waitIdle();
  s.step("the order's PDF made by the server", !last->printFileNameDic().empty());
  s.shot("last-screen");
  // As with the settings switch "Print using server" on.
  const bool printUsingServer = app.settings().printUsingServerFlag;
  app.settings().printUsingServerFlag = true;
  for (const char* button : {"PRINT SO", "E-MAIL SO"}) {
    h.tap(last->button(button));
    s.settle();
    waitFor([&] { return !s.alertText().empty(); });
    s.waitIdle();
    s.step(std::string(button) + ": " + s.alertText(), s.alertText().find("successfully") != std::string::npos);
    s.shot(std::string("last-screen-") + (button[0] == 'P' ? "printed" : "emailed"));
    h.pressAlertButton("OK");
    s.settle();
  }
  app.settings().printUsingServerFlag = printUsingServer;
  walkDeviceDocuments(app, h, s, *last);
  // The walks that follow start new orders, as "New" on the selector does.
  app.globalSO().orderNumber.clear();
  return true;
}

}  // namespace demo
