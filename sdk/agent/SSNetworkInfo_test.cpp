// The phone's interfaces (hardware address, netmask, broadcast, router, network name) from a
// fake interface list and a root folder with known contents; the locale's currency and the
// application's facts.
#include "sdk/agent/SSNetworkInfo.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <fstream>

#include "platform/system/NetworkInfo.h"
#include "sdk/agent/SSInfo.h"
#include "sdk/agent/VexaHelper.h"
#include "sdk/agent/VexaPhonePlugins.h"

namespace kestra {
namespace {
namespace fs = std::filesystem;

class Interfaces : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kestra-ssnet-XXXXXX";
    root_ = ::mkdtemp(pattern);
    SSInfoRoot::set(root_);
    network_ = std::make_shared<system_info::FixedNetworkInfo>();
    network_->setPrimaryInterface("wlan0");
    system_info::NetworkInfo::setShared(network_);
  }
  void TearDown() override {
    system_info::NetworkInfo::setShared(nullptr);
    SSInfoRoot::set({});
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  void write(const fs::path& relative, const std::string& text) {
    fs::create_directories((root_ / relative).parent_path());
    std::ofstream(root_ / relative) << text;
  }
  fs::path root_;
  std::shared_ptr<system_info::FixedNetworkInfo> network_;
};

TEST_F(Interfaces, AddressesMasksAndHardwareAddressesOfBothNetworks) {
  network_->setAddresses({{"lo", "127.0.0.1", "255.0.0.0"},
                          {"wlan0", "10.1.2.3", "255.255.255.0"},
                          {"wwan0", "100.64.1.9", "255.255.255.252"},
                          {"wlan0", "10.1.7.3", "255.255.248.0"}});
  write("sys/class/net/wlan0/address", "a4:5e:60:0b:1c:ff\n");
  write("sys/class/net/wwan0/address", "02:00:00:00:00:01\n");
  EXPECT_EQ(SSNetworkInfo::wiFiIPAddress(), "10.1.7.3");  // the later address
  EXPECT_EQ(SSNetworkInfo::wiFiNetmaskAddress(), "255.255.248.0");
  EXPECT_EQ(SSNetworkInfo::wiFiBroadcastAddress(), "10.1.7.255");
  EXPECT_EQ(SSNetworkInfo::wiFiMACAddress(), "A4:5E:60:0B:1C:FF");
  EXPECT_EQ(SSNetworkInfo::cellIPAddress(), "100.64.1.9");
  EXPECT_EQ(SSNetworkInfo::cellBroadcastAddress(), "100.64.1.11");
  EXPECT_EQ(SSNetworkInfo::cellMACAddress(), "02:00:00:00:00:01");
  EXPECT_EQ(SSNetworkInfo::currentIPAddress(), "10.1.7.3");
  EXPECT_EQ(SSNetworkInfo::currentMACAddress(), "A4:5E:60:0B:1C:FF");

  // Cellular only: the current values are the cellular ones.
  network_->setAddresses({{"wwan0", "100.64.1.9", "255.255.255.252"}});
  EXPECT_EQ(SSNetworkInfo::currentIPAddress(), "100.64.1.9");
  EXPECT_EQ(SSNetworkInfo::currentMACAddress(), "02:00:00:00:00:01");
  EXPECT_EQ(SSNetworkInfo::wiFiBroadcastAddress(), std::nullopt);

  // Neither network; an address without a netmask has no broadcast address.
  network_->setAddresses({{"wlan0", "10.1.2.3"}});
  EXPECT_EQ(SSNetworkInfo::wiFiNetmaskAddress(), std::nullopt);
  EXPECT_EQ(SSNetworkInfo::wiFiBroadcastAddress(), std::nullopt);
  network_->setAddresses({});
  EXPECT_EQ(SSNetworkInfo::currentIPAddress(), std::nullopt);
  EXPECT_EQ(SSNetworkInfo::currentMACAddress(), std::nullopt);
  EXPECT_EQ(SSNetworkInfo::cellMACAddress(), std::nullopt);
}

TEST(SSNetworkInfoText, HardwareAddressTexts) {
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"a4:5e:60:0b:1c:ff\n", "A4:5E:60:0B:1C:FF"}, {"00:00:00:00:00:00", "00:00:00:00:00:00"},
      {"a4:5e:60:0b:1c", std::nullopt},            {"a4-5e-60-0b-1c-ff", std::nullopt},
      {"g4:5e:60:0b:1c:ff", std::nullopt},         {"", std::nullopt},
  };
  for (const auto& [text, mac] : cases) EXPECT_EQ(SSNetworkInfo::macAddressFromText(text), mac) << text;
}

