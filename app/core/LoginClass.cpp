#include "app/core/LoginClass.h"

#include "app/core/OrderBackup.h"
#include "app/core/UserDefaultsKeys.h"
#include "platform/foundation/UserDefaults.h"
#include "platform/foundation/Values.h"
#include "platform/system/NetworkInfo.h"

namespace orvo {

using foundation::UserDefaults;
using nlohmann::json;

const char* const LoginClass::kProfileTextKeys[7] = {
    defaults::serverIP,      defaults::serverPort, defaults::divisionCode, defaults::companyName,
    defaults::warehouseCode, defaults::priceLevel, defaults::printerName};
const char* const LoginClass::kProfileBoolKeys[12] = {
    defaults::warehouseState,     defaults::MultiSo,           defaults::RealtimeSoStatus,
    defaults::MultiColorSoStatus, defaults::SoStatus,          defaults::DupItemStatus,
    defaults::overBooking,        defaults::previousOrderFunc, defaults::negativeStocksFunc,
    defaults::otsWarningFunc,     defaults::PrintUsingServer,  defaults::Print2Copies};

std::optional<json> LoginClass::getWifiInfo() {
  auto info = system_info::NetworkInfo::shared();
  if (!info->hasWifiInterface()) return std::nullopt;
  auto wifi = info->currentWifi();
  if (!wifi) return std::nullopt;
  return json{{"SSID", wifi->ssid.value_or("(null)")}, {"BSSID", wifi->bssid.value_or("(null)")}};
}

std::string LoginClass::getIPAddress() {
  auto info = system_info::NetworkInfo::shared();
  const std::string wifiInterface = info->primaryInterface();
  std::string address;
  for (auto& a : info->ipv4Addresses()) {
    if (a.interface == wifiInterface) address = a.address;  // a later entry wins
  }
  auto server = UserDefaults::standard().stringForKey(defaults::serverIP);
  // Compared by characters, not by network mask; a short text on either side never matches.
  constexpr size_t kPrefix = 6;
  if (address.size() >= kPrefix && server && server->size() >= kPrefix &&
      address.compare(0, kPrefix, *server, 0, kPrefix) == 0)
    return address;
  return "";
}

std::optional<std::string> LoginClass::getPrevBSSIDandUpdateBSSID(const std::optional<std::string>& bssid) {
  auto& d = UserDefaults::standard();
  auto previous = d.stringForKey(defaults::BSSID);
  if (bssid)
    d.setString(defaults::BSSID, *bssid);
  else
    d.removeObjectForKey(defaults::BSSID);
  d.synchronize();
  return previous;
}

void LoginClass::clearCrashBackup() {
  auto& d = UserDefaults::standard();
  d.removeObjectForKey(defaults::backupOrderListArray);
  d.removeObjectForKey(defaults::backupEditedPriceArray);
  d.removeObjectForKey(defaults::backupCustomerId);
  d.removeObjectForKey(defaults::backupStoreId);
  d.removeObjectForKey(defaults::backupPriceLevel);
  d.setString(defaults::backupOrderNumber, "");
  d.setBool(defaults::OrderProcessingFlag, false);
  d.removeObjectForKey(defaults::OrderProcessingInsert);
  d.removeObjectForKey(defaults::backupSOmemo);
  d.setString(defaults::pDupNum, "");
  d.synchronize();
  OrderBackup::standard().update({{defaults::backupOrderListArray, nullptr},
                                  {defaults::backupEditedPriceArray, nullptr},
                                  {defaults::backupCustomerId, nullptr},
                                  {defaults::backupStoreId, nullptr},
                                  {defaults::backupPriceLevel, nullptr},
                                  {defaults::backupOrderNumber, ""}});
}

int LoginClass::updateSettingsWithBSSID() {
  auto wifi = getWifiInfo();
  if (!wifi) return kSettingsNoWifi;
  const std::string bssid = (*wifi)["BSSID"].get<std::string>();
  auto previous = getPrevBSSIDandUpdateBSSID(bssid);

  auto& d = UserDefaults::standard();
  auto profiles = d.dictionaryForKey(defaults::SettingsByBSSID);
  auto server = d.stringForKey(defaults::serverIP);
  if (!server) return kSettingsNoServer;
  if (!profiles) {
    saveSettingsWithBSSID();
    return kSettingsFirstProfile;
  }
  auto it = profiles->find(bssid);
  if (it == profiles->end() || !it->is_object()) {
    saveSettingsWithBSSID();
    return kSettingsNewNetwork;
  }
  if (previous && *previous == bssid) return kSettingsSameNetwork;

  clearCrashBackup();
  const json& profile = *it;
  for (const char* key : kProfileTextKeys) {
    auto v = profile.find(key);
    if (v == profile.end() || v->is_null())
      d.removeObjectForKey(key);
    else
      d.setString(key, foundation::textValue(*v));
  }
  for (const char* key : kProfileBoolKeys) {
    auto v = profile.find(key);
    d.setBool(key, v != profile.end() && foundation::boolValue(*v));
  }
  d.synchronize();
  return kSettingsLoaded;
}

bool LoginClass::saveSettingsWithBSSID() {
  auto wifi = getWifiInfo();
  if (!wifi) return false;
  const std::string bssid = (*wifi)["BSSID"].get<std::string>();
  getPrevBSSIDandUpdateBSSID(bssid);
  clearCrashBackup();

  auto& d = UserDefaults::standard();
  json profile = json::object();
  for (const char* key : kProfileTextKeys) profile[key] = d.stringForKey(key).value_or("");
  for (const char* key : kProfileBoolKeys) profile[key] = d.boolForKey(key);

  json all = d.dictionaryForKey(defaults::SettingsByBSSID).value_or(json::object());
  all[bssid] = std::move(profile);
  d.setObject(defaults::SettingsByBSSID, std::move(all));
  d.synchronize();
  return true;
}

}  // namespace orvo
