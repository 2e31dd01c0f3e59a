// Device-wide settings through the facade, as an application sets them: the simulated
// sleeve (kiosk mode, pass-through sync, automatic power-off), the simulated pinpad
// (battery, charging, power-off, USB current, its firmware files) and fakes for the
// routing between devices.

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>

#include "sdk/device/KXDevicesPinpadFixture.h"
#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/device/OKTKXDevices.h"
#include "sdk/device/PellanSleeve.h"
#include "testing/devices/sleeve/SleeveTestBench.h"

namespace kestra::testing {
namespace {

struct SleeveFacade {
  devices::SleeveTestBench bench;
  std::shared_ptr<KXDevices> api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get()));
  std::shared_ptr<OKTKXDevices> facade =
      OKTKXDevices::create(api, std::make_shared<KXChargingCaseStandIn>(), std::make_shared<KXDeviceAgentStandIn>());
  bool connect() {
    if (!bench.sleeve->attach()) return false;
    facade->connect();
    return bench.runUntil([&] { return api->connstate() == 2; }, std::chrono::milliseconds(10000));
  }
  uint8_t kioskSetting() {
    return bench.sleeve->withProtocol([](devices::SleeveProtocol& p) { return p.settings[0x08].at(0); });
  }
  uint8_t syncMode() {
    return bench.sleeve->withProtocol([](devices::SleeveProtocol& p) { return p.syncButtonMode; });
  }
};

TEST(KXDevicesSettings, KioskModeAndPassThroughSyncExcludeEachOtherOnTheSleeve) {
  SleeveFacade f;
  ASSERT_TRUE(f.connect());
  f.bench.sleeve->withProtocol([](devices::SleeveProtocol& p) {
    p.chargingState = 2;  // on a cable, where kiosk mode is allowed
    p.syncButtonMode = 1;
  });
  Error e;
  EXPECT_FALSE(f.facade->setKioskMode(true, &e));
  EXPECT_EQ(e.code, -21);
  EXPECT_EQ(e.text, "Kisok mode cannot be enabled at the same time as pass-through sync");
  EXPECT_EQ(f.kioskSetting(), 0);

  // Another sync-button mode does not stand in the way.
  f.bench.sleeve->withProtocol([](devices::SleeveProtocol& p) { p.syncButtonMode = 2; });
  ASSERT_TRUE(f.facade->setKioskMode(true, &e)) << e.text;
  EXPECT_EQ(f.kioskSetting(), 1);
  bool kiosk = false;
  EXPECT_TRUE(f.facade->getKioskMode(&kiosk, &e));
  EXPECT_TRUE(kiosk);

  e = Error();
  EXPECT_FALSE(f.facade->setPassThroughSync(true, &e));
  EXPECT_EQ(e.code, -21);
  EXPECT_EQ(e.text, "Pass-through sync cannot be enabled at the same time as kiosk mode");
  EXPECT_EQ(f.syncMode(), 2);

  // Switching either off is never refused.
  EXPECT_TRUE(f.facade->setPassThroughSync(false, &e)) << e.text;
  EXPECT_EQ(f.syncMode(), 0);
  EXPECT_TRUE(f.facade->setKioskMode(false, &e)) << e.text;
  EXPECT_TRUE(f.facade->setPassThroughSync(true, &e)) << e.text;
  EXPECT_EQ(f.syncMode(), 1);
}

TEST(KXDevicesSettings, TheSleeveKeepsBothPowerOffTimes) {
  SleeveFacade f;
  ASSERT_TRUE(f.connect());
  Error e;
  ASSERT_TRUE(f.facade->setAutoOffWhenIdle(600, 120, &e)) << e.text;
  double idle = 0, disconnected = 0;
  ASSERT_TRUE(f.facade->getAutoOffWhenIdle(&idle, &disconnected, &e)) << e.text;
  EXPECT_EQ(idle, 600);
  EXPECT_EQ(disconnected, 120);
}

TEST(KXDevicesSettings, PassThroughSyncOfAPrinterOrAPinpadIsAnsweredWithoutAsking) {
  struct Case {
    const char* name;
    bool printer;
    bool expected;
  } kCases[] = {{"printer", true, false}, {"pinpad", false, true}};
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ApiFixture f;
    if (c.printer) f.printerState(0, 2);
    else f.pinpadState(2);
    f.drivers.log->clear();
    bool enabled = !c.expected;
    Error e;
    EXPECT_TRUE(f.api->getPassThroughSync(&enabled, &e));
    EXPECT_EQ(enabled, c.expected);
    EXPECT_EQ(f.drivers.log->size(), 0u);
    // Only the sleeve takes the setting.
    EXPECT_FALSE(f.api->setPassThroughSync(true, &e));
    EXPECT_EQ(e.code, -7);
  }
}

