// The phone's facts read from a root folder with known contents, and once from the machine.
#include "sdk/agent/SSInfo.h"

#include <gtest/gtest.h>
#include <stdlib.h>

#include <cmath>
#include <fstream>
#include <regex>

#include "platform/system/PhoneFacts.h"

namespace kestra {
namespace {
namespace fs = std::filesystem;

class FakeRoot : public ::testing::Test {
 protected:
  void SetUp() override {
    char pattern[] = "/tmp/kestra-ssinfo-XXXXXX";
    root_ = ::mkdtemp(pattern);
    SSInfoRoot::set(root_);
  }
  void TearDown() override {
    SSInfoRoot::set({});
    SSInfoRoot::setDiskPath({});
    std::error_code ec;
    fs::remove_all(root_, ec);
  }
  void write(const fs::path& relative, const std::string& text) {
    fs::create_directories((root_ / relative).parent_path());
    std::ofstream(root_ / relative) << text;
  }
  void meminfo(int64_t totalKb, const std::string& more = {}) {
    write("proc/meminfo", "MemTotal:       " + std::to_string(totalKb) + " kB\n" + more);
  }
  void battery(const std::string& capacity, const std::string& status) {
    write("sys/class/power_supply/AC/type", "Mains\n");
    write("sys/class/power_supply/BAT0/type", "Battery\n");
    write("sys/class/power_supply/BAT0/capacity", capacity + "\n");
    write("sys/class/power_supply/BAT0/status", status + "\n");
  }
  fs::path root_;
};

TEST_F(FakeRoot, TotalMemoryRoundsToMultiplesOf256Megabytes) {
  struct Case {
    int64_t megabytes;
    double total;
  } const kCases[] = {{1983, 2048}, {1900, 1792}, {2048 + 128, 2304}, {2048 + 127, 2048}, {100, -1}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.megabytes);
    meminfo(c.megabytes * 1024 + 512);  // half a megabyte more is cut off
    EXPECT_EQ(SSMemoryInfo::totalMemory(), c.total);
  }
}

TEST_F(FakeRoot, MemoryStatisticsInMegabytesAndPercent) {
  // More than 4 GiB in use must not wrap.
  meminfo(8 * 1024 * 1024,
          "MemFree:         1048576 kB\nActive:          3145728 kB\nInactive:        2097152 kB\n"
          "Unevictable:      524288 kB\n");
  EXPECT_EQ(SSMemoryInfo::totalMemory(), 8192);
  EXPECT_EQ(SSMemoryInfo::freeMemory(false), 1024);
  EXPECT_EQ(SSMemoryInfo::freeMemory(true), 12.5);
  EXPECT_EQ(SSMemoryInfo::usedMemory(false), 5632);
  EXPECT_EQ(SSMemoryInfo::usedMemory(true), 5632.0 * 100 / 8192);
  EXPECT_EQ(SSMemoryInfo::activeMemory(false), 3072);
  EXPECT_EQ(SSMemoryInfo::inactiveMemory(false), 2048);
  EXPECT_EQ(SSMemoryInfo::wiredMemory(false), 512);
  EXPECT_EQ(SSMemoryInfo::purgableMemory(false), -1);
}

TEST_F(FakeRoot, MemoryFailuresGiveMinusOne) {
  EXPECT_EQ(SSMemoryInfo::totalMemory(), -1);  // no meminfo at all
  EXPECT_EQ(SSMemoryInfo::freeMemory(false), -1);
  // Counts present but no usable total: no percentage (and no division by it).
  write("proc/meminfo", "MemTotal: lots\nActive: 1024 kB\nInactive: 1024 kB\nUnevictable: 0 kB\nMemFree: 0 kB\n");
  EXPECT_EQ(SSMemoryInfo::usedMemory(false), 2);
  EXPECT_EQ(SSMemoryInfo::usedMemory(true), -1);
  EXPECT_EQ(SSMemoryInfo::freeMemory(false), -1);  // zero is reported as unknown
}

TEST_F(FakeRoot, BatteryLevelAndStateMapping) {
  struct Case {
    const char* capacity;
    const char* status;
    float level;
    bool charging, full;
  } const kCases[] = {
      {"57", "Discharging", 57, false, false}, {"80", "Charging", 80, true, false},
      {"100", "Full", 100, true, true},        {"0", "Not charging", -1, false, false},
      {"x", "Unknown", -1, false, false},      {"101", "Charging", -1, true, false},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.status);
    battery(c.capacity, c.status);
    EXPECT_EQ(SSBatteryInfo::batteryLevel(), c.level);
    EXPECT_EQ(SSBatteryInfo::charging(), c.charging);
    EXPECT_EQ(SSHardwareInfo::pluggedIn(), c.charging);
    EXPECT_EQ(SSBatteryInfo::fullyCharged(), c.full);
  }
}

