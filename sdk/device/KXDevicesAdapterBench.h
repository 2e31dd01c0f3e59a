#pragma once
// The facade over the production drivers with a Bluetooth serial adapter ("Carvik Adapter",
// model "B") simulated on a pseudo-terminal that the SDK opens as a serial accessory, for the
// tests of this folder. The user defaults live in a folder of the bench's own, which it
// removes. The main queue is run by the test thread (`pump`).
//
// A recording delegate on the device API and one on the facade hear the adapter's Bluetooth
// events as "api:..." and "app:..." lines ("found:ADDRESS:NAME", "complete:yes" or "no",
// "disconnected:nil").

#include <stdlib.h>

#include <filesystem>
#include <fstream>
#include <functional>
#include <memory>
#include <string>

#include <nlohmann/json.hpp>

#include "platform/accessory/AccessoryManager.h"
#include "platform/foundation/RunLoop.h"
#include "platform/foundation/UserDefaults.h"
#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/device/OKTKXDevices.h"
#include "sdk/device/PellanSleeve.h"
#include "sdk/pinpad/PPad.h"
#include "sdk/sleeve/Pellan.h"
#include "sdk/transport/EAManager.h"
#include "sdk/transport/GlobalQueue.h"
#include "sdk/transport/KXUNISDKCommRunLoop.h"
#include "testing/devices/hub/SimulatedSerialAdapter.h"

namespace kestra::testing {

class AdapterBluetoothDelegate final : public devices::RecordingDelegate<KXDeviceDelegate> {
 public:
  AdapterBluetoothDelegate(std::shared_ptr<devices::CallRecorder> log, std::string tag)
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

struct AdapterBench {
  devices::SimulatedSerialAdapter sim;
  std::filesystem::path dir;
  std::unique_ptr<accessory::AccessoryManager> registry;
  std::unique_ptr<KXUNISDKCommRunLoop> comm;
  std::shared_ptr<EAManager> manager;
  std::shared_ptr<KXDevices> api;
  std::shared_ptr<OKTKXDevices> facade;
  std::shared_ptr<devices::CallRecorder> log = std::make_shared<devices::CallRecorder>();
  std::shared_ptr<AdapterBluetoothDelegate> app = std::make_shared<AdapterBluetoothDelegate>(log, "app:");
  std::shared_ptr<AdapterBluetoothDelegate> apiDelegate = std::make_shared<AdapterBluetoothDelegate>(log, "api:");

  AdapterBench() {
    std::string tmpl = (std::filesystem::temp_directory_path() / "kestra-adapter-XXXXXX").string();
    if (char* made = mkdtemp(tmpl.data())) dir = made;
    ::setenv("XDG_CONFIG_HOME", (dir / "config").c_str(), 1);
    foundation::UserDefaults::resetStandard();
    const std::filesystem::path config = dir / "serial-accessories.json";
    const nlohmann::json j = {{"accessories",
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
  ~AdapterBench() {
    // No search starts any more, and the manager stops hearing this registry, whose address
    // the next bench's registry may take.
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
    std::filesystem::remove_all(dir, ec);
  }
  AdapterBench(const AdapterBench&) = delete;
  AdapterBench& operator=(const AdapterBench&) = delete;

  static bool pump(const std::function<bool()>& c) {
    return foundation::RunLoop::main().runUntil(c, std::chrono::milliseconds(20000));
  }
  // Whether the device API lists the adapter among its connected devices.
  bool listed() const { return api->getConnectedDeviceInfo(DEVICE_TYPE_SERIAL_ADAPTER) != nullptr; }
  // The adapter attached and the facade connected to it.
  bool connect() {
    if (!sim.ok() || !pump([&] { return registry->connectedAccessories().size() == 1; })) return false;
    facade->connect();
    return pump([&] { return listed(); });
  }
  bool heard(const std::string& line) { return log->waitForLine(line); }
};

}  // namespace kestra::testing
