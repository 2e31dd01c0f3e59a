// Which connected receipt printer is the active one, and the Triple-DES CBC primitive of the
// contactless card routines.

#include <gtest/gtest.h>

#include "platform/crypto/Cipher.h"
#include "sdk/device/KXDevicesInternal.h"
#include "sdk/device/KXDevicesTestSupport.h"

namespace kestra::testing {
namespace {

TEST(KXDevicesActivePrinter, TheIndexCountsConnectedPrintersAndFallsBackToSlotZero) {
  struct Case {
    const char* name;
    bool first, second;  // connected slots
    int index;
    const char* printer;  // the one that prints
  } cases[] = {
      {"only the second, index 0", false, true, 0, "printer1"},
      {"only the second, index 1: slot 0", false, true, 1, "printer0"},
      {"both, index 1", true, true, 1, "printer1"},
      {"both, index 0", true, true, 0, "printer0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ApiFixture f;
    // The index and the type are chosen while both are connected; then the slots take the
    // case's states.
    f.printerState(0, 2);
    f.printerState(1, 2);
    ASSERT_TRUE(f.api->setActiveDeviceIndexForType(DEVICE_TYPE_PRINTER, c.index));
    // An explicit printer type reaches the active printer without a connection test.
    ASSERT_TRUE(f.api->setActiveDeviceType(DEVICE_TYPE_PRINTER));
    f.printerState(0, c.first ? 2 : 0);
    f.printerState(1, c.second ? 2 : 0);
    ASSERT_TRUE(f.api->prnPrintText("x"));
    EXPECT_EQ(f.drivers.log->count(std::string(c.printer) + ".printText:x"), 1u);
  }
  // Indexes outside the two slots are refused.
  ApiFixture f;
  f.printerState(0, 2);
  Error e;
  EXPECT_FALSE(f.api->setActiveDeviceIndexForType(DEVICE_TYPE_PRINTER, -1, &e));
  EXPECT_EQ(e.code, -9);
  EXPECT_FALSE(f.api->setActiveDeviceIndexForType(DEVICE_TYPE_PRINTER, 2, &e));
  EXPECT_EQ(e.code, -9);
}

const uint8_t kKey[16] = {0x01, 0x23, 0x45, 0x67, 0x89, 0xAB, 0xCD, 0xEF,
                          0xFE, 0xDC, 0xBA, 0x98, 0x76, 0x54, 0x32, 0x10};

TEST(KXDevicesTrides, ChainedCallsDecryptLikeOneStream) {
  Bytes plain(16);
  for (size_t i = 0; i < plain.size(); ++i) plain[i] = uint8_t(i * 11);
  const Bytes iv0 = {1, 2, 3, 4, 5, 6, 7, 8};

  // Encrypted in one call, against the cipher layer with the key expanded to K1 K2 K1.
  Bytes cipher(16);
  Bytes iv = iv0;
  ASSERT_EQ(trides_crypto(kTridesEncrypt, plain.data(), 16, cipher.data(), cipher.size(), kKey, iv.data()), 0);
  Bytes key24(kKey, kKey + 16);
  key24.insert(key24.end(), kKey, kKey + 8);
  EXPECT_EQ(crypto::desEncrypt(key24, plain, crypto::Mode::CBC, crypto::Padding::None, iv0), cipher);
  EXPECT_EQ(iv, Bytes(cipher.begin() + 8, cipher.end()));  // the last ciphertext block

  // Decrypted in two 8-byte calls sharing one IV area: the same plain text.
  iv = iv0;
  Bytes out(16);
  ASSERT_EQ(trides_crypto(kTridesDecrypt, cipher.data(), 8, out.data(), 8, kKey, iv.data()), 0);
  EXPECT_EQ(iv, Bytes(cipher.begin(), cipher.begin() + 8));
  ASSERT_EQ(trides_crypto(kTridesDecrypt, cipher.data() + 8, 8, out.data() + 8, 8, kKey, iv.data()), 0);
  EXPECT_EQ(out, plain);

  // Without an IV area the IV is zeros.
  Bytes zeroIv(16);
  ASSERT_EQ(trides_crypto(kTridesEncrypt, plain.data(), 16, zeroIv.data(), 16, kKey, nullptr), 0);
  EXPECT_EQ(crypto::desEncrypt(key24, plain, crypto::Mode::CBC, crypto::Padding::None), zeroIv);
}

TEST(KXDevicesTrides, InputThatIsNotWholeBlocksOrTooLargeIsRefusedUntouched) {
  const Bytes in(24, 0x5A);
  struct Case {
    const char* name;
    size_t length, capacity;
  } cases[] = {{"empty", 0, 24}, {"not whole blocks", 12, 24}, {"larger than the output", 24, 16}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes out(24, 0xEE);
    Bytes iv(8, 0x77);
    EXPECT_EQ(trides_crypto(kTridesDecrypt, in.data(), c.length, out.data(), c.capacity, kKey, iv.data()), -9);
    EXPECT_EQ(out, Bytes(24, 0xEE));
    EXPECT_EQ(iv, Bytes(8, 0x77));
  }
}

}  // namespace
}  // namespace kestra::testing
