#pragma once
// The demo's walks through the style screens. From the order type screen: the order
// selector's style look-up with a code scanned by the simulated sleeve (posted as a scan
// when there is no sleeve), its pictures, the next colour, the picture slider, and the
// style search by hand, which hands a code back to the look-up; then back to the order type
// screen. From the item list of the order road: the stock pop-up of the item on display and
// the style search by hand in order-scan mode. A screenshot is taken of each screen. Demo
// code (tools/).

#include <cstdio>
#include <functional>
#include <string>

#include "app/core/AppNames.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/orders/AtsViewController.h"
#include "app/orders/OrderListViewController.h"
#include "app/orders/SoOrderTypeViewController.h"
#include "app/orders/SoSelectorViewController.h"
#include "app/orders/StyleInfoTableViewController.h"
#include "app/orders/StyleLookupViewController.h"
#include "app/orders/ZMImageSliderViewController.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/harness/Harness.h"
#include "testing/devices/sleeve/SimulatedSleeve.h"
#include "tools/DemoOrderRoad.h"

namespace demo {

inline bool walkStyleLookup(orvo::OrvoMobileAppDelegate& app, ui::harness::Harness& h,
                            devices::SimulatedSleeve* sleeve, const WalkSteps& s) {
  auto waitFor = [&](const std::function<bool()>& done) {
    return foundation::RunLoop::main().runUntil(
        [&] {
          h.runPending();
          return done();
        },
        std::chrono::milliseconds(10000));
  };
  // The code the camera read on the login screen is not one to look up.
  app.globalSO().manualBarcode.clear();
  auto* types = dynamic_cast<orvo::SoOrderTypeViewController*>(s.top());
  if (!s.step("order types listed for the style look-up", types != nullptr)) return false;
  h.chooseRow(*types->tableView(), {0, 1});
  s.settle();
  auto* selector = dynamic_cast<orvo::SoSelectorViewController*>(s.top());
  if (!s.step("order selector opens", selector != nullptr)) return false;
  if (!s.step("style look-up button reachable with the keyboard up", h.tap(selector->styleLookupButton()))) return false;
  s.settle();
  auto* lookup = dynamic_cast<orvo::StyleLookupViewController*>(s.top());
  if (!s.step("style look-up opens from the selector", lookup != nullptr)) return false;
  s.shot("style-lookup");

  const std::string code = "400000000026";  // PL300 WHT S: three colours, five sizes
  if (sleeve)
    sleeve->sendBarcode(code);
  else
    foundation::NotificationCenter::defaultCenter().post(orvo::kChangeBarcode, nullptr, {{orvo::kLastBarcode, code}});
  waitFor([&] { return lookup->itemsArray().size() > 0; });
  s.waitIdle();
  bool pictures = waitFor([&] { return lookup->iv_image_front()->image() && lookup->iv_image_back()->image(); });
  s.step("style looked up: " + lookup->label("lbl_content_style")->text() + " " +
             lookup->label("lbl_content_color")->text() + " " + lookup->lbl_more()->text() + ", with its pictures",
         lookup->lbl_more()->text() == "1/3" && pictures);
  s.shot("style-lookup-record");
  h.window().drag({260, 150}, {60, 150});
  s.settle();
  waitFor([&] { return lookup->iv_image_back()->image() != nullptr; });
  s.step("a swipe shows the next colour (" + lookup->lbl_more()->text() + ")", lookup->lbl_more()->text() == "2/3");
  s.shot("style-lookup-next-colour");

  h.tap(lookup->iv_image_back());
  waitFor([&] { return dynamic_cast<orvo::ZMImageSliderViewController*>(s.top()) != nullptr; });
  auto* slider = dynamic_cast<orvo::ZMImageSliderViewController*>(s.top());
  // This colour has a back picture only: the slider shows it as its one page.
  if (s.step("picture slider opens on the one picture there is", slider != nullptr)) {
    auto& cells = slider->imageSliderView()->sliderCells();
    waitFor([&] { return !cells.empty() && cells.back()->imageView()->image() != nullptr; });
    s.step("slider counter reads " + slider->displayLabel()->text(), cells.size() == 1);
    s.shot("image-slider");
    s.step("slider closed", h.tapBarItem(slider->navigationItem().leftBarButtonItem()));
    s.settle();
  }

  s.step("hand search button reachable on the look-up", h.tap(h.findLabel("Manual")));
  s.settle();
  auto* search = dynamic_cast<orvo::StyleInfoTableViewController*>(s.top());
  if (s.step("style search by hand opens", search != nullptr)) {
    h.typeText("sh9");
    h.pressReturn();
    s.waitIdle();
    s.step("styles found by a typed text", !search->indexTitle().empty());
    s.shot("style-search");
    h.chooseRow(*search->tableView(), {0, 0});
    s.settle();
    waitFor([&] { return lookup->label("lbl_content_style")->text() == "SH900"; });
    s.waitIdle();
    waitFor([&] { return lookup->iv_image_front()->image() != nullptr; });
    s.step("the chosen style is looked up", lookup->label("lbl_content_style")->text() == "SH900");
    s.shot("style-lookup-from-search");
  }
  s.step("Back on the style look-up", h.tapBarItem(lookup->navigationItem().leftBarButtonItem()));
  s.settle();
  if (auto* nav = s.top() ? s.top()->navigationController() : nullptr) nav->popViewControllerAnimated(false);
  s.settle();
  if (!s.alertText().empty()) {  // the order type screen's notice, as after the login
    std::printf("  notice: %s\n", s.alertText().c_str());
    h.pressAlertButton("OK");
    s.settle();
  }
  ui::ViewController* now = s.top();
  return s.step("back at the order types (" + (now ? now->nibName() : std::string("nothing")) + ")",
                dynamic_cast<orvo::SoOrderTypeViewController*>(now) != nullptr);
}

// The item list's aids: the stock pop-up of the item on display, and the style search in
// order-scan mode, left with Back.
inline bool walkItemListAids(orvo::OrvoMobileAppDelegate& app, ui::harness::Harness& h, const WalkSteps& s) {
  (void)app;
  auto* list = dynamic_cast<orvo::OrderListViewController*>(s.top());
  if (!s.step("item list for its aids", list != nullptr)) return false;
  // The stock button sits on the line's panel: a tap on the first line opens it.
  h.chooseRow(*list->orderListTableView(), {0, 0});
  s.settle();
  s.step("stock button reachable on the item's panel", h.tap(list->btn_ATSButton()));
  s.waitIdle();
  auto* popup = dynamic_cast<orvo::AtsViewController*>(s.top());
  if (s.step("stock pop-up shows the item's stock by size", popup && !popup->label("lbl_atsTitle")->text().empty())) {
    foundation::RunLoop::main().runUntil([&] { return popup->iv_image_front()->image() != nullptr; },
                                         std::chrono::milliseconds(5000));
    s.shot("stock-popup");
    s.step("stock pop-up closed", h.tapBarItem(popup->navigationItem().leftBarButtonItem()));
    s.settle();
  }
  s.step("Next on the bar leaves the line as it was", h.tapBarItem(list->nextBarButtonItem()));
  s.settle();
  s.step("hand search button reachable on the item list", h.tap(h.findLabel("Manual")));
  s.settle();
  auto* search = dynamic_cast<orvo::StyleInfoTableViewController*>(s.top());
  if (s.step("style search by hand opens in order-scan mode", search && search->isOrderScanMode())) {
    s.step("UPC scope chosen", h.chooseScope(*search->searchBarView(), 1));
    s.settle();
    if (!search->searchBarView()->searchField().isFirstResponder()) h.tap(&search->searchBarView()->searchField());
    h.typeText("ts100");
    h.pressReturn();
    s.waitIdle();
    s.shot("style-search-order");
    s.step("Back on the style search", h.tapBarItem(search->navigationItem().leftBarButtonItem()));
    s.settle();
  }
  return s.step("back on the item list", s.top() == list);
}

}  // namespace demo
