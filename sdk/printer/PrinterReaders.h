#pragma once
// The printer's own readers, as bytes: the barcode engine's answer, the magnetic reader's
// track buffer, the encrypted head's masked block, and the frame of the smart-card and
// Mifare modules.
//
// Pure functions: any thread. Answers from the printer are bounded by their own length:
// a length byte that promises more than is there ends the parse (nothing is read past the
// buffer). Track texts are card data: callers never log them.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Bytes.h"

namespace kestra::printer {

struct ScannedBarcode {
  int type = 0;
  std::string text;
};
// "type SPACE code" (a trailing zero byte is dropped); in the code 0xFF 0xFF stands for
// 0xFF and 0xFF x for x - 0x20. Nothing for fewer than 3 bytes or no space.
std::optional<ScannedBarcode> parseBarcodeAnswer(const foundation::Bytes& answer);

// Track 1, 2 and 3 after the markers 0xF1, 0xF2 and 0xF3 (the last occurrence of each); a
// track runs to the next marker after it, a zero byte or the end. A missing track is "".
std::array<std::string, 3> parseCardTracks(const foundation::Bytes& answer);

// A masked block: one unused byte, three length bytes, then the three texts. A zero length
// gives nothing; a text that would run past the block gives nothing for it and the ones
// after it.
std::array<std::optional<std::string>, 3> parseMaskedBlock(const uint8_t* data, size_t length);

inline constexpr size_t kModuleMaxData = 508;
// [command][0][length, 2 bytes big-endian][data]; false for more than kModuleMaxData bytes.
bool moduleFrame(uint8_t command, const uint8_t* data, size_t length, foundation::Bytes* out);

// Lc is one byte: longer data cannot be described by it.
inline constexpr size_t kApduMaxData = 255;
// CLA INS P1 P2, then with data: Lc, data and Le (left out when `maxReply` is -1); without
// data: Le (0 for -1). False for more than kApduMaxData bytes of data.
bool buildApdu(int cla, int ins, int p1, int p2, const foundation::Bytes& data, int maxReply,
               foundation::Bytes* out);

}  // namespace kestra::printer
