#pragma once
// Base64 with the standard alphabet and "=" padding (RFC 4648), no line breaks. Stateless.

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Bytes.h"

namespace kestra {

class KXBase64 {
 public:
  // Nothing for empty input.
  static std::optional<std::string> encodeBase64WithData(const foundation::Bytes& data);
  // The UTF-8 bytes of `text`, encoded; nothing for an empty text.
  static std::optional<std::string> encodeBase64WithString(std::string_view text);
  // Skips tab, line feed, form feed, carriage return and space. Nothing for any other
  // character outside the alphabet, for "=" anywhere but closing the last group (followed
  // by nothing but white space), and for a last group of a single character. A last group
  // of two or three characters without its padding is accepted.
  static std::optional<foundation::Bytes> decodeBase64WithString(std::string_view text);
};

}  // namespace kestra
