#include <gtest/gtest.h>

#include <string>

#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/device/PellanSleeve.h"
#include "testing/devices/printer/SimulatedPrinter.h"
#include "testing/devices/sleeve/SleeveTestBench.h"

namespace kestra::testing {
namespace {

bool contains(const Bytes& data, const std::string& text) {
  return std::search(data.begin(), data.end(), text.begin(), text.end()) != data.end();
}

TEST(KXDevicesLinks, ATcpPrinterPrintsThroughTheDeviceApi) {
  devices::NetworkPrinter net;
  ASSERT_TRUE(net.start());
  devices::SleeveTestBench bench;
  auto api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get()));

  // A host with a third part is not a host and port: port 9100 is tried, nothing listens.
  const std::string target = devices::StreamPairPeer::host() + ":" + std::to_string(net.port());
  EXPECT_FALSE(api->tcpConnectSupportedDevice(target + ":1"));
  EXPECT_TRUE(api->tcpConnectedDevices().empty());

  ASSERT_TRUE(api->tcpConnectSupportedDevice(target));
  EXPECT_EQ(api->tcpConnectedDevices(), std::vector<std::string>{devices::StreamPairPeer::host()});
  EXPECT_EQ(api->printer().connectionType(), 1);
  ASSERT_TRUE(bench.runUntil([&] { return api->connstate() == CONN_CONNECTED; }));

  Error e;
  ASSERT_TRUE(api->prnPrintText("Hello over TCP", &e)) << e.text;
  ASSERT_TRUE(bench.runUntil([&] { return contains(net.model().printData(), "Hello over TCP"); }));

  // Leaving the link drops it and asks the printer's accessory side to connect again.
  EXPECT_TRUE(api->tcpDisconnect(""));
  EXPECT_TRUE(api->tcpConnectedDevices().empty());
  EXPECT_NE(api->printer().connstate(), CONN_CONNECTED);
}

TEST(KXDevicesLinks, BluetoothRoutingFollowsEachCallsCandidates) {
  ApiFixture f;
  Error e;
  EXPECT_FALSE(f.api->btConnect("001122334455", "", &e));
  EXPECT_EQ(e.code, -20);

  // The pinpad is no candidate for pinpad discovery; the fakes have no module behind them.
  f.pinpadState(2);
  EXPECT_FALSE(f.api->btDiscoverPinpadsInBackground(&e));
  EXPECT_EQ(e.code, -7);
  EXPECT_TRUE(f.api->btConnectedDevices().empty());
  EXPECT_FALSE(f.api->btGetLocalAddress(&e));
  EXPECT_EQ(e.code, -7);
}

TEST(KXDevicesLinks, TheSerialAdapterAnswersEnabledWithoutACommand) {
  ApiFixture f;
  f.drivers.adapter->up = true;
  f.api->carvikConnected();
  bool enabled = false;
  ASSERT_TRUE(f.api->btGetEnabled(&enabled));
  EXPECT_TRUE(enabled);
}

}  // namespace
}  // namespace kestra::testing
