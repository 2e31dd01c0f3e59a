#pragma once
// What the agent asks of the objects that describe devices to the management server: the
// device plug-ins of accessories, the phone's plug-ins, the host's extension plug-ins and
// the host's own devices. Each answers its plug-in word, version, details (a flat
// dictionary of texts) and, optionally, its plug-in header message.
//
// `VexaKXDevicePlugin` itself is the fallback for an accessory no member recognises:
// "unknown" everywhere, and nothing for the agent's list of connected-device information.
//
// Threads: the agent calls these from its queues; implementations must be thread-safe.

#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>

namespace kestra {

class VexaKXDevicePlugin {
 public:
  virtual ~VexaKXDevicePlugin() = default;
  virtual std::string plugin();
  virtual std::string name();
  virtual std::string version();
  virtual nlohmann::json getKXDeviceDetails();
  virtual nlohmann::json getKXDevicePluginData();
  // The device's information for the agent's delegates, as last read.
  virtual std::optional<nlohmann::json> deviceInfo();
};

// One of the phone's plug-ins (system, network, device, application, managed configuration).
class VexaPhonePlugin {
 public:
  virtual ~VexaPhonePlugin() = default;
  virtual std::string plugin() = 0;
  virtual std::string version() = 0;
  virtual nlohmann::json details() = 0;
  virtual std::optional<nlohmann::json> pluginData();
  // Whether the plug-in is reported now (the managed configuration only while a provider is known).
  virtual bool isActive() { return true; }
  // The app configuration the phone was given by its management provider, if any.
  virtual std::optional<nlohmann::json> appConfig() { return std::nullopt; }
  // The phone's model type, from the plug-in that knows it.
  virtual std::optional<std::string> deviceType() { return std::nullopt; }
};

// An extension plug-in of the host (`VexaExtension` keeps one in user defaults).
class VexaExtensionPlugin {
 public:
  virtual ~VexaExtensionPlugin() = default;
  virtual std::string name() const = 0;
  virtual std::string pluginName() const = 0;
  virtual std::string pluginVersion() const = 0;
  virtual std::string pluginType() const { return "extension_plugin"; }
  virtual nlohmann::json getExtensionDetails() = 0;
  virtual std::optional<nlohmann::json> getExtensionPluginData();
};

// A device the host describes itself (`VexaCustomDevice` builds one from value functions).
class VexaCustomDevicePlugin {
 public:
  virtual ~VexaCustomDevicePlugin() = default;
  virtual std::string deviceName() const = 0;
  virtual std::string deviceModel() const = 0;
  virtual std::string deviceSerial() const = 0;
  virtual std::string deviceManufacturer() const = 0;
  virtual std::string deviceType() const = 0;
  virtual std::string pluginName() const = 0;
  virtual std::string pluginVersion() const = 0;
  virtual nlohmann::json getCustomDeviceDetails() = 0;
  virtual std::optional<nlohmann::json> getCustomDevicePluginData();
};

}  // namespace kestra
