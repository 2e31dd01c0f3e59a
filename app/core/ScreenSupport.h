#pragma once
// Helpers shared by the screens: image bar buttons, and presenting an alert or screen from
// a screen that may not be on screen yet (a screen that is still loading presents on the
// next turn of the main queue). Main thread.

#include <functional>
#include <memory>
#include <string>

#include "platform/ui/BarButtonItem.h"
#include "platform/ui/ViewController.h"

namespace orvo {

// A bar button item holding a custom button with the named image (its frame the image's
// size at the origin), calling `action` on touch-up-inside. Without the image the button
// shows `title`.
std::shared_ptr<ui::BarButtonItem> barImageButton(const std::string& imageName, const std::string& title,
                                                  std::function<void()> action);

// Presents `vc` from `presenter` now, or on the next turns of the main queue while the
// presenter is not on screen or still presenting something else.
void presentAlertWhenOnScreen(ui::ViewController& presenter, std::shared_ptr<ui::ViewController> vc);
// A one-button alert controller ("OK" running `okFunc`) presented that way.
void presentAlertWhenOnScreen(ui::ViewController& presenter, int tag, const std::string& title,
                              const std::string& message, std::function<void()> okFunc);
// The application's one-button message ("Orvo Mobile", "OK") presented that way.
void showMessageWhenOnScreen(ui::ViewController& presenter, const std::string& message);

}  // namespace orvo
