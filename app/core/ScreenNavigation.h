#pragma once
// Presenting a screen modally inside a new navigation controller with the application's bar
// style (white title and buttons on a black, translucent bar), full screen. Every screen
// that opens another "on top" (main menu, order type, customer list, about, ...) does it
// with this one call:
//
//   presentInNewNavigation(*this, makeScreen("CustomerView"));
//   presentInNewNavigation(*this, about, true, ui::ModalTransitionStyle::CoverVertical);
//
// The presenter is `from`'s navigation controller when it has one (so the new stack covers
// the whole current stack), else `from` itself. Returns the new navigation controller, or
// nothing when `screen` is empty. Main thread.

#include <memory>
#include <optional>

#include "platform/ui/NavigationController.h"
#include "platform/ui/ViewController.h"

namespace orvo {

// The navigation controller alone, styled and full screen, for a screen that presents it in
// its own way (for example once it is on screen itself).
std::shared_ptr<ui::NavigationController> styledNavigation(
    std::shared_ptr<ui::ViewController> screen, std::optional<ui::ModalTransitionStyle> transition = std::nullopt);

std::shared_ptr<ui::NavigationController> presentInNewNavigation(
    ui::ViewController& from, std::shared_ptr<ui::ViewController> screen, bool animated = true,
    std::optional<ui::ModalTransitionStyle> transition = std::nullopt);

}  // namespace orvo
