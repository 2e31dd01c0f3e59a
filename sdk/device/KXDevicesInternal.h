#pragma once
// Helpers shared by the source files of KXDevices; not part of the SDK's interface.

#include <cstddef>
#include <cstdint>
#include <functional>

namespace kestra {

class KXDevices;

// Runs an encrypted-head library call on behalf of `api`: `call` receives the owner to pass
// to the library, whose commands then travel through `api`'s routed transport.
int emsrCall(KXDevices* api, const std::function<int(void*)>& call);

// Triple-DES in CBC mode without padding over `length` bytes of `in` into `out` (room for
// `outCapacity` bytes), with the 16-byte key K1 K2 used as K1 K2 K1. `iv` is an 8-byte area
// or nullptr for zeros; when given it is replaced by the last ciphertext block of this call,
// so that consecutive calls chain like one CBC stream. Returns 0; -9 when the input is empty,
// not whole 8-byte blocks or larger than `out`; -6 when the cipher fails. Nothing is written
// to `out` or `iv` on failure.
inline constexpr int kTridesEncrypt = 0;
inline constexpr int kTridesDecrypt = 1;
int trides_crypto(int operation, const uint8_t* in, size_t length, uint8_t* out, size_t outCapacity,
                  const uint8_t* key, uint8_t* iv);

}  // namespace kestra
