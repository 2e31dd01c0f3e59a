#pragma once
// AES-CBC with an all-zero IV and no padding, as the sleeve uses it for its key loading,
// its challenge-response and the card data of its demonstration key: AES-128 for keys of up
// to 16 bytes, AES-256 for longer ones, each padded with zero bytes to its size.
//
// Pure functions; any thread. Nothing for data that is not a whole number of 16-byte
// blocks, and for keys longer than 32 bytes (they are refused, never cut).

#include <optional>

#include "platform/foundation/Bytes.h"

namespace kestra {

// `operation` 0 encrypts, 1 decrypts.
std::optional<foundation::Bytes> AESOperation(const foundation::Bytes& data, int operation,
                                              const foundation::Bytes& key);
std::optional<foundation::Bytes> AESEncryptWithKey(const foundation::Bytes& data,
                                                   const foundation::Bytes& key);

}  // namespace kestra
