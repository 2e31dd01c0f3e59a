#pragma once
// Small services the agent's parts share: the date forms in which the agent stores and sends
// times, the loose name match used to pick device plug-ins, calendar-day counting, the
// host application's identity and versions, base64 wrapping of text, and the background-task
// bookkeeping (which asks the phone for nothing).
//
// All functions are thread-safe and never throw; unparsable input gives nothing.

#include <cstdint>
#include <functional>
#include <filesystem>
#include <optional>
#include <string>
#include <string_view>

#include "platform/foundation/Clock.h"

namespace kestra {

using foundation::WallTime;

class VexaHelper {
 public:
  static VexaHelper& sharedHelper();

  // The form of every time stamp the agent stores (last check-in, last location upload,
  // saved location): the short date and short time of the phone, "12/10/26, 3:05 PM", in
  // local time. It keeps minutes only, so intervals are measured in whole minutes.
  static std::string systemDateString(WallTime t);
  static std::optional<WallTime> systemDate(std::string_view text);
  // Now, cut to the precision of the stored form (as a stored time would read back).
  static WallTime systemNow();

  // Both texts lower-cased and stripped of spaces; whether the second occurs in the first.
  static bool string(std::string_view text, std::string_view search);
  // Whole calendar days from the older date's day to the newer date's day, in local time.
  static int64_t daysBetweenOlderDate(WallTime older, WallTime newer);
  // "yyyy-MM-dd'T'HH:mm:ss.SSSZZZZZ" in local time: "2024-03-01T09:15:02.123+01:00".
  static std::string ISODateTimeStringFromDate(WallTime t);
  static std::string convertTimeToUTC(WallTime t) { return ISODateTimeStringFromDate(t); }
  // "yyyy-MM-dd'T'HH:mm:ssZ"; nothing when `text` does not follow it.
  static std::optional<WallTime> ISODateFromDateTimeString(std::string_view text);

  // The picture of a known device model (a file among the SDK's resources), if there is one.
  static std::optional<std::filesystem::path> getImageOfDevice(std::string_view rawName);
  // The display name of a known device model; otherwise the raw name in upper case.
  static std::string getDeviceNameFromRawName(std::string_view rawName);

  static bool isValidUtf8(std::string_view text);
};

// The host application's identity, taken from the environment (KESTRA_BUNDLE_ID,
// KESTRA_APP_VERSION, KESTRA_APP_BUILD) or set by the host; the identifier defaults to the
// program's name.
struct VexaBundleInfo {
  std::string identifier;
  std::string shortVersion = "1.0";
  std::string version = "1";
  // Whether the application explains to its user why it asks for the location.
  bool hasLocationUsageDescription = true;
};

class VexaAppSettings {
 public:
  static VexaBundleInfo bundleInfo();
  static void setBundleInfo(VexaBundleInfo info);
  static std::string bundleIdentifier() { return bundleInfo().identifier; }
  static std::string appVersion() { return bundleInfo().shortVersion; }
  static std::string buildVersion() { return bundleInfo().version; }
  // "<identifier>/ios/<version>.<build>".
  static std::string userAgent();
  // Upper-case base 36 of a non-negative number ("Z" for 35, "10" for 36); "" when negative.
  static std::string base36(int64_t value);
};

class VexaSecret {
 public:
  static std::optional<std::string> encodeSecret(const std::optional<std::string>& text);
  static std::optional<std::string> decodeSecret(const std::optional<std::string>& text);
};

// Keeps no background time: `beginTask` gives 0 and `endTaskWithKey` does nothing.
class VexaBackgroundTaskManager {
 public:
  static VexaBackgroundTaskManager& sharedTask();
  uint64_t beginTask() { return 0; }
  uint64_t beginTaskWithCompletionHandler(const std::function<void()>&) { return 0; }
  void endTaskWithKey(uint64_t) {}
};

}  // namespace kestra
