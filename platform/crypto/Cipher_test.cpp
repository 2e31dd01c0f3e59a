#include "platform/crypto/Cipher.h"

#include <gtest/gtest.h>

#include <string>

namespace crypto {
namespace {

Bytes H(std::string_view hex) {
  Bytes out;
  int pending = -1;
  for (char c : hex) {
    int v = (c >= '0' && c <= '9') ? c - '0' : (c >= 'a' && c <= 'f') ? c - 'a' + 10
          : (c >= 'A' && c <= 'F') ? c - 'A' + 10 : -1;
    if (v < 0) continue;
    if (pending < 0) pending = v; else { out.push_back(uint8_t(pending << 4 | v)); pending = -1; }
  }
  return out;
}

// NIST SP 800-38A, appendix F: the four plaintext blocks shared by every example.
const Bytes kSp80038aPlain = H(
    "6bc1bee22e409f96e93d7e117393172a ae2d8a571e03ac9c9eb76fac45af8e51"
    "30c81c46a35ce411e5fbc1191a0a52ef f69f2445df4f9b17ad2b417be66c3710");
const Bytes kSp80038aIv = H("000102030405060708090a0b0c0d0e0f");

struct AesCase {
  const char* name;
  Bytes key;
  Mode mode;
  Bytes plain;
  Bytes cipher;
};

TEST(AesTest, MatchesPublishedVectorsBothWays) {
  const Bytes k128 = H("2b7e151628aed2a6abf7158809cf4f3c");
  const Bytes k192 = H("8e73b0f7da0e6452c810f32b809079e562f8ead2522c6b7b");
  const Bytes k256 = H("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
  const AesCase cases[] = {
      // FIPS-197 appendix C (single block, ECB).
      {"FIPS-197 C.1", H("000102030405060708090a0b0c0d0e0f"), Mode::ECB,
       H("00112233445566778899aabbccddeeff"), H("69c4e0d86a7b0430d8cdb78070b4c55a")},
      {"FIPS-197 C.2", H("000102030405060708090a0b0c0d0e0f1011121314151617"), Mode::ECB,
       H("00112233445566778899aabbccddeeff"), H("dda97ca4864cdfe06eaf70a0ec0d7191")},
      {"FIPS-197 C.3", H("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f"),
       Mode::ECB, H("00112233445566778899aabbccddeeff"), H("8ea2b7ca516745bfeafc49904b496089")},
      // SP 800-38A F.1 (ECB) and F.2 (CBC).
      {"F.1.1 ECB-AES128", k128, Mode::ECB, kSp80038aPlain,
       H("3ad77bb40d7a3660a89ecaf32466ef97 f5d3d58503b9699de785895a96fdbaaf"
         "43b1cd7f598ece23881b00e3ed030688 7b0c785e27e8ad3f8223207104725dd4")},
      {"F.1.3 ECB-AES192", k192, Mode::ECB, kSp80038aPlain,
       H("bd334f1d6e45f25ff712a214571fa5cc 974104846d0ad3ad7734ecb3ecee4eef"
         "ef7afd2270e2e60adce0ba2face6444e 9a4b41ba738d6c72fb16691603c18e0e")},
      {"F.1.5 ECB-AES256", k256, Mode::ECB, kSp80038aPlain,
       H("f3eed1bdb5d2a03c064b5a7e3db181f8 591ccb10d410ed26dc5ba74a31362870"
         "b6ed21b99ca6f4f9f153e7b1beafed1d 23304b7a39f9f3ff067d8d8f9e24ecc7")},
      {"F.2.1 CBC-AES128", k128, Mode::CBC, kSp80038aPlain,
       H("7649abac8119b246cee98e9b12e9197d 5086cb9b507219ee95db113a917678b2"
         "73bed6b8e3c1743b7116e69e22229516 3ff1caa1681fac09120eca307586e1a7")},
      {"F.2.3 CBC-AES192", k192, Mode::CBC, kSp80038aPlain,
       H("4f021db243bc633d7178183a9fa071e8 b4d9ada9ad7dedf4e5e738763f69145a"
         "571b242012fb7ae07fa9baac3df102e0 08b0e27988598881d920a9e64f5615cd")},
      {"F.2.5 CBC-AES256", k256, Mode::CBC, kSp80038aPlain,
       H("f58c4c04d6e5f1ba779eabfb5f7bfbd6 9cfc4e967edb808d679f777bc6702c7d"
         "39f23369a9d9bacfa530e26304231461 b2eb05e2c39be9fcda6c19078c6a9d1b")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const Bytes iv = c.mode == Mode::CBC ? kSp80038aIv : Bytes{};
    auto enc = aesEncrypt(c.key, c.plain, c.mode, Padding::None, iv);
    ASSERT_TRUE(enc);
    EXPECT_EQ(*enc, c.cipher);
    auto dec = aesDecrypt(c.key, c.cipher, c.mode, Padding::None, iv);
    ASSERT_TRUE(dec);
    EXPECT_EQ(*dec, c.plain);
  }
}

TEST(AesTest, Pkcs7AddsAFullBlockToAlignedDataAndStripsItAgain) {
  const Bytes key = H("2b7e151628aed2a6abf7158809cf4f3c");
  const Bytes block1(kSp80038aPlain.begin(), kSp80038aPlain.begin() + 16);
  auto enc = aesEncrypt(key, block1, Mode::ECB, Padding::PKCS7);
  ASSERT_TRUE(enc);
  ASSERT_EQ(enc->size(), 32u);
  // First block: the SP 800-38A answer; second: the cipher of sixteen 0x10 bytes.
  EXPECT_EQ(Bytes(enc->begin(), enc->begin() + 16), H("3ad77bb40d7a3660a89ecaf32466ef97"));
  auto padBlock = aesEncrypt(key, Bytes(16, 0x10), Mode::ECB, Padding::None);
  EXPECT_EQ(Bytes(enc->begin() + 16, enc->end()), *padBlock);
  auto dec = aesDecrypt(key, *enc, Mode::ECB, Padding::PKCS7);
  ASSERT_TRUE(dec);
  EXPECT_EQ(*dec, block1);

  for (size_t n : {0u, 1u, 15u, 17u, 31u}) {
    SCOPED_TRACE(n);
    Bytes plain(n, 0xA5);
    auto e = aesEncrypt(key, plain, Mode::CBC, Padding::PKCS7, kSp80038aIv);
    ASSERT_TRUE(e);
    EXPECT_EQ(e->size(), (n / 16 + 1) * 16);
    auto d = aesDecrypt(key, *e, Mode::CBC, Padding::PKCS7, kSp80038aIv);
    ASSERT_TRUE(d);
    EXPECT_EQ(*d, plain);
  }
}

TEST(AesTest, BadPaddingIsADecodeError) {
  const Bytes key(16, 1);
  // A block whose plain text ends in 0x00 is never valid PKCS#7.
  auto enc = aesEncrypt(key, Bytes(16, 0), Mode::ECB, Padding::None);
  Error err;
  EXPECT_FALSE(aesDecrypt(key, *enc, Mode::ECB, Padding::PKCS7, {}, &err));
  EXPECT_EQ(err.code, kDecodeError);
  EXPECT_EQ(err.domain, kCryptoErrorDomain);
}

TEST(CipherTest, RefusesWrongLengthsWithClearErrors) {
  struct Case {
    const char* name;
    bool aes;
    size_t keyLen;
    size_t dataLen;
    Padding padding;
    size_t ivLen;
    bool encrypt;
    int code;
  };
  const Case cases[] = {
      {"AES key 15", true, 15, 16, Padding::None, 0, true, kParamError},
      {"AES key 33", true, 33, 16, Padding::None, 0, true, kParamError},
      {"AES key 0", true, 0, 16, Padding::None, 0, true, kParamError},
      {"AES data 17 unpadded", true, 16, 17, Padding::None, 0, true, kAlignmentError},
      {"AES IV 8", true, 16, 16, Padding::None, 8, true, kParamError},
      {"AES padded decrypt 20", true, 16, 20, Padding::PKCS7, 0, false, kAlignmentError},
      {"AES padded decrypt empty", true, 16, 0, Padding::PKCS7, 0, false, kAlignmentError},
      {"DES key 7", false, 7, 8, Padding::None, 0, true, kParamError},
      {"DES key 12", false, 12, 8, Padding::None, 0, true, kParamError},
      {"DES key 32", false, 32, 8, Padding::None, 0, true, kParamError},
      {"DES data 9 unpadded", false, 24, 9, Padding::None, 0, false, kAlignmentError},
      {"DES IV 16", false, 16, 8, Padding::None, 16, true, kParamError},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Bytes key(c.keyLen, 0x11), data(c.dataLen, 0x22), iv(c.ivLen, 0);
    Error err;
    std::optional<Bytes> r;
    if (c.aes)
      r = c.encrypt ? aesEncrypt(key, data, Mode::CBC, c.padding, iv, &err)
                    : aesDecrypt(key, data, Mode::CBC, c.padding, iv, &err);
    else
      r = c.encrypt ? desEncrypt(key, data, Mode::CBC, c.padding, iv, &err)
                    : desDecrypt(key, data, Mode::CBC, c.padding, iv, &err);
    EXPECT_FALSE(r);
    EXPECT_EQ(err.code, c.code);
    EXPECT_FALSE(err.text.empty());
  }
}

TEST(DesTest, MatchesPublishedVectors) {
  struct Case {
    const char* name;
    Bytes key;
    Mode mode;
    Bytes iv;
    Bytes plain;
    Bytes cipher;
  };
  const Case cases[] = {
      // The worked DES example of FIPS 46 teaching material (key 133457799BBCDFF1).
      {"DES ECB", H("133457799BBCDFF1"), Mode::ECB, {}, H("0123456789ABCDEF"),
       H("85E813540F0AB405")},
      // NIST SP 800-67 Rev. 1, appendix B: three-key TDEA in ECB.
      {"SP 800-67 TDEA ECB",
       H("0123456789ABCDEF 23456789ABCDEF01 456789ABCDEF0123"), Mode::ECB, {},
       H("5468652071756663 6B2062726F776E20 666F78206A756D70"),
       H("A826FD8CE53B855F CCE21C8112256FE6 68D5C05DD9B6B900")},
      // Two-key TDEA equals three-key TDEA with K3 = K1 (SP 800-67 keying option 2).
      {"SP 800-67 TDEA keying option 2", H("0123456789ABCDEF 23456789ABCDEF01"), Mode::ECB, {},
       H("5468652071756663"), H("")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    auto enc = desEncrypt(c.key, c.plain, c.mode, Padding::None, c.iv);
    ASSERT_TRUE(enc);
    if (!c.cipher.empty()) {
      EXPECT_EQ(*enc, c.cipher);
      auto dec = desDecrypt(c.key, c.cipher, c.mode, Padding::None, c.iv);
      ASSERT_TRUE(dec);
      EXPECT_EQ(*dec, c.plain);
    } else {
      Bytes k3 = c.key;
      k3.insert(k3.end(), c.key.begin(), c.key.begin() + 8);
      EXPECT_EQ(*enc, *desEncrypt(k3, c.plain, c.mode, Padding::None));
    }
  }
}

TEST(DesTest, CbcChainsBlocksThroughTheIv) {
  // CBC by hand from the single-block ECB answer of SP 800-67: C1 = E(P1 ^ IV) and
  // C2 = E(P2 ^ C1), with the published ECB cipher of each block.
  const Bytes key = H("0123456789ABCDEF 23456789ABCDEF01 456789ABCDEF0123");
  const Bytes iv = H("F69F2445DF4F9B17");
  const Bytes plain = H("5468652071756663 6B2062726F776E20");
  auto cbc = desEncrypt(key, plain, Mode::CBC, Padding::None, iv);
  ASSERT_TRUE(cbc);
  Bytes x1(8);
  for (int i = 0; i < 8; ++i) x1[i] = plain[i] ^ iv[i];
  auto c1 = desEncrypt(key, x1, Mode::ECB, Padding::None);
  Bytes x2(8);
  for (int i = 0; i < 8; ++i) x2[i] = plain[8 + i] ^ (*c1)[i];
  auto c2 = desEncrypt(key, x2, Mode::ECB, Padding::None);
  EXPECT_EQ(Bytes(cbc->begin(), cbc->begin() + 8), *c1);
  EXPECT_EQ(Bytes(cbc->begin() + 8, cbc->end()), *c2);
  auto back = desDecrypt(key, *cbc, Mode::CBC, Padding::None, iv);
  EXPECT_EQ(*back, plain);

  auto padded = desEncrypt(key, plain, Mode::CBC, Padding::PKCS7, iv);
  ASSERT_TRUE(padded);
  EXPECT_EQ(padded->size(), 24u);
  EXPECT_EQ(*desDecrypt(key, *padded, Mode::CBC, Padding::PKCS7, iv), plain);
}

}  // namespace
}  // namespace crypto
