#include "sdk/agent/SSInfo.h"

#include <sys/statvfs.h>

#include <algorithm>
#include <cctype>
#include <charconv>
#include <cmath>
#include <cstdio>
#include <cstdlib>
#include <fstream>
#include <initializer_list>
#include <mutex>
#include <sstream>
#include <vector>

#include "platform/system/PhoneFacts.h"

namespace kestra {
namespace fs = std::filesystem;

namespace {

// Never destroyed: the agent's threads may read it while the process exits.
struct RootState {
  std::mutex mutex;
  fs::path rootFolder;  // guarded by mutex
  fs::path diskFolder;  // guarded by mutex
};

RootState& rootState() {
  static RootState* const s = new RootState;
  return *s;
}

// The whole text of a file below the root; nothing when it cannot be read. The files read
// here are a few kilobytes; more than 64 KiB is not one of them.
std::optional<std::string> readText(const fs::path& relative) {
  std::ifstream in(SSInfoRoot::root() / relative, std::ios::binary);
  if (!in) return std::nullopt;
  std::string text(64 * 1024, '\0');
  in.read(text.data(), std::streamsize(text.size()));
  text.resize(size_t(in.gcount()));
  return text;
}

std::string trimmed(std::string_view text) {
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.front()))) text.remove_prefix(1);
  while (!text.empty() && std::isspace(static_cast<unsigned char>(text.back()))) text.remove_suffix(1);
  return std::string(text);
}

std::optional<int64_t> meminfoBytes(const char* key) {
  const auto text = readText("proc/meminfo");
  if (!text) return std::nullopt;
  const auto values = parseKeyNumberLines(*text);
  const auto it = values.find(key);
  // meminfo counts in kB; a count that would not fit in bytes is not a count.
  if (it == values.end() || it->second < 0 || it->second > INT64_MAX / 1024) return std::nullopt;
  return it->second * 1024;
}

double memoryResult(std::optional<int64_t> bytes, bool percent) {
  if (!bytes) return -1;
  const double megabytes = double(*bytes) * (1.0 / 1024) * (1.0 / 1024);
  double result = megabytes;
  if (percent) {
    const double total = SSMemoryInfo::totalMemory();
    if (total <= 0) return -1;
    result = megabytes * 100 / total;
  }
  return result <= 0 ? -1 : result;
}

std::optional<int64_t> sumOf(std::initializer_list<std::optional<int64_t>> parts) {
  int64_t sum = 0;
  for (const auto& part : parts) {
    if (!part || *part > INT64_MAX - sum) return std::nullopt;
    sum += *part;
  }
  return sum;
}

// The first battery that /sys/class/power_supply lists, by name.
std::optional<fs::path> batteryFolder() {
  std::error_code ec;
  const fs::path supplies = SSInfoRoot::root() / "sys/class/power_supply";
  std::vector<fs::path> names;
  for (fs::directory_iterator it(supplies, ec), end; !ec && it != end; it.increment(ec)) {
    names.push_back(it->path().filename());
  }
  std::sort(names.begin(), names.end());
  for (const auto& name : names) {
    const fs::path relative = fs::path("sys/class/power_supply") / name;
    const auto type = readText(relative / "type");
    if (type && trimmed(*type) == "Battery") return relative;
  }
  return std::nullopt;
}

struct DiskSizes {
  int64_t total = -1;
  int64_t free = -1;
};

DiskSizes diskSizes() {
  struct statvfs st {};
  if (::statvfs(SSInfoRoot::diskPath().c_str(), &st) != 0) return {};
  const auto bytes = [&](uint64_t blocks) -> int64_t {
    const uint64_t unit = st.f_frsize ? st.f_frsize : st.f_bsize;
    if (unit == 0 || blocks > uint64_t(INT64_MAX) / unit) return -1;
    const int64_t value = int64_t(blocks * unit);
    return value < 1 ? -1 : value;
  };
  return {bytes(st.f_blocks), bytes(st.f_bavail)};
}

std::string percentText(int64_t part, int64_t total) {
  char text[32];
  std::snprintf(text, sizeof text, "%.f%%", double(part * 100 / total));
  return text;
}

}  // namespace

