#include <gtest/gtest.h>

#include "sdk/sleeve/Pellan.h"
#include "sdk/sleeve/PellanModels.h"
#include "sdk/sleeve/PellanModulesFixture.h"
#include "sdk/transport/GlobalQueue.h"
#include "sdk/transport/bluetooth/btBT301.h"
#include "sdk/transport/bluetooth/btUniversal.h"
#include "testing/devices/sleeve/SleeveTestBench.h"

namespace kestra {
namespace {

using devices::SimulatedBluetoothModule;
using devices::SimulatedBT301;

devices::SimulatedSleeve::Options sleeveNamed(const std::string& name, const std::string& firmware = "2.63") {
  devices::SimulatedSleeve::Options o;
  o.config.name = name;
  o.config.firmware = firmware;
  return o;
}

// The card-reader model's own module, driven with module commands and finished by the
// sleeve's events.
TEST(PellanBluetooth, DiscoveryConnectAndLinkLossRunThroughTheSleevesModule) {
  devices::SleeveTestBench bench(sleeveNamed(std::string(pellan::kCardReaderDisplayName)));
  bench.sleeve->withBluetooth([](SimulatedBluetoothModule& m) {
    m.remotes = {{{0x00, 0x01, 0x02, 0x03, 0x04, 0x05}, "PP-750"},
                 {{0x00, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E}, "Kitchen printer", false}};
  });
  ASSERT_TRUE(bench.connect());
  auto& pellan = *bench.pellan;
  ASSERT_EQ(pellan.btInputStream(), std::static_pointer_cast<btModule>(pellan.btUniModule()));

  Error e;
  auto found = pellan.btDiscoverDevices(5, 5.0, 0x600, &e);
  ASSERT_TRUE(found) << e.text;
  EXPECT_EQ(*found, (std::vector<std::string>{"000102030405", "000A0B0C0D0E"}));
  EXPECT_EQ(pellan.btGetDeviceName("000102030405"), "PP-750");
  EXPECT_EQ(pellan.btDiscoverPinpads(5, 5.0), (std::vector<std::string>{"000102030405", "PP-750"}));

  // A device that refuses: the connect fails with the module's refusal and the link list
  // stays empty.
  EXPECT_FALSE(pellan.btConnect("00:0A:0B:0C:0D:0E", "", &e));
  EXPECT_EQ(e.code, -20);
  EXPECT_EQ(e.text, "Failed connecting to the device");

  ASSERT_TRUE(pellan.btConnect("00:01:02:03:04:05", "1234", &e)) << e.text;
  bool connected = false;
  ASSERT_TRUE(pellan.btGetConnected(&connected));
  EXPECT_TRUE(connected);
  EXPECT_EQ(bench.sleeve->withBluetooth([](SimulatedBluetoothModule& m) { return m.pin; }), "1234");

  // Data from the remote device reaches the module's stream.
  bench.sleeve->sendBluetoothEvent(SimulatedBluetoothModule().remoteSends(foundation::bytesOf("hello\r\n")));
  EXPECT_EQ(pellan.btReadLine(5.0), "hello");

  // The link lost: the sleeve's event ends it on the host side.
  auto lost = bench.sleeve->withBluetooth([](SimulatedBluetoothModule& m) { return m.loseLink(); });
  ASSERT_TRUE(lost);
  bench.sleeve->sendBluetoothEvent(*lost);
  ASSERT_TRUE(bench.runUntil([&] {
    bool c = true;
    pellan.btGetConnected(&c);
    return !c;
  }));
  GlobalQueue::waitIdle();
}

// Every other sleeve carries the AT-command module, reached byte by byte with commands 18-20.
// Firmware before 2.81 does not push the module's bytes: a read thread fetches them while the
// module is on. From 2.81 they come as sleeve events and no thread runs.
TEST(PellanBluetooth, OtherSleevesDriveTheATCommandModuleByteByByte) {
  struct Case {
    std::string firmware;
    bool polled;
  };
  for (const Case& c : {Case{"2.63", true}, Case{"2.81", false}}) {
    SCOPED_TRACE(c.firmware);
    // The module's waits (a discovery of 3 s, the name reads, the read thread's polls) run on
    // a clock that holds while bytes are on their way, so a slow machine ends none of them.
    testing::PumpedSleeve s(sleeveNamed("Pellan Pro", c.firmware));
    auto& bench = s.bench;
    ASSERT_TRUE(s.connected);
    bench.sleeve->withBT301([](SimulatedBT301& m) {
      m.remotes = {{"0001020304AB", "PP-750", "5A020C", SimulatedBT301::Pairing::Pin, "0000"},
                   {"000A0B0C0D0E", "", "5A020C", SimulatedBT301::Pairing::None, ""}};
    });
    auto& pellan = *bench.pellan;
    ASSERT_EQ(pellan.btInputStream(), std::static_pointer_cast<btModule>(pellan.bt301Module()));
    EXPECT_FALSE(pellan.bt301ReadThreadActive());

    // A device whose name cannot be read is dropped from the results.
    Error e;
    auto found = pellan.btDiscoverDevices(5, 3.0, 0x600, &e);
    ASSERT_TRUE(found) << e.text;
    EXPECT_EQ(*found, (std::vector<std::string>{"0001020304AB"}));
    EXPECT_EQ(pellan.btGetDeviceName("0001020304AB"), "PP-750");
    EXPECT_EQ(pellan.bt301ReadThreadActive(), c.polled);

    ASSERT_TRUE(pellan.btConnect("00:01:02:03:04:AB", "0000", &e)) << e.text;
    bool connected = false;
    ASSERT_TRUE(pellan.btGetConnected(&connected));
    EXPECT_TRUE(connected);

    // Data both ways through the link.
    ASSERT_TRUE(pellan.btWrite("ticket\r\n", &e)) << e.text;
    EXPECT_EQ(bench.sleeve->withBT301([](SimulatedBT301& m) { return m.remoteReceived; }), "ticket\r\n");
    bench.sleeve->bt301Sends(bench.sleeve->withBT301([](SimulatedBT301& m) { return m.remoteSends("paper out\r\n"); }));
    EXPECT_EQ(pellan.btReadLine(5.0), "paper out");

    // The radio link drops: the module's event ends it on the host side.
    bench.sleeve->bt301Sends(bench.sleeve->withBT301([](SimulatedBT301& m) { return m.loseLink(); }));
    ASSERT_TRUE(bench.runUntil([&] {
      bool c = true;
      pellan.btGetConnected(&c);
      return !c;
    }));
    EXPECT_EQ(bench.sleeve->bt301Polls() > 0, c.polled);

    // Switching the module off stops the read thread.
    ASSERT_TRUE(pellan.bt301Module()->btSetEnabled(false));
    EXPECT_TRUE(bench.runUntil([&] { return !pellan.bt301ReadThreadActive(); }));
    EXPECT_FALSE(bench.sleeve->withBT301([](SimulatedBT301& m) { return m.powered; }));
    GlobalQueue::waitIdle();
  }
}

// The module's commands go out at most 240 bytes at a time; the sleeve's count is the caller's.
TEST(PellanBluetooth, ModuleWritesAreCutTo240Bytes) {
  devices::SleeveTestBench bench;
  ASSERT_TRUE(bench.connect());
  ASSERT_TRUE(bench.pellan->_bt301SetEnabled(true, nullptr));
  std::string text(300, 'A');
  int length = 300;
  Error e;
  ASSERT_TRUE(bench.pellan->_bt301Write(reinterpret_cast<const uint8_t*>(text.data()), &length, &e)) << e.text;
  EXPECT_EQ(length, 240);
  EXPECT_TRUE(bench.pellan->_bt301EnableDataMode(&e)) << e.text;
  ASSERT_TRUE(bench.pellan->_bt301SetEnabled(false, nullptr));
  EXPECT_TRUE(bench.runUntil([&] { return !bench.pellan->bt301ReadThreadActive(); }));
}

// A sleeve whose module reports itself inactive is woken with a scan start and stop, and the
// power-on is asked once more.
TEST(PellanBluetooth, AnInactiveModuleIsWokenByAScanAndAskedAgain) {
  devices::SleeveTestBench bench;
  ASSERT_TRUE(bench.connect());
  bench.sleeve->setBT301Inactive(true);
  Error e;
  ASSERT_TRUE(bench.pellan->_bt301SetEnabled(true, &e)) << e.text;
  EXPECT_EQ(bench.sleeve->withProtocol([](devices::SleeveProtocol& p) { return p.scanStarts; }), 1);
  EXPECT_FALSE(bench.sleeve->withProtocol([](devices::SleeveProtocol& p) { return p.scanning; }));
  ASSERT_TRUE(bench.pellan->_bt301SetEnabled(false, nullptr));
  EXPECT_TRUE(bench.runUntil([&] { return !bench.pellan->bt301ReadThreadActive(); }));
}

}  // namespace
}  // namespace kestra

