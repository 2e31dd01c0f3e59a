// A sleeve firmware file flashed end to end: through the facade and the device API into the
// simulated sleeve's boot loader, which restarts as the new firmware.

#include <gtest/gtest.h>

#include <cstring>

#include <nlohmann/json.hpp>

#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/device/OKTKXDevices.h"
#include "sdk/device/PellanSleeve.h"
#include "sdk/sleeve/PellanModulesFixture.h"
#include "testing/devices/base/JoiningThread.h"
#include "testing/devices/sleeve/SleeveModules.h"

namespace kestra::testing {
namespace {

class ProgressDelegate : public RecordingDelegate {
 public:
  using RecordingDelegate::RecordingDelegate;
  void firmwareUpdateProgress(int phase, int percent) override {
    record("firmwareUpdateProgress:" + std::to_string(phase) + ":" + std::to_string(percent), false);
  }
};

TEST(KXDevicesSleeveFirmware, AFileIsFlashedThroughTheFacadeAndTheSleeveComesBackAsIt) {
  devices::SleeveTestBench bench(sleeveWith(devices::SimulatedEngine::Family::Code, "CBCM", "2.63"));
  auto api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get()));
  auto facade = OKTKXDevices::create(api, std::make_shared<KXChargingCaseStandIn>(),
                                     std::make_shared<KXDeviceAgentStandIn>());
  auto log = std::make_shared<CallLog>();
  auto app = std::make_shared<ProgressDelegate>(
      log, "app", std::vector<std::string_view>{kxsel::connectionState, kxsel::firmwareUpdateProgress});
  facade->addDelegate(app);
  const Bytes file = devices::SleeveModules::firmwareImage(2000, "CBCM", 2, 75);

  // Nothing connected: the file is still read, the update is refused.
  auto info = facade->getFirmwareFileInformation(file);
  ASSERT_TRUE(info);
  EXPECT_EQ(info->at("firmwareRevision"), "2.75.00");
  EXPECT_EQ(info->at("deviceName"), "Pellan Pro");
  Error e;
  EXPECT_FALSE(facade->updateFirmwareData(file, &e));
  EXPECT_EQ(e.code, -20);
  EXPECT_FALSE(facade->getFirmwareFileInformation(Bytes(600, 0x00), &e));
  EXPECT_EQ(e.code, -20);

  ASSERT_TRUE(bench.sleeve->attach());
  facade->connect();
  ASSERT_TRUE(bench.runUntil([&] { return api->connstate() == 2 && log->count("app:connectionState:2") == 1; }));
  EXPECT_EQ(api->firmwareRevision(), "2.63.0");

  foundation::ScopedManualClock clock;
  ClockPump pump(*clock);
  std::atomic<bool> done{false};
  bool ok = false;
  {
    devices::JoiningThread update([&] {
      ok = facade->updateFirmwareData(file, &e);
      done = true;
    });
    ASSERT_TRUE(bench.runUntil([&] { return done.load(); }));
  }
  ASSERT_TRUE(ok) << e.text;
  // The progress lines (the sleeve's restart may already have been announced among them).
  std::vector<std::string> progress;
  for (const auto& l : log->lines())
    if (l.rfind("app:firmwareUpdateProgress:", 0) == 0) progress.push_back(l);
  EXPECT_EQ(std::count_if(progress.begin(), progress.end(),
                          [](const std::string& l) { return l.rfind("app:firmwareUpdateProgress:2:", 0) == 0; }),
            16);  // 2000 bytes in 128-byte pages
  ASSERT_FALSE(progress.empty());
  EXPECT_EQ(progress.back(), "app:firmwareUpdateProgress:3:100");
  ASSERT_TRUE(bench.runUntil([&] { return api->connstate() == 2 && api->firmwareRevision() == "2.75.0"; }));
  Bytes flash = bench.sleeve->withProtocol([](devices::SleeveProtocol& p) { return p.passThrough.flash; });
  flash.resize(file.size(), 0xFF);
  EXPECT_EQ(flash, file);
}

}  // namespace
}  // namespace kestra::testing
