#include "app/core/MainMenuViewController.h"

#include "app/core/AlertClass.h"
#include "app/core/AppNames.h"
#include "app/core/CoreScreens.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "app/core/ScreenNavigation.h"
#include "app/core/Util.h"
#include "platform/ui/Image.h"
#include "platform/ui/NavigationController.h"

namespace orvo {

void MainMenuViewController::viewDidLoad() {
  orvoDelegate_ = OrvoMobileAppDelegate::shared();
  setTitle("Main Menu");

  auto unlock = ui::Image::named("unlock.png");
  ui::Size size = unlock ? unlock->size() : ui::Size{35, 35};
  auto logout = ui::Button::make("", ui::Rect(0, 0, size.width, size.height), ui::ButtonType::Custom);
  if (unlock) logout->setImage(unlock);
  logout->setAccessibilityLabel("Logout");
  logout->addTarget(this, [this](ui::Control&) { logoutButtonClicked(); }, ui::TouchUpInside);
  logoutBarButtonItem_ = ui::BarButtonItem::withCustomView(logout);
  navigationItem().setRightBarButtonItem(logoutBarButtonItem_);

  // The three mode buttons, one above the other in the middle of the screen.
  auto make = [this](const char* title, double y, std::function<void()> action) {
    auto b = ui::Button::make(title, ui::Rect(60, y, 200, 50), ui::ButtonType::System);
    b->addTarget(this, [action](ui::Control&) { action(); }, ui::TouchUpInside);
    view().addSubview(b);
    return b;
  };
  saleOrder_ = make("Sales Order", 150, [this] { btn_saleOrder(); });
  pick_ = make("Pick", 230, [this] { btn_pick(); });
  scanPack_ = make("Scan Pack", 310, [this] { btn_scanPack(); });
}

void MainMenuViewController::presentInNavigation(const std::string& interfaceName) {
  presentInNewNavigation(*this, makeScreen(interfaceName));
}

void MainMenuViewController::btn_saleOrder() {
  if (orvoDelegate_) orvoDelegate_->settings().isScanPackMode = false;
  presentInNavigation("SoOrderTypeViewController");
}

void MainMenuViewController::btn_pick() {
  if (orvoDelegate_) orvoDelegate_->settings().isScanPackMode = true;
  presentInNavigation("CustomerView");
}

void MainMenuViewController::btn_scanPack() {
  if (orvoDelegate_) orvoDelegate_->settings().isScanPackMode = true;
}

void MainMenuViewController::logoutButtonClicked() {
  AlertClass::AlertView(*this, 0, 2, kAppAlertTitle, "Do you wish to logout?",
                        [this] { yesAlertLogout(); }, nullptr);
}

void MainMenuViewController::yesAlertLogout() {
  if (orvoDelegate_) orvoDelegate_->initFlag();
  dismissViewControllerAnimated(true);
}

void MainMenuViewController::backFunc() { dismissViewControllerAnimated(true); }

}  // namespace orvo
