// What the device API does on its own when the application does not answer, seen through the
// facade: the EMV kernel's automatic application selection and the magnetic emulation's
// approval fire only when none of the application's delegates implements the callback (the
// facade answers for the events it passes on only as its delegates do), on the real pinpad
// driver and the simulated pinpad's kernel. And firmware file information through the facade:
// the device API's files first, then the charging case's.
#include <gtest/gtest.h>

#include "sdk/device/ChargingCaseFrames.h"
#include "sdk/device/KXDevicesEmv2Fixture.h"
#include "sdk/device/KXDevicesPinpadFixture.h"
#include "sdk/device/OKTCD.h"
#include "sdk/device/OKTEADSessionController.h"
#include "testing/devices/sleeve/SleeveModules.h"

namespace kestra::testing {
namespace {

using devices::SimulatedEmv2Kernel;

// A card the kernel reads on the contactless interface; with `applications`, one that holds
// several applications for the host to choose from.
SimulatedEmv2Kernel::Card card(const std::string& applications = {}) {
  SimulatedEmv2Kernel::Card c;
  c.interface = 2;
  c.tags = hexBytes("5A0847617390010100105F24032512319F2701");
  c.track1 = "B4761739001010010^TEST/CARD^25121010000000000000";
  c.track2 = "4761739001010010=25121010000000000000";
  c.track1Masked = "B4761********0010^TEST/CARD^";
  c.track2Masked = "4761********0010=";
  if (!applications.empty()) c.applications = hexBytes(applications);
  return c;
}

const char* const kTwoApplications = "E1094F07A0000000031010E1094F07A0000000041010";

bool has(const CallLog& log, const std::string& part) {
  const auto lines = log.lines();
  return std::any_of(lines.begin(), lines.end(), [&](const std::string& l) { return l.find(part) != std::string::npos; });
}

// The pinpad with the newer kernel, connected through the facade; `emv` is the application's
// delegate on the facade, implementing `selectors`.
struct KernelOnPinpad {
  PinpadFixture f;
  std::shared_ptr<Emv2Delegate> emv;

