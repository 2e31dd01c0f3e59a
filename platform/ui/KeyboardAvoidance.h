#pragma once
// Keeps what a scroll view holds reachable while the keyboard (or a field's input view)
// shows, as the platform's table view controller does for its table: the part of the
// scroll view that the keyboard covers becomes extra bottom inset, so every row can be
// scrolled up above the keyboard, and a first responder inside the scroll view is scrolled
// into the part that still shows. When the keyboard goes, the inset is given back (the
// offset is clamped to the content again). The owner (a screen) keeps the object for as
// long as it shows the scroll view; it holds the scroll view weakly. Main thread.

#include <memory>

#include <nlohmann/json_fwd.hpp>

namespace ui {

class ScrollView;

class KeyboardAvoidance {
 public:
  explicit KeyboardAvoidance(std::weak_ptr<ScrollView> scrollView);
  ~KeyboardAvoidance();
  KeyboardAvoidance(const KeyboardAvoidance&) = delete;
  KeyboardAvoidance& operator=(const KeyboardAvoidance&) = delete;

  // The inset added for the keyboard now (0 while none covers the scroll view).
  double keyboardInset() const { return added_; }

 private:
  void keyboardWillShow(const nlohmann::json& userInfo);
  void keyboardWillHide();
  void setAdded(double added);

  std::weak_ptr<ScrollView> scrollView_;
  double added_ = 0;
};

}  // namespace ui
