#include "sdk/printer/PrinterText.h"

#include <errno.h>
#include <iconv.h>

#include <cmath>
#include <memory>
#include <vector>

namespace kestra::printer {
namespace {

const char* iconvName(int encoding) {
  switch (encoding) {
    case 1: return "ASCII";
    case 2: return "NEXTSTEP";
    case 3: return "EUC-JP";
    case 4: return "UTF-8";
    case 5: return "ISO-8859-1";
    case 7: return "ASCII";
    case 8: return "SHIFT_JIS";
    case 9: return "ISO-8859-2";
    case 11: return "CP1251";
    case 12: return "CP1252";
    case 13: return "CP1253";
    case 14: return "CP1254";
    case 15: return "CP1250";
    case 21: return "ISO-2022-JP";
    case 30: return "MACINTOSH";
    default: return nullptr;
  }
}

// Length of the UTF-8 sequence starting with `c` (1 for a stray byte).
size_t utf8Length(unsigned char c) {
  if (c < 0x80) return 1;
  if ((c >> 5) == 0x6) return 2;
  if ((c >> 4) == 0xE) return 3;
  if ((c >> 3) == 0x1E) return 4;
  return 1;
}

bool isDoubleByteEncoding(int encoding) {
  return encoding == kEncodingEUCJP || encoding == kEncodingShiftJIS ||
         encoding == kEncodingISO2022JP;
}

bool isDigit(int c) { return c >= '0' && c <= '9'; }

// Whether the byte at `i` ends its piece.
bool isBreak(const uint8_t* b, size_t i, size_t n) {
  const uint8_t c = b[i];
  const bool breakChar = (c < '0' && c != '#' && c != '$' && c != '%' && c != '&' && c != '\'') ||
                         c == ':' || c == ';' || c == '?';
  if (!breakChar) return false;
  const int prev = i > 0 ? b[i - 1] : -1;
  const int next = i + 1 < n ? b[i + 1] : -1;
  if ((c == ' ' || c == ',' || c == '.') && isDigit(prev) && isDigit(next)) return false;
  if ((c == '+' || c == '-') && isDigit(next)) return false;
  return true;
}

int upper(int c) { return (c >= 'a' && c <= 'z') ? c - 32 : c; }

enum class Tag {
  None, BoldOn, BoldOff, ItalicOn, ItalicOff, UnderlineOn, UnderlineOff, InverseOn, InverseOff,
  WrapOn, WrapOff, DoubleWidthOn, DoubleWidthOff, DoubleHeightOn, DoubleHeightOff, DoubleNothing,
  FontA, FontB, Left, Center, Right, Justify, Rotate0, Rotate1, Rotate2, Reset
};

// The tag starting at `i` (which holds "{") and its length, or Tag::None.
Tag matchTag(const uint8_t* b, size_t i, size_t n, size_t* length) {
  if (n - i >= 4 && b[i + 1] == '=' && b[i + 2] == '=' && b[i + 3] == '}') {
    *length = 4;
    return Tag::Reset;
  }
  if (n - i < 4) return Tag::None;
  const int op = b[i + 1];
  const int letter = upper(b[i + 2]);
  if (op != '+' && op != '-' && op != '=') return Tag::None;
  if (b[i + 3] == '}') {
    *length = 4;
    const bool on = op == '+';
    if (op == '=') {
      switch (letter) {
        case 'L': return Tag::Left;
        case 'C': return Tag::Center;
        case 'R': return Tag::Right;
        case 'J': return Tag::Justify;
        default: return Tag::None;
      }
    }
    switch (letter) {
      case 'B': return on ? Tag::BoldOn : Tag::BoldOff;
      case 'I': return on ? Tag::ItalicOn : Tag::ItalicOff;
      case 'U': return on ? Tag::UnderlineOn : Tag::UnderlineOff;
      case 'V': return on ? Tag::InverseOn : Tag::InverseOff;
      case 'W': return on ? Tag::WrapOn : Tag::WrapOff;
      case 'D': return Tag::DoubleNothing;
      default: return Tag::None;
    }
  }
  if (n - i < 5 || b[i + 4] != '}') return Tag::None;
  *length = 5;
  const int second = upper(b[i + 3]);
  if (op == '=') {
    if (letter == 'F' && second == '0') return Tag::FontA;
    if (letter == 'F' && second == 'D') return Tag::FontA;
    if (letter == 'F' && second == '1') return Tag::FontB;
    if (letter == 'R' && second == '0') return Tag::Rotate0;
    if (letter == 'R' && second == '1') return Tag::Rotate1;
    if (letter == 'R' && second == '2') return Tag::Rotate2;
    return Tag::None;
  }
  if (letter != 'D') return Tag::None;
  const bool on = op == '+';
  if (second == 'W') return on ? Tag::DoubleWidthOn : Tag::DoubleWidthOff;
  if (second == 'H') return on ? Tag::DoubleHeightOn : Tag::DoubleHeightOff;
  return Tag::None;
}

struct Piece {
  foundation::Bytes bytes;  // text and attribute sequences, in order
  foundation::Bytes text;   // the printable bytes alone
  int width = 0;
  int align = kAlignLeft;
  int lastCharWidth = 0;
  size_t firstTextOffset = 0;  // where the first printable byte sits in `bytes`
  size_t lastTextOffset = 0;   // and the last
};

class Layout {
 public:
  Layout(int pageWidth, TextState& s,
         const std::function<bool(const foundation::Bytes&)>& w)
      : pageWidth_(pageWidth), s_(s), write_(w) {}

