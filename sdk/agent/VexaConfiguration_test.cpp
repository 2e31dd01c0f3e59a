// Configuration jobs against the management server fixture: routing, the report, the forced
// check-in, lists that wait and replace each other, and device settings through the facade.
#include "sdk/agent/VexaConfiguration.h"

#include <gtest/gtest.h>

#include <condition_variable>
#include <nlohmann/json.hpp>
#include <regex>

#include "platform/foundation/NotificationCenter.h"
#include "sdk/agent/AgentTestSupport.h"
#include "sdk/agent/UICKeyChainStore.h"
#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/device/OKTKXDevices.h"
#include "sdk/device/PellanSleeve.h"
#include "testing/devices/sleeve/SleeveTestBench.h"

namespace kestra::agenttest {
namespace {

// The configs of the only batch of a report, by key.
std::map<std::string, std::pair<std::string, std::string>> configsOf(const nlohmann::json& report) {
  EXPECT_EQ(report.size(), 1u);
  std::map<std::string, std::pair<std::string, std::string>> configs;
  for (const auto& c : report.begin().value()["configs"]) configs[c["key"]] = {c["value"], c["success"]};
  return configs;
}

class ConfigurationJobs : public AgentTest {
 protected:
  void SetUp() override {
    AgentTest::SetUp();
    facade_ = OKTKXDevices::create(api_.api, case_, std::make_shared<KXDeviceAgentStandIn>());
    runner_ = std::make_unique<VexaConfiguration>(agent_, [this] { return facade_.get(); });
    runner_->setDelegate(delegate_);
  }
  void TearDown() override {
    // Every batch ends with a check-in; let them all finish before the stores go away.
    EXPECT_TRUE(advanceUntil(
        [&] {
          return server_->count(mdm::kCheckInPath) >= 1 && !agent_->isCheckingIn() &&
                 VexaNetworkAction::postsInFlight() == 0;
        },
        std::chrono::seconds(1)));
    runner_.reset();
    AgentTest::TearDown();
  }
  bool reportsReach(size_t n) {
    return advanceUntil([&] { return delegate_->all().size() >= n; }, std::chrono::seconds(1));
  }

