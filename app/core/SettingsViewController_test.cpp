#include "app/core/SettingsViewController.h"

#include <gtest/gtest.h>

#include "app/core/DivisionViewController.h"
#include "app/core/LoginScreensTestSupport.h"

using namespace orvo;
using orvo::test_support::LoginScreensHarness;

namespace {

// Launches on the login screen and opens the settings screen through the lock.
SettingsViewController* openSettings(LoginScreensHarness& t) {
  t.launch();
  t.app.dismissAlerts();
  t.login->settingsButtonClicked();
  t.h->typeText("q73");
  t.h->pressAlertButton("OK");
  t.app.drain();
  return dynamic_cast<SettingsViewController*>(t.topScreen());
}

}  // namespace

TEST(SettingsScreen, RequestDivisionWarehouseLogoAndSaveFillTheUserDefaults) {
  LoginScreensHarness t;
  ASSERT_TRUE(t.started);
  t.network()->setWifi(system_info::WifiNetwork{"Shop", "aa:bb:cc:dd:ee:ff"});
  auto* settings = openSettings(t);
  ASSERT_NE(settings, nullptr);
  EXPECT_EQ(t.defaults().stringForKey("printerName"), "1");  // stored by merely opening

  // The address typed but not saved is what the request uses, and is stored by it.
  ASSERT_TRUE(t.h->type(settings->serverIPTextField(), "127.0.0.1"));
  ASSERT_TRUE(t.h->type(settings->portTextField(), std::to_string(t.server.port())));
  settings->dismissKeyboard();
  ASSERT_TRUE(t.h->tapText("Request"));
  ASSERT_TRUE(t.waitForRequests());
  EXPECT_EQ(t.alertMessages(), std::vector<std::string>{"Orvo settings have been saved successfully."});
  t.h->pressAlertButton("OK");
  EXPECT_EQ(t.defaults().stringForKey("serverIP"), "127.0.0.1");
  for (const char* key : {"terms", "shipvia", "paymentcode", "state", "country", "salesrep", "customerpriority"}) {
    SCOPED_TRACE(key);
    auto text = t.defaults().stringForKey(key);
    ASSERT_TRUE(text);
    EXPECT_TRUE(nlohmann::json::parse(*text).is_array());
  }
  EXPECT_NE(t.defaults().stringForKey("terms")->find("NET30"), std::string::npos);

  // Division: the list, a tap stores the row's values and fetches its logo, then back.
  ASSERT_TRUE(t.h->chooseRow(*settings->tableView(), {1, 0}));
  auto* division = dynamic_cast<DivisionViewController*>(t.topScreen());
  ASSERT_NE(division, nullptr);
  ASSERT_TRUE(t.waitForRequests());
  ASSERT_EQ(division->listContent().size(), 2u);
  ASSERT_TRUE(t.h->tapText("Orvo Kids LLC"));
  ASSERT_TRUE(t.waitForRequests());
  t.app.drain();
  EXPECT_EQ(t.topScreen(), settings);
  EXPECT_EQ(t.defaults().stringForKey("divisionCode"), "02");
  EXPECT_EQ(t.defaults().stringForKey("companyName"), "Orvo Kids LLC");
  EXPECT_EQ(t.defaults().stringForKey("divisionStatus"), "Y");
  EXPECT_EQ(t.defaults().stringForKey("printSoWithSignStatus"), "N");
  EXPECT_TRUE(t.defaults().boolForKey("overBooking"));
  EXPECT_EQ(t.defaults().stringForKey("soAddShipDay"), "14");
  EXPECT_EQ(t.defaults().stringForKey("companyLogo"), "logo-02");
  EXPECT_TRUE(t.alertMessages().empty());
  EXPECT_NE(t.h->findText("02"), nullptr);  // the division code shows at once

  // Warehouse: only while its switch is on.
  ASSERT_TRUE(t.h->chooseRow(*settings->tableView(), {2, 1}));
  EXPECT_EQ(t.topScreen(), settings);
  ASSERT_TRUE(t.h->tap(settings->switchWithTag(SettingsViewController::kWarehouse)));
  EXPECT_TRUE(t.defaults().boolForKey("warehouseState"));
  ASSERT_TRUE(t.h->chooseRow(*settings->tableView(), {2, 1}));
  auto* warehouse = dynamic_cast<WarehouseViewController*>(t.topScreen());
  ASSERT_NE(warehouse, nullptr);
  ASSERT_TRUE(t.waitForRequests());
  ASSERT_TRUE(t.h->tapText("NYC Showroom"));
  t.app.drain();
  EXPECT_EQ(t.topScreen(), settings);
  EXPECT_EQ(t.defaults().stringForKey("warehouseCode"), "WH3");
  EXPECT_EQ(t.server.received("GetWarehouse").size(), 1u);

  // The company logo.
  settings->tableView()->setContentOffset({0, 0});
  t.app.delegate->window->layoutIfNeeded();
  ASSERT_TRUE(t.h->tapText("Logo"));
  ASSERT_TRUE(t.waitForRequests());
  EXPECT_EQ(t.alertMessages(), std::vector<std::string>{"Company Logo has been saved successfully."});
  t.h->pressAlertButton("OK");
  EXPECT_EQ(t.defaults().stringForKey("companyLogo"), "logo-1");

  // Save: stored, the network's profile written, the screen closes on OK.
  settings->saveSettings();
  t.app.drain();
  EXPECT_EQ(t.alertMessages(), std::vector<std::string>{"Settings have been saved successfully."});
  t.h->pressAlertButton("OK");
  t.app.drain();
  EXPECT_EQ(t.topScreen(), t.login.get());
  auto profiles = t.defaults().dictionaryForKey("SettingsByBSSID");
  ASSERT_TRUE(profiles);
  EXPECT_EQ((*profiles)["aa:bb:cc:dd:ee:ff"]["divisionCode"], "02");
  EXPECT_EQ((*profiles)["aa:bb:cc:dd:ee:ff"]["warehouseCode"], "WH3");
  EXPECT_EQ(t.defaults().stringForKey("priceLevel"), "AUTO");
}

