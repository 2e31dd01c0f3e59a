#pragma once
// VexaMDMConfiguration: the app configuration a mobile-device-management provider pushes.
// The host places the provider's dictionary in standard user defaults under
// "com.apple.configuration.managed" and posts `kUserDefaultsDidChangeNotification`; the
// reader also looks again whenever the application becomes active. A new dictionary (an
// unchanged one is ignored) gives the provider's identity ("mobileMDM_partner",
// "mobileMDM_deviceID"), the device's identifiers ("mobileMDM_deviceUDID", ...; a serial also
// becomes the agent's identity, a phone number goes to the secret store) and is applied as
// configuration jobs: at once while check-in is off or "mobileMDM_overwrite" is true,
// otherwise the agent checks in and the server decides.
//
// As the phone plug-in "mobileMDM" it reports the provider while one is known (`isMDM`).
//
// Threads: notifications may arrive on any thread; the reader's fields are kept under a lock.

#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "platform/foundation/NotificationCenter.h"
#include "sdk/agent/OKTVexaPlugins.h"

namespace kestra {

class OKTVexa;

inline constexpr const char* kUserDefaultsDidChangeNotification = "NSUserDefaultsDidChangeNotification";
inline constexpr const char* kManagedConfigurationKey = "com.apple.configuration.managed";

class VexaMDMConfiguration final : public VexaPhonePlugin {
 public:
  using AddJobs = std::function<void(const nlohmann::json& jobs)>;
  // `agent` answers whether check-in is on and checks in; `addJobs` takes the job lists
  // (by default the shared configuration runner).
  explicit VexaMDMConfiguration(std::weak_ptr<OKTVexa> agent, AddJobs addJobs = nullptr);
  ~VexaMDMConfiguration() override;
  VexaMDMConfiguration(const VexaMDMConfiguration&) = delete;
  VexaMDMConfiguration& operator=(const VexaMDMConfiguration&) = delete;

  void processMDMConfig();
  void executeConfigPayload(const nlohmann::json& payload);
  bool isMDM() const;
  std::optional<nlohmann::json> getMDMAppConfig() const;
  nlohmann::json getMobileMDMDetails() const;
  nlohmann::json getMobileMDMFields() const;
  nlohmann::json getMobileMDMPluginData() const;
  static std::string addPrefixTo(const std::string& key) { return "mobileMDM_" + key; }

  std::string deviceUDID() const;
  std::string deviceSerialNumber() const;
  std::optional<std::string> mdmProviderID() const;
  std::optional<std::string> mdmProviderName() const;

  // ---- VexaPhonePlugin ----
  std::string plugin() override { return "mobileMDM"; }
  std::string version() override { return "1.0.4"; }
  std::string name() const { return "MDM"; }
  bool isActive() override { return isMDM(); }
  nlohmann::json details() override { return getMobileMDMDetails(); }
  std::optional<nlohmann::json> pluginData() override { return getMobileMDMPluginData(); }
  std::optional<nlohmann::json> appConfig() override { return getMDMAppConfig(); }

 private:
  std::weak_ptr<OKTVexa> agent_;
  AddJobs addJobs_;
  mutable std::mutex mutex_;
  std::string deviceUDID_, deviceSerialNumber_;
  std::optional<std::string> mdmProviderID_, mdmProviderName_;
  std::optional<nlohmann::json> previousMDMConfigPayload_;
  std::vector<foundation::NotificationCenter::Token> observers_;
};

}  // namespace kestra
