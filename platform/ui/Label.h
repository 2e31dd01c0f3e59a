#pragma once
// A label: read-only text in one font and colour, or attributed text in runs (each run
// with its own colour, font and strike-through). Main thread.

#include <optional>
#include <string>
#include <vector>

#include "platform/ui/View.h"

namespace ui {

struct TextRun {
  std::string text;
  std::optional<Color> color;  // nullopt: the label's text colour
  std::optional<Font> font;    // nullopt: the label's font
  bool strikethrough = false;
};

class Label : public View {
 public:
  Label() = default;
  explicit Label(std::string text) : text_(std::move(text)) {}
  const char* kind() const override { return "Label"; }

  // The plain text (for attributed text, the runs joined).
  const std::string& text() const { return text_; }
  void setText(std::string t);
  const std::vector<TextRun>& attributedText() const { return runs_; }
  bool hasAttributedText() const { return !runs_.empty(); }
  // Replaces the text by these runs.
  void setAttributedText(std::vector<TextRun> runs);

  Color textColor() const { return textColor_; }
  void setTextColor(Color c) { textColor_ = c; }
  Font font() const { return font_; }
  void setFont(Font f) { font_ = f; }
  TextAlignment textAlignment() const { return alignment_; }
  void setTextAlignment(TextAlignment a) { alignment_ = a; }
  // 0: as many lines as fit.
  int numberOfLines() const { return lines_; }
  void setNumberOfLines(int n) { lines_ = n; }
  bool adjustsFontSizeToFitWidth() const { return shrink_; }
  void setAdjustsFontSizeToFitWidth(bool s) { shrink_ = s; }
  double minimumScaleFactor() const { return minScale_; }
  void setMinimumScaleFactor(double m) { minScale_ = m; }
  // The font after shrink-to-fit for the current width.
  Font effectiveFont() const;
  void sizeToFit();

  std::string describe() const override;
  std::vector<std::string> texts() const override { return {text_}; }

 private:
  std::string text_;
  std::vector<TextRun> runs_;
  Color textColor_ = Color::black();
  Font font_ = Font::systemFont(17);
  TextAlignment alignment_ = TextAlignment::Left;
  int lines_ = 1;
  bool shrink_ = false;
  double minScale_ = 0;
};

}  // namespace ui
