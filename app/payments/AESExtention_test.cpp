// The card cipher: key records, the two text forms the back office reads, the cipher calls'
// length rules, the public AES vector, and the round trip through the server's reading.
#include "app/payments/AESExtention.h"

#include <gtest/gtest.h>

#include <set>

#include "platform/foundation/Paths.h"
#include "testing/app/LoginTestSupport.h"
#include "testing/backoffice/PaymentOperations.h"

namespace orvo {
namespace {

using foundation::Bytes;

TEST(CardCipherText, RandomNumberPrefixAndCipherBytes) {
  struct Case { int n; const char* prefix; };
  for (const Case& c : {Case{0, "0000 "}, Case{255, "00FF "}, Case{300, "012C "}, Case{500, "01F4 "}}) {
    SCOPED_TRACE(c.n);
    EXPECT_EQ(hexEncodeRndCnt(c.n), c.prefix);
  }
  EXPECT_EQ(hexEncodeCardCipher({0x00, 0x7F, 0xFF}), "0000 007F 00FF ");
  EXPECT_EQ(hexEncodeCardCipher({}), "");
  EXPECT_EQ(AESExtention::hexEncode({0x00, 0x7F, 0xFF}), "007fff");
  EXPECT_EQ(AESExtention::decodeHexString("7fFF"), (Bytes{0x7F, 0xFF}));
  EXPECT_EQ(AESExtention::decodeHexString("7fFF0").size(), 2u);
}

TEST(CardCipherText, KeyTextIsAlways16Characters) {
  for (int n : {0, 9, 10, 99, 100, 500}) {
    SCOPED_TRACE(n);
    const std::string key = cardKeyText("Samplewords", n);
    EXPECT_EQ(key.size(), 16u);
    EXPECT_EQ(key.rfind("Samplewords" + std::to_string(n), 0), 0u);
  }
  EXPECT_EQ(cardKeyText("Samplewords", 7), "Samplewords7Samp");
  EXPECT_EQ(cardKeyText("Samplewords", 500), "Samplewords500Sa");
}

TEST(CardCipher, BlockRulesAndPublicVector) {
  AESExtention aes;
  // FIPS-197 appendix C.1.
  const std::string key("\x00\x01\x02\x03\x04\x05\x06\x07\x08\x09\x0a\x0b\x0c\x0d\x0e\x0f", 16);
  Bytes plain;
  for (int i = 0; i < 16; ++i) plain.push_back(uint8_t(i * 0x11));
  auto c = aes.AES128EncryptEcmWithKey(key, plain);
  ASSERT_TRUE(c);
  EXPECT_EQ(AESExtention::hexEncode(*c), "69c4e0d86a7b0430d8cdb78070b4c55a");
  EXPECT_EQ(aes.AES128DecryptEcmWithKey(key, *c), plain);

  EXPECT_EQ(aes.AES128EncryptEcmWithKey("Samplewords7Samp", Bytes(16, 'x'))->size(), 16u);
  EXPECT_FALSE(aes.AES128EncryptEcmWithKey("Samplewords7Samp", Bytes(15, 'x')));
  EXPECT_FALSE(aes.AES128EncryptEcmWithKey("Samplewords7Samp", Bytes(17, 'x')));
  EXPECT_EQ(aes.AES128EncryptWithKey("Samplewords7Samp", Bytes())->size(), 16u);
  EXPECT_EQ(aes.AES128EncryptWithKey("Samplewords7Samp", Bytes(16, 'x'))->size(), 32u);
  // A key text longer than the key is refused, not cut.
  EXPECT_FALSE(aes.AES128EncryptWithKey("Samplewords7Sampl", Bytes(16, 'x')));
}

TEST(CardCipher, RandomNumbersStayInRangeAndVary) {
  std::set<int> seen;
  for (int i = 0; i < 400; ++i) {
    auto n = cardRandomNumber();
    ASSERT_TRUE(n);
    ASSERT_GE(*n, 0);
    ASSERT_LE(*n, 500);
    seen.insert(*n);
  }
  EXPECT_GT(seen.size(), 200u);
}

TEST(CardCipher, FieldsTakeTheConfiguredOrBuiltInWordAndDecipherOnTheServer) {
  test_support::FreshDefaults fresh;
  // Nothing configured: the built-in word, which the back office reads by default.
  auto plain = encipherCardField("4111111111111111", false);
  ASSERT_TRUE(plain) << "no word configured";
  EXPECT_EQ(backoffice::decipherCardValue(*plain, kBuiltInCardCipherWord, false), "4111111111111111");
  ASSERT_TRUE(backoffice::writeCardCipherConfig(foundation::Paths::configDir(), "Short"));
  EXPECT_FALSE(encipherCardField("4111111111111111", false)) << "a word of the wrong length";
  ASSERT_TRUE(backoffice::writeCardCipherConfig(foundation::Paths::configDir(), "Otherwordsx"));
  auto other = encipherCardField("4111111111111111", false);
  ASSERT_TRUE(other);
  EXPECT_EQ(backoffice::decipherCardValue(*other, "Otherwordsx", false), "4111111111111111");
  ASSERT_TRUE(backoffice::writeCardCipherConfig(foundation::Paths::configDir()));

  int next = 0;
  setCardRandomSource([&] { return std::optional<int>(next++ == 0 ? 300 : 9); });
  auto number = encipherCardField("4111111111111111", false);
  auto track = encipherCardField("%B4111111111111111^DOE/JOHN^2711101", true);
  setCardRandomSource(nullptr);
  ASSERT_TRUE(number);
  ASSERT_TRUE(track);
  EXPECT_EQ(number->size(), 85u);
  EXPECT_EQ(number->substr(0, 5), "012C ");
  EXPECT_EQ(track->substr(0, 5), "0009 ");
  EXPECT_EQ(backoffice::decipherCardValue(*number, backoffice::kSampleCardCipherWord, false), "4111111111111111");
  EXPECT_EQ(backoffice::decipherCardValue(*track, backoffice::kSampleCardCipherWord, true),
            "%B4111111111111111^DOE/JOHN^2711101");
  EXPECT_FALSE(backoffice::decipherCardValue(*number, "Otherwordsx", false) == "4111111111111111");
  // A number that is not one whole block is never enciphered half.
  EXPECT_FALSE(encipherCardField("4111111111111111111", false));
}

}  // namespace
}  // namespace orvo
