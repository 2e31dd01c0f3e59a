#pragma once
// Toasts: a short message in a dark rounded box over a view, which goes away by itself
// after its duration on the main queue's clock; and the activity toast, a spinner box
// that stays until hidden. Toasts live in the window's toast layer, above everything, and
// take no touches. Main thread.

#include <memory>
#include <string>

#include "platform/ui/Image.h"
#include "platform/ui/View.h"

namespace ui {

enum class ToastPosition { Top, Center, Bottom };

struct ToastStyle {
  Color background = Color::black().withAlpha(0.8);
  Color titleColor = Color::whiteColor();
  Color messageColor = Color::whiteColor();
  Font titleFont = Font::boldSystemFont(16);
  Font messageFont = Font::systemFont(16);
  TextAlignment titleAlignment = TextAlignment::Left;
  TextAlignment messageAlignment = TextAlignment::Left;
  // Space between the box's edges and its image and texts.
  double horizontalPadding = 10;
  double verticalPadding = 10;
  // The image is fitted into this size, left of the texts.
  Size imageSize{80, 80};
  double cornerRadius = 10;
};

// The default time a toast stays, in seconds.
constexpr double kToastDuration = 3.0;

// Shows a toast over `view` (its window's toast layer, placed by `view`'s frame). Returns
// the toast's view.
std::shared_ptr<View> makeToast(View& view, const std::string& message, double duration = kToastDuration,
                                ToastPosition position = ToastPosition::Bottom, const std::string& title = {},
                                std::shared_ptr<Image> image = nullptr, const ToastStyle& style = {});
void makeToastActivity(View& view, ToastPosition position = ToastPosition::Center);
void hideToastActivity(View& view);
// Removes every toast of `view`'s window at once.
void hideAllToasts(View& view);

}  // namespace ui
