#include "platform/foundation/Uuid.h"

#include <sys/random.h>

#include <cstdint>
#include <random>

#include "platform/foundation/Bytes.h"

namespace foundation {

std::string uuidString() {
  uint8_t b[16];
  if (getrandom(b, sizeof b, 0) != ssize_t(sizeof b)) {
    std::random_device rd;
    for (auto& x : b) x = uint8_t(rd());
  }
  b[6] = uint8_t((b[6] & 0x0F) | 0x40);  // version 4
  b[8] = uint8_t((b[8] & 0x3F) | 0x80);  // RFC 4122 variant
  std::string h = toHex(b, sizeof b);
  return h.substr(0, 8) + "-" + h.substr(8, 4) + "-" + h.substr(12, 4) + "-" + h.substr(16, 4) +
         "-" + h.substr(20);
}

}  // namespace foundation
