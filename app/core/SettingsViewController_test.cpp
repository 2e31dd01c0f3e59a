#include "app/core/SettingsViewController.h"

#include <gtest/gtest.h>

#include <functional>

#include "app/core/DivisionViewController.h"
#include "testing/app/LoginScreensTestSupport.h"

using namespace orvo;
using orvo::test_support::LoginScreensHarness;

namespace {

// Launches on the login screen and opens the settings screen through the lock.
SettingsViewController* openSettings(LoginScreensHarness& t) {
  t.launch();
  t.app.dismissAlerts();
  if (!t.h->tap(t.h->findLabel("Settings"))) return nullptr;
  t.h->typeText("q73");
  t.h->pressAlertButton("OK");
  t.app.drain();
  return dynamic_cast<SettingsViewController*>(t.topScreen());
}

// Scrolls the settings list with a finger until `view` can be reached, then taps it.
bool tapInList(LoginScreensHarness& t, SettingsViewController& s, ui::View* view) {
  for (int i = 0; i < 12 && !t.h->isReachable(view); ++i) t.h->swipe(s.tableView(), ui::SwipeUp, 150);
  for (int i = 0; i < 12 && !t.h->isReachable(view); ++i) t.h->swipe(s.tableView(), ui::SwipeDown, 150);
  return t.h->tap(view);
}

// The bar's Save.
bool tapSave(LoginScreensHarness& t) {
  const bool tapped = t.h->tap(t.h->findLabel("Save"));
  t.app.drain();
  return tapped;
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
  ASSERT_TRUE(t.h->tapText("Done")) << t.h->dump();  // above the keyboard
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
  EXPECT_EQ(settings->navigationController()->topViewController(), settings);
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
  ASSERT_TRUE(t.h->scrollToEdge(*settings->tableView(), false));
  ASSERT_TRUE(t.h->tapText("Logo"));
  ASSERT_TRUE(t.waitForRequests());
  EXPECT_EQ(t.alertMessages(), std::vector<std::string>{"Company Logo has been saved successfully."});
  t.h->pressAlertButton("OK");
  EXPECT_EQ(t.defaults().stringForKey("companyLogo"), "logo-1");

  // Save: stored, the network's profile written, the screen closes on OK.
  ASSERT_TRUE(tapSave(t)) << t.h->dump();
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
    std::function<void(LoginScreensHarness&, SettingsViewController&)> act;
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
       [](LoginScreensHarness& t, SettingsViewController& s) {
         ASSERT_TRUE(tapInList(t, s, s.switchWithTag(SettingsViewController::kWarehouse))) << t.h->dump();
       },
       "Please select warehouse code."},
      {"time-out of zero minutes", complete,
       [](LoginScreensHarness& t, SettingsViewController& s) {
         ASSERT_TRUE(tapInList(t, s, s.switchWithTag(SettingsViewController::kTimeOutFunc))) << t.h->dump();
         ASSERT_TRUE(tapInList(t, s, s.timeOutTextField())) << t.h->dump();
         t.h->deleteBackward(int(s.timeOutTextField()->text().size()));
         t.h->typeText("0.0");
       },
       "Please enter valid time for function of time out ."},
      {"time-out that is no number", complete,
       [](LoginScreensHarness& t, SettingsViewController& s) {
         ASSERT_TRUE(tapInList(t, s, s.switchWithTag(SettingsViewController::kTimeOutFunc))) << t.h->dump();
         ASSERT_TRUE(tapInList(t, s, s.timeOutTextField())) << t.h->dump();
         t.h->deleteBackward(int(s.timeOutTextField()->text().size()));
         t.h->typeText("abc");
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
    ASSERT_TRUE(t.h->scrollToEdge(*settings->tableView(), true));
    if (c.act) c.act(t, *settings);
    const auto before = t.defaults().dictionaryRepresentation();
    ASSERT_TRUE(tapSave(t)) << t.h->dump();
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
  ASSERT_TRUE(tapInList(t, *s, t.h->findText("Request"))) << t.h->dump();
  ASSERT_TRUE(t.waitForRequests());
  for (auto& m : t.alertMessages()) EXPECT_NE(m, "Orvo settings have been saved successfully.");
  EXPECT_EQ(t.defaults().stringForKey("terms"), "[]");
  EXPECT_EQ(t.defaults().stringForKey("country"), "[\"US\"]");

  // An answer without a result keeps them too.
  t.app.dismissAlerts();
  t.server.clearFaults();
  t.server.setFault("GetMethods", backoffice::Fault::badXml());
  ASSERT_TRUE(tapInList(t, *s, t.h->findText("Request"))) << t.h->dump();
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
  EXPECT_FALSE(t.h->chooseRow(*division->tableView(), {0, 0}));
  t.app.drain();
  EXPECT_EQ(t.alertMessages().size(), 1u);
  EXPECT_EQ(t.defaults().stringForKey("divisionCode"), "01");
  EXPECT_TRUE(t.server.received("GetDivisionLogo").empty());
  t.h->pressAlertButton("OK");
  t.app.drain();
  EXPECT_EQ(t.topScreen(), settings);
}

TEST(SettingsScreen, FirstOpenShowsDefaultsAndDependentRowsFollowTheirSwitches) {
  LoginScreensHarness t;
  auto* s = openSettings(t);
  ASSERT_NE(s, nullptr);
  auto& table = *s->tableView();
  EXPECT_EQ(s->serverIPTextField()->text(), "");
  // Every control exists once its row has been shown.
  ASSERT_TRUE(t.h->scrollToEdge(table, true));
  EXPECT_EQ(s->priceLevelTextField()->text(), "AUTO");
  EXPECT_TRUE(t.defaults().objectForKey("priceLevel").is_null());  // shown, not stored
  using Tag = SettingsViewController::Tag;
  for (int tag : {Tag::kAutoConnect, Tag::kTimeOutFunc, Tag::kAutoCharge, Tag::kPassSync, Tag::kWarehouse,
                  Tag::kPreviousOrder, Tag::kNegativeStocks, Tag::kOtsWarning, Tag::kMultiSo, Tag::kRealtimeSo,
                  Tag::kMultiColorSo, Tag::kSoStatus, Tag::kDupItem, Tag::kPrint2Copies, Tag::kUsingServer}) {
    SCOPED_TRACE(tag);
    ASSERT_NE(s->switchWithTag(tag), nullptr);
    // No division stored yet: "Previous Order" and "Negative Stocks" start on.
    EXPECT_EQ(s->switchWithTag(tag)->isOn(), tag == Tag::kPreviousOrder || tag == Tag::kNegativeStocks);
  }

  // The rows that open a list show their value beside a disclosure indicator; those that
  // hang on a switch are grey and inert while it is off.
  struct Row {
    ui::IndexPath ip;
    std::string value;
    bool enabled;
  };
  for (const Row& r : {Row{{1, 0}, "", true}, Row{{2, 1}, "", false}, Row{{4, 2}, "1", false}}) {
    SCOPED_TRACE(r.ip.section);
    auto cell = s->cellForRowAtIndexPath(table, r.ip);
    EXPECT_EQ(cell->accessoryType(), ui::AccessoryType::DisclosureIndicator);
    EXPECT_EQ(cell->detailTextLabel().text(), r.value);
    EXPECT_EQ(cell->textLabel().textColor() == ui::Color::black(), r.enabled);
  }
  ASSERT_TRUE(t.h->chooseRow(table, {4, 2}));  // "Printer" while "Using Server" is off
  EXPECT_EQ(t.topScreen(), s);
  EXPECT_FALSE(s->timeOutTextField()->isEnabled());

  // "Negative Stocks" off hides the OTS row at once and leaves its stored value alone.
  t.defaults().setBool("otsWarningFunc", true);
  EXPECT_EQ(table.numberOfRowsInSection(3), 5);
  ASSERT_TRUE(t.h->tap(s->switchWithTag(Tag::kNegativeStocks)));
  EXPECT_EQ(table.numberOfRowsInSection(3), 4);
  EXPECT_FALSE(t.defaults().boolForKey("negativeStocksFunc"));
  EXPECT_TRUE(t.defaults().boolForKey("otsWarningFunc"));
}

TEST(SettingsScreen, ASleeveThatRefusesAnOptionPutsItsSwitchBack) {
  struct Case {
    const char* name;
    int tag;
    const char* key;
    std::function<void(FakeOKTKXDevices&)> refuse;
  };
  const Case cases[] = {
      {"charging", SettingsViewController::kAutoCharge, "ScannerAutoCharge",
       [](FakeOKTKXDevices& d) { d.queueChargingResults({false, false}); }},  // asked twice
      {"pass-through sync", SettingsViewController::kPassSync, "ScannerPassSync",
       [](FakeOKTKXDevices& d) { d.setPassSyncResult(false, "Not supported"); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    LoginScreensHarness t;
    auto* s = openSettings(t);
    ASSERT_NE(s, nullptr);
    ASSERT_TRUE(t.h->scrollToEdge(*s->tableView(), true));
    auto* sw = s->switchWithTag(c.tag);
    ASSERT_NE(sw, nullptr);
    // Accepted: the switch stays on and its key holds it.
    ASSERT_TRUE(t.h->tap(sw));
    EXPECT_TRUE(sw->isOn());
    EXPECT_TRUE(t.defaults().boolForKey(c.key));
    ASSERT_TRUE(t.h->tap(sw));
    // Refused: the switch and its key end opposite to what the user chose.
    c.refuse(*t.app.devices);
    ASSERT_TRUE(t.h->tap(sw));
    t.app.drain();
    EXPECT_FALSE(sw->isOn());
    EXPECT_FALSE(s->state(c.tag));
    EXPECT_FALSE(t.defaults().boolForKey(c.key));
  }
}

TEST(SettingsScreen, ListScreensShowTheServersRefusalsAndLeadBack) {
  LoginScreensHarness t;
  t.storeServer(true);
  t.defaults().setString("companyLogo", "old-logo");
  t.server.withState([](backoffice::State& s) { s.catalogue.warehouses = nlohmann::json::array(); });
  auto* settings = openSettings(t);
  ASSERT_NE(settings, nullptr);

  // A division whose logo the server refuses: its values stay stored, the logo does not
  // change, the server's text is shown and the list closes.
  ASSERT_TRUE(t.h->chooseRow(*settings->tableView(), {1, 0}));
  ASSERT_TRUE(t.waitForRequests());
  t.server.withState([](backoffice::State& s) {
    for (auto& d : s.catalogue.divisions)
      if (d["Code"] == "02") d["Code"] = "02-gone";
  });
  ASSERT_TRUE(t.h->tapText("Orvo Kids LLC"));
  ASSERT_TRUE(t.waitForRequests());
  t.app.drain();
  EXPECT_EQ(settings->navigationController()->topViewController(), settings);
  EXPECT_EQ(t.defaults().stringForKey("divisionCode"), "02");
  EXPECT_EQ(t.defaults().stringForKey("companyLogo"), "old-logo");
  auto alerts = t.app.alerts();
  ASSERT_EQ(alerts.size(), 1u);
  EXPECT_EQ(alerts[0].title, "Orvo Mobile");
  EXPECT_EQ(alerts[0].message, "Division 02 is not known.");
  t.h->pressAlertButton(alerts[0].buttons.at(0));
  t.app.drain();

  // No warehouse: the error row's own text, and OK closes the list.
  settings->tableView()->scrollToRowAtIndexPath({2, 0}, ui::ScrollPosition::Middle, false);
  t.app.delegate->window->layoutIfNeeded();
  ASSERT_TRUE(t.h->tap(settings->switchWithTag(SettingsViewController::kWarehouse)));
  ASSERT_TRUE(t.h->chooseRow(*settings->tableView(), {2, 1}));
  ASSERT_NE(dynamic_cast<WarehouseViewController*>(t.topScreen()), nullptr);
  ASSERT_TRUE(t.waitForRequests());
  EXPECT_EQ(t.alertMessages(), std::vector<std::string>{"No warehouse is set up."});
  ASSERT_TRUE(t.h->pressAlertButton("OK"));
  t.app.drain();
  EXPECT_EQ(t.topScreen(), settings);
  EXPECT_TRUE(t.defaults().objectForKey("warehouseCode").is_null());
}

TEST(SettingsScreen, APartialServerSettingsAnswerRemovesWhatItLacksAndTheSaveThenWaits) {
  LoginScreensHarness t;
  t.storeServer(true);
  t.defaults().setString("state", "[\"NY\"]");
  t.server.withState([](backoffice::State& s) {
    s.catalogue.lists["State"] = nullptr;
    s.catalogue.lists["Country"] = nlohmann::json::array({"US", "CA"});
  });
  auto* s = openSettings(t);
  ASSERT_NE(s, nullptr);
  ASSERT_TRUE(t.h->tapText("Request"));
  ASSERT_TRUE(t.waitForRequests());
  EXPECT_EQ(t.alertMessages(), std::vector<std::string>{"Orvo settings have been saved successfully."});
  t.h->pressAlertButton("OK");
  EXPECT_TRUE(t.defaults().objectForKey("state").is_null());
  EXPECT_EQ(t.defaults().stringForKey("country"), "[\"US\",\"CA\"]");
  ASSERT_TRUE(tapSave(t)) << t.h->dump();
  EXPECT_EQ(t.alertMessages(), std::vector<std::string>{"Please request Orvo settings."});
}

TEST(SettingsScreen, AnswersWithoutAResultTextAreToldAndStoreNothing) {
  LoginScreensHarness t;
  t.storeServer(true);
  t.defaults().setString("country", "[\"US\"]");
  t.defaults().setString("companyLogo", "old-logo");
  auto* settings = openSettings(t);
  ASSERT_NE(settings, nullptr);
  // The answer's result element is there but empty: the answer method cannot read it.
  auto expectTold = [&](const char* operation, const std::string& method) {
    SCOPED_TRACE(operation);
    ASSERT_TRUE(t.waitForRequests());
    t.app.drain();
    auto alerts = t.app.alerts();
    ASSERT_EQ(alerts.size(), 1u);
    EXPECT_EQ(alerts[0].title, "Error");
    EXPECT_EQ(alerts[0].message.rfind("[F]" + method + "\n", 0), 0u) << alerts[0].message;
    ASSERT_TRUE(t.h->pressAlertButton(alerts[0].buttons.at(0)));
    t.app.drain();
    t.server.clearFaults();
  };

  t.server.setFault("GetMethods", backoffice::Fault::result(""));
  ASSERT_TRUE(t.h->tapText("Request"));
  expectTold("GetMethods", "-[SettingsViewController GetMethodsResponseData:]");
  EXPECT_EQ(t.defaults().stringForKey("country"), "[\"US\"]");

  t.server.setFault("InsertLogo", backoffice::Fault::result(""));
  ASSERT_TRUE(t.h->scrollToEdge(*settings->tableView(), false));
  ASSERT_TRUE(t.h->tapText("Logo"));
  expectTold("InsertLogo", "-[SettingsViewController InsertLogoResponseData:]");
  EXPECT_EQ(t.defaults().stringForKey("companyLogo"), "old-logo");

  t.server.setFault("GetDivision", backoffice::Fault::result(""));
  ASSERT_TRUE(t.h->chooseRow(*settings->tableView(), {1, 0}));
  ASSERT_NE(dynamic_cast<DivisionViewController*>(t.topScreen()), nullptr);
  expectTold("GetDivision", "-[DivisionViewController divisionListResponseData:]");
  settings->navigationController()->popViewControllerAnimated(false);
  t.app.drain();

  // A division chosen whose logo answer is unreadable: told, and the list still closes.
  ASSERT_TRUE(t.h->chooseRow(*settings->tableView(), {1, 0}));
  ASSERT_TRUE(t.waitForRequests());
  t.server.setFault("GetDivisionLogo", backoffice::Fault::result(""));
  ASSERT_TRUE(t.h->tapText("Orvo Kids LLC"));
  expectTold("GetDivisionLogo", "-[DivisionViewController divisionLogoResponseData:]");
  EXPECT_EQ(t.topScreen(), settings);
  EXPECT_EQ(t.defaults().stringForKey("companyLogo"), "old-logo");

  t.server.setFault("GetWarehouse", backoffice::Fault::result(""));
  settings->tableView()->scrollToRowAtIndexPath({2, 0}, ui::ScrollPosition::Middle, false);
  t.app.delegate->window->layoutIfNeeded();
  ASSERT_TRUE(t.h->tap(settings->switchWithTag(SettingsViewController::kWarehouse)));
  ASSERT_TRUE(t.h->chooseRow(*settings->tableView(), {2, 1}));
  ASSERT_NE(dynamic_cast<WarehouseViewController*>(t.topScreen()), nullptr);
  expectTold("GetWarehouse", "-[WarehouseViewController warehouseListResponseData:]");
}
