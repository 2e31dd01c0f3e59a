#pragma once
// An on/off switch: a tap flips it and sends ValueChanged; `setOn` from code sends
// nothing. Main thread.

#include "platform/ui/Control.h"

namespace ui {

class Switch : public Control {
 public:
  static constexpr double kWidth = 51, kHeight = 31;
  Switch() { setFrame({0, 0, kWidth, kHeight}); }
  const char* kind() const override { return "Switch"; }
  bool isOn() const { return on_; }
  void setOn(bool on, bool animated = false) { (void)animated; on_ = on; }
  std::optional<Color> onTintColor() const { return onTint_; }
  void setOnTintColor(std::optional<Color> c) { onTint_ = c; }
  std::string describe() const override { return std::string(on_ ? " on" : " off") + Control::describe(); }

 protected:
  void tapped(Point) override {
    on_ = !on_;
    sendActionsForControlEvents(ValueChanged);
  }

 private:
  bool on_ = false;
  std::optional<Color> onTint_;
};

}  // namespace ui
