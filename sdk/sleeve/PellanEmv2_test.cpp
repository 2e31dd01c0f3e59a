// The sleeve's EMV kernel and contactless-pass commands against the simulated sleeve's
// scripted kernel: the packets on the wire, the two carriers and the answers read back.

#include <gtest/gtest.h>

#include "sdk/foundation/KXDeviceInfo.h"
#include "sdk/foundation/KXTLV.h"
#include "sdk/sleeve/Pellan.h"
#include "sdk/sleeve/PellanImpl.h"
#include "testing/devices/sleeve/SleeveSecurity.h"

namespace kestra {
namespace {
namespace emv2_test {

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

Bytes hex(const char* text) { return *foundation::fromHex(text); }

struct Emv2Fixture : ::testing::Test {
  explicit Emv2Fixture(const std::string& model = "XBCMEV") : bench(withModel(model)), security(*bench.sleeve) {
    security.setOnlineRequestOnStart(false);
  }
  void SetUp() override { ASSERT_TRUE(bench.connect()); }
  SleeveTestBench bench;
  SleeveSecurity security;
};

using PellanEmv2 = Emv2Fixture;

TEST_F(PellanEmv2, StartPacketCarriesTypeAmountAndCurrencyAsBcdThenTheInitData) {
  ASSERT_TRUE(bench.pellan->emv2SetTransactionType(0, 1234, 978));
  security.emulatedHead.clearRequests();
  security.head.clearRequests();
  Error error;
  ASSERT_TRUE(bench.pellan->emv2StartTransactionWithFlags(7, hex("DF010105"), &error)) << error.text;

  const auto packets = security.kernelPackets();
  ASSERT_FALSE(packets.empty());
  EXPECT_EQ(foundation::toHex(packets.back()), "03009C01009F02060000000012345F2A020978DF010105");
  // The transaction's tags start over with the three parameters.
  EXPECT_EQ(foundation::toHex(bench.pellan->emvTags()), "9C01009F02060000000012345F2A020978");
  // The emulated head was switched on once, whatever head is active, and the real head was
  // left alone; afterwards the real head is active again.
  ASSERT_EQ(security.emulatedHead.requests().size(), 1u);
  EXPECT_EQ(foundation::toHex(security.emulatedHead.requests()[0]), "5100000201" "01");
  EXPECT_TRUE(security.emulatedHead.enabled());
  EXPECT_TRUE(security.head.requests().empty());
  EXPECT_TRUE(bench.pellan->emsrGetDeviceModel().has_value());
  EXPECT_EQ(security.head.requests().size(), 1u);
}

TEST_F(PellanEmv2, KernelCommandsSendTheirTlvPayloadsAndReadTheAnswers) {
  Error error;
  auto info = bench.pellan->emv2GetInfo(&error);
  ASSERT_TRUE(info) << error.text;
  EXPECT_EQ(info->configurationVersion, 0x00010203);
  EXPECT_EQ(info->contactlessConfigurationVersion, 0x00010203);
  EXPECT_EQ(info->emvKernelVersion, 0x612);

  ASSERT_TRUE(bench.pellan->emv2GetTagsEncrypted(hex("5A57"), 2, 1, 2, 0x01020304, &error));
  EXPECT_EQ(foundation::toHex(security.kernelPackets().back()),
            "0700" "C10400000002" "C20400000402" "C3025A57" "C40401020304");
  ASSERT_TRUE(bench.pellan->emv2GetCardTracksEncryptedWithFormat(2, 1, &error));
  EXPECT_EQ(foundation::toHex(security.kernelPackets().back()), "0600C10400000002C20400000001");
  ASSERT_TRUE(bench.pellan->emv2GetTagsPlain(hex("D3D4"), &error));
  EXPECT_EQ(foundation::toHex(security.kernelPackets().back()), "0800C302D3D4");
  ASSERT_TRUE(bench.pellan->emv2LoadContactlessConfiguration(hex("E00101"), &error));
  EXPECT_EQ(foundation::toHex(security.kernelPackets().back()), "0100E00101");

  // A cancel that is answered also closes the kernel.
  ASSERT_TRUE(bench.pellan->emv2Initialise(&error));
  EXPECT_TRUE(security.kernelInitialised());
  ASSERT_TRUE(bench.pellan->emv2CancelTransaction(&error));
  const auto packets = security.kernelPackets();
  EXPECT_EQ(foundation::toHex(packets[packets.size() - 2]), "0500");
  EXPECT_EQ(foundation::toHex(packets.back()), "6200");
  EXPECT_FALSE(security.kernelInitialised());

  // Stored settings send nothing.
  const size_t before = security.kernelPackets().size();
  EXPECT_TRUE(bench.pellan->emv2SetCardEmulationMode(true, 2, 1));
  EXPECT_TRUE(bench.pellan->emv2SelectApplication(1));
  EXPECT_EQ(security.kernelPackets().size(), before);
}

TEST_F(PellanEmv2, AnAnswerShorterThanTwoBytesIsAnInvalidLength) {
  bench.sleeve->withProtocol([](SleeveProtocol& p) { p.nextResult = Bytes{0x02}; });
  Error error;
  EXPECT_FALSE(bench.pellan->emv2GetInfo(&error));
  EXPECT_EQ(error.code, -6);
  EXPECT_EQ(error.text, "Invalid data length received");
}

struct PellanEmv2Pinpad : Emv2Fixture {
  PellanEmv2Pinpad() : Emv2Fixture("XBPE") {}
};

TEST_F(PellanEmv2Pinpad, TheKernelBehindThePinpadIsReachedThroughPassThrough3E) {
  Error error;
  ASSERT_TRUE(bench.pellan->emv2Initialise(&error)) << error.text;
  bench.sleeve->withProtocol([](SleeveProtocol& p) {
    EXPECT_EQ(p.lastCommand(0, 0x42), hex("3E6100"));
    EXPECT_FALSE(p.lastCommand(0, 55).has_value());
  });
  EXPECT_TRUE(security.kernelInitialised());
}

// ---- Contactless passes -----------------------------------------------------------------------------

TEST_F(PellanEmv2, PassStartSendsTheE0TemplateAndMakesGoogleKeysOnlyWhenAsked) {
  // E0 holds DFC90C with bit 0 of its second byte set: keys are wanted unless C1 says 2.
  const Bytes e0 = hex("E006DFC90C020101");
  struct Case {
    const char* name;
    Bytes outer;
    bool keys;
  } cases[] = {
      {"no C1", e0, true},
      {"C1 = 1", [&] { Bytes b = hex("C10101"); foundation::append(b, e0); return b; }(), true},
      {"C1 = 2", [&] { Bytes b = hex("C10102"); foundation::append(b, e0); return b; }(), false},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    const size_t before = security.vasCommands().size();
    Error error;
    ASSERT_TRUE(bench.pellan->vasInitWIthData(c.outer, &error)) << error.text;
    const auto commands = security.vasCommands();
    std::vector<std::string> sent;
    for (size_t i = before; i < commands.size(); ++i) sent.push_back(foundation::toHex(commands[i]));
    std::vector<std::string> expected;
    if (c.keys) expected.push_back("4602");
    expected.push_back("4601E006DFC90C020101");
    EXPECT_EQ(sent, expected);
  }
  Error error;
  EXPECT_FALSE(bench.pellan->vasInitWIthData(hex("C10101"), &error));
  EXPECT_EQ(error.code, -9);
  EXPECT_EQ(error.text, "VAS data missing");
}

TEST_F(PellanEmv2, PassKeySlotsAndCollectorTravelAsTheirBytes) {
  Error error;
  uint32_t version = 0;
  EXPECT_FALSE(bench.pellan->vasGetECCPrivateKeyVersionAtSlot(1, &version, &error));
  EXPECT_EQ(error.code, -16);
  EXPECT_EQ(error.text, "No key loaded at that slot");
  ASSERT_TRUE(bench.pellan->vasLoadECCPrivateKeyAtSlot(1, hex("A1A2A3"), 0x0102, &error));
  ASSERT_TRUE(bench.pellan->vasGetECCPrivateKeyVersionAtSlot(1, &version, &error));
  EXPECT_EQ(version, 0x0102u);
  ASSERT_TRUE(bench.pellan->vasSetActiveECCPrivateKeyAtSlot(1, &error));
  ASSERT_TRUE(bench.pellan->vasSetCollectorID(0xCAFE0001, &error));
  ASSERT_TRUE(bench.pellan->vasClose(&error));
  std::vector<std::string> sent;
  for (const auto& c : security.vasCommands()) sent.push_back(foundation::toHex(c));
  EXPECT_EQ(sent, (std::vector<std::string>{"461101", "461001A1A2A300000102", "461101", "461301", "4614CAFE0001",
                                            "4600"}));
}

struct PellanEmv2GV : Emv2Fixture {
  PellanEmv2GV() : Emv2Fixture("XBGV") {}
};

TEST_F(PellanEmv2GV, PassReadersWithGVUseCommand72ButKeysAreAlwaysMadeOn70) {
  ASSERT_TRUE(bench.pellan->vasInitWIthData(hex("E006DFC90C020101")));
  ASSERT_TRUE(bench.pellan->vasClose());
  std::vector<std::string> sent;
  for (const auto& c : security.vasCommands()) sent.push_back(foundation::toHex(c));
  EXPECT_EQ(sent, (std::vector<std::string>{"4602", "4801E006DFC90C020101", "4800"}));
}

}  // namespace emv2_test
}  // namespace
}  // namespace kestra