TEST_F(FakeRoot, NoBatteryReportsUnknown) {
  write("sys/class/power_supply/AC/type", "Mains\n");
  EXPECT_EQ(SSBatteryInfo::batteryLevel(), -1);
  EXPECT_EQ(SSBatteryInfo::batteryState(), 0);
  EXPECT_FALSE(SSHardwareInfo::pluggedIn());
}

TEST_F(FakeRoot, UptimeAndTracedFlag) {
  write("proc/uptime", "183723.51 700000.00\n");  // 2 days, 3 hours, 2 minutes, 3 s
  EXPECT_EQ(SSHardwareInfo::systemUptime(), "2d 3hr 2m");
  write("proc/uptime", "-5 1\n");
  EXPECT_EQ(SSHardwareInfo::systemUptime(), std::nullopt);

  write("proc/self/status", "Name:\tapp\nTracerPid:\t0\nUid:\t1000\n");
  EXPECT_FALSE(SSHardwareInfo::debuggerAttached());
  write("proc/self/status", "Name:\tapp\nTracerPid:\t4242\n");
  EXPECT_TRUE(SSHardwareInfo::debuggerAttached());
}

TEST(SSHardwareInfo, ModelNames) {
  struct Case {
    const char* machine;
    const char* name;
  } const kCases[] = {{"iPhone7,2", "iPhone 6"}, {"iPad6,7", "iPad"},      {"iPhone9,1", "iPhone9,1"},
                      {"iPad3,3", "iPad 3"},     {"x86_64", "x86_64"}, {"iPod7,1", "iPod 5"}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.machine);
    EXPECT_EQ(SSHardwareInfo::formatDeviceType(c.machine), c.name);
  }
  system_info::setPhoneFactsOverride(system_info::PhoneFacts{"n", "m", "s", "1", "iPhone7,2"});
  EXPECT_EQ(SSHardwareInfo::systemDeviceTypeFormatted(false), "iPhone7,2");
  EXPECT_EQ(SSHardwareInfo::systemDeviceTypeFormatted(true), "iPhone 6");
  // A PC is named by its own product and machine type, never as a phone simulator.
  system_info::setPhoneFactsOverride(system_info::PhoneFacts{"n", "ThinkPad T14", "Linux", "6.1", "x86_64"});
  EXPECT_EQ(SSHardwareInfo::systemDeviceTypeFormatted(false), "x86_64");
  EXPECT_EQ(SSHardwareInfo::systemDeviceTypeFormatted(true), "ThinkPad T14 (x86_64)");
  system_info::setPhoneFactsOverride(system_info::PhoneFacts{"n", "", "Linux", "6.1", "aarch64"});
  EXPECT_EQ(SSHardwareInfo::systemDeviceTypeFormatted(true), "aarch64");
  system_info::setPhoneFactsOverride(std::nullopt);
}

TEST_F(FakeRoot, ScreenSizeAndBrightnessWhereTheMachineHasThem) {
  EXPECT_EQ(SSHardwareInfo::screenWidth(), -1);
  EXPECT_EQ(SSHardwareInfo::screenHeight(), -1);
  EXPECT_EQ(SSHardwareInfo::screenBrightness(), -1);

  // A frame buffer alone; then a connected display, which wins; a disconnected one is not read.
  write("sys/class/graphics/fb0/virtual_size", "1024,768\n");
  EXPECT_EQ(SSHardwareInfo::screenWidth(), 1024);
  EXPECT_EQ(SSHardwareInfo::screenHeight(), 768);
  write("sys/class/drm/card0-HDMI-A-1/status", "disconnected\n");
  write("sys/class/drm/card0-HDMI-A-1/modes", "3840x2160\n");
  write("sys/class/drm/card0-eDP-1/status", "connected\n");
  write("sys/class/drm/card0-eDP-1/modes", "1920x1080\n1280x720\n");
  EXPECT_EQ(SSHardwareInfo::screenWidth(), 1920);
  EXPECT_EQ(SSHardwareInfo::screenHeight(), 1080);

  write("sys/class/backlight/intel_backlight/max_brightness", "400\n");
  write("sys/class/backlight/intel_backlight/brightness", "100\n");
  EXPECT_FLOAT_EQ(SSHardwareInfo::screenBrightness(), 25.0f);
  write("sys/class/backlight/intel_backlight/brightness", "500\n");  // beyond the maximum
  EXPECT_EQ(SSHardwareInfo::screenBrightness(), -1);
}

