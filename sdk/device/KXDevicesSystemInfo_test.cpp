// System settings of the attached device, the hub's calls and the records of the connected
// devices, through the facade as an application makes them: routing by each call's driver
// list over fakes, the pinpad's event mask, the hub's ports on the simulated hub, and the
// records of a simulated sleeve with two simulated printers.

#include <gtest/gtest.h>

#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/device/PellanSleeve.h"
#include "testing/devices/base/JoiningThread.h"
#include "testing/devices/hub/SimulatedHub.h"
#include "testing/devices/printer/SimulatedPrinter.h"
#include "testing/devices/sleeve/SleeveTestBench.h"

namespace kestra::testing {
namespace {

// The device API over fakes behind a facade.
struct FacadeFixture : ApiFixture {
  std::shared_ptr<OKTKXDevices> facade =
      OKTKXDevices::create(api, std::make_shared<KXChargingCaseStandIn>(), std::make_shared<KXDeviceAgentStandIn>());
};

TEST(KXDevicesSystem, PowerOffGoesToTheSleeveThenThePinpadThenThePrinter) {
  struct Case {
    const char* name;
    bool sleeve, pinpad, printer;
    int active;
    const char* line;  // nullptr: refused
    int code;
  } cases[] = {
      {"sleeve and pinpad", true, true, false, -1, "sleeve.sysPowerOff", 0},
      {"pinpad and printer", false, true, true, -1, "pinpad.sysTurnOff", 0},
      {"only a printer", false, false, true, -1, "printer0.turnOff", 0},
      {"the pinpad chosen", true, true, false, 2, "pinpad.sysTurnOff", 0},
      {"nothing", false, false, false, -1, nullptr, -20},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.name);
    FacadeFixture f;
    if (c.sleeve) f.sleeveState(2);
    if (c.pinpad) f.pinpadState(2);
    if (c.printer) f.printerState(0, 2);
    if (c.active >= 0) {
      ASSERT_TRUE(f.facade->setActiveDeviceType(c.active));
    }
    Error e;
    EXPECT_EQ(f.facade->sysPowerOff(&e), c.line != nullptr);
    if (c.line) {
      EXPECT_EQ(f.drivers.log->count(c.line), 1u);
    }
    EXPECT_EQ(e.code, c.code);
  }

