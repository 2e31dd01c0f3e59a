#pragma once
// Value records through which the SDK describes devices, keys, cards and kernels to
// applications. Each is a plain struct of public fields, filled by the driver or the device
// API that returns it and copied freely; none holds a reference to a driver.
//
// Records that parse raw data themselves live in their own headers: EMSRDeviceInfo.h
// (encrypted head), KXTouchIdentity.h and KXTouchFormatAnsiIso.h (fingerprint module);
// KXBatteryInfo.h carries the battery record.

#include <chrono>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Bytes.h"

namespace kestra {

// One connected device.
struct KXDeviceInfo {
  int deviceType = 0;
  int deviceModel = 0;
  int connectionType = 0;
  std::string name;
  std::string model;
  std::string firmwareRevision;
  std::string hardwareRevision;
  std::string serialNumber;
  foundation::Bytes serialNumberCPU;
};

// State of the device's key generation.
struct KXVoltageInfo {
  bool keyGenerated = false;
  bool keyGenerationInProgress = false;
  std::optional<std::chrono::system_clock::time_point> keyGenerationDate;
  int settingsVersion = 0;
};

struct KXPrinterInfo {
  int resolutionDPI = 0;
  int paperWidthPx = 0;
  int paperWidthInch = 0;
  int maxPageModeWidthPx = 0;
  int maxPageModeHeightPx = 0;
  bool pageModeSupported = false;
  bool labelModeSupported = false;
  bool labelModeActive = false;
  bool paperPresent = false;
  double autoOffTime = 0;  // seconds
};

// Versions of the EMV kernel and its data sets.
struct KXEMV2Info {
  int contactlessConfigurationVersion = 0;
  int contactConfigurationVersion = 0;
  int contactlessCAPKVersion = 0;
  int contactCAPKVersion = 0;
  int messagesVersion = 0;
  int configurationVersion = 0;
  int emvKernelVersion = 0;
};

// A payment card's fields; an empty text stands for a field the tracks did not carry.
struct KXFinancialCardInfo {
  std::string cardholderName;
  std::string cardholderFirstName;
  std::string cardholderLastName;
  std::string accountNumber;
  std::string serviceCode;
  std::string discretionaryData;
  int expirationMonth = 0;
  int expirationYear = 0;
};

// An EMV certification-authority public key.
struct KXCAKeyInfo {
  int keyIndex = 0;
  foundation::Bytes RIDI;  // registered application provider identifier
  int moduleLength = 0;
};

struct KXEMVApplication {
  foundation::Bytes aid;
  std::string label;
  int matchCriteria = 0;
};

struct KXCertificateInfo {
  int slot = 0;
  uint32_t version = 0;
  uint32_t usage = 0;
};

// A fingerprint template.
struct KXTouchTemplate {
  int format = 0;
  foundation::Bytes data;
};

}  // namespace kestra
