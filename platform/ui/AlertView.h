#pragma once
// The legacy alert view: a title, a message and buttons, shown above everything by `show`.
// Button indexes: the cancel button (when given) is 0, the other buttons follow in order.
// A press calls the delegate's `clickedButtonAtIndex` with the alert (and so its tag),
// then dismisses it, then `didDismissWithButtonIndex`. The delegate is held weakly; an
// alert without one simply goes away. While shown, the window keeps the alert alive.
// Alerts shown while another is up queue behind it and appear when it goes. Main thread.

#include <memory>
#include <string>
#include <vector>

#include "platform/ui/AlertPanel.h"

namespace ui {

class AlertView;

class AlertViewDelegate {
 public:
  virtual ~AlertViewDelegate() = default;
  virtual void clickedButtonAtIndex(AlertView&, int buttonIndex) { (void)buttonIndex; }
  virtual void willDismissWithButtonIndex(AlertView&, int buttonIndex) { (void)buttonIndex; }
  virtual void didDismissWithButtonIndex(AlertView&, int buttonIndex) { (void)buttonIndex; }
};

enum class AlertViewStyle { Default, SecureTextInput, PlainTextInput, LoginAndPasswordInput };

class AlertView : public AlertPanel {
 public:
  AlertView(std::string title, std::string message, std::weak_ptr<AlertViewDelegate> delegate,
            std::string cancelButtonTitle, std::vector<std::string> otherButtonTitles);
  const char* kind() const override { return "AlertView"; }

  void setDelegate(std::weak_ptr<AlertViewDelegate> d) { delegate_ = std::move(d); }
  std::weak_ptr<AlertViewDelegate> delegate() const { return delegate_; }
  int addButtonWithTitle(std::string title);
  int numberOfButtons() const { return static_cast<int>(titles_.size()); }
  std::string buttonTitleAtIndex(int index) const;
  int cancelButtonIndex() const { return cancelIndex_; }
  int firstOtherButtonIndex() const;
  AlertViewStyle alertViewStyle() const { return style_; }
  void setAlertViewStyle(AlertViewStyle s);
  // nullptr when the style has no such field.
  std::shared_ptr<TextField> textFieldAtIndex(int index) const;

  void show();
  bool isVisible() const;
  // As a press of `index` would, without asking `clickedButtonAtIndex`.
  void dismissWithClickedButtonIndex(int index, bool animated);
  // A user's press of button `index` (the renderer and the harness come here via the buttons).
  void pressButtonAtIndex(int index);

  // Alerts shown now, oldest first (the last is on top).
  static std::vector<std::shared_ptr<AlertView>> visibleAlerts();

 private:
  void rebuild();
  void finish(int index, bool clicked);
  std::weak_ptr<AlertViewDelegate> delegate_;
  std::vector<std::string> titles_;  // by index
  int cancelIndex_ = -1;
  AlertViewStyle style_ = AlertViewStyle::Default;
};

}  // namespace ui
