#include "sdk/foundation/KXErrors.h"

namespace kestra {
namespace {

// Index n - 1 holds the text of device status n (code -(16500 + n)).
constexpr const char* kDeviceStatusTexts[49] = {
    "Generic error",
    "Invalid command or subcommand code",
    "Invalid paremeter",
    "Address is outside limits",
    "Value is outside limits",
    "Length is outside limits",
    "The action is not permitted in current state",
    "There is no data to be returned",
    "Timeout occured",
    "Invalid key number",
    "Invalid key attributes (usage)",
    "Calling of non-existing device",
    "Operation not supported",
    "Pin entering limit exceed",
    "Error in flash commands",
    "Hardware error",
    "Inalid CRC",
    "Operation cancelled",
    "Invalid signature",
    "Invalid data in header",
    "Incorrent password",
    "Invalid key format",
    "Error in smart card reader",
    "Error code is returned from HAL functions",
    "Invalid key (or missing)",
    "PIN length invalid",
    "Issuer or ICC key invalid remainder length",
    "Not initialized",
    "Limit reached",
    "Invalid sequence",
    "The action is not permited",
    "TMK is not loaded. The action cannot be executed",
    "Wrong key format",
    "Duplicated key",
    "General keyboard error",
    "Keyboard not calibrated",
    "Keyboard failure",
    "The device is busy, try again",
    "The device is tampered",
    "Error in encrypted head",
    "The button OK is pressed with wrong conditions",
    "Invalid PAN number",
    "Not enough memory",
    "General EMV error",
    "Cryptographical error",
    "Wrong data received",
    "Wrong/unsupported firmware version",
    "No paper present",
    "Printer head is overheated",
};

// Index -code holds the text of generic code 0 to -23.
constexpr const char* kGenericTexts[24] = {
    "Operation successful",
    "General error / Unknown error",
    "Create error",
    "Open error",
    "Close error",
    "Device or resource busy",
    "Timeout expired",
    "Unsupported method or operation",
    "Memory allocation error",
    "Invalid parameter",
    "Input/Output error",
    "CRC error",
    "Flash error",
    "EEPROM error",
    "Device error",
    "The operation is not implemented",
    "The device or resource does not exists",
    "Invalid command",
    "Not exist object",
    "No more items",
    "Command Failed",
    "Invalid command",
    "Not registered",
    "Permission denied",
};

constexpr const char* kUnknown = "Unknown error";

const char* headText(int status) {
  switch (status) {
    case 1: return "Encrypted magnetic head invalid command sent";
    case 2: return "Encrypted magnetic head no permission error";
    case 3: return "Encrypted magnetic head card error";
    case 4: return "Encrypted magnetic head command syntax error";
    case 5: return "Encrypted magnetic head command no response from the magnetic chip";
    case 6: return "Encrypted magnetic head no data available";
    case 20: return "Encrypted magnetic head invalid data length";
    case 21: return "Encrypted magnetic head is tampered";
    case 22: return "Encrypted magnetic head invalid signature";
    case 23: return "Encrypted magnetic head hardware failure";
    default: return kUnknown;
  }
}

}  // namespace

const char* KXErrors::getErrorDescription(int code) {
  if (code >= -16549 && code <= -16501) return kDeviceStatusTexts[-code - 16501];
  if (code >= -23 && code <= 0) return kGenericTexts[-code];
  if (code >= -11023 && code <= -11001) return headText(-code - 11000);
  return kUnknown;
}

}  // namespace kestra
