#pragma once
// Paints the screen model with QPainter: any view tree, by view kind, one point one pixel
// times `scale`. It knows kinds of views, never screens. Also renders a window into an
// image (screenshots) and installs text measuring from Qt's font metrics so the model lays
// text out as it is painted. Needs a QGuiApplication (any platform, "offscreen" included);
// main thread.

#include <QImage>
#include <QPainter>
#include <string>

#include "platform/ui/Image.h"
#include "platform/ui/Window.h"

namespace ui::qt {

// Paints `window` (laid out first) in its coordinates; the caller scales the painter.
void paintWindow(QPainter& painter, Window& window);
// Paints one view and its subviews at the painter's origin.
void paintView(QPainter& painter, View& view);
QImage renderWindow(Window& window, double scale = 1);
// Saves a PNG of the window; false when the file cannot be written.
bool saveScreenshot(Window& window, const std::string& path, double scale = 1);
// Makes `ui::measureText` use Qt's font metrics.
void installTextMetrics();
// The Qt font for a model font (the size is in pixels, as points are pixels at scale 1).
QFont qtFont(const Font& font);
// A QImage view of a model image (cached by identity).
QImage qtImage(const Image& image);

}  // namespace ui::qt
