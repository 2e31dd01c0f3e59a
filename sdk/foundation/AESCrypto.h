#pragma once
// AES-CBC without padding over whole 16-byte blocks, with an optional IV chained across
// calls. Keys of up to 16 bytes run AES-128 and longer keys AES-256, each zero-padded to
// that size (a 24-byte key is AES-256 with eight zero bytes appended); keys longer than 32
// bytes are refused.
//
// An object with `keepIV` set carries state between calls and must not be used by two
// threads at once; otherwise any thread.

#include <optional>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"

namespace kestra {

class AESCrypto {
 public:
  AESCrypto() = default;
  static AESCrypto cryptoWithKey(const foundation::Bytes& key);

  foundation::Bytes key;
  // Nothing means an all-zero IV; otherwise 16 bytes.
  std::optional<foundation::Bytes> iv;
  // When set, each call with at least 16 bytes of input leaves the last cipher block as the
  // IV of the next call (the output after encryption, the input after decryption).
  bool keepIV = false;

  std::optional<foundation::Bytes> encryptData(const foundation::Bytes& data,
                                               foundation::Error* error = nullptr);
  std::optional<foundation::Bytes> decryptData(const foundation::Bytes& data,
                                               foundation::Error* error = nullptr);
  // `operation` 0 encrypts, 1 decrypts. Nothing when the key or IV is too long or the data
  // is not a whole number of blocks.
  std::optional<foundation::Bytes> AESOperation(int operation, const foundation::Bytes& data,
                                                foundation::Error* error = nullptr);
};

}  // namespace kestra
