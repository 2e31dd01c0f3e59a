// The device API's firmware calls: a firmware file's information and the update of the
// connected device's firmware. The sleeve takes its own files; the other drivers join here
// as they gain firmware updates of their own.

#include <nlohmann/json.hpp>

#include "sdk/device/KXDevices.h"

namespace kestra {

std::optional<nlohmann::json> KXDevices::getFirmwareFileInformation(const Bytes& data, Error* error) {
  // Each driver knows only its own file format, whatever device is connected.
  if (auto info = sleeve_->getFirmwareFileInformation(data, nullptr)) return info;
  routeError(error);
  return std::nullopt;
}

bool KXDevices::updateFirmwareData(const Bytes& data, Error* error) { return updateFirmwareData(data, true, error); }

bool KXDevices::updateFirmwareData(const Bytes& data, bool validate, Error* error) {
  if (route({Kind::Sleeve})) return sleeve_->updateFirmwareData(data, validate, error);
  return routeError(error);
}

}  // namespace kestra