TEST(SettingsScreen, ValidationRefusesTheSaveWithTheFirstMissingItem) {
  struct Case {
    const char* name;
    std::function<void(LoginScreensHarness&)> arrange;
    std::function<void(SettingsViewController&)> act;
    std::string message;
  };
  auto complete = [](LoginScreensHarness& t) {
    t.storeServer(true);
    for (const char* k : {"shipvia", "paymentcode", "salesrep", "customerpriority", "state"})
      t.defaults().setString(k, "[]");
  };
  const Case cases[] = {
      {"no server", [](LoginScreensHarness&) {}, nullptr, "Please enter Server IP."},
      {"no lists", [](LoginScreensHarness& t) { t.storeServer(false); }, nullptr, "Please request Orvo settings."},
      {"country is not needed",
       [&](LoginScreensHarness& t) {
         complete(t);
         t.defaults().removeObjectForKey("divisionCode");
       },
       nullptr, "Please select division code."},
      {"warehouse on without code", complete,
       [](SettingsViewController& s) {
         s.switchWithTag(SettingsViewController::kWarehouse)->setOn(true);
         s.switchChanged(*s.switchWithTag(SettingsViewController::kWarehouse));
       },
       "Please select warehouse code."},
      {"time-out of zero minutes", complete,
       [](SettingsViewController& s) {
         s.switchWithTag(SettingsViewController::kTimeOutFunc)->setOn(true);
         s.switchChanged(*s.switchWithTag(SettingsViewController::kTimeOutFunc));
         s.timeOutTextField()->setText("0.0");
       },
       "Please enter valid time for function of time out ."},
      {"time-out that is no number", complete,
       [](SettingsViewController& s) {
         s.switchWithTag(SettingsViewController::kTimeOutFunc)->setOn(true);
         s.switchChanged(*s.switchWithTag(SettingsViewController::kTimeOutFunc));
         s.timeOutTextField()->setText("abc");
       },
       "Please enter valid time for function of time out ."},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    LoginScreensHarness t;
    c.arrange(t);
    auto* settings = openSettings(t);
    ASSERT_NE(settings, nullptr);
    // Show every row once so that every control exists.
    for (int y = 0; y < 1200; y += 200) {
      settings->tableView()->setContentOffset({0, double(y)});
      settings->tableView()->layoutIfNeeded();
    }
    if (c.act) c.act(*settings);
    const auto before = t.defaults().dictionaryRepresentation();
    settings->saveSettings();
    t.app.drain();
    EXPECT_EQ(t.alertMessages(), std::vector<std::string>{c.message});
    auto after = t.defaults().dictionaryRepresentation();
    EXPECT_EQ(after.value("serverIP", nlohmann::json()), before.value("serverIP", nlohmann::json()));
    EXPECT_EQ(after.value("SettingsByBSSID", nlohmann::json()), before.value("SettingsByBSSID", nlohmann::json()));
  }
}

