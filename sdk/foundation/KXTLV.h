#pragma once
// One BER-TLV data object as EMV uses it (ISO/IEC 8825-1, EMV Book 3 annex B): a tag of one
// to four bytes and a value. Decoding is flat: the value of a constructed object stays plain
// bytes and is never descended into.
//
// KXTLV is a value type; lists of objects are std::vector<KXTLV>. Every function is
// reentrant. Decoding never reads outside its input: a length field above 4096 bytes, or an
// item whose tag, length or value runs past the end of the input, makes the whole decode
// fail (nothing partial is returned).

#include <cstdint>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Bytes.h"

namespace kestra {

class KXTLV {
 public:
  // The largest value decodeTags accepts.
  static constexpr size_t kMaxValueLength = 4096;

  KXTLV() = default;
  KXTLV(uint32_t tag, std::optional<foundation::Bytes> data) : tag(tag), data(std::move(data)) {}

  // The tag bytes as a big-endian number without leading zero bytes (9F02 is 0x9F02).
  uint32_t tag = 0;
  // The value; nothing when the object has none (an empty value is not the same).
  std::optional<foundation::Bytes> data;

  static KXTLV tlvWithData(const foundation::Bytes& data, uint32_t tag);
  // `value` as `nBytes` bytes big-endian (bytes above the eighth are zero).
  static KXTLV tlvWithInt(uint64_t value, int nBytes, uint32_t tag);
  // `value` as `nBytes` bytes of packed BCD, the last byte holding the lowest two digits;
  // digits beyond 2 × nBytes are dropped (12345 in 3 bytes is 01 23 45).
  static KXTLV tlvWithBCD(uint64_t value, int nBytes, uint32_t tag);
  static KXTLV tlvWithString(std::string_view text, uint32_t tag);
  // The bytes that KXUNISDKGlobals::stringToData reads from `hex`.
  static KXTLV tlvWithHexString(std::string_view hex, uint32_t tag);
  // The bytes of `hex` folded big-endian into 32 bits ("9F02" is 0x9F02).
  static uint32_t tagFromHexString(std::string_view hex);

  // Every object with `tag`, in list order; empty when none.
  static std::vector<KXTLV> findTag(uint32_t tag, const std::vector<KXTLV>& tags);
  // The last object with `tag`.
  static std::optional<KXTLV> findLastTag(uint32_t tag, const std::vector<KXTLV>& tags);

  // The objects of a flat run of TLV items, in input order; nothing for empty input, a
  // length above 4096 or a truncated item.
  static std::optional<std::vector<KXTLV>> decodeTags(const foundation::Bytes& data);
  static std::optional<std::vector<KXTLV>> decodeTags(const uint8_t* data, size_t length);
  // The items one after another; lengths up to 127 in one byte, longer ones in the long
  // form (0x82 and two bytes up to 65,535; 0x83 or 0x84 beyond).
  static foundation::Bytes encodeTags(const std::vector<KXTLV>& tags);

  // Pointer to the value's bytes; null when there is no value.
  const uint8_t* bytes() const { return data ? data->data() : nullptr; }
  // Bit 0x20 of the tag's first byte.
  bool constructed() const;
  // The tag as upper-case hex, at least two digits ("9F02", "5A").
  std::string tagAsString() const;
  std::string valueAsString() const;
  std::string valueAsHexString() const;
  // The value folded big-endian into 64 bits (only the last 8 bytes of a longer value
  // count); 0 for no value.
  int64_t valueAsInt64() const;
  // "Tag: 9f02 (<00000000 0100>)"; tags D3 and D4 show their value as text.
  std::string description() const;

  bool operator==(const KXTLV&) const = default;
};

}  // namespace kestra
