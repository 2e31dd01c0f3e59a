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

extern char** environ;

namespace system_info {
namespace {

using namespace std::chrono_literals;

constexpr const char* kPython = "/usr/bin/python3";

// A child process, ended (SIGTERM, then reaped) when this goes.
class Child {
 public:
  Child(std::vector<std::string> argv, std::vector<std::string> extraEnv = {}, int stdoutFd = -1) {
    std::vector<std::string> env;
    for (char** e = environ; *e; ++e) env.emplace_back(*e);
    for (auto& e : extraEnv) env.push_back(e);
    std::vector<char*> args, envp;
    for (auto& a : argv) args.push_back(a.data());
    args.push_back(nullptr);
    for (auto& e : env) envp.push_back(e.data());
    envp.push_back(nullptr);
    posix_spawn_file_actions_t actions;
    posix_spawn_file_actions_init(&actions);
    if (stdoutFd >= 0) posix_spawn_file_actions_adddup2(&actions, stdoutFd, 1);
    if (posix_spawn(&pid_, args[0], &actions, nullptr, args.data(), envp.data()) != 0) pid_ = -1;
    posix_spawn_file_actions_destroy(&actions);
  }
  ~Child() {
    if (pid_ <= 0) return;
    ::kill(pid_, SIGTERM);
    int status = 0;
    ::waitpid(pid_, &status, 0);
  }
  bool started() const { return pid_ > 0; }

 private:
  pid_t pid_ = -1;
};

// A private message bus; `address()` is where it listens.
class PrivateBus {
 public:
  PrivateBus() {
    int fds[2];
    if (::pipe(fds) != 0) return;
    daemon_ = std::make_unique<Child>(
        std::vector<std::string>{"/usr/bin/dbus-daemon", "--config-file=/usr/share/dbus-1/session.conf", "--nofork",
                                 "--print-address"},
        std::vector<std::string>{}, fds[1]);
    ::close(fds[1]);
    char c;
    while (::read(fds[0], &c, 1) == 1 && c != '\n') address_ += c;  // blocks until the bus is up
    ::close(fds[0]);
  }
  const std::string& address() const { return address_; }

  // Runs until `name` has an owner on the bus (at most 20 s).
  bool waitForName(const std::string& name) const {
    DBusError err;
    dbus_error_init(&err);
    DBusConnection* c = dbus_connection_open_private(address_.c_str(), &err);
    if (!c || !dbus_bus_register(c, &err)) return false;
    bool owned = false;
    for (auto until = std::chrono::steady_clock::now() + 20s; !owned && std::chrono::steady_clock::now() < until;) {
      owned = dbus_bus_name_has_owner(c, name.c_str(), &err);
      if (!owned) std::this_thread::sleep_for(5ms);
    }
    dbus_connection_close(c);
    dbus_connection_unref(c);
    return owned;
  }

  // Calls a method of the NetworkManager mock with dbus-send arguments.
  bool mock(const std::string& method, const std::string& args) const {
    const std::string command = "/usr/bin/dbus-send --bus='" + address_ +
                                "' --print-reply=literal --dest=org.freedesktop.NetworkManager "
                                "/org/freedesktop/NetworkManager org.freedesktop.DBus.Mock." +
                                method + " " + args + " >/dev/null";
    return std::system(command.c_str()) == 0;
  }

 private:
  std::unique_ptr<Child> daemon_;
  std::string address_;
};

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
  // A Wi-Fi device joined to "Showroom" through an active connection.
  void joinShowroom() {
    const std::string dev = "/org/freedesktop/NetworkManager/Devices/wlan0";
    ASSERT_TRUE(bus.mock("AddWiFiDevice", "string:wlan0 string:wlan0 int32:100"));
    ASSERT_TRUE(bus.mock("AddAccessPoint", "string:" + dev +
                                               " string:ap1 string:Showroom string:0A:1B:2C:3D:4E:5F uint32:2"
                                               " uint32:2437 uint32:54000 byte:80 uint32:0"));
    ASSERT_TRUE(bus.mock("AddWiFiConnection", "string:" + dev + " string:c1 string:Showroom string:wpa-psk"));
    ASSERT_TRUE(bus.mock("AddActiveConnection", "array:string:" + dev +
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
