#pragma once
// Runs an application of the screen model in a desktop window: makes the QApplication,
// measures text with Qt, drives the main queue from Qt's event loop, installs the
// application's hooks (opening a URL asks the desktop; exiting quits the event loop with
// the status), launches the delegate and shows the screen until the application exits or
// the window closes. While the application disables its idle timer the desktop's screen
// saver is suspended for the window (xdg-screensaver on X11, when installed). The
// application's state follows the desktop's (focus: active; no focus: inactive; minimised
// or hidden: background), so the application object posts its notifications in a real run;
// closing the window terminates it. No other event loop runs anywhere. Main thread.

#include <memory>
#include <string>

#include "platform/ui/Application.h"

namespace ui::qt {

struct HostOptions {
  double scale = 1;
  std::string title = "OrvoMobile";
};

int runApplication(int& argc, char** argv, std::shared_ptr<ApplicationDelegate> delegate,
                   const HostOptions& options = {});

}  // namespace ui::qt
