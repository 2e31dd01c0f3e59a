#include "platform/ui/Control.h"

namespace ui {

void Control::addTarget(const void* target, Action action, unsigned events) {
  if (action) entries_.push_back({target, std::move(action), events});
}

void Control::removeTarget(const void* target, unsigned events) {
  for (auto it = entries_.begin(); it != entries_.end();) {
    if ((target == nullptr || it->target == target) && (it->events & events)) {
      it->events &= ~events;
      if (it->events == 0) {
        it = entries_.erase(it);
        continue;
      }
    }
    ++it;
  }
}

void Control::sendActionsForControlEvents(unsigned events) {
  // Actions may add or remove targets, or free this control's screen; work on a copy and
  // keep the control alive while they run.
  auto keep = weak_from_this().lock();
  auto copy = entries_;
  for (auto& e : copy)
    if (e.events & events) e.action(*this);
}

size_t Control::actionCount(unsigned events) const {
  size_t n = 0;
  for (auto& e : entries_)
    if (e.events & events) ++n;
  return n;
}

ControlState Control::state() const {
  if (!enabled_) return ControlState::Disabled;
  if (highlighted_) return ControlState::Highlighted;
  if (selected_) return ControlState::Selected;
  return ControlState::Normal;
}

View* Control::hitTest(Point p) {
  View* hit = View::hitTest(p);
  // A disabled control swallows the touch without acting, as on the platform.
  return hit;
}

void Control::touchesBegan(const Touches& t) {
  if (!enabled_) return;
  tracking_ = true;
  highlighted_ = true;
  sendActionsForControlEvents(TouchDown);
  (void)t;
}

void Control::touchesMoved(const Touches& t) {
  if (!tracking_ || t.empty()) return;
  highlighted_ = bounds().insetBy(-20, -20).contains(t.front().locationIn(this));
}

void Control::touchesEnded(const Touches& t) {
  if (!tracking_) return;
  tracking_ = false;
  highlighted_ = false;
  if (t.empty() || !enabled_) return;
  Point p = t.front().locationIn(this);
  if (bounds().insetBy(-20, -20).contains(p)) {
    auto keep = weak_from_this().lock();
    sendActionsForControlEvents(TouchUpInside);
    tapped(p);
  } else {
    sendActionsForControlEvents(TouchUpOutside);
  }
}

void Control::touchesCancelled(const Touches&) {
  if (!tracking_) return;
  tracking_ = false;
  highlighted_ = false;
  sendActionsForControlEvents(TouchCancel);
}

std::string Control::describe() const {
  std::string out = View::describe();
  if (!enabled_) out += " disabled";
  if (selected_) out += " selected";
  return out;
}

}  // namespace ui