fs::path SSInfoRoot::root() {
  auto& state = rootState();
  std::lock_guard lock(state.mutex);
  return state.rootFolder.empty() ? fs::path("/") : state.rootFolder;
}

void SSInfoRoot::set(fs::path root) {
  auto& state = rootState();
  std::lock_guard lock(state.mutex);
  state.rootFolder = std::move(root);
}

fs::path SSInfoRoot::diskPath() {
  {
    auto& state = rootState();
    std::lock_guard lock(state.mutex);
    if (!state.diskFolder.empty()) return state.diskFolder;
  }
  const char* home = std::getenv("HOME");
  return home && *home ? fs::path(home) : fs::path("/");
}

void SSInfoRoot::setDiskPath(fs::path path) {
  auto& state = rootState();
  std::lock_guard lock(state.mutex);
  state.diskFolder = std::move(path);
}

std::map<std::string, int64_t> parseKeyNumberLines(std::string_view text) {
  std::map<std::string, int64_t> values;
  while (!text.empty()) {
    const size_t end = text.find('\n');
    std::string_view line = text.substr(0, end);
    text = end == std::string_view::npos ? std::string_view{} : text.substr(end + 1);
    const size_t colon = line.find(':');
    if (colon == std::string_view::npos || colon == 0) continue;
    std::string_view rest = line.substr(colon + 1);
    while (!rest.empty() && (rest.front() == ' ' || rest.front() == '\t')) rest.remove_prefix(1);
    int64_t number = 0;
    const auto [ptr, ec] = std::from_chars(rest.data(), rest.data() + rest.size(), number);
    if (ec != std::errc() || ptr == rest.data()) continue;
    values.emplace(std::string(line.substr(0, colon)), number);
  }
  return values;
}

std::optional<int64_t> parseUptimeSeconds(std::string_view text) {
  const std::string first = trimmed(text.substr(0, text.find(' ')));
  if (first.empty() || !std::isdigit(static_cast<unsigned char>(first.front()))) return std::nullopt;
  double seconds = 0;
  const auto [ptr, ec] = std::from_chars(first.data(), first.data() + first.size(), seconds);
  if (ec != std::errc() || ptr != first.data() + first.size() || !std::isfinite(seconds) || seconds < 0 ||
      seconds > 1e15) {
    return std::nullopt;
  }
  return int64_t(seconds);
}

int batteryStateFromStatus(std::string_view status) {
  const std::string s = trimmed(status);
  if (s == "Charging") return 2;
  if (s == "Full") return 3;
  if (s == "Discharging" || s == "Not charging") return 1;
  return 0;
}

// ---- SSHardwareInfo -------------------------------------------------------------------------

std::optional<std::string> SSHardwareInfo::systemUptime() {
  const auto text = readText("proc/uptime");
  const auto seconds = text ? parseUptimeSeconds(*text) : std::nullopt;
  if (!seconds) return std::nullopt;
  const int64_t days = *seconds / 86400, hours = *seconds % 86400 / 3600, minutes = *seconds % 3600 / 60;
  return std::to_string(days) + "d " + std::to_string(hours) + "hr " + std::to_string(minutes) + "m";
}

namespace {
std::optional<std::string> nonEmpty(std::string text) {
  if (text.empty()) return std::nullopt;
  return text;
}
}  // namespace

std::optional<std::string> SSHardwareInfo::deviceModel() { return nonEmpty(system_info::phoneFacts().model); }
std::optional<std::string> SSHardwareInfo::deviceName() { return nonEmpty(system_info::phoneFacts().name); }
std::optional<std::string> SSHardwareInfo::systemName() { return nonEmpty(system_info::phoneFacts().systemName); }
std::optional<std::string> SSHardwareInfo::systemVersion() {
  return nonEmpty(system_info::phoneFacts().systemVersion);
}

std::string SSHardwareInfo::systemDeviceTypeFormatted(bool formatted) {
  const auto facts = system_info::phoneFacts();
  const std::string& machine = facts.deviceType;
  if (!formatted) return machine;
  const std::string name = formatDeviceType(machine);
  const bool appleIdentifier = machine.starts_with("iPhone") || machine.starts_with("iPod") || machine.starts_with("iPad");
  if (name != machine || appleIdentifier || facts.model.empty()) return name;
  return machine.empty() ? facts.model : facts.model + " (" + machine + ")";
}

