#pragma once
// The alert controller: a screen presented over the full screen (the screen beneath gets
// no appearance calls) with a title, a message, actions and optional text fields. Pressing
// an action dismisses the alert, then runs the action's handler. Main thread.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "platform/ui/AlertPanel.h"
#include "platform/ui/ViewController.h"

namespace ui {

enum class AlertActionStyle { Default, Cancel, Destructive };
enum class AlertControllerStyle { Alert, ActionSheet };

class AlertAction {
 public:
  using Handler = std::function<void(AlertAction&)>;
  static std::shared_ptr<AlertAction> make(std::string title, AlertActionStyle style, Handler handler = nullptr);
  const std::string& title() const { return title_; }
  AlertActionStyle style() const { return style_; }
  bool isEnabled() const { return enabled_; }
  void setEnabled(bool e) { enabled_ = e; }
  void run() { if (handler_) handler_(*this); }

 private:
  std::string title_;
  AlertActionStyle style_ = AlertActionStyle::Default;
  Handler handler_;
  bool enabled_ = true;
};

class AlertController : public ViewController {
 public:
  AlertController(std::string title, std::string message, AlertControllerStyle style = AlertControllerStyle::Alert);
  static std::shared_ptr<AlertController> make(std::string title, std::string message,
                                               AlertControllerStyle style = AlertControllerStyle::Alert);

  const std::string& alertTitle() const { return alertTitle_; }
  const std::string& message() const { return message_; }
  AlertControllerStyle preferredStyle() const { return style_; }
  void addAction(std::shared_ptr<AlertAction> action);
  const std::vector<std::shared_ptr<AlertAction>>& actions() const { return actions_; }
  // Adds a text field; `configure` runs on it at once (placeholder, secure entry, ...).
  void addTextField(const std::function<void(TextField&)>& configure = nullptr);
  const std::vector<std::shared_ptr<TextField>>& textFields() const { return fields_; }
  // Seconds the presentation and dismissal take (recorded with the animation).
  double transitionDuration() const { return duration_; }
  void setTransitionDuration(double d) { duration_ = d; }

  // A user's press of the action titled `title` (first match) or at `index`. False when
  // there is none or it is disabled.
  bool pressAction(const std::string& title);
  bool pressActionAtIndex(size_t index);
  AlertPanel* panel() const { return panel_.get(); }

  void loadView() override;
  // Puts the caret in the first text field, as the platform does.
  void viewDidAppear(bool animated) override;

 private:
  std::string alertTitle_, message_;
  AlertControllerStyle style_;
  std::vector<std::shared_ptr<AlertAction>> actions_;
  std::vector<std::shared_ptr<TextField>> fields_;
  std::shared_ptr<AlertPanel> panel_;
  double duration_ = 0.5;
  bool pressed_ = false;
};

}  // namespace ui
