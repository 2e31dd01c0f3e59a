#include <gtest/gtest.h>

#include "sdk/sleeve/Pellan.h"
#include "sdk/transport/GlobalQueue.h"
#include "sdk/transport/bluetooth/btUniversal.h"
#include "testing/devices/sleeve/SleeveTestBench.h"

namespace kestra {
namespace {

using devices::SimulatedBluetoothModule;

// The sleeve's own module, driven with module commands and finished by the sleeve's events.
TEST(PellanBluetooth, DiscoveryConnectAndLinkLossRunThroughTheSleevesModule) {
  devices::SleeveTestBench bench;
  bench.sleeve->withBluetooth([](SimulatedBluetoothModule& m) {
    m.remotes = {{{0x00, 0x01, 0x02, 0x03, 0x04, 0x05}, "PP-750"},
                 {{0x00, 0x0A, 0x0B, 0x0C, 0x0D, 0x0E}, "Kitchen printer", false}};
  });
  ASSERT_TRUE(bench.connect());
  auto& pellan = *bench.pellan;

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

}  // namespace
}  // namespace kestra
