// The main menu reached the way a user reaches it: a scan-pack user logs in on the login
// screen against the back office on loopback, and the menu is tapped through the window.
#include "app/core/MainMenuViewController.h"

#include <gtest/gtest.h>

#include "testing/app/LoginScreensTestSupport.h"
#include "platform/foundation/Clock.h"

namespace orvo {
namespace {

using namespace std::chrono_literals;
using test_support::LoginScreensHarness;

class MainMenuRoad : public ::testing::Test {
 protected:
  // "picker" is a scan-pack user: the login answer leads to the main menu. Automatic login
  // and a one-minute inactivity time-out are on.
  void SetUp() override {
    ASSERT_TRUE(t.started);
    t.storeServer(true);
    t.defaults().setBool("AutoLogin", true);
    t.defaults().setString("userId", "picker");
    t.defaults().setString("userPassword", "p&<ck>");
    t.defaults().setBool("timeOutFunc", true);
    t.defaults().setString("timeOut", "1");
    t.launch();
    ASSERT_TRUE(t.waitForRequests());
    menu = dynamic_cast<MainMenuViewController*>(t.topScreen());
    ASSERT_NE(menu, nullptr);
    t.app.delegate->window->layoutIfNeeded();
  }
  int logins() { return int(t.server.received("AuthenticateUser").size()); }
  bool timeOutWarningShown() {
    for (const auto& a : t.app.alerts())
      if (a.tag == kTimeOutAlertTag) return true;
    return false;
  }

  foundation::ScopedManualClock clock;
  LoginScreensHarness t;
  MainMenuViewController* menu = nullptr;
};

TEST_F(MainMenuRoad, ModeButtonsSetTheFlagAndOpenTheirScreens) {
  EXPECT_EQ(menu->title(), "Main Menu");
  EXPECT_EQ(logins(), 1);

  ASSERT_TRUE(t.h->tapText("Pick"));
  EXPECT_TRUE(t.app.delegate->settings().isScanPackMode);
  ASSERT_NE(t.topScreen(), menu);
  EXPECT_EQ(t.topScreen()->nibName(), "CustomerView");
  // Back from the customer screen to the menu (the customer screen's own back).
  menu->navigationController()->dismissViewControllerAnimated(false);
  t.app.drain();
  ASSERT_EQ(t.topScreen(), menu);
  t.app.delegate->window->layoutIfNeeded();

  ASSERT_TRUE(t.h->tapText("Sales Order"));
  EXPECT_FALSE(t.app.delegate->settings().isScanPackMode);
  EXPECT_EQ(t.topScreen()->nibName(), "SoOrderTypeViewController");
  menu->navigationController()->dismissViewControllerAnimated(false);
  t.app.drain();
  t.app.delegate->window->layoutIfNeeded();

  ASSERT_TRUE(t.h->tapText("Scan Pack"));
  EXPECT_TRUE(t.app.delegate->settings().isScanPackMode);
  EXPECT_EQ(t.topScreen(), menu);  // the flag only
  EXPECT_EQ(logins(), 1);          // the login screen stayed covered throughout
}

TEST_F(MainMenuRoad, LogoutReturnsToTheLoginScreenWhichThenWaitsForTheUser) {
  auto& so = t.app.delegate->globalSO();
  so.customerID = "C1001";
  so.manualBarcode = "0001";
  ASSERT_TRUE(t.app.delegate->isTimeOutArmed());  // armed by the login

  // "No" keeps everything as it was.
  ASSERT_TRUE(t.h->tap(t.h->findLabel("Logout")));
  ASSERT_NE(t.h->topAlert(), nullptr);
  EXPECT_EQ(t.app.alerts().at(0).title, "Orvo Mobile");
  EXPECT_EQ(t.app.alerts().at(0).message, "Do you wish to logout?");
  ASSERT_TRUE(t.h->pressAlertButton("No"));
  t.app.drain();
  EXPECT_EQ(t.topScreen(), menu);
  EXPECT_EQ(so.customerID, "C1001");
  EXPECT_FALSE(t.app.delegate->settings().logoutFlag);
  EXPECT_TRUE(t.app.delegate->isTimeOutArmed());

  // "Yes": the order state is reset, the time-out ends, and the login screen comes back
  // without logging in again on its own.
  t.app.delegate->window->layoutIfNeeded();
  ASSERT_TRUE(t.h->tap(t.h->findLabel("Logout")));
  ASSERT_TRUE(t.h->pressAlertButton("Yes"));
  t.app.drain();
  EXPECT_EQ(t.topScreen(), t.login.get());
  EXPECT_TRUE(t.app.delegate->settings().logoutFlag);
  EXPECT_EQ(so.customerID, "");
  EXPECT_EQ(so.manualBarcode, "");
  EXPECT_EQ(so.loginID, "picker");  // not an order field: kept
  EXPECT_FALSE(t.app.delegate->isTimeOutArmed());
  t.h->advance(5min);
  EXPECT_FALSE(timeOutWarningShown());
  EXPECT_TRUE(t.app.exitStatuses.empty());
  EXPECT_EQ(logins(), 1);
  EXPECT_EQ(t.login->passwordTextField()->text(), "");
}

}  // namespace
}  // namespace orvo
