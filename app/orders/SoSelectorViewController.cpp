#include "app/orders/SoSelectorViewController.h"

#include <chrono>

#include "app/core/AlertClass.h"
#include "app/core/AppNames.h"
#include "app/core/CoreScreens.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/UserDefaultsKeys.h"
#include "app/core/Util.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Text.h"

namespace orvo {

void SoSelectorViewController::viewDidLoad() {
  setTitle(ui::localizedString("SO Selector"));
  orvoDelegate_ = OrvoMobileAppDelegate::shared();
  view().setBackgroundColor(ui::Color::whiteColor());
  navigationItem().setLeftBarButtonItem(ui::BarButtonItem::withTitle(
      ui::localizedString("Back"), ui::BarButtonItemStyle::Plain, [this](ui::BarButtonItem&) { backFunc(); }));
  auto make = [this](const char* title, double y, void (SoSelectorViewController::*action)()) {
    auto b = ui::Button::make(title, ui::Rect(40, y, 240, 50));
    b->addTarget(this, [this, action](ui::Control&) { (this->*action)(); }, ui::TouchUpInside);
    view().addSubview(b);
    return b;
  };
  new_ = make("New", 60, &SoSelectorViewController::btn_NewFunc);
  edit_ = make("Edit", 130, &SoSelectorViewController::btn_EditFunc);
}

void SoSelectorViewController::viewWillAppear(bool) {
  if (foundation::UserDefaults::standard().boolForKey(defaults::timeOutFunc)) orvoDelegate_->timeOutInit();
  orvoDelegate_->networkActivityStopped();
  orvoDelegate_->hideActivityViewer();
}

void SoSelectorViewController::viewDidAppear(bool) {
  auto& d = foundation::UserDefaults::standard();
  if (auto saved = d.dateForKey(defaults::backupDateTime)) {
    const double minutes =
        std::chrono::duration<double>(foundation::Clock::current().wallNow() - *saved).count() / 60.0;
    if (minutes >= kBackupExpiryMinutes) orvoDelegate_->AutoSaveFuncDataInit();
  }
  if (!d.objectForKey(defaults::backupOrderListArray).is_null()) {
    AlertClass::AlertView(*this, 0, 2, kAppAlertTitle, "Do you want to load previous order list?",
                          [this] { yesAlertBackupOrderList(); }, [this] { noAlertBackupOrderList(); });
    return;
  }
  ready();
}

void SoSelectorViewController::viewWillDisappear(bool) {
  orvoDelegate_->stopBarcode();
  if (auto* nav = navigationController()) Util::setNavTitleBgColor(*nav, ui::Color::black());
}

void SoSelectorViewController::ready() {
  orvoDelegate_->startBarcode();
  if (auto* nav = navigationController()) Util::setNavTitleBgColor(*nav, ui::Color::blue());
}

void SoSelectorViewController::yesAlertBackupOrderList() {
  if (auto* nav = navigationController()) nav->pushViewController(makeScreen("OrderListView"), true);
}

void SoSelectorViewController::noAlertBackupOrderList() {
  orvoDelegate_->startBarcode();
  if (auto* nav = navigationController()) Util::setNavTitleBgColor(*nav, ui::Color::blue());
  orvoDelegate_->AutoSaveFuncDataInit();
}

void SoSelectorViewController::btn_NewFunc() {
  orvoDelegate_->settings().soEditSelectFlag = false;
  orvoDelegate_->globalSO().orderNumber.clear();
  if (auto* nav = navigationController()) nav->pushViewController(makeScreen("CustomerView"), true);
}

void SoSelectorViewController::btn_EditFunc() {
  orvoDelegate_->settings().soEditSelectFlag = true;
  if (auto* nav = navigationController()) nav->pushViewController(makeScreen("CustomerView"), true);
}

void SoSelectorViewController::backFunc() {
  if (auto* nav = navigationController()) nav->popViewControllerAnimated(true);
}

}  // namespace orvo
