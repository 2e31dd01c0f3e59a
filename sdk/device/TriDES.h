#pragma once
// Two-key Triple-DES in CBC mode over a whole buffer, as the device API's DESFire
// authentication uses it. Plain functions; reentrant, any thread.
//
// Bad input: a key that is not 16 bytes, an IV that is neither empty nor 8 bytes, or data
// that is not a whole number of 8-byte blocks gives nothing; nothing is read or written
// outside the buffers given.

#include <optional>

#include "platform/foundation/Bytes.h"

namespace kestra {

// Decrypts `data` with `key`, chaining from `iv` (empty: a block of zeros); a new buffer
// of the same length.
std::optional<foundation::Bytes> triDESDecrypt(const foundation::Bytes& data, const foundation::Bytes& key,
                                               const foundation::Bytes& iv = {});
// Encrypts `data` with `key` from a zero IV; a new buffer of the same length.
std::optional<foundation::Bytes> triDESEncrypt(const foundation::Bytes& data, const foundation::Bytes& key);

}  // namespace kestra
