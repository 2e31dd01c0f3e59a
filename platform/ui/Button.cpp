#include "platform/ui/Button.h"

namespace ui {

template <class M>
auto Button::pick(const M& m, ControlState s) -> typename M::mapped_type {
  auto it = m.find(s);
  if (it != m.end()) return it->second;
  it = m.find(ControlState::Normal);
  if (it != m.end()) return it->second;
  return {};
}

std::shared_ptr<Button> Button::make(std::string title, Rect frame, ButtonType type) {
  auto b = std::make_shared<Button>(type);
  b->setTitle(std::move(title));
  b->setFrame(frame);
  return b;
}

std::string Button::currentTitle() const { return pick(titles_, state()); }
std::string Button::titleForState(ControlState s) const { return pick(titles_, s); }

Color Button::currentTitleColor() const {
  auto it = titleColors_.find(state());
  if (it != titleColors_.end()) return it->second;
  if (!isEnabled() && type_ == ButtonType::System) return Color::lightGray();
  it = titleColors_.find(ControlState::Normal);
  if (it != titleColors_.end()) return it->second;
  if (type_ == ButtonType::System) return tintColor().value_or(Color::systemBlue());
  return Color::whiteColor();
}

std::shared_ptr<Image> Button::currentImage() const { return pick(images_, state()); }
std::shared_ptr<Image> Button::currentBackgroundImage() const { return pick(backgrounds_, state()); }

void Button::sendTap() {
  if (!isEnabled()) return;
  auto keep = weak_from_this().lock();
  sendActionsForControlEvents(TouchDown);
  sendActionsForControlEvents(TouchUpInside);
}

std::string Button::describe() const {
  std::string out;
  std::string t = currentTitle();
  if (!t.empty()) out += " \"" + t + "\"";
  if (auto img = currentImage(); img && !img->name().empty()) out += " image=" + img->name();
  return out + Control::describe();
}

}  // namespace ui
