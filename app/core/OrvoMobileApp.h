#pragma once
// Puts the application together: registers every screen by interface-file name, draws the
// button images, makes image views load pictures through the shared image loader, and makes the application delegate with its window and the main
// navigation controller, whose root is the login screen. The program (or the demo) then
// hands the delegate to the UI host. Main thread.

#include <memory>

namespace orvo {

class OrvoMobileAppDelegate;

std::shared_ptr<OrvoMobileAppDelegate> makeOrvoMobileApplication();

}  // namespace orvo
