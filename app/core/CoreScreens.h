#pragma once
// The screens of the application core by interface-file name, and stand-ins for screens
// that other parts of the application provide (order type, customers, style search) until
// those are registered. Main thread.

#include <memory>
#include <string>

#include "platform/ui/ViewController.h"

namespace orvo {

// Registers "OverlayView" and "MainMenuViewController", and a stand-in for each of
// "SoOrderTypeViewController", "CustomerView", "StoreView" and
// "StyleInfoTableViewController" that no one has registered yet. A screen registered later
// under the same name replaces its stand-in.
void registerCoreScreens();

// The screen made from `interfaceName`; a stand-in titled with the name when nothing is
// registered under it, so navigation never fails for a missing screen.
std::shared_ptr<ui::ViewController> makeScreen(const std::string& interfaceName);

// A placeholder screen: a title and a line saying which screen it stands for.
class StandInViewController : public ui::ViewController {
 public:
  explicit StandInViewController(std::string nibName) : ui::ViewController(std::move(nibName)) {}
  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  int appearCount() const { return appearCount_; }

 private:
  int appearCount_ = 0;
};

}  // namespace orvo