  bool ok() const { return ok_; }
  int maxPieces() const { return maxPieces_; }

  void escape(const foundation::Bytes& bytes) {
    if (bytes.empty()) return;
    Piece& p = current();
    p.bytes.insert(p.bytes.end(), bytes.begin(), bytes.end());
  }

  // One character of `k` bytes at `b + i`.
  void character(const uint8_t* b, size_t i, size_t k, size_t n) {
    const int cw = getFontSize(s_.font, s_.style, s_.rotate, false);
    const int w = cw * int(k);
    bool first = true;
    while (s_.curw + w > pageWidth_) {
      if (s_.curw == 0) return;  // wider than the page: nothing can print it
      if (first && wrap && open_ && !pieces_.empty() && (pieces_.size() > 1 || pieces_.back().text.empty())) {
        Piece carry = std::move(pieces_.back());
        pieces_.pop_back();
        endLine(false);
        pieces_.push_back(std::move(carry));
        open_ = true;
        s_.curw = pieces_.back().width;
      } else {
        endLine(false);
      }
      first = false;
      if (!ok_) return;
    }
    s_.curw += w;
    Piece& p = current();
    if (p.text.empty()) p.firstTextOffset = p.bytes.size();
    p.lastTextOffset = p.bytes.size() + k - 1;
    p.bytes.insert(p.bytes.end(), b + i, b + i + k);
    p.text.insert(p.text.end(), b + i, b + i + k);
    p.width += w;
    p.lastCharWidth = w;
    p.align = s_.align;
    if (k == 1 && isBreak(b, i, n)) open_ = false;
  }

  // Ends the line: `byLineEnd` when a line-end byte ended it.
  void endLine(bool byLineEnd) {
    if (!ok_) return;
    const int cellHeight = getFontSize(s_.font, s_.style, s_.rotate, true);
    foundation::Bytes out;
    bool justify = false;
    for (const auto& p : pieces_) justify |= p.align == kAlignJustify;
    if (justify)
      writeJustified(out);
    else
      writeGrouped(out);
    if (!(s_.curw >= pageWidth_ && byLineEnd)) {
      out.push_back(0x1B);
      out.push_back(0x4A);
      out.push_back(uint8_t(std::min(255, cellHeight + 8)));
    }
    pieces_.clear();
    open_ = false;
    s_.curw = 0;
    emit(out);
  }

  // The end of the text: a line with text is printed and fed; attribute sequences alone
  // are sent without a feed.
  void finish() {
    bool text = false;
    for (const auto& p : pieces_) text |= !p.text.empty();
    if (text) {
      endLine(false);
    } else {
      foundation::Bytes out;
      for (const auto& p : pieces_) out.insert(out.end(), p.bytes.begin(), p.bytes.end());
      pieces_.clear();
      emit(out);
    }
  }

  void emit(const foundation::Bytes& out) {
    if (!ok_ || out.empty()) return;
    if (!write_(out)) ok_ = false;
  }

  bool wrap = false;

