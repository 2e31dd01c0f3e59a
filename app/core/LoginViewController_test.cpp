#include "app/core/LoginViewController.h"

#include <gtest/gtest.h>

#include "testing/app/LoginScreensTestSupport.h"
#include "app/core/SettingsViewController.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/WebImageLoader.h"

#include <filesystem>
#include <fstream>

using namespace orvo;
using orvo::test_support::LoginScreensHarness;
using system_info::WifiNetwork;

namespace {

const WifiNetwork kShopA{"Shop A", "aa:aa:aa:aa:aa:01"};
const WifiNetwork kShopB{"Shop B", "bb:bb:bb:bb:bb:02"};

void typeCredentials(LoginScreensHarness& t, const std::string& user, const std::string& password) {
  ASSERT_TRUE(t.h->type(t.login->usernameTextField(), user));
  t.h->pressReturn();  // Next: focus moves to the password field, no login yet
  EXPECT_TRUE(t.login->passwordTextField()->isFirstResponder());
  EXPECT_TRUE(t.server.received("AuthenticateUser").empty());
  t.h->typeText(password);
  t.h->pressReturn();  // Done: logs in
}

}  // namespace

TEST(LoginScreen, SettingsCheckNamesTheFirstMissingSetting) {
  struct Case {
    const char* name;
    std::vector<std::pair<std::string, std::string>> stored;
    std::string message;
    bool chargeKept;  // "ScannerAutoCharge" is switched off only without a server address
  };
  const Case cases[] = {
      {"nothing stored", {}, "Please check your settings before login.", false},
      {"empty server", {{"serverIP", ""}, {"divisionCode", "01"}, {"terms", "[]"}},
       "Please check your settings before login.", false},
      {"no division", {{"serverIP", "10.0.0.1"}, {"terms", "[]"}},
       "Please check your settings before login.\n You must select Company Division!", true},
      {"no server lists", {{"serverIP", "10.0.0.1"}, {"divisionCode", "01"}},
       "Please check your settings before login.\n You must request Orvo Settings!", true},
  };
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    LoginScreensHarness t;
    t.defaults().setBool("ScannerAutoCharge", true);
    for (auto& [k, v] : c.stored) t.defaults().setString(k, v);
    t.launch();
    ASSERT_TRUE(t.waitForAlert(c.message));
    EXPECT_TRUE(t.login->settingErrorFlag());
    EXPECT_EQ(t.defaults().boolForKey("ScannerAutoCharge"), c.chargeKept);
    EXPECT_EQ(t.login->adminPw(), "q73");
    EXPECT_TRUE(t.defaults().objectForKey("adminPw").is_null());  // the default is never written
    // The OK shows the scanner status and clears the flag.
    ASSERT_TRUE(t.h->pressAlertButton("OK"));
    EXPECT_FALSE(t.login->settingErrorFlag());
    EXPECT_EQ(t.login->scannerStatusLabel()->text(), "Scanner was disconnected");
  }
}

TEST(LoginScreen, WifiChangesSaveAndRestoreProfilesWithTheirMessages) {
  struct Case {
    const char* name;
    std::optional<WifiNetwork> network;
    std::optional<std::string> message;
    std::string serverAfter;
  };
  const Case cases[] = {
      {"no wifi", std::nullopt, "Please check your Wifi connection.", "10.0.0.1"},
      {"first network ever", kShopA, std::nullopt, "10.0.0.1"},
      {"new network", kShopB,
       "Your iPod has been connected to new Wifi.\nPlease check your OrvoMobile settings before login.", "10.0.0.1"},
      {"back to a known network", kShopA,
       "Your Wifi connection has been changed.\n Previous Settings has been automatically loaded. Please check your "
       "OrvoMobile setting before login.",
       "10.0.0.9"},
  };
  // Each start runs on the defaults the one before left, like restarts of one device.
  nlohmann::json carried = nlohmann::json::object();
  for (auto& c : cases) {
    SCOPED_TRACE(c.name);
    LoginScreensHarness t;
    for (auto& [k, v] : carried.items()) t.defaults().setObject(k, v);
    if (carried.empty()) {
      t.defaults().setString("serverIP", "10.0.0.1");
      t.defaults().setString("divisionCode", "01");
      t.defaults().setString("terms", "[]");
    }
    if (c.name == std::string("back to a known network")) {
      // Shop A's profile holds another server than the one in force.
      auto profiles = *t.defaults().dictionaryForKey("SettingsByBSSID");
      profiles[*kShopA.bssid]["serverIP"] = "10.0.0.9";
      t.defaults().setObject("SettingsByBSSID", profiles);
    }
    t.network()->setWifi(c.network);
    t.launch();
    if (c.message) {
      ASSERT_TRUE(t.waitForAlert(*c.message));
    } else {
      EXPECT_TRUE(t.alertMessages().empty());
      EXPECT_FALSE(t.login->settingErrorFlag());
    }
    EXPECT_EQ(t.defaults().stringForKey("serverIP"), c.serverAfter);
    carried = t.defaults().dictionaryRepresentation();
  }
  EXPECT_EQ(carried["SettingsByBSSID"].size(), 2u);
}

