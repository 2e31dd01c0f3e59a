#include "app/core/LoginClass.h"

#include <gtest/gtest.h>

#include "testing/app/LoginTestSupport.h"

using namespace orvo;
using system_info::WifiNetwork;

namespace {

const WifiNetwork kShopA{"Shop A", "aa:aa:aa:aa:aa:01"};
const WifiNetwork kShopB{"Shop B", "bb:bb:bb:bb:bb:02"};

struct LoginClassTest : ::testing::Test {
  test_support::FreshDefaults fresh;
  foundation::UserDefaults& d = fresh.defaults();

  void storeSettings(const std::string& ip, const std::string& division, bool multiSo) {
    d.setString("serverIP", ip);
    d.setString("serverPort", "8080");
    d.setString("divisionCode", division);
    d.setBool("MultiSo", multiSo);
  }
  void storeBackup() {
    d.setObject("backupOrderListArray", nlohmann::json::array({{{"Code", "A"}}}));
    d.setString("backupCustomerId", "C1");
    d.setString("backupOrderNumber", "SO1");
    d.setBool("OrderProcessingFlag", true);
    d.setString("pDupNum", "9");
    d.setString("backupDateTime", "2024/01/01");
  }
  bool backupCleared() {
    return d.objectForKey("backupOrderListArray").is_null() && d.objectForKey("backupCustomerId").is_null() &&
           d.stringForKey("backupOrderNumber") == "" && !d.boolForKey("OrderProcessingFlag") &&
           d.stringForKey("pDupNum") == "";
  }
};

}  // namespace

TEST_F(LoginClassTest, WifiInfoNamesMissingIdentifiersAndIsAbsentWithoutANetwork) {
  EXPECT_FALSE(LoginClass::getWifiInfo());  // no network joined
  fresh.network->setWifi(WifiNetwork{"Hall", std::nullopt});
  EXPECT_EQ(*LoginClass::getWifiInfo(), (nlohmann::json{{"SSID", "Hall"}, {"BSSID", "(null)"}}));
  fresh.network->setHasWifiInterface(false);
  EXPECT_FALSE(LoginClass::getWifiInfo());
}

TEST_F(LoginClassTest, ProfilesFollowTheNetworkWithTheirCodes) {
  // No Wi-Fi: nothing happens.
  storeSettings("10.0.0.5", "D1", true);
  EXPECT_EQ(LoginClass::updateSettingsWithBSSID(), 999);
  EXPECT_TRUE(d.objectForKey("BSSID").is_null());

  // First network ever: its profile is saved (555), the backup cleared.
  fresh.network->setWifi(kShopA);
  storeBackup();
  EXPECT_EQ(LoginClass::updateSettingsWithBSSID(), 555);
  EXPECT_TRUE(backupCleared());
  EXPECT_EQ(d.stringForKey("backupDateTime"), "2024/01/01");
  auto profiles = *d.dictionaryForKey("SettingsByBSSID");
  ASSERT_TRUE(profiles.contains(*kShopA.bssid));
  EXPECT_EQ(profiles[*kShopA.bssid].size(), 19u);
  EXPECT_EQ(profiles[*kShopA.bssid]["warehouseCode"], "");  // absent text saved empty
  EXPECT_EQ(profiles[*kShopA.bssid]["Print2Copies"], false);

  // Same network again: 888, nothing changes.
  EXPECT_EQ(LoginClass::updateSettingsWithBSSID(), 888);

  // A new network: its profile is made from the settings in force (666).
  fresh.network->setWifi(kShopB);
  storeSettings("10.9.9.9", "D2", false);
  EXPECT_EQ(LoginClass::updateSettingsWithBSSID(), 666);
  EXPECT_EQ(d.stringForKey("BSSID"), *kShopB.bssid);

  // Back and forth: each change loads the other network's profile (777) and clears the backup.
  fresh.network->setWifi(kShopA);
  storeBackup();
  EXPECT_EQ(LoginClass::updateSettingsWithBSSID(), 777);
  EXPECT_EQ(d.stringForKey("serverIP"), "10.0.0.5");
  EXPECT_EQ(d.stringForKey("divisionCode"), "D1");
  EXPECT_TRUE(d.boolForKey("MultiSo"));
  EXPECT_EQ(d.stringForKey("warehouseCode"), "");
  EXPECT_TRUE(backupCleared());
  fresh.network->setWifi(kShopB);
  EXPECT_EQ(LoginClass::updateSettingsWithBSSID(), 777);
  EXPECT_EQ(d.stringForKey("serverIP"), "10.9.9.9");
  EXPECT_FALSE(d.boolForKey("MultiSo"));
  EXPECT_EQ(LoginClass::updateSettingsWithBSSID(), 888);
}

