#include "platform/ui/qt/Offscreen.h"

#include <QApplication>
#include <cstdlib>

#include "platform/ui/qt/Painter.h"

namespace ui::qt {

void ensureGuiApplication() {
  if (QCoreApplication::instance()) return;
  const bool display = std::getenv("DISPLAY") || std::getenv("WAYLAND_DISPLAY");
  if (!std::getenv("QT_QPA_PLATFORM") && !display) qputenv("QT_QPA_PLATFORM", "offscreen");
  static int argc = 1;
  static char name[] = "kestra-ui";
  static char* argv[] = {name, nullptr};
  new QApplication(argc, argv);  // lives until the process ends
  installTextMetrics();
}

}  // namespace ui::qt
