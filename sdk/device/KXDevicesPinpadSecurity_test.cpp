// The device API's pinpad key, crypto and legacy EMV calls: routing over fake drivers, and
// the calls themselves through the facade to the real pinpad driver and a simulated pinpad.
#include <gtest/gtest.h>

#include "platform/crypto/Cipher.h"
#include "sdk/device/KXDevicesPinpadFixture.h"
#include "testing/devices/pinpad/Dukpt.h"
#include "testing/devices/pinpad/TR31.h"

namespace kestra::testing {
namespace {

using devices::PinpadModel;

Bytes hex(std::string_view h) { return foundation::fromHex(h).value(); }

// Log lines written while it lives.
struct LogCapture {
  LogCapture() {
    KXUNISDKGlobals::setLogHandler([this](const std::string& line) {
      std::lock_guard<std::mutex> lock(mutex);
      lines.push_back(line);
    });
  }
  ~LogCapture() { KXUNISDKGlobals::setLogHandler(nullptr); }
  size_t count() {
    std::lock_guard<std::mutex> lock(mutex);
    return lines.size();
  }
  std::mutex mutex;
  std::vector<std::string> lines;
};

TEST(KXDevicesPinpadSecurity, RoutingAcrossActiveTypes) {
  const struct {
    const char* name;
    int sleeve, pinpad, active;
    int code;  // -16516: routed to the fake pinpad, which has no driver behind it
  } cases[] = {
      {"nothing connected", 0, 0, -1, -20},
      {"sleeve only", 2, 0, -1, -7},
      {"sleeve chosen while a pinpad is connected", 2, 2, 0, -7},
      {"pinpad automatically", 0, 2, -1, -16516},
      {"pinpad chosen", 2, 2, 2, -16516},
  };
  for (const auto& c : cases) {
    ApiFixture f;
    f.sleeveState(c.sleeve);
    f.pinpadState(c.pinpad);
    if (c.active != -1) {
      ASSERT_TRUE(f.api->setActiveDeviceType(c.active)) << c.name;
    }
    const std::function<bool(Error*)> calls[] = {
        [&](Error* e) { return f.api->ppadGetKeysInfo(e).has_value(); },
        [&](Error* e) { return f.api->ppadCryptoDelete3DESKeyID(1, e); },
        [&](Error* e) { return f.api->emvInitialise(e); },
        [&](Error* e) { return f.api->caGetKeysData(e).has_value(); },
        [&](Error* e) { return f.api->ppadCryptoDUKPTMACWithMode(0, Bytes(8, 0), Bytes(16, 0), {1}, e).has_value(); },
    };
    for (const auto& call : calls) {
      Error e;
      EXPECT_FALSE(call(&e)) << c.name;
      EXPECT_EQ(e.code, c.code) << c.name;
      // Without a place for the error nothing is logged.
      LogCapture log;
      EXPECT_FALSE(call(nullptr)) << c.name;
      if (c.code != -16516) {
        EXPECT_EQ(log.count(), 0u) << c.name;
      }
    }
  }
}

TEST(KXDevicesPinpadSecurity, ManualCardEntryCannotBeCancelled) {
  ApiFixture f;
  Error e;
  EXPECT_FALSE(f.api->ppadCancelMagneticCardEntry(&e));
  EXPECT_EQ(e.code, -7);
}

struct Connected : ::testing::Test {
  void SetUp() override { ASSERT_TRUE(f.connect()); }
  void model(const std::function<void(PinpadModel&)>& fn) { f.bench.device->withModel(fn); }
  std::vector<Bytes> sent(uint8_t group) {
    std::vector<Bytes> out;
    for (const auto& fr : f.bench.device->frames().hostFrames())
      if (fr.command == group) out.emplace_back(fr.bytes.begin() + 5, fr.bytes.end() - 1);
    return out;
  }
  PinpadFixture f;
  const Bytes kek = hex("0123456789ABCDEFFEDCBA9876543210");
  const Bytes key = hex("89E88CF7931444F334BD7547FC3F380C");
};

TEST_F(Connected, TR31BlocksLoadTheKeyAndB080DeletesItFirst) {
  model([&](PinpadModel& m) { m.keys[1] = {kek}; });
  const std::string block = devices::tr31::wrap(kek, key, "P0TE00E0000");
  ASSERT_EQ(block.rfind("B0080P0TE00E0000", 0), 0u);
  f.bench.device->frames().clearHostFrames();
  Error e;
  std::optional<Bytes> check;
  {
    LogCapture log;
    check = f.facade->ppadCryptoTR31ExchangeKeyID(7, 1, block, &e);
    std::lock_guard<std::mutex> lock(log.mutex);
    for (const auto& line : log.lines) EXPECT_EQ(line.find(block.substr(16, 16)), std::string::npos) << line;
  }
  ASSERT_TRUE(check) << e.text;
  const Bytes zeros = *crypto::desEncrypt(key, Bytes(8, 0), crypto::Mode::ECB, crypto::Padding::None);
  EXPECT_EQ(*check, Bytes(zeros.begin(), zeros.begin() + 3));
  model([&](PinpadModel& m) {
    EXPECT_EQ(m.keys[7].value, key);
    EXPECT_EQ(m.keys[7].usage, "P0");
    EXPECT_EQ(m.keySaves, 1);
  });
  auto crypto = sent(0x31);
  ASSERT_EQ(crypto.size(), 2u);  // exchange, save: no deletion
  EXPECT_EQ(Bytes(crypto[0].begin(), crypto[0].begin() + 6), hex("0D0701000000"));
  EXPECT_EQ(crypto[0].back(), 0);

  // A block of length 0800..0809 begins "B080": the target key is deleted first.
  std::string b080 = "B0800P0TE00E0000" + std::string(800 - 16, '0');
  f.bench.device->frames().clearHostFrames();
  EXPECT_FALSE(f.facade->ppadCryptoTR31ExchangeKeyID(7, 1, b080, &e));
  crypto = sent(0x31);
  ASSERT_GE(crypto.size(), 2u);
  EXPECT_EQ(crypto[0], hex("0907"));
  EXPECT_EQ(crypto[1][0], 0x0D);

  // Text that is no key block is refused before anything is sent, the key kept.
  model([&](PinpadModel& m) { m.keys[7] = {key}; });
  f.bench.device->frames().clearHostFrames();
  EXPECT_FALSE(f.facade->ppadCryptoTR31ExchangeKeyID(7, 1, "B080 not a key block", &e));
  EXPECT_EQ(e.code, -9);
  EXPECT_TRUE(sent(0x31).empty());
}

TEST_F(Connected, ManualCardEntryIsDeliveredOnTheMainQueueAndAnEmptyAnswerAsAFailedRead) {
  auto entry = std::make_shared<RecordingDelegate>(
      f.app, "entry",
      std::vector<std::string_view>{kxsel::magneticCardData, kxsel::magneticCardEncryptedData,
                                    kxsel::magneticCardReadFailed});
  f.facade->addDelegate(entry);
  auto heard = [&](const std::string& prefix) {
    for (const auto& l : f.app->lines())
      if (l.rfind(prefix, 0) == 0) return true;
    return false;
  };
  model([](PinpadModel& m) { m.manualEntry = hex("02" "F2" "3B343131313D323730333F"); });
  Error e;
  ASSERT_TRUE(f.facade->ppadMagneticCardEntry(1, 30, &e)) << e.text;
  EXPECT_EQ(sent(0x34).back(), hex("091E01"));
  ASSERT_TRUE(f.bench.runUntil([&] { return heard("entry:magneticCardData") || heard("entry:encrypted3"); }));
  EXPECT_FALSE(heard("entry:readFailed"));

  // An answer without even the byte naming the tracks is reported as a failed read.
  model([](PinpadModel& m) { m.manualEntry = Bytes{}; });
  ASSERT_TRUE(f.facade->ppadMagneticCardEntry(1, 30, &e)) << e.text;
  ASSERT_TRUE(f.bench.runUntil([&] { return heard("entry:readFailed:0"); }));
}

TEST_F(Connected, MagneticCardCallsReachThePinpad) {
  Error e;
  ASSERT_TRUE(f.facade->msSimulateCardDataTrack1(std::nullopt, std::string(";4111111111111111=2703101?"), std::nullopt, &e))
      << e.text;
  model([](PinpadModel& m) {
    ASSERT_EQ(m.simulatedSwipes.size(), 1u);
    EXPECT_EQ(m.simulatedSwipes[0][0], 0xF2);
    m.loyaltyNumber = "778899";
    m.maskedTrack2 = ";4111********1111=2703101?";
  });
  EXPECT_EQ(f.facade->msGetLoyaltyDataForID(2, &e), foundation::bytesOf("778899"));
  const auto masked = f.facade->msGetLastCardMaskedData(&e);
  ASSERT_TRUE(masked) << e.text;
  EXPECT_EQ((*masked)["expirationYear"], "2027");
}

TEST_F(Connected, PublishedTR31BlockLoadsItsKey) {
  // A version B block with its protection key, key and check value as published.
  model([&](PinpadModel& m) { m.keys[2] = {hex("EFE0853B256B583D868F251CE99EA1D9")}; });
  Error e;
  const auto check = f.facade->ppadCryptoTR31ExchangeKeyID(
      9, 2, "B0080K0TN00N00001C414014375212C24995E405B5EE052CB92B67F455EA2680F6751088F9F1C228", &e);
  ASSERT_TRUE(check) << e.text;
  EXPECT_EQ(*check, hex("5C9405"));
  model([&](PinpadModel& m) {
    EXPECT_EQ(m.keys[9].value, hex("5DB50B454F8389ADCE573BE50861F2BF"));
    EXPECT_EQ(m.keys[9].usage, "K0");
  });
}

TEST_F(Connected, DeleteOrExchangeWhoseSaveFailsReportsTheSave) {
  model([&](PinpadModel& m) {
    m.keys[1] = {kek};
    m.keys[2] = {key};
    m.refuse[{0x31, 0x05}] = 7;
  });
  Error e;
  EXPECT_FALSE(f.facade->ppadCryptoDelete3DESKeyID(2, &e));
  EXPECT_EQ(e.code, -16507);
  model([](PinpadModel& m) { EXPECT_EQ(m.keys.count(2), 0u); });  // the pinpad took the change
  const Bytes wrapped = *crypto::desEncrypt(kek, key, crypto::Mode::ECB, crypto::Padding::None);
  EXPECT_FALSE(f.facade->ppadCryptoExchangeKeyID(3, 1, 'P', 1, wrapped, false, &e));
  EXPECT_EQ(e.code, -16507);
  model([](PinpadModel& m) { m.refuse.clear(); });
  const auto check = f.facade->ppadCryptoExchangeKeyID(3, 1, 'P', 1, wrapped, false, &e);
  ASSERT_TRUE(check) << e.text;
  const auto info = f.facade->ppadGetKeyInfo(3, &e);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->checkValue, *check);
  EXPECT_EQ(info->version, 1);
  // A key the pinpad does not have: a record of version 0, no error.
  const auto none = f.facade->ppadGetKeyInfo(40, &e);
  ASSERT_TRUE(none);
  EXPECT_EQ(none->version, 0);
}

TEST_F(Connected, EncryptionDecryptionAndDUKPT) {
  model([&](PinpadModel& m) { m.keys[4] = {key}; });
  const Bytes plain = hex("0011223344556677");
  Error e;
  const auto ecb = f.facade->ppadCrypto3DESECBEncryptKeyID(4, plain, &e);
  ASSERT_TRUE(ecb) << e.text;
  EXPECT_EQ(f.facade->ppadCrypto3DESECBDecryptKeyID(4, *ecb, &e), plain);
  const auto cbc = f.facade->ppadCrypto3DESCBCEncryptKeyID(4, hex("0102030405060708"), plain, &e);
  ASSERT_TRUE(cbc);
  EXPECT_EQ(f.facade->ppadCrypto3DESCBCDecryptKeyID(4, hex("0102030405060708"), *cbc, &e), plain);
  EXPECT_EQ(sent(0x31).front()[1], 0);  // encryption passes "decrypt" off
  EXPECT_EQ(sent(0x31)[1][1], 1);

  Bytes initial = devices::dukpt::initialKey(hex("0123456789ABCDEFFEDCBA9876543210"), hex("FFFF9876543210E00000"));
  initial.insert(initial.end(), {0xFF, 0xFF, 0x98, 0x76, 0x54, 0x32, 0x10, 0xE0, 0x00, 0x00});
  ASSERT_TRUE(f.bench.pad->cryptoDUKPTInitialKey(0, 2, initial) == 0);
  EXPECT_EQ(f.facade->ppadCryptoDUKPTGenerateKeyWithID(2, &e), hex("FFFF9876543210E00001"));
  EXPECT_EQ(f.facade->ppadGetDUKPTKeyKSN(2, &e), hex("FFFF9876543210E00001"));
  // The DUKPT MAC uses key 255, the current transaction key.
  ASSERT_TRUE(f.facade->ppadCryptoDUKPTMACWithMode(1, Bytes(8, 0), Bytes(16, 0), plain, &e)) << e.text;
  EXPECT_EQ(sent(0x31).back()[2], 255);
  const auto keys = f.facade->ppadGetKeysInfo(&e);
  ASSERT_TRUE(keys);
  ASSERT_EQ(keys->size(), 2u);
  EXPECT_TRUE(keys->back().isDUKPTKey());
}

TEST_F(Connected, LegacyEmvStepsAndCAKeys) {
  Error e;
  ASSERT_TRUE(f.facade->emvInitialise(&e)) << e.text;
  ASSERT_TRUE(f.facade->emvUpdateTVRByte(3, 7, 1, &e));
  ASSERT_TRUE(f.facade->emvCheckTVRByte(3, 7, &e));
  EXPECT_EQ(f.api->emvLastStatus(), 1);
  EXPECT_EQ(sent(0x37).back(), hex("160307"));
  EXPECT_FALSE(f.facade->emvScriptProcessing(0x70, &e));
  EXPECT_EQ(f.api->emvLastStatus(), 1);  // kept from the last step that succeeded

  // Application lists: a 16-character label fits, 17 do not, nor more than 50 applications.
  KXEMVApplication app{hex("A0000000031010"), "VISA CREDIT 1234", 1};
  ASSERT_TRUE(f.facade->emvLoadAppList({app}, 0, false, &e)) << e.text;
  model([](PinpadModel& m) { EXPECT_EQ(m.emvAppList, hex("000001" "07A0000000031010" "01" "56495341204352454449542031323334" "00")); });
  app.label += "5";
  f.bench.device->frames().clearHostFrames();
  EXPECT_FALSE(f.facade->emvLoadAppList({app}, 0, false, &e));
  EXPECT_EQ(e.code, -9);
  EXPECT_FALSE(f.facade->emvLoadAppList(std::vector<KXEMVApplication>(51), 0, false, &e));
  EXPECT_TRUE(sent(0x37).empty());
  ASSERT_TRUE(f.facade->emvLoadAppList({}, 1, true, &e));
  EXPECT_EQ(sent(0x37).back(), hex("05010100"));

  model([](PinpadModel& m) { m.emvCommonList = hex("0002" "07A0000000031010" "04" "56495341" "05A000000004" "02" "4D43"); });
  bool confirm = true;
  const auto common = f.facade->emvGetCommonAppList(&confirm, &e);
  ASSERT_TRUE(common);
  ASSERT_EQ(common->size(), 2u);
  EXPECT_FALSE(confirm);
  EXPECT_EQ((*common)[1].aid, hex("A000000004"));
  EXPECT_EQ((*common)[1].label, "MC");

  // CA keys in slots 0 and 5.
  ASSERT_TRUE(f.facade->caImportKeyNumber(0, hex("A000000003F1"), Bytes(176, 1), {3}, &e));
  ASSERT_TRUE(f.facade->caImportKeyNumber(5, hex("A000000004FE"), Bytes(128, 1), {3}, &e));
  const auto ca = f.facade->caGetKeysData(&e);
  ASSERT_TRUE(ca);
  ASSERT_EQ(ca->size(), 2u);
  EXPECT_EQ((*ca)[0].keyIndex, 0);
  EXPECT_EQ((*ca)[1].keyIndex, 5);
  EXPECT_EQ((*ca)[1].RIDI, hex("A000000004FE"));
  EXPECT_EQ((*ca)[0].moduleLength, 176);
}

TEST_F(Connected, EncryptedTagsUnderDUKPTReuseTheLastSerialForKey255) {
  Bytes initial = devices::dukpt::initialKey(hex("0123456789ABCDEFFEDCBA9876543210"), hex("FFFF9876543210E00000"));
  initial.insert(initial.end(), {0xFF, 0xFF, 0x98, 0x76, 0x54, 0x32, 0x10, 0xE0, 0x00, 0x00});
  ASSERT_EQ(f.bench.pad->cryptoDUKPTInitialKey(0, 3, initial), 0);
  Error e;
  ASSERT_TRUE(f.facade->emvSetDataAsBinary(0x9F02, hex("000000001000"), &e));
  const auto first = f.facade->emvGetTagsEncryptedDUKPT(hex("9F02"), 3, 7, &e);
  ASSERT_TRUE(first) << e.text;
  EXPECT_EQ(Bytes(first->end() - 10, first->end()), hex("FFFF9876543210E00001"));
  const auto plain = crypto::desDecrypt(devices::dukpt::dataKey(hex("042666B49184CFA368DE9628D0397BC9")),
                                        Bytes(first->begin(), first->end() - 10), crypto::Mode::CBC,
                                        crypto::Padding::None);
  EXPECT_EQ(plain, hex("9F020600000000100000000000000000"));

  const size_t generated = [&] {
    size_t n = 0;
    for (const auto& d : sent(0x32)) n += d[0] == 0x06;
    return n;
  }();
  const auto again = f.facade->emvGetTagsEncryptedDUKPT(hex("9F02"), 255, 7, &e);
  ASSERT_TRUE(again);
  EXPECT_EQ(Bytes(again->end() - 10, again->end()), hex("FFFF9876543210E00001"));
  size_t after = 0;
  for (const auto& d : sent(0x32)) after += d[0] == 0x06;
  EXPECT_EQ(after, generated);  // no new key
  EXPECT_EQ(sent(0x37).back()[1], 255);
}

}  // namespace
}  // namespace kestra::testing
