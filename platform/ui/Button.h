#pragma once
// A push button: a title and images per state, sending TouchUpInside to its targets.
// A "system" button draws its title in the tint colour; a custom one in its title colour.
// Main thread.

#include <map>
#include <memory>
#include <string>

#include "platform/ui/Control.h"
#include "platform/ui/Image.h"

namespace ui {

enum class ButtonType { Custom, System };

class Button : public Control {
 public:
  explicit Button(ButtonType type = ButtonType::System) : type_(type) {}
  static std::shared_ptr<Button> make(std::string title, Rect frame = {}, ButtonType type = ButtonType::System);
  const char* kind() const override { return "Button"; }

  ButtonType buttonType() const { return type_; }
  void setTitle(std::string title, ControlState state = ControlState::Normal) { titles_[state] = std::move(title); }
  // The title shown in the current state (falling back to the normal title).
  std::string currentTitle() const;
  std::string titleForState(ControlState s) const;
  void setTitleColor(Color c, ControlState state = ControlState::Normal) { titleColors_[state] = c; }
  Color currentTitleColor() const;
  void setImage(std::shared_ptr<Image> image, ControlState state = ControlState::Normal) { images_[state] = std::move(image); }
  std::shared_ptr<Image> currentImage() const;
  void setBackgroundImage(std::shared_ptr<Image> image, ControlState state = ControlState::Normal) { backgrounds_[state] = std::move(image); }
  std::shared_ptr<Image> currentBackgroundImage() const;
  Font titleFont() const { return font_; }
  void setTitleFont(Font f) { font_ = f; }
  TextAlignment contentAlignment() const { return alignment_; }
  void setContentAlignment(TextAlignment a) { alignment_ = a; }

  // A programmatic tap: TouchDown then TouchUpInside, when enabled (no hit test).
  void sendTap();

  std::string describe() const override;
  std::vector<std::string> texts() const override { return {currentTitle()}; }

 private:
  template <class M>
  static auto pick(const M& m, ControlState s) -> typename M::mapped_type;
  ButtonType type_;
  std::map<ControlState, std::string> titles_;
  std::map<ControlState, Color> titleColors_;
  std::map<ControlState, std::shared_ptr<Image>> images_;
  std::map<ControlState, std::shared_ptr<Image>> backgrounds_;
  Font font_ = Font::systemFont(17);
  TextAlignment alignment_ = TextAlignment::Center;
};

}  // namespace ui
