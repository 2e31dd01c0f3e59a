#include "platform/ui/AlertController.h"

#include "platform/ui/Window.h"

namespace ui {

std::shared_ptr<AlertAction> AlertAction::make(std::string title, AlertActionStyle style, Handler handler) {
  auto a = std::make_shared<AlertAction>();
  a->title_ = std::move(title);
  a->style_ = style;
  a->handler_ = std::move(handler);
  return a;
}

AlertController::AlertController(std::string title, std::string message, AlertControllerStyle style)
    : alertTitle_(std::move(title)), message_(std::move(message)), style_(style) {
  setModalPresentationStyle(ModalPresentationStyle::OverFullScreen);
  setModalTransitionStyle(ModalTransitionStyle::CrossDissolve);
  panel_ = std::make_shared<AlertPanel>();
  panel_->setTitle(alertTitle_);
  panel_->setMessage(message_);
}

std::shared_ptr<AlertController> AlertController::make(std::string title, std::string message,
                                                       AlertControllerStyle style) {
  return std::make_shared<AlertController>(std::move(title), std::move(message), style);
}

void AlertController::addAction(std::shared_ptr<AlertAction> action) {
  if (!action) return;
  actions_.push_back(std::move(action));
  // Two actions sit side by side with the cancel action on the left; otherwise in order.
  std::vector<std::string> titles;
  for (auto& a : actions_) titles.push_back(a->title());
  int preferred = -1;
  panel_->setButtons(titles, preferred);
  panel_->onButton = [this](int index) { pressActionAtIndex(static_cast<size_t>(index)); };
}

void AlertController::addTextField(const std::function<void(TextField&)>& configure) {
  auto f = panel_->addTextField();
  fields_.push_back(f);
  if (configure) configure(*f);
}

void AlertController::loadView() {
  auto v = std::make_shared<View>(Rect{0, 0, Window::kScreenWidth, Window::kScreenHeight});
  v->setBackgroundColor(Color::black().withAlpha(0.4));
  v->addSubview(panel_);
  panel_->setNeedsLayout();
  setView(v);
}

void AlertController::viewDidAppear(bool) {
  if (!fields_.empty()) fields_.front()->becomeFirstResponder();
}

bool AlertController::pressAction(const std::string& title) {
  for (size_t i = 0; i < actions_.size(); ++i)
    if (actions_[i]->title() == title) return pressActionAtIndex(i);
  return false;
}

bool AlertController::pressActionAtIndex(size_t index) {
  if (index >= actions_.size() || !actions_[index]->isEnabled() || pressed_) return false;
  pressed_ = true;
  auto keep = self<AlertController>();
  auto action = actions_[index];
  for (auto& f : fields_)
    if (f->isFirstResponder()) f->resignFirstResponder();
  dismissViewControllerAnimated(true, [action] { action->run(); });
  return true;
}

}  // namespace ui
