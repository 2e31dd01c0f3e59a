// Device-wide settings: battery, charging, automatic power-off, kiosk mode and pass-through
// sync, USB charge current, sound and the generic printer's page; and the HID card reader
// calls, which have no driver in this build.
//
// Each call has its own candidate order (sleeve, then the active printer, then the pinpad,
// unless said otherwise) and goes to the first one the routing rule picks. The printer and
// the pinpad have no battery record of their own: theirs is made here from the printer's
// information items and the pinpad's hardware information.

#include "sdk/device/KXDevices.h"
#include "sdk/pinpad/PPad.h"

namespace kestra {

namespace {

constexpr const char* kKioskRefused = "Kisok mode cannot be enabled at the same time as pass-through sync";
constexpr const char* kSyncRefused = "Pass-through sync cannot be enabled at the same time as kiosk mode";
// The printer's information items.
constexpr int kPrinterInfoVoltage = 0;  // tenths of a volt
constexpr int kPrinterInfoCapacity = 1;  // per cent
// The sleeve's sync-button mode that passes the sync button through to the phone.
constexpr int kSyncPassThrough = 1;

bool refuse(Error* error, const char* text) {
  const Error e = KXUNISDKGlobals::makeError(-21, std::string(text));
  KXUNISDKGlobals::LOG("ERROR: %s", e.text.c_str());
  return foundation::fail(error, e);
}

}  // namespace

// ---- Battery ---------------------------------------------------------------------------------

bool KXDevices::getBatteryCapacity(int* capacity, float* voltage, Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Printer, Kind::Pinpad});
  if (!kind) return routeError(error);
  if (*kind == Kind::Sleeve) return sleeve_->getBatteryCapacity(capacity, voltage, error);
  if (*kind == Kind::Printer) {
    // Two reads: the percentage is written before the voltage is asked for.
    int percent = 0, tenths = 0;
    if (!printer().getInfo(kPrinterInfoCapacity, &percent, error)) return false;
    if (capacity) *capacity = percent;
    if (!printer().getInfo(kPrinterInfoVoltage, &tenths, error)) return false;
    if (voltage) *voltage = float(tenths) / 10.0f;
    return true;
  }
  PPad* pad = securePinpad(error);
  if (!pad) return false;
  PPadHardwareInfo info;
  if (!ppadResult(pad->sysGetHardwareInfo(&info), error)) return false;
  if (capacity) *capacity = int(info.value0);
  if (voltage) *voltage = float(info.value2) / 10.0f;
  return true;
}

std::shared_ptr<KXBatteryInfo> KXDevices::getConnectedDeviceBatteryInfo(int kind, Error* error) {
  // Kinds 0 sleeve, 1 printer, 2 pinpad; any other has no device.
  std::optional<Kind> wanted;
  if (kind == DEVICE_TYPE_SLEEVE) wanted = route({Kind::Sleeve});
  else if (kind == DEVICE_TYPE_PRINTER) wanted = route({Kind::Printer});
  else if (kind == DEVICE_TYPE_PINPAD) wanted = route({Kind::Pinpad});
  if (!wanted) {
    routeError(error);
    return nullptr;
  }
  if (*wanted == Kind::Sleeve) return sleeve_->getBatteryInfo(error);
  auto info = std::make_shared<KXBatteryInfo>();
  info->maximumCapacity = 0;
  info->charging = false;
  if (*wanted == Kind::Printer) {
    int percent = 0, tenths = 0;
    if (!printer().getInfo(kPrinterInfoCapacity, &percent, error) ||
        !printer().getInfo(kPrinterInfoVoltage, &tenths, error))
      return nullptr;
    info->capacity = percent;
    info->voltage = float(tenths) / 10.0f;
    return info;
  }
  PPad* pad = securePinpad(error);
  if (!pad) return nullptr;
  PPadHardwareInfo hw;
  if (!ppadResult(pad->sysGetHardwareInfo(&hw), error)) return nullptr;
  info->capacity = int(hw.value0);
  info->voltage = float(hw.value2) / 10.0f;
  info->charging = hw.charging;
  return info;
}

std::shared_ptr<KXBatteryInfo> KXDevices::getBatteryInfo(Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Pinpad, Kind::Printer});
  if (!kind) {
    routeError(error);
    return nullptr;
  }
  const int deviceKind = *kind == Kind::Sleeve ? DEVICE_TYPE_SLEEVE
                         : *kind == Kind::Pinpad ? DEVICE_TYPE_PINPAD
                                                 : DEVICE_TYPE_PRINTER;
  return getConnectedDeviceBatteryInfo(deviceKind, error);
}

bool KXDevices::setBatteryMaxCapacity(int capacity, Error* error) {
  if (route({Kind::Sleeve})) return sleeve_->setBatteryMaxCapacity(capacity, error);
  return routeError(error);
}

bool KXDevices::setInternalBatteryChargeCurrentMode(int mode, Error* error) {
  if (route({Kind::Sleeve})) return sleeve_->setInternalBatteryChargeCurrentMode(mode, error);
  return routeError(error);
}

bool KXDevices::getInternalBatteryChargeCurrentMode(int* mode, Error* error) {
  if (route({Kind::Sleeve})) return sleeve_->getInternalBatteryChargeCurrentMode(mode, error);
  return routeError(error);
}

