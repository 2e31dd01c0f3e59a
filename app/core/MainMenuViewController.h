#pragma once
// The first screen after login when the server turns scan-pack mode on: it chooses the
// working mode of the following screens (`Settings::isScanPackMode`) and offers logout.
// It lives inside the navigation controller that the login screen presents. Main thread.

#include <memory>

#include "platform/ui/BarButtonItem.h"
#include "platform/ui/Button.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class OrvoMobileAppDelegate;

class MainMenuViewController : public ui::ViewController {
 public:
  MainMenuViewController() : ui::ViewController("MainMenuViewController") {}
  explicit MainMenuViewController(std::string nibName) : ui::ViewController(std::move(nibName)) {}

  void viewDidLoad() override;

  // Sales order: scan-pack mode off, the order type screen presented in a new navigation
  // controller.
  void btn_saleOrder();
  // Picking: scan-pack mode on, the customer screen presented the same way.
  void btn_pick();
  // Scan-pack: the flag only.
  void btn_scanPack();
  void logoutButtonClicked();
  void yesAlertLogout();
  void backFunc();

  ui::Button* saleOrderButton() const { return saleOrder_.get(); }
  ui::Button* pickButton() const { return pick_.get(); }
  ui::Button* scanPackButton() const { return scanPack_.get(); }
  std::shared_ptr<ui::BarButtonItem> logoutBarButtonItem() const { return logoutBarButtonItem_; }

 private:
  void presentInNavigation(const std::string& interfaceName);

  OrvoMobileAppDelegate* orvoDelegate_ = nullptr;
  std::shared_ptr<ui::BarButtonItem> logoutBarButtonItem_;
  std::shared_ptr<ui::Button> saleOrder_, pick_, scanPack_;
};

}  // namespace orvo
