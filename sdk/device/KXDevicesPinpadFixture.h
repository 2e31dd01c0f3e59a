#pragma once
// The device API and the facade over the real pinpad driver and a simulated pinpad, for the
// tests of this folder.

#include <memory>

#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/device/OKTKXDevices.h"
#include "sdk/device/PellanSleeve.h"
#include "sdk/pinpad/PPad.h"
#include "sdk/sleeve/Pellan.h"
#include "testing/devices/pinpad/PinpadTestBench.h"

namespace kestra::testing {

struct PinpadFixture {
  devices::PinpadTestBench bench;
  std::shared_ptr<Pellan> pellan = Pellan::create(*bench.bench.manager);
  std::shared_ptr<KXDevices> api =
      KXDevices::create(makePellanDriverFactory(pellan, bench.bench.manager.get(), bench.pad));
  std::shared_ptr<OKTKXDevices> facade =
      OKTKXDevices::create(api, std::make_shared<KXChargingCaseStandIn>(), std::make_shared<KXDeviceAgentStandIn>());
  std::shared_ptr<CallLog> app = std::make_shared<CallLog>();
  std::shared_ptr<RecordingDelegate> delegate = std::make_shared<RecordingDelegate>(
      app, "app",
      std::vector<std::string_view>{kxsel::connectionState, kxsel::barcodeData_type, kxsel::deviceButtonPressed});

  PinpadFixture() { facade->addDelegate(delegate); }
  bool connect(devices::PinpadPersona persona = devices::PinpadPersona::skyrik5000g()) {
    bench.device = &bench.bench.attach<devices::SimulatedPinpad>(devices::SimulatedPinpad::identityFor("SKYRIK5000G"),
                                                                 std::move(persona));
    facade->connect();
    return bench.runUntil(
        [&] { return bench.identified() && api->connstate() == 2 && app->count("app:connectionState:2") == 1; });
  }
};

}  // namespace kestra::testing