 private:
  Piece& current() {
    if (!open_ || pieces_.empty()) {
      if (int(pieces_.size()) < kMaxPieces) {
        pieces_.emplace_back();
        pieces_.back().align = s_.align;
        maxPieces_ = std::max(maxPieces_, int(pieces_.size()));
      }
      open_ = true;
    }
    return pieces_.back();
  }

  static void position(foundation::Bytes& out, int x) {
    if (x < 0) x = 0;
    out.push_back(0x1B);
    out.push_back(0x24);
    foundation::appendLE16(out, uint16_t(x));
  }

  void writeGrouped(foundation::Bytes& out) {
    int total[3] = {0, 0, 0};
    for (const auto& p : pieces_) total[std::clamp(p.align, 0, 2)] += p.width;
    for (const auto& p : pieces_)
      if (p.align == kAlignLeft) out.insert(out.end(), p.bytes.begin(), p.bytes.end());
    for (int a : {kAlignCenter, kAlignRight}) {
      bool any = false;
      for (const auto& p : pieces_) any |= p.align == a;
      if (!any) continue;
      position(out, a == kAlignCenter ? (pageWidth_ - total[a]) / 2 : pageWidth_ - total[a] - 1);
      for (const auto& p : pieces_)
        if (p.align == a) out.insert(out.end(), p.bytes.begin(), p.bytes.end());
    }
  }

  void writeJustified(foundation::Bytes& out) {
    // A leading single space goes; its attribute sequences stay.
    if (!pieces_.empty() && pieces_.front().text == foundation::Bytes{' '}) {
      Piece& p = pieces_.front();
      p.bytes.erase(p.bytes.begin() + long(p.firstTextOffset));
      p.text.clear();
      p.width = 0;
      if (pieces_.size() > 1) {
        pieces_[1].bytes.insert(pieces_[1].bytes.begin(), p.bytes.begin(), p.bytes.end());
        pieces_.erase(pieces_.begin());
      }
    }
    int total = 0;
    for (const auto& p : pieces_) total += p.width;
    int lastWidth = pieces_.empty() ? 0 : pieces_.back().width;
    const bool trailingSpace =
        !pieces_.empty() && !pieces_.back().text.empty() && pieces_.back().text.back() == ' ';
    if (trailingSpace) {
      total -= pieces_.back().lastCharWidth;
      lastWidth -= pieces_.back().lastCharWidth;
    }
    if (total * 4 < pageWidth_ * 3 || pieces_.size() < 2) {
      for (const auto& p : pieces_) out.insert(out.end(), p.bytes.begin(), p.bytes.end());
      return;
    }
    // The uncounted space is not sent either: after the last piece, pinned to the right
    // edge, it would run past the line.
    if (trailingSpace) {
      Piece& last = pieces_.back();
      last.bytes.erase(last.bytes.begin() + long(last.lastTextOffset));
    }
    const double gap = double(pageWidth_ - total) / double(pieces_.size());
    int before = 0;
    for (size_t k = 0; k < pieces_.size(); ++k) {
      const int x = k + 1 == pieces_.size() ? pageWidth_ - lastWidth - 1
                                            : before + int(std::lround(double(k) * gap));
      position(out, x);
      out.insert(out.end(), pieces_[k].bytes.begin(), pieces_[k].bytes.end());
      before += pieces_[k].width;
    }
  }

