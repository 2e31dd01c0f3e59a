#pragma once
// A 5 x 7 dot font for drawing printed text in the simulated printer's picture: one glyph
// per printable ASCII character (0x20-0x7E), seven rows of five dots, the leftmost dot in
// bit 4. Other bytes have no glyph (the renderer draws a box for them).

#include <cstdint>

namespace devices {

inline constexpr int kGlyphWidth = 5;
inline constexpr int kGlyphHeight = 7;

// The rows of `c`'s glyph, or nullptr when it has none.
const uint8_t* glyphRows(uint8_t c);

}  // namespace devices