  // `listless`: a pinpad that cannot show a list of applications to the cardholder.
  explicit KernelOnPinpad(std::vector<std::string_view> selectors, bool listless = false) {
    f.bench.device =
        &f.bench.bench.attach<devices::SimulatedPinpad>(devices::SimulatedPinpad::identityFor("SKYRIK5000G"));
    f.bench.device->withModel([listless](devices::PinpadModel& m) {
      m.persona.featureString += "PE";
      if (listless) {
        m.persona.firmwareName = "FW VANTORIX";
        m.persona.displayWidth = m.persona.displayHeight = 0;
      }
      m.emv2Kernel.emplace();
    });
    selectors.push_back(kxsel::magneticCardData);
    emv = std::make_shared<Emv2Delegate>(f.app, "emv", selectors);
    f.facade->addDelegate(emv);
    f.facade->connect();
  }
  bool connected() {
    return f.bench.runUntil([&] { return f.bench.identified() && f.api->connstate() == 2; });
  }
  template <class G>
  auto kernel(G g) {
    return f.bench.device->withModel([&](devices::PinpadModel& m) { return g(*m.emv2Kernel); });
  }
  void present(SimulatedEmv2Kernel::Card c) {
    for (const auto& e : kernel([&](SimulatedEmv2Kernel& k) { return k.presentCard(c); })) f.bench.device->sendEvent(0x0B, e);
  }
  bool heard(const std::string& part) {
    return f.bench.runUntil([&] { return has(*f.app, part); });
  }
  // Kernel packets of sub-command `sub` the host sent.
  std::vector<Bytes> sent(uint8_t sub) {
    return kernel([&](SimulatedEmv2Kernel& k) {
      std::vector<Bytes> out;
      for (const auto& p : k.packets())
        if (!p.empty() && p[0] == sub) out.push_back(p);
      return out;
    });
  }
};

TEST(FacadeFallbacks, TheKernelSelectsTheFirstApplicationOnlyWhenTheApplicationDoesNotChoose) {
  for (const bool chooses : {false, true}) {
    SCOPED_TRACE(chooses ? "the application chooses" : "the application does not choose");
    std::vector<std::string_view> selectors{kxsel::emv2OnOnlineProcessing};
    if (chooses) selectors.push_back(kxsel::emv2OnApplicationSelection);
    KernelOnPinpad k(selectors, true);
    ASSERT_TRUE(k.connected());
    ASSERT_EQ(k.f.facade->getSupportedFeature(17), 0);  // no list shown on the pinpad itself
    ASSERT_NE(k.f.facade->getSupportedFeature(10) & 4, 0);
    Error e;
    ASSERT_TRUE(k.f.facade->emv2SetTransactionType(0, 1234, 978, &e)) << e.text;
    ASSERT_TRUE(k.f.facade->emv2StartTransactionOnInterface(3, 0, std::nullopt, 30, &e)) << e.text;
    k.present(card(kTwoApplications));
    if (chooses) {
      ASSERT_TRUE(k.heard(std::string("emv:appSelection:") + kTwoApplications));
      EXPECT_TRUE(k.sent(0x0A).empty());
      EXPECT_FALSE(has(*k.f.app, "emv:online:"));
      ASSERT_TRUE(k.f.facade->emv2SelectApplication(1, &e)) << e.text;
    }
    ASSERT_TRUE(k.heard("emv:online:5A08"));
    EXPECT_EQ(k.kernel([](SimulatedEmv2Kernel& kk) { return kk.selectedApplication(); }), chooses ? 1 : 0);
    EXPECT_EQ(k.sent(0x0A).size(), 1u);
    ASSERT_TRUE(k.f.facade->emv2CancelTransaction(&e)) << e.text;
  }
}

TEST(FacadeFallbacks, MagneticEmulationApprovesOnlyWhenTheApplicationDoesNotDecide) {
  const Bytes approval = hexBytes("C20101E6048A023030");
  for (const bool decides : {false, true}) {
    SCOPED_TRACE(decides ? "the application decides" : "the application does not decide");
    std::vector<std::string_view> selectors{kxsel::emv2OnTransactionFinished};
    if (decides) selectors.push_back(kxsel::emv2OnOnlineProcessing);
    KernelOnPinpad k(selectors);
    ASSERT_TRUE(k.connected());
    Error e;
    ASSERT_TRUE(k.f.facade->emv2StartMagneticEmulationTransactionOnInterface(3, std::nullopt, 30, &e)) << e.text;
    k.present(card());
    if (decides) {
      ASSERT_TRUE(k.heard("emv:online:5A08"));
      EXPECT_TRUE(k.sent(0x04).empty());  // nothing answered for the application
      ASSERT_TRUE(k.f.facade->emv2SetOnlineResult(approval, &e)) << e.text;
    }
    // Approved, the emulated card read ends in the card's tracks.
    ASSERT_TRUE(k.heard("emv:magneticCardData:" + card().track1 + "|" + card().track2 + "|nil"));
    const auto answers = k.sent(0x04);
    ASSERT_EQ(answers.size(), 1u);
    EXPECT_EQ(Bytes(answers[0].end() - long(approval.size()), answers[0].end()), approval);
  }
}

class PluggedPhone final : public KXPhoneBattery {
 public:
  int batteryState() override { return kCharging; }
  float batteryLevel() override { return 0.5f; }
};

TEST(FacadeFallbacks, FirmwareFileInformationAsksTheDeviceApiThenTheChargingCase) {
  devices::AccessoryTestBench bench;
  auto api = KXDevices::create(
      makePellanDriverFactory(Pellan::create(*bench.manager), bench.manager.get(), PPad::create(*bench.manager)));
  auto chargingCase = OKTCD::create(OKTEADSessionController::create(*bench.registry), std::make_shared<PluggedPhone>());
  auto facade = OKTKXDevices::create(api, chargingCase, std::make_shared<KXDeviceAgentStandIn>());

  Bytes caseFile(300);
  for (size_t i = 0; i < caseFile.size(); ++i) caseFile[i] = uint8_t(i * 7);
  const Bytes packed = chargingcase::packCaseName("Toravel");
  std::copy(packed.begin(), packed.end(), caseFile.begin() + 12);

  // A sleeve file: the device API's answer.
  const Bytes sleeveFile = devices::SleeveModules::firmwareImage(2000, "CBCM", 2, 75);
  Error e;
  const auto sleeve = facade->getFirmwareFileInformation(sleeveFile, &e);
  ASSERT_TRUE(sleeve) << e.text;
  EXPECT_EQ(*sleeve, *api->getFirmwareFileInformation(sleeveFile));

  // A case file, which the device API does not know: the case's answer.
  ASSERT_FALSE(api->getFirmwareFileInformation(caseFile));
  const auto forCase = facade->getFirmwareFileInformation(caseFile, &e);
  ASSERT_TRUE(forCase) << e.text;
  EXPECT_FALSE(forCase->is_null());
  EXPECT_EQ(*forCase, chargingCase->getFirmwareFileInformation(caseFile));
  EXPECT_EQ(forCase->value("deviceName", ""), "Toravel");

  // Neither knows it: nothing, with the device API's error (nothing is connected).
  e = {};
  EXPECT_FALSE(facade->getFirmwareFileInformation(Bytes(600, 0x5A), &e));
  EXPECT_EQ(e.code, -20);
}

}  // namespace
}  // namespace kestra::testing
