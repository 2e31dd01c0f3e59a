#include "platform/ui/Label.h"

#include "platform/ui/Text.h"

namespace ui {

void Label::setText(std::string t) {
  text_ = std::move(t);
  runs_.clear();
}

void Label::setAttributedText(std::vector<TextRun> runs) {
  text_.clear();
  for (auto& r : runs) text_ += r.text;
  runs_ = std::move(runs);
}

Font Label::effectiveFont() const {
  Font f = font_;
  if (!shrink_ || lines_ != 1 || frame().width() <= 0) return f;
  double w = measureText(text_, f).width;
  if (w <= frame().width()) return f;
  double minSize = minScale_ > 0 ? font_.size * minScale_ : 1;
  f.size = std::max(minSize, font_.size * frame().width() / w);
  // Text does not scale exactly with the size (fonts come in whole pixel sizes and hint their
  // glyphs): a size that still leaves the text too wide steps down until it fits.
  while (f.size - 1 >= minSize && measureText(text_, f).width > frame().width()) f.size -= 1;
  return f;
}

void Label::sizeToFit() {
  Size s = measureText(text_, font_, lines_ == 1 ? 0 : frame().width(), lines_);
  setFrame({frame().origin, s});
}

std::string Label::describe() const {
  std::string out = " \"" + text_ + "\"";
  if (hasAttributedText()) {
    out += " runs=[";
    for (size_t i = 0; i < runs_.size(); ++i) {
      if (i) out += " ";
      out += '"';
      out += runs_[i].text;
      out += '"';
      if (runs_[i].color) {
        out += ':';
        out += runs_[i].color->text();
      }
      if (runs_[i].strikethrough) out += ":struck";
    }
    out += "]";
  }
  return out + View::describe();
}

}  // namespace ui
