#include "platform/system/NetworkInfo.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

using system_info::LinuxNetworkInfo;
using system_info::WifiNetwork;

TEST(NetworkInfo, NmcliListGivesTheActiveNetworkWithEscapedColons) {
  struct Case {
    const char* name;
    std::string output;
    std::optional<WifiNetwork> expected;
  };
  const Case cases[] = {
      {"active second", "no:Cafe:11\\:22\\:33\\:44\\:55\\:66\nyes:Shop A:AA\\:BB\\:CC\\:DD\\:EE\\:FF\n",
       WifiNetwork{"Shop A", "AA:BB:CC:DD:EE:FF"}},
      {"none active", "no:Cafe:11\\:22\\:33\\:44\\:55\\:66\n", std::nullopt},
      {"empty", "", std::nullopt},
      {"hidden ssid", "yes::AA\\:BB\\:CC\\:DD\\:EE\\:FF\n", WifiNetwork{std::nullopt, "AA:BB:CC:DD:EE:FF"}},
      {"ssid with colon", "yes:a\\:b:01\\:02\\:03\\:04\\:05\\:06\r\n", WifiNetwork{"a:b", "01:02:03:04:05:06"}},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(LinuxNetworkInfo::parseNmcliWifiList(c.output), c.expected);
  }
}

TEST(NetworkInfo, LinuxSourceListsLoopbackAndReadsTheConfiguredNetwork) {
  char tmpl[] = "/tmp/netinfoXXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  std::filesystem::path dir = tmpl;
  std::ofstream(dir / "wifi.json") << R"({"SSID":"Showroom","BSSID":"0a:1b:2c:3d:4e:5f"})";
  ::unsetenv("KESTRA_WIFI_SSID");
  ::unsetenv("KESTRA_WIFI_BSSID");
  LinuxNetworkInfo info(dir);
  bool sawLoopback = false;
  for (auto& a : info.ipv4Addresses()) sawLoopback |= (a.interface == "lo" && a.address == "127.0.0.1");
  EXPECT_TRUE(sawLoopback);
  // Without NetworkManager on this machine the setting decides; with it, it may win.
  auto w = info.currentWifi();
  ASSERT_TRUE(w.has_value());
  EXPECT_TRUE(info.hasWifiInterface());
  std::filesystem::remove_all(dir);
}
