// The pinpad's own Bluetooth module end to end: the pinpad driver's BT301 module driver
// talking to the simulated BT301 inside the simulated pinpad, through group 0x3A and the
// pinpad's 0x09 packets, with the remote devices the simulated module reaches.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/Clock.h"
#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadTestSupport.h"
#include "sdk/transport/GlobalQueue.h"
#include "sdk/transport/bluetooth/btBT301.h"
#include "testing/devices/pinpad/PinpadModuleClock.h"

namespace kestra {
namespace {

using devices::PinpadModel;
using devices::SimulatedBT301;
using foundation::Bytes;
using testsupport::sentWith;
using namespace std::chrono_literals;

const std::string& kPinpad = devices::kModulePinpad;
const std::string& kNameless = devices::kModuleNameless;
const std::string& kPrinter = devices::kModulePrinter;

class PPadModule : public ::testing::Test {
 protected:
  void SetUp() override {
    b.device = &b.bench.attach<devices::SimulatedPinpad>(devices::SimulatedPinpad::identityFor("SKYRIK5000G"));
    time.setDevice(b.device);
    b.device->withModel([](PinpadModel& m) { m.btModule.remotes = devices::pinpadModuleRemotes(); });
    b.pad->connect();
    ASSERT_TRUE(time.until([&] { return b.identified() && b.delegate->log().count("ppadConnectionState:2") > 0; }));
  }
  void TearDown() override {
    // Work the module left on the global queue ends before the bench goes.
    time.until([] { return GlobalQueue::running() == 0; });
  }

  template <class F>
  auto sim(F f) {
    return b.device->withModel([&](PinpadModel& m) { return f(m.btModule); });
  }
  std::shared_ptr<btBT301> module() { return std::dynamic_pointer_cast<btBT301>(b.pad->btInputStream()); }
  bool heard(const std::string& line) {
    return time.until([&] { return b.delegate->log().count(line) > 0; });
  }
  int connect(const std::string& address, const std::string& pin) {
    return time.run([&] { return b.pad->btConnect(address, pin); });
  }

  foundation::ScopedManualClock clock;
  devices::PinpadTestBench b;
  devices::PinpadModuleClock time{*clock, *b.pad};
};

TEST(PPadModuleDriver, EveryPinpadDriverHasABT301ModuleThatReportsToIt) {
  devices::PinpadTestBench b;
  auto module = std::dynamic_pointer_cast<btBT301>(b.pad->btInputStream());
  ASSERT_TRUE(module);
  EXPECT_EQ(b.pad->btOutputStream(), b.pad->btInputStream());
  EXPECT_EQ(module->controlDelegate().get(), static_cast<BTModuleHost*>(b.pad.get()));
  // Not connected: the module cannot be reached, and says so as the pinpad's statuses.
  bool enabled = true;
  EXPECT_EQ(b.pad->btGetEnabled(&enabled), 0);
  EXPECT_FALSE(enabled);
  std::vector<std::string> found;
  EXPECT_EQ(b.pad->btDiscoverDevices(5, 2.0, 0, &found), 16);
  EXPECT_EQ(b.pad->btWrite({1}), 9);
}

TEST_F(PPadModule, DiscoveryFindsTheNamedRemoteDevices) {
  // Both ways the pinpad hands over the module's bytes: in the packet, or for the host to drain.
  for (bool drained : {false, true}) {
    SCOPED_TRACE(drained ? "drained" : "in the packets");
    b.device->withModel([&](PinpadModel& m) { m.btNotifyEmpty = drained; });
    b.device->frames().clearHostFrames();
    std::vector<std::string> found;
    ASSERT_EQ(time.run([&] { return b.pad->btDiscoverDevices(10, 5.0, 0x600, &found); }), 0);
    // The nameless device is left out.
    EXPECT_EQ(found, (std::vector<std::string>{kPinpad, kPrinter}));
    std::string name;
    EXPECT_EQ(b.pad->btGetDeviceName(kPrinter, &name), 0);
    EXPECT_EQ(name, "Counter KXP-58");
    EXPECT_EQ(b.pad->btGetDeviceName(kNameless, &name), 8);
    const auto commands = sim([](SimulatedBT301& s) { return s.commands; });
    EXPECT_NE(std::find(commands.begin(), commands.end(), "AT+INQUIRY=8,03,0600"), commands.end());
    if (drained) {
      EXPECT_FALSE(sentWith(*b.device, 0x3A, {0x03}).empty());
    } else {
      // The module was switched on through the pinpad: off, then on.
      EXPECT_EQ(sentWith(*b.device, 0x3A, {0x01}), (std::vector<Bytes>{{0x01, 0x00}, {0x01, 0x01}}));
      EXPECT_TRUE(sentWith(*b.device, 0x3A, {0x03}).empty());
    }
  }
  EXPECT_TRUE(sim([](SimulatedBT301& s) { return s.powered; }));

  // In the background, printers only, reported to the pinpad's delegates.
  ASSERT_EQ(b.pad->btDiscoverPrintersInBackground(5, 3.0), 0);
  ASSERT_TRUE(heard("bluetoothDiscoverComplete:1"));
  EXPECT_EQ(testsupport::linesStarting(b.delegate->log(), "bluetoothDeviceDiscovered"),
            std::vector<std::string>{"bluetoothDeviceDiscovered:" + kPrinter + ":Counter KXP-58"});
}

TEST_F(PPadModule, ConnectWithPinCarriesDataBothWaysUntilTheEscape) {
  struct Case {
    const char* name;
    std::string pin;
    int status;
  } cases[] = {{"wrong PIN", "9999", 16}, {"right PIN", "1234", 0}};
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    EXPECT_EQ(connect("00:11:9f:0a:0b:03", c.pin), c.status);
  }
  ASSERT_TRUE(heard("bluetoothDeviceConnected:" + kPrinter));
  EXPECT_EQ(module()->btConnectedDevices(), std::vector<std::string>{kPrinter});
  EXPECT_EQ(sim([](SimulatedBT301& s) { return s.linkedTo; }), kPrinter);