TEST_F(Interfaces, TheRouterIsTheGatewayOfTheFirstRouteThatIsUp) {
  EXPECT_TRUE(Route_Info::getRoutes().empty());
  EXPECT_EQ(SSNetworkInfo::wiFiRouterAddress(), std::nullopt);
  write("proc/net/route",
        "Iface\tDestination\tGateway \tFlags\tRefCnt\tUse\tMetric\tMask\t\tMTU\tWindow\tIRTT\n"
        "wlan0\t00000000\t0102A8C0\t0002\t0\t0\t600\t00000000\t0\t0\t0\n"  // not up
        "wlan0\t00000000\t0101A8C0\t0003\t0\t0\t600\t00000000\t0\t0\t0\n"
        "wlan0\t0001A8C0\t00000000\t0001\t0\t0\t600\t00FFFFFF\t0\t0\t0\n");
  const auto routes = Route_Info::getRoutes();
  ASSERT_EQ(routes.size(), 1u);
  EXPECT_EQ(routes[0].interfaceName(), "wlan0");
  EXPECT_EQ(routes[0].getDestination(), "default");
  EXPECT_EQ(routes[0].getGateway(), "192.168.1.1");
  EXPECT_EQ(routes[0].getNetmask(), "default");
  EXPECT_EQ(routes[0].getAddrStringByIndex(3), std::nullopt);
  EXPECT_EQ(routes[0].getAddrStringByIndex(8), std::nullopt);
  EXPECT_EQ(routes[0].getAddrStringByIndex(-1), std::nullopt);
  EXPECT_EQ(SSNetworkInfo::wiFiRouterAddress(), "192.168.1.1");

  const auto link = Route_Info::getRoute("wlan0\t0001A8C0\t00000000\t0001\t0\t0\t600\t00FFFFFF\t0\t0\t0");
  ASSERT_TRUE(link);
  EXPECT_EQ(link->getDestination(), "192.168.1.0");
  EXPECT_EQ(link->getNetmask(), "255.255.255.0");
  for (const char* bad : {"", "Iface\tDestination\tGateway", "wlan0\tZZ\t00000000\t0001\t0\t0\t0\t00000000",
                          "wlan0\t000000000\t00000000\t0001\t0\t0\t0\t00000000"})
    EXPECT_FALSE(Route_Info::getRoute(bad)) << bad;
}

TEST_F(Interfaces, NetworkNameOrNotFound) {
  EXPECT_EQ(SSNetworkInfo::wifiName(), "Not Found");
  network_->setWifi(system_info::WifiNetwork{"Shop Floor", "aa:bb:cc:dd:ee:ff"});
  EXPECT_EQ(SSNetworkInfo::wifiName(), "Shop Floor");
  network_->setWifi(system_info::WifiNetwork{std::nullopt, "aa:bb:cc:dd:ee:ff"});
  EXPECT_EQ(SSNetworkInfo::wifiName(), std::nullopt);
  network_->setHasWifiInterface(false);
  EXPECT_EQ(SSNetworkInfo::wifiName(), "Not Found");
}

// Sets an environment variable for one scope.
class ScopedEnv {
 public:
  ScopedEnv(const char* name, const char* value) : name_(name) {
    if (const char* old = std::getenv(name)) old_ = old;
    if (value) {
      ::setenv(name, value, 1);
    } else {
      ::unsetenv(name);
    }
  }
  ~ScopedEnv() {
    if (old_) {
      ::setenv(name_, old_->c_str(), 1);
    } else {
      ::unsetenv(name_);
    }
  }

 private:
  const char* name_;
  std::optional<std::string> old_;
};

TEST(SSLocalizationInfo, CurrencyOfTheLocalesRegion) {
  ScopedEnv all("LC_ALL", nullptr), messages("LC_MESSAGES", nullptr);
  const std::pair<const char*, std::optional<std::string>> cases[] = {
      {"en_US.UTF-8", "$"}, {"de_AT.UTF-8", "€"}, {"en_GB", "£"}, {"C", std::nullopt}, {"fr", std::nullopt}};
  for (const auto& [locale, symbol] : cases) {
    ScopedEnv lang("LANG", locale);
    EXPECT_EQ(SSLocalizationInfo::currency(), symbol) << locale;
  }
}

TEST(SSApplicationInfo, VersionAndClipboard) {
  auto bundle = VexaAppSettings::bundleInfo();
  const auto saved = bundle;
  bundle.version = "42";
  VexaAppSettings::setBundleInfo(bundle);
  EXPECT_EQ(SSApplicationInfo::applicationVersion(), "42");
  bundle.version = "";
  VexaAppSettings::setBundleInfo(bundle);
  EXPECT_EQ(SSApplicationInfo::applicationVersion(), std::nullopt);
  VexaAppSettings::setBundleInfo(saved);

  EXPECT_EQ(SSApplicationInfo::clipboardContent(), std::nullopt);
  SSApplicationInfo::setClipboardSource([] { return std::optional<std::string>(""); });
  EXPECT_EQ(SSApplicationInfo::clipboardContent(), std::nullopt);
  SSApplicationInfo::setClipboardSource([] { return std::optional<std::string>("SO-1042"); });
  EXPECT_EQ(SSApplicationInfo::clipboardContent(), "SO-1042");
  SSApplicationInfo::setClipboardSource(nullptr);
}

TEST(SSNetworkInfoRealMachine, ValuesAreWellFormed) {
  system_info::NetworkInfo::setShared(nullptr);
  if (const auto mac = SSNetworkInfo::wiFiMACAddress()) {
    EXPECT_EQ(SSNetworkInfo::macAddressFromText(*mac), mac);
  }
  if (const auto broadcast = SSNetworkInfo::wiFiBroadcastAddress()) {
    EXPECT_TRUE(ipv4BroadcastAddress(*broadcast, "255.255.255.255")) << *broadcast;
  }
  const auto routes = Route_Info::getRoutes();
  EXPECT_LE(routes.size(), 1u);
  for (const auto& route : routes) EXPECT_TRUE(route.getDestination().has_value());
  if (const auto currency = SSLocalizationInfo::currency()) {
    EXPECT_FALSE(currency->empty());
  }
}

}  // namespace
}  // namespace kestra
