#include "app/orders/OrderScreens.h"

#include "app/core/OrvoMobileAppDelegate.h"
#include "app/orders/OrderImages.h"
#include "app/orders/OrderListViewController.h"
#include "app/orders/PrinterViewController.h"
#include "app/orders/SoOrderTypeViewController.h"
#include "app/orders/SoSelectorViewController.h"
#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/NumberPad.h"

namespace orvo {

void registerOrderScreens() {
  registerOrderImages();
  auto& r = ui::ViewControllerRegistry::shared();
  r.add<SoOrderTypeViewController>("SoOrderTypeViewController");
  r.add<SoSelectorViewController>("SoSelectorViewController");
  r.add<OrderListViewController>("OrderListView");
  r.add<PrinterViewController>("PrinterViewController");
  r.add<StyleCodeEntryViewController>("StyleInfoTableViewController");
  for (const char* name : {"OrderInfoViewController", "SubtotalViewController", "AtsViewController",
                           "MultiColorTableView", "StyleLookupViewController", "LoadOrderListViewController"})
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

void StyleCodeEntryViewController::done() {
  if (auto* app = OrvoMobileAppDelegate::shared(); app && !code_->text().empty())
    app->globalSO().manualBarcode = code_->text();
  code_->resignFirstResponder();
  dismissViewControllerAnimated(true);
}

}  // namespace orvo
