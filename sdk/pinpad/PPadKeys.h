#pragma once
// Readers of the pinpad's key material, as pure functions over bytes (no I/O, no driver):
// the key inventory reply, an RSA public key given in DER, and the header of a TR-31 key
// block. Each reads only inside the bytes it is given and refuses what does not fit.

#include <array>
#include <cstddef>
#include <cstdint>
#include <optional>
#include <string_view>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "sdk/pinpad/KXPinpadInfo.h"

namespace kestra::ppad {

// One 8-byte key-info record (check value 3, type 1, usage 2, mode 1, version 1) at `p`,
// for key number `position`.
KXKeyInfo keyInfoFromRecord(int position, const uint8_t* p);

// The key inventory reply: 9-byte entries (key number + record) until a 0xFF byte, then
// DUKPT entries (key number, type, KSN length N, N KSN bytes, 2 more bytes when N < 12)
// until a 0xFF byte. Either list also ends at the end of the reply; an entry cut short by
// the end of the reply is dropped.
std::vector<KXKeyInfo> parseKeysInfo(const foundation::Bytes& reply);

// An RSA public key as the pinpad loads it for encrypted card data.
struct RSAPublicKeyParts {
  std::array<uint8_t, 256> modulus{};   // 2048 bits, most significant byte first
  std::array<uint8_t, 3> exponent{};    // right-aligned
};

// The modulus and exponent of a DER (BER) public key: the INTEGERs met after the
// rsaEncryption identifier 1.2.840.113549.1.1.1. Nothing when the input is empty, an element
// runs past the input or is longer than 4096 bytes, a length takes more than 4 bytes, the
// modulus is not 2048 bits (256 bytes, or 257 with a leading zero), the exponent is longer
// than 3 bytes or zero, or either is missing.
std::optional<RSAPublicKeyParts> rsaKeyFromDER(const uint8_t* data, size_t length);

// The fixed 16-character header of a TR-31 key block.
struct TR31Header {
  char version = 0;           // 'A', 'B', 'C' or 'D'
  size_t length = 0;          // the whole block, in characters
  std::string_view usage;     // two characters
  char algorithm = 0;
  char modeOfUse = 0;
  std::string_view keyVersion;
  char exportability = 0;
  int optionalBlocks = 0;
};

// The header of `block` when it is well formed: printable ASCII throughout, a known version,
// a decimal length equal to the block's length and a multiple of 8 (the key and MAC are
// hexadecimal digits of whole cipher blocks), and a decimal count of optional blocks.
std::optional<TR31Header> readTR31Header(std::string_view block);

}  // namespace kestra::ppad
