// The device plug-ins: key sets and start values with nothing connected, formatted values of
// a connected device, a reading that fails part-way, and the field records.
#include "sdk/agent/VexaDevicePlugin.h"

#include <gtest/gtest.h>

#include <nlohmann/json.hpp>
#include <set>
#include <stdexcept>

#include "platform/system/Location.h"
#include "sdk/agent/AgentTestSupport.h"
#include "sdk/agent/VexaLocator.h"
#include "sdk/device/KXDevicesTestSupport.h"
#include "sdk/device/OKTKXDevices.h"

namespace kestra {
namespace {

// A facade stand-in with answers the test sets; `throwAt` names the query that throws.
struct ScriptedDevice final : VexaPluginDevice {
  int state = 2;
  std::optional<std::string> sdk = "1.50", serial = "PP123", name = "PellanPro 7", model = "PP7",
                             firmware = "2.16", revision = "3";
  std::shared_ptr<KXBatteryInfo> battery;
  int current = 1000, scanMode = 3;
  bool charging = true, passThru = false, tampered = false;
  double idle = 7200.0;
  std::map<int, int> features;
  std::optional<EMSRDeviceInfo> emsr;
  std::optional<EMSRKeysInfo> keys;
  std::optional<foundation::Bytes> intermec, newlandVersion, newlandEngine;
  bool kiosk = false, speakerAuto = false, speakerButton = false, speaker = false;
  std::optional<std::string> bluetooth;
  std::optional<foundation::Error> bluetoothError;
  std::map<int, KXKeyInfo> keySlots;
  std::map<int, foundation::Bytes> ksns;
  std::string throwAt;
  std::vector<std::string> asked;

