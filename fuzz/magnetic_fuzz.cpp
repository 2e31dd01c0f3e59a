// Feeds arbitrary card events to the device API's magnetic-card path: plain track buffers,
// data under the dummy AES and 3DES keys (the input is encrypted first, so the decrypted
// record's parser sees the fuzzer's bytes), TransArmor record lists and the other encrypted
// forms. A delegate that implements every magnetic callback receives what they deliver;
// nothing may read outside the data, and a decrypted track buffer lies inside the plaintext.
//
// Input: [encryption selector][tracks][data...].
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/foundation/RunLoop.h"
#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/foundation/AESCrypto.h"
#include "sdk/foundation/KXUNISDKGlobals.h"

namespace {

using namespace kestra;

constexpr int kEncryptions[] = {0, 2, 3, 7, 8, 11, 13, 16, 1};

testing::ApiFixture& fixture() {
  static auto* f = [] {
    auto* made = new testing::ApiFixture();
    made->delegate("fuzz", {kxsel::magneticCardData, kxsel::magneticCardData_source,
                            kxsel::magneticCardReadFailed_reason, kxsel::magneticJISCardData,
                            kxsel::magneticCardEncryptedData, kxsel::magneticCardEncryptedData_masked,
                            kxsel::magneticCardEncryptedData_masked_source});
    return made;
  }();
  return *f;
}

// The data padded to whole blocks and encrypted under the dummy key of `encryption`.
std::optional<Bytes> underDummyKey(int encryption, Bytes plain) {
  const size_t block = encryption == 7 ? 8 : 16;
  while (plain.empty() || plain.size() % block) plain.push_back(0);
  if (encryption == 7) return KXUNISDKGlobals::desEncrypt(plain, KXDevices::dummy3DESKey(), true);
  return AESCrypto::cryptoWithKey(KXDevices::dummyAESKey()).AESOperation(0, plain);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  auto& f = fixture();
  const int encryption = kEncryptions[(data[0] & 0x7F) % std::size(kEncryptions)];
  const bool encryptFirst = data[0] & 0x80;
  const int tracks = data[1];
  Bytes payload(data + 2, data + size);
  if (encryptFirst && (encryption == 2 || encryption == 7)) {
    auto sealed = underDummyKey(encryption, payload);
    if (!sealed) std::abort();
    if (auto plain = f.api->decryptDummyData(encryption, *sealed, encryption == 7 ? KXDevices::dummy3DESKey()
                                                                                  : KXDevices::dummyAESKey());
        plain && plain->size() > sealed->size())
      std::abort();
    payload = std::move(*sealed);
  }
  const std::optional<std::string> masked("4111********1111");
  f.api->kxdev_magneticCardEncryptedData(encryption, tracks, payload, masked, std::nullopt, std::nullopt, 0);
  f.api->processPlainCardData(data + 2, int(size - 2), 1);
  foundation::RunLoop::main().runOnce(std::chrono::milliseconds(0));
  f.events->clear();
  return 0;
}
