#pragma once
// The alert helpers through which the application shows its messages and questions.
//
// `displayAlert` shows either an alert controller presented by the target screen or a
// legacy alert view whose delegate (when the tag is not 0, or for two buttons) is the
// target; button indexes are "Yes" 0 and "No" 1. `AlertView` always shows an alert
// controller with actions that run the given functions; a function that needs the alert's
// tag captures it. Stateless; main thread.

#include <functional>
#include <memory>
#include <string>

#include "platform/ui/AlertView.h"
#include "platform/ui/ViewController.h"

namespace orvo {

// Who receives an alert: the screen that presents it and/or the delegate that is told
// which button was pressed. Built from any object that is one or both.
struct AlertTarget {
  ui::ViewController* presenter = nullptr;
  std::weak_ptr<ui::AlertViewDelegate> delegate;

  AlertTarget() = default;
  AlertTarget(std::nullptr_t) {}
  template <class T>
  AlertTarget(const std::shared_ptr<T>& target) {
    if (!target) return;
    presenter = dynamic_cast<ui::ViewController*>(target.get());
    delegate = std::dynamic_pointer_cast<ui::AlertViewDelegate>(target);
  }
  bool empty() const { return !presenter && delegate.expired(); }
};

class AlertClass {
 public:
  // One button: an alert controller with "OK" presented by the target when the tag is 0
  // and a presenting target is given; otherwise a legacy alert view with "Ok" (delegate
  // and tag set when the tag is not 0). Two buttons: a legacy alert view with "Yes" and
  // "No", the target as delegate and the tag. Other counts show nothing.
  static void displayAlert(AlertTarget target, int tag, int btnCount, const std::string& title,
                           const std::string& message);

  // An alert controller presented by `target`: "OK" (one button) or "Yes" running
  // `okFunc`, and with two buttons "No" running `noFunc`. Either function may be empty.
  static void AlertView(ui::ViewController& target, int tag, int btnCount, const std::string& title,
                        const std::string& message, std::function<void()> okFunc,
                        std::function<void()> noFunc);

  // A legacy alert view with one button of the given title (the answer-reading alerts).
  static std::shared_ptr<ui::AlertView> showLegacy(const std::string& title,
                                                   const std::string& message,
                                                   const std::string& button,
                                                   std::weak_ptr<ui::AlertViewDelegate> delegate = {},
                                                   int tag = 0);

  // The exception alert of request and answer methods: "Error" with
  // "[F]<method>\n[N]<name>\n[M]<reason>".
  static void exceptionAlert(AlertTarget target, const std::string& method,
                             const std::exception& e);
  static std::string exceptionMessage(const std::string& method, const std::string& name,
                                      const std::string& reason);
};

}  // namespace orvo
