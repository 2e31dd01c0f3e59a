#pragma once
// VexaExtension: settings of the host application published to the management server as a
// check-in plug-in. The host names the extension, declares typed fields with their current
// values and registers it with the agent (`OKTVexa::addExtension`). Everything lives in
// standard user defaults under the plug-in key ({"extension": name, "fields": [records],
// "details": {detail key: value}}), so a new instance with the same name sees what an earlier
// one declared. A configuration job addressed to a detail key changes its value and posts a
// notification named after the extension (see VexaConfiguration).
//
// Keys: the plug-in key is the name in camel case with "_" made "-" ("Store Kiosk" gives
// storeKiosk); a detail key is the plug-in key, "_" and the field key without spaces.
//
// Threads: any thread; changes of one extension are serialised.

#include <cstdint>
#include <mutex>
#include <nlohmann/json.hpp>
#include <optional>
#include <string>

#include "sdk/agent/OKTVexaPlugins.h"

namespace kestra {

class VexaExtension final : public VexaExtensionPlugin {
 public:
  // Display and configuration types of a field.
  enum Type : uint64_t { kBool = 1, kString = 2, kInt = 3, kList = 4, kFile = 6 };

  explicit VexaExtension(std::string name);

  static std::string composeKeyFromPrettyName(const std::string& name);
  static std::string displayType(uint64_t type);
  static std::string configType(uint64_t type) { return displayType(type); }

  std::string name() const override { return name_; }
  std::string pluginName() const override { return pluginName_; }
  std::string pluginVersion() const override;
  void setPluginVersion(std::string version);
  void setPluginVersionMajor(int64_t major, int64_t minor, int64_t build);

  // A configurable field (the full record); optional parts are left out when absent, min and
  // max only when both are non-zero.
  void setValue(const nlohmann::json& value, const std::string& field, const std::string& title, uint64_t displayType,
                uint64_t configType, const std::optional<std::string>& section, bool passive,
                const std::optional<std::string>& regEx, const std::optional<nlohmann::json>& defaultValue,
                const std::optional<nlohmann::json>& values, uint64_t min, uint64_t max, int64_t order);
  // A field the server only shows (the short record).
  void setValue(const nlohmann::json& value, const std::string& field, const std::string& title, uint64_t displayType,
                int64_t order);
  // Adds `record` unless a record of the same "field" is stored already.
  void setField(const nlohmann::json& record);
  void setDetail(const nlohmann::json& value, const std::string& field);
  // Replaces the value of a declared field; false (nothing changes) for an undeclared one.
  bool updateValue(const nlohmann::json& value, const std::string& field);
  std::optional<nlohmann::json> getValueForField(const std::string& field) const;
  nlohmann::json getExtensionDetails() override;
  std::optional<nlohmann::json> getExtensionPluginData() override;
  void clearData();

 private:
  std::string detailKey(const std::string& field) const;
  nlohmann::json stored() const;
  void store(const nlohmann::json& dictionary);

  const std::string name_;
  const std::string pluginName_;
  mutable std::mutex mutex_;  // read-modify-write of the stored dictionary; version_
  std::string version_;
};

}  // namespace kestra