std::optional<std::pair<int64_t, int64_t>> parseScreenSize(std::string_view text) {
  const std::string line = trimmed(text.substr(0, text.find('\n')));
  const size_t sep = line.find_first_of("x,");
  if (sep == std::string::npos) return std::nullopt;
  int64_t width = 0, height = 0;
  const char* end = line.data() + line.size();
  auto w = std::from_chars(line.data(), line.data() + sep, width);
  auto h = std::from_chars(line.data() + sep + 1, end, height);
  // A mode may carry a suffix ("1920x1080i"); the numbers must be there and positive.
  if (w.ec != std::errc() || w.ptr != line.data() + sep || h.ec != std::errc() || h.ptr == line.data() + sep + 1)
    return std::nullopt;
  if (width < 1 || height < 1) return std::nullopt;
  return std::pair{width, height};
}

namespace {

// Entries of a /sys class folder below the root, by name (the kernel's order is not stable).
std::vector<std::string> classEntries(const char* folder) {
  std::vector<std::string> names;
  std::error_code ec;
  for (fs::directory_iterator it(SSInfoRoot::root() / folder, ec), end; !ec && it != end; it.increment(ec))
    names.push_back(it->path().filename().string());
  std::sort(names.begin(), names.end());
  return names;
}

std::optional<std::pair<int64_t, int64_t>> screenSize() {
  for (const auto& name : classEntries("sys/class/drm")) {
    const fs::path connector = fs::path("sys/class/drm") / name;
    const auto status = readText(connector / "status");
    if (!status || trimmed(*status) != "connected") continue;
    if (const auto modes = readText(connector / "modes"))
      if (auto size = parseScreenSize(*modes)) return size;
  }
  for (const auto& name : classEntries("sys/class/graphics")) {
    if (!name.starts_with("fb")) continue;
    if (const auto text = readText(fs::path("sys/class/graphics") / name / "virtual_size"))
      if (auto size = parseScreenSize(*text)) return size;
  }
  return std::nullopt;
}

std::optional<int64_t> readNumber(const fs::path& relative) {
  const auto text = readText(relative);
  if (!text) return std::nullopt;
  const std::string t = trimmed(*text);
  int64_t value = 0;
  auto r = std::from_chars(t.data(), t.data() + t.size(), value);
  if (r.ec != std::errc() || r.ptr != t.data() + t.size()) return std::nullopt;
  return value;
}

}  // namespace

int64_t SSHardwareInfo::screenWidth() {
  const auto size = screenSize();
  return size ? size->first : -1;
}

int64_t SSHardwareInfo::screenHeight() {
  const auto size = screenSize();
  return size ? size->second : -1;
}

float SSHardwareInfo::screenBrightness() {
  for (const auto& name : classEntries("sys/class/backlight")) {
    const fs::path light = fs::path("sys/class/backlight") / name;
    const auto level = readNumber(light / "brightness");
    const auto max = readNumber(light / "max_brightness");
    if (!level || !max || *max <= 0 || *level < 0 || *level > *max) continue;
    return float(double(*level) * 100.0 / double(*max));
  }
  return -1.0f;
}