TEST(LoginScreen, WrongPasswordShowsTheServersMessageAndStoresNothing) {
  LoginScreensHarness t;
  ASSERT_TRUE(t.started);
  t.storeServer(true);
  t.launch();
  typeCredentials(t, "demo", "nope");
  ASSERT_TRUE(t.waitForRequests());
  EXPECT_EQ(t.alertMessages(), std::vector<std::string>{"Invalid user name or password."});
  EXPECT_TRUE(t.defaults().objectForKey("userId").is_null());
  EXPECT_TRUE(t.defaults().objectForKey("userPassword").is_null());
  // Only the alert covers the login screen.
  EXPECT_NE(dynamic_cast<ui::AlertController*>(t.login->navigationController()->presentedViewController()), nullptr);
  // What went to the server: the eight parameters in order, the division from the settings.
  auto calls = t.server.received("AuthenticateUser");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].param("userName"), "demo");
  EXPECT_EQ(calls[0].param("division"), "01");
  EXPECT_EQ(calls[0].param("orvomobile_version"), "3.5.2");
}

TEST(LoginScreen, RightPasswordStoresCredentialsAppliesOptionsAndPresentsTheNextScreen) {
  struct Case {
    std::string user, password, nextScreen;
    bool lineSheet;
    double discount;
    int priceEditLevel;
  };
  // "picker" has a password with XML's special characters; it must arrive as typed.
  const Case cases[] = {{"demo", "demo", "SoOrderTypeViewController", true, 5.0, 2},
                        {"picker", "p&<ck>", "MainMenuViewController", false, 0.0, 0}};
  for (auto& c : cases) {
    SCOPED_TRACE(c.user);
    LoginScreensHarness t;
    t.storeServer(true);
    t.defaults().setString("divisionCode", "02");
    t.launch();
    t.app.delegate->settings().isLineSheetMode = !c.lineSheet;
    typeCredentials(t, c.user, c.password);
    ASSERT_TRUE(t.waitForRequests());
    EXPECT_TRUE(t.alertMessages().empty());
    EXPECT_EQ(t.defaults().stringForKey("userId"), c.user);
    EXPECT_EQ(t.defaults().stringForKey("userPassword"), c.password);
    auto& so = t.app.delegate->globalSO();
    EXPECT_EQ(so.loginID, c.user);
    EXPECT_EQ(so.priceEditLevel, c.priceEditLevel);
    EXPECT_EQ(so.divisionCode, "02");
    auto& s = t.app.delegate->settings();
    EXPECT_EQ(s.isLineSheetMode, c.lineSheet);
    EXPECT_EQ(s.showOrderDiscountRateFromServer, c.discount);
    EXPECT_EQ(s.isPickScanVerification, true);
    ASSERT_NE(t.topScreen(), t.login.get());
    EXPECT_EQ(t.topScreen()->nibName(), c.nextScreen);
  }
}

