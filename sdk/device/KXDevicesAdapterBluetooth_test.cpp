// The serial adapter's Bluetooth radio through the real facade, device API, adapter driver
// and a simulated adapter on a pseudo-terminal (opened as a serial accessory): discovery
// results and completion reach the application's delegates, link ends reach the device
// API's, the link's data path is a stream pair, and a printer behind the link is connected
// as a supported device and prints.
#include <gtest/gtest.h>

#include <stdlib.h>

#include <algorithm>
#include <filesystem>
#include <fstream>
#include <nlohmann/json.hpp>

#include "platform/accessory/AccessoryManager.h"
#include "platform/foundation/UserDefaults.h"
#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/device/OKTKXDevices.h"
#include "sdk/device/PellanSleeve.h"
#include "sdk/pinpad/PPad.h"
#include "sdk/sleeve/Pellan.h"
#include "sdk/transport/GlobalQueue.h"
#include "sdk/transport/KXUNISDKCommRunLoop.h"
#include "testing/devices/hub/SimulatedSerialAdapter.h"
#include "testing/devices/printer/PrinterModel.h"

namespace kestra::testing {
namespace {

namespace fs = std::filesystem;
using devices::FrameCommandDevice;
using devices::HostFrame;

class BluetoothDelegate final : public devices::RecordingDelegate<KXDeviceDelegate> {
 public:
  BluetoothDelegate(std::shared_ptr<devices::CallRecorder> log, std::string tag)
      : devices::RecordingDelegate<KXDeviceDelegate>(std::move(log), std::move(tag)) {
    declare({kxsel::bluetoothDeviceDiscovered, kxsel::bluetoothDiscoverComplete, kxsel::bluetoothDeviceDisconnected});
  }
  void bluetoothDeviceDiscovered(const std::string& address, const std::string& name) override {
    record("found:" + address + ":" + name, false);
  }
  void bluetoothDiscoverComplete(bool success) override {
    record(std::string("complete:") + (success ? "yes" : "no"), false);
  }
  void bluetoothDeviceDisconnected(const OptText& address) override {
    record("disconnected:" + address.value_or("nil"), false);
  }
};

// The facade over the real drivers, with a Bluetooth serial adapter attached; the user
// defaults in a folder of the test's own.
struct AdapterApiFixture {
  devices::SimulatedSerialAdapter sim;
  fs::path dir;
  std::unique_ptr<accessory::AccessoryManager> registry;
  std::unique_ptr<KXUNISDKCommRunLoop> comm;
  std::shared_ptr<EAManager> manager;
  std::shared_ptr<KXDevices> api;
  std::shared_ptr<OKTKXDevices> facade;
  std::shared_ptr<devices::CallRecorder> log = std::make_shared<devices::CallRecorder>();
  std::shared_ptr<BluetoothDelegate> app = std::make_shared<BluetoothDelegate>(log, "app:");
  std::shared_ptr<BluetoothDelegate> apiDelegate = std::make_shared<BluetoothDelegate>(log, "api:");