  // An explicit type is not tested against the connection: the sleeve, chosen while it was
  // connected, gets the call after it left (until the fall-back to automatic is reported).
  FacadeFixture f;
  f.sleeveState(2);
  f.pinpadState(2);
  ASSERT_TRUE(f.facade->setActiveDeviceType(DEVICE_TYPE_SLEEVE));
  f.drivers.sleeve->state = 0;
  EXPECT_TRUE(f.facade->sysPowerOff());
  EXPECT_EQ(f.drivers.log->count("sleeve.sysPowerOff"), 1u);
}

TEST(KXDevicesSystem, SettingsCallsReachTheirOneDriver) {
  FacadeFixture f;
  // Nothing connected: -20, and the development-unit test answers NO without an error.
  Error e;
  EXPECT_FALSE(f.facade->sysSaveSettingsToFlash(&e));
  EXPECT_EQ(e.code, -20);
  e = Error();
  EXPECT_FALSE(f.facade->sysIsDevelopmentUnit());

  f.sleeveState(2);
  f.pinpadState(2);
  EXPECT_TRUE(f.facade->sysSaveSettingsToFlash());
  EXPECT_TRUE(f.facade->sysEnterPassThrough());
  EXPECT_TRUE(f.api->sysMute());
  double seconds = 0;
  EXPECT_TRUE(f.facade->getTimeRemainingToPowerOff(&seconds));
  EXPECT_EQ(seconds, 120.5);  // the sleeve comes first
  EXPECT_TRUE(f.facade->sysSetBatteryWarningLevelPercent(15));
  EXPECT_EQ(f.drivers.log->count("pinpad.sysSetBatteryWarningLevelPercent:15"), 1u);
  f.drivers.pinpad->developmentUnit = true;
  EXPECT_TRUE(f.facade->sysIsDevelopmentUnit());
  const auto when = std::chrono::system_clock::time_point(std::chrono::seconds(1'700'000'000));
  EXPECT_TRUE(f.facade->rtcSetDeviceDate(when));
  EXPECT_EQ(f.facade->rtcGetDeviceDate(), when);
  // The elapsed milliseconds of a test that the fake answers at once.
  EXPECT_LT(f.api->sysCommTest(10, 100), 60'000u);
  EXPECT_EQ(f.drivers.log->count("pinpad.commTest:10:100"), 1u);

  // A pinpad status becomes its error; the answer is left alone.
  f.drivers.pinpad->status = 5;
  seconds = 7;
  ASSERT_TRUE(f.facade->setActiveDeviceType(DEVICE_TYPE_PINPAD));
  EXPECT_FALSE(f.facade->getTimeRemainingToPowerOff(&seconds, &e));
  EXPECT_EQ(e.code, -16505);
  EXPECT_EQ(seconds, 7);
  EXPECT_FALSE(f.facade->rtcGetDeviceDate(&e));
  EXPECT_EQ(f.api->sysCommTest(1, 1, &e), 0u);
  EXPECT_EQ(e.code, -16505);
  // The sleeve-only calls are not the pinpad's.
  EXPECT_FALSE(f.facade->sysEnterPassThrough(&e));
  EXPECT_EQ(e.code, -7);
}

TEST(KXDevicesSystem, EventFlagsBecomeThePinpadsEventMask) {
  FacadeFixture f;
  f.pinpadState(2);
  const uint32_t expected[8] = {0xFFFFFE21, 0xFFFFFFA1, 0xFFFFFE61, 0xFFFFFFE1,
                                0xFFFFFE3F, 0xFFFFFFBF, 0xFFFFFE7F, 0xFFFFFFFF};
  for (int flags = 0; flags < 8; ++flags) {
    SCOPED_TRACE(flags);
    ASSERT_TRUE(f.facade->sysEnableEvents(flags));
    EXPECT_EQ(f.drivers.pinpad->events, expected[flags]);
  }
  // A pinpad that refuses the mask is a failure, not a success.
  f.drivers.pinpad->status = 3;
  Error e;
  EXPECT_FALSE(f.facade->sysEnableEvents(7, &e));
  EXPECT_EQ(e.code, -16503);
}

TEST(KXDevicesRecords, LookupsByTypeAndIndex) {
  FacadeFixture f;
  struct Case {
    const char* name;
    int type, index;
    const char* text;
  };
  // Nothing connected yet.
  const Case empty[] = {
      {"automatic with nothing", -1, 0, "No such device exists"},
      {"type 4", 4, 0, "No such device exists"},
      {"type 9", 9, 0, "No such device exists"},
      {"a negative type", -2, 0, "No such device exists"},
      {"a sleeve that is not there", 0, 0, "No such device connected"},
      {"a keyboard that is not there", 8, 0, "No such device connected"},
  };
  for (const auto& c : empty) {
    SCOPED_TRACE(c.name);
    Error e;
    EXPECT_FALSE(f.api->getConnectedDeviceInfo(c.type, c.index, &e));
    EXPECT_EQ(e.code, -16);
    EXPECT_EQ(e.text, c.text);
  }
  EXPECT_TRUE(f.facade->getConnectedDevicesInfo().empty());

  f.pinpadState(2);
  f.printerState(0, 2);
  const Case wrongIndex[] = {
      {"a pinpad at index 1", 2, 1, "No such device connected"},
      {"a printer at index 2", 1, 2, "No such device connected"},
      {"a printer at index -1", 1, -1, "No such device connected"},
      {"the second printer, not connected", 1, 1, "No such device connected"},
  };
  for (const auto& c : wrongIndex) {
    SCOPED_TRACE(c.name);
    Error e;
    EXPECT_FALSE(f.api->getConnectedDeviceInfo(c.type, c.index, &e));
    EXPECT_EQ(e.code, -16);
    EXPECT_EQ(e.text, c.text);
  }
  // The first connected device answers for the automatic type; the record keeps -1.
  const auto any = f.facade->getConnectedDeviceInfo(-1);
  ASSERT_TRUE(any);
  EXPECT_EQ(any->deviceType, -1);
  EXPECT_EQ(any->name, "printer0");
  const auto pad = f.facade->getConnectedDeviceInfo(2);
  ASSERT_TRUE(pad);
  EXPECT_EQ(pad->model, "pinpad model");
  EXPECT_EQ(pad->serialNumberCPU, (Bytes{0xC0, 0xFF, 0xEE}));
}

TEST(KXDevicesRecords, HubReadersAreNamedByKindOrByTheirUSBStrings) {
  FacadeFixture f;
  f.drivers.barcodeHID->up = true;
  f.drivers.keyboard->up = true;
  f.drivers.magtek->up = true;
  TrelmoUSBDeviceDescriptor usb;
  usb.iManufacturer = "Swipe Co";
  usb.iSerialNumber = "SN-1";
  f.drivers.magtek->descriptor = usb;
  f.api->connectionState(0);

  const auto hid = f.facade->getConnectedDeviceInfo(DEVICE_TYPE_HID_BARCODE);
  ASSERT_TRUE(hid);
  EXPECT_EQ(hid->name, "HID Barcode");
  EXPECT_EQ(hid->model, "");
  EXPECT_EQ(hid->firmwareRevision, "");
  EXPECT_EQ(hid->hardwareRevision, "");
  EXPECT_EQ(hid->serialNumber, "");
  EXPECT_EQ(hid->connectionType, 0);
  const auto msr = f.facade->getConnectedDeviceInfo(DEVICE_TYPE_USB_MSR);
  ASSERT_TRUE(msr);
  EXPECT_EQ(msr->name, "Swipe Co");
  EXPECT_EQ(msr->model, "");  // no product string
  EXPECT_EQ(msr->serialNumber, "SN-1");
  const auto keyboard = f.api->getConnectedDeviceInfo(DEVICE_TYPE_USB_KEYBOARD, 0, nullptr);
  ASSERT_TRUE(keyboard);
  EXPECT_EQ(keyboard->name, "HID Keyboard");
  // The list asks for the barcode reader and the magnetic reader, not the keyboard.
  std::vector<int> types;
  for (const auto& r : f.facade->getConnectedDevicesInfo()) types.push_back(r->deviceType);
  EXPECT_EQ(types, (std::vector<int>{DEVICE_TYPE_HID_BARCODE, DEVICE_TYPE_USB_MSR}));
  // The automatic type finds the HID barcode reader before the keyboard and the MSR.
  EXPECT_EQ(f.api->getFistConnectedDeviceType(), DEVICE_TYPE_HID_BARCODE);
}

TEST(KXDevicesRecords, ASleeveAndTwoPrintersAreThreeRecordsInOrder) {
  devices::SleeveTestBench bench;
  auto api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get()));
  auto facade =
      OKTKXDevices::create(api, std::make_shared<KXChargingCaseStandIn>(), std::make_shared<KXDeviceAgentStandIn>());
  const auto persona = devices::PrinterPersona::scanner();
  auto persona2 = persona;
  persona2.name = "RPX-260B";
  devices::SimulatedPrinter first(devices::SimulatedPrinter::identityFor(persona), bench.folder, persona);
  devices::SimulatedPrinter second(devices::SimulatedPrinter::identityFor(persona2), bench.folder, persona2);
  ASSERT_TRUE(bench.sleeve->attach());
  ASSERT_TRUE(first.attach());
  ASSERT_TRUE(second.attach());
  ASSERT_TRUE(bench.runUntil([&] { return bench.registry->connectedAccessories().size() == 3; }));
  facade->connect();
  ASSERT_TRUE(bench.runUntil([&] { return facade->getConnectedDevicesInfo().size() == 3; }));
  const auto records = facade->getConnectedDevicesInfo();
  ASSERT_EQ(records.size(), 3u);
  EXPECT_EQ(records[0]->deviceType, DEVICE_TYPE_SLEEVE);
  EXPECT_EQ(records[0]->name, bench.pellan->deviceName());
  EXPECT_EQ(records[1]->deviceType, DEVICE_TYPE_PRINTER);
  EXPECT_EQ(records[2]->deviceType, DEVICE_TYPE_PRINTER);
  // One record per printer slot, each its own printer.
  EXPECT_NE(records[1]->name, records[2]->name);
  const auto second1 = api->getConnectedDeviceInfo(DEVICE_TYPE_PRINTER, 1, nullptr);
  ASSERT_TRUE(second1);
  EXPECT_EQ(second1->name, records[2]->name);
  facade->disconnect();
  bench.runUntil([&] { return api->connstate() == 0; });
}

TEST(KXDevicesHubCalls, PortsChargingAndSerialOfTheSimulatedHub) {
  devices::SleeveTestBench bench;
  auto api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get()));
  auto facade =
      OKTKXDevices::create(api, std::make_shared<KXChargingCaseStandIn>(), std::make_shared<KXDeviceAgentStandIn>());
  Error e;
  EXPECT_FALSE(facade->TrelmoGetPortsInfo(&e));
  EXPECT_EQ(e.code, -20);