  testing::ApiFixture api_;
  std::shared_ptr<testing::FakeCase> case_ = std::make_shared<testing::FakeCase>();
  std::shared_ptr<OKTKXDevices> facade_;
  std::shared_ptr<RecordedReports> delegate_ = std::make_shared<RecordedReports>();
  std::unique_ptr<VexaConfiguration> runner_;
};

TEST_F(ConfigurationJobs, JobsAreRoutedReportedAndFollowedByACheckIn) {
  foundation::UserDefaults::standard().setObject(
      "myplugin", {{"extension", "MyPluginChanged"}, {"details", {{"myplugin_field_x", "old"}}}});
  std::vector<nlohmann::json> posted;
  const auto observer = foundation::NotificationCenter::defaultCenter().addObserver(
      &posted, "MyPluginChanged", nullptr, [&](const foundation::Notification& n) { posted.push_back(n.userInfo); });

  // The check-in that follows goes to the address the job stores.
  const std::string server = server_->origin() + mdm::kCheckInPath;
  runner_->addConfigJobs(nlohmann::json::parse(std::regex_replace(R"([
    {"key": "mobileApp_checkInServer", "value": "SERVER"},
    {"key": "zizorid_scanMode", "value": 2},
    {"key": "myplugin_field_x", "value": "new"},
    {"key": "myplugin_missing", "value": "y"},
    {"key": "mobileMDM_partner", "value": "Partner Co"},
    {"key": "vkpPrinter_firmware", "value": "1.2"},
    {"key": "mobileApp_", "value": "z"},
    {"key": "mobileApp_locationUploadInterval", "value": 900}
  ])", std::regex("SERVER"), server)));
  ASSERT_TRUE(reportsReach(1));
  foundation::NotificationCenter::defaultCenter().removeToken(observer);

  const auto report = delegate_->all()[0];
  EXPECT_EQ(report.begin().value()["total"], 8);
  EXPECT_EQ(report.begin().value()["serial"], "0");
  const auto configs = configsOf(report);
  using P = std::pair<std::string, std::string>;
  EXPECT_EQ(configs.at("mobileApp_checkInServer"), P(server, "true"));
  EXPECT_EQ(configs.at("zizorid_scanMode"), P("2", "false"));  // nothing connected
  EXPECT_EQ(configs.at("myplugin_field_x"), P("new", "true"));
  EXPECT_EQ(configs.at("myplugin_missing"), P("y", "false"));
  EXPECT_EQ(configs.at("mobileMDM_partner"), P("Partner Co", "true"));
  EXPECT_EQ(configs.at("vkpPrinter_firmware"), P("1.2", "false"));
  EXPECT_EQ(configs.at("mobileApp_"), P("z", "false"));
  EXPECT_EQ(configs.at("mobileApp_locationUploadInterval"), P("900", "true"));

  auto& defaults = foundation::UserDefaults::standard();
  EXPECT_EQ(UICKeyChainStore::sharedStore().stringForKey(std::string("checkInServer")), server);
  EXPECT_EQ(defaults.stringForKey("partner"), "Partner Co");
  EXPECT_EQ(defaults.stringForKey("locationUploadInterval"), "900");
  EXPECT_EQ((*defaults.dictionaryForKey("myplugin"))["details"]["myplugin_field_x"], "new");
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0], nlohmann::json({{"extension", "MyPluginChanged"}, {"field", "x"}, {"value", "new"}}));
  // The check-in that follows is awaited by the fixture.
}

TEST_F(ConfigurationJobs, AListWaitsWhileOneRunsAndANewerOneReplacesIt) {
  runner_->pauseConfig();
  runner_->addConfigJobs(R"([{"key": "mobileApp_companyCode", "value": "FIRST"}])"_json);
  runner_->addConfigJobs(R"([{"key": "mobileApp_companyCode", "value": "SECOND"}])"_json);
  runner_->addConfigJobs(R"([{"key": "mobileApp_companyCode", "value": "THIRD"},
                            {"key": "mobileApp_checkInEnabled", "value": "true"}])"_json);
  EXPECT_EQ(runner_->pendingJobs(), 1u);
  runner_->resumeConfig();
  ASSERT_TRUE(reportsReach(2));
  const auto reports = delegate_->all();
  ASSERT_EQ(reports.size(), 2u);
  EXPECT_EQ(configsOf(reports[0]).at("mobileApp_companyCode").first, "FIRST");
  EXPECT_EQ(configsOf(reports[1]).at("mobileApp_companyCode").first, "THIRD");
  EXPECT_EQ(configsOf(reports[1]).size(), 2u);
  EXPECT_EQ(foundation::UserDefaults::standard().stringForKey("companyCode"), "THIRD");
}

TEST_F(ConfigurationJobs, DeviceSettingsGoThroughTheFacadeAndTheActiveTypeIsRestored) {
  api_.sleeveState(2);
  const auto jobs = R"([{"key": "pellanPro_scanMode", "value": "3"},
                        {"key": "pellanPro_backupCharge", "value": "true"},
                        {"key": "pellanPro_kioskMode", "value": "true"}])"_json;
  runner_->addConfigJobs(jobs);
  ASSERT_TRUE(reportsReach(1));
  const auto configs = configsOf(delegate_->all()[0]);
  EXPECT_EQ(configs.at("pellanPro_scanMode").second, "true");
  EXPECT_EQ(configs.at("pellanPro_backupCharge").second, "true");
  EXPECT_EQ(configs.at("pellanPro_kioskMode").second, "false");  // this fake sleeve refuses it
  EXPECT_EQ(api_.drivers.sleeve->log->count("sleeve.barcodeSetScanMode"), 1u);
  EXPECT_EQ(api_.drivers.sleeve->log->count("sleeve.setCharging:1"), 1u);
  EXPECT_EQ(facade_->devices().activeDeviceType(), -1);  // automatic stays automatic

  // The host chose the pinpad: the jobs reach the sleeve, and the pinpad is chosen again after.
  api_.pinpadState(2);
  ASSERT_TRUE(facade_->setActiveDeviceType(2));
  runner_->addConfigJobs(jobs);
  ASSERT_TRUE(reportsReach(2));
  EXPECT_EQ(api_.drivers.sleeve->log->count("sleeve.barcodeSetScanMode"), 2u);
  EXPECT_EQ(facade_->devices().activeDeviceType(), 2);
}