  void ask(const std::string& what) {
    asked.push_back(what);
    if (what == throwAt) throw std::runtime_error("device went away");
  }
  int connstate() override { return state; }
  std::optional<std::string> sdkVersionString() override { return ask("sdk"), sdk; }
  std::optional<std::string> serialNumber() override { return ask("serial"), serial; }
  std::optional<std::string> deviceName() override { return ask("name"), name; }
  std::optional<std::string> deviceModel() override { return ask("model"), model; }
  std::optional<std::string> firmwareRevision() override { return ask("firmware"), firmware; }
  std::optional<std::string> hardwareRevision() override { return ask("revision"), revision; }
  std::shared_ptr<KXBatteryInfo> getBatteryInfo() override { return ask("battery"), battery; }
  bool getUSBChargeCurrent(int* c) override { return ask("current"), *c = current, true; }
  bool getCharging(bool* c) override { return ask("charging"), *c = charging, true; }
  bool getPassThroughSync(bool* e) override { return ask("passThru"), *e = passThru, true; }
  bool barcodeGetScanMode(int* m) override { return ask("scanMode"), *m = scanMode, true; }
  int getSupportedFeature(int f) override {
    ask("feature" + std::to_string(f));
    return features.count(f) ? features[f] : 0;
  }
  std::optional<EMSRDeviceInfo> emsrGetDeviceInfo() override { return ask("emsr"), emsr; }
  bool emsrIsTampered(bool* t) override { return ask("tampered"), *t = tampered, true; }
  std::optional<EMSRKeysInfo> emsrGetKeysInfo() override { return ask("keys"), keys; }
  bool getAutoOffWhenIdle(double* s) override { return ask("idle"), *s = idle, true; }
  bool getKioskMode(bool* e) override { return ask("kiosk"), *e = kiosk, true; }
  bool uiIsSpeakerAutoControlEnabled(bool* e) override { return ask("speakerAuto"), *e = speakerAuto, true; }
  bool uiIsSpeakerButtonEnabled(bool* e) override { return ask("speakerButton"), *e = speakerButton, true; }
  bool uiIsSpeakerEnabled(bool* e) override { return ask("speaker"), *e = speaker, true; }
  std::optional<std::string> btGetFirmwareVersion(foundation::Error* e) override {
    ask("bluetooth");
    if (bluetoothError) *e = *bluetoothError;
    return bluetooth;
  }
  std::optional<KXKeyInfo> ppadGetKeyInfo(int position, foundation::Error* e) override {
    ask("key" + std::to_string(position));
    if (keySlots.count(position)) return keySlots[position];
    *e = foundation::Error("KestraSDK", -11, "Key " + std::to_string(position) + " is empty");
    return std::nullopt;
  }
  std::optional<foundation::Bytes> ppadGetDUKPTKeyKSN(int slot, foundation::Error*) override {
    ask("ksn" + std::to_string(slot));
    if (ksns.count(slot)) return ksns[slot];
    return std::nullopt;
  }
  std::optional<foundation::Bytes> barcodeIntermecQuery(const foundation::Bytes&) override { return intermec; }
  std::optional<foundation::Bytes> barcodeNewlandQuery(const foundation::Bytes& command) override {
    return command.size() == 2 ? newlandVersion : newlandEngine;
  }
};

class DevicePlugins : public ::testing::Test {
 protected:
  void SetUp() override {
    agenttest::testHome();
    agenttest::wipeStores();
    locator_ = std::make_unique<VexaLocator>(std::make_shared<system_info::SimulatedLocationProvider>());
  }
  template <class Member>
  std::shared_ptr<Member> member(std::shared_ptr<VexaPluginDevice> device) {
    auto m = std::make_shared<Member>(locator_.get());
    m->setKxDevice(std::move(device));
    return m;
  }
  std::unique_ptr<VexaLocator> locator_;
};

std::shared_ptr<KXBatteryInfo> battery(float voltage, int capacity, int health, int maximum) {
  auto info = std::make_shared<KXBatteryInfo>();
  info->voltage = voltage;
  info->capacity = capacity;
  info->health = health;
  info->maximumCapacity = maximum;
  return info;
}

std::set<std::string> keysOf(const nlohmann::json& object) {
  std::set<std::string> keys;
  for (const auto& [key, value] : object.items()) keys.insert(key);
  return keys;
}

TEST_F(DevicePlugins, DisconnectedDetailsHoldEveryKeyWithItsStartValue) {
  auto device = std::make_shared<ScriptedDevice>();
  device->state = 1;
  auto pellan = member<VexaPellanProDevice>(device);
  EXPECT_EQ(pellan->deviceInfo(), nlohmann::json::object());
  const auto details = pellan->getKXDeviceDetails();
  EXPECT_TRUE(device->asked.empty());
  EXPECT_EQ(details.size(), 30u);
  for (const auto& [key, value] : details.items()) {
    SCOPED_TRACE(key);
    if (key.ends_with("Supported")) {
      EXPECT_EQ(value, "False");
    } else if (key == "lat" || key == "lng") {
      EXPECT_EQ(value, "0.000000");
    } else {
      EXPECT_EQ(value, "");
    }
  }
  EXPECT_EQ(details["pellanPro_serial"], "");
  EXPECT_EQ(pellan->deviceInfo(), nlohmann::json({{"details", details}}));

  const auto toravel = member<VexaToravelDevice>(device)->getKXDeviceDetails();
  EXPECT_EQ(keysOf(toravel),
            (std::set<std::string>{"toravel_firmware", "toravel_model", "toravel_name", "toravel_revision",
                                   "toravel_sdk", "toravel_serial", "toravel_batteryLevel", "toravel_batteryVoltage",
                                   "toravel_batteryHealth", "toravel_batteryMaxCapacity", "toravel_batteryCycle",
                                   "toravel_batteryExternalCharging", "toravel_batteryFirmware",
                                   "toravel_batterySerial", "toravel_usbCurrent", "toravel_backupCharge", "battery",
                                   "firmware", "lat", "lng"}));
  for (const auto& [key, value] : toravel.items()) {
    if (key != "lat" && key != "lng") {
      EXPECT_EQ(value, "") << key;
    }
  }
}

TEST_F(DevicePlugins, ConnectedSleeveValuesAreFormatted) {
  auto device = std::make_shared<ScriptedDevice>();
  device->battery = battery(4.049f, 85, 97, 2400);
  device->features = {{1, 4}, {0, 1}, {5, 1}};
  device->emsr = EMSRDeviceInfo{};
  device->emsr->firmwareVersionString = "2.14";
  device->keys = EMSRKeysInfo{};
  device->keys->keys = {{1, 2, std::nullopt, "A"}, {2, 0, std::nullopt, "B"}, {3, 5, std::nullopt, "C"}};
  device->intermec = foundation::Bytes{0, 0, 0, 0, 5, 'E', 'X', '2', '5', 'X'};
  device->name.reset();  // answers nothing
  const auto d = member<VexaPellanProDevice>(device)->getKXDeviceDetails();
  const std::map<std::string, std::string> expected = {
      {"pellanPro_batteryLevel", "85%"},       {"pellanPro_batteryVoltage", "4.05v"},
      {"pellanPro_batteryHealth", "97%"},      {"pellanPro_batteryMaxCapacity", "2400mAH"},
      {"pellanPro_usbCurrent", "1000mA"},      {"pellanPro_autoTimeOff", "7200"},
      {"pellanPro_scanMode", "Single Scan Release"}, {"pellanPro_backupCharge", "True"},
      {"pellanPro_passThruSync", "False"},     {"pellanPro_tampered", "False"},
      {"pellanPro_keyVersion", "-A ver: 2-C ver: 5"}, {"pellanPro_emsrFirmware", "2.14"},
      {"pellanPro_name", "n/a"},               {"pellanPro_serial", "PP123"},
      {"pellanPro_barcodeInfo", "INTERMEC - EX25X"}, {"pellanPro_barcodeSetting", ""},
      {"pellanPro_barcodeSupported", "True"},  {"pellanPro_msrSupported", "True"},
      {"pellanPro_rfSupported", "True"},       {"pellanPro_uhfSupported", "False"},
      {"pellanPro_hidSupported", "False"},     {"battery", "85%"},
      {"firmware", "2.16"},                    {"tampered", "False"}};
  for (const auto& [key, value] : expected) EXPECT_EQ(d[key], value) << key;
}

TEST_F(DevicePlugins, BarcodeEngineIdentification) {
  const auto bytes = [](std::string_view s) { return foundation::Bytes(s.begin(), s.end()); };
  struct Case {
    const char* name;
    int engine;
    std::optional<foundation::Bytes> intermec, version, answer;
    std::string info;
  } const kCases[] = {
      {"newland ES", 3, {}, bytes("V"), bytes("xxESyy"), "NEWLAND - Engine: EM3096\nVersion: V\n"},
      {"newland EB before ES", 3, {}, bytes("V2"), bytes("ESEB"), "NEWLAND - Engine: EM3070\nVersion: V2\n"},
      {"newland unknown engine", 3, {}, bytes("1"), bytes("ZZ"), "NEWLAND - Engine: ZZ\nVersion: 1\n"},
      {"newland without engine answer", 3, {}, bytes("1"), {}, ""},
      {"intermec short reply", 4, foundation::Bytes{0, 0, 0, 0}, {}, {}, ""},
      {"intermec states more than it holds", 4, foundation::Bytes{0, 0, 0, 0, 9, 'A'}, {}, {}, ""},
      {"intermec empty identification", 4, foundation::Bytes{0, 0, 0, 0, 0}, {}, {}, "INTERMEC - "},
      {"no engine", 0, {}, {}, {}, ""},
  };
  for (const auto& c : kCases) {
    SCOPED_TRACE(c.name);
    ScriptedDevice device;
    device.features = {{1, c.engine}};
    device.intermec = c.intermec;
    device.newlandVersion = c.version;
    device.newlandEngine = c.answer;
    EXPECT_EQ(VexaPellanProDevice::barcodeEngineInfo(device), c.info);
  }
}

TEST_F(DevicePlugins, ReadingThatFailsPartWayKeepsWhatWasRead) {
  auto device = std::make_shared<ScriptedDevice>();
  device->battery = battery(3.7f, 50, 90, 2000);
  device->features = {{0, 1}};
  device->throwAt = "passThru";
  const auto d = member<VexaPellanProDevice>(device)->getKXDeviceDetails();
  EXPECT_EQ(d["pellanPro_serial"], "PP123");
  EXPECT_EQ(d["pellanPro_batteryLevel"], "50%");
  EXPECT_EQ(d["battery"], "50%");
  EXPECT_EQ(d["pellanPro_passThruSync"], "");  // where it failed
  EXPECT_EQ(d["pellanPro_usbCurrent"], "");
  EXPECT_EQ(d["pellanPro_msrSupported"], "False");
  EXPECT_EQ(d.size(), 30u);
  EXPECT_EQ(device->asked.back(), "passThru");
}

TEST_F(DevicePlugins, ChargingCaseThroughTheFacade) {
  testing::ApiFixture api;
  auto chargingCase = std::make_shared<testing::FakeCase>();
  auto facade = OKTKXDevices::create(api.api, chargingCase, std::make_shared<KXDeviceAgentStandIn>());
  auto toravel = member<VexaToravelDevice>(VexaPluginDevice::overFacade(*facade));
  EXPECT_EQ(toravel->getKXDeviceDetails()["toravel_serial"], "");
  chargingCase->move(2);
  const auto d = toravel->getKXDeviceDetails();
  const std::map<std::string, std::string> expected = {
      {"toravel_name", "Case One"},       {"toravel_serial", "C123"},        {"toravel_firmware", "1.0.14"},
      {"toravel_batteryLevel", "64%"},    {"toravel_batteryVoltage", "4.10v"}, {"toravel_batteryHealth", "98%"},
      {"toravel_batteryMaxCapacity", "2500mAH"}, {"toravel_usbCurrent", "1000mA"}, {"toravel_backupCharge", "True"},
      {"toravel_batterySerial", "C123"},  {"toravel_batteryCycle", "(null)"}, {"battery", "64%"},
      {"firmware", "1.0.14"}};
  for (const auto& [key, value] : expected) EXPECT_EQ(d[key], value) << key;
  EXPECT_EQ(d.size(), 20u);
}

TEST_F(DevicePlugins, FieldRecordsAndHeader) {
  auto pellan = member<VexaPellanProDevice>(std::make_shared<ScriptedDevice>());
  EXPECT_EQ(pellan->keyForCheckIn("serial"), "pellanPro_serial");
  EXPECT_EQ(pellan->createField("scanMode", "Scan Mode", "list", 17),
            nlohmann::json({{"field", "pellanPro_scanMode"}, {"name", "Scan Mode"}, {"displayType", "list"},
                            {"order", "17"}}));
  EXPECT_EQ(keysOf(pellan->createField("x", "X", "list", 0, false, std::nullopt, std::nullopt, "1,2", std::nullopt,
                                       std::nullopt)),
            (std::set<std::string>{"field", "name", "displayType", "order", "configurable", "values"}));
  const auto header = pellan->getKXDevicePluginData();
  EXPECT_EQ(header["serviceType"], "device_plugin");
  EXPECT_EQ(header["payload"]["type"], "device_plugin");
  EXPECT_EQ(header["payload"]["version"], "1.0.6");
  const auto& fields = header["payload"]["fields"];
  ASSERT_EQ(fields.size(), 25u);
  EXPECT_EQ(fields[24]["order"], "25");
  EXPECT_EQ(fields[17], nlohmann::json({{"field", "pellanPro_autoTimeOff"}, {"name", "Auto Time Off"},
                                        {"displayType", "int"}, {"order", "17"}, {"configurable", "true"},
                                        {"type", "int"}, {"min", "0"}, {"max", "-1"}}));
  EXPECT_EQ(pellan->deviceInfo(), nlohmann::json({{"fields", fields}}));

  auto toravel = member<VexaToravelDevice>(std::make_shared<ScriptedDevice>());
  const auto caseFields = toravel->getKXDevicePluginData()["payload"]["fields"];
  ASSERT_EQ(caseFields.size(), 16u);
  for (size_t i = 0; i < caseFields.size(); ++i) {
    EXPECT_EQ(caseFields[i]["order"], std::to_string(i));
    EXPECT_EQ(caseFields[i].contains("configurable"), i == 8 || i == 14 || i == 15) << i;
  }
  for (int mode : {2, 5, -1}) EXPECT_EQ(VexaDeviceMember::barcodeScanMode(mode), "Motion Detect");
  EXPECT_EQ(VexaDeviceMember::barcodeScanMode(4), "Multi Scan No Duplicates");
}

// Every member's key set with nothing connected, and its field list.
TEST_F(DevicePlugins, EachMemberHasItsKeysStartValuesAndFields) {
  struct Case {
    std::shared_ptr<VexaDeviceMember> member;
    size_t keys, fields;
    std::set<int> configurable;  // orders of the long records
    std::map<std::string, std::string> startValues;
  };
  const auto scripted = [] {
    auto d = std::make_shared<ScriptedDevice>();
    d->state = 0;
    return d;
  };
  const std::vector<Case> cases = {
      {member<VexaKestraTabDevice>(scripted()), 29, 24, {4, 11, 14, 15, 16, 17},
       {{"kestraTab_kioskMode", ""}, {"kestraTab_hidSupported", "False"}, {"battery", ""}}},
      {member<VexaZizoriDDevice>(scripted()), 32, 27, {4, 13, 14, 15, 16, 17, 18, 19, 20},
       {{"zizoriD_speaker", ""}, {"zizoriD_serial", ""}, {"zizoriD_barcodeSupported", "False"}}},
      {member<VexaSkyrigDevice>(scripted()), 26, 21, {14},
       {{"skyrig_keyVersion", ""}, {"skyrig_rfSupported", "False"}, {"battery", ""}, {"firmware", ""}}},
      {member<VexaVKPPrinterDevice>(scripted()), 13, 8, {2},
       {{"vkpPrinter_serial", ""}, {"battery", ""}, {"firmware", ""}, {"tampered", "N/A"}}},
  };
  for (const auto& c : cases) {
    SCOPED_TRACE(c.member->plugin());
    const auto details = c.member->getKXDeviceDetails();
    EXPECT_EQ(details.size(), c.keys);
    EXPECT_EQ(details["lat"], "0.000000");
    for (const auto& [key, value] : c.startValues) EXPECT_EQ(details[key], value) << key;
    const auto fields = c.member->getKXDevicePluginData()["payload"]["fields"];
    ASSERT_EQ(fields.size(), c.fields);
    for (size_t i = 0; i < fields.size(); ++i) {
      EXPECT_EQ(fields[i]["order"], std::to_string(i));
      EXPECT_EQ(fields[i].contains("configurable"), c.configurable.count(int(i)) == 1) << i;
      EXPECT_EQ(fields[i]["field"].get<std::string>().rfind(c.member->plugin() + "_", 0), 0u);
    }
  }
  const auto tab = member<VexaKestraTabDevice>(scripted())->getKXDeviceFields();
  EXPECT_EQ(tab[15]["values"], "1000, 2100, 2400");
  EXPECT_EQ(tab[0]["displayType"], "battery");
}

TEST_F(DevicePlugins, ConnectedSleeveFamiliesReadTheirOwnSettings) {
  auto device = std::make_shared<ScriptedDevice>();
  device->kiosk = true;
  device->speaker = true;
  device->speakerAuto = true;
  device->serial.reset();
  device->battery = battery(4.0f, 70, 95, 1200);
  const auto tab = member<VexaKestraTabDevice>(device)->getKXDeviceDetails();
  EXPECT_EQ(tab["kestraTab_kioskMode"], "True");
  EXPECT_EQ(tab["kestraTab_serial"], "N/A");
  EXPECT_EQ(tab["kestraTab_batteryLevel"], "70%");
  EXPECT_FALSE(tab.contains("kestraTab_backupCharge"));
  EXPECT_FALSE(tab.contains("kestraTab_barcodeSetting"));
  EXPECT_EQ(std::count(device->asked.begin(), device->asked.end(), "charging"), 0);

  device->asked.clear();
  const auto x = member<VexaZizoriDDevice>(device)->getKXDeviceDetails();
  EXPECT_EQ(x["zizoriD_speaker"], "True");
  EXPECT_EQ(x["zizoriD_speakerButton"], "False");
  EXPECT_EQ(x["zizoriD_autoSpeakerControl"], "True");
  EXPECT_EQ(x["zizoriD_serial"], "n/a");
  EXPECT_EQ(x["zizoriD_emsrFirmware"], "");  // no encrypted head
  EXPECT_EQ(x["tampered"], "");
  EXPECT_EQ(std::count(device->asked.begin(), device->asked.end(), "keys"), 0);
  EXPECT_EQ(x.size(), 32u);
}

TEST_F(DevicePlugins, PinpadReportsItsKeysAndFirmwares) {
  auto device = std::make_shared<ScriptedDevice>();
  device->battery = battery(3.9f, 85, 97, 900);
  device->emsr = EMSRDeviceInfo{};
  device->emsr->firmwareVersionString = "1.1";
  device->bluetooth = "";
  device->bluetoothError = foundation::Error("KestraSDK", -3, "Bluetooth module is off");
  for (int p = 0; p < 10; ++p) {
    if (p == 3) continue;
    KXKeyInfo key;
    key.position = p;
    key.version = p + 1;
    key.usage = "PIN";
    key.checkValue = {0xAB, 0x12};
    device->keySlots[p] = key;
  }
  device->ksns[1] = {0xFF, 0xFF, 0x98, 0x76};
  const auto d = member<VexaSkyrigDevice>(device)->getKXDeviceDetails();
  EXPECT_EQ(d["skyrig_batteryLevel"], "85 %");
  EXPECT_EQ(d["skyrig_batteryHealth"], "97%");
  EXPECT_EQ(d["battery"], "85 %");
  EXPECT_EQ(d["skyrig_appFirmware"], "2.16");
  EXPECT_EQ(d["skyrig_hardwareFirmware"], "3");
  EXPECT_EQ(d["firmware"], "3");
  EXPECT_EQ(d["skyrig_bluetoothFirmware"], "Bluetooth module is off");
  EXPECT_EQ(d["skyrig_scanMode"], "Single Scan Release");
  const std::string report = d["skyrig_keyVersion"];
  EXPECT_EQ(report.rfind(" 0. Ver: 1, Usage: PIN, KCV: AB12 |  1. Ver: 2,", 0), 0u) << report;
  EXPECT_NE(report.find(" | Failed: Key 3 is empty |  4. Ver: 5,"), std::string::npos) << report;
  EXPECT_NE(report.find(" 9. Ver: 10, Usage: PIN, KCV: AB12 | DUKPT Keys:  1. KSN: FFFF9876 | "), std::string::npos)
      << report;
  EXPECT_EQ(d.size(), 26u);

  // Without an encrypted head no key is asked for.
  device->emsr.reset();
  device->asked.clear();
  const auto bare = member<VexaSkyrigDevice>(device)->getKXDeviceDetails();
  EXPECT_EQ(bare["skyrig_keyVersion"], "");
  EXPECT_EQ(std::count_if(device->asked.begin(), device->asked.end(),
                          [](const std::string& a) { return a.starts_with("key") || a.starts_with("ksn"); }),
            0);
}

TEST_F(DevicePlugins, PinpadThroughTheFacade) {
  testing::ApiFixture api;
  auto facade = OKTKXDevices::create(api.api, std::make_shared<KXChargingCaseStandIn>(),
                                     std::make_shared<KXDeviceAgentStandIn>());
  auto skyrig = member<VexaSkyrigDevice>(VexaPluginDevice::overFacade(*facade));
  EXPECT_EQ(skyrig->getKXDeviceDetails()["skyrig_name"], "");
  api.drivers.pinpad->features = {{1, 0}, {0, 1}};
  api.pinpadState(2);
  ASSERT_TRUE(facade->setActiveDeviceType(2));
  const auto d = skyrig->getKXDeviceDetails();
  EXPECT_EQ(d["skyrig_name"], "pinpad");
  EXPECT_EQ(d["skyrig_model"], "pinpad model");
  EXPECT_EQ(d["skyrig_appFirmware"], "1.25");
  EXPECT_EQ(d["skyrig_msrSupported"], "True");
  EXPECT_EQ(d["skyrig_barcodeSupported"], "False");
  EXPECT_EQ(d.size(), 26u);
}

TEST_F(DevicePlugins, PrinterReportsBatteryAndNoTamperState) {
  auto device = std::make_shared<ScriptedDevice>();
  device->battery = battery(7.4f, 60, 0, 0);
  const auto d = member<VexaVKPPrinterDevice>(device)->getKXDeviceDetails();
  EXPECT_EQ(d["vkpPrinter_batteryLevel"], "60%");
  EXPECT_EQ(d["vkpPrinter_batteryVoltage"], "7.40v");
  EXPECT_EQ(d["battery"], "60%");
  EXPECT_EQ(d["tampered"], "N/A");
  EXPECT_EQ(d.size(), 13u);
}

}  // namespace
}  // namespace kestra
