// The device API's firmware calls: a firmware file's information and the update of the
// connected device's firmware.
//
// A file's information does not depend on what is connected: the file is offered to the
// sleeve, the pinpad and the hub drivers in turn, each of which knows only its own format.
// An update goes to the first of the sleeve, the pinpad, the serial adapter and the hub that
// the routing rule picks; the pinpad and the adapter always check their files.

#include <nlohmann/json.hpp>

#include "sdk/device/KXDevices.h"
#include "sdk/pinpad/PPad.h"

namespace kestra {

std::optional<nlohmann::json> KXDevices::getFirmwareFileInformation(const Bytes& data, Error* error) {
  if (auto info = sleeve_->getFirmwareFileInformation(data, nullptr)) return info;
  if (PPad* pad = pinpad_->securePad())
    if (auto info = pad->sysGetFirmwareFileInformation(data)) return info;
  if (auto info = hub_->getFirmwareFileInformation(data, nullptr)) return info;
  routeError(error);
  return std::nullopt;
}

bool KXDevices::updateFirmwareData(const Bytes& data, Error* error) { return updateFirmwareData(data, true, error); }

bool KXDevices::updateFirmwareData(const Bytes& data, bool validate, Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Pinpad, Kind::Adapter, Kind::Hub});
  if (!kind) return routeError(error);
  switch (*kind) {
    case Kind::Sleeve: return sleeve_->updateFirmwareData(data, validate, error);
    case Kind::Pinpad: {
      PPad* pad = securePinpad(error);
      return pad && ppadResult(pad->sysFirmwareUpdate(data), error);
    }
    case Kind::Adapter: return adapter_->updateFirmwareData(data, validate, error);
    case Kind::Hub: return hub_->updateFirmwareData(data, validate, error);
    default: return routeError(error);
  }
}

}  // namespace kestra