TEST(KXDevicesSettings, BatteryQuestionsFollowEachCallsOwnOrder) {
  ApiFixture f;
  f.printerState(0, 2);
  f.pinpadState(2);
  // Battery information asks the pinpad before the printer; capacity the printer first.
  // (These fakes have no pinpad driver behind them, which fails with the pinpad's status
  // 16, and no printer information, which fails with -20.)
  Error e;
  EXPECT_FALSE(f.api->getBatteryInfo(&e));
  EXPECT_EQ(e.code, ppadError(16).code);
  int capacity = 0;
  float volts = 0;
  EXPECT_FALSE(f.api->getBatteryCapacity(&capacity, &volts, &e));
  EXPECT_EQ(e.code, -20);
  // Kinds other than the three devices have none.
  EXPECT_FALSE(f.api->getConnectedDeviceBatteryInfo(-1, &e));
  EXPECT_EQ(e.code, -7);
  EXPECT_FALSE(f.api->getConnectedDeviceBatteryInfo(3, &e));
  // The printer beeps its own beep whatever was asked, and that counts as played.
  f.api->setActiveDeviceType(DEVICE_TYPE_PRINTER);
  const int tones[] = {2000, 100};
  EXPECT_TRUE(f.api->playSound(100, tones, sizeof tones, &e));
  EXPECT_EQ(f.drivers.log->count("printer0.beep"), 1u);
}

TEST(KXDevicesSettings, ThePinpadAnswersFromItsHardwareInformationAndSettings) {
  PinpadFixture f;
  ASSERT_TRUE(f.connect());
  Error e;
  // Hardware information 10 01 20: 16 %, charging, 3.2 V.
  const auto battery = f.facade->getBatteryInfo(&e);
  ASSERT_TRUE(battery) << e.text;
  EXPECT_EQ(battery->capacity, 16);
  EXPECT_FLOAT_EQ(battery->voltage, 3.2f);
  EXPECT_TRUE(battery->charging);
  EXPECT_EQ(battery->maximumCapacity, 0);
  int capacity = 0;
  float volts = 0;
  ASSERT_TRUE(f.facade->getBatteryCapacity(&capacity, &volts, &e)) << e.text;
  EXPECT_EQ(capacity, 16);
  bool charging = false;
  ASSERT_TRUE(f.facade->getCharging(&charging, &e)) << e.text;
  EXPECT_TRUE(charging);
  bool sync = false;
  EXPECT_TRUE(f.facade->getPassThroughSync(&sync, &e));
  EXPECT_TRUE(sync);

  // Only the idle time reaches a pinpad.
  ASSERT_TRUE(f.facade->setAutoOffWhenIdle(300, 999, &e)) << e.text;
  double idle = 0, disconnected = -1;
  ASSERT_TRUE(f.facade->getAutoOffWhenIdle(&idle, &disconnected, &e)) << e.text;
  EXPECT_EQ(idle, 300);
  EXPECT_EQ(disconnected, 0);
  ASSERT_TRUE(f.facade->setUSBChargeCurrent(200, &e)) << e.text;
  int current = 0;
  ASSERT_TRUE(f.facade->getUSBChargeCurrent(&current, &e)) << e.text;
  EXPECT_EQ(current, 200);
  // Sleeve-only settings have no pinpad candidate.
  EXPECT_FALSE(f.facade->setKioskMode(false, &e));
  EXPECT_EQ(e.code, -7);
  EXPECT_FALSE(f.facade->setBatteryMaxCapacity(2000, &e));
  EXPECT_EQ(e.code, -7);
}

TEST(KXDevicesSettings, APinpadFirmwareFileIsReadWithNothingConnected) {
  PinpadFixture f;  // not connected
  Bytes file(512, 0);
  file[500] = 5;
  file[503] = 2;
  file[508] = 0x1F;
  file[509] = 0xDB;
  file[510] = 0x26;
  file[511] = 0xD6;
  Error e;
  const auto info = f.facade->getFirmwareFileInformation(file, &e);
  ASSERT_TRUE(info) << e.text;
  EXPECT_EQ((*info)["firmwareRevision"], "2.00.00.05");
  EXPECT_EQ((*info)["firmwareRevisionNumber"], 2000005);
  // A file of no device, and an update without a device, fail with the routing error.
  EXPECT_FALSE(f.facade->getFirmwareFileInformation(Bytes(512, 0x5A), &e));
  EXPECT_EQ(e.code, -20);
  EXPECT_FALSE(f.facade->updateFirmwareData(file, &e));
  EXPECT_EQ(e.code, -20);
}

}  // namespace
}  // namespace kestra::testing
