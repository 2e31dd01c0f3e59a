// The print cache when the printer goes away: print data that never reached the printer
// is a failure the caller hears about, from `waitPrintJob` and `flushCache`, on a generic
// ESC/POS printer as on a framed one. The driver runs against the simulated printer behind
// the real accessory layer (under the manual clock where no command has to wait for a reply).
#include <gtest/gtest.h>

#include "platform/foundation/Clock.h"
#include "sdk/printer/Printer.h"
#include "testing/devices/printer/PrinterTestBench.h"

namespace kestra {
namespace {

using devices::PrinterPersona;
using devices::PrinterTestBench;

TEST(PrinterCache, UnpluggedWithTheReceiptStillCachedTheJobFails) {
  for (const auto& persona : {PrinterPersona::generic(), PrinterPersona::receipt()}) {
    SCOPED_TRACE(persona.name);
    foundation::ScopedManualClock clock;
    PrinterTestBench b(persona);
    ASSERT_TRUE(b.connect(*clock));
    const size_t printed = b.sim->model().printData().size();
    // The manual clock stands still, so the receipt stays in the cache.
    ASSERT_TRUE(b.printer->prnWrite("Thank you for your order\n", 1));
    EXPECT_EQ(b.sim->model().printData().size(), printed);
    b.sim->detach();
    ASSERT_TRUE(b.runUntil([&] { return b.delegate->log().count("prnConnectionState:1") > 0; }));
    Error e;
    EXPECT_FALSE(b.printer->waitPrintJob(5, &e));
    EXPECT_EQ(e.code, -6);
    EXPECT_FALSE(e.text.empty());
    EXPECT_EQ(b.sim->model().printData().size(), printed);
  }
}

TEST(PrinterCache, AWriteThreadFlushThatFailsIsReportedOnceToTheNextCaller) {
  PrinterTestBench b(PrinterPersona::receipt());
  ASSERT_TRUE(b.connect());
  ASSERT_EQ(b.delegate->log().count("prnConnectionState:1"), 1u);
  // The link drops in the middle of the reply to the write thread's flush, which comes once
  // the cache has been quiet for a while.
  b.sim->frames().script(devices::kAnyCommand, devices::ScriptedFault::dropped(2));
  ASSERT_TRUE(b.printer->prnWrite("Thank you for your order\n", 1));
  ASSERT_TRUE(b.runUntil([&] { return b.delegate->log().count("prnConnectionState:1") == 2; }));
  Error e;
  EXPECT_FALSE(b.printer->flushCache(&e));
  EXPECT_EQ(e.code, -6);
  // Told once: the cache holds nothing more, and nothing else was lost.
  EXPECT_TRUE(b.printer->flushCache());
}

}  // namespace
}  // namespace kestra