TEST(SettingsScreen, MultiSoAndRealtimeSoExcludeEachOther) {
  LoginScreensHarness t;
  auto* s = openSettings(t);
  ASSERT_NE(s, nullptr);
  auto* multi = s->switchWithTag(SettingsViewController::kMultiSo);
  auto* realtime = s->switchWithTag(SettingsViewController::kRealtimeSo);
  ASSERT_TRUE(multi && realtime);
  ASSERT_TRUE(t.h->tap(realtime));
  EXPECT_TRUE(t.alertMessages().empty());
  ASSERT_TRUE(t.h->tap(multi));
  EXPECT_TRUE(multi->isOn());
  EXPECT_FALSE(realtime->isOn());
  EXPECT_TRUE(t.defaults().boolForKey("MultiSo"));
  EXPECT_FALSE(t.defaults().boolForKey("RealtimeSoStatus"));
  EXPECT_EQ(t.alertMessages(), std::vector<std::string>{"Multi SO doesn't support using Realtime SO."});
}

TEST(SettingsScreen, AnUnreadableServerSettingsAnswerKeepsTheStoredLists) {
  LoginScreensHarness t;
  t.storeServer(true);
  t.defaults().setString("country", "[\"US\"]");
  t.server.setFault("GetMethods", backoffice::Fault::badJson());
  auto* s = openSettings(t);
  ASSERT_NE(s, nullptr);
  s->GetMethods();
  ASSERT_TRUE(t.waitForRequests());
  for (auto& m : t.alertMessages()) EXPECT_NE(m, "Orvo settings have been saved successfully.");
  EXPECT_EQ(t.defaults().stringForKey("terms"), "[]");
  EXPECT_EQ(t.defaults().stringForKey("country"), "[\"US\"]");

  // An answer without a result keeps them too.
  t.app.dismissAlerts();
  t.server.clearFaults();
  t.server.setFault("GetMethods", backoffice::Fault::badXml());
  s->GetMethods();
  ASSERT_TRUE(t.waitForRequests());
  EXPECT_EQ(t.defaults().stringForKey("country"), "[\"US\"]");
}

TEST(SettingsScreen, AnEmptyDivisionListIsAnnouncedOnceAndItsRowStoresNothing) {
  LoginScreensHarness t;
  t.storeServer(true);
  t.server.withState([](backoffice::State& s) { s.catalogue.divisions = nlohmann::json::array(); });
  auto* settings = openSettings(t);
  ASSERT_NE(settings, nullptr);
  ASSERT_TRUE(t.h->chooseRow(*settings->tableView(), {1, 0}));
  auto* division = dynamic_cast<DivisionViewController*>(t.topScreen());
  ASSERT_NE(division, nullptr);
  ASSERT_TRUE(t.waitForRequests());
  EXPECT_EQ(t.alertMessages(), std::vector<std::string>{"You don't have division list."});
  // Drawing the table again does not raise it again, and the row cannot be chosen.
  division->tableView()->reloadData();
  division->tableView()->userSelectRow({0, 0});
  t.app.drain();
  EXPECT_EQ(t.alertMessages().size(), 1u);
  EXPECT_EQ(t.defaults().stringForKey("divisionCode"), "01");
  EXPECT_TRUE(t.server.received("GetDivisionLogo").empty());
  t.h->pressAlertButton("OK");
  t.app.drain();
  EXPECT_EQ(t.topScreen(), settings);
}
