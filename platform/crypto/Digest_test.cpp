#include "platform/crypto/Digest.h"

#include <gtest/gtest.h>

#include <string>

namespace crypto {
namespace {

template <size_t N>
std::string hex(const std::array<uint8_t, N>& d) {
  static const char* k = "0123456789abcdef";
  std::string s;
  for (uint8_t b : d) { s += k[b >> 4]; s += k[b & 15]; }
  return s;
}

TEST(DigestTest, MatchesFips180Examples) {
  struct Case {
    std::string message;
    const char* sha1;
    const char* sha256;
  };
  const Case cases[] = {
      {"abc", "a9993e364706816aba3e25717850c26c9cd0d89d",
       "ba7816bf8f01cfea414140de5dae2223b00361a396177a9cb410ff61f20015ad"},
      {"abcdbcdecdefdefgefghfghighijhijkijkljklmklmnlmnomnopnopq",
       "84983e441c3bd26ebaae4aa1f95129e5e54670f1",
       "248d6a61d20638b8e5c026930c3e6039a33ce45964ff2167f6ecedd419db06c1"},
      {"", "da39a3ee5e6b4b0d3255bfef95601890afd80709",
       "e3b0c44298fc1c149afbf4c8996fb92427ae41e4649b934ca495991b7852b855"},
      {std::string(1000000, 'a'), "34aa973cd4c4daa4f61eeb2bdbad27316534016f",
       "cdc76e5c9914fb9281a1c7e284d73e67f1809a48a497200e046d39ccc7112cd0"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.message.substr(0, 20));
    auto p = reinterpret_cast<const uint8_t*>(c.message.data());
    EXPECT_EQ(hex(sha1(p, c.message.size())), c.sha1);
    EXPECT_EQ(hex(sha256(p, c.message.size())), c.sha256);
  }
}

TEST(RandomTest, FillsTheRequestedLengthWithVaryingBytes) {
  auto a = randomBytes(32);
  auto b = randomBytes(32);
  ASSERT_EQ(a.size(), 32u);
  EXPECT_NE(a, b);
  EXPECT_TRUE(randomBytes(0).empty());
}

}  // namespace
}  // namespace crypto
