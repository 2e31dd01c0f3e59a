#include <gtest/gtest.h>

#include "platform/crypto/Cipher.h"
#include "sdk/foundation/AESCrypto.h"
#include "sdk/foundation/KXBase64.h"
#include "sdk/foundation/KXUNISDKGlobals.h"

namespace kestra {
namespace {

using foundation::Bytes;

Bytes H(std::string_view hex) { return KXUNISDKGlobals::stringToData(hex); }
Bytes slice(const Bytes& b, size_t from, size_t n) {
  return Bytes(b.begin() + std::ptrdiff_t(from), b.begin() + std::ptrdiff_t(from + n));
}

// NIST SP 800-67 Rev. 1 appendix B (three-key TDEA, ECB).
const Bytes kTdeaKey = H("0123456789ABCDEF 23456789ABCDEF01 456789ABCDEF0123");
const Bytes kTdeaPlain = H("5468652071756663 6B2062726F776E20 666F78206A756D70");
const Bytes kTdeaCipher = H("A826FD8CE53B855F CCE21C8112256FE6 68D5C05DD9B6B900");

TEST(DesHelperTest, FlagSelectsEcbWithoutPaddingOrCbcWithPadding) {
  auto ecb = KXUNISDKGlobals::desEncrypt(kTdeaPlain, kTdeaKey, true);
  ASSERT_TRUE(ecb);
  EXPECT_EQ(*ecb, kTdeaCipher);

  // CBC with zero IV over one block is ECB of that block; PKCS#7 adds a full block.
  auto cbc = KXUNISDKGlobals::desEncrypt(slice(kTdeaPlain, 0, 8), kTdeaKey, false);
  ASSERT_TRUE(cbc);
  ASSERT_EQ(cbc->size(), 16u);
  EXPECT_EQ(slice(*cbc, 0, 8), slice(kTdeaCipher, 0, 8));

  // Decryption is CBC without padding whatever the flag: the padding block stays.
  for (bool flag : {false, true}) {
    auto back = KXUNISDKGlobals::desDecrypt(*cbc, kTdeaKey, flag);
    ASSERT_TRUE(back);
    ASSERT_EQ(back->size(), 16u);
    EXPECT_EQ(slice(*back, 0, 8), slice(kTdeaPlain, 0, 8));
    EXPECT_EQ(slice(*back, 8, 8), Bytes(8, 0x08));
  }

  // A given IV chains: decrypting with the same IV restores the text.
  const Bytes iv = H("0001020304050607");
  auto withIv = KXUNISDKGlobals::desEncrypt(kTdeaPlain, kTdeaKey, false, iv);
  auto plainBack = KXUNISDKGlobals::desDecrypt(*withIv, kTdeaKey, false, iv);
  EXPECT_EQ(slice(*plainBack, 0, 24), kTdeaPlain);
}

TEST(DesHelperTest, KeyExpansionAndRefusals) {
  const Bytes k16 = slice(kTdeaKey, 0, 16);
  const Bytes expanded = desExpandKey(k16);
  ASSERT_EQ(expanded.size(), 24u);
  EXPECT_EQ(slice(expanded, 16, 8), slice(expanded, 0, 8));
  EXPECT_EQ(desExpandKey(Bytes(20, 1)).size(), 24u);
  EXPECT_EQ(desExpandKey(Bytes(32, 1)), Bytes(24, 1));
  EXPECT_TRUE(desExpandKey(Bytes(15, 1)).empty());

  Error err;
  EXPECT_FALSE(KXUNISDKGlobals::desEncrypt(kTdeaPlain, Bytes(8, 1), true, {}, &err));
  EXPECT_EQ(err.code, -9);
  EXPECT_EQ(err.domain, kSDKErrorDomain);
  EXPECT_FALSE(KXUNISDKGlobals::desEncrypt(Bytes(9, 0), kTdeaKey, true));
  EXPECT_FALSE(KXUNISDKGlobals::desDecrypt(Bytes(12, 0), kTdeaKey, false));
  EXPECT_FALSE(KXUNISDKGlobals::desDecrypt(Bytes(16, 0), kTdeaKey, false, Bytes(4, 0)));
}

// NIST SP 800-38A F.2.1 and F.2.5 (CBC).
const Bytes kPlain = H("6bc1bee22e409f96e93d7e117393172a ae2d8a571e03ac9c9eb76fac45af8e51"
                       "30c81c46a35ce411e5fbc1191a0a52ef f69f2445df4f9b17ad2b417be66c3710");
const Bytes kIv = H("000102030405060708090a0b0c0d0e0f");

TEST(AESCryptoTest, MatchesSp80038aAndChainsTheIv) {
  struct Case { const char* name; Bytes key; Bytes cipher; };
  const Case cases[] = {
      {"AES-128", H("2b7e151628aed2a6abf7158809cf4f3c"),
       H("7649abac8119b246cee98e9b12e9197d 5086cb9b507219ee95db113a917678b2"
         "73bed6b8e3c1743b7116e69e22229516 3ff1caa1681fac09120eca307586e1a7")},
      {"AES-256", H("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4"),
       H("f58c4c04d6e5f1ba779eabfb5f7bfbd6 9cfc4e967edb808d679f777bc6702c7d"
         "39f23369a9d9bacfa530e26304231461 b2eb05e2c39be9fcda6c19078c6a9d1b")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    AESCrypto aes = AESCrypto::cryptoWithKey(c.key);
    aes.iv = kIv;
    EXPECT_EQ(aes.encryptData(kPlain), c.cipher);
    EXPECT_EQ(aes.decryptData(c.cipher), kPlain);

    // With keepIV two calls of two blocks each give the one-call answer.
    AESCrypto chained = AESCrypto::cryptoWithKey(c.key);
    chained.iv = kIv;
    chained.keepIV = true;
    Bytes joined = *chained.encryptData(slice(kPlain, 0, 32));
    const Bytes second = *chained.encryptData(slice(kPlain, 32, 32));
    joined.insert(joined.end(), second.begin(), second.end());
    EXPECT_EQ(joined, c.cipher);

    chained.iv = kIv;
    Bytes back = *chained.decryptData(slice(c.cipher, 0, 16));
    const Bytes rest = *chained.decryptData(slice(c.cipher, 16, 48));
    back.insert(back.end(), rest.begin(), rest.end());
    EXPECT_EQ(back, kPlain);
  }
}

TEST(AESCryptoTest, KeySizesAndRefusals) {
  // A 24-byte key runs AES-256 with eight zero bytes appended; a short key is zero-padded.
  const Bytes k24 = H("8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b");
  Bytes k32 = k24;
  k32.resize(32, 0);
  EXPECT_EQ(AESCrypto::cryptoWithKey(k24).encryptData(kPlain),
            crypto::aesEncrypt(k32, kPlain, crypto::Mode::CBC, crypto::Padding::None));
  Bytes k16 = H("2b7e1516");
  Bytes k16padded = k16;
  k16padded.resize(16, 0);
  EXPECT_EQ(AESCrypto::cryptoWithKey(k16).encryptData(kPlain),
            crypto::aesEncrypt(k16padded, kPlain, crypto::Mode::CBC, crypto::Padding::None));

  Error err;
  EXPECT_FALSE(AESCrypto::cryptoWithKey(Bytes(33, 1)).encryptData(kPlain, &err));
  EXPECT_EQ(err.code, -9);
  EXPECT_FALSE(AESCrypto::cryptoWithKey(Bytes(16, 1)).encryptData(Bytes(17, 0)));
  AESCrypto badIv = AESCrypto::cryptoWithKey(Bytes(16, 1));
  badIv.iv = Bytes(8, 0);
  EXPECT_FALSE(badIv.encryptData(Bytes(16, 0)));
  EXPECT_EQ(AESCrypto::cryptoWithKey(Bytes(16, 1)).encryptData({}), Bytes{});
}

TEST(KXBase64Test, Rfc4648Vectors) {
  struct Case { const char* text; const char* base64; };
  const Case cases[] = {
      {"f", "Zg=="}, {"fo", "Zm8="}, {"foo", "Zm9v"}, {"foob", "Zm9vYg=="},
      {"fooba", "Zm9vYmE="}, {"foobar", "Zm9vYmFy"}, {"abc", "YWJj"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(KXBase64::encodeBase64WithString(c.text), c.base64);
    const std::string t = c.text;
    EXPECT_EQ(KXBase64::decodeBase64WithString(c.base64), Bytes(t.begin(), t.end()));
  }
  EXPECT_FALSE(KXBase64::encodeBase64WithData({}));
  const Bytes all = [] { Bytes b; for (int i = 0; i < 256; ++i) b.push_back(uint8_t(i)); return b; }();
  EXPECT_EQ(KXBase64::decodeBase64WithString(*KXBase64::encodeBase64WithData(all)), all);
}

TEST(KXBase64Test, DecodingSkipsWhiteSpaceAndRefusesAnythingElse) {
  EXPECT_EQ(KXBase64::decodeBase64WithString("YW\nJj"), Bytes({'a', 'b', 'c'}));
  EXPECT_EQ(KXBase64::decodeBase64WithString(" Zm9v\r\n\tYmFy \f"), Bytes({'f', 'o', 'o', 'b', 'a', 'r'}));
  EXPECT_EQ(KXBase64::decodeBase64WithString("Zm8"), Bytes({'f', 'o'}));  // padding left off
  EXPECT_EQ(KXBase64::decodeBase64WithString(""), Bytes{});
  for (const char* bad : {"YW!j", "YWJj\x80", "Z===", "Zg=a", "Zg==Zg==", "Z", "Zm9vY", "=Zg=", "Zg="}) {
    EXPECT_FALSE(KXBase64::decodeBase64WithString(bad)) << bad;
  }
}

}  // namespace
}  // namespace kestra
