#include <gtest/gtest.h>

#include "platform/foundation/RunLoop.h"
#include "sdk/device/KXDevices.h"
#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/transport/GlobalQueue.h"

namespace kestra::testing {
namespace {

TEST(KXDevicesBarcode, PrinterScanLoopDeliversOneBarcodeOnTheMainQueueAndRunsOnceAtATime) {
  ApiFixture f;
  auto a = f.delegate("A", {kxsel::barcodeData_type});
  f.printerState(0, 2);
  f.drivers.printer0->scans = {"", "", "4006381333931"};
  f.drivers.printer0->hold = true;
  ASSERT_TRUE(f.api->barcodeStartScan());
  Error e;
  EXPECT_FALSE(f.api->barcodeStartScan(&e));
  EXPECT_EQ(e.code, -5);
  EXPECT_EQ(e.text, "Scanning still in process");
  f.drivers.printer0->hold = false;
  ASSERT_TRUE(foundation::RunLoop::main().runUntil([&] { return !f.events->lines().empty(); }));
  EXPECT_EQ(f.drivers.printer0->scanCalls.load(), 3);
  EXPECT_EQ(f.events->lines().front().rfind("A:barcodeData:", 0), 0u);
  // The loop has ended: a new one may start, and a stop answers YES at once.
  GlobalQueue::waitIdle();
  EXPECT_TRUE(f.api->barcodeStartScan());
  EXPECT_TRUE(f.api->barcodeStopScan());
  GlobalQueue::waitIdle();
}

TEST(KXDevicesBarcode, ScanModeOnAPrinterAcceptsOnlySingleScan) {
  ApiFixture f;
  f.printerState(0, 2);
  EXPECT_TRUE(f.api->barcodeSetScanMode(0));
  Error e;
  EXPECT_FALSE(f.api->barcodeSetScanMode(3, &e));
  EXPECT_EQ(e.code, -7);
  EXPECT_EQ(e.text, "Feature not supported on the connected device");
  int mode = -1;
  EXPECT_TRUE(f.api->barcodeGetScanMode(&mode));
  EXPECT_EQ(mode, 0);
}

TEST(KXDevicesBarcode, ScanModeOnTheSleeveNeedsItsEngine) {
  ApiFixture f;
  f.sleeveState(2);
  int mode = -1;
  Error e;
  EXPECT_FALSE(f.api->barcodeGetScanMode(&mode, &e));
  EXPECT_EQ(e.code, -7);
  f.drivers.sleeve->features[1] = 2;
  EXPECT_TRUE(f.api->barcodeGetScanMode(&mode));
  EXPECT_EQ(mode, 1);
}

TEST(KXDevicesBarcode, PinpadScanButtonIsEventBitFive) {
  struct Case {
    int mode;
    uint32_t before, after;
  };
  const Case cases[] = {{1, 0x01, 0x21}, {0, 0x21, 0x01}, {2, 0x21, 0x01}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.mode);
    ApiFixture f;
    f.pinpadState(2);
    f.drivers.pinpad->events = c.before;
    EXPECT_TRUE(f.api->barcodeSetScanButtonMode(c.mode));
    EXPECT_EQ(f.drivers.pinpad->events, c.after);
    int read = -1;
    EXPECT_TRUE(f.api->barcodeGetScanButtonMode(&read));
    EXPECT_EQ(read, c.mode == 1 ? 1 : 0);
  }
}

TEST(KXDevicesBarcode, SdkSideSettingsNeedNoDevice) {
  ApiFixture f;
  EXPECT_TRUE(f.api->barcodeSetTypeMode(77));
  int mode = 0;
  EXPECT_TRUE(f.api->barcodeGetTypeMode(&mode));
  EXPECT_EQ(mode, 77);
  EXPECT_TRUE(f.api->barcodeSetUPCZeroStrip(false));
  Error e;
  EXPECT_FALSE(f.api->barcodeSetScanButtonMode(1, &e));
  EXPECT_EQ(e.code, -20);
}

}  // namespace
}  // namespace kestra::testing
