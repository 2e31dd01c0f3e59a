#pragma once
// The phone's network facts that the application reads: the Wi-Fi network it is joined to
// (name and access-point BSSID) and the IPv4 addresses of its interfaces.
//
// `NetworkInfo::shared()` is the source in force. On Linux it is `LinuxNetworkInfo`: the
// addresses come from getifaddrs; the Wi-Fi identifiers come from a setting when one is
// given (environment variables KESTRA_WIFI_SSID and KESTRA_WIFI_BSSID, or the file
// `wifi.json` {"SSID": ..., "BSSID": ...} in the configuration folder), otherwise from
// NetworkManager over D-Bus (see NetworkManagerWifi.h), which wins when it reports a
// network. NetworkManager is asked on a thread of its own with a time-out (one second):
// a caller on the main thread waits at most that long, and once NetworkManager has failed
// to answer in time, later calls return the last answer at once while a fresh query runs in
// the background; an answer less than two seconds old is used again. Tests install a
// `FixedNetworkInfo` with `setShared`, or point a `LinuxNetworkInfo` at a private bus.
//
// Thread-safe. Nothing here throws; missing facts are reported as absent.

#include <chrono>
#include <filesystem>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

namespace system_info {

// The network the Wi-Fi interface is joined to. Either identifier may be missing when the
// platform does not report it.
struct WifiNetwork {
  std::optional<std::string> ssid;
  std::optional<std::string> bssid;
  bool operator==(const WifiNetwork&) const = default;
};

// One IPv4 address of one interface, in dotted form, with its netmask ("" when unknown).
struct InterfaceAddress {
  std::string interface;
  std::string address;
  std::string netmask = {};
  bool operator==(const InterfaceAddress&) const = default;
};

class NetworkInfo {
 public:
  virtual ~NetworkInfo() = default;

  // Whether any interface can report Wi-Fi network information at all.
  virtual bool hasWifiInterface() const = 0;
  // The current Wi-Fi network, or nothing when not joined to one.
  virtual std::optional<WifiNetwork> currentWifi() const = 0;
  // Every IPv4 address, in the order the system lists them.
  virtual std::vector<InterfaceAddress> ipv4Addresses() const = 0;
  // The name of the interface whose address the phone shows to servers (the Wi-Fi
  // interface where there is one).
  virtual std::string primaryInterface() const = 0;

  static std::shared_ptr<NetworkInfo> shared();
  // nullptr restores the Linux source.
  static void setShared(std::shared_ptr<NetworkInfo> info);
};

class LinuxNetworkInfo : public NetworkInfo {
 public:
  // `configDir` holds the optional `wifi.json`; `networkManagerBus` is the D-Bus address
  // NetworkManager is asked on (empty: the system bus).
  explicit LinuxNetworkInfo(std::filesystem::path configDir, std::string networkManagerBus = {});
  void setWifiQueryTimeout(std::chrono::milliseconds timeout);

  bool hasWifiInterface() const override;
  std::optional<WifiNetwork> currentWifi() const override;
  std::vector<InterfaceAddress> ipv4Addresses() const override;
  std::string primaryInterface() const override;

 private:
  struct WifiQuery;
  std::optional<WifiNetwork> configured() const;
  std::optional<WifiNetwork> networkManagerWifi() const;
  std::vector<std::string> wirelessInterfaces() const;

  std::filesystem::path configDir_;
  std::string bus_;
  std::chrono::milliseconds timeout_{1000};
  std::shared_ptr<WifiQuery> query_;
};

// A source with fixed answers, for tests and demos. Settable from any thread.
class FixedNetworkInfo : public NetworkInfo {
 public:
  void setWifi(std::optional<WifiNetwork> wifi);
  void setHasWifiInterface(bool has);
  void setAddresses(std::vector<InterfaceAddress> addresses);
  void setPrimaryInterface(std::string name);

  bool hasWifiInterface() const override;
  std::optional<WifiNetwork> currentWifi() const override;
  std::vector<InterfaceAddress> ipv4Addresses() const override;
  std::string primaryInterface() const override;

 private:
  mutable std::mutex mutex_;
  bool hasWifi_ = true;
  std::optional<WifiNetwork> wifi_;
  std::vector<InterfaceAddress> addresses_;
  std::string primary_ = "wlan0";
};

}  // namespace system_info
