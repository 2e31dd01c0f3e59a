#pragma once
// Text helpers of the screen model: UTF-16 lengths and range replacement on UTF-8
// strings (text delegates speak UTF-16 ranges), text measuring, and the localized-string
// lookup. Measuring defaults to an estimate; the Qt renderer installs real font metrics
// so that layout on screen and in screenshots matches the painted text. Main thread.

#include <functional>
#include <optional>
#include <string>

#include "platform/ui/Color.h"
#include "platform/ui/Geometry.h"

namespace ui {

size_t utf16Length(const std::string& utf8);
// Replaces `range` (UTF-16 units) of `text` with `replacement`. A range that reaches
// past the end is clipped; a location past the end appends.
std::string replacingUtf16Range(const std::string& text, Range range, const std::string& replacement);
// The UTF-16 length of the last character of `text` (0 for empty text).
size_t lastCharacterUtf16Length(const std::string& text);

// The size that `text` takes in `font`, wrapped at `maxWidth` (0: no wrapping) within
// `maxLines` lines (0: no limit).
Size measureText(const std::string& text, const Font& font, double maxWidth = 0, int maxLines = 0);
using TextMeasurer = std::function<Size(const std::string&, const Font&, double maxWidth, int maxLines)>;
void setTextMeasurer(TextMeasurer measurer);

// The application's text for `key`. English is the only language: the key itself.
std::string localizedString(const std::string& key);

}  // namespace ui
