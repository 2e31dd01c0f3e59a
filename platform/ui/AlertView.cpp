#include "platform/ui/AlertView.h"

#include "platform/ui/Animation.h"
#include "platform/ui/Window.h"

namespace ui {
namespace {
std::vector<std::shared_ptr<AlertView>>& shown() {
  static std::vector<std::shared_ptr<AlertView>> alerts;
  return alerts;
}
}  // namespace

AlertView::AlertView(std::string title, std::string message, std::weak_ptr<AlertViewDelegate> delegate,
                     std::string cancelButtonTitle, std::vector<std::string> otherButtonTitles)
    : delegate_(std::move(delegate)) {
  setTitle(std::move(title));
  setMessage(std::move(message));
  if (!cancelButtonTitle.empty()) {
    cancelIndex_ = 0;
    titles_.push_back(std::move(cancelButtonTitle));
  }
  for (auto& t : otherButtonTitles) titles_.push_back(std::move(t));
  rebuild();
}

// Display order: two buttons side by side with the cancel button on the left; with more,
// stacked with the cancel button at the bottom. Indexes stay the platform's.
void AlertView::rebuild() {
  std::vector<int> order;
  for (int i = 0; i < numberOfButtons(); ++i) order.push_back(i);
  if (cancelIndex_ >= 0 && titles_.size() > 2) {
    order.erase(order.begin() + cancelIndex_);
    order.push_back(cancelIndex_);
  }
  std::vector<std::string> shown;
  for (int i : order) shown.push_back(titles_[static_cast<size_t>(i)]);
  setButtons(shown, cancelIndex_ >= 0 && titles_.size() != 2 ? static_cast<int>(shown.size()) - 1 : -1);
  onButton = [this, order](int position) { pressButtonAtIndex(order[static_cast<size_t>(position)]); };
}

int AlertView::addButtonWithTitle(std::string title) {
  titles_.push_back(std::move(title));
  rebuild();
  return static_cast<int>(titles_.size()) - 1;
}

std::string AlertView::buttonTitleAtIndex(int index) const {
  if (index < 0 || index >= static_cast<int>(titles_.size())) return {};
  return titles_[static_cast<size_t>(index)];
}

int AlertView::firstOtherButtonIndex() const {
  int first = cancelIndex_ >= 0 ? 1 : 0;
  return first < numberOfButtons() ? first : -1;
}

void AlertView::setAlertViewStyle(AlertViewStyle s) {
  style_ = s;
  removeTextFields();
  if (s == AlertViewStyle::PlainTextInput) addTextField();
  if (s == AlertViewStyle::SecureTextInput) addTextField()->setSecureTextEntry(true);
  if (s == AlertViewStyle::LoginAndPasswordInput) {
    addTextField()->setPlaceholder("Login");
    auto p = addTextField();
    p->setPlaceholder("Password");
    p->setSecureTextEntry(true);
  }
}

std::shared_ptr<TextField> AlertView::textFieldAtIndex(int index) const {
  const auto& f = textFields();
  if (index < 0 || index >= static_cast<int>(f.size())) return nullptr;
  return f[static_cast<size_t>(index)];
}

void AlertView::show() {
  auto self = std::static_pointer_cast<AlertView>(shared_from_this());
  auto& list = shown();
  for (auto& a : list)
    if (a == self) return;
  Window* w = Window::keyWindow();
  list.push_back(self);
  if (!w) return;
  // Only the newest alert is shown; older ones wait below it.
  for (auto& a : list) a->setHidden(a != self);
  w->alertLayer().addSubview(self);
  w->alertLayer().setHidden(false);
  setNeedsLayout();
  AnimationLog::shared().record("alert-show", 0.2, title());
  if (!textFields().empty()) textFields().front()->becomeFirstResponder();
}

bool AlertView::isVisible() const {
  for (auto& a : shown())
    if (a.get() == this) return true;
  return false;
}

std::vector<std::shared_ptr<AlertView>> AlertView::visibleAlerts() { return shown(); }

void AlertView::pressButtonAtIndex(int index) { finish(index, true); }

void AlertView::dismissWithClickedButtonIndex(int index, bool) { finish(index, false); }

void AlertView::finish(int index, bool clicked) {
  auto self = std::static_pointer_cast<AlertView>(shared_from_this());
  if (!isVisible()) return;
  auto d = delegate_.lock();
  if (clicked && d) d->clickedButtonAtIndex(*this, index);
  if (d) d->willDismissWithButtonIndex(*this, index);
  for (auto& f : textFields())
    if (f->isFirstResponder()) f->resignFirstResponder();
  auto& list = shown();
  for (auto it = list.begin(); it != list.end(); ++it)
    if (*it == self) {
      list.erase(it);
      break;
    }
  View* layer = superview();
  removeFromSuperview();
  if (!list.empty()) list.back()->setHidden(false);
  if (layer) layer->setHidden(layer->subviews().empty());
  AnimationLog::shared().record("alert-dismiss", 0.2, title());
  if (d) d->didDismissWithButtonIndex(*this, index);
}

}  // namespace ui