namespace kestra {
namespace {

// The sleeve's link-ended events (5 and 6) end the link of the module in use, also when that
// is the AT-command module rather than the sleeve's own.
TEST(PellanBluetooth, LinkEndEventsReachTheModuleInUse) {
  for (const Bytes& event : {Bytes{5}, Bytes{6}}) {
    SCOPED_TRACE(int(event[0]));
    // The module's waits run on a clock that holds while bytes are on their way, so a slow
    // machine ends none of them.
    testing::PumpedSleeve s(sleeveNamed("Pellan Pro", "2.81"));
    auto& bench = s.bench;
    bench.sleeve->withBT301([](SimulatedBT301& m) {
      m.remotes = {{"0001020304AB", "PP-750", "5A020C", SimulatedBT301::Pairing::Pin, "0000"}};
    });
    ASSERT_TRUE(s.connected);
    auto& pellan = *bench.pellan;
    Error e;
    ASSERT_TRUE(pellan.btConnect("00:01:02:03:04:AB", "0000", &e)) << e.text;
    ASSERT_EQ(pellan.bt301Module()->btConnectedDevices(), std::vector<std::string>{"0001020304AB"});

    bench.sleeve->sendBluetoothEvent(event);
    ASSERT_TRUE(bench.runUntil([&] { return pellan.bt301Module()->btConnectedDevices().empty(); }));
    bool connected = true;
    ASSERT_TRUE(pellan.btGetConnected(&connected));
    EXPECT_FALSE(connected);
    GlobalQueue::waitIdle();
  }
}

}  // namespace
}  // namespace kestra
