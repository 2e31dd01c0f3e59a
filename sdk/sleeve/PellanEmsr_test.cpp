// The encrypted head reached through the sleeve: the library's packets travel as sleeve
// commands 33 or 62, answers come back whole or not at all, and owners that talk at once
// never mix their packets.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <thread>

#include "sdk/foundation/EMSRDeviceInfo.h"
#include "sdk/foundation/Emsr.h"
#include "sdk/sleeve/Pellan.h"
#include "testing/devices/sleeve/SleeveSecurity.h"

namespace kestra {
namespace {

using devices::SimulatedSleeve;
using devices::SleeveProtocol;
using devices::SleeveSecurity;
using devices::SleeveTestBench;
using foundation::Bytes;

SimulatedSleeve::Options withModel(const std::string& model) {
  SimulatedSleeve::Options o;
  o.config.model = model;
  return o;
}

struct PellanEmsr : ::testing::Test {
  explicit PellanEmsr(const std::string& model = "XBCMEV") : bench(withModel(model)), security(*bench.sleeve) {}
  void SetUp() override {
    security.head.setIdent("PELLAN HEAD");
    security.head.setVersions(215, 302);
    security.emulatedHead.setIdent("EMULATED HEAD");
    ASSERT_TRUE(bench.connect());
  }
  SleeveTestBench bench;
  SleeveSecurity security;
};

TEST_F(PellanEmsr, InfoRecordsAndKeyInfoAreReadThroughTheBridge) {
  Pellan& p = *bench.pellan;
  Error error;
  EXPECT_EQ(p.emsrGetDeviceModel(&error), "PELLAN HEAD");
  int firmware = 0, securityVersion = 0;
  ASSERT_TRUE(p.emsrGetFirmwareVersion(&firmware, &error));
  ASSERT_TRUE(p.emsrGetSecurityVersion(&securityVersion, &error));
  EXPECT_EQ(firmware, 215);
  EXPECT_EQ(securityVersion, 302);
  EXPECT_EQ(foundation::toHex(*p.emsrGetSerialNumber(&error)), "1032547698BADCFE0123456789ABCDEF");
  EXPECT_EQ(foundation::toHex(*p.emsrGetDUKPTSerial(&error)), "FFFF9876543210E00001");
  int keyVersion = 0;
  ASSERT_TRUE(p.emsrGetKeyVersion(1, &keyVersion, &error));
  EXPECT_EQ(keyVersion, 2);
  bool tampered = true;
  ASSERT_TRUE(p.emsrIsTampered(&tampered, &error));
  EXPECT_FALSE(tampered);
  EXPECT_EQ(p.emsrGetSupportedEncryptions(&error), (std::vector<int>{1, 2, 3}));

  // The records the device API builds from the library's answers.
  EMSRInfo raw;
  ASSERT_EQ(emsrGetInfo(&p, &raw), 0);
  const EMSRDeviceInfo info(raw, p.getFirmwareVersion());
  EXPECT_EQ(info.ident, "PELLAN HEAD");
  EXPECT_EQ(info.firmwareVersionString, "2.15");
  EXPECT_EQ(info.securityVersionString, "3.02");
  EXPECT_EQ(info.serialNumberString, "1032547698BADCFE0123456789ABCDEF");
  EMSRKeyInfo rawKeys;
  ASSERT_EQ(emsrGetKeyInfo(&p, &rawKeys), 0);
  const EMSRKeysInfo keys(rawKeys);
  EXPECT_EQ(keys.getKeyVersion(32), 5);
  ASSERT_EQ(keys.keys.size(), 3u);
  EXPECT_EQ(foundation::toHex(keys.keys[2].dukptKSN.value_or(Bytes())), "FFFF9876543210E00001");

  // A firmware file is read without the head.
  Bytes file(64, ' ');
  const std::string name = "PELLAN EMSR";
  std::copy(name.begin(), name.end(), file.begin());
  file[16] = 7;
  file[17] = 2;
  auto fw = p.emsrGetFirmwareInformation(file, &error);
  ASSERT_TRUE(fw);
  EXPECT_EQ((*fw)["deviceModel"], "PELLAN EMSR");
  EXPECT_EQ((*fw)["firmwareRevision"], "2.07");
  EXPECT_EQ((*fw)["firmwareRevisionNumber"], 207);

  // The head's refusals come back as the library's codes with their texts.
  security.head.failNextCommand(sim::SimulatedEmsrHead::kNoPermission);
  EXPECT_FALSE(p.emsrGetDeviceModel(&error));
  EXPECT_EQ(error.code, -11002);
  EXPECT_FALSE(error.text.empty());
}

TEST_F(PellanEmsr, CommandFollowsTheActiveHead) {
  Pellan& p = *bench.pellan;
  Error error;
  EXPECT_FALSE(p.emsrSetActiveHead(2, &error));
  EXPECT_EQ(error.code, -9);
  EXPECT_EQ(error.text, "Invalid argument: active");

  security.head.clearRequests();
  ASSERT_TRUE(p.emsrSetActiveHead(1, &error)) << error.text;
  EXPECT_EQ(p.emsrGetDeviceModel(&error), "EMULATED HEAD");
  bench.sleeve->withProtocol([](SleeveProtocol& s) {
    // The library's packet, unchanged, is the data of command 62.
    EXPECT_EQ(s.lastCommand(0, 62), (Bytes{0x01, 0x00, 0x00, 0x00}));
  });
  EXPECT_TRUE(security.head.requests().empty());

  ASSERT_TRUE(p.emsrSetActiveHead(0, &error));
  EXPECT_EQ(p.emsrGetDeviceModel(&error), "PELLAN HEAD");
  EXPECT_EQ(security.head.requests().size(), 1u);

  // The "keyID" parameter replaces the key argument; nothing else of the parameters is sent.
  const nlohmann::json params = {{"keyID", 3}, {"other", 9}};
  ASSERT_TRUE(p.emsrSetEncryption(4, &params, &error));
  EXPECT_EQ(security.head.encryption(), (std::pair<int, int>{4, 3}));
  ASSERT_TRUE(p.emsrSetEncryption(5, nullptr, &error));
  EXPECT_EQ(security.head.encryption(), (std::pair<int, int>{5, -1}));
  ASSERT_TRUE(p.emsrConfigMaskedDataShowExpiration(true, 6, 4, &error));
  EXPECT_EQ(security.head.maskedConfig(), (Bytes{0x01, 6, 4}));
}

struct PellanEmsrPlainHead : PellanEmsr {
  PellanEmsrPlainHead() : PellanEmsr("XBCM") {}
};

TEST_F(PellanEmsrPlainHead, TheEmulatedHeadNeedsItsFeatureBit) {
  Error error;
  EXPECT_FALSE(bench.pellan->emsrSetActiveHead(1, &error));
  EXPECT_EQ(error.code, -7);
  EXPECT_EQ(error.text, "Emulated head not supported on this hardware");
  EXPECT_TRUE(bench.pellan->emsrSetActiveHead(0, &error));
}

TEST_F(PellanEmsr, AnswersThatDoNotFitAreFailedExchangesNotCutOnes) {
  Pellan& p = *bench.pellan;
  // Straight through the bridge: a reply area of 8 bytes for a 22-byte answer.
  const uint8_t request[] = {0x01, 0x00, 0x00, 0x00};
  uint8_t reply[16];
  std::fill(std::begin(reply), std::end(reply), 0xEE);
  EXPECT_EQ(p.emsrCommand(request, 4, reply, 8), -6);
  for (uint8_t b : reply) EXPECT_EQ(b, 0xEE);
  EXPECT_EQ(p.emsrCommand(request, 4, reply, 0), -6);

  // Through the library: a sleeve answer longer than its packet buffer is a failed exchange,
  // which the library reports as no reply (its buffer is never written past).
  bench.sleeve->withProtocol([](SleeveProtocol& s) { s.nextResult = Bytes(600, 0x00); });
  Error error;
  EXPECT_FALSE(p.emsrGetDeviceModel(&error));
  EXPECT_EQ(error.code, -11005);
  EXPECT_EQ(p.emsrGetDeviceModel(&error), "PELLAN HEAD");
  // So is an unanswered command.
  security.head.setSilent(true);
  EXPECT_FALSE(p.emsrGetDeviceModel(&error));
  EXPECT_EQ(error.code, -11005);
  security.head.setSilent(false);
  EXPECT_EQ(p.emsrGetDeviceModel(&error), "PELLAN HEAD");
}

TEST_F(PellanEmsr, KeysAndFirmwareReachTheHeadAndARefusedBlockFailsTheUpdate) {
  Pellan& p = *bench.pellan;
  Error error;
  // Key loads travel as the caller's head packet, unchanged.
  Bytes load = {0x21, 0x02};
  load.resize(54, 0x3C);
  security.head.clearRequests();
  ASSERT_TRUE(p.emsrLoadKey(load, &error)) << error.text;
  ASSERT_EQ(security.head.requests().size(), 1u);
  const Bytes sent = security.head.requests()[0];
  EXPECT_EQ(sent[0], 0x51);
  EXPECT_EQ(Bytes(sent.begin() + 4, sent.end()), load);

  Bytes file(52 + 600, 0x00);
  file[0] = 0x70;  // the head's own header sub-command
  ASSERT_TRUE(p.emsrUpdateFirmware(file, &error)) << error.text;
  EXPECT_TRUE(security.head.firmwareCommitted());
  EXPECT_EQ(security.head.firmwareBlocks().size(), 3u);

  security.head.failFirmwareBlock(1, 3);
  EXPECT_FALSE(p.emsrUpdateFirmware(file, &error));
  EXPECT_EQ(error.code, -(11000 + sim::SimulatedEmsrHead::kInvalidDataLength));
  EXPECT_EQ(security.head.blockAttempts(1), 3);
  EXPECT_FALSE(security.head.firmwareCommitted());
}

TEST_F(PellanEmsr, ConcurrentOwnersAreServedOneCommandAtATime) {
  // Another owner with its own head, and the sleeve, asked from three threads at once.
  sim::SimulatedEmsrHead other;
  other.setIdent("OTHER HEAD");
  emsrSetCallbacks(&other, sim::SimulatedEmsrHead::transport);
  std::atomic<int> wrong{0};
  auto ask = [&](void* owner, const std::string& expected) {
    for (int i = 0; i < 40; ++i) {
      char model[17] = {};
      if (emsrGetDeviceModel(owner, model) != 0 || expected != model) ++wrong;
      int v = 0;
      if (emsrGetFirmwareVersion(owner, &v) != 0) ++wrong;
    }
  };
  {
    std::thread a(ask, bench.pellan.get(), "PELLAN HEAD");
    std::thread b(ask, &other, "OTHER HEAD");
    std::thread c([&] {
      for (int i = 0; i < 40; ++i) {
        int mode = 0;
        if (!bench.pellan->barcodeGetScanMode(&mode)) ++wrong;
        if (bench.pellan->emsrGetDeviceModel() != "PELLAN HEAD") ++wrong;
      }
    });
    a.join();
    b.join();
    c.join();
  }
  emsrRemoveCallbacks(&other);
  EXPECT_EQ(wrong, 0);
  // Every packet reached its own head whole.
  for (const auto& r : security.head.requests()) EXPECT_EQ(r.size(), size_t(4 + foundation::readBE16(r.data() + 2)));
  for (const auto& r : other.requests()) EXPECT_EQ(r.size(), size_t(4 + foundation::readBE16(r.data() + 2)));
}

}  // namespace
}  // namespace kestra
