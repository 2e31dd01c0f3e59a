// The device API and the facade over the real pinpad driver and a simulated pinpad.

#include <gtest/gtest.h>

#include "sdk/device/KXDevicesPinpadFixture.h"
#include "sdk/device/OKTKXDevices.h"
#include "sdk/device/PellanSleeve.h"
#include "sdk/pinpad/PPad.h"
#include "sdk/sleeve/Pellan.h"
#include "testing/devices/pinpad/PinpadTestBench.h"

namespace kestra::testing {
namespace {

TEST(KXDevicesPinpad, RoutedCallsAndEventsReachTheSimulatedPinpad) {
  PinpadFixture f;
  ASSERT_TRUE(f.connect());
  EXPECT_EQ(f.facade->deviceType(), 2);
  Error e;
  EXPECT_TRUE(f.facade->barcodeSetScanMode(1, &e)) << e.text;
  int mode = -1;
  EXPECT_TRUE(f.facade->barcodeGetScanMode(&mode, &e)) << e.text;
  EXPECT_EQ(mode, 4);
  f.bench.device->withModel([](devices::PinpadModel& m) { EXPECT_EQ(m.scanWireMode, 5); });

  // A scan of the pinpad's engine reaches the application as text, on the main queue.
  f.bench.device->sendEvent(0x05, foundation::bytesOf("T4006381333931"));
  ASSERT_TRUE(f.bench.runUntil([&] { return f.app->size() >= 2 && f.app->lines().back().rfind("app:barcodeData", 0) == 0; }));

  // The link goes: the application hears it and routed calls fail at once.
  f.bench.device->detach();
  ASSERT_TRUE(f.bench.runUntil([&] { return f.api->connstate() != 2; }));
  EXPECT_FALSE(f.facade->barcodeSetScanMode(0, &e));
  EXPECT_EQ(e.code, -20);
}

}  // namespace
}  // namespace kestra::testing