TEST(LoginScreen, AutoLoginRunsOnEachAppearanceUntilTheFirstLogout) {
  LoginScreensHarness t;
  t.storeServer(true);
  t.defaults().setBool("AutoLogin", true);
  t.defaults().setString("userId", "demo");
  t.defaults().setString("userPassword", "demo");
  t.launch();
  ASSERT_TRUE(t.waitForRequests());
  ASSERT_EQ(t.server.received("AuthenticateUser").size(), 1u);
  EXPECT_TRUE(t.alertMessages().empty());
  EXPECT_EQ(t.topScreen()->nibName(), "SoOrderTypeViewController");

  // The order type screen's back button: no logout, so the login runs again at once.
  t.login->navigationController()->dismissViewControllerAnimated(false);
  ASSERT_TRUE(t.waitForRequests());
  EXPECT_EQ(t.server.received("AuthenticateUser").size(), 2u);
  EXPECT_EQ(t.topScreen()->nibName(), "SoOrderTypeViewController");

  // A logout: the screen waits for the user, with an empty password field.
  t.app.delegate->initFlag();
  t.login->navigationController()->dismissViewControllerAnimated(false);
  t.app.drain();
  EXPECT_EQ(t.server.received("AuthenticateUser").size(), 2u);
  EXPECT_EQ(t.topScreen(), t.login.get());
  EXPECT_EQ(t.login->passwordTextField()->text(), "");
  EXPECT_EQ(t.login->usernameTextField()->text(), "demo");
}

TEST(LoginScreen, EachAppearanceEmptiesThePictureCache) {
  namespace fs = std::filesystem;
  LoginScreensHarness t;
  t.storeServer(true);
  const fs::path folder = ui::WebImageLoader::shared().diskFolder();
  // The shared loader keeps the folder of the first test that used it in this process (an
  // earlier test's, since removed, when the tests run in one process): what is made for it
  // here goes when the test ends.
  fs::path made = folder;
  while (!made.parent_path().empty() && !fs::exists(made.parent_path())) made = made.parent_path();
  struct Remove {
    fs::path path;
    bool existed;
    ~Remove() {
      std::error_code ec;
      if (!existed) fs::remove_all(path, ec);
    }
  } remove{made, fs::exists(made)};
  fs::create_directories(folder);
  const auto cachePicture = [&] { std::ofstream(folder / "style-front.jpg") << "cached picture"; };
  cachePicture();
  t.launch();
  ASSERT_TRUE(t.app.runUntil([&] { return fs::is_empty(folder); }));

  // Back from the next screen (the settings, behind the administrator password): emptied again.
  cachePicture();
  ASSERT_TRUE(t.h->tap(t.h->findLabel("Settings"))) << t.h->dump();
  t.h->typeText("q73");
  ASSERT_TRUE(t.h->pressAlertButton("OK")) << t.h->dump();
  t.app.drain();
  ASSERT_NE(dynamic_cast<SettingsViewController*>(t.topScreen()), nullptr) << t.h->dump();
  ASSERT_FALSE(fs::is_empty(folder)) << "the picture is still there while the settings show";
  ASSERT_TRUE(t.h->tap(t.h->findLabel("Back"))) << t.h->dump();
  EXPECT_TRUE(t.app.runUntil([&] { return fs::is_empty(folder); }));
}

TEST(LoginScreen, AutoLoginGoesAheadBesideASettingsAlert) {
  // No Wi-Fi: the settings check warns, and the automatic login is sent all the same; its
  // success takes the warning away and shows the next screen.
  LoginScreensHarness t;
  t.storeServer(true);
  t.defaults().setBool("AutoLogin", true);
  t.defaults().setString("userId", "demo");
  t.defaults().setString("userPassword", "demo");
  t.network()->setWifi(std::nullopt);
  t.server.setFault("AuthenticateUser", backoffice::Fault::held());
  t.launch();
  ASSERT_TRUE(t.waitForAlert("Please check your Wifi connection."));
  EXPECT_TRUE(t.login->settingErrorFlag());
  // The login is under way beside it.
  ASSERT_TRUE(t.app.runUntil([&] { return t.server.heldCount() == 1; }));
  EXPECT_TRUE(t.app.delegate->isActivityViewerShown());
  t.server.releaseHeld();
  ASSERT_TRUE(t.waitForRequests());
  EXPECT_EQ(t.server.received("AuthenticateUser").size(), 1u);
  ASSERT_TRUE(t.app.runUntil([&] { return t.topScreen()->nibName() == "SoOrderTypeViewController"; }));
  t.app.drain();
  EXPECT_TRUE(t.alertMessages().empty());
  EXPECT_EQ(t.topScreen()->nibName(), "SoOrderTypeViewController");
  EXPECT_EQ(t.app.delegate->globalSO().loginID, "demo");
}

