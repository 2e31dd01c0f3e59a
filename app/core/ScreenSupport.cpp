#include "app/core/ScreenSupport.h"

#include "app/core/AppNames.h"
#include "app/core/JsonClass.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "platform/foundation/MainQueue.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/Button.h"
#include "platform/ui/Image.h"

namespace orvo {

std::shared_ptr<ui::BarButtonItem> barImageButton(const std::string& imageName, const std::string& title,
                                                  std::function<void()> action) {
  auto image = ui::Image::named(imageName);
  ui::Size size = image ? image->size() : ui::Size{60, 30};
  auto button = ui::Button::make(image ? "" : title, ui::Rect(0, 0, size.width, size.height), ui::ButtonType::Custom);
  if (image) button->setImage(image);
  button->setTitleColor(ui::Color::whiteColor());
  button->setAccessibilityLabel(title);
  button->addTarget(button.get(), [action](ui::Control&) { if (action) action(); }, ui::TouchUpInside);
  return ui::BarButtonItem::withCustomView(button);
}

namespace {

void presentWithRetries(std::weak_ptr<ui::ViewController> weakPresenter, std::shared_ptr<ui::ViewController> vc,
                        int triesLeft) {
  auto presenter = weakPresenter.lock();
  if (!presenter) return;
  if (presenter->isViewLoaded() && presenter->view().window() && presenter->presentViewController(vc, true)) return;
  if (triesLeft <= 0) return;
  foundation::MainQueue::post([weakPresenter, vc, triesLeft] { presentWithRetries(weakPresenter, vc, triesLeft - 1); });
}

}  // namespace

void presentAlertWhenOnScreen(ui::ViewController& presenter, std::shared_ptr<ui::ViewController> vc) {
  presentWithRetries(presenter.self<ui::ViewController>(), std::move(vc), 20);
}

void presentAlertWhenOnScreen(ui::ViewController& presenter, int tag, const std::string& title,
                              const std::string& message, std::function<void()> okFunc) {
  auto alert = ui::AlertController::make(title, message);
  alert->view().setTag(tag);
  alert->addAction(ui::AlertAction::make("OK", ui::AlertActionStyle::Default, [okFunc](ui::AlertAction&) {
    if (okFunc) okFunc();
  }));
  presentAlertWhenOnScreen(presenter, alert);
}

void showMessageWhenOnScreen(ui::ViewController& presenter, const std::string& message) {
  presentAlertWhenOnScreen(presenter, 0, kAppAlertTitle, message, nullptr);
}

}  // namespace orvo
