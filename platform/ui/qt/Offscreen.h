#pragma once
// For programs and tests that render without showing a window: makes a QApplication if
// there is none (on the "offscreen" platform when no QT_QPA_PLATFORM is set and there is
// no display) and installs Qt text metrics. Main thread.

namespace ui::qt {

void ensureGuiApplication();

}  // namespace ui::qt