  devices::SimulatedHub hub(devices::SimulatedHub::identity(), bench.folder, 3);
  ASSERT_TRUE(hub.attach());
  ASSERT_TRUE(bench.runUntil([&] { return bench.registry->connectedAccessories().size() == 1; }));
  facade->connect();
  ASSERT_TRUE(bench.runUntil([&] { return api->getConnectedDeviceInfo(DEVICE_TYPE_HUB, 0, nullptr) != nullptr; }));

  std::atomic<bool> done{false}, stop{false};
  std::optional<std::vector<TrelmoPortInfo>> ports;
  bool charge = false, apple = false, serial = false, config = false;
  int current = 0;
  {
    devices::JoiningThread calls([&] {
      // The hub lists its ports once it has asked each of them, a moment after it connected.
      do {
        ports = facade->TrelmoGetPortsInfo();
        std::this_thread::yield();
      } while (!stop && !(ports && ports->size() == 3));
      charge = facade->TrelmoSetUSBCharge(true, 2);
      apple = facade->TrelmoSetAppleChargingCurrent(2100) && facade->TrelmoGetAppleChargingCurrent(&current);
      serial = facade->kxPrivateSetSerial("HUB42");
      config = facade->TrelmoSetPortConfig("Scanner|USB|hid.barcode", 0);
      done = true;
    });
    const bool finished = bench.runUntil([&] { return done.load(); });
    stop = true;
    ASSERT_TRUE(finished);
  }
  ASSERT_TRUE(ports);
  EXPECT_EQ(ports->size(), 3u);
  EXPECT_TRUE(charge);
  EXPECT_TRUE(hub.port(2).charging);
  EXPECT_TRUE(apple);
  EXPECT_EQ(current, 2100);
  EXPECT_TRUE(serial);
  EXPECT_EQ(hub.hubSerial(), "HUB42");
  EXPECT_TRUE(config);
  EXPECT_EQ(hub.port(0).config, "Scanner|USB|hid.barcode");
  // With only the hub there, the sleeve's calls are not supported. The device API counts the
  // hub as connected once the hub has announced itself, after its port scan; the calls above
  // may have finished before that announcement ran on the main queue.
  ASSERT_TRUE(bench.runUntil([&] { return api->connstate() == CONN_CONNECTED; }));
  EXPECT_FALSE(api->sysMute(&e));
  EXPECT_EQ(e.code, -7);
  hub.detach();
  EXPECT_TRUE(bench.runUntil([&] { return api->getConnectedDeviceInfo(DEVICE_TYPE_HUB, 0, nullptr) == nullptr; }));
}

}  // namespace
}  // namespace kestra::testing
