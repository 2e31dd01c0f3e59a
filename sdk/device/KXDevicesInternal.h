#pragma once
// Helpers shared by the source files of KXDevices; not part of the SDK's interface.

#include <cstddef>
#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"

namespace kestra {

class KXDevices;

// Runs an encrypted-head library call on behalf of `api`: `call` receives the owner to pass
// to the library, whose commands then travel through `api`'s routed transport.
int emsrCall(KXDevices* api, const std::function<int(void*)>& call);

// The key bytes of a PEM public key: the Base64 text between "PUBLIC KEY-----" and the next
// "-----", line breaks left out. Nothing when either marker is missing or the text does not
// decode.
std::optional<foundation::Bytes> ConvertPEM2Data(const std::string& pem);

// The 756 built-in test public parameters of the Voltage module.
const foundation::Bytes& gTestIBEParams();

// A fingerprint reply: ASCII decimal status digits (anything before the first digit is
// skipped), one separator byte, then the payload. The payload on status 0; nothing
// otherwise, with an error whose code is the status and whose text is "Touch failed" (a
// reply without a status, or nothing at all: no error). Never reads past the reply.
std::optional<foundation::Bytes> touchParseResponse(const std::optional<foundation::Bytes>& reply,
                                                    foundation::Error* error);
std::optional<std::string> touchParseResponseAsString(const std::optional<foundation::Bytes>& reply,
                                                      foundation::Error* error);
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
