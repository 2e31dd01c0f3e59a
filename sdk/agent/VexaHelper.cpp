#include "sdk/agent/VexaHelper.h"

#include <unistd.h>

#include <algorithm>
#include <cctype>
#include <cstdlib>
#include <ctime>
#include <fstream>
#include <mutex>

#include "platform/foundation/DateFormat.h"
#include "sdk/foundation/KXBase64.h"

namespace kestra {

namespace {

constexpr const char* kSystemDatePattern = "M/d/yy, h:mm a";

std::string squeeze(std::string_view s) {
  std::string out;
  for (char c : s)
    if (c != ' ') out += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  return out;
}

// Days since 1970-01-01 of a civil date.
int64_t daysFromCivil(int64_t y, unsigned m, unsigned d) {
  y -= m <= 2;
  const int64_t era = (y >= 0 ? y : y - 399) / 400;
  const unsigned yoe = static_cast<unsigned>(y - era * 400);
  const unsigned doy = (153 * (m + (m > 2 ? -3 : 9)) + 2) / 5 + d - 1;
  const unsigned doe = yoe * 365 + yoe / 4 - yoe / 100 + doy;
  return era * 146097 + static_cast<int64_t>(doe) - 719468;
}

int64_t localDay(WallTime t) {
  const std::time_t secs = std::chrono::system_clock::to_time_t(t);
  std::tm tm{};
  localtime_r(&secs, &tm);
  return daysFromCivil(tm.tm_year + 1900, static_cast<unsigned>(tm.tm_mon + 1), static_cast<unsigned>(tm.tm_mday));
}

struct Model {
  const char* raw;
  const char* image;
  const char* display;
  bool contains;
};
// The SDK maker's models; the first row that matches wins.
constexpr Model kModels[] = {
    {"pellanpro", "pellanpro", "PELLAN PRO", false},
    {"pellanvrok", "pellanpro", "PELLAN VROK", false},
    {"pellantab", "kestratab", "PELLAN TAB", false},
    {"pellanpad", "kestratab", "PELLAN PAD", false},
    {"kestratab", "kestratab", "KESTRA TAB", false},
    {"kestrapad", "kestratab", "KESTRA PAD", false},
    {"zizorid", "zizorid", "ZIZORI D", false},
    {"skyrig", "skyrig", "SKYRIG", false},
    {"skyrik", "skyrig", "SKYRIK", false},
    {"sk500m", "skyrig", "SK500M", false},
    {"vkp80", "vkp", "VKP 80", false},
    {"vkp", "vkp", "VKP PRINTER", false},
    {"kestracharge", "toravel", "KESTRA CHARGE", false},
    {"toravel", "toravel", "TORAVEL", true},
};

const Model* findModel(std::string_view raw) {
  std::string lower;
  for (char c : raw) lower += static_cast<char>(std::tolower(static_cast<unsigned char>(c)));
  for (const auto& m : kModels)
    if (m.contains ? lower.find(m.raw) != std::string::npos : lower == m.raw) return &m;
  return nullptr;
}

// Never destroyed: the agent's threads may ask for it while the process exits.
struct BundleState {
  std::mutex mutex;
  std::optional<VexaBundleInfo> bundle;
};

BundleState& bundleState() {
  static BundleState* const s = new BundleState;
  return *s;
}

std::string programName() {
  std::ifstream comm("/proc/self/comm");
  std::string name;
  std::getline(comm, name);
  return name.empty() ? "KestraSDK" : name;
}

}  // namespace

VexaHelper& VexaHelper::sharedHelper() {
  // Lives for the whole process: the agent's threads may still use it while the process exits.
  static VexaHelper* const helper = new VexaHelper;
  return *helper;
}

std::string VexaHelper::systemDateString(WallTime t) { return foundation::formatDate(t, kSystemDatePattern); }

std::optional<WallTime> VexaHelper::systemDate(std::string_view text) {
  return foundation::toWallTime(foundation::parseDate(text, kSystemDatePattern));
}

WallTime VexaHelper::systemNow() {
  const WallTime now = foundation::Clock::current().wallNow();
  return systemDate(systemDateString(now)).value_or(now);
}

bool VexaHelper::string(std::string_view text, std::string_view search) {
  return squeeze(text).find(squeeze(search)) != std::string::npos;
}

int64_t VexaHelper::daysBetweenOlderDate(WallTime older, WallTime newer) { return localDay(newer) - localDay(older); }

std::string VexaHelper::ISODateTimeStringFromDate(WallTime t) {
  return foundation::formatDate(t, "yyyy-MM-dd'T'HH:mm:ss.SSSZZZZZ");
}

std::optional<WallTime> VexaHelper::ISODateFromDateTimeString(std::string_view text) {
  return foundation::toWallTime(foundation::parseDate(text, "yyyy-MM-dd'T'HH:mm:ssZ"));
}

std::optional<std::filesystem::path> VexaHelper::getImageOfDevice(std::string_view rawName) {
  const Model* m = findModel(rawName);
  const char* dir = std::getenv("KESTRA_SDK_RESOURCES");
  if (!m || !dir || !*dir) return std::nullopt;
  std::filesystem::path p = std::filesystem::path(dir) / (std::string(m->image) + ".png");
  std::error_code ec;
  return std::filesystem::exists(p, ec) ? std::optional(p) : std::nullopt;
}

std::string VexaHelper::getDeviceNameFromRawName(std::string_view rawName) {
  if (const Model* m = findModel(rawName)) return m->display;
  std::string out;
  for (char c : rawName) out += static_cast<char>(std::toupper(static_cast<unsigned char>(c)));
  return out;
}

bool VexaHelper::isValidUtf8(std::string_view s) {
  size_t i = 0;
  while (i < s.size()) {
    const unsigned char c = static_cast<unsigned char>(s[i]);
    size_t n = 0;
    uint32_t cp = 0;
    if (c < 0x80) {
      ++i;
      continue;
    } else if ((c & 0xE0) == 0xC0) {
      n = 1, cp = c & 0x1F;
    } else if ((c & 0xF0) == 0xE0) {
      n = 2, cp = c & 0x0F;
    } else if ((c & 0xF8) == 0xF0) {
      n = 3, cp = c & 0x07;
    } else {
      return false;
    }
    for (size_t k = 1; k <= n; ++k) {
      if (i + k >= s.size()) return false;
      const unsigned char cc = static_cast<unsigned char>(s[i + k]);
      if ((cc & 0xC0) != 0x80) return false;
      cp = (cp << 6) | (cc & 0x3F);
    }
    if ((n == 1 && cp < 0x80) || (n == 2 && cp < 0x800) || (n == 3 && cp < 0x10000) || cp > 0x10FFFF ||
        (cp >= 0xD800 && cp <= 0xDFFF))
      return false;
    i += n + 1;
  }
  return true;
}

VexaBundleInfo VexaAppSettings::bundleInfo() {
  auto& s = bundleState();
  std::lock_guard lock(s.mutex);
  if (!s.bundle) {
    VexaBundleInfo info;
    const char* id = std::getenv("KESTRA_BUNDLE_ID");
    info.identifier = id && *id ? id : programName();
    if (const char* v = std::getenv("KESTRA_APP_VERSION"); v && *v) info.shortVersion = v;
    if (const char* b = std::getenv("KESTRA_APP_BUILD"); b && *b) info.version = b;
    s.bundle = info;
  }
  return *s.bundle;
}

void VexaAppSettings::setBundleInfo(VexaBundleInfo info) {
  auto& s = bundleState();
  std::lock_guard lock(s.mutex);
  s.bundle = std::move(info);
}

std::string VexaAppSettings::userAgent() {
  const VexaBundleInfo b = bundleInfo();
  return b.identifier + "/ios/" + b.shortVersion + "." + b.version;
}

std::string VexaAppSettings::base36(int64_t value) {
  if (value < 0) return {};
  static const char kDigits[] = "0123456789ABCDEFGHIJKLMNOPQRSTUVWXYZ";
  std::string out;
  do {
    out.insert(out.begin(), kDigits[value % 36]);
    value /= 36;
  } while (value > 0);
  return out;
}

std::optional<std::string> VexaSecret::encodeSecret(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  return KXBase64::encodeBase64WithString(*text);
}

std::optional<std::string> VexaSecret::decodeSecret(const std::optional<std::string>& text) {
  if (!text) return std::nullopt;
  auto bytes = KXBase64::decodeBase64WithString(*text);
  if (!bytes) return std::nullopt;
  std::string out(bytes->begin(), bytes->end());
  if (!VexaHelper::isValidUtf8(out)) return std::nullopt;
  return out;
}

VexaBackgroundTaskManager& VexaBackgroundTaskManager::sharedTask() {
  static VexaBackgroundTaskManager* const manager = new VexaBackgroundTaskManager;  // never destroyed
  return *manager;
}

}  // namespace kestra
