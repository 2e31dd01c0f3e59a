#include "platform/ui/NumberPad.h"

#include "platform/ui/TextField.h"
#include "platform/ui/Window.h"

namespace ui {
namespace {

class PadKey : public Button {
 public:
  PadKey() : Button(ButtonType::Custom) {}
  const char* kind() const override { return "Key"; }
};

std::shared_ptr<Button> makeKey(const std::string& title) {
  auto k = std::make_shared<PadKey>();
  k->setTitle(title);
  k->setTitleColor(Color::black());
  k->setTitleFont(Font::systemFont(24));
  k->setBackgroundColor(Color::whiteColor());
  k->setBorder(0.5, Color::white(0.7));
  return k;
}

TextInput* numberPadInput() { return dynamic_cast<TextInput*>(Responder::firstResponder()); }

}  // namespace

NumberPad::NumberPad(bool decimalPoint) : decimal_(decimalPoint) {
  setFrame({0, 0, 320, kHeight});
  setBackgroundColor(Color::white(0.82));
  for (const char* d : {"1", "2", "3", "4", "5", "6", "7", "8", "9", "0"}) {
    auto k = makeKey(d);
    std::string text = d;
    k->addTarget(this, [text](Control&) {
      if (auto* in = numberPadInput()) in->insertText(text);
    }, TouchUpInside);
    keys_.push_back(k);
    addSubview(k);
  }
  if (decimal_) {
    auto k = makeKey(".");
    k->addTarget(this, [](Control&) {
      if (auto* in = numberPadInput()) in->insertText(".");
    }, TouchUpInside);
    keys_.push_back(k);
    addSubview(k);
  }
  clear_ = makeKey("\u232B");
  clear_->setAccessibilityLabel("Clear");
  clear_->setBackgroundColor(Color::white(0.75));
  clear_->addTarget(this, [](Control&) {
    if (auto* in = numberPadInput()) in->deleteBackward();
  }, TouchUpInside);
  addSubview(clear_);
  function_ = makeKey("");
  function_->setAccessibilityLabel("Function");
  function_->setBackgroundColor(Color::white(0.75));
  function_->addTarget(this, [this](Control&) {
    if (onFunctionKey) onFunctionKey(*this, numberPadInput());
  }, TouchUpInside);
  addSubview(function_);
}

Button* NumberPad::keyFor(const std::string& text) const {
  for (auto& k : keys_)
    if (k->currentTitle() == text) return k.get();
  return nullptr;
}

void NumberPad::layoutSubviews() {
  const double w = frame().width() / 3, h = frame().height() / 4;
  for (int i = 0; i < 9; ++i) keys_[static_cast<size_t>(i)]->setFrame({w * (i % 3), h * (i / 3), w, h});
  // Bottom row: function (or the decimal point when there is no function image or title), 0, clear.
  bool functionShown = !function_->currentTitle().empty() || function_->currentImage() || !decimal_;
  if (decimal_ && !functionShown) {
    keys_[10]->setFrame({0, 3 * h, w, h});
    function_->setFrame({});
  } else {
    function_->setFrame({0, 3 * h, w, h});
    if (decimal_) keys_[10]->setFrame({});
  }
  keys_[9]->setFrame({w, 3 * h, w, h});
  clear_->setFrame({2 * w, 3 * h, w, h});
}

}  // namespace ui