  const int pageWidth_;
  TextState& s_;
  const std::function<bool(const foundation::Bytes&)>& write_;
  std::vector<Piece> pieces_;
  bool open_ = false;
  bool ok_ = true;
  int maxPieces_ = 0;
};

}  // namespace

int getFontSize(int font, int style, int rotate, bool height) {
  int w, h;
  if (font == 0) {
    w = 12;
    h = 24;
  } else if (font == 1) {
    w = 9;
    h = 16;
  } else {
    return 0;
  }
  if (style & kStyleDoubleWidth) w *= 2;
  if (style & kStyleDoubleHeight) h *= 2;
  if (rotate == 1) std::swap(w, h);
  return height ? h : w;
}

void TextEscapes::addAll(foundation::Bytes& out, const TextState& s) const {
  uint8_t n = 0;
  if (s.font == 1) n |= 0x01;
  if (s.style & kStyleBold) n |= 0x08;
  if (s.style & kStyleDoubleHeight) n |= 0x10;
  if (s.style & kStyleDoubleWidth) n |= 0x20;
  if (s.style & kStyleUnderline) n |= 0x80;
  out.insert(out.end(), {0x1B, 0x21, n});
}

void TextEscapes::addItalic(foundation::Bytes& out, const TextState& s) const {
  out.insert(out.end(), {0x1B, 0x49, uint8_t((s.style & kStyleItalic) ? 1 : 0)});
}

void TextEscapes::addInverse(foundation::Bytes& out, const TextState& s) const {
  out.insert(out.end(), {0x1D, 0x42, uint8_t((s.style & kStyleInverse) ? 1 : 0)});
}

void TextEscapes::addRotate(foundation::Bytes& out, const TextState& s) const {
  out.insert(out.end(), {0x1B, 0x7B, uint8_t(s.rotate == 2 ? 1 : 0), 0x1B, 0x56,
                         uint8_t(s.rotate == 1 ? 1 : 0)});
}

const TextEscapes& TextEscapes::standard() {
  static const TextEscapes e;
  return e;
}

bool encodeText(std::string_view utf8, int encoding, foundation::Bytes* out) {
  const char* name = iconvName(encoding);
  if (!name) return false;
  out->clear();
  if (encoding == kEncodingUTF8) {
    out->assign(utf8.begin(), utf8.end());
    return true;
  }
  iconv_t cd = iconv_open(name, "UTF-8");
  if (cd == iconv_t(-1)) return false;
  std::unique_ptr<void, int (*)(iconv_t)> guard(cd, iconv_close);
  std::string in(utf8);
  char* src = in.data();
  size_t left = in.size();
  std::vector<char> buf(in.size() * 4 + 16);
  while (left > 0) {
    char* dst = buf.data();
    size_t room = buf.size();
    const size_t r = iconv(cd, &src, &left, &dst, &room);
    out->insert(out->end(), buf.data(), dst);
    if (r != size_t(-1)) continue;
    if (errno == E2BIG) continue;
    // A character the encoding lacks, or bytes that are not UTF-8: one "?" for it.
    const size_t skip = std::min(left, utf8Length(static_cast<unsigned char>(*src)));
    src += skip;
    left -= skip;
    out->push_back('?');
  }
  // Close any shift state (ISO-2022-JP).
  char* dst = buf.data();
  size_t room = buf.size();
  iconv(cd, nullptr, nullptr, &dst, &room);
  out->insert(out->end(), buf.data(), dst);
  return true;
}

bool prepareText(std::string_view text, int encoding, foundation::Bytes* out) {
  std::string t;
  t.reserve(text.size());
  for (size_t i = 0; i < text.size(); ++i) {
    char c = text[i];
    if (c == '\r') {
      if (i + 1 < text.size() && text[i + 1] == '\n') ++i;
      c = '\n';
    }
    t.push_back(c == '\n' ? '\0' : c);
  }
  return encodeText(t, encoding, out) && !out->empty();
}

bool layoutText(const foundation::Bytes& prepared, int encoding, int pageWidth, TextState& state,
                const TextEscapes& escapes,
                const std::function<bool(const foundation::Bytes&)>& write, int* maxPieces) {
  state.reset();
  state.curw = 0;
  {
    foundation::Bytes start;
    escapes.addAll(start, state);
    escapes.addItalic(start, state);
    escapes.addInverse(start, state);
    escapes.addRotate(start, state);
    if (!write(start)) return false;
  }
  Layout layout(pageWidth, state, write);
  const uint8_t* b = prepared.data();
  const size_t n = prepared.size();
  const bool doubleByte = isDoubleByteEncoding(encoding);
  size_t i = 0;
  while (i < n && layout.ok()) {
    const uint8_t c = b[i];
    if (doubleByte && ((c >= 0x81 && c <= 0xA0) || c >= 0xE0) && i + 1 < n && b[i + 1] > 0x3F) {
      layout.character(b, i, 2, n);
      i += 2;
      continue;
    }
    if (c == '{') {
      size_t len = 0;
      const Tag tag = matchTag(b, i, n, &len);
      if (tag != Tag::None) {
        foundation::Bytes esc;
        switch (tag) {
          case Tag::BoldOn: state.style |= kStyleBold; escapes.addAll(esc, state); break;
          case Tag::BoldOff: state.style &= ~kStyleBold; escapes.addAll(esc, state); break;
          case Tag::ItalicOn: state.style |= kStyleItalic; escapes.addItalic(esc, state); break;
          case Tag::ItalicOff: state.style &= ~kStyleItalic; escapes.addItalic(esc, state); break;
          case Tag::UnderlineOn: state.style |= kStyleUnderline; escapes.addAll(esc, state); break;
          case Tag::UnderlineOff: state.style &= ~kStyleUnderline; escapes.addAll(esc, state); break;
          case Tag::InverseOn: state.style |= kStyleInverse; escapes.addInverse(esc, state); break;
          case Tag::InverseOff: state.style &= ~kStyleInverse; escapes.addInverse(esc, state); break;
          case Tag::WrapOn: layout.wrap = true; break;
          case Tag::WrapOff: layout.wrap = false; break;
          case Tag::DoubleWidthOn: state.style |= kStyleDoubleWidth; escapes.addAll(esc, state); break;
          case Tag::DoubleWidthOff: state.style &= ~kStyleDoubleWidth; escapes.addAll(esc, state); break;
          case Tag::DoubleHeightOn: state.style |= kStyleDoubleHeight; escapes.addAll(esc, state); break;
          case Tag::DoubleHeightOff: state.style &= ~kStyleDoubleHeight; escapes.addAll(esc, state); break;
          case Tag::DoubleNothing: break;
          case Tag::FontA: state.font = 0; escapes.addAll(esc, state); break;
          case Tag::FontB: state.font = 1; escapes.addAll(esc, state); break;
          case Tag::Left: state.align = kAlignLeft; break;
          case Tag::Center: state.align = kAlignCenter; break;
          case Tag::Right: state.align = kAlignRight; break;
          case Tag::Justify: state.align = kAlignJustify; break;
          case Tag::Rotate0: state.rotate = 0; escapes.addRotate(esc, state); break;
          case Tag::Rotate1: state.rotate = 1; escapes.addRotate(esc, state); break;
          case Tag::Rotate2: state.rotate = 2; escapes.addRotate(esc, state); break;
          case Tag::Reset:
            state.reset();
            escapes.addAll(esc, state);
            escapes.addItalic(esc, state);
            escapes.addInverse(esc, state);
            escapes.addRotate(esc, state);
            break;
          case Tag::None: break;
        }
        layout.escape(esc);
        i += len;
        continue;
      }
    }
    if (c == 0 || c == 10) {
      layout.endLine(true);
      ++i;
      continue;
    }
    if (c < 0x20 || c == 0x7F) {  // other control bytes are not text
      ++i;
      continue;
    }
    layout.character(b, i, 1, n);
    ++i;
  }
  if (layout.ok()) layout.finish();
  if (maxPieces) *maxPieces = layout.maxPieces();
  return layout.ok();
}

foundation::Bytes delimiterLine(uint8_t character, int pageWidth) {
  TextState s;
  foundation::Bytes out;
  TextEscapes::standard().addAll(out, s);
  const int count = std::max(0, pageWidth / getFontSize(0, 0, 0, false));
  out.insert(out.end(), size_t(count), character);
  out.push_back(10);
  return out;
}

bool codepageCommand(int modelClass, int codepage, foundation::Bytes* out) {
  static constexpr int kTableA[] = {437, 850, 860, -1, 852, -1, 857, 775, 856, 866, -1,
                                    737, 862, 1252, 1250, 1254, 1257, 1251, 1253, 1255, -1};
  static constexpr int kTableB[] = {437, -1, 850, 860, -1, 856, 852, 866, 857, 1252,
                                    775, -1, 737, 862, 1250, 1251, 1253, 1254, 1255, 1257};
  const int* table;
  size_t size;
  uint8_t command;
  if (modelClass >= 0 && modelClass <= 4) {
    table = kTableA;
    size = std::size(kTableA);
    command = 0x75;
  } else if (modelClass >= 5 && modelClass <= 7) {
    table = kTableB;
    size = std::size(kTableB);
    command = 0x74;
  } else {
    return false;
  }
  for (size_t i = 0; i < size; ++i) {
    if (table[i] == codepage) {
      *out = {0x1B, command, uint8_t(i)};
      return true;
    }
  }
  return false;
}

}  // namespace kestra::printer
