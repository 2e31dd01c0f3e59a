#pragma once
// Block ciphers on OpenSSL 3 (EVP): AES with 128-, 192- and 256-bit keys, DES and two- and
// three-key Triple-DES (EDE), each in ECB or CBC mode, with or without PKCS#7 padding.
//
// The functions are stateless and may be called from any thread at the same time. Every
// length is checked before OpenSSL sees the data: a key of the wrong size, an IV that is not
// one block long, or (without padding) data that is not a whole number of blocks makes the
// call return nothing and fill `error`; nothing is ever read past a caller's buffer.
//
// Key sizes: AES 16, 24 or 32 bytes. DES 8 bytes; two-key Triple-DES 16 bytes (K1 K2, used
// as K1 K2 K1); three-key Triple-DES 24 bytes. Parity bits of DES keys are ignored.

#include <cstddef>
#include <cstdint>
#include <optional>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"

namespace crypto {

using foundation::Bytes;
using foundation::Error;

inline constexpr const char* kCryptoErrorDomain = "com.sabrel.crypto";

// Error codes of this layer (negative, as everywhere in the platform).
inline constexpr int kParamError = -4300;      // key or IV of the wrong size
inline constexpr int kAlignmentError = -4303;  // data not a whole number of blocks
inline constexpr int kDecodeError = -4304;     // bad PKCS#7 padding on decryption
inline constexpr int kCipherFailure = -4305;   // the cipher library refused the operation

enum class Mode { ECB, CBC };
enum class Padding { None, PKCS7 };

inline constexpr size_t kAesBlockSize = 16;
inline constexpr size_t kDesBlockSize = 8;

// `iv` is used in CBC mode only; an empty IV stands for a block of zeros, any other IV must
// be exactly one block long. With `Padding::None` the data must be a whole number of blocks
// (empty data gives empty output). With PKCS#7, encryption always adds 1 to 16 (or 8) bytes
// and decryption checks and removes them.
std::optional<Bytes> aesEncrypt(const Bytes& key, const Bytes& data, Mode mode, Padding padding,
                                const Bytes& iv = {}, Error* error = nullptr);
std::optional<Bytes> aesDecrypt(const Bytes& key, const Bytes& data, Mode mode, Padding padding,
                                const Bytes& iv = {}, Error* error = nullptr);

// DES (8-byte key), two-key (16) or three-key (24) Triple-DES, chosen by the key's length.
std::optional<Bytes> desEncrypt(const Bytes& key, const Bytes& data, Mode mode, Padding padding,
                                const Bytes& iv = {}, Error* error = nullptr);
std::optional<Bytes> desDecrypt(const Bytes& key, const Bytes& data, Mode mode, Padding padding,
                                const Bytes& iv = {}, Error* error = nullptr);

}  // namespace crypto
