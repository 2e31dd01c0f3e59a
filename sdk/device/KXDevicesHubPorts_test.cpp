// A receipt printer and a pinpad plugged into ports of the USB/serial hub, through the real
// facade, device API, adapters, drivers and hub manager, with the simulated hub carrying a
// simulated printer and a simulated pinpad behind its ports: each is claimed, works as when
// attached directly, and goes when its port is unplugged.
#include <gtest/gtest.h>

#include <algorithm>

#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/device/OKTKXDevices.h"
#include "sdk/device/PellanSleeve.h"
#include "sdk/pinpad/PPad.h"
#include "sdk/sleeve/Pellan.h"
#include "sdk/transport/GlobalQueue.h"
#include "testing/devices/base/AccessoryTestBench.h"
#include "testing/devices/hub/SimulatedHub.h"
#include "testing/devices/pinpad/SimulatedPinpad.h"
#include "testing/devices/printer/PrinterModel.h"

namespace kestra::testing {
namespace {

using devices::FrameCommandDevice;
using devices::HostFrame;
using devices::SimulatedHub;

// A printer behind a hub port: the printer's model answering the frames the port carries.
struct PortPrinter {
  std::shared_ptr<devices::PrinterModel> model =
      std::make_shared<devices::PrinterModel>(devices::PrinterPersona::receipt());
  std::shared_ptr<FrameCommandDevice> frames = std::make_shared<FrameCommandDevice>(model->parser());
  PortPrinter() {
    frames->onOther([m = model](const HostFrame& f) { return m->handle(f); });
  }
  std::string config() const { return "RPX-350|USB|" + model->persona().protocolString(); }
  bool printed(const std::string& text) const {
    const Bytes all = model->printData();
    return std::search(all.begin(), all.end(), text.begin(), text.end()) != all.end();
  }
};

// A pinpad behind a hub port.
struct PortPinpad {
  struct State {
    devices::PinpadModel model{devices::PinpadPersona::skyrik5000g()};
    std::mutex mutex;
    std::atomic<int> badChecks{0};
  };
  std::shared_ptr<State> state = std::make_shared<State>();
  std::shared_ptr<FrameCommandDevice> frames =
      std::make_shared<FrameCommandDevice>(&devices::SimulatedPinpad::parseHostFrame);
  PortPinpad() {
    frames->onOther([s = state](const HostFrame& f) { return devices::answerHostFrame(s->model, s->mutex, f, s->badChecks); });
  }
};

bool listed(OKTKXDevices& facade, int type) {
  for (const auto& info : facade.getConnectedDevicesInfo())
    if (info && info->deviceType == type) return true;
  return false;
}

struct HubPortsFixture {
  devices::AccessoryTestBench bench;
  std::shared_ptr<Pellan> pellan = Pellan::create(*bench.manager);
  std::shared_ptr<PPad> pad = PPad::create(*bench.manager);
  std::shared_ptr<KXDevices> api = KXDevices::create(makePellanDriverFactory(pellan, bench.manager.get(), pad));
  std::shared_ptr<OKTKXDevices> facade =
      OKTKXDevices::create(api, std::make_shared<KXChargingCaseStandIn>(), std::make_shared<KXDeviceAgentStandIn>());
  SimulatedHub* hub = nullptr;

  // The hub, with `before` already plugged into its ports when it attaches.
  bool attachHub(const std::function<void(SimulatedHub&)>& before) {
    hub = &bench.attach<SimulatedHub>(SimulatedHub::identity(), 4);
    before(*hub);
    facade->connect();
    return bench.pumpUntil([&] { return listed(*facade, DEVICE_TYPE_HUB); });
  }
  ~HubPortsFixture() {
    pad->disconnect();
    bench.pumpUntil([] { return GlobalQueue::running() == 0; });
  }
};

TEST(HubPorts, APrinterAndAPinpadOnHubPortsAreClaimedWorkAndGoWithTheirPorts) {
  HubPortsFixture f;
  PortPrinter printer;
  PortPinpad pinpad;
  // The printer is on port 1 when the hub comes; the pinpad is plugged into port 2 later.
  ASSERT_TRUE(f.attachHub([&](SimulatedHub& hub) {
    hub.hostDevice(1, SimulatedHub::framed(printer.frames));
    hub.hostDevice(2, SimulatedHub::framed(pinpad.frames));
    SimulatedHub::Port p;
    p.attached = true;
    p.config = printer.config();
    hub.setPort(1, p);
  }));
  ASSERT_TRUE(f.bench.pumpUntil([&] { return listed(*f.facade, DEVICE_TYPE_PRINTER); }));
  f.hub->plugIn(2, "SKYRIK5000G|USB|com.sabrel.pinpad");
  ASSERT_TRUE(f.bench.pumpUntil([&] { return listed(*f.facade, DEVICE_TYPE_PINPAD); }));
  // One printer: the second printer driver did not take the same port.
  int printers = 0;
  for (const auto& info : f.facade->getConnectedDevicesInfo())
    if (info && info->deviceType == DEVICE_TYPE_PRINTER) ++printers;
  EXPECT_EQ(printers, 1);
  EXPECT_EQ(f.api->connstate(), CONN_CONNECTED);

  // A line printed through the facade reaches the printer on port 1.
  Error e;
  ASSERT_TRUE(f.facade->prnPrintText("Printed through the hub", &e)) << e.text;
  EXPECT_TRUE(f.bench.pumpUntil([&] { return printer.printed("Printed through the hub"); }));

  // A pinpad command through the facade is answered by the pinpad on port 2.
  const size_t before = pinpad.frames->framesOf(devices::kAnyCommand);
  const auto keys = f.facade->ppadGetKeysInfo(&e);
  ASSERT_TRUE(keys) << e.text;
  EXPECT_GT(pinpad.frames->framesOf(devices::kAnyCommand), before);
  EXPECT_EQ(pinpad.state->badChecks.load(), 0);

  // Unplugged, each goes; the hub stays.
  f.hub->unplug(1);
  EXPECT_TRUE(f.bench.pumpUntil([&] { return !listed(*f.facade, DEVICE_TYPE_PRINTER); }));
  f.hub->unplug(2);
  EXPECT_TRUE(f.bench.pumpUntil([&] { return !listed(*f.facade, DEVICE_TYPE_PINPAD); }));
  EXPECT_TRUE(listed(*f.facade, DEVICE_TYPE_HUB));
  f.hub->detach();
  EXPECT_TRUE(f.bench.pumpUntil([&] { return !listed(*f.facade, DEVICE_TYPE_HUB); }));
}

}  // namespace
}  // namespace kestra::testing
