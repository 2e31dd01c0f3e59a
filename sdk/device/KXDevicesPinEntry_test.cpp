// PIN entry through the facade on the simulated pinpad (its keypad scripted), and the PIN
// blocks the pinpad gives back, decrypted here with a DUKPT derivation and ISO 9564
// decoding written independently of the simulator (OpenSSL directly) and checked against
// the published ANSI X9.24-1 example.
#include <gtest/gtest.h>

#include <openssl/evp.h>

#include <bit>

#include "sdk/device/KXDevicesPinpadFixture.h"
#include "sdk/pinpad/PPadTestSupport.h"

namespace kestra::testing {
namespace {
namespace pin_entry_test {

using devices::PinpadModel;
using foundation::Bytes;
using foundation::toHex;
using testsupport::sentWith;
namespace key = devices::pinpadkey;

Bytes hex(const char* text) { return foundation::fromHex(text).value_or(Bytes{}); }

// ---- An independent DUKPT (ANSI X9.24-1, Triple-DES) and ISO 9564 reader ----------------------

// Triple-DES ECB of one block under a 24-byte key (a single-DES key repeated is single DES).
Bytes ede3(const Bytes& key24, const Bytes& block, bool encrypt) {
  EVP_CIPHER_CTX* ctx = EVP_CIPHER_CTX_new();
  Bytes out(block.size() + 8);
  int n = 0, m = 0;
  EVP_CipherInit_ex(ctx, EVP_des_ede3_ecb(), nullptr, key24.data(), nullptr, encrypt ? 1 : 0);
  EVP_CIPHER_CTX_set_padding(ctx, 0);
  EVP_CipherUpdate(ctx, out.data(), &n, block.data(), int(block.size()));
  EVP_CipherFinal_ex(ctx, out.data() + n, &m);
  EVP_CIPHER_CTX_free(ctx);
  out.resize(size_t(n + m));
  return out;
}
Bytes single(const Bytes& k8, const Bytes& block) {
  Bytes k = k8;
  k.insert(k.end(), k8.begin(), k8.end());
  k.insert(k.end(), k8.begin(), k8.end());
  return ede3(k, block, true);
}
Bytes twoKey(const Bytes& k16, const Bytes& block, bool encrypt) {
  Bytes k = k16;
  k.insert(k.end(), k16.begin(), k16.begin() + 8);
  return ede3(k, block, encrypt);
}
Bytes xorOf(Bytes a, const Bytes& b) {
  for (size_t i = 0; i < a.size(); ++i) a[i] ^= b[i];
  return a;
}

// The future key of `key` for the shift register `reg` (both halves of the key in turn).
Bytes nonReversibleKey(const Bytes& key, const Bytes& reg) {
  auto half = [&](const Bytes& k) {
    const Bytes left(k.begin(), k.begin() + 8), right(k.begin() + 8, k.end());
    return xorOf(single(left, xorOf(reg, right)), right);
  };
  Bytes masked = key;
  for (int i : {0, 1, 2, 3, 8, 9, 10, 11}) masked[size_t(i)] ^= 0xC0;
  Bytes out = half(masked);
  const Bytes r = half(key);
  out.insert(out.end(), r.begin(), r.end());
  return out;
}

// The PIN encryption key of the transaction that `ksn` names.
Bytes pinKeyOf(const Bytes& ipek, const Bytes& ksn) {
  Bytes reg(ksn.end() - 8, ksn.end());
  const uint32_t counter = uint32_t(reg[5] & 0x1F) << 16 | uint32_t(reg[6]) << 8 | reg[7];
  reg[5] &= 0xE0;
  reg[6] = reg[7] = 0;
  Bytes k = ipek;
  for (uint32_t bit = 1u << 20; bit; bit >>= 1)
    if (counter & bit) {
      reg[5] |= uint8_t(bit >> 16);
      reg[6] |= uint8_t(bit >> 8);
      reg[7] |= uint8_t(bit);
      k = nonReversibleKey(k, reg);
    }
  k[7] ^= 0xFF;
  k[15] ^= 0xFF;
  return k;
}

// The PIN of a clear ISO 9564 block (formats 0 to 3; the PAN for 0 and 3), or "" when the
// block does not read as one.
std::string pinOf(Bytes block, const std::string& pan) {
  const int format = block[0] >> 4;
  if (format == 0 || format == 3) {
    const std::string digits = "0000" + pan.substr(pan.size() - 13, 12);
    for (size_t i = 0; i < 16; ++i) block[i / 2] ^= uint8_t((digits[i] - '0') << (i % 2 ? 0 : 4));
  }
  auto nibble = [&](size_t i) { return (block[i / 2] >> (i % 2 ? 0 : 4)) & 0x0F; };
  const size_t n = nibble(1);
  if (n < 4 || n > 12) return {};
  std::string pin;
  for (size_t i = 2; i < 2 + n; ++i) {
    if (nibble(i) > 9) return {};
    pin.push_back(char('0' + nibble(i)));
  }
  for (size_t i = 2 + n; i < 16; ++i) {
    const int f = nibble(i);
    if ((format == 0 || format == 2) && f != 0x0F) return {};
    if (format == 3 && f < 0x0A) return {};
  }
  return pin;
}

// The published example: base key 0123456789ABCDEFFEDCBA9876543210, initial key serial
// number FFFF9876543210E00000; the PIN 1234 with the PAN 4012345678909 in format 0.
const Bytes kIpek = hex("6AC292FAA1315B4D858AB3A3D7D5933A");
const Bytes kInitialKsn = hex("FFFF9876543210E00000");
const std::string kPan = "4012345678909";
const Bytes kFixedKey = hex("0123456789ABCDEF1032547698BADCFE");
constexpr int kDukptKey = 1;
constexpr int kFixedKeyID = 7;

struct PinEntry : ::testing::Test {
  void SetUp() override {
    ASSERT_TRUE(f.connect());
    f.bench.device->withModel([](PinpadModel& m) {
      m.dukptKeys[kDukptKey] = {kIpek, kInitialKsn, {}};
      m.keys[kFixedKeyID].value = kFixedKey;
    });
  }
  void press(std::initializer_list<uint8_t> keys) {
    f.bench.device->withModel([&](PinpadModel& m) { m.keypad.insert(m.keypad.end(), keys); });
  }
  Bytes ksnNow() { return f.facade->ppadGetDUKPTKeyKSN(kDukptKey).value_or(Bytes{}); }
  PinpadFixture f;
};

TEST(PinDecoding, TheTestDerivationGivesThePublishedExample) {
  // The first transaction's PIN block of the published example decrypts to 1234.
  const Bytes key = pinKeyOf(kIpek, hex("FFFF9876543210E00001"));
  EXPECT_EQ(pinOf(twoKey(key, hex("1B9C1845EB993A7A"), false), kPan), "1234");
}

TEST_F(PinEntry, APinTypedOnTheKeypadComesBackUnderDukpt) {
  press({1, 2, 3, 4, key::kEnter});
  Error e;
  ASSERT_TRUE(f.facade->ppadPINEntry(10, 60, 30, '*', std::string("Enter PIN"), &e)) << e.text;
  // The prompt clears the screen and opens a 16 x 4 window before the entry.
  const Bytes window = sentWith(*f.bench.device, 0x35, {0x32}).back();
  EXPECT_EQ(Bytes(window.end() - 4, window.end()), Bytes({16, 4, 0, 0}));
  EXPECT_EQ(sentWith(*f.bench.device, 0x35, {0x09}).size(), 1u);

  ASSERT_TRUE(f.api->ppadSetPAN(kPan, &e)) << e.text;
  const auto block = f.facade->ppadGetPINBlockUsingDUKPT(kDukptKey, std::nullopt, 4, &e);
  ASSERT_TRUE(block) << e.text;
  ASSERT_EQ(block->size(), 18u);  // the block, then the key serial number it was made under
  const Bytes ksn(block->begin() + 8, block->end());
  EXPECT_EQ(toHex(ksn), "FFFF9876543210E00001");
  // The same block as the published example: format 0 is deterministic.
  EXPECT_EQ(toHex(Bytes(block->begin(), block->begin() + 8)), "1B9C1845EB993A7A");
  EXPECT_EQ(pinOf(twoKey(pinKeyOf(kIpek, ksn), Bytes(block->begin(), block->begin() + 8), false), kPan), "1234");

  // The next block is under the next key; a block without the PAN (format 1) reads too.
  const auto second = f.facade->ppadGetPINBlockUsingDUKPT(kDukptKey, std::nullopt, 5, &e);
  ASSERT_TRUE(second) << e.text;
  const Bytes ksn2(second->begin() + 8, second->end());
  EXPECT_EQ(toHex(ksn2), "FFFF9876543210E00002");
  EXPECT_EQ(pinOf(twoKey(pinKeyOf(kIpek, ksn2), Bytes(second->begin(), second->begin() + 8), false), ""), "1234");
}

TEST_F(PinEntry, KeySerialNumbersPassOverCountersWithMoreThanTenOneBits) {
  const struct {
    uint32_t from, next;
  } cases[] = {{0x000001, 0x000002}, {0x0003FE, 0x0003FF}, {0x0007FE, 0x000800}, {0x0FFC00, 0x100000}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.from);
    Bytes ksn = kInitialKsn;
    ksn[7] = uint8_t(0xE0 | c.from >> 16);
    ksn[8] = uint8_t(c.from >> 8);
    ksn[9] = uint8_t(c.from);
    f.bench.device->withModel([&](PinpadModel& m) { m.dukptKeys[kDukptKey].ksn = ksn; });
    const auto made = f.facade->ppadCryptoDUKPTGenerateKeyWithID(kDukptKey);
    ASSERT_TRUE(made);
    const uint32_t counter = uint32_t((*made)[7] & 0x1F) << 16 | uint32_t((*made)[8]) << 8 | (*made)[9];
    EXPECT_EQ(counter, c.next);
    EXPECT_LE(std::popcount(counter), 10);
  }
}

TEST_F(PinEntry, ARefusedDukptRequestSpendsNoKeySerialNumber) {
  press({1, 2, 3, 4, key::kEnter});
  ASSERT_TRUE(f.facade->ppadPINEntry(0, 0, 30, '*', std::nullopt));
  const Bytes before = ksnNow();
  Error e;
  EXPECT_FALSE(f.facade->ppadGetPINBlockUsingDUKPT(kDukptKey, Bytes(15, 0), 4, &e));
  EXPECT_EQ(e.code, -16503);
  EXPECT_FALSE(f.facade->ppadGetPINBlockUsingDUKPT(kDukptKey, std::nullopt, 14, &e));
  EXPECT_EQ(e.code, -16503);
  EXPECT_EQ(ksnNow(), before);
  EXPECT_TRUE(sentWith(*f.bench.device, 0x32, {0x06}).empty());
}

TEST_F(PinEntry, FixedAndMasterSessionBlocksDecryptUnderTheirKeys) {
  press({9, 8, 7, 6, 5, key::kEnter});
  ASSERT_TRUE(f.facade->ppadPINEntry(0, 0, 30, '*', std::nullopt, 1));
  EXPECT_TRUE(sentWith(*f.bench.device, 0x35, {0x32}).empty());  // no prompt, no window

  Error e;
  const Bytes variant = hex("000000000000000F000000000000000F");
  ASSERT_TRUE(f.api->ppadSetPAN(kPan, &e));
  const auto fixed = f.facade->ppadGetPINBlockUsingFixedKey(kFixedKeyID, variant, 13, &e);  // format 3
  ASSERT_TRUE(fixed) << e.text;
  EXPECT_EQ(pinOf(twoKey(xorOf(kFixedKey, variant), *fixed, false), kPan), "98765");

  // The session key travels encrypted under the master key.
  const Bytes session = hex("89ABCDEF0123456776543210FEDCBA98");
  Bytes sealed = twoKey(kFixedKey, Bytes(session.begin(), session.begin() + 8), true);
  const Bytes right = twoKey(kFixedKey, Bytes(session.begin() + 8, session.end()), true);
  sealed.insert(sealed.end(), right.begin(), right.end());
  const auto master = f.facade->ppadGetPINBlockUsingMasterSession(sealed, kFixedKeyID, 6, &e);  // format 2
  ASSERT_TRUE(master) << e.text;
  EXPECT_EQ(pinOf(twoKey(session, *master, false), ""), "98765");

  // A key the pinpad does not hold: the pinpad's status as the error.
  EXPECT_FALSE(f.facade->ppadGetPINBlockUsingFixedKey(3, std::nullopt, 5, &e));
  EXPECT_EQ(e.code, -16505);
}

TEST_F(PinEntry, BackgroundEntryEndsInTheDelegateAndCanBeCancelled) {
  auto app = std::make_shared<RecordingDelegate>(f.app, "pin",
                                                 std::vector<std::string_view>{kxsel::PINEntryCompleteWithError});
  f.facade->addDelegate(app);
  press({4, 3, 2, 1, key::kEnter});
  Error e;
  ASSERT_TRUE(f.facade->ppadStartPINEntry(0, 60, 30, '*', std::string("PIN"), &e)) << e.text;
  ASSERT_TRUE(f.bench.runUntil([&] { return f.app->count("pin:PINEntryComplete:nil") == 1; }));
  // Without limits the pinpad's own apply (sub-command 20); the prompt's window is sized to
  // the rest of the screen (320 x 240 in font 0).
  EXPECT_EQ(sentWith(*f.bench.device, 0x35, {0x20}).size(), 1u);
  const Bytes window = sentWith(*f.bench.device, 0x35, {0x32}).back();
  EXPECT_EQ(Bytes(window.end() - 4, window.end()), Bytes({53, 30, 0, 0}));

  ASSERT_TRUE(f.facade->ppadStartPINEntry(0, 60, 30, '*', 4, 6, std::nullopt, 0, &e)) << e.text;
  const Bytes limited = sentWith(*f.bench.device, 0x35, {0x26}).back();
  EXPECT_EQ(Bytes(limited.end() - 2, limited.end()), Bytes({4, 6}));
  ASSERT_TRUE(f.facade->ppadCancelPINEntry(&e)) << e.text;
  ASSERT_TRUE(f.bench.runUntil([&] { return !testsupport::linesStarting(*f.app, "pin:PINEntryComplete:-16518").empty(); }));
  // The font form is the device API's own.
  ASSERT_TRUE(f.api->ppadStartPINEntry(0, 60, 30, '*', std::string("PIN"), 4, &e)) << e.text;
  ASSERT_TRUE(f.facade->ppadCancelPINEntry(&e));
}

TEST_F(PinEntry, OfflinePinCaptionsAndKeys) {
  Error e;
  uint16_t card = 0;
  ASSERT_TRUE(f.facade->ppadVerifyPINOffline(true, &card, &e)) << e.text;
  EXPECT_EQ(card, 0x9000);
  EXPECT_EQ(sentWith(*f.bench.device, 0x35, {0x0A, 0x01}).size(), 1u);
  // Key kind 0 takes a DUKPT key and appends its serial number.
  const auto plain = f.facade->ppadVerifyPINOfflinePlainAndEncryptResponse(0, kDukptKey, &e);
  ASSERT_TRUE(plain) << e.text;
  EXPECT_EQ(toHex(Bytes(plain->end() - 10, plain->end())), "FFFF9876543210E00001");
  const auto encrypted = f.facade->ppadVerifyPINOfflineEncryptedAndEncryptResponse(1, kDukptKey, &e);
  ASSERT_TRUE(encrypted) << e.text;
  EXPECT_EQ(sentWith(*f.bench.device, 0x35, {0x0A, 0x65}).size(), 1u);

  ASSERT_TRUE(f.facade->ppadSetButtonCaption(2, "OK", &e)) << e.text;
  EXPECT_EQ(sentWith(*f.bench.device, 0x35, {0x11}).back(), Bytes({0x11, 2, 'O', 'K'}));
  EXPECT_FALSE(f.facade->ppadSetButtonCaption(4, "No", &e));
  EXPECT_EQ(e.code, -16503);

  press({key::kF1});
  char k = 0;
  ASSERT_TRUE(f.facade->ppadReadKey(&k, &e)) << e.text;
  EXPECT_EQ(k, char(key::kF1));
  EXPECT_FALSE(f.facade->ppadReadKey(&k, &e));  // no key waiting
  EXPECT_EQ(e.code, -16508);
}

TEST(PinEntryRouting, RefusedWithoutThePinpad) {
  ApiFixture a;
  Error e;
  EXPECT_FALSE(a.api->ppadPINEntry(0, 0, 30, '*', std::nullopt, &e));
  EXPECT_EQ(e.code, -20);
  a.sleeveState(2);
  EXPECT_FALSE(a.api->ppadGetPINBlockUsingDUKPT(1, std::nullopt, 4, &e));
  EXPECT_EQ(e.code, -7);
  EXPECT_FALSE(a.api->ppadSetPAN(std::string("4111111111111111"), &e));
  EXPECT_EQ(e.code, -7);
  EXPECT_FALSE(a.api->ppadStartPINEntry(0, 0, 30, '*', std::nullopt, nullptr));  // no error slot: fine
}

}  // namespace pin_entry_test
}  // namespace
}  // namespace kestra::testing
