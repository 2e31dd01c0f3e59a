#include "app/core/LoginScreens.h"

#include "app/core/AboutViewController.h"
#include "app/core/CameraScanViewController.h"
#include "app/core/CoreImages.h"
#include "app/core/DivisionViewController.h"
#include "app/core/LoginViewController.h"
#include "app/core/SettingsViewController.h"

namespace orvo {

void registerLoginScreens() {
  registerCoreImages();
  auto& r = ui::ViewControllerRegistry::shared();
  r.add<LoginViewController>("LoginViewController");
  r.add<SettingsViewController>("SettingsView");
  r.add<DivisionViewController>("DivisionViewController");
  r.add<WarehouseViewController>("WarehouseViewController");
  r.add<CameraScanViewController>("CameraScanViewController");
  r.add<AboutViewController>("AboutView");
}

}  // namespace orvo
