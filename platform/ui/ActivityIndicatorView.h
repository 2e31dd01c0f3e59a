#pragma once
// A spinner: animating or not; hidden when stopped unless told otherwise. Main thread.

#include "platform/ui/View.h"

namespace ui {

enum class ActivityIndicatorStyle { WhiteLarge, White, Gray };

class ActivityIndicatorView : public View {
 public:
  explicit ActivityIndicatorView(ActivityIndicatorStyle style = ActivityIndicatorStyle::White);
  const char* kind() const override { return "ActivityIndicator"; }
  ActivityIndicatorStyle style() const { return style_; }
  Color color() const { return color_; }
  void setColor(Color c) { color_ = c; }
  bool isAnimating() const { return animating_; }
  void startAnimating() { animating_ = true; if (hidesWhenStopped_) setHidden(false); }
  void stopAnimating() { animating_ = false; if (hidesWhenStopped_) setHidden(true); }
  bool hidesWhenStopped() const { return hidesWhenStopped_; }
  void setHidesWhenStopped(bool h) { hidesWhenStopped_ = h; if (h && !animating_) setHidden(true); }
  std::string describe() const override { return std::string(animating_ ? " animating" : " stopped") + View::describe(); }

 private:
  ActivityIndicatorStyle style_;
  Color color_;
  bool animating_ = false;
  bool hidesWhenStopped_ = true;
};

}  // namespace ui
