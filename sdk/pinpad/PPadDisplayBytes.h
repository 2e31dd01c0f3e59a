#pragma once
// The pure half of the pinpad's display commands: font cells, colour bytes, plain-text
// bytes, the inline-tag parser of styled text and the bytes of styled text and menus.
// Plain values and functions; any thread.

#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "sdk/foundation/KXColor.h"

namespace kestra {

// One run of styled text: the characters and the style in force for them.
struct TextState {
  int font = 0;                       // keys "f", "fd", "fdefault"
  std::optional<KXColor> foreColor;   // nothing: the default colour
  std::optional<KXColor> backColor;
  int align = 0;                      // 0 left, 1 centre, 2 right, 3 justified
  std::string text;                   // UTF-8
};

// Splits `text` (UTF-8) at its tags: "{" followed by "+", "-" or "=" opens a tag that runs
// to the next "}" (or the end). Only "=" tags change the style: {=fN} {=fd} {=l} {=c} {=r}
// {=j} {=cfR,G,B} {=cbR,G,B} {=cf=d} {=cb:default}; keys are not case-sensitive. Every run
// returned holds text.
std::vector<TextState> parseTextState(std::string_view text);

namespace ppad {

struct FontCell {
  int width, height;
};
// The cell of fonts 0-6; nothing for other numbers.
std::optional<FontCell> fontCell(int font);
// Fonts 3, 4 and 6 take UTF-8; the others the single-byte form.
bool utf8Font(int font);
// How far a line feed moves down in `font` (font 5 and unknown fonts: 0).
int lineHeight(int font);
// A colour display's byte: two bits each of red, green and blue, then 11.
uint8_t colorByte(const KXColor& color);
// Plain text in the single-byte form (up to its first zero byte) as the pinpad draws it:
// printable bytes, ESC and FS kept, other control bytes dropped; line feeds are kept until
// the lines reach `room` pixels, where the rest is dropped.
foundation::Bytes plainTextBytes(const foundation::Bytes& singleByte, int font, int room);
// A coordinate as two 7-bit bytes (high, low), a zero part sent as 0x80.
foundation::Bytes coordinate7(int value);
// The styled-text command (after the group byte).
foundation::Bytes styledTextRequest(const std::vector<TextState>& runs, int x, int y, int font);
// The menu command (after the group byte); nothing when the menu does not fit one command.
std::optional<foundation::Bytes> menuRequest(const std::string& title, const std::vector<std::string>& choices,
                                             double timeout);
// A data prompt's answer: the bytes up to the first zero, as ASCII text.
std::string promptText(const foundation::Bytes& reply);

}  // namespace ppad
}  // namespace kestra
