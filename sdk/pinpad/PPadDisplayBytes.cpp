#include "sdk/pinpad/PPadDisplayBytes.h"

#include <algorithm>
#include <array>
#include <cmath>
#include <cstdlib>

#include "sdk/pinpad/PPadTransport.h"

namespace kestra {

namespace {

// UTF-8 to UTF-16 units; a byte that is no UTF-8 stands for U+FFFD.
std::u16string toUTF16(std::string_view s) {
  std::u16string out;
  out.reserve(s.size());
  for (size_t i = 0; i < s.size();) {
    const uint8_t c = uint8_t(s[i]);
    uint32_t cp;
    size_t n;
    if (c < 0x80) { cp = c; n = 1; }
    else if ((c & 0xE0) == 0xC0) { cp = c & 0x1F; n = 2; }
    else if ((c & 0xF0) == 0xE0) { cp = c & 0x0F; n = 3; }
    else if ((c & 0xF8) == 0xF0) { cp = c & 0x07; n = 4; }
    else { cp = 0xFFFD; n = 1; }
    if (n > 1) {
      if (i + n > s.size()) { cp = 0xFFFD; n = s.size() - i; }
      else
        for (size_t k = 1; k < n; ++k) {
          const uint8_t b = uint8_t(s[i + k]);
          if ((b & 0xC0) != 0x80) { cp = 0xFFFD; n = k; break; }
          cp = cp << 6 | (b & 0x3F);
        }
    }
    i += n;
    if (cp > 0x10FFFF) cp = 0xFFFD;
    if (cp >= 0x10000) {
      cp -= 0x10000;
      out.push_back(char16_t(0xD800 + (cp >> 10)));
      out.push_back(char16_t(0xDC00 + (cp & 0x3FF)));
    } else {
      out.push_back(char16_t(cp));
    }
  }
  return out;
}

std::string toUTF8(std::u16string_view s) {
  std::string out;
  for (size_t i = 0; i < s.size(); ++i) {
    uint32_t cp = s[i];
    if (cp >= 0xD800 && cp < 0xDC00 && i + 1 < s.size() && s[i + 1] >= 0xDC00 && s[i + 1] < 0xE000) {
      cp = 0x10000 + ((cp - 0xD800) << 10) + (s[i + 1] - 0xDC00);
      ++i;
    } else if (cp >= 0xD800 && cp < 0xE000) {
      cp = 0xFFFD;  // a lone half of a pair
    }
    if (cp < 0x80) {
      out.push_back(char(cp));
    } else if (cp < 0x800) {
      out.push_back(char(0xC0 | cp >> 6));
      out.push_back(char(0x80 | (cp & 0x3F)));
    } else if (cp < 0x10000) {
      out.push_back(char(0xE0 | cp >> 12));
      out.push_back(char(0x80 | (cp >> 6 & 0x3F)));
      out.push_back(char(0x80 | (cp & 0x3F)));
    } else {
      out.push_back(char(0xF0 | cp >> 18));
      out.push_back(char(0x80 | (cp >> 12 & 0x3F)));
      out.push_back(char(0x80 | (cp >> 6 & 0x3F)));
      out.push_back(char(0x80 | (cp & 0x3F)));
    }
  }
  return out;
}

std::string lower(std::u16string_view s) {
  std::string out = toUTF8(s);
  for (char& c : out)
    if (c >= 'A' && c <= 'Z') c = char(c - 'A' + 'a');
  return out;
}

// The leading decimal integer of `s` (0 when there is none), saturated to an int.
int intValue(const std::string& s) {
  size_t i = 0;
  while (i < s.size() && (s[i] == ' ' || s[i] == '\t')) ++i;
  bool negative = false;
  if (i < s.size() && (s[i] == '-' || s[i] == '+')) negative = s[i++] == '-';
  long long v = 0;
  for (; i < s.size() && s[i] >= '0' && s[i] <= '9'; ++i) v = std::min<long long>(v * 10 + (s[i] - '0'), 1LL << 31);
  v = negative ? -v : v;
  return int(std::clamp<long long>(v, INT32_MIN, INT32_MAX));
}

void applyTag(TextState& run, const std::string& key, const std::string& value) {
  if (key == "fd" || key == "fdefault") {
    run.font = 0;
  } else if (key == "f") {
    run.font = intValue(value);
  } else if (key == "l" || key == "c" || key == "r" || key == "j") {
    run.align = key == "l" ? 0 : key == "c" ? 1 : key == "r" ? 2 : 3;
  } else if (key == "cf" || key == "cb") {
    auto& target = key == "cf" ? run.foreColor : run.backColor;
    if (value == "d" || value == "default") {
      target.reset();
      return;
    }
    std::vector<std::string> parts(1);
    for (char c : value) {
      if (c == ',') parts.emplace_back();
      else parts.back().push_back(c);
    }
    if (parts.size() != 3) return;
    target = KXColor{intValue(parts[0]) / 255.0, intValue(parts[1]) / 255.0, intValue(parts[2]) / 255.0, 1.0};
  }
}

}  // namespace

std::vector<TextState> parseTextState(std::string_view input) {
  const std::u16string s = toUTF16(input);
  std::vector<TextState> runs;
  TextState current;
  std::u16string pending;
  auto endRun = [&] {
    if (pending.empty()) return;
    current.text = toUTF8(pending);
    runs.push_back(current);
    current.text.clear();
    pending.clear();
  };
  for (size_t i = 0; i < s.size();) {
    const bool tag = s[i] == u'{' && i + 1 < s.size() && (s[i + 1] == u'+' || s[i + 1] == u'-' || s[i + 1] == u'=');
    if (!tag) {
      pending.push_back(s[i++]);
      continue;
    }
    endRun();
    const char16_t op = s[i + 1];
    const size_t bodyStart = i + 2;
    size_t close = s.find(u'}', bodyStart);
    const size_t bodyEnd = close == std::u16string::npos ? s.size() : close;
    i = close == std::u16string::npos ? s.size() : close + 1;
    if (op != u'=') continue;
    const std::u16string_view body(s.data() + bodyStart, bodyEnd - bodyStart);
    size_t split = 0;
    while (split < body.size() && !(body[split] >= u'0' && body[split] <= u'9') && body[split] != u'=' &&
           body[split] != u':')
      ++split;
    const std::string key = lower(body.substr(0, split));
    std::string value;
    if (split < body.size())
      value = lower(body.substr(body[split] >= u'0' && body[split] <= u'9' ? split : split + 1));
    applyTag(current, key, value);
  }
  endRun();
  return runs;
}

namespace ppad {

std::optional<FontCell> fontCell(int font) {
  static constexpr std::array<FontCell, 7> cells{{{6, 8}, {8, 16}, {4, 6}, {10, 10}, {6, 10}, {4, 6}, {24, 24}}};
  if (font < 0 || font > 6) return std::nullopt;
  return cells[size_t(font)];
}

bool utf8Font(int font) { return font == 3 || font == 4 || font == 6; }

int lineHeight(int font) {
  static constexpr std::array<int, 7> heights{8, 16, 6, 10, 10, 0, 24};
  return font >= 0 && font <= 6 ? heights[size_t(font)] : 0;
}

uint8_t colorByte(const KXColor& c) {
  auto two = [](double v) {
    v = std::clamp(std::isnan(v) ? 0.0 : v, 0.0, 1.0);
    return uint8_t(int(v * 255 / 64) & 3);
  };
  return uint8_t(two(c.red) << 6 | two(c.green) << 4 | two(c.blue) << 2 | 0x03);
}

foundation::Bytes plainTextBytes(const foundation::Bytes& text, int font, int room) {
  foundation::Bytes out;
  int used = 0;
  for (uint8_t b : text) {
    if (b == 0) break;
    if (b >= 0x20 || b == 0x1B || b == 0x1C) {
      out.push_back(b);
    } else if (b == 0x0A) {
      used += lineHeight(font);
      if (used >= room) break;
      out.push_back(b);
    }
  }
  return out;
}

foundation::Bytes coordinate7(int value) {
  const uint8_t high = uint8_t((value >> 7) & 0x7F), low = uint8_t(value & 0x7F);
  return {high ? high : uint8_t(0x80), low ? low : uint8_t(0x80)};
}

foundation::Bytes styledTextRequest(const std::vector<TextState>& runs, int x, int y, int font) {
  foundation::Bytes out = {0x01, 0x0F};
  for (int v : {x, y}) {
    const auto c = coordinate7(v);
    out.insert(out.end(), c.begin(), c.end());
  }
  out.push_back(font == 0 ? 0x80 : uint8_t(font));
  out.push_back(utf8Font(font) ? 0x80 : 0x40);
  for (const auto& run : runs) {
    out.push_back(0x0E);
    out.push_back(run.backColor ? colorByte(*run.backColor) : 0x80);
    out.push_back(run.foreColor ? colorByte(*run.foreColor) : 0x01);
    out.insert(out.end(), run.text.begin(), run.text.end());
  }
  return out;
}

std::optional<foundation::Bytes> menuRequest(const std::string& title, const std::vector<std::string>& choices,
                                             double timeout) {
  // The texts go out as C strings: each ends at its first zero character.
  auto cText = [](const std::string& s) { return std::string_view(s.c_str()); };
  const int seconds = std::isfinite(timeout) ? int(std::clamp(timeout, 0.0, 65535.0)) : 0;
  foundation::Bytes out = {0x37, 0x01, uint8_t(seconds), uint8_t(seconds >> 8)};
  const auto t = cText(title);
  out.insert(out.end(), t.begin(), t.end());
  out.push_back(0x0A);
  for (size_t i = 0; i < choices.size(); ++i) {
    const auto c = cText(choices[i]);
    out.insert(out.end(), c.begin(), c.end());
    out.push_back(i + 1 == choices.size() ? 0x00 : 0x0A);
    if (out.size() > PPadTransport::kCmdBufferSize) return std::nullopt;
  }
  if (out.size() > PPadTransport::kCmdBufferSize) return std::nullopt;
  return out;
}

std::string promptText(const foundation::Bytes& reply) {
  std::string out;
  for (uint8_t b : reply) {
    if (b == 0) break;
    out.push_back(b < 0x80 ? char(b) : '?');
  }
  return out;
}

}  // namespace ppad
}  // namespace kestra
