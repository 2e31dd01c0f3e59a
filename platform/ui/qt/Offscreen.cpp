#include "platform/ui/qt/Offscreen.h"

#include <QApplication>
#include <cstdlib>

#include "platform/ui/qt/Painter.h"

// Fontconfig keeps its caches until the process ends; leak checking in sanitizer builds
// should not report them for every program that renders text.
extern "C" const char* __lsan_default_suppressions() { return "leak:libfontconfig\n"; }

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
