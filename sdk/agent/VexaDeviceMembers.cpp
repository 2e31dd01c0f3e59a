// The device plug-ins of the tablet sleeves, the speaker sleeves, the pinpads and the
// receipt printers (the sleeve and the charging case are in VexaDevicePlugin.cpp).
#include <nlohmann/json.hpp>

#include "platform/foundation/Bytes.h"
#include "sdk/agent/VexaDevicePlugin.h"

namespace kestra {

// ---- The tablet sleeves ------------------------------------------------------------------------

VexaKestraTabDevice::VexaKestraTabDevice(VexaLocator* locator)
    : VexaDeviceMember("kestraTab", "Kestra Tab", "1.0.5",
                       {{"emsrFirmware", "", "N/A"},     {"firmware", "", "N/A"},
                        {"keyVersion", "", "N/A"},       {"model", "", "N/A"},
                        {"name", "", "N/A"},             {"revision", "", "N/A"},
                        {"sdk", "", "N/A"},              {"serial", "", "N/A"},
                        {"kioskMode", "", "N/A"},        {"tampered", "", "N/A"},
                        {"batteryLevel", "", "N/A"},     {"batteryVoltage", "", "N/A"},
                        {"batteryHealth", "", "n/a"},    {"batteryMaxCapacity", "", "n/a"},
                        {"passThruSync", "", "N/A"},     {"usbCurrent", "", "N/A"},
                        {"scanMode", "", "N/A"},         {"autoTimeOff", "", "N/A"},
                        {"barcodeInfo", "", "N/A"},      {"barcodeSupported", "False", "N/A"},
                        {"msrSupported", "False", "N/A"}, {"rfSupported", "False", "N/A"},
                        {"uhfSupported", "False", "N/A"}, {"hidSupported", "False", "N/A"}},
                       {{"battery", "batteryLevel", "N/A"}, {"firmware", "firmware", "N/A"},
                        {"tampered", "tampered", "N/A"}},
                       locator) {}

void VexaKestraTabDevice::readValues(VexaPluginDevice& device, Values& values) {
  readIdentity(device, values);
  bool kiosk = false;
  device.getKioskMode(&kiosk);
  values["kioskMode"] = yesNo(kiosk);
  readEmsr(device, values, emsrKeyVersions);
  readBattery(device, values);
  bool passThru = false;
  int current = 0, scanMode = 0;
  double idle = 0;
  device.getPassThroughSync(&passThru);
  values["passThruSync"] = yesNo(passThru);
  device.getUSBChargeCurrent(&current);
  values["usbCurrent"] = format("%imA", current);
  device.barcodeGetScanMode(&scanMode);
  values["scanMode"] = barcodeScanMode(scanMode);
  device.getAutoOffWhenIdle(&idle);
  values["autoTimeOff"] = format("%0.0f", idle);
  readBarcodeAndSupports(device, values);
}

nlohmann::json VexaKestraTabDevice::getKXDeviceFields() {
  return fieldsFrom({{"batteryLevel", "Battery Level", "battery", 0},
                     {"batteryVoltage", "Battery Voltage", "string", 1},
                     {"batteryHealth", "Battery Health", "string", 2},
                     {"batteryMaxCapacity", "Battery Max Capacity", "string", 3},
                     {"firmware", "Device Firmware", "firmware", 4, "firmware"},
                     {"keyVersion", "Key Version", "string", 5},
                     {"model", "Model", "string", 6},
                     {"name", "Name", "string", 7},
                     {"revision", "Device Revision", "string", 8},
                     {"sdk", "SDK Version", "string", 9},
                     {"serial", "Serial", "string", 10},
                     {"kioskMode", "Kiosk Mode", "bool", 11, "bool"},
                     {"tampered", "Tampered", "bool", 12},
                     {"emsrFirmware", "EMSR Firmware", "string", 13},
                     {"passThruSync", "Pass Through Sync", "bool", 14, "bool"},
                     {"usbCurrent", "USB Current", "list", 15, "list", "1000, 2100, 2400"},
                     {"scanMode", "Scan Mode", "list", 16, "list", "0,1,2,3,4"},
                     {"autoTimeOff", "Auto Time Off", "int", 17, "int", nullptr, "0", "-1"},
                     {"barcodeInfo", "Barcode Information", "string", 18},
                     {"barcodeSupported", "Barcode Supported", "string", 19},
                     {"msrSupported", "MSR Supported", "string", 20},
                     {"rfSupported", "RF Reader Supported", "string", 21},
                     {"uhfSupported", "UHF Supported", "string", 22},
                     {"hidSupported", "HID Supported", "string", 23}});
}

// ---- The speaker sleeves -----------------------------------------------------------------------

VexaZizoriDDevice::VexaZizoriDDevice(VexaLocator* locator)
    : VexaDeviceMember("zizoriD", "Kestra X", "1.0.5",
                       {{"emsrFirmware", "", "n/a"},       {"firmware", "", "n/a"},
                        {"keyVersion", "", "n/a"},         {"model", "", "n/a"},
                        {"name", "", "n/a"},               {"revision", "", "n/a"},
                        {"sdk", "", "n/a"},                {"serial", "", "n/a"},
                        {"tampered", "", "n/a"},           {"batteryLevel", "", "N/A"},
                        {"batteryVoltage", "", "N/A"},     {"batteryHealth", "", "n/a"},
                        {"batteryMaxCapacity", "", "n/a"}, {"passThruSync", "", "N/A"},
                        {"usbCurrent", "", "N/A"},         {"backupCharge", "", "N/A"},
                        {"scanMode", "", "N/A"},           {"autoTimeOff", "", "N/A"},
                        {"autoSpeakerControl", "", "N/A"}, {"speakerButton", "", "N/A"},
                        {"speaker", "", "N/A"},            {"barcodeInfo", "", "N/A"},
                        {"barcodeSupported", "False", "N/A"}, {"msrSupported", "False", "N/A"},
                        {"rfSupported", "False", "N/A"},   {"uhfSupported", "False", "N/A"},
                        {"hidSupported", "False", "N/A"}},
                       {{"battery", "batteryLevel", "N/A"}, {"firmware", "firmware", "N/A"},
                        {"tampered", "tampered", "N/A"}},
                       locator) {}

void VexaZizoriDDevice::readValues(VexaPluginDevice& device, Values& values) {
  readIdentity(device, values);
  readEmsr(device, values, emsrKeyVersions);
  readBattery(device, values);
  bool passThru = false, charging = false, autoControl = false, button = false, speaker = false;
  int current = 0, scanMode = 0;
  double idle = 0;
  device.getPassThroughSync(&passThru);
  values["passThruSync"] = yesNo(passThru);
  device.getUSBChargeCurrent(&current);
  values["usbCurrent"] = format("%imA", current);
  device.getCharging(&charging);
  values["backupCharge"] = yesNo(charging);
  device.barcodeGetScanMode(&scanMode);
  values["scanMode"] = barcodeScanMode(scanMode);
  device.getAutoOffWhenIdle(&idle);
  values["autoTimeOff"] = format("%0.0f", idle);
  device.uiIsSpeakerAutoControlEnabled(&autoControl);
  values["autoSpeakerControl"] = yesNo(autoControl);
  device.uiIsSpeakerButtonEnabled(&button);
  values["speakerButton"] = yesNo(button);
  device.uiIsSpeakerEnabled(&speaker);
  values["speaker"] = yesNo(speaker);
  readBarcodeAndSupports(device, values);
}

nlohmann::json VexaZizoriDDevice::getKXDeviceFields() {
  return fieldsFrom({{"batteryLevel", "Battery Level", "string", 0},
                     {"batteryVoltage", "Battery Voltage", "string", 1},
                     {"batteryHealth", "Battery Health", "string", 2},
                     {"batteryMaxCapacity", "Battery Max Capacity", "string", 3},
                     {"firmware", "Device Firmware", "firmware", 4, "firmware"},
                     {"keyVersion", "Key Version", "string", 5},
                     {"model", "Model", "string", 6},
                     {"name", "Name", "string", 7},
                     {"revision", "Device Revision", "string", 8},
                     {"sdk", "SDK Version", "string", 9},
                     {"serial", "Serial", "string", 10},
                     {"tampered", "Tampered", "bool", 11},
                     {"emsrFirmware", "EMSR Firmware", "string", 12},
                     {"passThruSync", "Pass Through Sync", "bool", 13, "bool"},
                     {"usbCurrent", "USB Current", "list", 14, "list", "500,1000"},
                     {"backupCharge", "Backup Charge", "bool", 15, "bool"},
                     {"scanMode", "Scan Mode", "list", 16, "list", "0,1,2,3,4"},
                     {"autoTimeOff", "Auto Time Off", "int", 17, "int", nullptr, "0", "-1"},
                     {"autoSpeakerControl", "Auto Speaker Control", "bool", 18, "bool"},
                     {"speakerButton", "Speaker Button", "bool", 19, "bool"},
                     {"speaker", "Speaker", "bool", 20, "bool"},
                     {"barcodeInfo", "Barcode Information", "string", 21},
                     {"barcodeSupported", "Barcode Supported", "string", 22},
                     {"msrSupported", "MSR Supported", "string", 23},
                     {"rfSupported", "RF Reader Supported", "string", 24},
                     {"uhfSupported", "UHF Supported", "string", 25},
                     {"hidSupported", "HID Supported", "string", 26}});
}

// ---- The pinpads -------------------------------------------------------------------------------

VexaSkyrigDevice::VexaSkyrigDevice(VexaLocator* locator)
    : VexaDeviceMember("skyrig", "Skyrig", "1.0.6",
                       {{"scanMode", "", "N/A"},          {"emsrFirmware", "", "N/A"},
                        {"bluetoothFirmware", "", "N/A"}, {"appFirmware", "", "N/A"},
                        {"keyVersion", "", "N/A"},        {"model", "", "N/A"},
                        {"name", "", "N/A"},              {"hardwareFirmware", "", "N/A"},
                        {"sdk", "", "N/A"},               {"serial", "", "N/A"},
                        {"tampered", "", "N/A"},          {"batteryLevel", "", "N/A"},
                        {"batteryVoltage", "", "N/A"},    {"batteryHealth", "", "n/a"},
                        {"batteryMaxCapacity", "", "n/a"}, {"barcodeInfo", "", "N/A"},
                        {"barcodeSupported", "False", "N/A"}, {"msrSupported", "False", "N/A"},
                        {"rfSupported", "False", "N/A"},  {"uhfSupported", "False", "N/A"},
                        {"hidSupported", "False", "N/A"}},
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
  return fieldsFrom({{"batteryLevel", "Battery Level", "battery", 0},
                     {"batteryVoltage", "Battery Voltage", "string", 1},
                     {"batteryHealth", "Battery Health", "string", 2},
                     {"batteryMaxCapacity", "Battery Max Capacity", "string", 3},
                     {"appFirmware", "Application Firmware", "string", 4},
                     {"hardwareFirmware", "Hardware Firmware", "string", 5},
                     {"bluetoothFirmware", "Bluetooth Firmware", "string", 6},
                     {"keyVersion", "Key Version", "string", 7},
                     {"model", "Model", "string", 8},
                     {"name", "Name", "string", 9},
                     {"sdk", "SDK Version", "string", 10},
                     {"serial", "Serial", "string", 11},
                     {"tampered", "Tampered", "bool", 12},
                     {"emsrFirmware", "EMSR Firmware", "string", 13},
                     {"scanMode", "Scan Mode", "list", 14, "list", "0,1,2,3,4"},
                     {"barcodeInfo", "Barcode Information", "string", 15},
                     {"barcodeSupported", "Barcode Supported", "string", 16},
                     {"msrSupported", "MSR Supported", "string", 17},
                     {"rfSupported", "RF Reader Supported", "string", 18},
                     {"uhfSupported", "UHF Supported", "string", 19},
                     {"hidSupported", "HID Supported", "string", 20}});
}

// ---- The receipt printers ----------------------------------------------------------------------

VexaVKPPrinterDevice::VexaVKPPrinterDevice(VexaLocator* locator)
    : VexaDeviceMember("vkpPrinter", "VKP Printer", "1.0.1",
                       {{"firmware", "", "N/A"},
                        {"model", "", "N/A"},
                        {"name", "", "N/A"},
                        {"revision", "", "N/A"},
                        {"sdk", "", "N/A"},
                        {"serial", "", "N/A"},
                        {"batteryLevel", "", "N/A"},
                        {"batteryVoltage", "", "N/A"}},
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
  return fieldsFrom({{"batteryLevel", "Battery Level", "battery", 0},
                     {"batteryVoltage", "Battery Voltage", "string", 1},
                     {"firmware", "Device Firmware", "firmware", 2, "firmware"},
                     {"model", "Model", "string", 3},
                     {"name", "Name", "string", 4},
                     {"revision", "Device Revision", "string", 5},
                     {"sdk", "SDK Version", "string", 6},
                     {"serial", "Serial", "string", 7}});
}

}  // namespace kestra
