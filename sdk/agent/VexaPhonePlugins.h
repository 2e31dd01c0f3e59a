#pragma once
// The phone's plug-ins: what the agent tells the management server about the phone itself
// (`VexaMobileDevice`), its system (`VexaMobileSystem`), the application and the agent's own
// settings (`VexaMobileApp`) and its networks (`VexaMobileNetwork`). Each has a fixed
// identity, builds a details dictionary of texts afresh on every call (booleans "Yes"/"No")
// and a header envelope with its field records; a source that throws gives "N/A" for its own
// key only and the dictionary is always complete.
//
// Also here: the locale and the attached accessories as those plug-ins read them. Thread-safe;
// nothing is kept between calls.

#include <functional>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "sdk/agent/OKTVexaPlugins.h"

namespace kestra {

class VexaLocator;

inline constexpr const char* kOKT_VEXA_VERSION = "1.0.19";

class SSLocalizationInfo {
 public:
  // The current locale's identifier ("en_US"), from LC_ALL, LC_MESSAGES or LANG.
  static std::optional<std::string> country();
  // The first preferred language ("en-US"), from LANGUAGE or the locale.
  static std::optional<std::string> language();
  // The system time zone's name, from TZ, /etc/timezone or /etc/localtime (below the info root).
  static std::optional<std::string> timeZone();
  // The currency symbol of the current locale's region ("$" for en_US); nothing without a region.
  static std::optional<std::string> currency();
};

class SSApplicationInfo {
 public:
  // The application's build version; nothing when empty.
  static std::optional<std::string> applicationVersion();
  // The text on the host's clipboard (the host supplies it; the SDK has none of its own);
  // nothing when empty.
  static std::optional<std::string> clipboardContent();
  // nullptr: no clipboard.
  static void setClipboardSource(std::function<std::optional<std::string>()> source);
};

// One attached accessory as the phone lists it.
struct SSAccessory {
  std::string name, manufacturer, serialNumber;
};

class SSAccessoryInfo {
 public:
  static bool accessoriesAttached();
  static int numberAttachedAccessories();
  // Names (else manufacturer, else "Unknown") joined by ", "; nothing without accessories.
  static std::optional<std::string> nameAttachedAccessories();
  // Serials (else "N/A") joined by ","; nothing without accessories.
  static std::optional<std::string> serialAttachedAccessories();
  // The accessory list in force (the process's accessory registry unless set; nullptr: it again).
  static void setSource(std::function<std::vector<SSAccessory>()> source);
};

// What the four share: identity, field records and the header envelope.
class VexaPhonePluginBase : public VexaPhonePlugin {
 public:
  std::string plugin() override { return plugin_; }
  std::string name() const { return name_; }
  std::string version() override { return version_; }
  std::optional<nlohmann::json> pluginData() override;
  virtual nlohmann::json fields() = 0;
  nlohmann::json createField(const std::string& field, const std::string& name, const std::string& displayType,
                             int64_t order) const;
  static std::string CheckEmpty(const std::optional<std::string>& text);

 protected:
  VexaPhonePluginBase(std::string plugin, std::string name, std::string version);
  std::string key(const std::string& field) const { return plugin_ + "_" + field; }
  // Sets `details[key]` from `value()`, or `fallback` when it throws.
  static void guarded(nlohmann::json& details, const std::string& key, const std::function<nlohmann::json()>& value,
                      const char* fallback = "N/A");

 private:
  const std::string plugin_, name_, version_;
};

class VexaMobileSystem final : public VexaPhonePluginBase {
 public:
  VexaMobileSystem();
  nlohmann::json details() override;
  nlohmann::json fields() override;
  // The time since the kernel booted (/proc/stat's "btime" below `SSInfoRoot`, against the
  // clock's wall time) as "<days>d <hours>hr <minutes>m"; "0d 0hr 0m" when the boot time
  // cannot be read.
  std::string uptime();
};

class VexaMobileApp final : public VexaPhonePluginBase {
 public:
  // Seeds "checkInEnabled" and "locationEnabled" (true) and "loggingEnabled" (false) where absent.
  VexaMobileApp();
  nlohmann::json details() override;
  nlohmann::json fields() override;
  void setCheckInEnabled(bool on);
  bool checkInEnabled() const;
  void setLocationEnabled(bool on);
  bool locationEnabled() const;
};

class VexaMobileDevice final : public VexaPhonePluginBase {
 public:
  // `connstate` is the device facade's connection state (the process's facade when empty);
  // `locator` the location service (the shared one when nullptr).
  explicit VexaMobileDevice(std::function<int()> connstate = {}, VexaLocator* locator = nullptr);
  nlohmann::json details() override;
  nlohmann::json fields() override;
  std::optional<std::string> deviceType() override;

 private:
  std::function<int()> connstate_;
  VexaLocator* locator_;
};

// Real values only when the application declares that it uses the location; otherwise
// placeholders and no network request.
class VexaMobileNetwork final : public VexaPhonePluginBase {
 public:
  VexaMobileNetwork();
  nlohmann::json details() override;
  nlohmann::json fields() override;
};

}  // namespace kestra
