#pragma once
// A number pad to use as a text field's input view: digits, an optional decimal point, a
// clear key (delete backward) and a function key at the bottom left with its own image or
// title and action. Keys type into the first responder through its delegate, like the
// keyboard. Main thread.

#include <functional>
#include <memory>

#include "platform/ui/Button.h"

namespace ui {

class TextInput;

class NumberPad : public View {
 public:
  static constexpr double kHeight = 216;
  explicit NumberPad(bool decimalPoint = false);
  const char* kind() const override { return "NumberPad"; }

  Button& functionButton() { return *function_; }
  Button& clearButton() { return *clear_; }
  // Runs when the function key is pressed, with the field being typed into (or nullptr).
  std::function<void(NumberPad&, TextInput*)> onFunctionKey;
  // The key for `text` ("0".."9", "."); nullptr when the pad has none.
  Button* keyFor(const std::string& text) const;

  void layoutSubviews() override;

 private:
  std::vector<std::shared_ptr<Button>> keys_;
  std::shared_ptr<Button> function_;
  std::shared_ptr<Button> clear_;
  bool decimal_;
};

}  // namespace ui
