#pragma once
// TR-31 key blocks of version "B" (Triple-DES key block protection key, CMAC key derivation)
// as a pinpad unwraps them, and the wrapping a key-loading host does. Only two-key
// Triple-DES protection keys.

#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Bytes.h"

namespace devices::tr31 {

using foundation::Bytes;

// The CMAC (8 bytes) of `data` under the Triple-DES `key`.
Bytes cmac(const Bytes& key, const Bytes& data);

struct Unwrapped {
  Bytes key;
};
// The key inside `block` when its MAC checks out under `kbpk`.
std::optional<Unwrapped> unwrap(const Bytes& kbpk, std::string_view block);
// A version "B" block of `key` with the 16-character header fields after the version and
// length (usage, algorithm, mode, key version, exportability, "00" optional blocks, "00").
std::string wrap(const Bytes& kbpk, const Bytes& key, std::string_view usageToReserved);

}  // namespace devices::tr31
