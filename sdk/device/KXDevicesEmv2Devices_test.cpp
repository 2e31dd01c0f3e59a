// The device API's EMV kernel calls through the real sleeve and pinpad drivers to the
// scripted kernels of the simulated devices: configuration with versions, transactions that
// the test answers online, decline, card removal, time-out and tip entry.

#include <gtest/gtest.h>

#include "sdk/device/KXDevicesEmv2Fixture.h"
#include "sdk/device/KXDevicesPinpadFixture.h"
#include "testing/devices/sleeve/SleeveSecurity.h"

namespace kestra::testing {
namespace {

using devices::SimulatedEmv2Kernel;

const std::vector<std::string_view> kEmvSelectors = {
    kxsel::emv2OnOnlineProcessing,  kxsel::emv2OnTransactionFinished, kxsel::emv2OnUserInterfaceCode,
    kxsel::emv2OnTransactionStarted, kxsel::emv2CardEventOnInterface, kxsel::emv2TipEntryCompletWithAmount};

// A blob whose values other than E4's are "123456789": the CRC version is CBF43926.
const char* const kBlob = "DF010431323334DF02053536373839E406C10400000000";

SimulatedEmv2Kernel::Card contactlessCard() {
  SimulatedEmv2Kernel::Card card;
  card.interface = 2;
  card.tags = hexBytes("5A0847617390010100105F24032512319F2701");
  card.track1 = "B4761739001010010^TEST/CARD^25121010000000000000";
  card.track2 = "4761739001010010=25121010000000000000";
  card.track1Masked = "B4761********0010^TEST/CARD^";
  card.track2Masked = "4761********0010=";
  return card;
}

bool contains(const std::vector<std::string>& lines, const std::string& part) {
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(part) != std::string::npos; });
}

