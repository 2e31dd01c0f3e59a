#pragma once
// Base64 codecs and byte-prefix tests over `foundation::Bytes`, with the lenient decoding
// that card images and signatures rely on: characters outside the base64 alphabet are
// skipped, the first "=" ends the data, and an unfinished group at the end without "=" is
// dropped. Stateless; any thread.

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Bytes.h"

namespace orvo::DataAdditions {

using foundation::Bytes;

// Decodes base64 text read as ASCII; absent text gives empty data.
Bytes dataWithBase64EncodedString(const std::optional<std::string>& text);
Bytes dataFromBase64String(std::string_view text);

// Groups of three bytes to four symbols, the last group padded with "=", and a line feed
// after a group once the output since the previous break has reached `lineLength`
// (0: one line).
std::string base64EncodingWithLineLength(const Bytes& data, unsigned lineLength);
inline std::string base64Encoding(const Bytes& data) { return base64EncodingWithLineLength(data, 0); }
inline std::string base64EncodedString(const Bytes& data) { return base64EncodingWithLineLength(data, 0); }

// True when `data` begins (ends) with the given bytes; false for empty bytes or shorter data.
bool hasPrefixBytes(const Bytes& data, const uint8_t* bytes, size_t length);
bool hasSuffixBytes(const Bytes& data, const uint8_t* bytes, size_t length);
inline bool hasPrefix(const Bytes& data, const Bytes& prefix) {
  return hasPrefixBytes(data, prefix.data(), prefix.size());
}
inline bool hasSuffix(const Bytes& data, const Bytes& suffix) {
  return hasSuffixBytes(data, suffix.data(), suffix.size());
}

}  // namespace orvo::DataAdditions
