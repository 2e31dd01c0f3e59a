#include "app/core/CoreScreens.h"

#include "app/core/MainMenuViewController.h"
#include "app/core/OverlayViewController.h"
#include "platform/ui/Label.h"

namespace orvo {

void StandInViewController::viewDidLoad() {
  setTitle(nibName());
  auto label = ui::makeView<ui::Label>(ui::Rect(20, 200, 280, 60), nibName() + " is not available yet");
  label->setNumberOfLines(2);
  label->setTextAlignment(ui::TextAlignment::Center);
  view().addSubview(label);
}

void StandInViewController::viewWillAppear(bool) { ++appearCount_; }

void registerCoreScreens() {
  auto& r = ui::ViewControllerRegistry::shared();
  r.add<OverlayViewController>("OverlayView");
  r.add<MainMenuViewController>("MainMenuViewController");
  for (const char* name : {"SoOrderTypeViewController", "CustomerView", "StoreView",
                           "StyleInfoTableViewController"})
    if (!r.contains(name)) r.add<StandInViewController>(name);
}

std::shared_ptr<ui::ViewController> makeScreen(const std::string& interfaceName) {
  if (auto vc = ui::ViewControllerRegistry::shared().make(interfaceName)) return vc;
  return std::make_shared<StandInViewController>(interfaceName);
}

}  // namespace orvo
