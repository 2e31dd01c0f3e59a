// Keys, DUKPT, RSA and CA keys, smart card, magnetic card and the legacy EMV kernel against
// the simulated pinpad; the key readers on their own.
#include <gtest/gtest.h>

#include <openssl/evp.h>
#include <openssl/rsa.h>
#include <openssl/x509.h>

#include "platform/crypto/Cipher.h"
#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadKeys.h"
#include "sdk/pinpad/PPadTestSupport.h"
#include "testing/devices/pinpad/Dukpt.h"

namespace kestra {
namespace {

using devices::PinpadModel;
using devices::PinpadTestBench;
using foundation::Bytes;
using testsupport::sentData;
using testsupport::sentWith;

Bytes hex(std::string_view h) { return foundation::fromHex(h).value(); }

// The published DUKPT example: base derivation key and initial key serial number.
const Bytes kBDK = hex("0123456789ABCDEFFEDCBA9876543210");
const Bytes kKSN = hex("FFFF9876543210E00000");

struct Connected : ::testing::Test {
  void SetUp() override { ASSERT_TRUE(b.connect()); }
  void model(const std::function<void(PinpadModel&)>& f) { b.device->withModel(f); }
  // Loads the example's initial key as DUKPT key `id`.
  void loadExampleDukpt(int id) {
    Bytes data = devices::dukpt::initialKey(kBDK, kKSN);
    data.insert(data.end(), kKSN.begin(), kKSN.end());
    ASSERT_EQ(b.pad->cryptoDUKPTInitialKey(0, id, data), 0);
  }
  PinpadTestBench b;
};

// ---- DUKPT ------------------------------------------------------------------------------

using PPadDukpt = Connected;

TEST_F(PPadDukpt, SerialNumbersAndKeysFollowThePublishedExample) {
  EXPECT_EQ(devices::dukpt::initialKey(kBDK, kKSN), hex("6AC292FAA1315B4D858AB3A3D7D5933A"));
  loadExampleDukpt(1);
  const struct {
    const char* ksn;
    const char* key;
  } expected[] = {
      {"FFFF9876543210E00001", "042666B49184CFA368DE9628D0397BC9"},
      {"FFFF9876543210E00002", "C46551CEF9FD24B0AA9AD834130D3BC7"},
      {"FFFF9876543210E00003", "0DF3D9422ACA56E547676D07AD6BADFA"},
  };
  for (const auto& e : expected) {
    Bytes ksn;
    ASSERT_EQ(b.pad->dukptGenerateKeyOnline(1, &ksn), 0);
    EXPECT_EQ(ksn, hex(e.ksn));
    model([&](PinpadModel& m) { EXPECT_EQ(m.dukptKeys[1].current, hex(e.key)) << e.ksn; });
    Bytes current;
    ASSERT_EQ(b.pad->cryptoGetDUKPTKSN(1, &current), 0);
    EXPECT_EQ(current, hex(e.ksn));
  }
  // An online MAC is made under the MAC variant of the current key (the example's third).
  const Bytes data = hex("4E6F772069732074");
  Bytes mac;
  ASSERT_EQ(b.pad->dukptCalculateMACOnline(Bytes(8, 0), data, &mac), 0);
  EXPECT_EQ(mac, crypto::desEncrypt(hex("0DF3D9422ACAA9E547676D07AD6B52FA"), data, crypto::Mode::CBC,
                                    crypto::Padding::None));
}

TEST_F(PPadDukpt, ArgumentsRefusedBeforeAnythingIsSent) {
  b.device->frames().clearHostFrames();
  Bytes out = {0xAA};
  EXPECT_EQ(b.pad->dukptGenerateKeyOnline(8, &out), 3);
  EXPECT_EQ(b.pad->dukptGetCurrentSerialOnline(2, &out), 3);
  EXPECT_EQ(b.pad->caImportKey(0, Bytes(5, 1), Bytes(128, 2), {3}), 3);
  EXPECT_EQ(b.pad->caImportKey(0, Bytes(6, 1), Bytes(256, 2), {3}), 3);  // a length byte cannot say 256
  EXPECT_EQ(b.pad->dukptCalculateMACOnline(Bytes(7, 0), {1}, &out), 3);
  EXPECT_EQ(b.pad->caRSAVerify(2, {1}, &out), 3);
  EXPECT_TRUE(sentData(*b.device, 0x32).empty());
  EXPECT_EQ(out, Bytes{0xAA});
}

TEST_F(PPadDukpt, ShortSerialNumberIsZeroFilledToTenBytes) {
  model([](PinpadModel& m) { m.dukptKeys[2] = {Bytes(16, 1), hex("FFFF98"), {}}; });
  Bytes ksn;
  ASSERT_EQ(b.pad->cryptoGetDUKPTKSN(2, &ksn), 0);
  EXPECT_EQ(ksn, hex("FFFF9800000000000000"));
}

TEST_F(PPadDukpt, CertificateAuthorityTableComesBackWithTheImportedSlots) {
  EXPECT_EQ(b.pad->caImportKey(0, hex("A000000003F1"), Bytes(176, 7), {3}), 0);
  EXPECT_EQ(b.pad->caImportKey(5, hex("A000000004FE"), Bytes(248, 7), {1, 0, 1}), 0);
  std::array<uint8_t, 232> table{};
  ASSERT_EQ(b.pad->caGetKeysData(&table), 0);
  EXPECT_EQ(Bytes(table.begin(), table.begin() + 8), hex("A000000003F1B000"));
  EXPECT_EQ(Bytes(table.begin() + 40, table.begin() + 48), hex("A000000004FEF800"));
}

// ---- RSA key from DER -------------------------------------------------------------------

struct KeyPair {
  explicit KeyPair(EVP_PKEY* k) : key(k) {}
  ~KeyPair() { EVP_PKEY_free(key); }
  Bytes der() const {
    unsigned char* buf = nullptr;
    const int n = i2d_PUBKEY(key, &buf);
    Bytes out(buf, buf + n);
    OPENSSL_free(buf);
    return out;
  }
  Bytes modulus() const {
    BIGNUM* n = nullptr;
    EVP_PKEY_get_bn_param(key, "n", &n);
    Bytes out(size_t(BN_num_bytes(n)));
    BN_bn2bin(n, out.data());
    BN_free(n);
    return out;
  }
  EVP_PKEY* key;
};

TEST_F(Connected, OpenSSLPublicKeyIsLoadedAsModulusAndExponent) {
  KeyPair rsa(EVP_RSA_gen(2048));
  ASSERT_NE(rsa.key, nullptr);
  ASSERT_EQ(b.pad->loadRSAKeyDER(rsa.der(), 1), 0);
  const Bytes sent = sentWith(*b.device, 0x34, {0x08}).back();
  EXPECT_EQ(sent.size(), 264u);
  EXPECT_EQ(Bytes(sent.begin(), sent.begin() + 5), hex("0800010300"));
  model([&](PinpadModel& m) {
    EXPECT_EQ(m.rsaModulus, rsa.modulus());
    EXPECT_EQ(m.rsaExponent, hex("010001"));
  });

  // Not an RSA key, cut short, or empty: -9 and nothing sent.
  KeyPair ec(EVP_EC_gen("P-256"));
  const Bytes der = rsa.der();
  b.device->frames().clearHostFrames();
  EXPECT_EQ(b.pad->loadRSAKeyDER(ec.der(), 1), -9);
  EXPECT_EQ(b.pad->loadRSAKeyDER(Bytes(der.begin(), der.end() - 10), 1), -9);
  EXPECT_EQ(b.pad->loadRSAKey({}, 1), -9);
  EXPECT_TRUE(sentData(*b.device, 0x34).empty());
}

TEST(PPadKeys, DERReaderBounds) {
  // rsaEncryption identifier, then INTEGERs: a 256-byte modulus without a leading zero is
  // taken, an exponent longer than 3 bytes is refused, and lengths past the input are refused.
  const Bytes oid = hex("06092A864886F70D010101");
  auto integer = [](size_t n, uint8_t first) {
    Bytes b = {0x02, 0x82, uint8_t(n >> 8), uint8_t(n)};
    b.push_back(first);
    b.insert(b.end(), n - 1, 0x11);
    return b;
  };
  auto with = [&](std::initializer_list<Bytes> parts) {
    Bytes all = oid;
    for (const auto& p : parts) all.insert(all.end(), p.begin(), p.end());
    return all;
  };
  const auto a = with({integer(256, 0xC1), hex("0203010001")});
  ASSERT_TRUE(ppad::rsaKeyFromDER(a.data(), a.size()));
  EXPECT_EQ(ppad::rsaKeyFromDER(a.data(), a.size())->modulus[0], 0xC1);
  const auto longExponent = with({integer(257, 0x00), hex("020401000100")});
  EXPECT_FALSE(ppad::rsaKeyFromDER(longExponent.data(), longExponent.size()));
  const auto smallModulus = with({integer(128, 0x00), integer(128, 0x00)});
  EXPECT_FALSE(ppad::rsaKeyFromDER(smallModulus.data(), smallModulus.size()));
  const Bytes pastEnd = {0x30, 0x84, 0x00, 0x00, 0x10, 0x00, 0x06};
  EXPECT_FALSE(ppad::rsaKeyFromDER(pastEnd.data(), pastEnd.size()));
  const Bytes fiveLengthBytes = {0x30, 0x85, 0, 0, 0, 0, 1, 0};
  EXPECT_FALSE(ppad::rsaKeyFromDER(fiveLengthBytes.data(), fiveLengthBytes.size()));
}

// ---- Key management ---------------------------------------------------------------------

using PPadCrypto = Connected;

TEST(PPadKeys, InventoryReplyForms) {
  // Fixed keys then DUKPT keys.
  const auto both = ppad::parseKeysInfo(hex("01ABCDEF5450304501" "FF" "00010A" "FFFF9876543210E00001" "0000" "FF"));
  ASSERT_EQ(both.size(), 2u);
  EXPECT_EQ(both[0].position, 1);
  EXPECT_EQ(both[0].checkValue, hex("ABCDEF"));
  EXPECT_EQ(both[0].typeString(), "3DES_112");
  EXPECT_EQ(both[0].usage, "P0");
  EXPECT_EQ(both[0].mode, 'E');
  EXPECT_EQ(both[0].version, 1);
  EXPECT_FALSE(both[0].isDUKPTKey());
  EXPECT_EQ(both[1].position, 0);
  EXPECT_EQ(both[1].typeString(), "DUKPT_3DES_168");
  EXPECT_EQ(both[1].ksn, hex("FFFF9876543210E00001"));
  // A reply starting with 0xFF holds DUKPT keys only; a 12-byte serial has no extra bytes.
  const auto dukptOnly = ppad::parseKeysInfo(hex("FF" "0200" "0C" "112233445566778899AABBCC" "0300" "02" "AABB" "0000"));
  ASSERT_EQ(dukptOnly.size(), 2u);
  EXPECT_EQ(dukptOnly[0].ksn->size(), 12u);
  EXPECT_EQ(dukptOnly[1].position, 3);
  // Cut entries are dropped, never read past.
  EXPECT_TRUE(ppad::parseKeysInfo(hex("01ABCDEF54")).empty());
  EXPECT_EQ(ppad::parseKeysInfo(hex("FF0200FF")).size(), 0u);
}

TEST_F(PPadCrypto, InventoryFromTheListOrKeyByKey) {
  const Bytes key = hex("0123456789ABCDEFFEDCBA9876543210");
  model([&](PinpadModel& m) {
    m.keys[1] = {key};
    m.keys[12] = {key, 97, "D0", 'B', 3};  // beyond the key-by-key range
    m.dukptKeys[0] = {Bytes(16, 1), kKSN, {}};
    m.dukptKeys[4] = {Bytes(16, 1), Bytes(10, 0), {}};
  });
  std::vector<KXKeyInfo> keys;
  ASSERT_EQ(b.pad->cryptoGetKeysInfo(&keys), 0);
  ASSERT_EQ(keys.size(), 4u);
  EXPECT_EQ(keys[0].checkValue, hex("08D7B4"));  // the key's standard check value
  EXPECT_EQ(keys[1].typeString(), "AES_256");

  // An older pinpad answers "Invalid Command": keys 0-9 one by one, DUKPT keys with a serial.
  model([](PinpadModel& m) { m.keyListCommand = false; });
  ASSERT_EQ(b.pad->cryptoGetKeysInfo(&keys), 0);
  ASSERT_EQ(keys.size(), 2u);
  EXPECT_EQ(keys[0].position, 1);
  EXPECT_EQ(keys[1].position, 0);
  EXPECT_EQ(keys[1].ksn, kKSN);
  EXPECT_EQ(keys[1].type, 0);

  model([](PinpadModel& m) { m.refuse[{0x31, 0x11}] = 13; });
  keys.clear();
  EXPECT_EQ(b.pad->cryptoGetKeysInfo(&keys), 13);
  EXPECT_TRUE(keys.empty());
}

TEST_F(PPadCrypto, EncryptionAndRequests) {
  const Bytes key = hex("0123456789ABCDEFFEDCBA9876543210");
  model([&](PinpadModel& m) { m.keys[3] = {key}; });
  const Bytes plain = hex("0123456789ABCDEF");
  Bytes out;
  ASSERT_EQ(b.pad->crypto3DESECB(0, 3, plain, &out), 0);
  EXPECT_EQ(out, crypto::desEncrypt(key, plain, crypto::Mode::ECB, crypto::Padding::None));
  ASSERT_EQ(b.pad->crypto3DESCBC(0, 3, std::nullopt, plain, &out), 0);
  EXPECT_EQ(sentWith(*b.device, 0x31, {0x02}).back(), hex("020003" "0000000000000000" "0123456789ABCDEF"));

  b.device->frames().clearHostFrames();
  EXPECT_EQ(b.pad->crypto3DESCBC(0, 3, Bytes(7, 0), plain, &out), 3);
  EXPECT_EQ(b.pad->cryptoCopyKey(50, 1), 3);
  EXPECT_EQ(b.pad->cryptoDeleteKey(0), 3);
  EXPECT_EQ(b.pad->crypto3DES(4, 3, Bytes(8, 0), Bytes(16, 0), plain, &out), 3);
  EXPECT_EQ(b.pad->cryptoHash(6, plain, &out), 3);
  EXPECT_EQ(b.pad->loadTerminalMasterKey(1, Bytes(511, 0), "0123456789ABCDEF", Bytes(16, 0), &out), 3);
  EXPECT_TRUE(sentData(*b.device, 0x31).empty());
  EXPECT_TRUE(sentData(*b.device, 0x10).empty());

  uint32_t version = 0;
  ASSERT_EQ(b.pad->AIKGetVersion(&version), 0);
  EXPECT_EQ(version, 1u);
  Bytes check;
  ASSERT_EQ(b.pad->cryptoExchangeKey(3, 7, 'P', 2, crypto::desEncrypt(key, key, crypto::Mode::ECB,
                                                                          crypto::Padding::None).value(),
                                     false, &check),
            0);
  EXPECT_EQ(sentWith(*b.device, 0x31, {0x0D}).back().size(), 6u + 16u);
  EXPECT_EQ(sentWith(*b.device, 0x31, {0x0D}).back()[1], 7);  // the key to set, then its protector
  EXPECT_EQ(check, hex("08D7B4"));
}

// ---- Smart card -------------------------------------------------------------------------

using PPadSmartCard = Connected;

TEST_F(PPadSmartCard, PowerOnApduAndRemoval) {
  EXPECT_EQ(b.pad->scInit(0, 2, 0), 3);
  EXPECT_EQ(b.pad->scInit(0, 6, 0), 3);
  EXPECT_EQ(b.pad->scInit(2, 5, 0), 3);
  EXPECT_EQ(b.pad->scInit(0, 5, 2), 3);
  model([](PinpadModel& m) {
    m.smartCard = PinpadModel::SmartCard{};
    m.smartCard->answers[hex("00A404000E315041592E5359532E4444463031")] = hex("6F0A84085041592E5359539000");
    m.smartCard->powerOnFailures = 1;
  });
  b.device->sendEvent(0x07, {});
  ASSERT_TRUE(b.runUntil([&] { return b.delegate->log().count("smartCardInserted:0") == 1; }));

  b.device->frames().clearHostFrames();
  Bytes atr;
  ASSERT_EQ(b.pad->scCardPowerOn(0, &atr), 0);  // the first attempt fails, the second answers
  EXPECT_EQ(atr, hex("3B021450"));
  EXPECT_EQ(sentWith(*b.device, 0x33, {0x02}).size(), 2u);
  Bytes response;
  ASSERT_EQ(b.pad->scCAPDU(0, hex("00A404000E315041592E5359532E4444463031"), &response), 0);
  EXPECT_EQ(response, hex("6F0A84085041592E5359539000"));
  ASSERT_EQ(b.pad->scCAPDU(0, hex("00B2010C00"), &response), 0);
  EXPECT_EQ(response, hex("6D00"));

  // Twice failing: the second result.
  model([](PinpadModel& m) { m.smartCard->powerOnFailures = 2; });
  EXPECT_EQ(b.pad->scCardPowerOn(0, &atr), 8);

  model([](PinpadModel& m) { m.smartCard.reset(); });
  const int inits = b.device->withModel([](PinpadModel& m) { return m.smartCardInits; });
  b.device->sendEvent(0x08, {});
  ASSERT_TRUE(b.runUntil([&] { return b.delegate->log().count("smartCardRemoved:0") == 1; }));
  ASSERT_TRUE(b.runUntil([&] { return b.device->withModel([](PinpadModel& m) { return m.smartCardInits; }) == inits + 1; }));
  EXPECT_EQ(sentWith(*b.device, 0x33, {0x01}).back(), hex("01000500"));
}

TEST_F(PPadSmartCard, EncryptedApduCarriesTheNewKeySerialNumber) {
  loadExampleDukpt(0);
  model([](PinpadModel& m) {
    m.smartCard = PinpadModel::SmartCard{};
    m.smartCard->answers[hex("0084000008")] = hex("1122334455667788" "9000");
  });
  Bytes atr, response;
  ASSERT_EQ(b.pad->scCardPowerOn(0, &atr), 0);
  ASSERT_EQ(b.pad->scEncryptedCAPDU(0, 0, 0, hex("0084000008"), &response), 0);
  ASSERT_EQ(response.size(), 16u + 10u);
  const Bytes ksn(response.end() - 10, response.end());
  EXPECT_EQ(ksn, hex("FFFF9876543210E00001"));
  const Bytes key = devices::dukpt::dataKey(hex("042666B49184CFA368DE9628D0397BC9"));
  const auto plain = crypto::desDecrypt(key, Bytes(response.begin(), response.begin() + 16), crypto::Mode::CBC,
                                        crypto::Padding::None);
  EXPECT_EQ(plain, hex("11223344556677889000000000000000"));

  // Another encryption sends no key step and appends nothing; a failed key step sends nothing.
  ASSERT_EQ(b.pad->scEncryptedCAPDU(0, 1, 0, hex("0084000008"), &response), 0);
  EXPECT_EQ(response.size(), 16u);
  b.device->frames().clearHostFrames();
  EXPECT_EQ(b.pad->scEncryptedCAPDU(0, 0, 5, hex("0084000008"), &response), 5);
  EXPECT_TRUE(sentData(*b.device, 0x33).empty());
}

// ---- Magnetic card ----------------------------------------------------------------------

using PPadMagnetic = Connected;

TEST_F(PPadMagnetic, MaskingSettingsAreClampedAndStoredBack) {
  // With the start values.
  Bytes full;
  b.pad->msGetMaskedDataFull(&full);
  EXPECT_EQ(sentWith(*b.device, 0x34, {0x13}).back(), hex("13040401A7"));
  EXPECT_TRUE(b.pad->msConfigMaskedData(9, 9, 9));
  std::string track2;
  b.pad->msGetMaskedData(&track2);
  EXPECT_EQ(sentWith(*b.device, 0x34, {0x0B}).back(), hex("0B060407"));
  b.pad->msGetMaskedDataFull(&full);
  EXPECT_EQ(sentWith(*b.device, 0x34, {0x13}).back(), hex("13060403A7"));

  const struct {
    int algorithm, keyID;
    bool sentinels;
    const char* request;
  } cases[] = {
      {17, -1, true, "10113412"},
      {17, 5, true, "1011050134120"},
      {3, 2, false, "100302830604"},
      {14, 1, false, "100E0101"},
      {18, 0x0102, true, "10120201"},
      {8, 7, true, "1008"},
  };
  for (const auto& c : cases) {
    b.pad->msSetEncryption(c.algorithm, c.keyID, c.sentinels, 7);
    Bytes block;
    b.pad->msGetEncryptedCardDataWithAlgorithm(c.algorithm, c.keyID, 0x1234, 0, &block);
    std::string expected = c.request;
    if (expected.size() % 2) expected.pop_back();
    EXPECT_EQ(sentWith(*b.device, 0x34, {0x10}).back(), hex(expected)) << c.algorithm;
  }
}

TEST_F(PPadMagnetic, ReadsSwipesAndTheLastCardsMaskedData) {
  Bytes card;
  model([](PinpadModel& m) { m.nextCard = Bytes(9, 0xF2); });
  EXPECT_EQ(b.pad->msGetCardData(&card), 8);
  EXPECT_TRUE(card.empty());
  model([](PinpadModel& m) { m.nextCard = Bytes(10, 0xF2); });
  EXPECT_EQ(b.pad->msGetCardData(&card), 0);
  EXPECT_EQ(card.size(), 10u);

  ASSERT_EQ(b.pad->msSimulateCardDataTrack1(std::nullopt, std::string(";4111111111111111=27031010000000000000?"), ""), 0);
  const Bytes swipe = sentWith(*b.device, 0x34, {0x14}).back();
  EXPECT_EQ(Bytes(swipe.begin(), swipe.begin() + 3), hex("14F23B"));
  EXPECT_EQ(swipe.size(), 2u + 39u);

  // Without full masked tracks: track 2, the name, and a track 1 built from them.
  model([](PinpadModel& m) {
    m.maskedTrack2 = ";4111********1111=2703101?";
    m.cardholderName = "DOE/JANE";
  });
  Error e;
  auto masked = b.pad->msGetLastCardMaskedData(&e);
  ASSERT_TRUE(masked) << e.text;
  EXPECT_EQ((*masked)["expirationYear"], "2027");
  EXPECT_EQ(sentWith(*b.device, 0x34, {0x0D}).size(), 1u);  // the name completes track 1
  model([](PinpadModel& m) { m.maskedTrack2.clear(); });
  EXPECT_FALSE(b.pad->msGetLastCardMaskedData(&e));
  EXPECT_EQ(e.code, -16);
  EXPECT_EQ(e.text, "Invalid card data");
}

// ---- Legacy EMV -------------------------------------------------------------------------

using PPadEmv = Connected;

TEST_F(PPadEmv, StepsInitialiseTheKernelFirst) {
  int16_t status = -1;
  ASSERT_EQ(b.pad->emvReadAppData(&status, {0x9F02, 0x5A}), 0);
  EXPECT_EQ(status, 0);
  EXPECT_EQ(sentData(*b.device, 0x37), (std::vector<Bytes>{{0x01}, hex("0800029F5A00")}));
  ASSERT_EQ(b.pad->emvProcessRestrictions(&status), 0);
  ASSERT_EQ(b.pad->emvDone(&status), 0);
  b.device->frames().clearHostFrames();
  ASSERT_EQ(b.pad->emvTerminalRisk(&status, true), 0);
  EXPECT_EQ(sentData(*b.device, 0x37), (std::vector<Bytes>{{0x01}, {0x0B, 0x01}}));

  const struct {
    int byte, bit, maxByte;
  } outOfRange[] = {{6, 1, 5}, {1, 0, 5}, {3, 1, 2}, {1, 9, 2}};
  for (const auto& c : outOfRange) {
    if (c.maxByte == 5)
      EXPECT_EQ(b.pad->emvUpdateTVR(&status, c.byte, c.bit, 1), 3);
    else
      EXPECT_EQ(b.pad->emvUpdateTSI(&status, c.byte, c.bit, 1), 3);
  }
  EXPECT_EQ(b.pad->emvScriptProcessing(&status, 0x73), 3);
  EXPECT_EQ(b.pad->emvScriptProcessing(&status, 0x72), 0);
  ASSERT_EQ(b.pad->emvUpdateTVR(&status, 3, 7, 1), 0);
  ASSERT_EQ(b.pad->emvCheckTVR(&status, 3, 7), 0);
  EXPECT_EQ(status, 1);
  ASSERT_EQ(b.pad->emvCheckTVR(&status, 3, 6), 0);
  EXPECT_EQ(status, 0);
}

TEST_F(PPadEmv, ApplicationListsDataAndDetails) {
  int16_t status = 0;
  model([](PinpadModel& m) {
    // Three applications: one with a label length, one closed by a zero byte, one more.
    m.emvCommonList = hex("0103" "07A0000000031010" "04" "56495341" "07A0000000041010" "00" "4D4300" "01AA0100");
  });
  std::array<PPadEMVApplication, 2> apps{};
  int count = 2;
  bool confirm = false;
  ASSERT_EQ(b.pad->emvGetCommonAppList(&status, &confirm, apps.data(), &count), 0);
  EXPECT_EQ(count, 2);
  EXPECT_TRUE(confirm);
  EXPECT_EQ(std::string(apps[0].label.data()), "VISA");
  EXPECT_EQ(apps[1].aidLength, 7);
  EXPECT_EQ(std::string(apps[1].label.data()), "MC");

  // A reply that claims more than it holds fills what is there.
  model([](PinpadModel& m) { m.emvCommonList = hex("0005" "10A0"); });
  count = 2;
  ASSERT_EQ(b.pad->emvGetCommonAppList(&status, &confirm, apps.data(), &count), 0);
  EXPECT_EQ(count, 0);

  ASSERT_EQ(b.pad->emvSetDataAsBinary(&status, 0x9F02, hex("000000001000")), 0);
  EXPECT_EQ(sentWith(*b.device, 0x37, {0x1A}).back(), hex("1A029F000000001000"));
  int type = 0, max = 0, current = 0;
  ASSERT_EQ(b.pad->emvGetDataDetails(&status, 0x9F02, &type, &max, &current), 0);
  EXPECT_EQ(type, 5);
  EXPECT_EQ(max, 16);
  EXPECT_EQ(current, 6);
  ASSERT_EQ(b.pad->emvSetDataAsString(&status, 0x50, "VISA"), 0);
  std::string label;
  ASSERT_EQ(b.pad->emvGetDataAsString(&status, 0x50, &label), 0);
  EXPECT_EQ(label, "VISA");
}

}  // namespace
}  // namespace kestra

