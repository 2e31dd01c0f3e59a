// The application over the SDK's facade and a simulated sleeve, end to end.

#include "app/core/KestraDevices.h"

#include <gtest/gtest.h>

#include "app/core/AppNames.h"
#include "testing/app/LoginScreensTestSupport.h"
#include "app/core/OrvoMobileAppDelegate.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "sdk/device/OKTKXDevices.h"
#include "sdk/device/PellanSleeve.h"
#include "testing/devices/sleeve/SleeveTestBench.h"

namespace orvo {
namespace {

TEST(KestraDevicesEndToEnd, SleeveShowsConnectedOnTheStatusLineAndItsBarcodeArrivesAsChangeBarcodeOnTheMainQueue) {
  devices::SleeveTestBench bench;
  auto api = kestra::KXDevices::create(kestra::makePellanDriverFactory(bench.pellan, bench.manager.get()));
  auto sdk = kestra::OKTKXDevices::create(api, std::make_shared<kestra::KXChargingCaseStandIn>(),
                                          std::make_shared<kestra::KXDeviceAgentStandIn>());
  test_support::LoginScreensHarness t;
  t.storeServer(true);
  OKTKXDevices::setShared(std::make_shared<KestraDevices>(sdk));
  ASSERT_TRUE(bench.sleeve->attach());

  // Started headless, the application connects the sleeve through the SDK.
  t.launch();
  ASSERT_TRUE(t.app.runUntil([&] { return t.app.delegate->scanner().conn == CONN_CONNECTED; }));

  // The sleeve's scan button refreshes the login screen's scanner status line a second later.
  foundation::ScopedManualClock clock;
  auto* status = t.login->scannerStatusLabel();
  ASSERT_NE(status, nullptr);
  bench.sleeve->pressButton(1 << 1 | 1);
  ASSERT_TRUE(t.app.runUntil([&] { return status->text() == "Updating scanner status.."; }));
  t.h->advance(std::chrono::milliseconds(1000));
  EXPECT_EQ(status->text().rfind("Scanner was connected | Scanner Battery : ", 0), 0u) << status->text();
  EXPECT_EQ(status->textColor(), ui::Color::green());

  // A code scanned by the sleeve reaches the application on the main queue.
  std::vector<std::string> barcodes;
  std::vector<bool> onMain;
  int observer = 0;
  foundation::NotificationCenter::defaultCenter().addObserver(
      &observer, kChangeBarcode, nullptr, [&](const foundation::Notification& n) {
        barcodes.push_back(n.userInfo.value(kLastBarcode, ""));
        onMain.push_back(foundation::MainQueue::isMainThread());
      });
  bench.sleeve->sendBarcode("4006381333931");
  EXPECT_TRUE(t.app.runUntil([&] { return !barcodes.empty(); }));
  foundation::NotificationCenter::defaultCenter().removeObserver(&observer);
  EXPECT_EQ(barcodes, std::vector<std::string>{"4006381333931"});
  EXPECT_EQ(onMain, std::vector<bool>{true});
}

}  // namespace
}  // namespace orvo
