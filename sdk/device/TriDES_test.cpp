#include "sdk/device/TriDES.h"

#include <gtest/gtest.h>

namespace kestra {
namespace {

using foundation::fromHex;
using foundation::toHex;

// A two-key Triple-DES key whose halves are equal is single DES: the classic DES known
// answer (key 0123456789ABCDEF, "Now is t" -> 3FA40E8A984D4815) holds for it.
TEST(TriDES, EqualHalvesGiveTheDesKnownAnswerBothWays) {
  const auto key = *fromHex("0123456789ABCDEF0123456789ABCDEF");
  const auto plain = *fromHex("4E6F772069732074");
  auto cipher = triDESEncrypt(plain, key);
  ASSERT_TRUE(cipher);
  EXPECT_EQ(toHex(*cipher), "3FA40E8A984D4815");
  auto back = triDESDecrypt(*cipher, key, foundation::Bytes(8, 0));
  ASSERT_TRUE(back);
  EXPECT_EQ(*back, plain);
}

TEST(TriDES, BadKeysIvsAndPartialBlocksAreRefused) {
  const auto key = *fromHex("0123456789ABCDEFFEDCBA9876543210");
  EXPECT_FALSE(triDESEncrypt(foundation::Bytes(8, 0), foundation::Bytes(8, 1)));
  EXPECT_FALSE(triDESDecrypt(foundation::Bytes(8, 0), foundation::Bytes(24, 1)));
  EXPECT_FALSE(triDESDecrypt(foundation::Bytes(8, 0), key, foundation::Bytes(4, 0)));
  EXPECT_FALSE(triDESEncrypt(foundation::Bytes(12, 0), key));
  // CBC: the second block depends on the first.
  auto two = triDESEncrypt(foundation::Bytes(16, 0), key);
  ASSERT_TRUE(two);
  EXPECT_NE(foundation::Bytes(two->begin(), two->begin() + 8), foundation::Bytes(two->begin() + 8, two->end()));
}

}  // namespace
}  // namespace kestra
