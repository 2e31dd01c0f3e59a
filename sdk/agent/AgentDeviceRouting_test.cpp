// The check-in reads each connected device on its own worker, routed to that device alone,
// through the real facade and device API over a simulated sleeve and printer: the host's
// thread keeps the device it chose as active all the while, and afterwards.
#include <gtest/gtest.h>

#include <condition_variable>
#include <functional>
#include <mutex>
#include <optional>
#include <nlohmann/json.hpp>

#include "sdk/agent/AgentTestSupport.h"
#include "sdk/agent/VexaDevicePlugin.h"
#include "sdk/device/KXChargingCase.h"
#include "sdk/device/OKTKXDevices.h"
#include "sdk/device/PellanSleeve.h"
#include "testing/devices/printer/SimulatedPrinter.h"
#include "testing/devices/sleeve/SleeveTestBench.h"

namespace kestra::agenttest {
namespace {

using nlohmann::json;

// The sleeve's plug-in, held at the start of its reading until the test lets it go, so the
// test can look at the host's side while the agent's worker is in the middle of a device.
class HeldPlugin final : public VexaKXDevicePlugin {
 public:
  HeldPlugin(std::shared_ptr<VexaKXDevicePlugin> inner, std::function<void()> whileHeld)
      : inner_(std::move(inner)), whileHeld_(std::move(whileHeld)) {}
  std::string plugin() override { return inner_->plugin(); }
  std::string name() override { return inner_->name(); }
  std::string version() override { return inner_->version(); }
  json getKXDeviceDetails() override {
    whileHeld_();
    {
      std::unique_lock lock(mutex_);
      held_ = true;
      cv_.notify_all();
      cv_.wait_for(lock, std::chrono::seconds(30), [&] { return released_; });
    }
    return inner_->getKXDeviceDetails();
  }
  json getKXDevicePluginData() override { return inner_->getKXDevicePluginData(); }
  std::optional<json> deviceInfo() override { return inner_->deviceInfo(); }

  bool held() {
    std::lock_guard lock(mutex_);
    return held_;
  }
  void release() {
    std::lock_guard lock(mutex_);
    released_ = true;
    cv_.notify_all();
  }

 private:
  std::shared_ptr<VexaKXDevicePlugin> inner_;
  std::function<void()> whileHeld_;
  std::mutex mutex_;
  std::condition_variable cv_;
  bool held_ = false;
  bool released_ = false;
};

constexpr int kPrinterType = 1;

TEST_F(AgentTest, ACheckInReadsTheSleeveOnItsWorkerWhileTheHostKeepsThePrinter) {
  // The devices' own waits (a query a simulator leaves unanswered, the printer's probe) run
  // on the system clock here, as in the plug-ins' tests over the same simulators; this check-in
  // waits for nothing on the clock.
  foundation::Clock::setCurrent(nullptr);
  devices::SimulatedSleeve::Options options;
  options.config.serialNumber = "PN7731";
  devices::SleeveTestBench bench(options);
  auto persona = devices::PrinterPersona::receipt();
  persona.serial = "PRN-004711";
  devices::SimulatedPrinter printer(devices::SimulatedPrinter::identityFor(persona), bench.folder, persona);
  auto api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get()));
  auto facade = OKTKXDevices::create(api, std::make_shared<KXChargingCaseStandIn>(),
                                     std::make_shared<KXDeviceAgentStandIn>());
  ASSERT_TRUE(bench.sleeve->attach());
  ASSERT_TRUE(printer.attach());
  api->connect();
  ASSERT_TRUE(bench.runUntil([&] { return facade->getConnectedDevicesInfo().size() == 2; }));
  // The host chose the printer.
  ASSERT_TRUE(facade->setActiveDeviceType(kPrinterType));
  ASSERT_EQ(facade->serialNumber(), "PRN-004711");

  std::optional<std::string> workerSaw;
  auto sleevePlugin = std::make_shared<VexaPellanProDevice>(locator_.get());
  sleevePlugin->setKxDevice(VexaPluginDevice::overFacade(*facade));
  auto held = std::make_shared<HeldPlugin>(sleevePlugin, [&] { workerSaw = facade->serialNumber(); });
  VexaDevicePlugins plugins;
  plugins.pellanDevice = held;
  auto agent = OKTVexa::create(VexaDevices::overFacade(facade), locator_.get());
  agent->setTestMode(true);
  agent->setLocationEnabled(false);
  agent->setDevicePlugins(plugins);

  agent->setAllowCheckIn(true);
  Outcome outcome;
  agent->checkInWithCompletionBlock(outcome.completion());
  ASSERT_TRUE(runMainUntil([&] { return held->held(); }));
  // The worker reads the sleeve; the host's thread still reaches the printer.
  EXPECT_EQ(workerSaw, "PN7731");
  EXPECT_EQ(facade->devices().activeDeviceType(), kPrinterType);
  EXPECT_EQ(facade->serialNumber(), "PRN-004711");
  held->release();
  ASSERT_TRUE(runMainUntil([&] { return outcome.done.load(); }));
  EXPECT_TRUE(outcome.result.success);

  // The sleeve was reported as itself, and the host's choice outlasts the check-in.
  ASSERT_EQ(server_->service("check_in").size(), 1u);
  const json payload = server_->service("check_in")[0].json->at("payload");
  const auto sleeve = std::find_if(payload.begin(), payload.end(), [](const json& e) { return e.value("serial", "") == "PN7731"; });
  ASSERT_NE(sleeve, payload.end()) << payload.dump(1);
  EXPECT_EQ(sleeve->value("deviceType", ""), "pellanPro");
  EXPECT_EQ(sleeve->at("details").value("pellanPro_serial", ""), "PN7731");
  EXPECT_EQ(facade->devices().activeDeviceType(), kPrinterType);
  EXPECT_EQ(facade->serialNumber(), "PRN-004711");

  std::weak_ptr<OKTVexa> gone = agent;
  agent.reset();
  ASSERT_TRUE(runMainUntil([&] { return gone.expired() && VexaNetworkAction::postsInFlight() == 0; }));
  printer.detach();
  bench.sleeve->detach();
}

}  // namespace
}  // namespace kestra::agenttest
