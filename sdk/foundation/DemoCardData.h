#pragma once
// Card data that a head encrypted with the built-in AES-256 demonstration key (heads that
// were never given a key of their own send their data this way). The sleeve driver and the
// device API both turn such data back into a plain track buffer, with this one routine.
//
// Pure functions; any thread. Bad input gives nothing, never a read outside the data.

#include <optional>

#include "platform/foundation/Bytes.h"

namespace kestra {

// The 32-byte demonstration key, the same in every head and in the SDK.
const foundation::Bytes& KEY_AES256_DUMMY();

// AES-CBC decryption (zero IV, no padding) of `data` under `key`; the plain block is a
// 20-byte header, the track buffer, one 0x00 byte at some index p above 20, and a
// big-endian CRC-16/CCITT (initial value 0) over bytes 0..p. The first p that fits ends the
// track buffer, which is returned (bytes 20..p-1). Nothing when the data does not decrypt
// or no p fits. The decrypted block is cleared before returning.
std::optional<foundation::Bytes> decryptDemoTrackBlock(const foundation::Bytes& data,
                                                       const foundation::Bytes& key);

}  // namespace kestra
