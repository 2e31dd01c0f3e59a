#include "platform/ui/TextView.h"

#include "platform/ui/Text.h"

namespace ui {

bool TextView::replaceRange(Range range, const std::string& replacement) {
  auto keep = weak_from_this().lock();
  if (auto d = delegate_.lock())
    if (!d->shouldChangeTextInRange(*this, range, replacement)) return false;
  text_ = replacingUtf16Range(text_, range, replacement);
  if (auto d = delegate_.lock()) d->textViewDidChange(*this);
  return true;
}

void TextView::insertText(const std::string& text) { replaceRange({utf16Length(text_), 0}, text); }

void TextView::deleteBackward() {
  size_t n = lastCharacterUtf16Length(text_);
  if (n) replaceRange({utf16Length(text_) - n, n}, "");
}

bool TextView::becomeFirstResponder() {
  if (isFirstResponder()) return true;
  if (!canBecomeFirstResponder()) return false;
  auto keep = weak_from_this().lock();
  if (auto d = delegate_.lock())
    if (!d->textViewShouldBeginEditing(*this)) return false;
  if (!ScrollView::becomeFirstResponder()) return false;
  if (auto d = delegate_.lock()) d->textViewDidBeginEditing(*this);
  return true;
}

bool TextView::resignFirstResponder() {
  if (!isFirstResponder()) return true;
  auto keep = weak_from_this().lock();
  if (auto d = delegate_.lock())
    if (!d->textViewShouldEndEditing(*this)) return false;
  ScrollView::resignFirstResponder();
  if (auto d = delegate_.lock()) d->textViewDidEndEditing(*this);
  return true;
}

void TextView::touchesEnded(const Touches&) {
  if (editable_) becomeFirstResponder();
}

std::string TextView::describe() const {
  return " \"" + text_ + "\"" + std::string(isFirstResponder() ? " editing" : "") + ScrollView::describe();
}

}  // namespace ui
