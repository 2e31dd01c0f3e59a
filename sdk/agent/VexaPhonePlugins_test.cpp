// The phone's plug-ins over a root folder with known contents, a fresh installation, and a
// simulated accessory list.
#include "sdk/agent/VexaPhonePlugins.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>
#include <nlohmann/json.hpp>

#include "platform/system/Location.h"
#include "platform/system/PhoneFacts.h"
#include "sdk/agent/AgentTestSupport.h"
#include "platform/system/NetworkInfo.h"
#include "sdk/agent/SSInfo.h"
#include "sdk/agent/SSNetworkInfo.h"
#include "sdk/agent/VexaHelper.h"
#include "testing/mdm/MdmServer.h"
#include "sdk/agent/VexaIdentifier.h"
#include "sdk/agent/VexaLocator.h"

namespace kestra {
namespace {
namespace fs = std::filesystem;

class PhonePlugins : public ::testing::Test {
 protected:
  void SetUp() override {
    agenttest::testHome();
    agenttest::wipeStores();
    root_ = agenttest::testHome() / "root";
    fs::remove_all(root_);
    write("proc/uptime", "180420.00 1.00\n");  // 2 days, 2 hours, 7 minutes
    write("proc/self/status", "TracerPid:\t0\n");
    write("sys/class/power_supply/BAT0/type", "Battery\n");
    write("sys/class/power_supply/BAT0/capacity", "57\n");
    write("sys/class/power_supply/BAT0/status", "Discharging\n");
    write("etc/timezone", "Europe/Vienna\n");
    SSInfoRoot::set(root_);
    system_info::setPhoneFactsOverride(system_info::PhoneFacts{"Till 3", "Linux", "Debian", "", "x86_64"});
    SSAccessoryInfo::setSource([this] { return accessories_; });
    ::setenv("LANG", "de_AT.UTF-8", 1);
    ::setenv("LANGUAGE", "de_AT:en", 1);
    ::unsetenv("LC_ALL");
    ::unsetenv("LC_MESSAGES");
    ::unsetenv("TZ");
    locator_ = std::make_unique<VexaLocator>(std::make_shared<system_info::SimulatedLocationProvider>());
  }
  void TearDown() override {
    SSInfoRoot::set({});
    system_info::setPhoneFactsOverride(std::nullopt);
    SSAccessoryInfo::setSource(nullptr);
  }
  void write(const fs::path& relative, const std::string& text) {
    fs::create_directories((root_ / relative).parent_path());
    std::ofstream(root_ / relative) << text;
  }
  fs::path root_;
  std::vector<SSAccessory> accessories_;
  std::unique_ptr<VexaLocator> locator_;
};

TEST_F(PhonePlugins, SystemDetailsFromTheMachine) {
  VexaMobileSystem system;
  const auto d = system.details();
  EXPECT_EQ(d, nlohmann::json({{"mobileSystem_systemUpTime", "2d 2hr 7m"},
                               {"mobileSystem_deviceModel", "Linux"},
                               {"mobileSystem_deviceName", "Till 3"},
                               {"mobileSystem_systemName", "Debian"},
                               {"mobileSystem_systemVersion", "Unknown"},
                               {"mobileSystem_country", "de_AT"},
                               {"mobileSystem_language", "de-AT"},
                               {"mobileSystem_timeZone", "Europe/Vienna"}}));
  fs::remove(root_ / "etc/timezone");
  fs::remove(root_ / "proc/uptime");
  const auto missing = system.details();
  EXPECT_EQ(missing["mobileSystem_timeZone"], "Unknown");
  EXPECT_EQ(missing["mobileSystem_systemUpTime"], "Unknown");
  const auto header = *system.pluginData();
  EXPECT_EQ(header["payload"]["fields"].size(), 8u);
  EXPECT_EQ(header["payload"]["fields"][7]["field"], "mobileSystem_timeZone");
}

TEST_F(PhonePlugins, UptimeSinceTheKernelBooted) {
  auto clock = std::make_shared<foundation::ManualClock>();
  foundation::Clock::setCurrent(clock);
  const auto now = std::chrono::system_clock::time_point(std::chrono::seconds(1'700'000'000));
  clock->setWallTime(now);
  VexaMobileSystem system;
  struct Case {
    const char* stat;
    const char* uptime;
  } const kCases[] = {
      {"cpu  1 2 3\nbtime 1699819580\nprocesses 9\n", "2d 2hr 7m"},  // 50 hours and 7 minutes
      {"cpu  1 2 3\nbtime 1699999990\n", "0d 0hr 0m"},
      {"cpu  1 2 3\nprocesses 9\n", "0d 0hr 0m"},  // no boot time
      {"cpu  1 2 3\nbtime 0\n", "0d 0hr 0m"},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.stat);
    write("proc/stat", c.stat);
    EXPECT_EQ(system.uptime(), c.uptime);
  }
  fs::remove(root_ / "proc/stat");
  EXPECT_EQ(system.uptime(), "0d 0hr 0m");
  foundation::Clock::setCurrent(nullptr);
}

// The phone entry lists its plug-ins (and merges their details) in the server's order:
// system, network, device, app, then the managed configuration.
TEST_F(PhonePlugins, ThePhonePlugInsComeInTheServersOrder) {
  std::vector<std::string> order;
  for (const auto& p : OKTVexa::standardPhonePlugins(nullptr)) order.push_back(p->plugin());
  EXPECT_EQ(order, (std::vector<std::string>{"mobileSystem", "mobileNetwork", "mobileDevice", "mobileApp", "mobileMDM"}));
}

TEST_F(PhonePlugins, AppDetailsOnAFreshInstall) {
  VexaMobileApp app;
  auto d = app.details();
  EXPECT_EQ(d["mobileApp_checkInEnabled"], "Yes");
  EXPECT_EQ(d["mobileApp_locationEnabled"], "Yes");
  EXPECT_EQ(d["mobileApp_loggingEnabled"], "No");
  EXPECT_EQ(d["mobileApp_checkInInterval"], "28800");
  EXPECT_EQ(d["mobileApp_locationUploadInterval"], "3600");
  EXPECT_TRUE(d.contains("mobileApp_companyCode"));
  EXPECT_TRUE(d["mobileApp_companyCode"].is_null());
  EXPECT_FALSE(d.contains("mobileApp_checkInServer"));
  EXPECT_FALSE(d.contains("mobileApp_pushID"));
  EXPECT_EQ(d["mobileApp_applicationState"], "Unknown");
  EXPECT_EQ(d["mobileApp_VexaVersion"], "1.0.19");

  // A switch once written is never seeded again.
  app.setCheckInEnabled(false);
  EXPECT_EQ(VexaMobileApp().details()["mobileApp_checkInEnabled"], "No");

  struct Case {
    const char* stored;
    const char* reported;
  } const kIntervals[] = {{"0", "28800"}, {"often", "28800"}, {"900", "900"}, {"", "28800"}};
  for (const auto& c : kIntervals) {
    SCOPED_TRACE(c.stored);
    foundation::UserDefaults::standard().setString("checkInInterval", c.stored);
    EXPECT_EQ(app.details()["mobileApp_checkInInterval"], c.reported);
  }
  foundation::UserDefaults::standard().setString("PushDeviceToken", "abc");
  EXPECT_EQ(app.details()["mobileApp_pushID"], "abc");

  const auto fields = (*app.pluginData())["payload"]["fields"];
  ASSERT_EQ(fields.size(), 12u);
  EXPECT_EQ(fields[6], nlohmann::json({{"field", "mobileApp_checkInInterval"},
                                       {"name", "Check In Interval (seconds)"},
                                       {"displayType", "int"},
                                       {"order", "6"},
                                       {"configurable", "true"},
                                       {"type", "int"}}));
}

TEST_F(PhonePlugins, DeviceDetailsWithAccessoriesBatteryAndNoFix) {
  int state = 1;
  VexaMobileDevice device([&] { return state; }, locator_.get());
  auto d = device.details();
  EXPECT_FALSE(d.contains("mobileDevice_phoneNumber"));
  EXPECT_EQ(d["mobileDevice_accessoriesAttached"], "No");
  EXPECT_EQ(d["mobileDevice_accessoriesAttachedCount"], "0");
  EXPECT_EQ(d["mobileDevice_accessoriesAttachedName"], "Unknown");
  EXPECT_EQ(d["mobileDevice_accessoriesAttachedSerial"], "Unknown");
  EXPECT_EQ(d["mobileDevice_accessoriesAttachedConnected"], "No");
  EXPECT_EQ(d["mobileDevice_batteryLevel"], "57");
  EXPECT_EQ(d["battery"], "57");
  EXPECT_EQ(d["mobileDevice_charging"], "No");
  EXPECT_EQ(d["mobileDevice_debuggerAttached"], "No");
  EXPECT_EQ(d["firmware"], "Unknown");
  EXPECT_EQ(d["mobileDevice_locationLat"], "0.000000");
  EXPECT_EQ(d["mobileDevice_locationTimeStamp"], "N/A");
  EXPECT_EQ(d["mobileDevice_locationMethod"], "Unknown");
  EXPECT_EQ(device.deviceType(), "Linux (x86_64)");  // the machine's own model and type

  accessories_ = {{"PellanPro 7", "Kestra", "PP123"}, {"", "", ""}};
  state = 2;
  VexaIdentifier::setPhoneNumber("+43 1 234");
  fs::remove(root_ / "sys/class/power_supply/BAT0/capacity");
  d = device.details();
  EXPECT_EQ(d["mobileDevice_phoneNumber"], "+43 1 234");
  EXPECT_EQ(d["mobileDevice_accessoriesAttachedCount"], "2");
  EXPECT_EQ(d["mobileDevice_accessoriesAttachedName"], "PellanPro 7, Unknown");
  EXPECT_EQ(d["mobileDevice_accessoriesAttachedSerial"], "PP123,N/A");
  EXPECT_EQ(d["mobileDevice_accessoriesAttachedConnected"], "Yes");
  EXPECT_EQ(d["mobileDevice_batteryLevel"], "-1");
  EXPECT_EQ(d["battery"], "-1");

  const auto fields = (*device.pluginData())["payload"]["fields"];
  ASSERT_EQ(fields.size(), 17u);
  EXPECT_EQ(fields[12]["name"], "Location Latitute");
  EXPECT_EQ(fields[16]["order"], "16");
}

class NetworkPlugin : public PhonePlugins {
 protected:
  void SetUp() override {
    PhonePlugins::SetUp();
    network_ = std::make_shared<system_info::FixedNetworkInfo>();
    network_->setPrimaryInterface("wlan0");
    system_info::NetworkInfo::setShared(network_);
    server_ = std::make_unique<mdm::MdmServer>(agenttest::testHome() / "certificates");
    ASSERT_TRUE(server_->ready());
    ASSERT_TRUE(server_->start());
    SSNetworkInfo::setPublicAddressLookup(server_->origin(), server_->certificates().caCert.string());
  }
  void TearDown() override {
    SSNetworkInfo::setPublicAddressLookup({});
    server_->stop();
    system_info::NetworkInfo::setShared(nullptr);
    auto bundle = VexaAppSettings::bundleInfo();
    bundle.hasLocationUsageDescription = true;
    VexaAppSettings::setBundleInfo(bundle);
    PhonePlugins::TearDown();
  }
  std::shared_ptr<system_info::FixedNetworkInfo> network_;
  std::unique_ptr<mdm::MdmServer> server_;
};

TEST_F(NetworkPlugin, OfflineMakesNoLookup) {
  const auto d = VexaMobileNetwork().details();
  EXPECT_EQ(d["mobileNetwork_wifiNetworkConnected"], "No");
  EXPECT_EQ(d["mobileNetwork_wifiIPAddress"], "Unknown");
  EXPECT_EQ(d["mobileNetwork_cellNetworkConnected"], "No");
  EXPECT_EQ(d["mobileNetwork_carrierName"], "Unknown");
  EXPECT_EQ(d["mobileNetwork_carrierCountry"], "AT");
  EXPECT_EQ(d["mobileNetwork_publicIPAddress"], "Unknown");
  EXPECT_EQ(d["mobileNetwork_wifiSSID"], "Not Found");
  EXPECT_EQ(server_->count(), 0u);
}

TEST_F(NetworkPlugin, PublicAddressFromTheLookupService) {
  network_->setAddresses({{"wlan0", "10.1.2.3"}, {"lo", "127.0.0.1"}, {"wlan0", "10.1.2.4"}});
  server_->script("/", {200, R"({"ip":"203.0.113.7"})"});
  auto d = VexaMobileNetwork().details();
  EXPECT_EQ(d["mobileNetwork_wifiNetworkConnected"], "Yes");
  EXPECT_EQ(d["mobileNetwork_wifiIPAddress"], "10.1.2.4");  // the later address
  EXPECT_EQ(d["mobileNetwork_publicIPAddress"], "203.0.113.7");
  ASSERT_EQ(server_->count("/"), 1u);

  struct Case {
    const char* name;
    mdm::Answer answer;
  } const kCases[] = {{"IPv6", {200, R"({"ip":"2001:db8::1"})"}},
                      {"not JSON", {200, "203.0.113.7"}},
                      {"no ip", {200, R"({"address":"203.0.113.7"})"}},
                      {"server error", {500, R"({"ip":"203.0.113.7"})"}}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    server_->script("/", c.answer);
    EXPECT_EQ(VexaMobileNetwork().details()["mobileNetwork_publicIPAddress"], "Unknown");
  }
}

TEST_F(NetworkPlugin, ClosedGateSendsPlaceholders) {
  network_->setAddresses({{"wlan0", "10.1.2.3"}});
  auto bundle = VexaAppSettings::bundleInfo();
  bundle.hasLocationUsageDescription = false;
  VexaAppSettings::setBundleInfo(bundle);
  const auto d = VexaMobileNetwork().details();
  EXPECT_EQ(d.size(), 8u);
  for (const auto& [key, value] : d.items()) {
    EXPECT_EQ(value, key == "mobileNetwork_publicIPAddress" ? "" : "N/A") << key;
  }
  EXPECT_EQ(server_->count(), 0u);
}

TEST(SSAccessoryInfo, ManufacturerStandsInForAnEmptyName) {
  SSAccessoryInfo::setSource([] { return std::vector<SSAccessory>{{"", "Kestra", ""}}; });
  EXPECT_EQ(SSAccessoryInfo::nameAttachedAccessories(), "Kestra");
  EXPECT_EQ(SSAccessoryInfo::serialAttachedAccessories(), "N/A");
  SSAccessoryInfo::setSource([] { return std::vector<SSAccessory>{}; });
  EXPECT_EQ(SSAccessoryInfo::nameAttachedAccessories(), std::nullopt);
  EXPECT_FALSE(SSAccessoryInfo::accessoriesAttached());
  SSAccessoryInfo::setSource(nullptr);
}

}  // namespace
}  // namespace kestra
