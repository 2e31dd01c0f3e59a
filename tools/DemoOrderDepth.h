#pragma once
// The demo's walk through the item list in depth, from the totalled item list that the order
// road leaves: the subtotal by cancel date from the footer, then, with multi-colour entry on
// (as the settings screen's "Multi Color SO" switch turns it on for the next orders), the
// prepack line opened from the list and entered in a second colour on the multi-colour grid.
// A screenshot is taken of each screen. Demo code (tools/).

#include <chrono>
#include <functional>
#include <string>

#include "app/core/OrvoMobileAppDelegate.h"
#include "app/orders/CustomCellForMultiColor.h"
#include "app/orders/MultiColorTableView.h"
#include "app/orders/OrderListViewController.h"
#include "app/orders/SubtotalViewController.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/harness/Harness.h"
#include "tools/DemoOrderRoad.h"

namespace demo {

inline bool walkOrderDepth(orvo::OrvoMobileAppDelegate& app, ui::harness::Harness& h, const WalkSteps& s) {
  auto* list = dynamic_cast<orvo::OrderListViewController*>(s.top());
  if (!s.step("item list with its lines", list && !list->orderListArray().empty())) return false;

  // The subtotal by cancel date, from the footer.
  ui::View* footer = nullptr;  // the picture under the totals takes the tap
  for (auto& v : list->lbl_tUnites()->superview()->subviews())
    if (!footer && dynamic_cast<ui::ImageView*>(v.get())) footer = v.get();
  s.step("the footer's totals tapped", h.tap(footer));
  s.settle();
  auto* sub = dynamic_cast<orvo::SubtotalViewController*>(s.top());
  if (!s.step("subtotal by cancel date shown (" + std::to_string(sub ? sub->listContent().size() : 0) + " dates)",
              sub && !sub->listContent().empty()))
    return false;
  s.shot("subtotal");
  s.step("Back on the subtotal", h.tapBarItem(sub->navigationItem().leftBarButtonItem()));
  s.settle();

  // The multi-colour grid of the prepack line.
  app.settings().multiColorSoFlag = true;
  list->reloadTableInfo();
  s.settle();
  int prepackRow = -1;
  const auto lines = list->getSearchIndexArray(0);
  for (size_t i = 0; i < lines.size(); ++i)
    if (lines[i].value("Kind", std::string()) == "bundle") prepackRow = int(i);
  if (!s.step("prepack line listed under its style", prepackRow >= 0)) return false;
  h.chooseRow(*list->orderListTableView(), {0, prepackRow});
  s.settle();
  s.shot("item-list-prepack-line");
  if (!s.step("the line offers its colours", list->btn_multiColorButton() && h.tap(list->btn_multiColorButton())))
    return false;
  s.settle();
  orvo::MultiColorTableView* grid = nullptr;
  foundation::RunLoop::main().runUntil(
      [&] {
        grid = dynamic_cast<orvo::MultiColorTableView*>(s.top());
        return grid && grid->listContent().size() > 1;
      },
      std::chrono::milliseconds(10000));
  s.waitIdle();
  if (!s.step("multi-colour grid lists the style's colours", grid && grid->listContent().size() > 1)) return false;
  s.shot("multi-color-grid");
  auto* cell = dynamic_cast<orvo::CustomCellForMultiColor*>(grid->multiColorTableView()->cellForRowAtIndexPath({0, 1}));
  if (cell) {
    auto& stepper = cell->stepper_qty();
    const ui::Point plus{stepper.bounds().width() * 0.75, stepper.bounds().height() / 2};
    h.tapAt(&stepper, plus);
    h.tapAt(&stepper, plus);
  }
  s.settle();
  s.step("two packs of the second colour entered (" + grid->lbl_totalQty()->text() + " pieces)", cell != nullptr);
  s.shot("multi-color-grid-entered");
  const size_t before = list->orderListArray().size();
  s.step("NEXT on the grid's bar", h.tapBarItem(grid->navigationItem().rightBarButtonItem()));
  s.settle();
  const bool merged = s.top() == list && list->orderListArray().size() == before + 1;
  s.step("grid rows merged into the cart", merged);
  s.shot("item-list-multi-color");
  return merged;
}

}  // namespace demo