namespace kestra {
namespace {

// ---- Pass-through channels ----------------------------------------------------------------

TEST(PPadPassThrough, ChannelsCarryTheCallersBytes) {
  devices::PinpadTestBench b(devices::PinpadPersona::skyrik500(), "SKYRIK500");
  ASSERT_TRUE(b.connect());
  const uint8_t packet[] = {0x51, 0x00, 0x00, 0x01, 0x22};
  uint8_t out[64];
  int n = 0;
  b.device->frames().clearHostFrames();
  EXPECT_EQ(b.pad->emsrCommand(packet, 5, out, sizeof out, &n), 0);  // firmware 2.4.38.5 still carries the head
  EXPECT_EQ(testsupport::sentData(*b.device, 0x3B).size(), 1u);

  Bytes reply;
  b.device->withModel([](PinpadModel& m) { m.emv2Channel = true; });
  const uint8_t emv[] = {0x02, 0x00};
  ASSERT_EQ(b.pad->emv2Command(emv, 2, &reply), 0);
  EXPECT_EQ(reply, (Bytes{0x02, 0x00}));
  ASSERT_EQ(b.pad->ppadCustomCommand(0x3F, 2.0, std::nullopt, &reply), 0);
  EXPECT_EQ(testsupport::sentData(*b.device, 0x3F).back(), Bytes{});
  ASSERT_EQ(b.pad->pogCommand(1, 2, {3}, &reply), 0);
  EXPECT_EQ(reply, (Bytes{1, 2, 3}));
  EXPECT_TRUE(b.pad->rfReaderInit(0));
}

TEST(PPadPassThrough, NewerFirmwareServesTheHeadItself) {
  devices::PinpadTestBench b;  // identification firmware 2.4.39.64
  ASSERT_TRUE(b.connect());
  const uint8_t packet[] = {0x51, 0x00, 0x00, 0x01, 0x22};
  uint8_t out[64];
  int n = 0;
  b.device->frames().clearHostFrames();
  EXPECT_EQ(b.pad->emsrCommand(packet, 5, out, sizeof out, &n), 13);
  EXPECT_TRUE(testsupport::sentData(*b.device, 0x3B).empty());
}

}  // namespace
}  // namespace kestra
