#pragma once
// A Bluetooth UUID: 128 bits, read from its text in either case ("1F6B14C9-97FA-..."), or
// from a 16- or 32-bit short form ("180A"), which stands for the Bluetooth base UUID with
// those bits. Two UUIDs are equal when their bits are, so the upper- and lower-case texts of
// one service compare equal. A text that is not a UUID gives the null UUID (all zero).
//
// A value type; any thread.

#include <array>
#include <cstdint>
#include <optional>
#include <string>
#include <string_view>

namespace bluetooth {

class Uuid {
 public:
  Uuid() = default;
  // The UUID of `text`, or nothing when it is not one.
  static std::optional<Uuid> parse(std::string_view text);
  // The UUID of `text`, or the null UUID.
  static Uuid fromString(std::string_view text) { return parse(text).value_or(Uuid()); }
  static Uuid fromBytes(const std::array<uint8_t, 16>& bytes);
  // A new random (version 4) UUID.
  static Uuid random();

  bool isNull() const { return bytes_ == std::array<uint8_t, 16>{}; }
  // Upper case, with dashes: "1F6B14C9-97FA-4F1E-AAA6-7E152FDD04F4".
  std::string string() const;
  const std::array<uint8_t, 16>& bytes() const { return bytes_; }

  friend bool operator==(const Uuid& a, const Uuid& b) { return a.bytes_ == b.bytes_; }
  friend bool operator!=(const Uuid& a, const Uuid& b) { return !(a == b); }
  friend bool operator<(const Uuid& a, const Uuid& b) { return a.bytes_ < b.bytes_; }

 private:
  std::array<uint8_t, 16> bytes_{};
};

}  // namespace bluetooth
