// Battery, charging, sound, pass-through sync and the other sleeve settings the facade
// relies on; and the HID card reader calls, which have no driver in this build.

#include "sdk/device/KXDevices.h"

namespace kestra {

bool KXDevices::getBatteryCapacity(int* capacity, float* voltage, Error* error) {
  if (route({Kind::Sleeve})) return sleeve_->getBatteryCapacity(capacity, voltage, error);
  return routeError(error);
}

std::shared_ptr<KXBatteryInfo> KXDevices::getConnectedDeviceBatteryInfo(int kind, Error* error) {
  if (kind == DEVICE_TYPE_SLEEVE && route({Kind::Sleeve})) return sleeve_->getBatteryInfo(error);
  routeError(error);
  return nullptr;
}

std::shared_ptr<KXBatteryInfo> KXDevices::getBatteryInfo(Error* error) {
  return getConnectedDeviceBatteryInfo(DEVICE_TYPE_SLEEVE, error);
}

bool KXDevices::getCharging(bool* charging, Error* error) {
  if (route({Kind::Sleeve})) return sleeve_->getCharging(charging, error);
  return routeError(error);
}

bool KXDevices::setCharging(bool enabled, Error* error) {
  if (route({Kind::Sleeve})) return sleeve_->setCharging(enabled, error);
  return routeError(error);
}

bool KXDevices::getUSBChargeCurrent(int* current, Error* error) {
  if (route({Kind::Sleeve})) return sleeve_->getUSBChargeCurrent(current, error);
  return routeError(error);
}

bool KXDevices::setUSBChargeCurrent(int current, Error* error) {
  if (route({Kind::Sleeve})) return sleeve_->setUSBChargeCurrent(current, error);
  return routeError(error);
}

bool KXDevices::playSound(int volume, const int* beepData, int length, Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Printer, Kind::Pinpad});
  if (!kind) return routeError(error);
  if (*kind == Kind::Sleeve) return sleeve_->playSound(volume, beepData, length, error);
  if (*kind == Kind::Printer) {
    printer().beep(nullptr);  // the printer's own beep; its result is not looked at
    return true;
  }
  return ppadResult(pinpad_->sysPlaySound(beepData, length, volume), error);
}

bool KXDevices::getPassThroughSync(bool* enabled, Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Printer, Kind::Pinpad});
  if (!kind) return routeError(error);
  if (*kind == Kind::Printer) return false;
  if (*kind == Kind::Pinpad) return true;
  int mode = 0;
  if (!sleeve_->getSyncButtonMode(&mode, error)) return false;
  if (enabled) *enabled = mode != 0;
  return true;
}

bool KXDevices::setPassThroughSync(bool enabled, Error* error) {
  if (!route({Kind::Sleeve})) return routeError(error);
  if (enabled) {
    bool kiosk = false;
    if (sleeve_->getKioskMode(&kiosk, nullptr) && kiosk)
      return foundation::fail(
          error, KXUNISDKGlobals::makeError(-21, std::string("Pass-through sync cannot be enabled at the same time as kiosk mode")));
  }
  return sleeve_->setSyncButtonMode(enabled ? 1 : 0, error);
}

bool KXDevices::getKioskMode(bool* enabled, Error* error) {
  if (!route({Kind::Sleeve})) return routeError(error);
  return sleeve_->getKioskMode(enabled, error);
}

bool KXDevices::getAutoOffWhenIdle(double* idleSeconds, double* disconnectedSeconds, Error* error) {
  if (!route({Kind::Sleeve})) return routeError(error);
  return sleeve_->getAutoOffWhenIdle(idleSeconds, disconnectedSeconds, error);
}

std::optional<Bytes> KXDevices::hidExecuteAPDU(int /*cardIndex*/, const Bytes& /*apdu*/, Error* error) {
  // No HID card reader driver is part of this build: the call has no candidate.
  routeError(error);
  return std::nullopt;
}

bool KXDevices::hidUpdateConfig(const Bytes& /*config*/, Error* error) { return routeError(error); }

}  // namespace kestra
