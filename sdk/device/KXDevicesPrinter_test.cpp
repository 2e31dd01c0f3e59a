// The device API's printing calls: routing between the printers and the pinpad's printer
// channel, colour conversion, and both printer slots over simulated printers.
#include <gtest/gtest.h>

#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/device/PellanSleeve.h"
#include "sdk/printer/Printer.h"
#include "testing/devices/printer/SimulatedPrinter.h"
#include "testing/devices/sleeve/SleeveTestBench.h"

namespace kestra::testing {
namespace {

TEST(KXDevicesPrinter, TextGoesToThePrinterFirstAndToThePinpadWhenItIsActive) {
  ApiFixture f;
  f.drivers.printer0->log = f.events;
  f.drivers.pinpad->log = f.events;
  f.printerState(0, 2);
  f.pinpadState(2);
  EXPECT_TRUE(f.api->prnPrintText("a"));
  ASSERT_TRUE(f.api->setActiveDeviceType(DEVICE_TYPE_PINPAD));
  EXPECT_TRUE(f.api->prnPrintText("b"));
  EXPECT_EQ(f.events->count("printer0.printText:a"), 1u);
  EXPECT_EQ(f.events->count("pinpad.prnPrintText:b"), 1u);
  EXPECT_EQ(f.events->count("printer0.printText:b"), 0u);

  // Transactions exist on the receipt printer only.
  Error e;
  EXPECT_FALSE(f.api->prnStartTransaction(&e));
  EXPECT_EQ(e.code, -7);
  EXPECT_EQ(f.events->count("printer0.prnStartTransaction"), 0u);
}

TEST(KXDevicesPrinter, WithoutADriverCallsFailByConnectionState) {
  ApiFixture f;
  Error e;
  EXPECT_FALSE(f.api->tableIsSupported());
  EXPECT_FALSE(f.api->pageIsSupported());
  EXPECT_FALSE(f.api->prnFeedPaper(10, &e));
  EXPECT_EQ(e.code, -20);
  EXPECT_EQ(f.api->prnGetMaxLabelLength(&e), 0);
  EXPECT_EQ(e.code, -20);
  f.hubConnected(true);
  EXPECT_FALSE(f.api->prnPrintBarcode(8, foundation::bytesOf("1"), &e));
  EXPECT_EQ(e.code, -7);
  EXPECT_FALSE(f.api->ppadLoadLogo(KXImage::grey(8, 8, 0), 0, &e));
  EXPECT_EQ(e.code, -7);
}

TEST(KXDevicesPrinter, StatusAndColoursAreConvertedForThePrinter) {
  ApiFixture f;
  f.drivers.printer0->log = f.events;
  f.printerState(0, 2);
  int status = 7;
  Error e;
  EXPECT_FALSE(f.api->prnGetPrinterStatus(&status, &e));
  EXPECT_EQ(e.code, -20);
  EXPECT_EQ(status, 7);
  f.drivers.printer0->status = 0x20;
  EXPECT_TRUE(f.api->prnGetPrinterStatus(&status));
  EXPECT_EQ(status, 0x20);

  struct Case {
    std::optional<KXColor> color;
    int expected;
  } cases[] = {{KXColor{0.5, 0.5, 0.5, 1}, 0}, {KXColor{0.49, 0.49, 0.49, 1}, 1}, {std::nullopt, -1}};
  for (const auto& c : cases) {
    f.events->clear();
    EXPECT_TRUE(f.api->pageFillRectangle(c.color));
    EXPECT_EQ(f.events->count("printer0.pageFillRectangle:" + std::to_string(c.expected)), 1u);
  }
}

TEST(KXDevicesPrinter, BothPrinterSlotsPrintOnTheirOwnPrinter) {
  devices::SleeveTestBench bench;
  auto api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get()));
  // Two printers of one class; accessories are told apart by name.
  const auto persona = devices::PrinterPersona::scanner();
  auto persona2 = persona;
  persona2.name = "RPX-260B";
  devices::SimulatedPrinter first(devices::SimulatedPrinter::identityFor(persona), bench.folder, persona);
  devices::SimulatedPrinter second(devices::SimulatedPrinter::identityFor(persona2), bench.folder, persona2);
  ASSERT_TRUE(first.attach());
  ASSERT_TRUE(second.attach());
  // Both listed before the search starts: an attach that lands during a search waits for the
  // next one.
  ASSERT_TRUE(bench.runUntil([&] { return bench.registry->connectedAccessories().size() == 2; }));
  api->connect();
  const bool up = bench.runUntil([&] { return api->getConnectedDevicesInfo().size() == 2; });
  ASSERT_TRUE(up);
  ASSERT_TRUE(api->setActiveDeviceType(DEVICE_TYPE_PRINTER));
  for (int index : {0, 1}) {
    ASSERT_TRUE(api->setActiveDeviceIndexForType(DEVICE_TYPE_PRINTER, index));
    const std::string text = "slot " + std::to_string(index);
    ASSERT_TRUE(api->prnPrintText(text));
    ASSERT_TRUE(api->prnFlushCache());
  }
  auto printed = [](devices::SimulatedPrinter& p) {
    return p.model().withRenderer([](devices::ReceiptRenderer& r) { return r.lines(); });
  };
  const auto a = printed(first), b = printed(second);
  // Which accessory each slot claimed is the manager's order; each got exactly one text.
  const bool firstHasSlot0 = std::find(a.begin(), a.end(), "slot 0") != a.end();
  EXPECT_EQ(std::count(a.begin(), a.end(), firstHasSlot0 ? "slot 0" : "slot 1"), 1);
  EXPECT_EQ(std::count(b.begin(), b.end(), firstHasSlot0 ? "slot 1" : "slot 0"), 1);
  EXPECT_EQ(std::count(a.begin(), a.end(), firstHasSlot0 ? "slot 1" : "slot 0"), 0);
  api->disconnect();
  bench.runUntil([&] { return api->connstate() == 0; });
}

}  // namespace
}  // namespace kestra::testing