  // To the remote device: more than one pinpad command holds goes out in several.
  b.device->frames().clearHostFrames();
  Bytes receipt(600, 'R');
  receipt[0] = 0x00;
  receipt[599] = 0xFF;
  ASSERT_EQ(b.pad->btWrite(receipt), 0);
  ASSERT_EQ(b.pad->btWriteLine("TOTAL 12.50"), 0);
  const auto writes = sentWith(*b.device, 0x3A, {0x02});
  ASSERT_EQ(writes.size(), 4u);
  EXPECT_EQ(writes[0].size(), 241u);
  const std::string expected = std::string(receipt.begin(), receipt.end()) + "TOTAL 12.50\r\n";
  EXPECT_EQ(sim([](SimulatedBT301& s) { return s.remoteReceived; }), expected);

  // From the remote device.
  b.device->withBluetoothModule([](SimulatedBT301& s) { return s.remoteSends("PAPER OK\r\nST\x01\x02"); });
  EXPECT_EQ(b.pad->btReadLine(5.0), "PAPER OK");
  EXPECT_EQ(b.pad->btRead(4, 5.0), (Bytes{'S', 'T', 0x01, 0x02}));
  // Nothing more comes: the read gives up after its time.
  EXPECT_EQ(time.run([&] { return b.pad->btReadLine(0.5); }), std::nullopt);

  // The escape ends the link after the module's guard time; the remote device never sees it.
  const auto start = time.now();
  EXPECT_EQ(time.run([&] { return b.pad->btDisconnect(kPrinter); }), 0);
  EXPECT_GE(time.now() - start, btBT301::kEscapeGuard);
  ASSERT_TRUE(heard("bluetoothDeviceDisconnected:" + kPrinter));
  EXPECT_FALSE(sim([](SimulatedBT301& s) { return s.dataMode || s.linkedTo.has_value(); }));
  EXPECT_EQ(sim([](SimulatedBT301& s) { return s.remoteReceived; }), expected);
  EXPECT_TRUE(module()->btConnectedDevices().empty());
  EXPECT_FALSE(module()->inDataMode());
}

TEST_F(PPadModule, ALinkLostOnTheRadioSideReachesTheDelegatesAndTheModuleRecovers) {
  for (bool drained : {false, true}) {
    SCOPED_TRACE(drained ? "drained" : "in the packets");
    b.device->withModel([&](PinpadModel& m) { m.btNotifyEmpty = drained; });
    b.delegate->clear();
    ASSERT_EQ(connect(kPinpad, ""), 0);
    ASSERT_TRUE(heard("bluetoothDeviceConnected:" + kPinpad));

    b.device->withBluetoothModule([](SimulatedBT301& s) { return s.loseLink(); });
    ASSERT_TRUE(heard("bluetoothDeviceDisconnected:" + kPinpad));
    ASSERT_TRUE(time.until([] { return GlobalQueue::running() == 0; }));  // the link's end is tidied
    EXPECT_TRUE(module()->btConnectedDevices().empty());
    EXPECT_FALSE(module()->inDataMode());
    EXPECT_EQ(b.delegate->log().count("bluetoothDeviceDisconnected:" + kPinpad), 1u);
    // Back in command mode: the module answers a new discovery.
    std::vector<std::string> found;
    EXPECT_EQ(time.run([&] { return b.pad->btDiscoverDevices(3, 2.0, 0, &found); }), 0);
    EXPECT_EQ(found.size(), 2u);
  }
}

TEST_F(PPadModule, ALinkUpWhenThePinpadGoesIsReportedEndedOnce) {
  ASSERT_EQ(connect(kPrinter, "1234"), 0);
  ASSERT_TRUE(heard("bluetoothDeviceConnected:" + kPrinter));
  b.device->dropLink();
  ASSERT_TRUE(heard("bluetoothDeviceDisconnected:" + kPrinter));
  ASSERT_TRUE(time.until([] { return GlobalQueue::running() == 0; }));
  EXPECT_TRUE(module()->btConnectedDevices().empty());
  EXPECT_FALSE(module()->inDataMode());
  EXPECT_EQ(b.delegate->log().count("bluetoothDeviceDisconnected:" + kPrinter), 1u);
}

}  // namespace
}  // namespace kestra
