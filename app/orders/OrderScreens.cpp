#include "app/orders/OrderScreens.h"

#include "app/core/OrvoMobileAppDelegate.h"
#include "app/orders/LastSelectorViewController.h"
#include "app/orders/LineSheetViewController.h"
#include "app/orders/LoadOrderListViewController.h"
#include "app/orders/MultiColorTableView.h"
#include "app/orders/OrderImages.h"
#include "app/orders/OrderInfoViewController.h"
#include "app/orders/OrderListViewController.h"
#include "app/orders/PrinterViewController.h"
#include "app/orders/SoOrderTypeViewController.h"
#include "app/orders/SoSelectorViewController.h"
#include "app/orders/SubtotalViewController.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"
#include "platform/foundation/NotificationCenter.h"

namespace orvo {

void registerOrderScreens() {
  registerOrderImages();
  auto& r = ui::ViewControllerRegistry::shared();
  r.add<SoOrderTypeViewController>("SoOrderTypeViewController");
  r.add<SoSelectorViewController>("SoSelectorViewController");
  r.add<OrderListViewController>("OrderListView");
  r.add<PrinterViewController>("PrinterViewController");
  r.add<OrderInfoViewController>("OrderInfoViewController");
  r.add<LastSelectorViewController>("LastSelectorViewController");
  r.add<LoadOrderListViewController>("LoadOrderListViewController");
  r.add<SubtotalViewController>("SubtotalViewController");
  r.add<MultiColorTableView>("MultiColorTableView");
  r.add<LineSheetViewController>("LineSheetViewController");
  if (!r.contains("CcSignatureViewController"))
    r.add<SignatureStandInViewController>("CcSignatureViewController");
  for (const char* name : {"CcViewController", "AtsViewController", "StyleLookupViewController"})
    if (!r.contains(name)) r.add<StandInViewController>(name);
  registerStyleScreens();
}

void SignatureStandInViewController::viewDidLoad() {
  StandInViewController::viewDidLoad();
  setTitle("Signature");
  auto next = ui::Button::make("Next", {20, 110, 280, 44});
  next->addTarget(this, [this](ui::Control&) { finish(true); }, ui::TouchUpInside);
  view().addSubview(next);
  auto cancel = ui::Button::make("Cancel", {20, 170, 280, 44});
  cancel->addTarget(this, [this](ui::Control&) { finish(false); }, ui::TouchUpInside);
  view().addSubview(cancel);
}

void SignatureStandInViewController::finish(bool signedOrder) {
  foundation::NotificationCenter::defaultCenter().post("getSignatureForSo", nullptr,
                                                       {{"isClear", signedOrder ? "false" : "true"}});
  dismissViewControllerAnimated(true);
}

}  // namespace orvo
