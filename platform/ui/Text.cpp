#include "platform/ui/Text.h"

#include <algorithm>
#include <cmath>
#include <cstdio>

namespace ui {
namespace {

// Byte length of the UTF-8 sequence that starts with `c` (1 for stray bytes).
size_t sequenceLength(unsigned char c) {
  if (c < 0x80) return 1;
  if ((c >> 5) == 0x6) return 2;
  if ((c >> 4) == 0xE) return 3;
  if ((c >> 3) == 0x1E) return 4;
  return 1;
}

// Byte offset in `text` of UTF-16 offset `units`. An offset inside a surrogate pair
// moves to the end of that character.
size_t byteOffset(const std::string& text, size_t units) {
  size_t i = 0, u = 0;
  while (i < text.size() && u < units) {
    size_t n = std::min(sequenceLength(static_cast<unsigned char>(text[i])), text.size() - i);
    u += (n == 4) ? 2 : 1;
    i += n;
  }
  return i;
}

TextMeasurer& measurer() {
  static TextMeasurer m;
  return m;
}

}  // namespace

std::string Color::text() const {
  char buf[64];
  std::snprintf(buf, sizeof buf, "%.2f,%.2f,%.2f,%.2f", r, g, b, a);
  return buf;
}

size_t utf16Length(const std::string& text) {
  size_t i = 0, u = 0;
  while (i < text.size()) {
    size_t n = std::min(sequenceLength(static_cast<unsigned char>(text[i])), text.size() - i);
    u += (n == 4) ? 2 : 1;
    i += n;
  }
  return u;
}

std::string replacingUtf16Range(const std::string& text, Range range, const std::string& replacement) {
  size_t begin = byteOffset(text, range.location);
  size_t end = byteOffset(text, range.location + range.length);
  std::string out = text.substr(0, begin);
  out += replacement;
  out += text.substr(end);
  return out;
}

size_t lastCharacterUtf16Length(const std::string& text) {
  if (text.empty()) return 0;
  size_t i = text.size() - 1;
  while (i > 0 && (static_cast<unsigned char>(text[i]) & 0xC0) == 0x80) --i;
  return sequenceLength(static_cast<unsigned char>(text[i])) == 4 ? 2 : 1;
}

void setTextMeasurer(TextMeasurer m) { measurer() = std::move(m); }

Size measureText(const std::string& text, const Font& font, double maxWidth, int maxLines) {
  if (measurer()) return measurer()(text, font, maxWidth, maxLines);
  // Estimate: an average glyph is 0.55 of the font size wide, a line 1.2 of it high.
  const double glyph = font.size * (font.bold ? 0.6 : 0.55);
  const double lineHeight = std::ceil(font.size * 1.2);
  int lines = 0;
  double widest = 0;
  size_t start = 0;
  while (start <= text.size()) {
    size_t nl = text.find('\n', start);
    std::string line = text.substr(start, nl == std::string::npos ? std::string::npos : nl - start);
    double w = static_cast<double>(utf16Length(line)) * glyph;
    int wrapped = 1;
    if (maxWidth > 0 && w > maxWidth) {
      wrapped = static_cast<int>(std::ceil(w / maxWidth));
      w = maxWidth;
    }
    lines += wrapped;
    widest = std::max(widest, w);
    if (nl == std::string::npos) break;
    start = nl + 1;
  }
  if (maxLines > 0) lines = std::min(lines, maxLines);
  return {std::ceil(widest), lineHeight * lines};
}

std::string localizedString(const std::string& key) { return key; }

}  // namespace ui
