#include "app/core/ScreenNavigation.h"

#include "app/core/Util.h"

namespace orvo {

std::shared_ptr<ui::NavigationController> styledNavigation(std::shared_ptr<ui::ViewController> screen,
                                                           std::optional<ui::ModalTransitionStyle> transition) {
  if (!screen) return nullptr;
  auto nav = std::make_shared<ui::NavigationController>(std::move(screen));
  Util::setDefaultNavTitle(*nav);
  if (transition) nav->setModalTransitionStyle(*transition);
  nav->setModalPresentationStyle(ui::ModalPresentationStyle::FullScreen);
  return nav;
}

std::shared_ptr<ui::NavigationController> presentInNewNavigation(ui::ViewController& from,
                                                                  std::shared_ptr<ui::ViewController> screen,
                                                                  bool animated,
                                                                  std::optional<ui::ModalTransitionStyle> transition) {
  auto nav = styledNavigation(std::move(screen), transition);
  if (!nav) return nullptr;
  ui::ViewController* presenter = from.navigationController();
  (presenter ? presenter : &from)->presentViewController(nav, animated);
  return nav;
}

}  // namespace orvo
