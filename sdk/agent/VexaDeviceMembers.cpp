// The device plug-ins of the tablet sleeves, the speaker sleeves, the pinpads and the
// receipt printers (the sleeve and the charging case are in VexaDevicePlugin.cpp).
#include <nlohmann/json.hpp>

#include "platform/foundation/Bytes.h"
#include "sdk/agent/VexaDevicePlugin.h"

namespace kestra {

// ---- The tablet sleeves ------------------------------------------------------------------------

VexaKestraTabDevice::VexaKestraTabDevice(VexaLocator* locator)
    : VexaDeviceMember("kestraTab", "Kestra Tab", "1.0.5",
                       joined({sleeveKeys("N/A", false), {{"kioskMode", "", "N/A"}}}), sleevePlainKeys(), locator) {}

void VexaKestraTabDevice::readValues(VexaPluginDevice& device, Values& values) {
  readIdentity(device, values);
  bool kiosk = false;
  device.getKioskMode(&kiosk);
  values["kioskMode"] = yesNo(kiosk);
  readEmsr(device, values, emsrKeyVersions);
  readBattery(device, values);
  readSleeveSettings(device, values, false);
  readBarcodeAndSupports(device, values);
}

nlohmann::json VexaKestraTabDevice::getKXDeviceFields() {
  return fieldsFrom(joined({batteryFields(0, "battery"), identityFields(4, true),
                            {{"kioskMode", "Kiosk Mode", "bool", 11, "bool"}}, emsrFields(12),
                            sleeveSettingFields(14, "1000, 2100, 2400", false), supportFields(18)}));
}

// ---- The speaker sleeves -----------------------------------------------------------------------

VexaZizoriDDevice::VexaZizoriDDevice(VexaLocator* locator)
    : VexaDeviceMember("zizoriD", "Kestra X", "1.0.5",
                       joined({sleeveKeys("n/a", true),
                               {{"autoSpeakerControl", "", "N/A"}, {"speakerButton", "", "N/A"}, {"speaker", "", "N/A"}}}),
                       sleevePlainKeys(), locator) {}

void VexaZizoriDDevice::readValues(VexaPluginDevice& device, Values& values) {
  readIdentity(device, values);
  readEmsr(device, values, emsrKeyVersions);
  readBattery(device, values);
  readSleeveSettings(device, values, true);
  bool autoControl = false, button = false, speaker = false;
  device.uiIsSpeakerAutoControlEnabled(&autoControl);
  values["autoSpeakerControl"] = yesNo(autoControl);
  device.uiIsSpeakerButtonEnabled(&button);
  values["speakerButton"] = yesNo(button);
  device.uiIsSpeakerEnabled(&speaker);
  values["speaker"] = yesNo(speaker);
  readBarcodeAndSupports(device, values);
}

nlohmann::json VexaZizoriDDevice::getKXDeviceFields() {
  return fieldsFrom(joined({batteryFields(0, "string"), identityFields(4, true), emsrFields(11),
                            sleeveSettingFields(13, "500,1000", true),
                            {{"autoSpeakerControl", "Auto Speaker Control", "bool", 18, "bool"},
                             {"speakerButton", "Speaker Button", "bool", 19, "bool"},
                             {"speaker", "Speaker", "bool", 20, "bool"}},
                            supportFields(21)}));
}

// ---- The pinpads -------------------------------------------------------------------------------

VexaSkyrigDevice::VexaSkyrigDevice(VexaLocator* locator)
    : VexaDeviceMember("skyrig", "Skyrig", "1.0.6",
                       joined({emsrKeys("N/A"), batteryKeys(), supportKeys(),
                               {{"scanMode", "", "N/A"},
                                {"bluetoothFirmware", "", "N/A"},
                                {"appFirmware", "", "N/A"},
                                {"model", "", "N/A"},
                                {"name", "", "N/A"},
                                {"hardwareFirmware", "", "N/A"},
                                {"sdk", "", "N/A"},
                                {"serial", "", "N/A"}}}),
                       {{"battery", "batteryLevel", "-1"}, {"firmware", "hardwareFirmware", "N/A"},
                        {"tampered", "tampered", "N/A"}},
                       locator) {}

void VexaSkyrigDevice::readValues(VexaPluginDevice& device, Values& values) {
  values["sdk"] = device.sdkVersionString();
  values["serial"] = device.serialNumber();
  values["name"] = device.deviceName();
  values["model"] = device.deviceModel();
  values["appFirmware"] = device.firmwareRevision();
  values["hardwareFirmware"] = device.hardwareRevision();
  foundation::Error btError;
  const auto bluetooth = device.btGetFirmwareVersion(&btError);
  values["bluetoothFirmware"] =
      bluetooth && !bluetooth->empty() ? *bluetooth : (btError.isError() ? btError.text : std::string("(null)"));
  readEmsr(device, values, keyReport);
  if (const auto battery = readBattery(device, values)) values["batteryLevel"] = format("%i %%", battery->capacity);
  int scanMode = 0;
  device.barcodeGetScanMode(&scanMode);
  values["scanMode"] = barcodeScanMode(scanMode);
  readBarcodeAndSupports(device, values);
}

std::string VexaSkyrigDevice::keyReport(VexaPluginDevice& device) {
  // One error for all the queries: a "Failed" entry names the latest error reported so far.
  foundation::Error error;
  std::string report;
  for (int position = 0; position < 10; ++position) {
    const auto key = device.ppadGetKeyInfo(position, &error);
    if (key && key->version != 0) {
      report += format("%2d. Ver: %d, Usage: %s, KCV: %s | ", position, key->version, key->usage.c_str(),
                       foundation::toHex(key->checkValue).c_str());
    } else {
      report += "Failed: " + (error.isError() ? error.text : std::string("(null)")) + " | ";
    }
  }
  report += "DUKPT Keys: ";
  for (int slot = 0; slot < 8; ++slot) {
    if (const auto ksn = device.ppadGetDUKPTKeyKSN(slot, &error))
      report += format("%2d. KSN: %s | ", slot, foundation::toHex(*ksn).c_str());
  }
  return report;
}

nlohmann::json VexaSkyrigDevice::getKXDeviceFields() {
  return fieldsFrom(joined({batteryFields(0, "battery"),
                            {{"appFirmware", "Application Firmware", "string", 4},
                             {"hardwareFirmware", "Hardware Firmware", "string", 5},
                             {"bluetoothFirmware", "Bluetooth Firmware", "string", 6},
                             {"keyVersion", "Key Version", "string", 7},
                             {"model", "Model", "string", 8},
                             {"name", "Name", "string", 9},
                             {"sdk", "SDK Version", "string", 10},
                             {"serial", "Serial", "string", 11}},
                            emsrFields(12),
                            {{"scanMode", "Scan Mode", "list", 14, "list", "0,1,2,3,4"}},
                            supportFields(15)}));
}

// ---- The receipt printers ----------------------------------------------------------------------

VexaVKPPrinterDevice::VexaVKPPrinterDevice(VexaLocator* locator)
    : VexaDeviceMember("vkpPrinter", "VKP Printer", "1.0.1",
                       joined<Key>({identityKeys("N/A"), {{"batteryLevel", "", "N/A"}, {"batteryVoltage", "", "N/A"}}}),
                       // The printer has no tamper state: "tampered" has no source.
                       {{"battery", "batteryLevel", "N/A"}, {"firmware", "firmware", "N/A"}, {"tampered", "", "N/A"}},
                       locator) {}

void VexaVKPPrinterDevice::readValues(VexaPluginDevice& device, Values& values) {
  readIdentity(device, values);
  if (const auto battery = device.getBatteryInfo()) {
    values["batteryLevel"] = format("%i%%", battery->capacity);
    values["batteryVoltage"] = format("%0.2fv", double(battery->voltage));
  }
}

nlohmann::json VexaVKPPrinterDevice::getKXDeviceFields() {
  return fieldsFrom(joined<FieldRow>({{{"batteryLevel", "Battery Level", "battery", 0},
                                       {"batteryVoltage", "Battery Voltage", "string", 1}},
                                      identityFields(2, false)}));
}

}  // namespace kestra
