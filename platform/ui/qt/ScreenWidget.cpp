#include "platform/ui/qt/ScreenWidget.h"

#include <QKeyEvent>
#include <QMouseEvent>
#include <QPainter>
#include <QWheelEvent>

#include "platform/ui/Gesture.h"
#include "platform/ui/ScrollView.h"
#include "platform/ui/qt/Painter.h"

namespace ui::qt {

ScreenWidget::ScreenWidget(Window* window, double scale, QWidget* parent)
    : QWidget(parent), window_(window), scale_(scale > 0 ? scale : 1) {
  setFixedSize(int(Window::kScreenWidth * scale_), int(Window::kScreenHeight * scale_));
  setFocusPolicy(Qt::StrongFocus);
  setMouseTracking(false);
  setAttribute(Qt::WA_OpaquePaintEvent);
}

Window* ScreenWidget::window() const { return window_ ? window_ : Window::keyWindow(); }

void ScreenWidget::paintEvent(QPaintEvent*) {
  QPainter p(this);
  p.setRenderHint(QPainter::TextAntialiasing, true);
  p.scale(scale_, scale_);
  if (Window* w = window())
    paintWindow(p, *w);
  else
    p.fillRect(rect(), Qt::black);
}

void ScreenWidget::mousePressEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton) return;
  pressed_ = true;
  if (Window* w = window()) w->sendTouch(TouchPhase::Began, toModel(e->position()));
  update();
}

void ScreenWidget::mouseMoveEvent(QMouseEvent* e) {
  if (!pressed_) return;
  if (Window* w = window()) w->sendTouch(TouchPhase::Moved, toModel(e->position()));
  update();
}

void ScreenWidget::mouseReleaseEvent(QMouseEvent* e) {
  if (e->button() != Qt::LeftButton || !pressed_) return;
  pressed_ = false;
  if (Window* w = window()) w->sendTouch(TouchPhase::Ended, toModel(e->position()));
  update();
}

void ScreenWidget::keyPressEvent(QKeyEvent* e) {
  Window* w = window();
  if (!w) return;
  if (e->key() == Qt::Key_Z && (e->modifiers() & Qt::ControlModifier)) {
    w->shake();
  } else if (e->key() == Qt::Key_Backspace) {
    w->deleteBackward();
  } else if (e->key() == Qt::Key_Return || e->key() == Qt::Key_Enter) {
    w->pressReturn();
  } else if (!e->text().isEmpty() && e->text().at(0).isPrint()) {
    w->insertText(e->text().toStdString());
  } else {
    QWidget::keyPressEvent(e);
    return;
  }
  update();
}

void ScreenWidget::wheelEvent(QWheelEvent* e) {
  Window* w = window();
  if (!w) return;
  w->layoutIfNeeded();
  Point at = toModel(e->position());
  View* hit = w->hitTest(at);
  double dy = e->angleDelta().y() / 8.0;  // degrees; one notch is 15
  if (e->modifiers() & Qt::ControlModifier) {
    for (View* v = hit; v; v = v->superview())
      for (auto& g : v->gestureRecognizers())
        if (auto* pinch = dynamic_cast<PinchGestureRecognizer*>(g.get())) {
          pinch->pinch(dy > 0 ? 1.25 : 0.8);
          update();
          return;
        }
    return;
  }
  for (View* v = hit; v; v = v->superview())
    if (auto* sc = dynamic_cast<ScrollView*>(v); sc && sc->isScrollEnabled()) {
      sc->beginDrag();
      sc->dragBy(-e->angleDelta().x() / 3.0, dy * 2);
      sc->endDrag();
      update();
      return;
    }
}

}  // namespace ui::qt
