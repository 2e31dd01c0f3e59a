#include "sdk/device/TriDES.h"

#include "platform/crypto/Cipher.h"

namespace kestra {

namespace {
constexpr size_t kKeySize = 16;
}  // namespace

std::optional<foundation::Bytes> triDESDecrypt(const foundation::Bytes& data, const foundation::Bytes& key,
                                               const foundation::Bytes& iv) {
  if (key.size() != kKeySize) return std::nullopt;
  return crypto::desDecrypt(key, data, crypto::Mode::CBC, crypto::Padding::None, iv);
}

std::optional<foundation::Bytes> triDESEncrypt(const foundation::Bytes& data, const foundation::Bytes& key) {
  if (key.size() != kKeySize) return std::nullopt;
  return crypto::desEncrypt(key, data, crypto::Mode::CBC, crypto::Padding::None);
}

}  // namespace kestra
