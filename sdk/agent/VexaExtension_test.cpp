// The host's extension plug-in: its keys, its stored fields and values, its header, and a
// configuration job that changes a value and tells the host.
#include "sdk/agent/VexaExtension.h"

#include <gtest/gtest.h>

#include "platform/foundation/NotificationCenter.h"
#include "sdk/agent/AgentTestSupport.h"
#include "sdk/agent/VexaConfiguration.h"

namespace kestra::agenttest {
namespace {

using nlohmann::json;

TEST(VexaExtensionKeys, NamesBecomeCamelCaseKeysWithoutUnderscores) {
  const std::pair<std::string, std::string> cases[] = {
      {"Store Kiosk", "storeKiosk"}, {"STORE kIOSK mode", "storeKioskMode"}, {"scan_settings", "scan-settings"},
      {"My Plug_in", "myPlug-in"},   {"", ""},                               {"Single", "single"}};
  for (const auto& [name, key] : cases) EXPECT_EQ(VexaExtension::composeKeyFromPrettyName(name), key) << name;
  EXPECT_EQ(VexaExtension::displayType(1), "bool");
  EXPECT_EQ(VexaExtension::displayType(4), "list");
  EXPECT_EQ(VexaExtension::displayType(6), "file");
  EXPECT_EQ(VexaExtension::displayType(5), "");
}

class Extensions : public AgentTest {};

TEST_F(Extensions, FieldsAreDeclaredOnceAndValuesKeptInUserDefaults) {
  VexaExtension kiosk("Store Kiosk");
  kiosk.setValue(json(5), "Scan Volume", "Scan volume", VexaExtension::kInt, VexaExtension::kInt, "Sound", false,
                 "^[0-9]+$", json(3), std::nullopt, 0, 10, 1);
  kiosk.setValue(json(7), "Scan Volume", "Another title", VexaExtension::kString, 0);
  kiosk.setValue(json("Welcome"), "Greeting", "Greeting", VexaExtension::kString, 2);

  const auto header = kiosk.getExtensionPluginData();
  ASSERT_TRUE(header);
  EXPECT_EQ((*header)["payload"]["type"], "extension_plugin");
  EXPECT_EQ((*header)["payload"]["plugin"], "storeKiosk");
  EXPECT_EQ((*header)["payload"]["name"], "Store Kiosk");
  EXPECT_EQ((*header)["payload"]["version"], "1.0.1");
  const json& fields = (*header)["payload"]["fields"];
  ASSERT_EQ(fields.size(), 2u);
  // The first declaration's record stays; min 0 with max 10 sends neither.
  EXPECT_EQ(fields[0], json({{"extension", "Store Kiosk"},
                             {"field", "storeKiosk_ScanVolume"},
                             {"name", "Scan volume"},
                             {"displayType", "int"},
                             {"configurable", "true"},
                             {"section", "Sound"},
                             {"passive", "false"},
                             {"type", "int"},
                             {"regEx", "^[0-9]+$"},
                             {"defaultValue", 3},
                             {"order", "1"}}));
  EXPECT_EQ(fields[1]["configurable"], "false");
  EXPECT_EQ(kiosk.getExtensionDetails(), json({{"storeKiosk_ScanVolume", 7}, {"storeKiosk_Greeting", "Welcome"}}));

  // Another instance of the same name sees the same store.
  VexaExtension again("Store Kiosk");
  EXPECT_EQ(again.getValueForField("Scan Volume"), json(7));
  EXPECT_TRUE(again.updateValue(json(9), "ScanVolume"));
  EXPECT_FALSE(again.updateValue(json(1), "Undeclared"));
  EXPECT_EQ(kiosk.getValueForField("Scan Volume"), json(9));
  EXPECT_EQ(kiosk.getValueForField("Undeclared"), std::nullopt);

  kiosk.setPluginVersion("1.2");
  EXPECT_EQ(kiosk.pluginVersion(), "1.0.1");
  kiosk.setPluginVersionMajor(2, 10, 3);
  EXPECT_EQ(kiosk.pluginVersion(), "2.10.3");

  kiosk.clearData();
  EXPECT_EQ(again.getExtensionDetails(), json::object());
  EXPECT_EQ((*again.getExtensionPluginData())["payload"]["fields"], json::array());
}

TEST_F(Extensions, AJobChangesADeclaredValueAndTellsTheHost) {
  VexaExtension kiosk("Store Kiosk");
  kiosk.setValue(json("2"), "Scan Volume", "Scan volume", VexaExtension::kString, 0);
  std::vector<json> posted;
  auto& center = foundation::NotificationCenter::defaultCenter();
  const auto token = center.addObserver(&posted, "Store Kiosk", nullptr,
                                        [&](const foundation::Notification& n) { posted.push_back(n.userInfo); });

  struct Reports final : VexaConfigDelegate {
    std::atomic<int> count{0};
    void didFinishAllConfigJobsWithReport(const json&) override { ++count; }
  };
  auto reports = std::make_shared<Reports>();
  VexaConfiguration runner(agent_, [] { return nullptr; });
  runner.setDelegate(reports);
  runner.addConfigJobs(json::parse(R"([{"key": "storeKiosk_ScanVolume", "value": "8"},
                                       {"key": "storeKiosk_Undeclared", "value": "1"}])"));
  ASSERT_TRUE(advanceUntil([&] { return reports->count == 1; }, std::chrono::seconds(1)));
  drainMain();
  center.removeToken(token);

  EXPECT_EQ(kiosk.getValueForField("Scan Volume"), json("8"));
  ASSERT_EQ(posted.size(), 1u);
  EXPECT_EQ(posted[0], json({{"extension", "Store Kiosk"}, {"field", "ScanVolume"}, {"value", "8"}}));
  // The report is followed by a check-in, which the agent may not have begun yet.
  EXPECT_TRUE(advanceUntil(
      [&] {
        return recorder_->saw("Check-in complete") && !agent_->isCheckingIn() &&
               VexaNetworkAction::postsInFlight() == 0;
      },
      std::chrono::seconds(1)))
      << ::testing::PrintToString(recorder_->statuses());
}

}  // namespace
}  // namespace kestra::agenttest
