// AES as the sleeve uses it (published vectors), and the sleeve's key store: versions,
// key loading with its block sizes by firmware, and authentication in both directions
// against the simulated sleeve's keys (whose AES is OpenSSL's, not ours).

#include "sdk/sleeve/PellanCrypto.h"

#include <gtest/gtest.h>

#include "sdk/sleeve/Pellan.h"
#include "testing/devices/sleeve/SleeveSecurity.h"

namespace kestra {
namespace {
namespace crypto_test {

using devices::SimulatedSleeve;
using devices::SleeveProtocol;
using devices::SleeveSecurity;
using devices::SleeveTestBench;
using foundation::Bytes;

Bytes hex(const char* text) { return *foundation::fromHex(text); }

Bytes xorBlock(Bytes a, const Bytes& b) {
  for (size_t i = 0; i < a.size(); ++i) a[i] ^= b[i];
  return a;
}

TEST(PellanAES, EncryptsThePublishedVectorsWithAZeroIV) {
  // FIPS-197 appendix C.1 (AES-128) and C.3 (AES-256): one block, where CBC with a zero IV
  // is the plain cipher.
  const Bytes plain = hex("00112233445566778899aabbccddeeff");
  EXPECT_EQ(AESEncryptWithKey(plain, hex("000102030405060708090a0b0c0d0e0f")), hex("69c4e0d86a7b0430d8cdb78070b4c55a"));
  EXPECT_EQ(AESEncryptWithKey(plain, hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f")),
            hex("8ea2b7ca516745bfeafc49904b496089"));

  // SP 800-38A F.2.1 and F.2.5 (CBC): the vectors' IV is folded into the first block, so a
  // zero IV gives the same cipher text.
  const Bytes iv = hex("000102030405060708090a0b0c0d0e0f");
  Bytes message = xorBlock(hex("6bc1bee22e409f96e93d7e117393172a"), iv);
  foundation::append(message, hex("ae2d8a571e03ac9c9eb76fac45af8e5130c81c46a35ce411e5fbc1191a0a52eff69f2445df4f9b17ad2b417be66c3710"));
  struct Case {
    const char* name;
    Bytes key, cipher;
  } cases[] = {
      {"F.2.1 AES-128", hex("2b7e151628aed2a6abf7158809cf4f3c"),
       hex("7649abac8119b246cee98e9b12e9197d5086cb9b507219ee95db113a917678b273bed6b8e3c1743b7116e69e222295163ff1caa1681fac09120eca307586e1a7")},
      {"F.2.5 AES-256", hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4"),
       hex("f58c4c04d6e5f1ba779eabfb5f7bfbd69cfc4e967edb808d679f777bc6702c7d39f23369a9d9bacfa530e26304231461b2eb05e2c39be9fcda6c19078c6a9d1b")},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(AESOperation(message, 0, c.key), c.cipher);
    EXPECT_EQ(AESOperation(c.cipher, 1, c.key), message);
  }
}

TEST(PellanAES, KeySizeDecidesTheCipherAndBadSizesGiveNothing) {
  const Bytes data = hex("00112233445566778899aabbccddeeff");
  const Bytes key20 = hex("000102030405060708090a0b0c0d0e0f10111213");
  Bytes padded = key20;
  padded.resize(32, 0x00);
  // A 20-byte key is AES-256 with twelve zero bytes added, checked against OpenSSL directly.
  EXPECT_EQ(AESOperation(data, 0, key20), SleeveSecurity::aes(padded, data, true));
  // A key of up to 16 bytes is AES-128, zero-padded to 16.
  Bytes short16 = hex("0001020304");
  Bytes short16Padded = short16;
  short16Padded.resize(16, 0x00);
  EXPECT_EQ(AESOperation(data, 0, short16), SleeveSecurity::aes(short16Padded, data, true));
  EXPECT_FALSE(AESOperation(Bytes(15, 0x11), 0, key20).has_value());  // not a whole block
  EXPECT_FALSE(AESOperation(data, 0, Bytes(33, 0x01)).has_value());    // too long: refused, not cut
}

// ---- Key store through the simulated sleeve ------------------------------------------------------

struct CryptoBench {
  explicit CryptoBench(const std::string& firmware) : bench([&] {
    SimulatedSleeve::Options o;
    o.config.firmware = firmware;
    return o;
  }()), security(*bench.sleeve) {}
  SleeveTestBench bench;
  SleeveSecurity security;
};

const Bytes kKey = hex("603deb1015ca71be2b73aef0857d77811f352c073b6108d72d9810a30914dff4");
const Bytes kOtherKey = hex("000102030405060708090a0b0c0d0e0f101112131415161718191a1b1c1d1e1f");

TEST(PellanCryptoKeys, KeyLoadBlockGrowsWithTheFirmwareAndFlagsNeedTheirFirmware) {
  struct Case {
    const char* firmware;
    size_t sent;
    bool flagsAccepted;
  } cases[] = {{"2.42", 49, false}, {"2.43", 53, false}, {"2.58", 57, true}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.firmware);
    CryptoBench b(c.firmware);
    ASSERT_TRUE(b.bench.connect());
    auto& p = *b.bench.pellan;
    Error error;
    ASSERT_TRUE(p.cryptoSetKey(Pellan::KEY_AUTHENTICATION, kKey, std::nullopt, 7, 0, &error)) << error.text;
    b.bench.sleeve->withProtocol([&](SleeveProtocol& s) { EXPECT_EQ(s.lastCommand(0, 25)->size(), c.sent); });
    EXPECT_EQ(b.security.key(0), kKey);
    EXPECT_EQ(b.security.keyVersion(0), c.sent >= 53 ? 7u : 0u);

    // Flags: refused before anything is sent on older firmware.
    b.bench.sleeve->withProtocol([](SleeveProtocol& s) { s.clearHostFrames(); });
    const bool accepted = p.cryptoSetKey(Pellan::KEY_AUTHENTICATION, kOtherKey, kKey, 8, 1, &error);
    EXPECT_EQ(accepted, c.flagsAccepted);
    if (!c.flagsAccepted) {
      EXPECT_EQ(error.code, -9);
      EXPECT_EQ(error.text, "Key flags are only supported on firmware version 2.58 and higher");
      b.bench.sleeve->withProtocol([](SleeveProtocol& s) { EXPECT_FALSE(s.lastCommand(0, 25).has_value()); });
    } else {
      // Loaded under the previous key: the sleeve decrypted the block with it.
      EXPECT_EQ(b.security.key(0), kOtherKey);
      EXPECT_EQ(b.security.keyFlags(0), 1u);
    }
  }
}

TEST(PellanCryptoKeys, VersionsDeletionAndArgumentChecks) {
  CryptoBench b("2.63");
  ASSERT_TRUE(b.bench.connect());
  auto& p = *b.bench.pellan;
  Error error;
  uint32_t version = 99;
  ASSERT_TRUE(p.cryptoGetKeyVersion(Pellan::KEY_ENCRYPTION, &version, &error));
  EXPECT_EQ(version, 0u);  // FF FF FF FF: no key
  b.security.setKey(1, kKey, 5);
  ASSERT_TRUE(p.cryptoGetKeyVersion(Pellan::KEY_ENCRYPTION, &version, &error));
  EXPECT_EQ(version, 5u);
  ASSERT_TRUE(p.cryptoDeleteKey(Pellan::KEY_ENCRYPTION, &error));
  EXPECT_FALSE(b.security.key(1).has_value());

  struct Case {
    const char* name;
    std::function<bool(Error*)> call;
    int code;
    const char* text;
  } cases[] = {
      {"key id 2", [&](Error* e) { return p.cryptoGetKeyVersion(2, &version, e); }, -9,
       "KeyID must be between KEY_AUTHENTICATION or KEY_ENCRYPTION"},
      {"no version pointer", [&](Error* e) { return p.cryptoGetKeyVersion(0, nullptr, e); }, -9,
       "Valid keyVersion pointer required"},
      {"short key", [&](Error* e) { return p.cryptoSetKey(0, Bytes(31, 1), std::nullopt, 0, 0, e); }, -9,
       "Key must be 32 bytes long"},
      {"short old key", [&](Error* e) { return p.cryptoSetKey(0, kKey, Bytes(16, 1), 0, 0, e); }, -9,
       "Key must be 32 bytes long"},
      {"block of 47", [&](Error* e) { return p.cryptoRawSetKey(0, Bytes(47, 1), 0, 0, e); }, -9,
       "Encrypted key data must be 48 bytes long"},
      {"raw challenge of 15", [&](Error* e) { return p.cryptoRawAuthenticateDevice(Bytes(15, 1), e).has_value(); },
       -9, "randomData must be 16 bytes long"},
      {"raw host answer of 17", [&](Error* e) { return p.cryptoRawAuthenticateHost(Bytes(17, 1), e); }, -9,
       "encryptedData must be 16 bytes long"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Error e;
    EXPECT_FALSE(c.call(&e));
    EXPECT_EQ(e.code, c.code);
    EXPECT_EQ(e.text, c.text);
  }
}

TEST(PellanCryptoKeys, KeyVersionsAndDeletionNeedFirmware243) {
  CryptoBench b("2.42");
  ASSERT_TRUE(b.bench.connect());
  uint32_t version = 0;
  Error error;
  EXPECT_FALSE(b.bench.pellan->cryptoGetKeyVersion(0, &version, &error));
  EXPECT_EQ(error.code, -7);
  EXPECT_EQ(error.text, "Key versions are supported in firmware 2.43 or later");
  EXPECT_FALSE(b.bench.pellan->cryptoDeleteKey(0, &error));
  EXPECT_EQ(error.text, "Key deletion requires firmware version 2.43 or newer");
}

TEST(PellanCryptoKeys, DeviceAndHostAuthenticateWithTheRightKeyOnly) {
  CryptoBench b("2.63");
  ASSERT_TRUE(b.bench.connect());
  b.security.setKey(0, kKey, 1);
  auto& p = *b.bench.pellan;
  Error error;
  EXPECT_TRUE(p.cryptoAuthenticateDevice(kKey, &error)) << error.text;
  EXPECT_FALSE(p.cryptoAuthenticateDevice(kOtherKey, &error));
  EXPECT_EQ(error.code, -9);
  EXPECT_EQ(error.text, "Authentication failed, possibley key is wrong");

  EXPECT_TRUE(p.cryptoAuthenticateHost(kKey, &error)) << error.text;
  EXPECT_TRUE(b.security.hostAuthenticated());
  EXPECT_FALSE(p.cryptoAuthenticateHost(kOtherKey, &error));
  EXPECT_FALSE(b.security.hostAuthenticated());
  EXPECT_LT(error.code, 0);

  // An answer longer than the expected block is no proof, even when it begins with it.
  b.bench.sleeve->withProtocol([](SleeveProtocol& s) { s.nextResult = Bytes(32, 0x00); });
  EXPECT_FALSE(p.cryptoAuthenticateDevice(kKey, &error));
  EXPECT_EQ(error.text, "Authentication failed, possibley key is wrong");
  // A random shorter than 16 bytes cannot start a host authentication.
  b.bench.sleeve->withProtocol([](SleeveProtocol& s) { s.nextResult = Bytes(15, 0x00); });
  EXPECT_FALSE(p.cryptoAuthenticateHost(kKey, &error));
  EXPECT_EQ(error.code, -6);
  EXPECT_EQ(error.text, "Invalid data length received");
}

}  // namespace crypto_test
}  // namespace
}  // namespace kestra
