#include "platform/ui/ActivityIndicatorView.h"

namespace ui {

ActivityIndicatorView::ActivityIndicatorView(ActivityIndicatorStyle style)
    : style_(style), color_(style == ActivityIndicatorStyle::Gray ? Color::gray() : Color::whiteColor()) {
  double size = style == ActivityIndicatorStyle::WhiteLarge ? 37 : 20;
  setFrame({0, 0, size, size});
  setHidden(true);
  setUserInteractionEnabled(false);
}

}  // namespace ui
