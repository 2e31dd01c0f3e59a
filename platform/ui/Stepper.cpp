#include "platform/ui/Stepper.h"

#include <algorithm>
#include <cstdio>

namespace ui {

void Stepper::setValue(double v) { value_ = std::clamp(v, min_, std::max(min_, max_)); }

void Stepper::press(bool plus) {
  if (!isEnabled()) return;
  double v = value_ + (plus ? step_ : -step_);
  if (wraps_) {
    if (v > max_) v = min_;
    if (v < min_) v = max_;
  }
  double before = value_;
  setValue(v);
  if (value_ != before) sendActionsForControlEvents(ValueChanged);
}

std::string Stepper::describe() const {
  char buf[64];
  std::snprintf(buf, sizeof buf, " value=%g", value_);
  return buf + Control::describe();
}

}  // namespace ui
