#include "sdk/device/KXDevices.h"

#include <gtest/gtest.h>

#include <thread>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/device/KXStandIns.h"
#include "sdk/transport/EAManager.h"

namespace kestra::testing {
namespace {

using foundation::RunLoop;

void pumpMain() {
  for (int i = 0; i < 5; ++i) RunLoop::main().runOnce(std::chrono::milliseconds(0));
}

TEST(KXDevicesRouting, FreshObjectWithNothingAttachedFailsRoutedCallsWithNoDevice) {
  ApiFixture f;
  EXPECT_EQ(f.api->connstate(), 0);
  EXPECT_EQ(f.api->deviceType(), 0);
  EXPECT_EQ(f.api->deviceName(), std::nullopt);
  EXPECT_EQ(f.api->getSupportedFeature(1), 0);
  const int tone[] = {200, 20};
  Error e;
  EXPECT_FALSE(f.api->playSound(10, tone, 8, &e));
  EXPECT_EQ(e.code, -20);
  EXPECT_EQ(e.text, "No device connected");
  EXPECT_EQ(e.domain, "com.sabrel.errors");
  EXPECT_TRUE(f.drivers.log->lines().empty() || f.drivers.log->count("sleeve.playSound") == 0);
  // Without an error place nothing is stored, and the answer is still NO.
  EXPECT_FALSE(f.api->setCharging(true, nullptr));
}

TEST(KXDevicesRouting, StandInDriversFailAsADriverWithoutADevice) {
  Error e;
  EXPECT_FALSE(KXStandInPrinter().beep(&e));
  EXPECT_EQ(e.code, -20);
  EXPECT_EQ(e.text, "No device connected");
  EXPECT_EQ(KXStandInPinpad().msStart(), KXStandInPinpad::kNotConnected);
}

TEST(KXDevicesRouting, CallsReachTheFirstConnectedCandidateOrTheExplicitType) {
  const int tone[] = {200, 20};
  struct Case {
    const char* name;
    bool sleeve, printer, pinpad, hub;
    int active;                // -1 automatic
    const char* expectedCall;  // nullptr: a routing error
    int expectedError;
  };
  const Case cases[] = {
      {"sleeve alone", true, false, false, false, -1, "sleeve.playSound", 0},
      {"printer alone beeps", false, true, false, false, -1, "printer0.beep", 0},
      {"pinpad alone", false, false, true, false, -1, "pinpad.sysPlaySound", 0},
      {"sleeve before pinpad", true, false, true, false, -1, "sleeve.playSound", 0},
      {"explicit pinpad wins over sleeve", true, false, true, false, 2, "pinpad.sysPlaySound", 0},
      {"hub alone: not supported", false, false, false, true, -1, nullptr, -7},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    ApiFixture f;
    if (c.sleeve) f.sleeveState(2);
    if (c.printer) f.printerState(0, 2);
    if (c.pinpad) f.pinpadState(2);
    if (c.hub) f.hubConnected(true);
    if (c.active >= 0) {
      ASSERT_TRUE(f.api->setActiveDeviceType(c.active));
    }
    f.drivers.log->clear();
    Error e;
    const bool ok = f.api->playSound(10, tone, 8, &e);
    if (c.expectedCall) {
      EXPECT_TRUE(ok);
      EXPECT_EQ(f.drivers.log->lines(), std::vector<std::string>{c.expectedCall});
    } else {
      EXPECT_FALSE(ok);
      EXPECT_EQ(e.code, c.expectedError);
      EXPECT_EQ(e.text, "Function not supported on the connected device");
    }
  }
}

TEST(KXDevicesRouting, SleeveOnlyCallWithOnlyTheHubIsNotSupported) {
  ApiFixture f;
  f.hubConnected(true);
  EXPECT_EQ(f.api->connstate(), 2);
  Error e;
  EXPECT_FALSE(f.api->setCharging(true, &e));
  EXPECT_EQ(e.code, -7);
}

TEST(KXDevicesRouting, SetActiveDeviceTypeChecksTheTypeAndItsDevice) {
  struct Case {
    int type;
    bool sleeveUp;
    bool ok;
    const char* text;
  };
  const Case cases[] = {
      {-1, true, false, "Device is not supported"}, {9, false, true, nullptr},
      {12, false, false, "Device type is invalid"}, {0, false, false, "Device is not connected"},
      {0, true, true, nullptr},                     {4, false, false, "Device is not connected"},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.type);
    ApiFixture f;
    if (c.sleeveUp) f.sleeveState(2);
    Error e;
    EXPECT_EQ(f.api->setActiveDeviceType(c.type, &e), c.ok);
    if (c.ok) {
      EXPECT_EQ(f.api->activeDeviceType(), c.type);
    } else {
      EXPECT_EQ(e.code, -9);
      EXPECT_EQ(e.text, c.text);
    }
  }
}

TEST(KXDevicesRouting, TypeFourIsAcceptedLikeThePrinterButNamesNoDriver) {
  // 4 may be made active while a printer is connected and asks the printer's presence, but
  // calls, identity and the connection type do not treat it as the printer.
  ApiFixture f;
  f.printerState(0, 2);
  f.drivers.printer0->present = true;
  ASSERT_TRUE(f.api->setActiveDeviceType(4));
  EXPECT_EQ(f.api->activeDeviceType(), 4);
  EXPECT_TRUE(f.api->isPresent(4));
  f.drivers.log->clear();
  const int tone[] = {200, 20};
  Error e;
  EXPECT_FALSE(f.api->playSound(10, tone, 8, &e));
  EXPECT_EQ(e.code, -7);
  EXPECT_EQ(e.text, "Function not supported on the connected device");
  EXPECT_TRUE(f.drivers.log->lines().empty());
  EXPECT_EQ(f.api->deviceType(), 0);
  EXPECT_EQ(f.api->deviceName(), std::nullopt);
  EXPECT_EQ(f.api->connectionType(), 0);
  // Type 1 itself does reach the printer.
  ASSERT_TRUE(f.api->setActiveDeviceType(1));
  EXPECT_TRUE(f.api->playSound(10, tone, 8));
  EXPECT_EQ(f.drivers.log->lines(), std::vector<std::string>{"printer0.beep"});
  EXPECT_EQ(f.api->deviceType(), 1);
}

TEST(KXDevicesRouting, PrinterIndexPicksAmongTheConnectedPrinters) {
  const int tone[] = {200, 20};
  {
    ApiFixture f;
    struct Refusal {
      int type, index;
      const char* text;
    };
    const Refusal refusals[] = {{10, 0, "Device type is invalid"},
                                {-2, 0, "Device type is invalid"},
                                {0, 0, "Device type is not supported"},
                                {1, 2, "Device index is invalid"}};
    for (const auto& r : refusals) {
      SCOPED_TRACE(std::to_string(r.type) + "/" + std::to_string(r.index));
      Error e;
      EXPECT_FALSE(f.api->setActiveDeviceIndexForType(r.type, r.index, &e));
      EXPECT_EQ(e.code, -9);
      EXPECT_EQ(e.text, r.text);
    }
    // No printer connected: NO, and no error.
    Error untouched("keep", 1, "keep");
    EXPECT_FALSE(f.api->setActiveDeviceIndexForType(1, 1, &untouched));
    EXPECT_EQ(untouched.domain, "keep");
  }
  {
    ApiFixture f;
    f.printerState(0, 2);
    f.printerState(1, 2);
    ASSERT_TRUE(f.api->setActiveDeviceIndexForType(1, 1));
    f.drivers.log->clear();
    EXPECT_TRUE(f.api->playSound(10, tone, 8));
    EXPECT_EQ(f.drivers.log->lines(), std::vector<std::string>{"printer1.beep"});
  }
  {
    // With index 0, the first connected printer is the active one, whichever object it is.
    ApiFixture f;
    f.printerState(1, 2);
    f.drivers.log->clear();
    EXPECT_TRUE(f.api->playSound(10, tone, 8));
    EXPECT_EQ(f.drivers.log->lines(), std::vector<std::string>{"printer1.beep"});
  }
}

TEST(KXDevicesRouting, ActiveDeviceFallsBackWhenItsDeviceGoesAway) {
  ApiFixture f;
  f.sleeveState(2);
  f.printerState(0, 2);
  ASSERT_TRUE(f.api->setActiveDeviceType(0));
  const int tone[] = {200, 20};
  f.sleeveState(0);
  EXPECT_EQ(f.api->activeDeviceType(), -1);
  EXPECT_EQ(f.api->connstate(), 2);  // the printer stays
  f.drivers.log->clear();
  EXPECT_TRUE(f.api->playSound(10, tone, 8));
  EXPECT_EQ(f.drivers.log->lines(), std::vector<std::string>{"printer0.beep"});
  // And when the last device leaves, the routing error is "No device connected".
  f.printerState(0, 0);
  Error e;
  EXPECT_FALSE(f.api->playSound(10, tone, 8, &e));
  EXPECT_EQ(e.code, -20);
}

TEST(KXDevicesRouting, QueriesNeverChangeTheActiveTypeUnderAConcurrentCall) {
  // Feature and connection-state queries from one thread must not misroute another
  // thread's calls to the explicitly chosen device.
  ApiFixture f;
  f.sleeveState(2);
  f.pinpadState(2);
  ASSERT_TRUE(f.api->setActiveDeviceType(2));
  std::atomic<bool> stop{false};
  std::thread querier([&] {
    while (!stop.load()) {
      f.api->getSupportedFeature(1);
      f.api->getDeviceConnectionState(0);
    }
  });
  int misrouted = 0;
  for (int i = 0; i < 2000; ++i) {
    if (f.api->activeDeviceType() != 2) ++misrouted;
  }
  stop = true;
  querier.join();
  EXPECT_EQ(misrouted, 0);
  EXPECT_EQ(f.api->getDeviceConnectionState(0), 2);
  EXPECT_EQ(f.api->getDeviceConnectionState(5), 1);
}

TEST(KXDevicesConnection, MergedStateIsAnnouncedOnlyWhenTheConnectionKeyChanges) {
  ApiFixture f;
  auto kept = f.delegate("A", {kxsel::connectionState});
  f.sleeveState(2);
  f.sleeveState(2);  // same connections again
  EXPECT_EQ(f.events->lines(), std::vector<std::string>{"A:connectionState:2"});
  f.pinpadState(1);  // a driver connecting while the key stays: nothing
  EXPECT_EQ(f.events->lines().size(), 1u);
  EXPECT_EQ(f.api->connstate(), 2);
  // The last connected device leaving while another one connects announces 1.
  f.sleeveState(0);
  EXPECT_EQ(f.events->lines().back(), "A:connectionState:1");
  EXPECT_EQ(f.api->connstate(), 1);
}

TEST(KXDevicesConnection, ADeviceConnectingWhileTheStateIsReadIsCountedAtTheNextChange) {
  ApiFixture f;
  // The hub comes up just after its first reading, as its run-loop thread can make it.
  f.drivers.hub->afterConnectedRead = [&] { f.drivers.hub->up = true; };
  f.api->connectionState(0);
  f.drivers.hub->afterConnectedRead = nullptr;
  EXPECT_EQ(f.api->connstate(), 0);
  // Its own announcement then makes the merged state connected, and a call the hub lacks is
  // "not supported" rather than "no device".
  f.api->connectionState(0);
  EXPECT_EQ(f.api->connstate(), 2);
  Error e;
  EXPECT_FALSE(f.api->sysMute(&e));
  EXPECT_EQ(e.code, -7);
}

TEST(KXDevicesConnection, ConnectStartsEveryDriverThenTheAccessorySearch) {
  ApiFixture f;
  f.api->connect();
  EXPECT_EQ(f.drivers.log->lines(),
            (std::vector<std::string>{"sleeve.managedConnect", "printer0.managedConnect", "printer1.managedConnect",
                                      "pinpad.managedConnect", "tryConnect"}));
}

TEST(KXDevicesConnection, DisconnectOffTheMainThreadRunsOnTheMainQueueOnce) {
  ApiFixture f;
  auto d = f.delegate("A", {kxsel::connectionState});
  f.sleeveState(2);
  f.events->clear();
  std::thread([&] { f.api->disconnect(); }).join();
  EXPECT_EQ(f.drivers.sleeve->state.load(), 2);  // not yet: queued for the main queue
  pumpMain();
  EXPECT_EQ(f.drivers.sleeve->state.load(), 0);
  EXPECT_EQ(f.events->lines(), std::vector<std::string>{"A:connectionState:0"});
}

TEST(KXDevicesConnection, DisconnectDuringATransactionReportsItsEnd) {
  ApiFixture f;
  auto kept = f.delegate("A", {kxsel::emv2OnTransactionFinished});
  f.sleeveState(2);
  f.api->setEmvActive(true);
  f.sleeveState(0);
  EXPECT_EQ(f.events->lines(), std::vector<std::string>{"A:emv2OnTransactionFinished:C1021000C40102"});
}

TEST(KXDevicesConnection, ABluetoothLowEnergyLinkIsKeptOnlyWhileUsed) {
  ApiFixture f;
  f.drivers.ble->open = true;
  f.drivers.pinpad->connType = 3;
  f.pinpadState(2);
  EXPECT_TRUE(f.drivers.ble->open.load());  // the pinpad is reached over it
  f.drivers.pinpad->connType = 0;
  f.pinpadState(0);
  EXPECT_FALSE(f.drivers.ble->open.load());
  EXPECT_EQ(f.drivers.ble->closes.load(), 1);
  // Entering the background drops it unless the application keeps such links there.
  f.drivers.ble->open = true;
  f.api->setBluetoothCentralBackgroundMode(true);
  foundation::NotificationCenter::defaultCenter().post(kApplicationDidEnterBackgroundNotification);
  EXPECT_TRUE(f.drivers.ble->open.load());
  f.api->setBluetoothCentralBackgroundMode(false);
  foundation::NotificationCenter::defaultCenter().post(kApplicationDidEnterBackgroundNotification);
  EXPECT_FALSE(f.drivers.ble->open.load());
}

TEST(KXDevicesConnection, FeaturesAreAnnouncedFirstInFullThenOnlyWhenTheyChange) {
  ApiFixture f;
  auto kept = f.delegate("A", {kxsel::deviceFeatureSupported});
  f.drivers.sleeve->features[1] = 2;
  f.sleeveState(2);
  pumpMain();
  EXPECT_EQ(f.events->lines().size(), 19u);
  EXPECT_EQ(f.events->count("A:feature:1=2"), 1u);
  f.events->clear();
  f.api->notifySupportedFeatures();
  EXPECT_TRUE(f.events->lines().empty());
  f.drivers.sleeve->features[1] = 5;
  f.api->deviceFeatureSupported(1, 5);
  pumpMain();
  EXPECT_EQ(f.events->lines(), std::vector<std::string>{"A:feature:1=5"});
}

TEST(KXDevicesIdentity, IdentityFollowsTheConnectedDevice) {
  ApiFixture f;
  f.drivers.adapter->present = true;
  EXPECT_TRUE(f.api->isPresent(5));
  EXPECT_FALSE(f.api->isPresent(6));
  f.drivers.barcodeHID->up = true;
  f.api->connectionState(0);
  EXPECT_EQ(f.api->deviceName(), "HID Barcode");
  EXPECT_EQ(f.api->deviceModel(), "");
  EXPECT_EQ(f.api->deviceType(), 6);
  f.sleeveState(2);
  EXPECT_EQ(f.api->deviceName(), "sleeve");
  EXPECT_EQ(f.api->deviceType(), 0);
  EXPECT_EQ(f.api->firmwareRevisionNumber(), 125);  // "1.25"
  EXPECT_EQ(f.api->getConnectedDevicesInfo().size(), 2u);
  EXPECT_EQ(f.api->sdkVersion(), 207);
}

// ---- Fan-out --------------------------------------------------------------------------------

TEST(KXDevicesFanOut, LaterDelegatesHearEventsFirstButBarcodesInListOrder) {
  ApiFixture f;
  auto a = f.delegate("A", {kxsel::deviceButtonPressed, kxsel::barcodeData_type});
  auto b = f.delegate("B", {kxsel::deviceButtonPressed, kxsel::barcodeData_type});
  auto none = f.delegate("none", {});
  f.api->pellanButtonPressed(1);
  f.api->kxdev_barcodeData(Bytes{'T', '1', '2', '3'});
  const auto lines = f.events->lines();
  ASSERT_EQ(lines.size(), 4u);
  EXPECT_EQ(lines[0], "B:deviceButtonPressed:1");
  EXPECT_EQ(lines[1], "A:deviceButtonPressed:1");
  EXPECT_EQ(lines[2].substr(0, 17), "A:barcodeData:123");
  EXPECT_EQ(lines[3].substr(0, 17), "B:barcodeData:123");
}

TEST(KXDevicesFanOut, AThrowingDelegateDoesNotStopTheOthersAndAFreedOneIsSkipped) {
  ApiFixture f;
  auto a = f.delegate("A", {kxsel::deviceButtonReleased});
  auto gone = f.delegate("gone", {kxsel::deviceButtonReleased});
  auto b = f.delegate("B", {kxsel::deviceButtonReleased});
  b->onCall = [](const std::string&) { throw std::runtime_error("delegate failure"); };
  gone.reset();
  f.api->pellanButtonReleased(2);
  EXPECT_EQ(f.events->lines(), (std::vector<std::string>{"B:deviceButtonReleased:2", "A:deviceButtonReleased:2"}));
  EXPECT_EQ(f.api->delegates().size(), 2u);
}

TEST(KXDevicesFanOut, DelegateListKeepsOneEntryPerObject) {
  ApiFixture f;
  auto a = std::make_shared<RecordingDelegate>(f.events, "A", std::vector<std::string_view>{});
  auto b = std::make_shared<RecordingDelegate>(f.events, "B", std::vector<std::string_view>{});
  f.api->addDelegate(a);
  f.api->addDelegate(a);
  EXPECT_EQ(f.api->delegates().size(), 1u);
  f.api->removeDelegate(b);
  EXPECT_EQ(f.api->delegates().size(), 1u);
  f.api->setDelegate(b);
  EXPECT_EQ(f.api->delegate(), b);
  f.api->removeDelegate(b);
  EXPECT_EQ(f.api->delegate(), nullptr);
}

TEST(KXDevicesFanOut, DriverEventsBecomeTheirDelegateCalls) {
  ApiFixture f;
  auto kept = f.delegate("A", {kxsel::PINEntryCompleteWithError, kxsel::smartCardInserted, kxsel::smartCardRemoved,
                   kxsel::sdkDebug});
  f.api->PINEntryComplete(0);
  f.api->PINEntryComplete(41);
  f.api->smartCardRemoved(1);  // before any insertion: nothing
  f.api->smartCardInserted(1);
  f.api->smartCardRemoved(1);
  f.api->smartCardRemoved(1);
  f.api->kxdev_debug("hello", 3);
  EXPECT_EQ(f.events->lines(),
            (std::vector<std::string>{"A:PINEntryComplete:nil", "A:PINEntryComplete:-16508:There is no data to be returned",
                                      "A:smartCardInserted:1", "A:smartCardRemoved:1", "A:smartCardRemoved:1",
                                      "A:sdkDebug:hello:3"}));
  EXPECT_EQ(ppadError(3).code, -16503);
  EXPECT_EQ(ppadError(3).text, "Invalid paremeter");
}

}  // namespace
}  // namespace kestra::testing
