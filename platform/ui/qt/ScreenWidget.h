#pragma once
// A Qt widget that shows a window of the screen model and feeds it input: mouse presses,
// drags and releases become one-finger touches; typed text, Backspace and Return go to
// the first responder (through its delegate); the wheel scrolls the scroll view under the
// pointer and Ctrl+wheel pinches; Ctrl+Z shakes the phone. Main thread.

#include <QWidget>
#include <memory>

#include "platform/ui/Window.h"

namespace ui::qt {

class ScreenWidget : public QWidget {
 public:
  // Shows `window`, or the key window at paint time when nullptr.
  explicit ScreenWidget(Window* window = nullptr, double scale = 1, QWidget* parent = nullptr);
  Window* window() const;
  double scale() const { return scale_; }

 protected:
  void paintEvent(QPaintEvent* e) override;
  void mousePressEvent(QMouseEvent* e) override;
  void mouseMoveEvent(QMouseEvent* e) override;
  void mouseReleaseEvent(QMouseEvent* e) override;
  void keyPressEvent(QKeyEvent* e) override;
  void wheelEvent(QWheelEvent* e) override;

 private:
  Point toModel(const QPointF& p) const { return {p.x() / scale_, p.y() / scale_}; }
  Window* window_;
  double scale_;
  bool pressed_ = false;
};

}  // namespace ui::qt
