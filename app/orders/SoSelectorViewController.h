#pragma once
// The order selector, between the order type and the order itself. This build holds its
// new-order and edit-by-customer roads (both open the customer list) and the question about
// an unfinished order: each time the screen comes on screen a backup 20 minutes old or
// older is discarded, and a younger one is offered ("Do you want to load previous order
// list?"; Yes opens the item list, which restores it; No discards it). Opening, printing or
// line sheets by SO number come with the rest of the selector. Main thread.

#include <memory>

#include "platform/ui/Button.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class OrvoMobileAppDelegate;

// A backup this old or older is discarded without asking.
inline constexpr double kBackupExpiryMinutes = 20.0;

class SoSelectorViewController : public ui::ViewController {
 public:
  SoSelectorViewController() : SoSelectorViewController("SoSelectorViewController") {}
  explicit SoSelectorViewController(std::string nibName) : ui::ViewController(std::move(nibName)) {}

  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;
  void viewWillDisappear(bool animated) override;

  void btn_NewFunc();
  void btn_EditFunc();
  void yesAlertBackupOrderList();
  void noAlertBackupOrderList();
  void backFunc();

  ui::Button* newButton() const { return new_.get(); }
  ui::Button* editButton() const { return edit_.get(); }

 private:
  void ready();

  OrvoMobileAppDelegate* orvoDelegate_ = nullptr;
  std::shared_ptr<ui::Button> new_, edit_;
};

}  // namespace orvo
