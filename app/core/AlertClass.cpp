#include "app/core/AlertClass.h"

#include "app/core/AppException.h"
#include "platform/foundation/Values.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/Application.h"

namespace orvo {

namespace {

// Alert controllers exist from system version 8.0 on.
bool hasAlertControllers() {
  return foundation::doubleValue(ui::Device::current().systemVersion()) >= 8.0;
}

}  // namespace

std::shared_ptr<ui::AlertView> AlertClass::showLegacy(const std::string& title,
                                                      const std::string& message,
                                                      const std::string& button,
                                                      std::weak_ptr<ui::AlertViewDelegate> delegate,
                                                      int tag) {
  auto alert = std::make_shared<ui::AlertView>(title, message, std::move(delegate), button,
                                               std::vector<std::string>{});
  alert->setTag(tag);
  alert->show();
  return alert;
}

void AlertClass::displayAlert(AlertTarget target, int tag, int btnCount, const std::string& title,
                              const std::string& message) {
  if (btnCount == 1) {
    if (hasAlertControllers() && tag == 0 && target.presenter) {
      auto alert = ui::AlertController::make(title, message);
      alert->addAction(ui::AlertAction::make("OK", ui::AlertActionStyle::Default));
      // A target that cannot present now (not on screen, or already presenting) still
      // gets the message shown, as a legacy alert.
      if (target.presenter->presentViewController(alert, true)) return;
    }
    showLegacy(title, message, "Ok", tag != 0 ? target.delegate : std::weak_ptr<ui::AlertViewDelegate>(),
               tag);
    return;
  }
  if (btnCount == 2) {
    auto alert = std::make_shared<ui::AlertView>(title, message, target.delegate, "Yes",
                                                 std::vector<std::string>{"No"});
    alert->setTag(tag);
    alert->show();
  }
}

void AlertClass::AlertView(ui::ViewController& target, int tag, int btnCount,
                           const std::string& title, const std::string& message,
                           std::function<void()> okFunc, std::function<void()> noFunc) {
  auto alert = ui::AlertController::make(title, message);
  alert->view().setTag(tag);
  alert->addAction(ui::AlertAction::make(btnCount == 1 ? "OK" : "Yes", ui::AlertActionStyle::Default,
                                         [okFunc](ui::AlertAction&) {
                                           if (okFunc) okFunc();
                                         }));
  if (btnCount == 2)
    alert->addAction(ui::AlertAction::make("No", ui::AlertActionStyle::Default,
                                           [noFunc](ui::AlertAction&) {
                                             if (noFunc) noFunc();
                                           }));
  target.presentViewController(alert, true);
}

std::string AlertClass::exceptionMessage(const std::string& method, const std::string& name,
                                         const std::string& reason) {
  return "[F]" + method + "\n[N]" + name + "\n[M]" + reason;
}

void AlertClass::exceptionAlert(AlertTarget target, const std::string& method,
                                const std::exception& e) {
  displayAlert(std::move(target), 0, 1, "Error", exceptionMessage(method, exceptionName(e), e.what()));
}

}  // namespace orvo
