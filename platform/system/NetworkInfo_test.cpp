#include "platform/system/NetworkInfo.h"

#include <gtest/gtest.h>
#include <unistd.h>

#include <cstdlib>
#include <fstream>

using system_info::LinuxNetworkInfo;
using system_info::WifiNetwork;

TEST(NetworkInfo, LinuxSourceListsLoopbackAndReadsTheConfiguredNetwork) {
  char tmpl[] = "/tmp/netinfoXXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  std::filesystem::path dir = tmpl;
  std::ofstream(dir / "wifi.json") << R"({"SSID":"Showroom","BSSID":"0a:1b:2c:3d:4e:5f"})";
  ::unsetenv("KESTRA_WIFI_SSID");
  ::unsetenv("KESTRA_WIFI_BSSID");
  LinuxNetworkInfo info(dir, "unix:path=/nonexistent/bus");  // no NetworkManager
  bool sawLoopback = false;
  for (auto& a : info.ipv4Addresses()) sawLoopback |= (a.interface == "lo" && a.address == "127.0.0.1");
  EXPECT_TRUE(sawLoopback);
  // Without NetworkManager the setting decides.
  auto w = info.currentWifi();
  ASSERT_TRUE(w.has_value());
  EXPECT_EQ(w->ssid, "Showroom");
  EXPECT_TRUE(info.hasWifiInterface());
  std::filesystem::remove_all(dir);
}