namespace kestra {
namespace {
namespace emv2_test {

// A kernel that sends online requests without end does not grow the transaction's tags
// without end; the finish still reaches the delegates with what was kept.
TEST_F(PellanEmv2, TheTransactionsTagsStayBounded) {
  ASSERT_TRUE(bench.pellan->emv2StartTransactionWithFlags(0, std::nullopt));
  const size_t start = bench.pellan->emvTags().size();
  Bytes request = {0x81, 0x00};
  const Bytes tag = hex("DF8101");  // a 3-byte tag, a 2-byte length, 1000 bytes
  request.insert(request.end(), tag.begin(), tag.end());
  request.insert(request.end(), {0x82, 0x03, 0xE8});
  request.resize(request.size() + 1000, 0x5A);
  for (int i = 0; i < 40; ++i) bench.sleeve->sendEvent(0, 0x38, request);
  bench.sleeve->sendEvent(0, 0x38, hex("8300C1020000"));
  const Bytes finish = hex("C1020000");
  ASSERT_TRUE(bench.runUntil([&] {
    const Bytes tags = bench.pellan->emvTags();
    return tags.size() >= finish.size() && std::equal(finish.begin(), finish.end(), tags.end() - 4);
  }));
  EXPECT_LE(bench.pellan->emvTags().size(), pellan::kMaxEmvTagBytes);
  EXPECT_EQ((bench.pellan->emvTags().size() - start - finish.size()) % 1006, 0u);  // whole events only
}

}  // namespace emv2_test
}  // namespace
}  // namespace kestra
