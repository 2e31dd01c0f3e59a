// The device API's classic Bluetooth calls through a connected pinpad's own module: the
// simulated pinpad hosts a simulated BT301 that reaches the simulated remote devices.
#include <gtest/gtest.h>

#include <string>
#include <vector>

#include "platform/foundation/Clock.h"
#include "sdk/device/KXDevicesPinpadFixture.h"
#include "sdk/transport/GlobalQueue.h"
#include "testing/devices/pinpad/PinpadModuleClock.h"

namespace kestra::testing {
namespace {

using devices::PinpadModel;
using devices::SimulatedBT301;

const std::string& kPinpad = devices::kModulePinpad;
const std::string& kNameless = devices::kModuleNameless;
const std::string& kPrinter = devices::kModulePrinter;

// An application that listens to the Bluetooth events.
class BluetoothApp : public devices::RecordingDelegate<KXDeviceDelegate> {
 public:
  explicit BluetoothApp(std::shared_ptr<CallLog> log)
      : devices::RecordingDelegate<KXDeviceDelegate>(
            std::move(log), "",
            {kxsel::bluetoothDiscoverComplete, kxsel::bluetoothDeviceDiscovered, kxsel::bluetoothDeviceConnected,
             kxsel::bluetoothDeviceDisconnected}) {}
  void bluetoothDiscoverComplete(bool ok) override { record("complete:" + std::to_string(ok), false); }
  void bluetoothDeviceDiscovered(const std::string& a, const std::string& n) override {
    record("discovered:" + a + ":" + n, false);
  }
  void bluetoothDeviceConnected(const std::string& a) override { record("connected:" + a, false); }
  void bluetoothDeviceDisconnected(const OptText& a) override { record("disconnected:" + a.value_or("nil"), false); }
};

class KXDevicesPinpadBluetooth : public ::testing::Test {
 protected:
  void SetUp() override {
    f.bench.device =
        &f.bench.bench.attach<devices::SimulatedPinpad>(devices::SimulatedPinpad::identityFor("SKYRIK5000G"));
    time.setDevice(f.bench.device);
    f.bench.device->withModel([](PinpadModel& m) {
      m.btModule.remotes = devices::pinpadModuleRemotes();
    });
    f.api->addDelegate(app);
    f.facade->connect();
    ASSERT_TRUE(time.until([&] { return f.bench.identified() && f.api->connstate() == 2; }));
  }
  void TearDown() override {
    time.until([] { return GlobalQueue::running() == 0; });
  }
  bool heard(const std::string& line) {
    return time.until([&] { return log->count(line) > 0; });
  }
  std::string remoteReceived() {
    return f.bench.device->withModel([](PinpadModel& m) { return m.btModule.remoteReceived; });
  }

  foundation::ScopedManualClock clock;
  PinpadFixture f;
  devices::PinpadModuleClock time{*clock, *f.bench.pad};
  std::shared_ptr<CallLog> log = std::make_shared<CallLog>();
  std::shared_ptr<BluetoothApp> app = std::make_shared<BluetoothApp>(log);
};

TEST_F(KXDevicesPinpadBluetooth, DiscoveryInTheForegroundAndInTheBackground) {
  Error e;
  const auto found = time.run([&] { return f.api->btDiscoverDevices(10, 5.0, 0x600, &e); });
  ASSERT_TRUE(found) << e.text;
  EXPECT_EQ(*found, (std::vector<std::string>{kPinpad, kPrinter}));
  EXPECT_EQ(f.api->btGetDeviceName(kPrinter, &e), "Counter KXP-58");
  EXPECT_EQ(f.api->btGetDeviceName(kPinpad, &e), "PP-750");
  EXPECT_FALSE(f.api->btGetDeviceName(kNameless, &e));  // the pinpad's "No Data"
  EXPECT_EQ(e.code, -16508);
  bool enabled = false;
  ASSERT_TRUE(f.api->btGetEnabled(&enabled, &e));
  EXPECT_TRUE(enabled);

  // The results of a background discovery reach the application through the device API.
  ASSERT_TRUE(f.api->btDiscoverDevicesInBackground(5, 3.0, 0, &e));
  ASSERT_TRUE(heard("complete:1"));
  EXPECT_EQ(log->count("discovered:" + kPinpad + ":PP-750"), 1u);
  EXPECT_EQ(log->count("discovered:" + kPrinter + ":Counter KXP-58"), 1u);
}

TEST_F(KXDevicesPinpadBluetooth, APrinterIsConnectedWrittenReadAndLeft) {
  Error e;
  EXPECT_FALSE(time.run([&] { return f.api->btConnect(kPrinter, "0000", &e); }));
  EXPECT_EQ(e.code, -16516);  // the pinpad's "Hardware Error"
  ASSERT_TRUE(time.run([&] { return f.api->btConnect(kPrinter, "1234", &e); })) << e.text;
  ASSERT_TRUE(heard("connected:" + kPrinter));
  EXPECT_EQ(f.api->btConnectedDevices(), std::vector<std::string>{kPrinter});

  const uint8_t raw[] = {0x1B, 0x40, 0x00, 0xFF};
  ASSERT_TRUE(f.api->btWrite(raw, 4, &e)) << e.text;
  ASSERT_TRUE(f.api->btWrite(std::string("TOTAL 12.50\r\n"), &e)) << e.text;
  EXPECT_EQ(remoteReceived(), std::string("\x1B\x40\x00\xFF", 4) + "TOTAL 12.50\r\n");

  f.bench.device->withBluetoothModule([](SimulatedBT301& s) { return s.remoteSends("READY\r\nOK"); });
  EXPECT_EQ(f.api->btReadLine(5.0, &e), "READY");
  uint8_t buffer[8] = {};
  ASSERT_EQ(f.api->btRead(buffer, 2, 5.0, &e), 2);
  EXPECT_EQ(std::string(reinterpret_cast<char*>(buffer), 2), "OK");
  EXPECT_FALSE(time.run([&] { return f.api->btReadLine(0.5, &e); }));
  EXPECT_EQ(e.code, -6);
  EXPECT_EQ(e.text, "Timeout reading data from bluetooth device");

  ASSERT_TRUE(time.run([&] { return f.api->btDisconnect(kPrinter, &e); }));
  ASSERT_TRUE(heard("disconnected:" + kPrinter));
  EXPECT_TRUE(f.api->btConnectedDevices().empty());
  EXPECT_FALSE(f.bench.device->withModel([](PinpadModel& m) { return m.btModule.dataMode; }));
}

TEST_F(KXDevicesPinpadBluetooth, ALinkLostOnTheRadioSideReachesTheApplication) {
  Error e;
  ASSERT_TRUE(time.run([&] { return f.api->btConnect(kPinpad, "", &e); })) << e.text;
  ASSERT_TRUE(heard("connected:" + kPinpad));
  f.bench.device->withBluetoothModule([](SimulatedBT301& s) { return s.loseLink(); });
  ASSERT_TRUE(heard("disconnected:" + kPinpad));
  EXPECT_TRUE(f.api->btConnectedDevices().empty());
  // The pinpad driver's own delegates heard it too.
  EXPECT_EQ(f.bench.delegate->log().count("bluetoothDeviceDisconnected:" + kPinpad), 1u);
}

}  // namespace
}  // namespace kestra::testing
