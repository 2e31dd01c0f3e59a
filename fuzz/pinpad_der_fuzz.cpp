// Feeds arbitrary bytes to the reader of DER public keys that the pinpad loads for card
// data. It must refuse or read a 2048-bit modulus and an exponent of at most three bytes,
// never reading outside the input.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "sdk/pinpad/PPadKeys.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const auto key = kestra::ppad::rsaKeyFromDER(data, size);
  if (!key) return 0;
  if (key->modulus[0] == 0) std::abort();  // a leading zero byte is never part of the modulus
  if (key->exponent[0] == 0 && key->exponent[1] == 0 && key->exponent[2] == 0) std::abort();
  return 0;
}