  AdapterApiFixture() {
    std::string tmpl = (fs::temp_directory_path() / "kestra-adapter-bt-XXXXXX").string();
    dir = mkdtemp(tmpl.data());
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    foundation::UserDefaults::resetStandard();
    const fs::path config = dir / "serial-accessories.json";
    nlohmann::json j = {{"accessories",
                         {{{"name", "Carvik Adapter"},
                           {"modelNumber", "B"},
                           {"serialNumber", "C42"},
                           {"firmwareRevision", "1.24.0"},
                           {"protocolStrings", {"com.sabrel.carvik.communication"}},
                           {"devices", {sim.slavePath()}},
                           {"baudRate", 115200}}}}};
    std::ofstream(config) << j.dump();
    registry = std::make_unique<accessory::AccessoryManager>(dir / "accessories", config);
    comm = std::make_unique<KXUNISDKCommRunLoop>();
    manager = EAManager::create(*registry, *comm);
    api = KXDevices::create(makePellanDriverFactory(Pellan::create(*manager), manager.get(), PPad::create(*manager)));
    facade = OKTKXDevices::create(api, std::make_shared<KXChargingCaseStandIn>(), std::make_shared<KXDeviceAgentStandIn>());
    facade->addDelegate(app);
    api->addDelegate(apiDelegate);
  }
  ~AdapterApiFixture() {
    // No search starts any more, and the manager stops hearing this registry, whose address
    // the next fixture's registry may take.
    manager->disconnect();
    manager->onUnregister();
    for (const auto& s : manager->devices()) s->disconnect();
    pump([&] { return GlobalQueue::running() == 0 && comm->requestCounter() == 0; });
    // The drivers' streams close on the run-loop thread's loop: they go before it does.
    facade.reset();
    api.reset();
    manager.reset();
    comm.reset();
    registry.reset();
    ::unsetenv("XDG_CONFIG_HOME");
    foundation::UserDefaults::resetStandard();
    std::error_code ec;
    fs::remove_all(dir, ec);
  }
  static bool pump(const std::function<bool()>& c) {
    return foundation::RunLoop::main().runUntil(c, std::chrono::milliseconds(20000));
  }
  bool connect() {
    pump([&] { return registry->connectedAccessories().size() == 1; });
    facade->connect();
    return pump([&] { return api->getConnectedDeviceInfo(DEVICE_TYPE_SERIAL_ADAPTER) != nullptr; });
  }
  bool heard(const std::string& line) { return log->waitForLine(line); }
};

const Bytes kPrinterAddress{0x00, 0xA0, 0xB1, 0xC2, 0xD3, 0xE4};

TEST(AdapterBluetooth, DiscoveryAndLinkEndsReachTheDelegates) {
  AdapterApiFixture f;
  ASSERT_TRUE(f.connect());
  f.sim.setDiscovered({{kPrinterAddress, "Receipt KXP-80"}, {{0x11, 0x22, 0x33, 0x44, 0x55, 0x66}, "Headset"}});
  Error e;
  ASSERT_TRUE(f.facade->btDiscoverDevicesInBackground(10, 5.0, 0, &e)) << e.text;
  EXPECT_TRUE(f.heard("app:found:00A0B1C2D3E4:Receipt KXP-80"));
  EXPECT_TRUE(f.heard("app:found:112233445566:Headset"));
  EXPECT_TRUE(f.heard("app:complete:yes"));
  EXPECT_TRUE(f.heard("api:complete:yes"));

  // A discovery for printers reports only the printer, and a discovery that times out
  // completes without success.
  f.log->clear();
  f.sim.setDiscovered({{kPrinterAddress, "Receipt KXP-80"}, {{0x11, 0x22, 0x33, 0x44, 0x55, 0x66}, "Headset"}}, true);
  ASSERT_TRUE(f.facade->btDiscoverPrintersInBackground(&e)) << e.text;
  EXPECT_TRUE(f.heard("app:complete:no"));
  EXPECT_EQ(f.log->count("app:found:00A0B1C2D3E4:Receipt KXP-80"), 1u);
  EXPECT_EQ(f.log->count("app:found:112233445566:Headset"), 0u);

  // A link the application ends, and a link the remote device loses: each is told once, to
  // the device API's delegates (the facade passes no disconnection on).
  struct Case {
    const char* name;
    std::function<void(AdapterApiFixture&)> end;
  };
  const Case cases[] = {
      {"disconnected by the application", [](AdapterApiFixture& g) { EXPECT_TRUE(g.facade->btDisconnect("00A0B1C2D3E4")); }},
      {"lost", [](AdapterApiFixture& g) { g.sim.loseLink(); }},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    f.log->clear();
    ASSERT_TRUE(f.facade->btConnect("00a0b1c2d3e4", "0000", &e)) << e.text;
    EXPECT_EQ(f.facade->btConnectedDevices(), std::vector<std::string>{"00A0B1C2D3E4"});
    c.end(f);
    EXPECT_TRUE(f.heard("api:disconnected:nil"));
    EXPECT_TRUE(f.pump([&] { return f.facade->btConnectedDevices().empty(); }));
    EXPECT_EQ(f.log->count("api:disconnected:nil"), 1u);
    EXPECT_EQ(f.log->count("app:disconnected:nil"), 0u);
  }
}

// A receipt printer at the far end of the adapter's link.
struct RemotePrinter {
  std::shared_ptr<devices::PrinterModel> model =
      std::make_shared<devices::PrinterModel>(devices::PrinterPersona::receipt());
  std::shared_ptr<FrameCommandDevice> frames = std::make_shared<FrameCommandDevice>(model->parser());
  RemotePrinter() { frames->onOther([m = model](const HostFrame& fr) { return m->handle(fr); }); }
  devices::SimulatedSerialAdapter::RemoteDevice device() const {
    return [fr = frames](const Bytes& written) {
      Bytes out;
      for (const auto& o : fr->feed(0, written.data(), written.size())) out.insert(out.end(), o.bytes.begin(), o.bytes.end());
      return out;
    };
  }
  bool printed(const std::string& text) const {
    const Bytes all = model->printData();
    return std::search(all.begin(), all.end(), text.begin(), text.end()) != all.end();
  }
};

TEST(AdapterBluetooth, APrinterBehindTheAdaptersLinkIsConnectedAsASupportedDeviceAndPrints) {
  AdapterApiFixture f;
  // Without a device to route to there is no data path.
  EXPECT_EQ(f.facade->btInputStream(), nullptr);
  EXPECT_EQ(f.facade->btOutputStream(), nullptr);
  ASSERT_TRUE(f.connect());
  EXPECT_NE(f.facade->btInputStream(), nullptr);
  EXPECT_NE(f.facade->btOutputStream(), nullptr);

  RemotePrinter printer;
  f.sim.setRemoteDevice(printer.device());
  Error e;
  ASSERT_TRUE(f.facade->btConnectSupportedDevice("00A0B1C2D3E4", "0000", &e)) << e.text;
  EXPECT_TRUE(f.pump([&] { return f.api->getConnectedDeviceInfo(DEVICE_TYPE_PRINTER) != nullptr; }));
  EXPECT_GT(printer.frames->framesOf(devices::kAnyCommand), 0u);  // identified over the link
  const auto known = foundation::UserDefaults::standard().dictionaryForKey("__SDK__bluetoothDevices");
  ASSERT_TRUE(known);
  EXPECT_EQ(known->value("00A0B1C2D3E4", ""), "printer");

  ASSERT_TRUE(f.facade->prnPrintText("Printed over the adapter", &e)) << e.text;
  EXPECT_TRUE(f.pump([&] { return printer.printed("Printed over the adapter"); }));
}

}  // namespace
}  // namespace kestra::testing
