#pragma once
// Message digests (SHA-1 and SHA-256) and random bytes. Stateless; any thread.

#include <array>
#include <cstddef>
#include <cstdint>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"

namespace crypto {

using Sha1Digest = std::array<uint8_t, 20>;
using Sha256Digest = std::array<uint8_t, 32>;

Sha1Digest sha1(const uint8_t* data, size_t len);
Sha256Digest sha256(const uint8_t* data, size_t len);
inline Sha1Digest sha1(const foundation::Bytes& b) { return sha1(b.data(), b.size()); }
inline Sha256Digest sha256(const foundation::Bytes& b) { return sha256(b.data(), b.size()); }

// Fills `out` with `len` bytes from the system's cryptographic random source. Returns false
// (and fills `error`) only when the source fails, which leaves `out` unspecified.
bool randomBytes(uint8_t* out, size_t len, foundation::Error* error = nullptr);
// `len` random bytes; empty when the source fails.
foundation::Bytes randomBytes(size_t len);

}  // namespace crypto