// With automatic routing and both a sleeve and a pinpad connected, a pinpad job reaches the
// pinpad (not the sleeve automatic routing would choose), and routing stays automatic.
TEST_F(ConfigurationJobs, APinpadJobReachesThePinpadUnderAutomaticRouting) {
  api_.sleeveState(2);
  api_.pinpadState(2);
  ASSERT_EQ(facade_->devices().activeDeviceType(), -1);
  runner_->addConfigJobs(R"([{"key": "skyrig_scanMode", "value": "1"}])"_json);
  ASSERT_TRUE(reportsReach(1));
  EXPECT_EQ(configsOf(delegate_->all()[0]).at("skyrig_scanMode").second, "true");
  EXPECT_EQ(api_.drivers.pinpad->log->count("pinpad.barSetScanMode:1"), 1u);
  EXPECT_EQ(api_.drivers.sleeve->log->count("sleeve.barcodeSetScanMode"), 0u);
  EXPECT_EQ(facade_->devices().activeDeviceType(), -1);
}

TEST_F(ConfigurationJobs, SleeveSettingsReachTheSimulatedSleeve) {
  devices::SleeveTestBench bench;
  auto api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get()));
  facade_ = OKTKXDevices::create(api, case_, std::make_shared<KXDeviceAgentStandIn>());
  ASSERT_TRUE(bench.sleeve->attach());
  facade_->connect();
  ASSERT_TRUE(bench.runUntil([&] { return api->connstate() == 2; }, std::chrono::milliseconds(10000)));
  bench.sleeve->withProtocol([](devices::SleeveProtocol& p) {
    p.chargingState = 2;  // on a cable, where kiosk mode is allowed
    p.syncButtonMode = 0;
  });
  runner_->addConfigJobs(R"([{"key": "pellanPro_autoTimeOff", "value": "900"},
                             {"key": "pellanPro_kioskMode", "value": "true"},
                             {"key": "pellanPro_speaker", "value": "false"},
                             {"key": "pellanPro_speakerButton", "value": "true"},
                             {"key": "pellanPro_autoSpeakerControl", "value": "true"},
                             {"key": "pellanPro_passThruSync", "value": "true"}])"_json);
  ASSERT_TRUE(reportsReach(1));
  const auto configs = configsOf(delegate_->all()[0]);
  for (const char* key : {"pellanPro_autoTimeOff", "pellanPro_kioskMode", "pellanPro_speaker",
                          "pellanPro_speakerButton", "pellanPro_autoSpeakerControl"})
    EXPECT_EQ(configs.at(key).second, "true") << key;
  // Kiosk mode is on now, so pass-through sync is refused.
  EXPECT_EQ(configs.at("pellanPro_passThruSync").second, "false");
  double idle = 0, disconnected = 0;
  ASSERT_TRUE(facade_->getAutoOffWhenIdle(&idle, &disconnected));
  EXPECT_EQ(idle, 900);
  EXPECT_EQ(disconnected, 900);
  bool value = false;
  ASSERT_TRUE(facade_->getKioskMode(&value));
  EXPECT_TRUE(value);
  ASSERT_TRUE(facade_->uiIsSpeakerButtonEnabled(&value));
  EXPECT_TRUE(value);
  value = true;
  ASSERT_TRUE(facade_->uiIsSpeakerEnabled(&value));
  EXPECT_FALSE(value);
  // The jobs are done: later ones go to the fakes again, before the simulated sleeve goes.
  facade_ = OKTKXDevices::create(api_.api, case_, std::make_shared<KXDeviceAgentStandIn>());
}

}  // namespace
}  // namespace kestra::agenttest
