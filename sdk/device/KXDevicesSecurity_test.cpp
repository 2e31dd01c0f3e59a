// Smart cards, the encrypted head and the security calls of the device API: through a sleeve
// that carries a simulated head, through the simulated pinpad, and through fakes for the
// routing. Cryptography is checked against OpenSSL (the simulators' own AES), not against
// the code under test.

#include <gtest/gtest.h>

#include <deque>
#include <mutex>

#include <nlohmann/json.hpp>

#include "sdk/device/KXDevicesEmv2.h"
#include "sdk/device/KXDevicesInternal.h"
#include "sdk/device/KXDevicesPinpadFixture.h"
#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/foundation/KXBase64.h"
#include "sdk/pinpad/PPadTestSupport.h"
#include "testing/devices/emsr/SimulatedEmsrHead.h"
#include "testing/devices/sleeve/SleeveSecurity.h"

namespace kestra::testing {
namespace {

using foundation::bytesOf;
using foundation::toHex;

// A connected sleeve that carries an encrypted head (feature 0, bit 2): the head's packets
// go to a simulated head, except its authentication answer, which this head makes itself
// from `authKey` (and may cut short). TransArmor and Voltage commands are recorded and
// answered from the scripts.
class HeadSleeve final : public KXSleeveDriver {
 public:
  sim::SimulatedEmsrHead head;
  Bytes authKey = Bytes(32, 0x4B);
  size_t authAnswerLength = 16;
  std::vector<Bytes> taCommands, voltageCommands;
  std::function<std::optional<Bytes>(const Bytes&)> taReply = [](const Bytes&) { return Bytes{}; };
  std::function<std::optional<Bytes>(const Bytes&)> voltageReply = [](const Bytes&) { return Bytes{}; };
  std::atomic<int> headCommands{0};
  int features0 = 4;

