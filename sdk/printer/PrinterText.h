#pragma once
// Text with inline format tags, laid out for a printer of one-bit dots: the pure half of
// `printText` (the driver writes what this produces).
//
// Tags switch bold {+B}/{-B}, italic {+I}, underline {+U}, inverse {+V}, word wrap {+W},
// double width {+DW} and height {+DH}, font {=F0}/{=F1}/{=FD}, alignment {=L} {=C} {=R}
// {=J}, rotation {=R0} {=R1} {=R2} and reset {==}; letters in either case. Anything else
// that starts with "{" is printed as it stands. Lines are no wider than the page: word wrap
// cuts before the last word, otherwise at the byte that overflows; centred, right-aligned
// and justified pieces are placed with absolute positions (ESC $).
//
// The layout engine is shared by every printer that speaks these escape sequences; a
// printer with different attribute commands supplies its own `TextEscapes`. The state it
// works on belongs to the caller (the receipt printers share one, process-wide).
//
// Pure functions and plain values: no locks; any thread, one layout per state at a time.
// Bad input (unknown or cut-off tags, control bytes, any length) never writes outside a
// buffer: a line holds at most kMaxPieces pieces, later bytes join the last one.

#include <cstdint>
#include <functional>
#include <string>
#include <string_view>

#include "platform/foundation/Bytes.h"

namespace kestra::printer {

// Style bits of `TextState::style`.
inline constexpr int kStyleBold = 1;
inline constexpr int kStyleItalic = 2;
inline constexpr int kStyleUnderline = 4;
inline constexpr int kStyleInverse = 8;
inline constexpr int kStyleDoubleWidth = 64;
inline constexpr int kStyleDoubleHeight = 128;

inline constexpr int kAlignLeft = 0;
inline constexpr int kAlignCenter = 1;
inline constexpr int kAlignRight = 2;
inline constexpr int kAlignJustify = 3;

inline constexpr int kMaxPieces = 200;

// String encodings by their platform numbers.
inline constexpr int kEncodingASCII = 1;
inline constexpr int kEncodingEUCJP = 3;
inline constexpr int kEncodingUTF8 = 4;
inline constexpr int kEncodingShiftJIS = 8;
inline constexpr int kEncodingWindows1252 = 12;
inline constexpr int kEncodingISO2022JP = 21;

struct TextState {
  int font = 0;    // 0 font A (12 x 24 dots), 1 font B (9 x 16 dots)
  int style = 0;   // kStyle... bits
  int rotate = 0;  // 0 none, 1 rotated 90 degrees, 2 upside down
  int align = kAlignLeft;
  int curw = 0;    // dots used on the current line
  void reset() { font = style = rotate = 0; align = kAlignLeft; }
};

// The cell width (or, with `height`, height) in dots of a character: font 0 is 12 x 24,
// font 1 is 9 x 16, any other 0; double width and height double it; rotation 1 swaps them.
int getFontSize(int font, int style, int rotate, bool height);

// The attribute escape sequences of a printer.
class TextEscapes {
 public:
  virtual ~TextEscapes() = default;
  // ESC ! n: font B, bold, double height, double width, underline.
  virtual void addAll(foundation::Bytes& out, const TextState& s) const;
  // ESC I n.
  virtual void addItalic(foundation::Bytes& out, const TextState& s) const;
  // GS B n.
  virtual void addInverse(foundation::Bytes& out, const TextState& s) const;
  // ESC { n (upside down), ESC V m (90 degrees).
  virtual void addRotate(foundation::Bytes& out, const TextState& s) const;
  // The receipt printers' own.
  static const TextEscapes& standard();
};

// Converts UTF-8 text to bytes of the encoding numbered `encoding`; a character the
// encoding lacks (or a byte that is not UTF-8) becomes "?". False for an encoding this
// system does not know.
bool encodeText(std::string_view utf8, int encoding, foundation::Bytes* out);

// Prepares `text` for layout: CR LF and CR become LF and every LF becomes a zero byte (the
// line-end mark), then the text is encoded. False when nothing came out.
bool prepareText(std::string_view text, int encoding, foundation::Bytes* out);

// Lays the prepared bytes out. The state is reset first; the output starts with the four
// attribute sequences of that state, and each run of output (the start, then each line) is
// handed to `write` as soon as it is complete. Returns false at the first `write` that
// fails (the state stays as the tags left it). `maxPieces` (when given) receives the most
// pieces any line had.
bool layoutText(const foundation::Bytes& prepared, int encoding, int pageWidth, TextState& state,
                const TextEscapes& escapes,
                const std::function<bool(const foundation::Bytes&)>& write,
                int* maxPieces = nullptr);

// The delimiter line of `character`: the reset attribute sequence, the character as many
// times as font A cells fit in `pageWidth`, then LF.
foundation::Bytes delimiterLine(uint8_t character, int pageWidth);

// The code-page command of `codepage` on a printer of `modelClass`: ESC u n for classes 0-4,
// ESC t n for classes 5-7. False for a code page outside the class's table, or another
// class.
bool codepageCommand(int modelClass, int codepage, foundation::Bytes* out);

}  // namespace kestra::printer
