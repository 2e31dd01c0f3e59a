#include "platform/ui/TextField.h"

#include "platform/ui/Text.h"

namespace ui {

void TextField::setText(std::string t) {
  text_ = std::move(t);
  selection_.reset();
}

std::string TextField::displayText() const {
  if (text_.empty()) return placeholder_;
  if (!secure_) return text_;
  std::string dots;
  for (size_t i = 0; i < utf16Length(text_); ++i) dots += "\u2022";
  return dots;
}

Range TextField::selectedRange() const {
  size_t len = utf16Length(text_);
  if (!selection_) return {len, 0};
  Range r = *selection_;
  r.location = std::min(r.location, len);
  r.length = std::min(r.length, len - r.location);
  return r;
}

void TextField::selectAll() { selection_ = Range{0, utf16Length(text_)}; }

bool TextField::replaceRange(Range range, const std::string& replacement) {
  auto keep = weak_from_this().lock();
  if (auto d = delegate_.lock())
    if (!d->shouldChangeCharactersInRange(*this, range, replacement)) return false;
  text_ = replacingUtf16Range(text_, range, replacement);
  selection_ = Range{range.location + utf16Length(replacement), 0};
  sendActionsForControlEvents(EditingChanged);
  return true;
}

void TextField::insertText(const std::string& text) { replaceRange(selectedRange(), text); }

void TextField::deleteBackward() {
  Range sel = selectedRange();
  if (sel.length == 0) {
    if (sel.location == 0) return;
    // The character before the caret.
    std::string prefix = replacingUtf16Range(text_, {sel.location, utf16Length(text_)}, "");
    size_t n = lastCharacterUtf16Length(prefix);
    sel = Range{sel.location - n, n};
  }
  replaceRange(sel, "");
}

void TextField::pressReturn() {
  auto keep = weak_from_this().lock();
  if (auto d = delegate_.lock()) d->textFieldShouldReturn(*this);
  sendActionsForControlEvents(EditingDidEndOnExit);
}

void TextField::clearText() {
  if (auto d = delegate_.lock())
    if (!d->textFieldShouldClear(*this)) return;
  text_.clear();
  selection_.reset();
  sendActionsForControlEvents(EditingChanged);
}

bool TextField::canBecomeFirstResponder() const { return isEnabled(); }

bool TextField::becomeFirstResponder() {
  if (isFirstResponder()) return true;
  if (!canBecomeFirstResponder()) return false;
  auto keep = weak_from_this().lock();
  if (auto d = delegate_.lock())
    if (!d->textFieldShouldBeginEditing(*this)) return false;
  if (!Control::becomeFirstResponder()) return false;
  selection_.reset();
  if (auto d = delegate_.lock()) d->textFieldDidBeginEditing(*this);
  sendActionsForControlEvents(EditingDidBegin);
  return true;
}

bool TextField::resignFirstResponder() {
  if (!isFirstResponder()) return true;
  auto keep = weak_from_this().lock();
  if (auto d = delegate_.lock())
    if (!d->textFieldShouldEndEditing(*this)) return false;
  Control::resignFirstResponder();
  if (auto d = delegate_.lock()) d->textFieldDidEndEditing(*this);
  sendActionsForControlEvents(EditingDidEnd);
  return true;
}

void TextField::tapped(Point) { becomeFirstResponder(); }

std::string TextField::describe() const {
  std::string out = " \"" + (secure_ ? displayText() : text_) + "\"";
  if (!placeholder_.empty()) out += " placeholder=\"" + placeholder_ + "\"";
  if (isFirstResponder()) out += " editing";
  return out + Control::describe();
}

}  // namespace ui
