#include "app/orders/OrderScreens.h"

#include "app/core/OrvoMobileAppDelegate.h"
#include "app/orders/LastSelectorViewController.h"
#include "app/orders/LineSheetViewController.h"
#include "app/orders/LoadOrderListViewController.h"
#include "app/orders/OrderImages.h"
#include "app/orders/OrderInfoViewController.h"
#include "app/orders/OrderListViewController.h"
#include "app/orders/PrinterViewController.h"
#include "app/orders/SoOrderTypeViewController.h"
#include "app/orders/SoSelectorViewController.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/NumberPad.h"
#include "platform/foundation/NotificationCenter.h"

namespace orvo {

void registerOrderScreens() {
  registerOrderImages();
  auto& r = ui::ViewControllerRegistry::shared();
  r.add<SoOrderTypeViewController>("SoOrderTypeViewController");
  r.add<SoSelectorViewController>("SoSelectorViewController");
  r.add<OrderListViewController>("OrderListView");
  r.add<PrinterViewController>("PrinterViewController");
  r.add<StyleCodeEntryViewController>("StyleInfoTableViewController");
  r.add<OrderInfoViewController>("OrderInfoViewController");
  r.add<LastSelectorViewController>("LastSelectorViewController");
  r.add<LoadOrderListViewController>("LoadOrderListViewController");
  r.add<LineSheetViewController>("LineSheetViewController");
  if (!r.contains("CcSignatureViewController"))
    r.add<SignatureStandInViewController>("CcSignatureViewController");
  for (const char* name : {"CcViewController", "SubtotalViewController", "AtsViewController",
                           "MultiColorTableView", "StyleLookupViewController"})
    if (!r.contains(name)) r.add<StandInViewController>(name);
}

void StyleCodeEntryViewController::viewDidLoad() {
  StandInViewController::viewDidLoad();
  setTitle("Add a Style Manually");
  code_ = ui::makeView<ui::TextField>({20, 60, 280, 40});
  code_->setPlaceholder("Item code");
  code_->setAccessibilityLabel("Item code");
  code_->setBorderStyle(ui::BorderStyle::RoundedRect);
  code_->setInputView(std::make_shared<ui::NumberPad>());
  view().addSubview(code_);
  auto done = ui::Button::make("Done", {20, 110, 280, 44});
  done->addTarget(this, [this](ui::Control&) { this->done(); }, ui::TouchUpInside);
  view().addSubview(done);
  navigationItem().setLeftBarButtonItem(ui::BarButtonItem::withTitle(
      "Back", ui::BarButtonItemStyle::Plain, [this](ui::BarButtonItem&) { dismissViewControllerAnimated(true); }));
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

void StyleCodeEntryViewController::done() {
  if (auto* app = OrvoMobileAppDelegate::shared(); app && !code_->text().empty())
    app->globalSO().manualBarcode = code_->text();
  code_->resignFirstResponder();
  dismissViewControllerAnimated(true);
}

}  // namespace orvo
