// The device plug-ins read through the facade and the device API from the simulated devices:
// the sleeve, the charging case, the pinpad and the printer, each set up with known values
// that the plug-in must report in its own formats.
#include <gtest/gtest.h>
#include <stdlib.h>

#include <map>
#include <nlohmann/json.hpp>

#include "platform/accessory/AccessoryManager.h"
#include "platform/system/Location.h"
#include "sdk/agent/AgentTestSupport.h"
#include "sdk/agent/VexaDevicePlugin.h"
#include "sdk/agent/VexaLocator.h"
#include "sdk/device/KXDevicesPinpadFixture.h"
#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/device/OKTCD.h"
#include "sdk/device/OKTEADSessionController.h"
#include "sdk/device/OKTKXDevices.h"
#include "sdk/device/PellanSleeve.h"
#include "sdk/sleeve/PellanModulesFixture.h"
#include "testing/devices/chargingcase/SimulatedChargingCase.h"
#include "testing/devices/printer/SimulatedPrinter.h"
#include "testing/devices/sleeve/SleeveSecurity.h"

namespace kestra {
namespace {

using Expected = std::map<std::string, std::string>;

class PluginsOnDevices : public ::testing::Test {
 protected:
  void SetUp() override {
    agenttest::testHome();
    agenttest::wipeStores();
    locator_ = std::make_unique<VexaLocator>(std::make_shared<system_info::SimulatedLocationProvider>());
  }
  // The member's details read over `facade`: nothing but the start values while the facade
  // is not connected (checked by the caller), then the device's values.
  template <class Member>
  nlohmann::json details(OKTKXDevices& facade) {
    auto m = std::make_shared<Member>(locator_.get());
    m->setKxDevice(VexaPluginDevice::overFacade(facade));
    return m->getKXDeviceDetails();
  }
  static void expectValues(const nlohmann::json& details, const Expected& expected, size_t keys) {
    for (const auto& [key, value] : expected) EXPECT_EQ(details.value(key, std::string("<absent>")), value) << key;
    EXPECT_EQ(details.size(), keys) << details.dump(1);
  }
  std::unique_ptr<VexaLocator> locator_;
};

class UnpluggedPhone final : public KXPhoneBattery {
 public:
  int batteryState() override { return kUnplugged; }
  float batteryLevel() override { return 0.5f; }
};

TEST_F(PluginsOnDevices, TheSleeve) {
  auto options = testing::sleeveWith(devices::SimulatedEngine::Family::Newland, "NBCM", "2.63");
  options.config.serialNumber = "PN7731";
  devices::SleeveTestBench bench(options);
  bench.sleeve->withProtocol([](devices::SleeveProtocol& p) {
    p.batteryInfo = foundation::Bytes{0x0F, 0xD2, 81, 96, 0x0A, 0x8C};  // 4.05 V, 81 %, 96 %, 2700 mAh
    p.chargingState = 1;
    p.syncButtonMode = 0;
    p.scanMode = 3;
    p.settings[0x02] = {0x03, 0xE8};              // USB charge current 1000 mA
    p.settings[0x04] = {0x00, 0x00, 0x1C, 0x20};  // off when idle after 7200 s
  });
  auto api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get()));
  auto facade = OKTKXDevices::create(api, std::make_shared<KXChargingCaseStandIn>(),
                                     std::make_shared<KXDeviceAgentStandIn>());
  EXPECT_EQ(details<VexaPellanProDevice>(*facade)["pellanPro_serial"], "");
  ASSERT_TRUE(bench.sleeve->attach());
  facade->connect();
  ASSERT_TRUE(bench.runUntil([&] { return facade->connstate() == 2; }));

  expectValues(details<VexaPellanProDevice>(*facade),
               {{"pellanPro_serial", "PN7731"},
                {"pellanPro_name", "Pellan Pro"},
                {"pellanPro_model", "NBCM"},
                {"pellanPro_firmware", "2.63.0"},
                {"pellanPro_sdk", facade->sdkVersionString()},
                {"pellanPro_batteryLevel", "81%"},
                {"pellanPro_batteryVoltage", "4.05v"},
                {"pellanPro_batteryHealth", "96%"},
                {"pellanPro_batteryMaxCapacity", "2700mAH"},
                {"pellanPro_passThruSync", "False"},
                {"pellanPro_backupCharge", "True"},
                {"pellanPro_scanMode", "Single Scan Release"},
                {"pellanPro_usbCurrent", "1000mA"},
                {"pellanPro_autoTimeOff", "7200"},
                {"pellanPro_barcodeSupported", "True"},
                {"pellanPro_msrSupported", "True"},
                {"pellanPro_uhfSupported", "False"},
                {"pellanPro_barcodeSetting", ""},
                // The simulated Newland engine answers every query with "310".
                {"pellanPro_barcodeInfo", "NEWLAND - Engine: 310\nVersion: 310\n"},
                {"battery", "81%"},
                {"firmware", "2.63.0"}},
               30u);
}

TEST_F(PluginsOnDevices, TheSleevesEncryptedHead) {
  devices::SimulatedSleeve::Options options;
  options.config.model = "XBCMEV";
  devices::SleeveTestBench bench(options);
  devices::SleeveSecurity security(*bench.sleeve);
  security.head.setVersions(214, 105);
  security.head.setTampered(true);
  security.head.setKeys({{2, 7, {}}, {16, 3, foundation::Bytes(10, 0x11)}});
  auto api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get()));
  auto facade = OKTKXDevices::create(api, std::make_shared<KXChargingCaseStandIn>(),
                                     std::make_shared<KXDeviceAgentStandIn>());
  ASSERT_TRUE(bench.connect());
  ASSERT_TRUE(bench.runUntil([&] { return facade->connstate() == 2; }));
  // The head's firmware 214, its tamper flag and the versions of its keys 2 and 16.
  expectValues(details<VexaPellanProDevice>(*facade),
               {{"pellanPro_tampered", "True"},
                {"tampered", "True"},
                {"pellanPro_emsrFirmware", "2.14"},
                {"pellanPro_keyVersion", "-AES256 KEK ver: 7-TMK ver: 3"}},
               30u);
}

