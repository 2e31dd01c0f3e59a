#include "sdk/device/KXStandIns.h"

#include <nlohmann/json.hpp>

#include "sdk/foundation/KXUNISDKGlobals.h"

namespace kestra {

Error noDeviceError() { return KXUNISDKGlobals::makeError(-20, std::string("No device connected")); }

bool KXStandInPrinter::beep(Error* error) { return foundation::fail(error, noDeviceError()); }

std::optional<std::string> KXStandInPrinter::scanBarcode(double, int*, Error* error) {
  foundation::fail(error, noDeviceError());
  return std::nullopt;
}

std::optional<nlohmann::json> KXStandInPinpad::msGetLastCardMaskedData(Error* error) {
  foundation::fail(error, noDeviceError());
  return std::nullopt;
}

}  // namespace kestra
