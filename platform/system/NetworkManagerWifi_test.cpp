// The Wi-Fi identifiers from NetworkManager, against python3-dbusmock's NetworkManager
// template on a private bus started by the test.
#include "platform/system/NetworkManagerWifi.h"

#include <dbus/dbus.h>
#include <gtest/gtest.h>
#include <signal.h>
#include <spawn.h>
#include <sys/wait.h>
#include <unistd.h>

#include <cstdlib>
#include <filesystem>
#include <fstream>
#include <thread>

#include "platform/system/NetworkInfo.h"
#include "testing/dbus/PrivateBus.h"

namespace system_info {
namespace {

using namespace std::chrono_literals;

using testing_dbus::Child;
using testing_dbus::kPython;
using testing_dbus::PrivateBus;

class NetworkManagerWifiTest : public ::testing::Test {
 protected:
  void SetUp() override {
    if (::access(kPython, X_OK) != 0 || ::system("/usr/bin/python3 -c 'import dbusmock' 2>/dev/null") != 0)
      GTEST_SKIP() << "python3-dbusmock is not installed (scripts/install-deps installs it)";
    ASSERT_FALSE(bus.address().empty());
  }
  void startNetworkManager() {
    nm = std::make_unique<Child>(std::vector<std::string>{kPython, "-m", "dbusmock", "--template", "networkmanager"},
                                 std::vector<std::string>{"DBUS_SYSTEM_BUS_ADDRESS=" + bus.address()});
    ASSERT_TRUE(nm->started());
    ASSERT_TRUE(bus.waitForName("org.freedesktop.NetworkManager"));
  }
  // Calls a method of the NetworkManager mock.
  bool mock(const std::string& method, const std::string& args) const {
    return bus.call("org.freedesktop.NetworkManager", "/org/freedesktop/NetworkManager",
                    "org.freedesktop.DBus.Mock." + method, args);
  }
  // A Wi-Fi device joined to "Showroom" through an active connection.
  void joinShowroom() {
    const std::string dev = "/org/freedesktop/NetworkManager/Devices/wlan0";
    ASSERT_TRUE(mock("AddWiFiDevice", "string:wlan0 string:wlan0 int32:100"));
    ASSERT_TRUE(mock("AddAccessPoint", "string:" + dev +
                                               " string:ap1 string:Showroom string:0A:1B:2C:3D:4E:5F uint32:2"
                                               " uint32:2437 uint32:54000 byte:80 uint32:0"));
    ASSERT_TRUE(mock("AddWiFiConnection", "string:" + dev + " string:c1 string:Showroom string:wpa-psk"));
    ASSERT_TRUE(mock("AddActiveConnection", "array:string:" + dev +
                                                    " string:/org/freedesktop/NetworkManager/Settings/c1"
                                                    " string:/org/freedesktop/NetworkManager/AccessPoint/ap1"
                                                    " string:ac1 uint32:2"));
  }

  PrivateBus bus;
  std::unique_ptr<Child> nm;
};

TEST_F(NetworkManagerWifiTest, TheJoinedNetworkIsReadOverTheBus) {
  startNetworkManager();
  foundation::Error error;
  // NetworkManager with no Wi-Fi device: an answer, and no network.
  EXPECT_EQ(queryNetworkManagerWifi(bus.address(), 5s, &error), std::nullopt);
  EXPECT_FALSE(error.isError()) << error.text;

  joinShowroom();
  auto wifi = queryNetworkManagerWifi(bus.address(), 5s, &error);
  ASSERT_TRUE(wifi);
  EXPECT_EQ(wifi->ssid, "Showroom");
  EXPECT_EQ(wifi->bssid, "0A:1B:2C:3D:4E:5F");

  char tmpl[] = "/tmp/netinfo-nm-XXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  LinuxNetworkInfo info(tmpl, bus.address());
  EXPECT_EQ(info.currentWifi(), wifi);
  EXPECT_TRUE(info.hasWifiInterface());
  std::filesystem::remove_all(tmpl);
}

TEST_F(NetworkManagerWifiTest, NoNetworkManagerIsAnErrorAndTheSettingStillCounts) {
  foundation::Error error;
  EXPECT_EQ(queryNetworkManagerWifi(bus.address(), 5s, &error), std::nullopt);
  EXPECT_TRUE(error.isError());
  EXPECT_EQ(error.domain, kNetworkManagerErrorDomain);
  EXPECT_EQ(queryNetworkManagerWifi("unix:path=/nonexistent/bus", 5s, &error), std::nullopt);
  EXPECT_TRUE(error.isError());

  char tmpl[] = "/tmp/netinfo-nm-XXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  std::ofstream(std::filesystem::path(tmpl) / "wifi.json") << R"({"SSID":"Back room"})";
  ::unsetenv("KESTRA_WIFI_SSID");
  ::unsetenv("KESTRA_WIFI_BSSID");
  LinuxNetworkInfo info(tmpl, bus.address());
  auto wifi = info.currentWifi();
  ASSERT_TRUE(wifi);
  EXPECT_EQ(wifi->ssid, "Back room");
  std::filesystem::remove_all(tmpl);
}

TEST_F(NetworkManagerWifiTest, AHungNetworkManagerCostsOneTimeOutThenAnswersAtOnce) {
  // Owns NetworkManager's name and never answers.
  Child hung({kPython, "-c",
              "import dbus, os, time\n"
              "b = dbus.bus.BusConnection(os.environ['BUS'])\n"
              "b.request_name('org.freedesktop.NetworkManager')\n"
              "time.sleep(600)\n"},
             {"BUS=" + bus.address()});
  ASSERT_TRUE(bus.waitForName("org.freedesktop.NetworkManager"));
  foundation::Error error;
  EXPECT_EQ(queryNetworkManagerWifi(bus.address(), 200ms, &error), std::nullopt);
  EXPECT_EQ(error.code, -1001);

  char tmpl[] = "/tmp/netinfo-nm-XXXXXX";
  ASSERT_NE(::mkdtemp(tmpl), nullptr);
  ::unsetenv("KESTRA_WIFI_SSID");
  ::unsetenv("KESTRA_WIFI_BSSID");
  LinuxNetworkInfo info(tmpl, bus.address());
  info.setWifiQueryTimeout(200ms);
  EXPECT_EQ(info.currentWifi(), std::nullopt);  // waited for the time-out once
  EXPECT_EQ(info.currentWifi(), std::nullopt);  // answered from what is known
  std::filesystem::remove_all(tmpl);
}

}  // namespace
}  // namespace system_info
