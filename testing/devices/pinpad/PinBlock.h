#pragma once
// Clear PIN blocks as ISO 9564-1 lays them out, for the simulated pinpad: the PIN field
// (control nibble, PIN length, the digits, then the format's fill) combined with the PAN
// field where the format takes one. Pure functions; the pinpad encrypts the result.

#include <optional>
#include <string>

#include "platform/foundation/Bytes.h"

namespace devices::pinblock {

using foundation::Bytes;

// The pinpad's PIN block format numbers and the ISO 9564 formats they stand for.
inline constexpr int kFormatIso0 = 4;   // with the PAN
inline constexpr int kFormatIso1 = 5;   // transaction field fill, no PAN
inline constexpr int kFormatIso2 = 6;   // F fill, no PAN
inline constexpr int kFormatIso3 = 13;  // random A-F fill, with the PAN

// The ISO format (0 to 3) of a pinpad format number, or nothing for one the pinpad lacks.
std::optional<int> isoFormatOf(int pinpadFormat);
// Whether the ISO format combines the PIN field with the PAN.
bool needsPan(int isoFormat);
// The 8-byte clear block of `pin` (4 to 12 digits) in `isoFormat`; `pan` (digits, check
// digit last) for formats 0 and 3; `fill` gives the fill nibbles of formats 1 and 3 (its
// low nibbles are used: any value for format 1, mapped into A-F for format 3). Nothing
// when the PIN or PAN does not fit the format.
std::optional<Bytes> clearBlock(int isoFormat, const std::string& pin, const std::string& pan, const Bytes& fill);

}  // namespace devices::pinblock