TEST(LoginScreen, UpdateAnswerOpensTheInstallationLinkAndEndsWithoutStoringAnything) {
  LoginScreensHarness t;
  t.storeServer(true);
  t.server.withState([](backoffice::State& s) {
    for (auto& u : s.catalogue.users)
      if (u["userName"] == "demo") u["requiredVersion"] = "4.0.1";
  });
  t.launch();
  typeCredentials(t, "demo", "demo");
  ASSERT_TRUE(t.app.runUntil([&] { return !t.app.exitStatuses.empty(); }));
  t.app.drain();
  auto& opened = ui::Application::shared().openedURLs();
  ASSERT_EQ(opened.size(), 1u);
  EXPECT_EQ(opened[0],
            "itms-services://?action=download-manifest&amp;url=https://update.orvomobile.example/orvomobile/plist/"
            "orvomobile_4_0_1.plist");
  EXPECT_EQ(t.app.exitStatuses, std::vector<int>{0});
  EXPECT_EQ(t.sleeps, std::vector<double>{2.0});
  EXPECT_TRUE(t.defaults().objectForKey("userId").is_null());
  EXPECT_EQ(t.app.delegate->globalSO().loginID, "");
  EXPECT_FALSE(t.app.delegate->settings().isLineSheetMode);
  EXPECT_EQ(t.topScreen(), t.login.get());
}

TEST(LoginScreen, AShortServerAddressStillLetsTheUserLogIn) {
  LoginScreensHarness t;
  t.storeServer(true);
  // An address shorter than six characters (127.1 is 127.0.0.1): the client address is
  // sent empty and the login goes ahead.
  t.defaults().setString("serverIP", "127.1");
  t.network()->setAddresses({{"wlan0", "127.0.0.7"}});
  t.launch();
  typeCredentials(t, "demo", "demo");
  ASSERT_TRUE(t.waitForRequests());
  EXPECT_TRUE(t.alertMessages().empty());
  auto calls = t.server.received("AuthenticateUser");
  ASSERT_EQ(calls.size(), 1u);
  EXPECT_EQ(calls[0].param("clientIp"), "");
  EXPECT_EQ(t.topScreen()->nibName(), "SoOrderTypeViewController");
}

