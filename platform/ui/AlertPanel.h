#pragma once
// The box both kinds of alert show: title, message, text fields and buttons, laid out
// in the centre of the screen. Two buttons sit side by side, any other number stacked.
// The buttons are real buttons, so taps reach them like any other. While the window
// shows a keyboard (or an input view such as a number pad) the box is centred in the
// space above it instead, so its fields and buttons stay reachable; a box too tall for
// that space keeps its buttons just above the keyboard. Main thread.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/Button.h"
#include "platform/ui/Label.h"
#include "platform/ui/TextField.h"

namespace ui {

class AlertPanel : public View {
 public:
  static constexpr double kWidth = 270;
  AlertPanel();
  const char* kind() const override { return "Alert"; }

  const std::string& title() const { return title_->text(); }
  void setTitle(std::string t) { title_->setText(std::move(t)); setNeedsLayout(); }
  const std::string& message() const { return message_->text(); }
  void setMessage(std::string m) { message_->setText(std::move(m)); setNeedsLayout(); }
  Label& titleLabel() { return *title_; }
  Label& messageLabel() { return *message_; }

  // Buttons in their display order, each pressing `index` through `onButton`.
  void setButtons(const std::vector<std::string>& titles, int preferredIndex = -1);
  const std::vector<std::shared_ptr<Button>>& buttons() const { return buttons_; }
  std::vector<std::string> buttonTitles() const;
  std::shared_ptr<TextField> addTextField();
  void removeTextFields();
  const std::vector<std::shared_ptr<TextField>>& textFields() const { return fields_; }
  int preferredIndex() const { return preferred_; }

  // Pressing the button at display position `index`.
  std::function<void(int index)> onButton;

  void layoutSubviews() override;
  // True when the keyboard came, went or changed height since the last layout.
  bool layoutIsStale() const override;
  std::string describe() const override;

 private:
  // The top of the keyboard in window points (the window's height when none shows).
  double keyboardTop() const;
  double laidOutAboveKeyboard_ = -1;
  std::shared_ptr<Label> title_;
  std::shared_ptr<Label> message_;
  std::vector<std::shared_ptr<Button>> buttons_;
  std::vector<std::shared_ptr<TextField>> fields_;
  int preferred_ = -1;
};

}  // namespace ui
