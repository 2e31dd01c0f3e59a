#include "app/core/OrvoMobileAppDelegate.h"

#include <gtest/gtest.h>

#include <thread>

#include "app/core/AppNames.h"
#include "testing/app/AppTestSupport.h"
#include "app/core/UserDefaultsKeys.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/ui/Button.h"

namespace orvo {
namespace {

using foundation::Notification;
using foundation::NotificationCenter;

// Records the application notifications and the thread they arrived on.
struct Recorder {
  Recorder() {
    for (const char* name : {kChangeBarcode, kBtnPressed, kGetScannerStatus, kGetMagneticCardData})
      NotificationCenter::defaultCenter().addUniqueObserver(this, name, nullptr, [this](const Notification& n) {
        seen.push_back(n);
        onMain.push_back(foundation::MainQueue::isMainThread());
      });
  }
  ~Recorder() { NotificationCenter::defaultCenter().removeObserver(this); }
  std::vector<Notification> seen;
  std::vector<bool> onMain;
};

class AppDelegateTest : public ::testing::Test {
 protected:
  test_support::AppHarness app;
};

TEST_F(AppDelegateTest, LaunchCreatesRecordsRegistersAgentAndConnectsFacade) {
  app.delegate->globalSO().printerNum = 7;  // launch resets the records
  app.launch();
  EXPECT_EQ(app.agentRegistrations, 1);
  EXPECT_EQ(app.devices->calls(),
            (std::vector<std::string>{"addDelegate", "disconnect", "connect"}));
  EXPECT_EQ(app.devices->delegateCount(), 1u);
  auto& uiApp = ui::Application::shared();
  EXPECT_TRUE(uiApp.isIdleTimerDisabled());
  EXPECT_TRUE(uiApp.applicationSupportsShakeToEdit());
  EXPECT_EQ(uiApp.statusBarStyle(), ui::StatusBarStyle::LightContent);
  EXPECT_EQ(app.delegate->window->rootViewController(), app.delegate->navigationController);
  EXPECT_EQ(OrvoMobileAppDelegate::shared(), app.delegate.get());
  EXPECT_EQ(app.delegate->globalSO().printerNum, 1);
  EXPECT_FALSE(app.delegate->settings().logoutFlag);
  EXPECT_EQ(app.delegate->activityWheel()->frame(), ui::Rect(140, 266, 44, 44));
  EXPECT_EQ(app.delegate->timerLabel()->frame(), ui::Rect(0, 73, 320, 100));
}

TEST_F(AppDelegateTest, FacadeEventsFromAnotherThreadArePostedOnTheMainQueue) {
  foundation::ScopedManualClock clock;
  app.launch();
  Recorder rec;
  app.devices->setFinancialCard(nlohmann::json{{"accountNumber", "4111111111111111"},
                                               {"expirationMonth", "09"},
                                               {"expirationYear", "27"}});
  std::thread sdk([&] {
    app.devices->raiseBarcode("0123 ABC", 3);
    app.devices->raiseButtonPressed(0);
    app.devices->raiseButtonReleased(0);
    app.devices->raiseCard("%B4111111111111111^^2709?", ";4111111111111111=2709?", std::nullopt);
    app.devices->raiseConnectionState(CONN_CONNECTED);
  });
  sdk.join();
  EXPECT_TRUE(rec.seen.empty());  // nothing reaches observers off the main thread
  ASSERT_TRUE(app.runUntil([&] { return rec.seen.size() == 3; }));
  app.drain();
  ASSERT_EQ(rec.seen.size(), 3u);
  for (bool m : rec.onMain) EXPECT_TRUE(m);

  EXPECT_EQ(rec.seen[0].name, kChangeBarcode);
  EXPECT_EQ(rec.seen[0].userInfo, (nlohmann::json{{"lastBarcode", "0123 ABC"}}));
  EXPECT_EQ(rec.seen[1].name, kBtnPressed);
  EXPECT_EQ(rec.seen[1].userInfo, (nlohmann::json{{"btnPressed", "btnPressed"}}));
  EXPECT_EQ(rec.seen[2].name, kGetMagneticCardData);
  // Only the keys that have values: no card holder name here.
  EXPECT_EQ(rec.seen[2].userInfo, (nlohmann::json{{"track1", "%B4111111111111111^^2709?"},
                                                  {"track2", ";4111111111111111=2709?"},
                                                  {"lastCardNumber", "4111111111111111"},
                                                  {"lastExpDate", "09/27\n"}}));
  EXPECT_EQ(app.delegate->scanner().conn, CONN_CONNECTED);

  // The scanner status follows the connection the facade reported.
  app.delegate->startMS();
  clock->advance(std::chrono::milliseconds(500));
  ASSERT_TRUE(app.runUntil([&] { return rec.seen.size() == 4; }));
  EXPECT_EQ(rec.seen[3].name, kGetScannerStatus);
  EXPECT_EQ(rec.seen[3].userInfo, (nlohmann::json{{"connState", "True"}}));

  auto sounds = app.devices->sounds();
  ASSERT_EQ(sounds.size(), 1u);
  EXPECT_FALSE(sounds[0].isScanBeep);
  EXPECT_EQ(sounds[0].volume, 100);
  EXPECT_EQ(sounds[0].length, 24);
  EXPECT_EQ(sounds[0].tones, (std::vector<int32_t>{2730, 150, 0, 30, 2730, 150}));
}

TEST_F(AppDelegateTest, SwipeKeysFollowWhatTheCardYields) {
  app.launch();
  struct Case {
    const char* name;
    std::optional<nlohmann::json> card;
    nlohmann::json expected;  // besides the tracks
  };
  const std::vector<Case> cases = {
      {"not a financial card", std::nullopt, nlohmann::json::object()},
      {"name, number and expiry",
       nlohmann::json{{"cardholderName", "DOE/JANE"}, {"accountNumber", "5500"},
                      {"expirationMonth", "12"}, {"expirationYear", "30"}},
       {{"lastCardName", "DOE/JANE"}, {"lastCardNumber", "5500"}, {"lastExpDate", "12/30\n"}}},
      // A month without a year is no expiry (never "12/(null)").
      {"month without year", nlohmann::json{{"accountNumber", "5500"}, {"expirationMonth", "12"}},
       {{"lastCardNumber", "5500"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    Recorder rec;
    app.devices->setFinancialCard(c.card);
    app.devices->raiseCard("T1", std::nullopt);
    ASSERT_TRUE(app.runUntil([&] { return !rec.seen.empty(); }));
    nlohmann::json expected = c.expected;
    expected["track1"] = "T1";
    EXPECT_EQ(rec.seen[0].userInfo, expected);
  }
}

TEST_F(AppDelegateTest, DebugMessagesBecomeScansOrSwipes) {
  app.launch();
  Recorder rec;
  app.delegate->handleDebugMessage("12345678901234567890");   // 20 characters
  app.delegate->handleDebugMessage("%B12345678901234567890");  // 22 characters
  ASSERT_TRUE(app.runUntil([&] { return rec.seen.size() == 2; }));
  EXPECT_EQ(rec.seen[0].name, kChangeBarcode);
  EXPECT_EQ(rec.seen[1].name, kGetMagneticCardData);
  EXPECT_EQ(rec.seen[1].userInfo, (nlohmann::json{{"track1", "%B12345678901234567890"}}));
}

TEST_F(AppDelegateTest, StartMSPostsScannerStatusHalfASecondLaterUnlessDisconnected) {
  foundation::ScopedManualClock clock;
  app.launch();
  for (int state : {CONN_DISCONNECTED, CONN_CONNECTING, CONN_CONNECTED}) {
    SCOPED_TRACE(state);
    Recorder rec;
    app.devices->setConnState(state);
    app.delegate->startMS();
    clock->advance(std::chrono::milliseconds(499));
    app.drain();
    EXPECT_TRUE(rec.seen.empty());
    clock->advance(std::chrono::milliseconds(1));
    app.drain();
    if (state == CONN_DISCONNECTED) {
      EXPECT_TRUE(rec.seen.empty());
    } else {
      ASSERT_EQ(rec.seen.size(), 1u);
      EXPECT_EQ(rec.seen[0].userInfo, (nlohmann::json{{"connState", "True"}}));
    }
  }
}

TEST_F(AppDelegateTest, SleeveControlsAndTheirAlerts) {
  app.launch();
  // Charging is asked twice and the second answer counts.
  app.devices->queueChargingResults({false, true});
  EXPECT_TRUE(app.delegate->enableCharging(true));
  EXPECT_TRUE(app.alerts().empty());
  EXPECT_EQ(app.devices->scanButtonModes(), std::vector<int>{0});
  app.devices->queueChargingResults({true, false});
  EXPECT_FALSE(app.delegate->enableCharging(true));
  ASSERT_EQ(app.alerts().size(), 1u);
  EXPECT_EQ(app.alerts()[0].title, "SCANNER ERROR");
  EXPECT_EQ(app.alerts()[0].message, "Charging could not be enabled at the moment");
  EXPECT_EQ(app.alerts()[0].buttons, std::vector<std::string>{"Ok"});
  app.dismissAlerts();

  app.devices->setPassSyncResult(false, "Pass-through sync is not supported");
  EXPECT_FALSE(app.delegate->enablePassSync(true));
  ASSERT_EQ(app.alerts().size(), 1u);
  EXPECT_EQ(app.alerts()[0].message, "Pass-through sync is not supported");
  app.dismissAlerts();

  for (int capacity : {50, 49}) {
    app.devices->setBattery(true, capacity);
    app.delegate->updateBattery();
    EXPECT_EQ(app.delegate->scanner().bat, capacity);
  }
  ASSERT_EQ(app.alerts().size(), 1u);
  EXPECT_EQ(app.alerts()[0].message, "Scanner Battery Capacity : 49%\n Please charge and use.");
  app.dismissAlerts();
  app.devices->setBattery(false, 10);
  app.delegate->updateBattery();
  EXPECT_EQ(app.delegate->scanner().bat, 49);
  EXPECT_TRUE(app.alerts().empty());

  app.delegate->changeScanBeep(false);
  auto sounds = app.devices->sounds();
  ASSERT_EQ(sounds.size(), 2u);
  EXPECT_TRUE(sounds[0].isScanBeep);
  EXPECT_EQ(sounds[0].volume, 10);
  EXPECT_EQ(sounds[0].tones, (std::vector<int32_t>{200, 20}));
  EXPECT_EQ(sounds[1].length, 8);
}

TEST_F(AppDelegateTest, InitFlagResetsTheOrderStateOnly) {
  app.launch();
  auto& s = app.delegate->settings();
  auto& so = app.delegate->globalSO();
  s.isUpcSizeMode = true;
  s.duplicateSoFlag = true;
  s.realtimeSoFlag = true;
  so.customerID = "C1001";
  so.orderNumber = "SO1,SO2";
  so.orderDiscountRate = 5;
  so.loginID = "demo";
  so.lastOrderListArray.push_back({{"Barcode", "1"}});
  so.termsArray.push_back("NET30");
  app.delegate->initFlag();
  EXPECT_TRUE(s.logoutFlag);
  EXPECT_FALSE(s.duplicateSoFlag);
  EXPECT_TRUE(s.isUpcSizeMode);
  EXPECT_TRUE(s.realtimeSoFlag);
  EXPECT_EQ(so.customerID, "");
  EXPECT_EQ(so.orderNumber, "");
  EXPECT_EQ(so.orderDiscountRate, 0.0);
  EXPECT_TRUE(so.lastOrderListArray.empty());
  EXPECT_EQ(so.loginID, "demo");
  EXPECT_EQ(so.termsArray.size(), 1u);
}

TEST_F(AppDelegateTest, AutoSaveFuncDataInitClearsTheBackup) {
  app.launch();
  auto& d = app.fresh.defaults();
  d.setObject(defaults::backupOrderListArray, nlohmann::json::array({1}));
  d.setString(defaults::backupOrderNumber, "SO1");
  d.setBool(defaults::OrderProcessingFlag, true);
  d.setString(defaults::pDupNum, "SO9");
  d.setString(defaults::userId, "demo");
  app.delegate->globalSO().pDupNum = "SO9";
  app.delegate->AutoSaveFuncDataInit();
  foundation::UserDefaults reread(d.file());
  EXPECT_TRUE(reread.objectForKey(defaults::backupOrderListArray).is_null());
  EXPECT_EQ(reread.stringForKey(defaults::backupOrderNumber), "");
  EXPECT_FALSE(reread.boolForKey(defaults::OrderProcessingFlag));
  EXPECT_EQ(reread.stringForKey(defaults::pDupNum), "");
  EXPECT_EQ(reread.stringForKey(defaults::userId), "demo");
  EXPECT_EQ(app.delegate->globalSO().pDupNum, "");
}

TEST_F(AppDelegateTest, ActivityViewerKeepsItsFirstTextAndBlocksTouches) {
  app.launch();
  auto& window = *app.delegate->window;
  app.delegate->showActivityViewer("GetMethods");
  app.delegate->showActivityViewer("Other");
  EXPECT_TRUE(app.delegate->isActivityViewerShown());
  EXPECT_EQ(app.delegate->actLabelText()->text(), "GetMethods");
  EXPECT_TRUE(app.delegate->activityWheel()->isAnimating());
  ASSERT_NE(app.delegate->ovController(), nullptr);
  auto& overlay = app.delegate->ovController()->view();
  EXPECT_EQ(overlay.superview(), &window);
  EXPECT_EQ(overlay.alpha(), 0.5);
  // A tap on a button of the screen beneath reaches nothing while the viewer is up.
  auto button = ui::Button::make("Go", ui::Rect(100, 450, 120, 44));
  int taps = 0;
  button->addTarget(this, [&](ui::Control&) { ++taps; }, ui::TouchUpInside);
  app.root->view().addSubview(button);
  window.layoutIfNeeded();
  const ui::Point onButton = button->convertToWindow({60, 22});
  window.tap(onButton);
  EXPECT_EQ(taps, 0);

  app.delegate->hideActivityViewer();
  app.delegate->hideActivityViewer();
  EXPECT_FALSE(app.delegate->isActivityViewerShown());
  EXPECT_EQ(overlay.superview(), nullptr);
  EXPECT_EQ(app.delegate->activityWheel()->superview(), nullptr);
  window.layoutIfNeeded();
  window.tap(onButton);
  EXPECT_EQ(taps, 1);
}

}  // namespace
}  // namespace orvo