TEST(SSHardwareInfo, ScreenSizeTexts) {
  struct Case {
    const char* text;
    std::optional<std::pair<int64_t, int64_t>> size;
  } const kCases[] = {{"1920x1080\n", std::pair<int64_t, int64_t>{1920, 1080}},
                      {"800,600", std::pair<int64_t, int64_t>{800, 600}},
                      {"1920x1080i", std::pair<int64_t, int64_t>{1920, 1080}},
                      {"0x0", std::nullopt},
                      {"x1080", std::nullopt},
                      {"1920x", std::nullopt},
                      {"", std::nullopt},
                      {"wide", std::nullopt}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.text);
    EXPECT_EQ(parseScreenSize(c.text), c.size);
  }
}

TEST(SSDiskInfo, SizeFormats) {
  struct Case {
    int64_t bytes;
    std::optional<std::string> text;
  } const kCases[] = {{1610612736, "1.50 GB"},       {1048575, "1,048,575 bytes"}, {1048576, "1.00 MB"},
                      {999, "999 bytes"},            {0, "0 bytes"},               {-1, std::nullopt},
                      {int64_t(1) << 40, "1024.00 GB"}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.bytes);
    EXPECT_EQ(SSDiskInfo::formatMemory(c.bytes), c.text);
  }
  EXPECT_EQ(SSDiskInfo::formattedMemory(1234567890123ULL), "1,234,567,890,123");
}

TEST(SSNetworkInfo, BroadcastAddress) {
  struct Case {
    const char* address;
    const char* netmask;
    std::optional<std::string> broadcast;
  } const kCases[] = {
      {"10.1.2.3", "255.255.255.0", "10.1.2.255"}, {"192.168.7.9", "255.255.240.0", "192.168.15.255"},
      {"10.1.2", "255.255.255.0", std::nullopt},   {"10.1.2.3.4", "255.255.255.0", std::nullopt},
      {"10.1.2.300", "255.255.255.0", std::nullopt}, {"", "255.255.255.0", std::nullopt},
      {"10.1.2.3", "", std::nullopt},              {"10..2.3", "255.255.255.0", std::nullopt},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.address);
    EXPECT_EQ(ipv4BroadcastAddress(c.address, c.netmask), c.broadcast);
  }
}

TEST(SSInfoRealMachine, ValuesAreWellFormed) {
  const double total = SSMemoryInfo::totalMemory();
  EXPECT_GT(total, 0);
  EXPECT_EQ(std::fmod(total, 256), 0);
  const auto uptime = SSHardwareInfo::systemUptime();
  ASSERT_TRUE(uptime.has_value());
  EXPECT_TRUE(std::regex_match(*uptime, std::regex(R"(\d+d \d+hr \d+m)"))) << *uptime;
  EXPECT_GT(SSDiskInfo::longDiskSpace(), 0);
  const auto disk = SSDiskInfo::diskSpace();
  ASSERT_TRUE(disk.has_value());
  EXPECT_TRUE(std::regex_match(*disk, std::regex(R"(\d+\.\d\d (GB|MB))"))) << *disk;
  const auto used = SSDiskInfo::usedDiskSpace(true);
  if (used) {
    EXPECT_TRUE(std::regex_match(*used, std::regex(R"(\d+%)"))) << *used;
  }
  const float level = SSBatteryInfo::batteryLevel();
  EXPECT_TRUE(level == -1 || (level > 0 && level <= 100));
}

}  // namespace
}  // namespace kestra
