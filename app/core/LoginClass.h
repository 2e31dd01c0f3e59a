#pragma once
// Settings profiles per Wi-Fi network, and the network facts the login needs.
//
// A device that moves between sites keeps one profile of its server and order-mode
// settings per Wi-Fi network, keyed by the access point's BSSID, under "SettingsByBSSID"
// in the standard user defaults; "BSSID" holds the network seen last. The login screen
// calls `updateSettingsWithBSSID` once when it loads: a known network that differs from the
// last one has its profile loaded into the user defaults, a network without a profile gets
// the current settings saved as its profile. Loading or saving a profile clears the backup
// of an unfinished order, so an order broken off on one network is not restored on another.
//
// The network facts come from `system_info::NetworkInfo::shared()`; its primary interface
// stands for the phone's Wi-Fi interface. All operations are static, run on the main
// thread, and synchronize the user defaults before they return.

#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>

namespace orvo {

class LoginClass {
 public:
  // Result codes of `updateSettingsWithBSSID`.
  static constexpr int kSettingsNoServer = 1;         // no "serverIP" stored; "BSSID" updated
  static constexpr int kSettingsFirstProfile = 555;   // no profiles yet; this network's saved
  static constexpr int kSettingsNewNetwork = 666;     // this network had no profile; saved now
  static constexpr int kSettingsLoaded = 777;         // network changed; its profile loaded
  static constexpr int kSettingsSameNetwork = 888;    // the network seen last; nothing changed
  static constexpr int kSettingsNoWifi = 999;         // no Wi-Fi information

  // {"SSID": text, "BSSID": text} of the current network; a missing identifier reads
  // "(null)". Nothing when there is no Wi-Fi interface or no network joined.
  static std::optional<nlohmann::json> getWifiInfo();
  // The Wi-Fi interface's IPv4 address when its first six characters equal those of the
  // stored server address; otherwise (no address, no server address, another prefix, or
  // either side shorter than six characters) the empty text.
  static std::string getIPAddress();
  // Stores `bssid` under "BSSID" (nothing removes the key) and returns what was there.
  static std::optional<std::string> getPrevBSSIDandUpdateBSSID(const std::optional<std::string>& bssid);
  // Clears the backup of an unfinished order ("backupDateTime" is kept).
  static void clearCrashBackup();
  // The check at the start of the login screen; one of the result codes above.
  static int updateSettingsWithBSSID();
  // Saves the current settings as the current network's profile. False (nothing written)
  // when there is no Wi-Fi network.
  static bool saveSettingsWithBSSID();

  // The keys of a profile, in the order they are written and read: seven texts, then
  // twelve Booleans.
  static const char* const kProfileTextKeys[7];
  static const char* const kProfileBoolKeys[12];
};

}  // namespace orvo