std::string SSHardwareInfo::formatDeviceType(const std::string& machine) {
  struct Row {
    std::initializer_list<const char*> ids;
    const char* name;
  };
  static const Row kRows[] = {  // nothing to destroy at exit: the agent's threads may read it then
      // No row for "i386" and "x86_64": here they are a PC's own identifiers, not a
      // phone simulator's.
      {{"iPhone1,1"}, "iPhone"},
      {{"iPhone1,2"}, "iPhone 3G"},
      {{"iPhone2,1"}, "iPhone 3GS"},
      {{"iPhone3,1"}, "iPhone 4"},
      {{"iPhone4,1"}, "iPhone 4S"},
      {{"iPhone5,1", "iPhone5,2"}, "iPhone 5"},
      {{"iPhone5,3", "iPhone5,4"}, "iPhone 5c"},
      {{"iPhone6,1", "iPhone6,2"}, "iPhone 5s"},
      {{"iPhone7,1"}, "iPhone 6 Plus"},
      {{"iPhone7,2"}, "iPhone 6"},
      {{"iPhone8,1"}, "iPhone 6S"},
      {{"iPhone8,2"}, "iPhone 6S Plus"},
      {{"iPod1,1"}, "iPod 1"},
      {{"iPod2,1"}, "iPod 2"},
      {{"iPod3,1"}, "iPod 3"},
      {{"iPod4,1"}, "iPod 4"},
      {{"iPod5,1", "iPod6,1", "iPod7,1"}, "iPod 5"},
      {{"iPad1,1"}, "iPad"},
      {{"iPad2,1", "iPad2,2", "iPad2,3", "iPad2,4"}, "iPad 2"},
      {{"iPad2,5", "iPad2,6", "iPad2,7"}, "iPad mini"},
      {{"iPad3,1", "iPad3,2", "iPad3,3"}, "iPad 3"},
      {{"iPad3,4", "iPad3,5", "iPad3,6"}, "iPad 4"},
      {{"iPad4,1", "iPad4,2"}, "iPad Air"},
      {{"iPad4,4", "iPad4,5"}, "iPad mini 2"},
  };
  for (const auto& row : kRows) {
    for (const char* id : row.ids) {
      if (machine == id) return row.name;
    }
  }
  if (machine.starts_with("iPad")) return "iPad";
  return machine;
}

bool SSHardwareInfo::debuggerAttached() {
  const auto text = readText("proc/self/status");
  if (!text) return false;
  const auto values = parseKeyNumberLines(*text);
  const auto it = values.find("TracerPid");
  return it != values.end() && it->second != 0;
}

bool SSHardwareInfo::pluggedIn() { return SSBatteryInfo::charging(); }

// ---- SSBatteryInfo --------------------------------------------------------------------------

int SSBatteryInfo::batteryState() {
  const auto folder = batteryFolder();
  if (!folder) return 0;
  const auto status = readText(*folder / "status");
  return status ? batteryStateFromStatus(*status) : 0;
}

float SSBatteryInfo::batteryLevel() {
  const auto folder = batteryFolder();
  if (!folder) return -1;
  const auto text = readText(*folder / "capacity");
  if (!text) return -1;
  const std::string value = trimmed(*text);
  int capacity = 0;
  const auto [ptr, ec] = std::from_chars(value.data(), value.data() + value.size(), capacity);
  if (ec != std::errc() || ptr != value.data() + value.size() || capacity <= 0 || capacity > 100) return -1;
  const float level = float(capacity) / 100.0f;
  return level * 100.0f;
}

bool SSBatteryInfo::charging() {
  const int state = batteryState();
  return state == 2 || state == 3;
}

bool SSBatteryInfo::fullyCharged() { return batteryState() == 3; }

// ---- SSMemoryInfo ---------------------------------------------------------------------------

double SSMemoryInfo::totalMemory() {
  const auto bytes = meminfoBytes("MemTotal");
  if (!bytes) return -1;
  const double megabytes = double(*bytes) * (1.0 / 1024) * (1.0 / 1024);
  if (megabytes >= double(INT32_MAX)) return -1;
  int32_t total = int32_t(megabytes);
  const int32_t remainder = total % 256;
  total = remainder < 128 ? total - remainder : total - remainder + 256;
  return total > 0 ? double(total) : -1;
}

double SSMemoryInfo::freeMemory(bool percent) { return memoryResult(meminfoBytes("MemFree"), percent); }

double SSMemoryInfo::usedMemory(bool percent) {
  const auto bytes = sumOf({meminfoBytes("Active"), meminfoBytes("Inactive"), meminfoBytes("Unevictable")});
  if (!percent || !bytes) return memoryResult(bytes, percent);
  // Whole megabytes against the total; no total, no percentage.
  const double total = totalMemory();
  if (total <= 0) return -1;
  const double result = double(uint64_t(*bytes) >> 20) * 100 / total;
  return result <= 0 ? -1 : result;
}

