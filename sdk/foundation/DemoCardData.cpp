#include "sdk/foundation/DemoCardData.h"

#include "sdk/foundation/AESCrypto.h"
#include "sdk/foundation/KXUNISDKGlobals.h"

namespace kestra {

namespace {
constexpr size_t kHeaderSize = 20;
}  // namespace

const foundation::Bytes& KEY_AES256_DUMMY() {
  static const foundation::Bytes key =
      *foundation::fromHex("8c1f4e07b2d95a63e0f71c48a9b236d5f04e8a17c3b95d62a7e01f4c8b3d9265");
  return key;
}

std::optional<foundation::Bytes> decryptDemoTrackBlock(const foundation::Bytes& data,
                                                       const foundation::Bytes& key) {
  auto plain = AESCrypto::cryptoWithKey(key).AESOperation(1, data);
  if (!plain || plain->empty()) return std::nullopt;
  const foundation::Bytes& b = *plain;
  std::optional<foundation::Bytes> result;
  for (size_t p = kHeaderSize + 1; p + 2 < b.size(); ++p) {
    if (b[p] != 0x00) continue;
    if (KXUNISDKGlobals::crc16ccit(b.data(), uint32_t(p + 1), 0) == foundation::readBE16(&b[p + 1])) {
      result = foundation::Bytes(b.begin() + long(kHeaderSize), b.begin() + long(p));
      break;
    }
  }
  foundation::secureClear(*plain);
  return result;
}

}  // namespace kestra
