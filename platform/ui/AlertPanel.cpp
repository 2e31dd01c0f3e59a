#include "platform/ui/AlertPanel.h"

#include "platform/ui/Text.h"
#include "platform/ui/Window.h"

namespace ui {
namespace {

class AlertButton : public Button {
 public:
  const char* kind() const override { return "AlertButton"; }
};

constexpr double kButtonHeight = 44;
constexpr double kFieldHeight = 28;

}  // namespace

AlertPanel::AlertPanel() {
  setBackgroundColor(Color::white(0.97));
  setCornerRadius(12);
  setClipsToBounds(true);
  title_ = std::make_shared<Label>();
  title_->setFont(Font::boldSystemFont(17));
  title_->setTextAlignment(TextAlignment::Center);
  title_->setNumberOfLines(0);
  message_ = std::make_shared<Label>();
  message_->setFont(Font::systemFont(13));
  message_->setTextAlignment(TextAlignment::Center);
  message_->setNumberOfLines(0);
  addSubview(title_);
  addSubview(message_);
}

void AlertPanel::setButtons(const std::vector<std::string>& titles, int preferredIndex) {
  for (auto& b : buttons_) b->removeFromSuperview();
  buttons_.clear();
  preferred_ = preferredIndex;
  for (size_t i = 0; i < titles.size(); ++i) {
    auto b = std::make_shared<AlertButton>();
    b->setTitle(titles[i]);
    if (static_cast<int>(i) == preferredIndex) b->setTitleFont(Font::boldSystemFont(17));
    int index = static_cast<int>(i);
    b->addTarget(this, [this, index](Control&) {
      if (onButton) onButton(index);
    }, TouchUpInside);
    buttons_.push_back(b);
    addSubview(b);
  }
  setNeedsLayout();
}

std::vector<std::string> AlertPanel::buttonTitles() const {
  std::vector<std::string> out;
  for (auto& b : buttons_) out.push_back(b->currentTitle());
  return out;
}

std::shared_ptr<TextField> AlertPanel::addTextField() {
  auto f = std::make_shared<TextField>();
  f->setFont(Font::systemFont(13));
  f->setBorderStyle(BorderStyle::Line);
  fields_.push_back(f);
  addSubview(f);
  setNeedsLayout();
  return f;
}

void AlertPanel::removeTextFields() {
  for (auto& f : fields_) f->removeFromSuperview();
  fields_.clear();
  setNeedsLayout();
}

void AlertPanel::layoutSubviews() {
  const double w = kWidth, pad = 16;
  double y = 20;
  if (!title_->text().empty()) {
    Size s = measureText(title_->text(), title_->font(), w - 2 * pad);
    title_->setFrame({pad, y, w - 2 * pad, s.height});
    y += s.height + 4;
  } else {
    title_->setFrame({pad, y, w - 2 * pad, 0});
  }
  if (!message_->text().empty()) {
    Size s = measureText(message_->text(), message_->font(), w - 2 * pad);
    message_->setFrame({pad, y, w - 2 * pad, s.height});
    y += s.height;
  }
  y += 12;
  for (auto& f : fields_) {
    f->setFrame({pad, y, w - 2 * pad, kFieldHeight});
    y += kFieldHeight + 6;
  }
  if (!fields_.empty()) y += 6;
  if (buttons_.size() == 2) {
    buttons_[0]->setFrame({0, y, w / 2, kButtonHeight});
    buttons_[1]->setFrame({w / 2, y, w / 2, kButtonHeight});
    y += kButtonHeight;
  } else {
    for (auto& b : buttons_) {
      b->setFrame({0, y, w, kButtonHeight});
      y += kButtonHeight;
    }
  }
  // Centred in the superview (the screen), or in the part of it above the keyboard.
  laidOutAboveKeyboard_ = keyboardTop();
  double sh = superview() ? superview()->bounds().height() : 568;
  double sw = superview() ? superview()->bounds().width() : 320;
  double py = std::max(20.0, (sh - y) / 2);
  if (Window* win = window(); win && win->isKeyboardVisible() && superview()) {
    // The space between the status bar and the keyboard, in the superview's coordinates.
    const double originY = superview()->convertToWindow({0, 0}).y;
    const double top = std::max(0.0, Window::kStatusBarHeight - originY);
    const double bottom = std::min(sh, laidOutAboveKeyboard_ - originY);
    py = std::max(top, (top + bottom - y) / 2);
    if (py + y > bottom) py = bottom - y;  // too tall: the buttons stay above the keyboard
  }
  Rect f{(sw - w) / 2, py, w, y};
  if (frame() != f) setFrame(f);
}

double AlertPanel::keyboardTop() const {
  Window* win = window();
  if (!win) return -1;
  if (!win->isKeyboardVisible()) return win->frame().height();
  return win->keyboardLayer().frame().y();
}

bool AlertPanel::layoutIsStale() const { return window() && keyboardTop() != laidOutAboveKeyboard_; }

std::string AlertPanel::describe() const {
  std::string out = " \"" + title_->text() + "\"";
  if (!message_->text().empty()) out += " message=\"" + message_->text() + "\"";
  return out + View::describe();
}

}  // namespace ui
