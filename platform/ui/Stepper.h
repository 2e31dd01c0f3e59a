#pragma once
// A stepper: a minus half and a plus half. A tap changes the value by the step within
// minimum and maximum (wrapping when asked) and sends ValueChanged to every target in the
// order they were added. Main thread.

#include "platform/ui/Control.h"

namespace ui {

class Stepper : public Control {
 public:
  static constexpr double kWidth = 94, kHeight = 29;
  Stepper() { setFrame({0, 0, kWidth, kHeight}); }
  const char* kind() const override { return "Stepper"; }
  double value() const { return value_; }
  void setValue(double v);
  double minimumValue() const { return min_; }
  void setMinimumValue(double v) { min_ = v; setValue(value_); }
  double maximumValue() const { return max_; }
  void setMaximumValue(double v) { max_ = v; setValue(value_); }
  double stepValue() const { return step_; }
  void setStepValue(double s) { step_ = s > 0 ? s : step_; }
  bool wraps() const { return wraps_; }
  void setWraps(bool w) { wraps_ = w; }
  // A user's press of plus (true) or minus.
  void press(bool plus);
  std::string describe() const override;

 protected:
  void tapped(Point p) override { press(p.x >= bounds().midX()); }

 private:
  double value_ = 0, min_ = 0, max_ = 100, step_ = 1;
  bool wraps_ = false;
};

}  // namespace ui
