// The location from GeoClue, against a GeoClue made with python3-dbusmock on a private bus.

#include "platform/system/Location.h"

#include <gtest/gtest.h>
#include <signal.h>
#include <unistd.h>

#include <cstdio>
#include <string>

#include "platform/foundation/RunLoop.h"

namespace system_info {
namespace {

// Runs `command` and returns its first line of output.
std::string firstLine(const std::string& command) {
  std::string line;
  if (FILE* p = ::popen(command.c_str(), "r")) {
    for (int c; (c = std::fgetc(p)) != EOF && c != '\n';) line += static_cast<char>(c);
    ::pclose(p);
  }
  return line;
}

bool call(const std::string& address, const std::string& path, const std::string& methodAndArgs) {
  const std::string command = "gdbus call --address '" + address + "' --dest org.freedesktop.GeoClue2 --object-path " +
                              path + " --method " + methodAndArgs + " >/dev/null 2>&1";
  return std::system(command.c_str()) == 0;
}

// A private bus with a GeoClue stand-in on it; both end with the test.
class FakeGeoClue {
 public:
  FakeGeoClue() {
    const std::string out = firstLine(
        "dbus-daemon --config-file=/usr/share/dbus-1/session.conf --fork --print-address=1 --print-pid=1 | tr '\\n' ' '");
    const size_t space = out.find(' ');
    if (space == std::string::npos) return;
    address = out.substr(0, space);
    busPid = std::atoi(out.c_str() + space + 1);
  }
  bool startGeoClue() {
    mockPid = std::atoi(firstLine("DBUS_SYSTEM_BUS_ADDRESS='" + address +
                                  "' /usr/bin/python3 -m dbusmock --system org.freedesktop.GeoClue2 "
                                  "/org/freedesktop/GeoClue2/Manager org.freedesktop.GeoClue2.Manager "
                                  ">/dev/null 2>&1 & echo $!")
                            .c_str());
    // The stand-in is there once it answers.
    for (int i = 0; i < 2000; ++i) {
      if (call(address, "/org/freedesktop/GeoClue2/Manager", "org.freedesktop.DBus.Peer.Ping")) break;
      ::usleep(10000);
    }
    const std::string manager = "/org/freedesktop/GeoClue2/Manager";
    return call(address, manager,
                "org.freedesktop.DBus.Mock.AddMethod '' GetClient '' o "
                "'ret = dbus.ObjectPath(\"/org/freedesktop/GeoClue2/Client/1\")'") &&
           call(address, manager,
                "org.freedesktop.DBus.Mock.AddObject /org/freedesktop/GeoClue2/Client/1 org.freedesktop.GeoClue2.Client "
                "\"{'Location': <objectpath '/org/freedesktop/GeoClue2/Location/1'>, 'DesktopId': <''>, "
                "'RequestedAccuracyLevel': <uint32 0>}\" \"[('Start','','',''),('Stop','','','')]\"") &&
           call(address, manager,
                "org.freedesktop.DBus.Mock.AddObject /org/freedesktop/GeoClue2/Location/1 "
                "org.freedesktop.GeoClue2.Location \"{'Latitude': <51.5>, 'Longitude': <-0.125>, 'Altitude': <11.0>, "
                "'Accuracy': <20.0>}\" '@a(ssss) []'");
  }
  ~FakeGeoClue() {
    if (mockPid > 0) ::kill(mockPid, SIGTERM);
    if (busPid > 0) ::kill(busPid, SIGTERM);
  }
  std::string address;
  int busPid = 0;
  int mockPid = 0;
};

bool haveTools() {
  return std::system("command -v gdbus >/dev/null && command -v dbus-daemon >/dev/null && "
                     "/usr/bin/python3 -c 'import dbusmock' 2>/dev/null") == 0;
}

TEST(GeoClueLocation, AFixComesFromGeoClueOverTheBus) {
  if (!haveTools()) GTEST_SKIP() << "gdbus, dbus-daemon or python3-dbusmock missing (scripts/install-deps installs them)";
  FakeGeoClue geoclue;
  ASSERT_FALSE(geoclue.address.empty());
  ASSERT_TRUE(geoclue.startGeoClue());
  GeoClueLocationProvider provider(geoclue.address);
  EXPECT_TRUE(provider.locationServicesEnabled());
  EXPECT_EQ(provider.authorizationStatus(), LocationAuthorization::Always);
  std::optional<LocationFix> fix;
  bool done = false;
  provider.requestLocation([&](std::optional<LocationFix> f, foundation::Error) {
    fix = f;
    done = true;
  });
  ASSERT_TRUE(foundation::RunLoop::main().runUntil([&] { return done; }));
  ASSERT_TRUE(fix.has_value());
  EXPECT_EQ(fix->latitude, 51.5);
  EXPECT_EQ(fix->longitude, -0.125);
  EXPECT_EQ(fix->altitude, 11.0);
}

TEST(GeoClueLocation, WithoutGeoClueLocationServicesAreOff) {
  if (!haveTools()) GTEST_SKIP() << "gdbus, dbus-daemon or python3-dbusmock missing (scripts/install-deps installs them)";
  FakeGeoClue bus;  // a bus with nothing on it
  ASSERT_FALSE(bus.address.empty());
  GeoClueLocationProvider provider(bus.address);
  EXPECT_FALSE(provider.locationServicesEnabled());
  // An address that is not plain never reaches a command line.
  const std::string marker = ::testing::TempDir() + "geoclue-address-marker";
  std::remove(marker.c_str());
  GeoClueLocationProvider unusable("unix:path=/tmp/x;touch " + marker);
  EXPECT_FALSE(unusable.locationServicesEnabled());
  EXPECT_NE(::access(marker.c_str(), F_OK), 0);
}

}  // namespace
}  // namespace system_info