TEST_F(LoginClassTest, NoServerStoredOnlyRecordsTheNetwork) {
  fresh.network->setWifi(kShopA);
  EXPECT_EQ(LoginClass::updateSettingsWithBSSID(), 1);
  EXPECT_EQ(d.stringForKey("BSSID"), *kShopA.bssid);
  EXPECT_TRUE(d.objectForKey("SettingsByBSSID").is_null());
}

TEST_F(LoginClassTest, LoadingAProfileRemovesMissingTextsAndClearsMissingSwitches) {
  fresh.network->setWifi(kShopA);
  d.setString("serverIP", "10.0.0.5");
  d.setString("companyName", "Acme");
  d.setBool("overBooking", true);
  d.setObject("SettingsByBSSID", {{*kShopA.bssid, {{"serverIP", "10.1.1.1"}}}});
  d.setString("BSSID", "somewhere else");
  EXPECT_EQ(LoginClass::updateSettingsWithBSSID(), 777);
  EXPECT_EQ(d.stringForKey("serverIP"), "10.1.1.1");
  EXPECT_TRUE(d.objectForKey("companyName").is_null());
  EXPECT_FALSE(d.boolForKey("overBooking"));
}

TEST_F(LoginClassTest, SavingNeedsANetworkAndReplacesOnlyThatNetworksProfile) {
  storeSettings("10.0.0.5", "D1", true);
  EXPECT_FALSE(LoginClass::saveSettingsWithBSSID());
  EXPECT_TRUE(d.objectForKey("SettingsByBSSID").is_null());
  fresh.network->setWifi(kShopA);
  ASSERT_TRUE(LoginClass::saveSettingsWithBSSID());
  fresh.network->setWifi(WifiNetwork{"Hidden", std::nullopt});
  d.setString("divisionCode", "D9");
  ASSERT_TRUE(LoginClass::saveSettingsWithBSSID());
  auto profiles = *d.dictionaryForKey("SettingsByBSSID");
  EXPECT_EQ(profiles.size(), 2u);
  EXPECT_EQ(profiles[*kShopA.bssid]["divisionCode"], "D1");
  EXPECT_EQ(profiles["(null)"]["divisionCode"], "D9");
}

TEST_F(LoginClassTest, ClientAddressSharesTheServersFirstSixCharacters) {
  fresh.network->setPrimaryInterface("wlan0");
  struct Case {
    const char* name;
    std::vector<system_info::InterfaceAddress> addresses;
    std::optional<std::string> server;
    std::string expected;
  };
  const Case cases[] = {
      {"same prefix, differs later", {{"wlan0", "192.168.7.20"}}, "192.16x.1.1", "192.168.7.20"},
      {"differs within six", {{"wlan0", "192.168.7.20"}}, "192.18.1.1", ""},
      {"last address of the interface wins", {{"wlan0", "10.0.0.1"}, {"eth0", "192.168.1.2"}, {"wlan0", "192.168.1.3"}},
       "192.168.1.10", "192.168.1.3"},
      {"other interfaces do not count", {{"eth0", "192.168.1.2"}}, "192.168.1.10", ""},
      {"no server address", {{"wlan0", "192.168.1.2"}}, std::nullopt, ""},
      // A server address shorter than six characters must not make login impossible.
      {"short server address", {{"wlan0", "192.168.1.2"}}, "srv", ""},
      {"empty server address", {{"wlan0", "192.168.1.2"}}, "", ""},
      {"no address", {}, "192.168.1.10", ""},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    fresh.network->setAddresses(c.addresses);
    if (c.server)
      d.setString("serverIP", *c.server);
    else
      d.removeObjectForKey("serverIP");
    EXPECT_EQ(LoginClass::getIPAddress(), c.expected);
  }
}