TEST_F(PluginsOnDevices, TheChargingCase) {
  std::string pattern = (agenttest::testHome() / "accessories-XXXXXX").string();
  ASSERT_NE(::mkdtemp(pattern.data()), nullptr);
  const std::filesystem::path folder = pattern;
  auto registry = std::make_unique<accessory::AccessoryManager>(folder);
  auto chargingCase = OKTCD::create(OKTEADSessionController::create(*registry), std::make_shared<UnpluggedPhone>());
  testing::ApiFixture api;  // no other device
  auto facade = OKTKXDevices::create(api.api, chargingCase, std::make_shared<KXDeviceAgentStandIn>());
  EXPECT_EQ(details<VexaToravelDevice>(*facade)["toravel_serial"], "");

  devices::SimulatedChargingCase sim(devices::SimulatedChargingCase::defaultIdentity(), folder);
  devices::SimulatedChargingCase::Battery battery;
  battery.capacity = 64;
  battery.voltage = 4100;
  battery.health = 97;
  battery.cycles = 31;
  battery.maxCapacity = 2400;
  sim.setBattery(battery);
  ASSERT_TRUE(sim.attach());
  ASSERT_TRUE(agenttest::runMainUntil([&] {
    return facade->connstate() == 2 && chargingCase->batteryInfo().contains("Voltage");
  }));
  const auto identity = devices::SimulatedChargingCase::defaultIdentity();

  expectValues(details<VexaToravelDevice>(*facade),
               {{"toravel_name", identity.name},
                {"toravel_model", identity.modelNumber},
                {"toravel_serial", "TRV000000012345"},  // the case's part of the accessory serial
                {"toravel_batterySerial", "BAT000000067890"},
                {"toravel_batteryFirmware", "7"},
                {"toravel_batteryExternalCharging", "Not Charging"},
                {"toravel_usbCurrent", "500mA"},
                {"toravel_firmware", "1.2.3"},  // as the case's control session tells it
                {"toravel_revision", identity.hardwareRevision},
                {"toravel_batteryLevel", "64%"},
                {"toravel_batteryVoltage", "4.10v"},
                {"toravel_batteryHealth", "97%"},
                {"toravel_batteryMaxCapacity", "2400mAH"},
                {"toravel_batteryCycle", "31"},
                {"toravel_backupCharge", "False"},
                {"battery", "64%"},
                {"firmware", "1.2.3"}},
               20u);

  sim.detach();
  agenttest::runMainUntil([&] { return registry->connectedAccessories().empty(); });
  facade.reset();
  chargingCase.reset();
  registry.reset();
  std::error_code ec;
  std::filesystem::remove_all(folder, ec);
}

TEST_F(PluginsOnDevices, ThePinpad) {
  testing::PinpadFixture f;
  EXPECT_EQ(details<VexaSkyrigDevice>(*f.facade)["skyrig_name"], "");
  ASSERT_TRUE(f.connect());
  ASSERT_TRUE(f.facade->setActiveDeviceType(2));

  // The simulated pinpad's persona: its name, serial number, firmware and features.
  expectValues(details<VexaSkyrigDevice>(*f.facade),
               {{"skyrig_name", "SKYRIK5000G"},
                {"skyrig_serial", "5000123"},
                {"skyrig_model", "XBRFCMEVSCBL"},
                {"skyrig_appFirmware", "2.04.39.64"},
                {"skyrig_hardwareFirmware", "2.04.39.64"},
                {"firmware", "2.04.39.64"},
                {"skyrig_scanMode", "Single Scan"},
                {"skyrig_barcodeSupported", "True"},
                {"skyrig_msrSupported", "True"},
                {"skyrig_rfSupported", "True"},
                {"skyrig_uhfSupported", "False"},
                {"skyrig_bluetoothFirmware", "BT301 1.02"}},  // the pinpad's module, through the facade
               26u);
}

TEST_F(PluginsOnDevices, ThePrinter) {
  devices::SleeveTestBench bench;
  auto api = KXDevices::create(makePellanDriverFactory(bench.pellan, bench.manager.get()));
  auto facade = OKTKXDevices::create(api, std::make_shared<KXChargingCaseStandIn>(),
                                     std::make_shared<KXDeviceAgentStandIn>());
  auto persona = devices::PrinterPersona::receipt();
  persona.serial = "PRN-004711";
  devices::SimulatedPrinter printer(devices::SimulatedPrinter::identityFor(persona), bench.folder, persona);
  ASSERT_TRUE(printer.attach());
  api->connect();
  ASSERT_TRUE(bench.runUntil([&] { return facade->connstate() == 2; }));
  ASSERT_TRUE(facade->setActiveDeviceType(1));

  expectValues(details<VexaVKPPrinterDevice>(*facade),
               {{"vkpPrinter_name", "RPX-350"},
                {"vkpPrinter_serial", "PRN-004711"},
                {"vkpPrinter_firmware", "1.50.0"},  // the persona's "150"
                {"firmware", "1.50.0"},
                {"tampered", "N/A"}},
               13u);
}

}  // namespace
}  // namespace kestra