TEST(LoginScreen, AdministratorLockAcceptsThePasswordInForceAndTheMasterPassword) {
  LoginScreensHarness t;
  t.storeServer(true);
  t.launch();
  auto enter = [&](const std::string& password, const std::string& action) {
    EXPECT_TRUE(t.h->tap(t.h->findLabel("Settings"))) << t.h->dump();
    auto* alert = dynamic_cast<ui::AlertController*>(t.login->navigationController()->presentedViewController());
    EXPECT_NE(alert, nullptr);
    if (!alert) return;
    EXPECT_EQ(alert->message(), "Enter Administration Password");
    t.h->typeText(password);
    EXPECT_TRUE(t.h->pressAlertButton(action));
    t.app.drain();
  };
  auto closeSettings = [&] {
    auto* settings = dynamic_cast<SettingsViewController*>(t.topScreen());
    ASSERT_NE(settings, nullptr);
    ASSERT_TRUE(t.h->tap(t.h->findLabel("Back"))) << t.h->dump();
    t.app.drain();
  };
  struct Case {
    std::string password;
    bool opens;
  };
  for (const Case& c : {Case{"q73", true}, Case{"rv27hold", true}, Case{"Q73", false}, Case{"", false}}) {
    SCOPED_TRACE(c.password);
    enter(c.password, "OK");
    if (c.opens) {
      EXPECT_EQ(t.topScreen()->nibName(), "SettingsView");
      closeSettings();
    } else {
      EXPECT_EQ(t.alertMessages(), std::vector<std::string>{"invalid password!"});
      t.h->pressAlertButton("OK");
    }
  }

  // Change: the new password is stored only when both entries match.
  auto change = [&](const std::string& current, const std::string& pw1, const std::string& pw2) {
    enter(current, "Change");
    auto* alert = dynamic_cast<ui::AlertController*>(t.login->navigationController()->presentedViewController());
    ASSERT_NE(alert, nullptr);
    ASSERT_EQ(alert->textFields().size(), 2u);
    ASSERT_TRUE(t.h->type(alert->textFields()[0].get(), pw1));
    ASSERT_TRUE(t.h->type(alert->textFields()[1].get(), pw2));
    ASSERT_TRUE(t.h->pressAlertButton("OK"));
    t.app.drain();
  };
  change("q73", "abc", "abd");
  EXPECT_EQ(t.alertMessages(), std::vector<std::string>{"Please make sure your passwords match."});
  t.h->pressAlertButton("OK");
  EXPECT_TRUE(t.defaults().objectForKey("adminPw").is_null());
  change("rv27hold", "abc", "abc");
  EXPECT_EQ(t.alertMessages(), std::vector<std::string>{"Administrator's password has been saved successfully."});
  t.h->pressAlertButton("OK");
  EXPECT_EQ(t.defaults().stringForKey("adminPw"), "abc");
  EXPECT_EQ(t.login->adminPw(), "abc");

  // At once, without leaving the screen: the old default no longer opens.
  enter("q73", "OK");
  EXPECT_EQ(t.alertMessages(), std::vector<std::string>{"invalid password!"});
  t.h->pressAlertButton("OK");
  enter("abc", "OK");
  EXPECT_EQ(t.topScreen()->nibName(), "SettingsView");
  closeSettings();
  // Cancel on the new-password prompt changes nothing.
  enter("abc", "Change");
  auto* prompt = dynamic_cast<ui::AlertController*>(t.login->navigationController()->presentedViewController());
  ASSERT_NE(prompt, nullptr);
  ASSERT_TRUE(t.h->pressAlertButton("Cancel"));
  EXPECT_EQ(t.defaults().stringForKey("adminPw"), "abc");
}


TEST(LoginScreen, ScannerStatusLineAndAutomaticChargeFollowTheBattery) {
  struct Case {
    int battery;
    bool autoCharge;
    const char* charging;  // the last charging call
    bool alert;
  };
  const Case cases[] = {{81, true, "setCharging:1", false},
                        {80, true, "setCharging:0", true},
                        {95, false, "setCharging:0", false}};
  for (auto& c : cases) {
    SCOPED_TRACE(c.battery);
    LoginScreensHarness t;
    t.storeServer(true);
    t.defaults().setBool("ScannerAutoCharge", c.autoCharge);
    t.app.devices->setBattery(true, c.battery);
    t.launch();
    t.app.delegate->scanner().conn = CONN_CONNECTED;
    t.login->displayScannerState();
    EXPECT_EQ(t.login->scannerStatusLabel()->text(),
              "Scanner was connected | Scanner Battery : " + std::to_string(c.battery) + "%");
    EXPECT_EQ(t.login->scannerStatusLabel()->textColor(), ui::Color::green());
    std::string last;
    for (auto& call : t.app.devices->calls())
      if (call.rfind("setCharging:", 0) == 0) last = call;
    EXPECT_EQ(last, c.charging);
    const auto messages = t.alertMessages();
    EXPECT_EQ(std::find(messages.begin(), messages.end(),
                        "Scanner automatic charge mode was disabled.\nIt needs more than 80% scanner battery.") !=
                  messages.end(),
              c.alert);
    EXPECT_EQ(t.defaults().boolForKey("ScannerAutoCharge"), c.autoCharge);  // the setting stays
  }
  // The sleeve's button: yellow "updating" line, then the state after a second.
  foundation::ScopedManualClock clock;
  LoginScreensHarness t;
  t.storeServer(true);
  t.launch();
  t.app.devices->raiseButtonPressed(0);
  t.app.drain();
  EXPECT_EQ(t.login->scannerStatusLabel()->text(), "Updating scanner status..");
  EXPECT_EQ(t.login->scannerStatusLabel()->textColor(), ui::Color::yellow());
  t.h->advance(std::chrono::milliseconds(1000));
  EXPECT_EQ(t.login->scannerStatusLabel()->text(), "Scanner was disconnected");
  EXPECT_EQ(t.login->scannerStatusLabel()->textColor(), ui::Color::red());
}
