#pragma once
// Byte buffers and their hex forms. `Bytes` is a plain vector so that every layer can
// build, slice and compare buffers without a wrapper type.

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

namespace foundation {

using Bytes = std::vector<uint8_t>;

inline Bytes bytesOf(std::string_view text) { return Bytes(text.begin(), text.end()); }
inline std::string textOf(const Bytes& b) { return std::string(b.begin(), b.end()); }

// "0A1B..." (upper case) with `separator` between bytes when it is not empty.
std::string toHex(const uint8_t* data, size_t len, std::string_view separator = "");
inline std::string toHex(const Bytes& b, std::string_view separator = "") {
  return toHex(b.data(), b.size(), separator);
}

// Reads hex digits in either case; spaces, colons and dashes between byte pairs are
// skipped. Returns nothing for an odd digit count or a character that is not hex.
std::optional<Bytes> fromHex(std::string_view hex);

// Big-endian and little-endian integer reading and writing.
inline uint16_t readBE16(const uint8_t* p) { return uint16_t(p[0] << 8 | p[1]); }
inline uint32_t readBE32(const uint8_t* p) {
  return uint32_t(p[0]) << 24 | uint32_t(p[1]) << 16 | uint32_t(p[2]) << 8 | p[3];
}
inline uint16_t readLE16(const uint8_t* p) { return uint16_t(p[1] << 8 | p[0]); }
inline uint32_t readLE32(const uint8_t* p) {
  return uint32_t(p[3]) << 24 | uint32_t(p[2]) << 16 | uint32_t(p[1]) << 8 | p[0];
}
inline void appendBE16(Bytes& b, uint16_t v) { b.push_back(uint8_t(v >> 8)); b.push_back(uint8_t(v)); }
inline void appendBE32(Bytes& b, uint32_t v) {
  for (int s = 24; s >= 0; s -= 8) b.push_back(uint8_t(v >> s));
}
inline void appendLE16(Bytes& b, uint16_t v) { b.push_back(uint8_t(v)); b.push_back(uint8_t(v >> 8)); }
inline void appendLE32(Bytes& b, uint32_t v) {
  for (int s = 0; s <= 24; s += 8) b.push_back(uint8_t(v >> s));
}

// Appends `length` bytes (which may lie inside `to` itself). Out of line on purpose: GCC 12 at
// -O3 reports bogus array-bounds and restrict errors for a vector range insert inlined right
// after the vector was built from a short brace list; a call it cannot see into has none.
void append(Bytes& to, const uint8_t* data, size_t length);
inline void append(Bytes& to, const Bytes& from) { append(to, from.data(), from.size()); }
inline void append(Bytes& to, std::string_view text) {
  append(to, reinterpret_cast<const uint8_t*>(text.data()), text.size());
}

// Overwrites a buffer that held secrets (card tracks, keys) before it is released.
void secureClear(Bytes& b);
void secureClear(std::string& s);

}  // namespace foundation
