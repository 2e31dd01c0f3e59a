#include "platform/ui/Keyboard.h"

#include "platform/ui/TextField.h"
#include "platform/ui/Window.h"

namespace ui {
namespace {

class KeyButton : public Button {
 public:
  KeyButton() : Button(ButtonType::Custom) {}
  const char* kind() const override { return "Key"; }
};

TextInput* currentInput() { return dynamic_cast<TextInput*>(Responder::firstResponder()); }

const char* const kRows[] = {"qwertyuiop", "asdfghjkl", "zxcvbnm"};

// The return key reads as the field being edited asks.
std::string returnKeyTitle() {
  auto* field = dynamic_cast<TextField*>(Responder::firstResponder());
  switch (field ? field->returnKeyType() : ReturnKeyType::Default) {
    case ReturnKeyType::Go: return "Go";
    case ReturnKeyType::Next: return "Next";
    case ReturnKeyType::Done: return "Done";
    case ReturnKeyType::Search: return "Search";
    case ReturnKeyType::Send: return "Send";
    case ReturnKeyType::Default: break;
  }
  return "return";
}

}  // namespace

KeyboardView::KeyboardView(KeyboardType type) : type_(type) {
  setFrame({0, 0, 320, Window::kKeyboardHeight});
  setBackgroundColor(Color::white(0.82));
  auto add = [this](const std::string& title, std::function<void()> act, const std::string& label = {}) {
    auto k = std::make_shared<KeyButton>();
    k->setTitle(title);
    k->setTitleColor(Color::black());
    k->setTitleFont(Font::systemFont(18));
    k->setBackgroundColor(Color::whiteColor());
    k->setCornerRadius(4);
    if (!label.empty()) k->setAccessibilityLabel(label);
    k->addTarget(this, [act](Control&) { act(); }, TouchUpInside);
    keys_.push_back(k);
    addSubview(k);
  };
  for (const char* row : kRows)
    for (const char* c = row; *c; ++c) {
      std::string s(1, *c);
      add(s, [s] {
        if (auto* in = currentInput()) in->insertText(s);
      });
    }
  add("\u232B", [] { if (auto* in = currentInput()) in->deleteBackward(); }, "Delete");
  add("space", [] { if (auto* in = currentInput()) in->insertText(" "); }, "Space");
  add(returnKeyTitle(), [] { if (auto* in = currentInput()) in->pressReturn(); }, "Return");
}

void KeyboardView::layoutSubviews() {
  const double w = frame().width() / 10, h = frame().height() / 4;
  size_t i = 0;
  for (int r = 0; r < 3; ++r) {
    size_t n = std::string(kRows[r]).size();
    double x0 = (frame().width() - n * w) / 2;
    for (size_t c = 0; c < n; ++c) keys_[i++]->setFrame({x0 + c * w + 2, r * h + 4, w - 4, h - 8});
  }
  keys_[i++]->setFrame({frame().width() - 1.5 * w + 2, 2 * h + 4, 1.5 * w - 4, h - 8});
  keys_[i++]->setFrame({2 * w + 2, 3 * h + 4, 5 * w - 4, h - 8});
  keys_[i++]->setFrame({7 * w + 2, 3 * h + 4, 3 * w - 4, h - 8});
}

}  // namespace ui
