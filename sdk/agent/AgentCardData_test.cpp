// A card swiped on the sleeve, with the agent's log on, leaves no card data in the log the
// agent uploads.

#include <gtest/gtest.h>

#include "sdk/agent/AgentTestSupport.h"
#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/device/OKTKXDevices.h"
#include "sdk/device/PellanSleeve.h"
#include "testing/devices/sleeve/SleeveTestBench.h"

namespace kestra::agenttest {
namespace {

// The agent's view of one facade of the test's own.
class OwnFacade final : public VexaDevices {
 public:
  std::weak_ptr<OKTKXDevices> facade;
  int connstate() override { return f().connstate(); }
  std::vector<std::shared_ptr<KXDeviceInfo>> getConnectedDevicesInfo(Error* e) override {
    return f().getConnectedDevicesInfo(e);
  }
  int activeDeviceType() override { return f().devices().activeDeviceType(); }
  bool setActiveDeviceType(int t, Error* e) override { return f().setActiveDeviceType(t, e); }
  std::optional<std::string> deviceName() override { return f().deviceName(); }
  std::optional<std::string> serialNumber() override { return f().serialNumber(); }
  void addDelegate(const std::shared_ptr<KXDeviceDelegate>& d) override { f().addDelegate(d); }

 private:
  OKTKXDevices& f() { return *facade.lock(); }
};

// An application delegate that fails on every card, so the facade reports the failure to
// the agent's log.
class ThrowingApp final : public kestra::testing::RecordingDelegate {
 public:
  using RecordingDelegate::RecordingDelegate;
  void magneticCardData(const OptText& t1, const OptText& t2, const OptText& t3) override {
    RecordingDelegate::magneticCardData(t1, t2, t3);
    throw std::runtime_error("the screen is gone");
  }
};

TEST(AgentCardData, ASwipeLeavesNoCardDataInTheUploadedLog) {
  wipeStores();
  mdm::MdmServer server(testHome() / "certificates");
  ASSERT_TRUE(server.ready() && server.start());
  VexaNetworkAction::setServer(server.origin(), server.certificates().caCert.string());

  devices::SleeveTestBench bench;
  auto own = std::make_shared<OwnFacade>();
  auto provider = std::make_shared<system_info::SimulatedLocationProvider>();
  VexaLocator locator(provider);
  auto agent = OKTVexa::create(own, &locator);
  auto api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get()));
  auto facade = OKTKXDevices::create(api, std::make_shared<KXChargingCaseStandIn>(), agent);
  own->facade = facade;
  agent->setEnableLogging(true);
  VexaLogger::shared().logMessage("<OKTKXDevices> facade ready");

  auto calls = std::make_shared<kestra::testing::CallLog>();
  auto app = std::make_shared<ThrowingApp>(calls, "app",
                                           std::vector<std::string_view>{kxsel::connectionState, kxsel::magneticCardData});
  facade->addDelegate(app);
  ASSERT_TRUE(bench.sleeve->attach());
  facade->connect();
  ASSERT_TRUE(bench.runUntil([&] { return api->connstate() == 2; }, std::chrono::milliseconds(10000)));
  agent->connectionState(2);

  bench.sleeve->swipe(std::string("%B4111111111111111^DOE/JOHN^25121010000?"),
                      std::string(";4111111111111111=25121010000?"));
  ASSERT_TRUE(bench.runUntil([&] {
    for (const auto& l : calls->lines())
      if (l.rfind("app:magneticCardData:", 0) == 0) return true;
    return false;
  }));

  VexaInternalLogger::shared().uploadLog();
  ASSERT_TRUE(server.waitFor(mdm::kLogPath, 1));
  std::string uploaded;
  for (const auto& r : server.requests(mdm::kLogPath))
    if (const auto* file = r.part("file")) uploaded += file->value;
  EXPECT_NE(uploaded.find("facade ready"), std::string::npos);
  EXPECT_NE(uploaded.find("the screen is gone"), std::string::npos);
  for (const char* secret : {"4111111111111111", "411111", "DOE/JOHN", "2512101", "^"}) {
    SCOPED_TRACE(secret);
    EXPECT_EQ(uploaded.find(secret), std::string::npos);
  }
  agent->setEnableLogging(false);
  facade->disconnect();
  bench.runUntil([&] { return api->connstate() != 2; }, std::chrono::milliseconds(2000));
}

}  // namespace
}  // namespace kestra::agenttest