TEST(KXDevicesEmv2Devices, PinpadKernelRunsTransactionsTheTestAnswers) {
  PinpadFixture f;
  // The kernel is in place before the driver asks which kernel the pinpad has.
  f.bench.device =
      &f.bench.bench.attach<devices::SimulatedPinpad>(devices::SimulatedPinpad::identityFor("SKYRIK5000G"));
  f.bench.device->withModel([](devices::PinpadModel& m) {
    m.persona.featureString += "PE";  // a pinpad with the newer kernel
    m.emv2Kernel.emplace();
  });
  f.facade->connect();
  ASSERT_TRUE(f.bench.runUntil([&] { return f.bench.identified() && f.api->connstate() == 2; }));
  auto emv = std::make_shared<Emv2Delegate>(f.app, "emv", kEmvSelectors);
  f.api->addDelegate(emv);
  auto kernel = [&](auto g) { return f.bench.device->withModel([&](devices::PinpadModel& m) { return g(*m.emv2Kernel); }); };
  auto send = [&](const std::vector<Bytes>& events) {
    for (const auto& e : events) f.bench.device->sendEvent(0x0B, e);
  };
  auto wait = [&](const std::string& part) { return f.bench.runUntil([&] { return contains(f.app->lines(), part); }); };

  // Configuration: the CRC version goes with the blob, and the same blob is not sent twice.
  Error error;
  ASSERT_TRUE(f.api->emv2LoadContactlessConfiguration(hexBytes(kBlob), &error)) << error.text;
  const auto slot = kernel([](SimulatedEmv2Kernel& k) { return k.slots().at(1); });
  EXPECT_EQ(slot.version, 0xCBF43926u);
  EXPECT_EQ(slot.crc, SimulatedEmv2Kernel::crc32(slot.blob));
  ASSERT_TRUE(f.api->emv2LoadContactlessConfiguration(hexBytes(kBlob)));
  EXPECT_EQ(kernel([](SimulatedEmv2Kernel& k) {
              return std::count_if(k.packets().begin(), k.packets().end(), [](const Bytes& p) { return p[0] == 0x53; });
            }),
            1);
  EXPECT_EQ(f.api->emv2GetInfo()->contactlessConfigurationVersion, int(0xCBF43926u));

  struct Case {
    const char* name;
    const char* onlineAnswer;  // nothing: the card goes first
    const char* finish;
  };
  const Case cases[] = {
      {"approved", "C20101E6048A023030", "C1020100"},
      {"declined", "C20101E6048A023035", "C1020200"},
      {"card removed", nullptr, "C1020B00"},
      {"time-out", nullptr, "C1021000"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    f.app->clear();
    ASSERT_TRUE(f.api->emv2SetTransactionType(0, 1234, 978));
    ASSERT_TRUE(f.api->emv2StartTransactionOnInterface(3, 0, std::nullopt, 30, &error)) << error.text;
    send(kernel([](SimulatedEmv2Kernel& k) { return k.presentCard(contactlessCard()); }));
    ASSERT_TRUE(wait("emv:online:5A08"));
    EXPECT_TRUE(contains(f.app->lines(), "emv:cardEvent:2,1"));
    EXPECT_TRUE(contains(f.app->lines(), "emv:started"));
    EXPECT_TRUE(contains(f.app->lines(), "9F0206000000001234"));
    if (c.onlineAnswer) {
      ASSERT_TRUE(f.api->emv2SetOnlineResult(hexBytes(c.onlineAnswer)));
    } else if (std::string(c.name) == "card removed") {
      send(kernel([](SimulatedEmv2Kernel& k) { return k.removeCard(); }));
    } else {
      send(kernel([](SimulatedEmv2Kernel& k) { return k.timeOut(); }));
    }
    ASSERT_TRUE(wait(std::string("emv:emv2OnTransactionFinished:") + "5A08"));
    EXPECT_TRUE(contains(f.app->lines(), c.finish));
    EXPECT_FALSE(f.api->emvActive());
    // The card data, plain and encrypted, comes from the card just read.
    auto plain = f.api->emv2GetCardTracksEncryptedWithFormat(0, 0);
    if (std::string(c.name) != "card removed") {
      ASSERT_TRUE(plain);
      EXPECT_EQ((*plain)[0], 0x03);
      auto encrypted = f.api->emv2GetCardTracksEncryptedWithFormat(5, 1);
      ASSERT_TRUE(encrypted);
      EXPECT_EQ((*encrypted)[0], 5 << 3 | 3);
      EXPECT_NE(Bytes(encrypted->begin() + 1, encrypted->end()), Bytes(plain->begin() + 1, plain->end()));
      auto masked = f.api->emv2GetTagsPlain({0xD4});
      ASSERT_TRUE(masked);
      EXPECT_EQ(foundation::textOf(Bytes(masked->begin() + 2, masked->end())), "4761********0010=");
    }
    EXPECT_TRUE(f.api->emv2Deinitialise());
  }

  // Tip entry answers with the default tip.
  f.app->clear();
  ASSERT_TRUE(f.api->emv2EnterTipWithAmount(1000, 150, 30, 978));
  ASSERT_TRUE(wait("emv:tip:150"));
}

TEST(KXDevicesEmv2Devices, SleeveKernelApprovesThroughTheDeviceAPI) {
  devices::SimulatedSleeve::Options options;
  options.config.model = "XBCMEV";
  devices::SleeveTestBench bench(options);
  devices::SleeveSecurity security(*bench.sleeve);
  auto api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get()));
  auto events = std::make_shared<CallLog>();
  auto app = std::make_shared<Emv2Delegate>(events, "emv", kEmvSelectors);
  api->addDelegate(app);
  ASSERT_TRUE(bench.connect());
  ASSERT_TRUE(bench.runUntil([&] { return api->connstate() == 2; }));
  const int feature = api->getSupportedFeature(10);
  ASSERT_NE(feature & 6, 0);
  security.useScriptedKernel((feature & 4) != 0);

  Error error;
  ASSERT_TRUE(api->emv2StartTransactionOnInterface(2, 0, std::nullopt, 30, &error)) << error.text;
  security.withKernel([](SimulatedEmv2Kernel& k) { return k.presentCard(contactlessCard()); });
  ASSERT_TRUE(bench.runUntil([&] { return contains(events->lines(), "emv:online:5A08"); }));
  ASSERT_TRUE(api->emv2SetOnlineResult(hexBytes("C20101E6048A023030")));
  ASSERT_TRUE(bench.runUntil([&] { return contains(events->lines(), "emv:emv2OnTransactionFinished:"); }));
  EXPECT_TRUE(contains(events->lines(), "C1020100"));
  EXPECT_FALSE(api->emvActive());
  EXPECT_TRUE(api->emv2Deinitialise());
  EXPECT_FALSE(security.kernelInitialised());
}

}  // namespace
}  // namespace kestra::testing