  int connstate() override { return 2; }
  int getSupportedFeature(int feature, Error*) override { return feature == 0 ? features0 : 0; }
  int getFirmwareVersion() override { return 263; }
  int emsrCommand(const uint8_t* packet, int length, uint8_t* reply, int capacity) override {
    ++headCommands;
    const Bytes request(packet, packet + length);
    Bytes answer;
    if (request.size() == 21 && request[0] == 0x51 && request[4] == 0x23) {
      Bytes a = devices::SleeveSecurity::aes(authKey, Bytes(request.begin() + 5, request.end()), true);
      a.resize(std::min(a.size(), authAnswerLength));
      answer = {0, 0, 0, uint8_t(a.size())};
      answer.insert(answer.end(), a.begin(), a.end());
    } else {
      answer = head.handle(request);
    }
    if (answer.empty() || int(answer.size()) > capacity) return -6;
    std::copy(answer.begin(), answer.end(), reply);
    return int(answer.size());
  }
  std::optional<Bytes> taCommand(const Bytes& data, Error*) override {
    taCommands.push_back(data);
    return taReply(data);
  }
  std::optional<Bytes> voltageCommand(const uint8_t* data, int length, Error*) override {
    voltageCommands.emplace_back(data, data + length);
    return voltageReply(voltageCommands.back());
  }
  bool cryptoAuthenticateHost(const Bytes&, Error*) override { return true; }
};

class HeadFactory final : public KXDriverFactory {
 public:
  std::shared_ptr<HeadSleeve> sleeve = std::make_shared<HeadSleeve>();
  std::shared_ptr<KXSleeveDriver> makeSleeve() override { return sleeve; }
};

struct HeadFixture {
  std::shared_ptr<HeadFactory> factory = std::make_shared<HeadFactory>();
  std::shared_ptr<KXDevices> api = KXDevices::create(factory);
  HeadSleeve& sleeve = *factory->sleeve;
  HeadFixture() {
    api->connectionState(2);
    api->setActiveDeviceType(DEVICE_TYPE_SLEEVE);
  }
};

// ---- Smart card ------------------------------------------------------------------------------

TEST(KXDevicesSmartCard, CardsInThePinpadAnswerThroughTheFacade) {
  PinpadFixture f;
  ASSERT_TRUE(f.connect());
  f.bench.device->withModel([](devices::PinpadModel& m) {
    m.smartCard = devices::PinpadModel::SmartCard{};
    m.smartCard->answers[Bytes{0x00, 0xA4, 0x04, 0x00}] = Bytes{0x90, 0x00};
  });
  Error e;
  ASSERT_TRUE(f.facade->scInit(0, &e)) << e.text;
  EXPECT_TRUE(f.facade->scIsCardPresent(0, &e)) << e.text;
  EXPECT_EQ(f.facade->scCardPowerOn(0, &e), (Bytes{0x3B, 0x02, 0x14, 0x50})) << e.text;
  EXPECT_EQ(f.facade->scCAPDU(0, Bytes{0x00, 0xA4, 0x04, 0x00}, &e), (Bytes{0x90, 0x00})) << e.text;
  EXPECT_TRUE(f.facade->scCardPowerOff(0, &e)) << e.text;
  EXPECT_TRUE(f.facade->scClose(0, &e)) << e.text;
}

TEST(KXDevicesSmartCard, ThePrintersReaderHasOneSlotAndNoPowerOff) {
  ApiFixture f;
  f.printerState(0, 2);
  f.drivers.log->clear();
  Error e;
  EXPECT_TRUE(f.api->scCardPowerOff(3, &e));
  EXPECT_EQ(f.drivers.log->size(), 0u);
  // The encrypted exchange is the pinpad's only.
  EXPECT_FALSE(f.api->scEncryptedCAPDU(0, 1, 2, Bytes{0}, &e));
  EXPECT_EQ(e.code, -7);
}

// ---- Encrypted head ------------------------------------------------------------------------------

TEST(KXDevicesHead, EncryptionSettingsReachTheHeadWithTheSleevesKeyNumbers) {
  HeadFixture f;
  struct Case {
    const char* name;
    int algorithm, keyID;
    std::optional<nlohmann::json> params;
    std::pair<int, int> sent;  // algorithm and key id the head got
    int inForce;
  } kCases[] = {
      {"3DES, default key", 3, -1, std::nullopt, {3, 32}, 3},
      {"3DES, pinpad-numbered key", 3, 5, std::nullopt, {3, 37}, 3},
      {"key from the dictionary", 4, -1, nlohmann::json{{"keyID", 2}}, {4, 34}, 4},
      {"AES, default key", 0, -1, std::nullopt, {0, 1}, 0},
      {"TransArmor record list", 13, 7, std::nullopt, {2, 1}, 2},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    Error e;
    ASSERT_TRUE(f.api->emsrSetEncryption(c.algorithm, c.keyID, c.params, &e)) << e.text;
    EXPECT_EQ(f.sleeve.head.encryption(), c.sent);
    std::lock_guard lock(f.api->emv2State().mutex);
    EXPECT_EQ(f.api->emv2State().encryptionAlgorithm, c.inForce);
  }
  // Voltage text needs nothing of the head.
  f.sleeve.head.clearRequests();
  ASSERT_TRUE(f.api->emsrSetEncryption(8, std::nullopt));
  EXPECT_TRUE(f.sleeve.head.requests().empty());
  // A head that does not answer is the caller's error.
  f.sleeve.head.setSilent(true);
  Error e;
  EXPECT_FALSE(f.api->emsrSetEncryption(2, 1, std::nullopt, &e));
  EXPECT_EQ(e.code, -11005);
  f.sleeve.head.setSilent(false);
}

TEST(KXDevicesHead, MaskingIsStoredAndSentWithoutTheDigitsAfter) {
  HeadFixture f;
  Error e;
  ASSERT_TRUE(f.api->emsrConfigMaskedDataShowExpiration(true, false, true, 6, 4, 2, &e)) << e.text;
  {
    std::lock_guard lock(f.api->emv2State().mutex);
    const auto& mask = f.api->emv2State().mask;
    EXPECT_EQ(mask.unmaskedDigitsAfter, 2);
    EXPECT_EQ(mask.unmaskedDigitsAtStart, 6);
    EXPECT_TRUE(mask.showExpiration);
    EXPECT_FALSE(mask.showServiceCode);
  }
  EXPECT_EQ(f.sleeve.head.maskedConfig().size(), 3u);
}

TEST(KXDevicesHead, LibraryCallsReportTheHeadAndItsFirmware) {
  HeadFixture f;
  f.sleeve.head.setIdent("HEAD ONE");
  f.sleeve.head.setVersions(214, 105);
  Error e;
  EXPECT_EQ(f.api->emsrGetDeviceModel(&e), "HEAD ONE");
  int version = 0;
  ASSERT_TRUE(f.api->emsrGetFirmwareVersion(&version, &e)) << e.text;
  EXPECT_EQ(version, 214);
  const auto info = f.api->emsrGetDeviceInfo(&e);
  ASSERT_TRUE(info) << e.text;
  EXPECT_EQ(info->firmwareVersionString, "2.14");
  bool tampered = true;
  ASSERT_TRUE(f.api->emsrIsTampered(&tampered, &e)) << e.text;
  EXPECT_FALSE(tampered);

  // A head firmware file is read without asking the head.
  Bytes file = bytesOf("EMSR HEAD FW    ");
  file.push_back(7);  // version byte 16: the hundredths
  file.push_back(3);  // byte 17: the units
  file.resize(64, 0);
  f.sleeve.head.clearRequests();
  const auto fw = f.api->emsrGetFirmwareInformation(file, &e);
  ASSERT_TRUE(fw) << e.text;
  EXPECT_EQ((*fw)["deviceModel"], "EMSR HEAD FW");
  EXPECT_EQ((*fw)["firmwareRevision"], "3.07");
  EXPECT_EQ((*fw)["firmwareRevisionNumber"], 307);
  EXPECT_TRUE(f.sleeve.head.requests().empty());

  // Only the sleeve has a choice of heads: elsewhere the call succeeds without a word.
  ApiFixture other;
  other.pinpadState(2);
  EXPECT_TRUE(other.api->emsrSetActiveHead(1, &e));
  EXPECT_EQ(other.drivers.log->count("sleeve.emsrSetActiveHead:1"), 0u);
}

TEST(KXDevicesHead, APEMKeyNeedsItsMarkersBeforeAnyDeviceIsAsked) {
  struct Case {
    const char* name;
    std::string pem;
    std::optional<Bytes> key;
  } kCases[] = {
      {"public key", "-----BEGIN PUBLIC KEY-----\r\nAQID\nBAU=\n-----END PUBLIC KEY-----\n", Bytes{1, 2, 3, 4, 5}},
      {"RSA public key", "-----BEGIN RSA PUBLIC KEY-----AQID-----END RSA PUBLIC KEY-----", Bytes{1, 2, 3}},
      {"no start marker", "AQID-----END PUBLIC KEY-----", std::nullopt},
      {"no end marker", "-----BEGIN PUBLIC KEY-----AQID", std::nullopt},
      {"nothing between", "-----BEGIN PUBLIC KEY----------END PUBLIC KEY-----", std::nullopt},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(ConvertPEM2Data(c.pem), c.key);
  }
  PinpadFixture f;
  ASSERT_TRUE(f.connect());
  f.bench.device->frames().clearHostFrames();
  Error e;
  EXPECT_FALSE(f.facade->emsrLoadRSAKeyPEM("AQID", 1, &e));
  EXPECT_EQ(e.code, -9);
  EXPECT_EQ(e.text, "Invalid argument: pem");
  EXPECT_TRUE(f.bench.device->frames().hostFrames().empty());
}

TEST(KXDevicesHead, APinpadThatServesTheHeadItselfTakesNoHeadPackets) {
  PinpadFixture f;  // identification firmware above 2.4.38.5
  ASSERT_TRUE(f.connect());
  f.bench.device->frames().clearHostFrames();
  Error e;
  EXPECT_FALSE(f.facade->emsrGetDeviceModel(&e));
  EXPECT_LT(e.code, 0);
  EXPECT_TRUE(testsupport::sentData(*f.bench.device, 0x3B).empty());
  // Its own encryption settings are still taken, and the head's silence is not an error.
  EXPECT_TRUE(f.facade->emsrSetEncryption(3, std::nullopt, &e)) << e.text;
}

// ---- Keys and authentication through the head ----------------------------------------------------------

TEST(KXDevicesKeys, TheHeadProvesItselfOnlyWithTheWholeAnswer) {
  HeadFixture f;
  struct Case {
    const char* name;
    Bytes key;
    size_t answer;
    bool ok;
  } kCases[] = {
      {"right key", Bytes(32, 0x4B), 16, true},
      {"wrong key", Bytes(32, 0x4C), 16, false},
      {"first byte only", Bytes(32, 0x4B), 1, false},
      {"empty answer", Bytes(32, 0x4B), 0, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    f.sleeve.authAnswerLength = c.answer;
    Error e;
    EXPECT_EQ(f.api->cryptoAuthenticateDevice(c.key, &e), c.ok);
    EXPECT_EQ(e.code, 0);  // a wrong answer is no error of the link
  }
  // Host authentication is not offered with a head; nothing is sent.
  f.sleeve.headCommands = 0;
  Error e;
  EXPECT_FALSE(f.api->cryptoAuthenticateHost(Bytes(32, 1), &e));
  EXPECT_EQ(e.code, -15);
  EXPECT_EQ(e.text, "Function is not implemented with encrypted head");
  EXPECT_EQ(f.sleeve.headCommands.load(), 0);
  // Without a head the sleeve itself answers.
  f.sleeve.features0 = 0;
  EXPECT_TRUE(f.api->cryptoAuthenticateHost(Bytes(32, 1), &e));
}

TEST(KXDevicesKeys, AKeyGoesToTheHeadBehindItsRandomNumber) {
  HeadFixture f;
  f.sleeve.head.clearRequests();
  Error e;
  ASSERT_TRUE(f.api->cryptoSetKey(3, Bytes(16, 0x77), std::nullopt, 9, 0, &e)) << e.text;
  const auto requests = f.sleeve.head.requests();
  ASSERT_EQ(requests.size(), 2u);
  // 51 13 (random), then 51 21 [key id][16 random][key, zero-filled to 32][version].
  const Bytes& load = requests[1];
  ASSERT_EQ(load.size(), 4u + 54u);
  EXPECT_EQ(load[4], 0x21);
  EXPECT_EQ(load[5], 3);
  EXPECT_EQ(toHex(Bytes(load.begin() + 6, load.begin() + 22)), "5A17C39E0144B27D900F6AE12388D43C");
  EXPECT_EQ(Bytes(load.begin() + 22, load.begin() + 38), Bytes(16, 0x77));
  EXPECT_EQ(Bytes(load.begin() + 38, load.begin() + 54), Bytes(16, 0));
  EXPECT_EQ(foundation::readBE32(load.data() + 54), 9u);
  EXPECT_FALSE(f.api->cryptoSetKey(3, Bytes(33, 1), std::nullopt, 9, 0, &e));
  EXPECT_EQ(e.code, -9);
}

// ---- Certificates and TransArmor --------------------------------------------------------------------

TEST(KXDevicesKeys, CertificatesAreCountedFromTheSlotsThatAnswer) {
  HeadFixture f;
  f.sleeve.taReply = [](const Bytes& c) -> std::optional<Bytes> {
    if (c == Bytes{0x01, 0x02}) return Bytes{0, 0, 0, 5, 0, 0, 1, 0};
    return std::nullopt;
  };
  Error e("stale", -1, "stale");
  const auto certificates = f.api->cryptoGetCertificatesInfo(&e);
  ASSERT_TRUE(certificates);
  ASSERT_EQ(certificates->size(), 1u);
  EXPECT_EQ((*certificates)[0].slot, 2);
  EXPECT_EQ((*certificates)[0].usage, 5u);
  EXPECT_EQ((*certificates)[0].version, 256u);
  EXPECT_EQ(e.code, 0);
  EXPECT_EQ(f.sleeve.taCommands, (std::vector<Bytes>{{1, 0}, {1, 2}, {1, 3}}));

  // A certificate goes as DER after its header; short or broken texts are refused.
  const Bytes der(300, 0xC3);
  std::string pem = "-----BEGIN CERTIFICATE-----\r\n";
  const std::string b64 = *KXBase64::encodeBase64WithData(der);
  for (size_t i = 0; i < b64.size(); i += 64) pem += b64.substr(i, 64) + "\r\n";
  pem += "-----END CERTIFICATE-----\n";
  f.sleeve.taCommands.clear();
  f.sleeve.taReply = [](const Bytes&) { return Bytes{}; };
  ASSERT_TRUE(f.api->cryptoLoadCertificate(pem, 0x01020304, 2, 1, &e)) << e.text;
  ASSERT_EQ(f.sleeve.taCommands.size(), 1u);
  const Bytes& sent = f.sleeve.taCommands[0];
  EXPECT_EQ(toHex(Bytes(sent.begin(), sent.begin() + 11)), "0202010000000001020304");
  EXPECT_EQ(Bytes(sent.begin() + 11, sent.end()), der);
  for (const std::optional<std::string>& bad : {std::optional<std::string>(), std::optional(pem.substr(0, 255))}) {
    EXPECT_FALSE(f.api->cryptoLoadCertificate(bad, 1, 0, 0, &e));
    EXPECT_EQ(e.code, -9);
    EXPECT_EQ(e.text, "Certificate is invalid");
  }
  EXPECT_EQ(f.sleeve.taCommands.size(), 1u);
}

TEST(KXDevicesKeys, TransArmorCommandsCheckTheirDataFirst) {
  HeadFixture f;
  Error e;
  EXPECT_FALSE(f.api->taSetMerchantID(std::nullopt, &e));
  EXPECT_EQ(e.text, "MerchantID is invalid");
  EXPECT_FALSE(f.api->taSetMerchantID(std::string(), &e));
  EXPECT_FALSE(f.api->taSetBINRanges(Bytes{}, &e));
  EXPECT_EQ(e.text, "Data is invalid");
  EXPECT_FALSE(f.api->msSetBINRangesEx(std::nullopt, &e));
  EXPECT_TRUE(f.sleeve.taCommands.empty());

  ASSERT_TRUE(f.api->taSetMerchantID(std::string("MERCHANT-0042"), &e));
  ASSERT_TRUE(f.api->taSetMerchantID(std::string("M1"), &e));
  ASSERT_TRUE(f.api->taSetEncryptionModeForCard(3, 4, false, &e));
  ASSERT_TRUE(f.api->taSetBINRangesEx(Bytes{0xAA}, &e));
  EXPECT_EQ(f.sleeve.taCommands, (std::vector<Bytes>{
                                     {0x03, 'M', 'E', 'R', 'C', 'H', 'A', 'N', 'T'},
                                     {0x03, 'M', '1', 0, 0, 0, 0, 0, 0},
                                     {0x05, 0x80, 0x00, 4, 3},
                                     {0x08, 0xAA},
                                 }));
}

TEST(KXDevicesKeys, TransArmorEncryptsUnderTheHostKeyInWholeBlocks) {
  PinpadFixture f;  // the pinpad's TransArmor channel echoes the command it was given
  ASSERT_TRUE(f.connect());
  const Bytes hostKey = bytesOf("TORKA VELSIN ;-)");
  struct Case {
    size_t length;
    size_t blocks;
    size_t lines;
  } kCases[] = {{14, 1, 1}, {15, 2, 1}, {0, 1, 1}, {100, 7, 3}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.length);
    const std::string text(c.length, 'T');
    Error e;
    const auto answer = f.facade->taEncryptData(text, &e);
    ASSERT_TRUE(answer) << e.text;
    // Lines of at most 64 characters, each ended by CR LF.
    std::string joined;
    size_t lines = 0, at = 0;
    while (at < answer->size()) {
      const size_t end = answer->find("\r\n", at);
      ASSERT_NE(end, std::string::npos);
      EXPECT_LE(end - at, 64u);
      joined += answer->substr(at, end - at);
      at = end + 2;
      ++lines;
    }
    EXPECT_EQ(lines, c.lines);
    const auto echoed = KXBase64::decodeBase64WithString(joined);
    ASSERT_TRUE(echoed);
    ASSERT_EQ(echoed->size(), 1 + 16 * c.blocks);
    EXPECT_EQ((*echoed)[0], 0x06);
    const Bytes plain = devices::SleeveSecurity::aes(hostKey, Bytes(echoed->begin() + 1, echoed->end()), false);
    Bytes expected = {uint8_t(c.length >> 8), uint8_t(c.length)};
    expected.insert(expected.end(), text.begin(), text.end());
    expected.resize(16 * c.blocks, 0);
    EXPECT_EQ(plain, expected);
  }
}

// ---- Voltage -----------------------------------------------------------------------------------------

TEST(KXDevicesKeys, VoltageCommandsAndItsInformation) {
  HeadFixture f;
  Error e;
  ASSERT_TRUE(f.api->voltageSetPublicParameters(std::nullopt, &e));
  ASSERT_EQ(f.sleeve.voltageCommands.back().size(), 757u);
  EXPECT_EQ(f.sleeve.voltageCommands.back()[0], 0x05);
  EXPECT_EQ(Bytes(f.sleeve.voltageCommands.back().begin() + 1, f.sleeve.voltageCommands.back().end()),
            gTestIBEParams());
  ASSERT_TRUE(f.api->voltageSetIdentityString(std::nullopt, &e));
  EXPECT_EQ(f.sleeve.voltageCommands.back(), Bytes{0x06});
  ASSERT_TRUE(f.api->voltageSetMerchantID(std::string("M7"), &e));
  EXPECT_EQ(f.sleeve.voltageCommands.back(), (Bytes{0x04, 'M', '7'}));
  EXPECT_FALSE(f.api->voltageSetMerchantID(std::string(255, 'x'), &e));
  EXPECT_EQ(e.code, -9);
  ASSERT_TRUE(f.api->voltageSetKeyRolloverDays(30, 200, &e));
  EXPECT_EQ(f.sleeve.voltageCommands.back(), (Bytes{0x08, 30, 200}));
  ASSERT_TRUE(f.api->voltageSetSettingsVersion(0x01020304, &e));
  EXPECT_EQ(f.sleeve.voltageCommands.back(), (Bytes{0x03, 1, 2, 3, 4}));

  f.sleeve.voltageReply = [](const Bytes&) { return Bytes{0, 0, 0, 7, 0x03, 0, 0, 0, 0}; };
  auto info = f.api->voltageGetInfo(&e);
  ASSERT_TRUE(info) << e.text;
  EXPECT_EQ(info->settingsVersion, 7);
  EXPECT_TRUE(info->keyGenerated);
  EXPECT_TRUE(info->keyGenerationInProgress);
  EXPECT_FALSE(info->keyGenerationDate);
  f.sleeve.voltageReply = [](const Bytes&) { return Bytes{0, 0, 0, 1, 0x01, 0, 0, 0, 60}; };
  info = f.api->voltageGetInfo(&e);
  ASSERT_TRUE(info && info->keyGenerationDate);
  std::tm start{};
  start.tm_year = 100;
  start.tm_mday = 1;
  start.tm_isdst = -1;
  EXPECT_EQ(*info->keyGenerationDate, std::chrono::system_clock::from_time_t(std::mktime(&start)) + std::chrono::seconds(60));
  f.sleeve.voltageReply = [](const Bytes&) { return Bytes{0, 0}; };
  EXPECT_FALSE(f.api->voltageGetInfo(&e));
  EXPECT_EQ(e.code, -6);
}

TEST(KXDevicesKeys, SecurityCallsRouteToTheirDevices) {
  ApiFixture f;
  Error e;
  EXPECT_FALSE(f.api->taCommand(Bytes{1}, &e));
  EXPECT_EQ(e.code, -20);
  f.printerState(0, 2);
  EXPECT_FALSE(f.api->samPowerOn(&e));
  EXPECT_EQ(e.code, -7);
  EXPECT_FALSE(f.api->cryptoRawGenerateRandomData(&e));
  EXPECT_EQ(e.code, -7);
}

TEST(KXDevicesKeys, ThePinpadCarriesVoltage) {
  PinpadFixture f;
  ASSERT_TRUE(f.connect());
  Error e;
  const uint8_t command[] = {0x07, 0x02};
  EXPECT_EQ(f.api->voltageCommand(command, 2, &e), (Bytes{0x07, 0x02})) << e.text;
  // Key loading is the sleeve's alone.
  EXPECT_FALSE(f.facade->cryptoSetKey(1, Bytes(32, 0), std::nullopt, 1, 0, &e));
  EXPECT_EQ(e.code, -7);
}

}  // namespace
}  // namespace kestra::testing