// ---- Charging ----------------------------------------------------------------------------------

bool KXDevices::getCharging(bool* charging, Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Printer, Kind::Pinpad});
  if (!kind) return routeError(error);
  if (*kind == Kind::Sleeve) return sleeve_->getCharging(charging, error);
  if (*kind == Kind::Printer) {
    if (charging) *charging = false;
    return true;
  }
  PPad* pad = securePinpad(error);
  if (!pad) return false;
  PPadHardwareInfo hw;
  if (!ppadResult(pad->sysGetHardwareInfo(&hw), error)) return false;
  if (charging) *charging = hw.charging;
  return true;
}

bool KXDevices::setCharging(bool enabled, Error* error) {
  if (route({Kind::Sleeve})) return sleeve_->setCharging(enabled, error);
  return routeError(error);
}

bool KXDevices::getUSBChargeCurrent(int* current, Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Pinpad});
  if (!kind) return routeError(error);
  if (*kind == Kind::Sleeve) return sleeve_->getUSBChargeCurrent(current, error);
  PPad* pad = securePinpad(error);
  if (!pad) return false;
  int value = 0;
  if (!ppadResult(pad->sysGetUSBChargingCurrent(&value), error)) return false;
  if (current) *current = value;
  return true;
}

bool KXDevices::setUSBChargeCurrent(int current, Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Pinpad});
  if (!kind) return routeError(error);
  if (*kind == Kind::Sleeve) return sleeve_->setUSBChargeCurrent(current, error);
  PPad* pad = securePinpad(error);
  return pad && ppadResult(pad->sysSetUSBChargingCurrent(current), error);
}

// ---- Automatic power-off -------------------------------------------------------------------------

bool KXDevices::setAutoOffWhenIdle(double idleSeconds, double disconnectedSeconds, Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Printer, Kind::Pinpad});
  if (!kind) return routeError(error);
  // Only the sleeve has a separate time for while it is not connected.
  if (*kind == Kind::Sleeve) return sleeve_->setAutoOffWhenIdle(idleSeconds, disconnectedSeconds, error);
  if (*kind == Kind::Printer) return printer().prnSetAutoOffTime(int(idleSeconds), error);
  PPad* pad = securePinpad(error);
  return pad && ppadResult(pad->sysSetAutoOffTimeSec(int(idleSeconds)), error);
}

bool KXDevices::getAutoOffWhenIdle(double* idleSeconds, double* disconnectedSeconds, Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Printer, Kind::Pinpad});
  if (!kind) return routeError(error);
  if (*kind == Kind::Sleeve) return sleeve_->getAutoOffWhenIdle(idleSeconds, disconnectedSeconds, error);
  double idle = 0;
  if (*kind == Kind::Printer) {
    const auto info = printer().getPrinterInfo(error);
    if (!info) return false;
    idle = info->autoOffTime;
  } else {
    PPad* pad = securePinpad(error);
    if (!pad) return false;
    int seconds = 0;
    if (!ppadResult(pad->sysGetAutoOffTimeSec(&seconds), error)) return false;
    idle = seconds;
  }
  if (idleSeconds) *idleSeconds = idle;
  if (disconnectedSeconds) *disconnectedSeconds = 0;
  return true;
}

// ---- Sound and the generic printer ---------------------------------------------------------------

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

bool KXDevices::prnSetGenericPrinterSettingsPageWidth(int width, int feedLines, Error* error) {
  if (route({Kind::Printer})) return printer().setGenericPrinterSettingsPageWidth(width, feedLines, error);
  return routeError(error);
}

// ---- Kiosk mode and pass-through sync ------------------------------------------------------------
// The two exclude each other on the sleeve: switching one on is refused while the other is
// on (as far as the sleeve tells); switching either off is never refused.

bool KXDevices::setKioskMode(bool enabled, Error* error) {
  if (!route({Kind::Sleeve})) return routeError(error);
  if (enabled) {
    int mode = 0;
    if (sleeve_->getSyncButtonMode(&mode, nullptr) && mode == kSyncPassThrough) return refuse(error, kKioskRefused);
  }
  return sleeve_->setKioskMode(enabled, error);
}

bool KXDevices::getKioskMode(bool* enabled, Error* error) {
  if (route({Kind::Sleeve})) return sleeve_->getKioskMode(enabled, error);
  return routeError(error);
}

bool KXDevices::getPassThroughSync(bool* enabled, Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Printer, Kind::Pinpad});
  if (!kind) return routeError(error);
  // A printer never passes the sync through, a pinpad always: neither is asked.
  if (*kind != Kind::Sleeve) {
    if (enabled) *enabled = *kind == Kind::Pinpad;
    return true;
  }
  int mode = 0;
  if (!sleeve_->getSyncButtonMode(&mode, error)) return false;
  if (enabled) *enabled = mode != 0;
  return true;
}

bool KXDevices::setPassThroughSync(bool enabled, Error* error) {
  if (!route({Kind::Sleeve})) return routeError(error);
  if (enabled) {
    bool kiosk = false;
    if (sleeve_->getKioskMode(&kiosk, nullptr) && kiosk) return refuse(error, kSyncRefused);
  }
  return sleeve_->setSyncButtonMode(enabled ? kSyncPassThrough : 0, error);
}

}  // namespace kestra
