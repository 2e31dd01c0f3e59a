#pragma once
// Facts about the phone that the agent's phone plug-ins report: hardware (uptime, model name,
// traced flag, external power), battery, memory, disk and the IPv4 broadcast address.
//
// On Linux the facts come from the machine's own text files (/proc/uptime, /proc/meminfo,
// /proc/self/status, /sys/class/power_supply) read below a root folder, "/" unless
// `SSInfoRoot::set` names another (tests point it at a folder with known contents), and from
// statvfs of a disk path (the user's home unless set). Every reader takes the text as it is:
// a file that is missing, unreadable or malformed gives the failure value (−1 for numbers,
// false for flags, nothing for texts), never an exception and never a partial number.
//
// Stateless and thread-safe; nothing is cached.

#include <cstdint>
#include <filesystem>
#include <map>
#include <optional>
#include <string>
#include <string_view>

namespace kestra {

class SSInfoRoot {
 public:
  static std::filesystem::path root();
  // Empty: "/" again.
  static void set(std::filesystem::path root);
  // The path whose file system `SSDiskInfo` describes; empty: $HOME (or "/").
  static std::filesystem::path diskPath();
  static void setDiskPath(std::filesystem::path path);
};

// "Key: value unit" lines (meminfo, status): the first number of each value, by key. Lines
// without a colon or without a number are skipped.
std::map<std::string, int64_t> parseKeyNumberLines(std::string_view text);

// "WIDTHxHEIGHT" (drm modes) or "WIDTH,HEIGHT" (frame buffer): both above 0, or nothing.
std::optional<std::pair<int64_t, int64_t>> parseScreenSize(std::string_view text);

// The first field of /proc/uptime as whole seconds; nothing unless it is a non-negative number.
std::optional<int64_t> parseUptimeSeconds(std::string_view text);
// A power-supply "status" text as a battery state (0 unknown, 1 unplugged, 2 charging, 3 full).
int batteryStateFromStatus(std::string_view status);

class SSHardwareInfo {
 public:
  // "%d %hr %m" since boot, from /proc/uptime; nothing when unreadable.
  static std::optional<std::string> systemUptime();
  // The phone's identity texts; nothing when empty.
  static std::optional<std::string> deviceModel();
  static std::optional<std::string> deviceName();
  static std::optional<std::string> systemName();
  static std::optional<std::string> systemVersion();
  // The machine identifier, or (formatted) its model name: the table's name for a phone or
  // tablet identifier; for a machine the table does not know (a PC: "x86_64"), the machine's
  // own product name and identifier, "Product (x86_64)", or the identifier alone when the
  // product is not known.
  static std::string systemDeviceTypeFormatted(bool formatted);
  // The table's name for `machine`, "iPad" for another tablet identifier, else `machine`.
  static std::string formatDeviceType(const std::string& machine);
  // The first connected display's mode ("1920x1080" in /sys/class/drm/*/modes), else the
  // first frame buffer's size (/sys/class/graphics/fb*/virtual_size); −1 without a screen.
  static int64_t screenWidth();
  static int64_t screenHeight();
  // The first backlight's brightness in per cent of its maximum; −1 without one.
  static float screenBrightness();
  // Whether this process is traced (TracerPid not 0).
  static bool debuggerAttached();
  // Charging or full.
  static bool pluggedIn();
};

class SSBatteryInfo {
 public:
  // 0 unknown, 1 unplugged, 2 charging, 3 full; the first battery of /sys/class/power_supply.
  static int batteryState();
  // Per cent above 0, else −1.
  static float batteryLevel();
  static bool charging();
  static bool fullyCharged();
};

class SSMemoryInfo {
 public:
  // Megabytes rounded to a multiple of 256; −1 when unknown.
  static double totalMemory();
  static double freeMemory(bool percent);
  static double usedMemory(bool percent);
  static double activeMemory(bool percent);
  static double inactiveMemory(bool percent);
  static double wiredMemory(bool percent);
  static double purgableMemory(bool percent);
};

class SSDiskInfo {
 public:
  static int64_t longDiskSpace();
  static int64_t longFreeDiskSpace();
  static std::optional<std::string> diskSpace();
  static std::optional<std::string> freeDiskSpace(bool percent);
  static std::optional<std::string> usedDiskSpace(bool percent);
  // "%.2f GB", "%.2f MB" or the grouped number and " bytes".
  static std::optional<std::string> formatMemory(int64_t bytes);
  // Groups of three digits separated by ",".
  static std::string formattedMemory(uint64_t bytes);
};

// address OR NOT netmask of two dotted IPv4 texts; nothing unless both have four parts of
// 0-255.
std::optional<std::string> ipv4BroadcastAddress(const std::string& address, const std::string& netmask);

}  // namespace kestra
