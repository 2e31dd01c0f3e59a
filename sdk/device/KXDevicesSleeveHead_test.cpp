// The sleeve's encrypted head and EMV kernel as the device API sees them: head commands
// routed to the sleeve's bridge, and kernel events reaching the device API's delegates.

#include <gtest/gtest.h>

#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/device/PellanSleeve.h"
#include "sdk/foundation/Emsr.h"
#include "testing/devices/sleeve/SleeveSecurity.h"

namespace kestra::testing {
namespace {

TEST(KXDevicesSleeveHead, HeadCommandsAndKernelEventsCrossTheDeviceAPI) {
  devices::SimulatedSleeve::Options options;
  options.config.model = "XBCMEV";
  devices::SleeveTestBench bench(options);
  devices::SleeveSecurity security(*bench.sleeve);
  security.head.setIdent("SLEEVE HEAD");
  auto api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get()));
  auto events = std::make_shared<CallLog>();
  auto app = std::make_shared<RecordingDelegate>(events, "app",
                                                 std::vector<std::string_view>{kxsel::emv2OnTransactionFinished});
  api->addDelegate(app);
  ASSERT_TRUE(bench.connect());
  ASSERT_TRUE(bench.runUntil([&] { return api->connstate() == 2; }));

  // The device API's head commands go through the sleeve's bridge to its head.
  char model[17] = {};
  ASSERT_EQ(emsrGetDeviceModel(api.get(), model), 0);
  EXPECT_STREQ(model, "SLEEVE HEAD");
  // The emulated head, once chosen on the sleeve, answers instead.
  security.emulatedHead.setIdent("EMULATED");
  ASSERT_TRUE(bench.pellan->emsrSetActiveHead(1));
  ASSERT_EQ(emsrGetDeviceModel(api.get(), model), 0);
  EXPECT_STREQ(model, "EMULATED");

  // A kernel event reaches the device API, which ends the transaction for its delegates.
  bench.sleeve->sendEvent(0, 0x38, *foundation::fromHex("8300C1020800"));
  ASSERT_TRUE(bench.runUntil([&] { return events->size() == 1; }));
  EXPECT_EQ(events->lines()[0], "app:emv2OnTransactionFinished:C1020800");
}

}  // namespace
}  // namespace kestra::testing