double SSMemoryInfo::activeMemory(bool percent) { return memoryResult(meminfoBytes("Active"), percent); }
double SSMemoryInfo::inactiveMemory(bool percent) { return memoryResult(meminfoBytes("Inactive"), percent); }
double SSMemoryInfo::wiredMemory(bool percent) { return memoryResult(meminfoBytes("Unevictable"), percent); }
// Linux keeps no purgeable pages of the kind the agent reports.
double SSMemoryInfo::purgableMemory(bool percent) { return memoryResult(int64_t(0), percent); }

// ---- SSDiskInfo -----------------------------------------------------------------------------

int64_t SSDiskInfo::longDiskSpace() { return diskSizes().total; }
int64_t SSDiskInfo::longFreeDiskSpace() { return diskSizes().free; }

std::optional<std::string> SSDiskInfo::diskSpace() {
  const int64_t total = longDiskSpace();
  if (total < 1) return std::nullopt;
  return formatMemory(total);
}

std::optional<std::string> SSDiskInfo::freeDiskSpace(bool percent) {
  const DiskSizes sizes = diskSizes();
  if (sizes.free < 1) return std::nullopt;
  if (!percent) return formatMemory(sizes.free);
  if (sizes.total < 1 || sizes.free > INT64_MAX / 100 || sizes.free * 100 / sizes.total < 1) return std::nullopt;
  return percentText(sizes.free, sizes.total);
}

std::optional<std::string> SSDiskInfo::usedDiskSpace(bool percent) {
  const DiskSizes sizes = diskSizes();
  if (sizes.total < 1 || sizes.free < 1 || sizes.total - sizes.free < 1) return std::nullopt;
  const int64_t used = sizes.total - sizes.free;
  if (!percent) return formatMemory(used);
  if (used > INT64_MAX / 100 || used * 100 / sizes.total < 1) return std::nullopt;
  return percentText(used, sizes.total);
}

std::optional<std::string> SSDiskInfo::formatMemory(int64_t bytes) {
  char text[64];
  const double gigabytes = double(bytes) / double(1 << 30);
  const double megabytes = double(bytes) / double(1 << 20);
  if (gigabytes >= 1) {
    std::snprintf(text, sizeof text, "%.2f GB", gigabytes);
  } else if (megabytes >= 1) {
    std::snprintf(text, sizeof text, "%.2f MB", megabytes);
  } else if (bytes >= 0) {
    return formattedMemory(uint64_t(bytes)) + " bytes";
  } else {
    return std::nullopt;
  }
  return std::string(text);
}

std::string SSDiskInfo::formattedMemory(uint64_t bytes) {
  const std::string digits = std::to_string(bytes);
  std::string grouped;
  for (size_t i = 0; i < digits.size(); ++i) {
    if (i > 0 && (digits.size() - i) % 3 == 0) grouped += ',';
    grouped += digits[i];
  }
  return grouped;
}

std::optional<std::string> ipv4BroadcastAddress(const std::string& address, const std::string& netmask) {
  const auto parse = [](const std::string& text) -> std::optional<uint32_t> {
    uint32_t value = 0;
    int parts = 0;
    std::string_view rest = text;
    while (parts < 4) {
      const size_t dot = rest.find('.');
      const std::string_view part = rest.substr(0, dot);
      unsigned number = 0;
      const auto [ptr, ec] = std::from_chars(part.data(), part.data() + part.size(), number);
      if (part.empty() || ec != std::errc() || ptr != part.data() + part.size() || number > 255) return std::nullopt;
      value = value << 8 | number;
      ++parts;
      if (dot == std::string_view::npos) break;
      rest = rest.substr(dot + 1);
      if (parts == 4) return std::nullopt;
    }
    if (parts != 4) return std::nullopt;
    return value;
  };
  const auto a = parse(address), m = parse(netmask);
  if (!a || !m) return std::nullopt;
  const uint32_t b = *a | ~*m;
  char text[20];
  std::snprintf(text, sizeof text, "%u.%u.%u.%u", b >> 24, (b >> 16) & 0xFF, (b >> 8) & 0xFF, b & 0xFF);
  return std::string(text);
}

}  // namespace kestra
