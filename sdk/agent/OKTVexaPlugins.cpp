#include "sdk/agent/OKTVexaPlugins.h"

#include <nlohmann/json.hpp>

namespace kestra {

std::string VexaKXDevicePlugin::plugin() { return "unknown"; }
std::string VexaKXDevicePlugin::name() { return "unknown"; }
std::string VexaKXDevicePlugin::version() { return "unknown"; }
nlohmann::json VexaKXDevicePlugin::getKXDeviceDetails() { return {{"unknown", "unknown"}}; }
nlohmann::json VexaKXDevicePlugin::getKXDevicePluginData() { return {{"unknown", "unknown"}}; }
std::optional<nlohmann::json> VexaKXDevicePlugin::deviceInfo() { return std::nullopt; }
std::optional<nlohmann::json> VexaPhonePlugin::pluginData() { return std::nullopt; }
std::optional<nlohmann::json> VexaExtensionPlugin::getExtensionPluginData() { return std::nullopt; }
std::optional<nlohmann::json> VexaCustomDevicePlugin::getCustomDevicePluginData() { return std::nullopt; }

}  // namespace kestra
