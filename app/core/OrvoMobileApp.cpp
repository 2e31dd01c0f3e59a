#include "app/core/OrvoMobileApp.h"

#include "app/core/CoreScreens.h"
#include "app/core/LoginScreens.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/WebImageLoader.h"
#include "platform/ui/Window.h"

namespace orvo {

std::shared_ptr<OrvoMobileAppDelegate> makeOrvoMobileApplication() {
  registerCoreScreens();
  registerLoginScreens();
  ui::WebImageLoader::shared().installForImageViews();
  auto delegate = std::make_shared<OrvoMobileAppDelegate>();
  delegate->window = std::make_shared<ui::Window>();
  delegate->navigationController =
      std::make_shared<ui::NavigationController>(makeScreen("LoginViewController"));
  return delegate;
}

}  // namespace orvo
