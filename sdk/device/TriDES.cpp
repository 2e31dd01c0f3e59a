#include "sdk/device/TriDES.h"

#include "sdk/device/KXDevicesInternal.h"

namespace kestra {

namespace {

constexpr size_t kKeySize = 16;
constexpr size_t kBlock = 8;

std::optional<foundation::Bytes> run(int operation, const foundation::Bytes& data, const foundation::Bytes& key,
                                     const foundation::Bytes& iv) {
  if (key.size() != kKeySize || (!iv.empty() && iv.size() != kBlock)) return std::nullopt;
  foundation::Bytes out(data.size());
  foundation::Bytes chain = iv.empty() ? foundation::Bytes(kBlock, 0) : iv;
  if (trides_crypto(operation, data.data(), data.size(), out.data(), out.size(), key.data(), chain.data()) != 0)
    return std::nullopt;
  return out;
}

}  // namespace

std::optional<foundation::Bytes> triDESDecrypt(const foundation::Bytes& data, const foundation::Bytes& key,
                                               const foundation::Bytes& iv) {
  return run(kTridesDecrypt, data, key, iv);
}

std::optional<foundation::Bytes> triDESEncrypt(const foundation::Bytes& data, const foundation::Bytes& key) {
  return run(kTridesEncrypt, data, key, {});
}

}  // namespace kestra
