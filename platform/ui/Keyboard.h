#pragma once
// The on-screen keyboard the window shows for a first responder without an input view,
// and the keyboard notifications. Keys type through the same path as the renderer's
// keys. The notifications go to the default notification centre with a user info of
// "UIKeyboardAnimationDurationUserInfoKey" (seconds) and "UIKeyboardFrameEndUserInfoKey"
// / "UIKeyboardFrameBeginUserInfoKey" ({"x","y","width","height"} in window points).
// Main thread.

#include <memory>

#include "platform/ui/Button.h"
#include "platform/ui/TextField.h"

namespace ui {

constexpr const char* kKeyboardWillShowNotification = "UIKeyboardWillShowNotification";
constexpr const char* kKeyboardDidShowNotification = "UIKeyboardDidShowNotification";
constexpr const char* kKeyboardWillHideNotification = "UIKeyboardWillHideNotification";
constexpr const char* kKeyboardDidHideNotification = "UIKeyboardDidHideNotification";
constexpr const char* kKeyboardAnimationDurationUserInfoKey = "UIKeyboardAnimationDurationUserInfoKey";
constexpr const char* kKeyboardFrameBeginUserInfoKey = "UIKeyboardFrameBeginUserInfoKey";
constexpr const char* kKeyboardFrameEndUserInfoKey = "UIKeyboardFrameEndUserInfoKey";

class KeyboardView : public View {
 public:
  explicit KeyboardView(KeyboardType type);
  const char* kind() const override { return "Keyboard"; }
  KeyboardType type() const { return type_; }
  void layoutSubviews() override;

 private:
  KeyboardType type_;
  std::vector<std::shared_ptr<Button>> keys_;
};

}  // namespace ui
