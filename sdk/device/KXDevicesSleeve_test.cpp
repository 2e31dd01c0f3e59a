// The device API and the facade over the real sleeve driver and a simulated sleeve.

#include <gtest/gtest.h>

#include "platform/foundation/MainQueue.h"
#include "platform/foundation/RunLoop.h"
#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/device/OKTKXDevices.h"
#include "sdk/device/PellanSleeve.h"
#include "testing/devices/sleeve/SleeveTestBench.h"

namespace kestra::testing {
namespace {

class MainThreadDelegate : public RecordingDelegate {
 public:
  using RecordingDelegate::RecordingDelegate;
  std::atomic<bool> allMain{true};
  void barcodeData(const std::string& b, int t) override {
    if (!foundation::MainQueue::isMainThread()) allMain = false;
    RecordingDelegate::barcodeData(b, t);
  }
  void connectionState(int s) override {
    if (!foundation::MainQueue::isMainThread()) allMain = false;
    RecordingDelegate::connectionState(s);
  }
  void magneticCardData(const OptText& t1, const OptText& t2, const OptText& t3) override {
    if (!foundation::MainQueue::isMainThread()) allMain = false;
    RecordingDelegate::magneticCardData(t1, t2, t3);
  }
};

struct SleeveFixture {
  devices::SleeveTestBench bench;
  std::shared_ptr<KXDevices> api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get()));
  std::shared_ptr<OKTKXDevices> facade =
      OKTKXDevices::create(api, std::make_shared<KXChargingCaseStandIn>(), std::make_shared<KXDeviceAgentStandIn>());
  std::shared_ptr<CallLog> app = std::make_shared<CallLog>();
  std::shared_ptr<MainThreadDelegate> delegate = std::make_shared<MainThreadDelegate>(
      app, "app",
      std::vector<std::string_view>{kxsel::connectionState, kxsel::barcodeData_type, kxsel::magneticCardData,
                                    kxsel::magneticCardReadFailed_reason});

  SleeveFixture() { facade->addDelegate(delegate); }
  bool connect() {
    if (!bench.sleeve->attach()) return false;
    facade->connect();
    return bench.runUntil([&] { return api->connstate() == 2 && app->count("app:connectionState:2") == 1; },
                          std::chrono::milliseconds(10000));
  }
};

TEST(KXDevicesSleeve, RoutedCallsReachTheSimulatedSleeveAndFailOnceItIsGone) {
  SleeveFixture f;
  Error e;
  const int tone[] = {2730, 150};
  EXPECT_FALSE(f.api->playSound(100, tone, 8, &e));
  EXPECT_EQ(e.code, -20);

  ASSERT_TRUE(f.connect());
  EXPECT_EQ(f.facade->connstate(), 2);
  EXPECT_EQ(f.facade->deviceType(), 0);
  EXPECT_TRUE(f.facade->deviceName().has_value());
  EXPECT_TRUE(f.facade->barcodeSetScanButtonMode(1, &e)) << e.text;
  int mode = -1;
  EXPECT_TRUE(f.facade->barcodeGetScanButtonMode(&mode, &e)) << e.text;
  EXPECT_EQ(mode, 1);
  EXPECT_TRUE(f.facade->playSound(100, tone, 8, &e)) << e.text;
  ASSERT_TRUE(f.api->setActiveDeviceType(0));

  f.bench.sleeve->detach();
  // The driver goes back to waiting for a sleeve: the application sees "connecting".
  ASSERT_TRUE(f.bench.runUntil([&] { return f.api->connstate() != 2; }));
  EXPECT_EQ(f.app->lines().back(), "app:connectionState:1");
  EXPECT_EQ(f.api->activeDeviceType(), -1);
  EXPECT_FALSE(f.facade->playSound(100, tone, 8, &e));
  EXPECT_EQ(e.code, -20);
  EXPECT_TRUE(f.delegate->allMain.load());
}

TEST(KXDevicesSleeve, ABarcodeFromTheSleeveReachesTheFacadesDelegatesAsText) {
  SleeveFixture f;
  ASSERT_TRUE(f.connect());
  f.bench.sleeve->sendBarcode("4006381333931");
  ASSERT_TRUE(f.bench.runUntil([&] {
    for (const auto& l : f.app->lines())
      if (l.rfind("app:barcodeData:4006381333931:", 0) == 0) return true;
    return false;
  }));
  EXPECT_TRUE(f.delegate->allMain.load());
}

TEST(KXDevicesSleeve, ASwipeReachesTheFacadesDelegatesWithItsTracksOnTheMainQueue) {
  SleeveFixture f;
  ASSERT_TRUE(f.connect());
  f.bench.sleeve->swipe(std::string("%B4111111111111111^DOE/JOHN^25121010000?"),
                        std::string(";4111111111111111=25121010000?"));
  ASSERT_TRUE(f.bench.runUntil([&] {
    for (const auto& l : f.app->lines())
      if (l.rfind("app:magneticCardData:", 0) == 0) return true;
    return false;
  }));
  EXPECT_EQ(f.app->count("app:magneticCardData:%B4111111111111111^DOE/JOHN^25121010000?|"
                         ";4111111111111111=25121010000?|nil"),
            1u);
  // A swipe that read no track is a failed read (source 99, reason 'b'), not three empty tracks.
  f.bench.sleeve->swipe(std::nullopt, std::nullopt);
  ASSERT_TRUE(f.bench.runUntil([&] { return f.app->count("app:readFailed:99:98") == 1; }));
  EXPECT_EQ(f.app->count("app:magneticCardData:nil|nil|nil"), 0u);
  EXPECT_TRUE(f.delegate->allMain.load());
}


TEST(KXDevicesSleeve, ABluetoothPassKeyFromTheSleeveReachesTheFacadesDelegates) {
  struct PassKeyDelegate : KXDeviceDelegate {
    PassKeyDelegate() { implements({kxsel::bluetoothDevicePassKeySent}); }
    void bluetoothDevicePassKeySent(const std::string& address, const std::string& passKey) override {
      seen.push_back(address + "/" + passKey);
    }
    std::vector<std::string> seen;
  };
  SleeveFixture f;
  auto listener = std::make_shared<PassKeyDelegate>();
  f.facade->addDelegate(listener);
  f.bench.pellan->bluetoothDevicePassKeySent("00:11:22:33:44:55", "123456");
  ASSERT_TRUE(f.bench.runUntil([&] { return !listener->seen.empty(); }));
  EXPECT_EQ(listener->seen, std::vector<std::string>{"00:11:22:33:44:55/123456"});
}

}  // namespace
}  // namespace kestra::testing
