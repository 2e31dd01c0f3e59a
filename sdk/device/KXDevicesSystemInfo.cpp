// The device API's calls on the attached device as a whole (communication test, battery
// warning, events, power, settings, pass-through, clock, mute, the hub's ports, charging and
// serial number) and the records of the connected devices.
//
// Each call goes to one driver by the common routing rule (KXDevices.h); pinpad statuses
// become errors through `ppadError`. Record lookups fail with -16 "No such device connected"
// for a known device that is not connected (or a slot index it does not have) and -16 "No
// such device exists" for an unknown type.

#include "sdk/device/KXDevices.h"

namespace kestra {

namespace {

constexpr const char* kNotConnectedText = "No such device connected";
constexpr const char* kNoSuchDeviceText = "No such device exists";

}  // namespace

// ---- System settings ------------------------------------------------------------------------------

uint64_t KXDevices::sysCommTest(int repetitions, int nBytes, Error* error) {
  if (!route({Kind::Pinpad})) {
    routeError(error);
    return 0;
  }
  const uint32_t before = KXUNISDKGlobals::getTickCount();
  const int status = pinpad_->commTest(repetitions, nBytes);
  const uint32_t after = KXUNISDKGlobals::getTickCount();
  if (!ppadResult(status, error)) return 0;
  return uint32_t(after - before);
}

bool KXDevices::sysSetBatteryWarningLevelPercent(int percent, Error* error) {
  if (!route({Kind::Pinpad})) return routeError(error);
  return ppadResult(pinpad_->sysSetBatteryWarningLevelPercent(percent), error);
}

bool KXDevices::sysEnableEvents(int flags, Error* error) {
  if (!route({Kind::Pinpad})) return routeError(error);
  // Every event on, except: the keypad's (bits 1-4) unless flags bit 2 asks for them, the
  // magnetic card's (bit 6) unless flags bit 1 does, and the smart card's (bits 7 and 8)
  // unless flags bit 0 does.
  uint32_t mask = (flags & 1) ? uint32_t(-95) : uint32_t(-479);
  if (flags & 2)
    mask |= 0x40u;
  else
    mask &= ~0x40u;
  if (flags & 4) mask |= 0x1Eu;
  return ppadResult(pinpad_->sysEnableEvents(mask), error);
}

bool KXDevices::getTimeRemainingToPowerOff(double* seconds, Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Pinpad});
  if (!kind) return routeError(error);
  if (*kind == Kind::Sleeve) return sleeve_->getTimeRemainingToPowerOff(seconds, error);
  double value = 0;
  if (!ppadResult(pinpad_->getTimeRemainingToPowerOff(&value), error)) return false;
  if (seconds) *seconds = value;
  return true;
}

bool KXDevices::sysSaveSettingsToFlash(Error* error) {
  if (!route({Kind::Sleeve})) return routeError(error);
  return sleeve_->sysSaveSettingsToFlash(error);
}

bool KXDevices::sysPowerOff(Error* error) {
  const auto kind = route({Kind::Sleeve, Kind::Pinpad, Kind::Printer});
  if (!kind) return routeError(error);
  switch (*kind) {
    case Kind::Sleeve: return sleeve_->sysPowerOff(error);
    case Kind::Pinpad: return ppadResult(pinpad_->sysTurnOff(), error);
    default: return printer().turnOff(error);
  }
}

bool KXDevices::sysIsDevelopmentUnit() { return route({Kind::Pinpad}) && pinpad_->sysIsDevelopmentUnit(); }

bool KXDevices::sysEnterPassThrough(Error* error) {
  if (!route({Kind::Sleeve})) return routeError(error);
  return sleeve_->sysEnterPassThrough(error);
}

std::optional<std::chrono::system_clock::time_point> KXDevices::rtcGetDeviceDate(Error* error) {
  if (!route({Kind::Pinpad})) {
    routeError(error);
    return std::nullopt;
  }
  std::chrono::system_clock::time_point date{};
  if (!ppadResult(pinpad_->sysGetDate(&date), error)) return std::nullopt;
  return date;
}

bool KXDevices::rtcSetDeviceDate(std::chrono::system_clock::time_point date, Error* error) {
  if (!route({Kind::Pinpad})) return routeError(error);
  return ppadResult(pinpad_->sysSetDate(date), error);
}

bool KXDevices::sysMute(Error* error) {
  if (!route({Kind::Sleeve})) return routeError(error);
  return sleeve_->sysMute(error);
}

// ---- The hub ----------------------------------------------------------------------------------------

std::shared_ptr<TrelmoDevice> KXDevices::TrelmoGetDeviceFormPort(int port, Error* error) {
  if (!route({Kind::Hub})) {
    routeError(error);
    return nullptr;
  }
  return hub_->getPortDeviceFormPort(port, error);
}

std::optional<std::vector<TrelmoPortInfo>> KXDevices::TrelmoGetPortsInfo(Error* error) {
  if (!route({Kind::Hub})) {
    routeError(error);
    return std::nullopt;
  }
  return hub_->getPortsInfo(error);
}

bool KXDevices::TrelmoSetPortConfig(const std::string& config, int port, Error* error) {
  return TrelmoSetPortConfig(config, port, false, error);
}

bool KXDevices::TrelmoSetPortConfig(const std::string& config, int port, bool recreateConnection, Error* error) {
  if (!route({Kind::Hub})) return routeError(error);
  return hub_->setPortConfig(config, port, recreateConnection, error);
}

bool KXDevices::TrelmoSetUSBCharge(bool on, int port, Error* error) {
  if (!route({Kind::Hub})) return routeError(error);
  return hub_->setUSBCharge(on, port, error);
}

bool KXDevices::TrelmoSetAppleChargingCurrent(int current, Error* error) {
  if (!route({Kind::Hub})) return routeError(error);
  return hub_->setAppleCharge(current, error);
}

bool KXDevices::TrelmoGetAppleChargingCurrent(int* current, Error* error) {
  if (!route({Kind::Hub})) return routeError(error);
  return hub_->getAppleCharge(current, error);
}

bool KXDevices::kxPrivateSetSerial(const std::string& serial, Error* error) {
  if (!route({Kind::Hub})) return routeError(error);
  return hub_->setSerial(serial, error);
}

// ---- Connected devices --------------------------------------------------------------------------------

int KXDevices::getFistConnectedDeviceType() {
  if (sleeve_->connstate() == CONN_CONNECTED) return DEVICE_TYPE_SLEEVE;
  if (std::max(printers_[0]->connstate(), printers_[1]->connstate()) == CONN_CONNECTED) return DEVICE_TYPE_PRINTER;
  if (pinpad_->connstate() == CONN_CONNECTED) return DEVICE_TYPE_PINPAD;
  if (hub_->connected()) return DEVICE_TYPE_HUB;
  if (barcodeHID_->connected()) return DEVICE_TYPE_HID_BARCODE;
  if (keyboardHID_->connected()) return DEVICE_TYPE_USB_KEYBOARD;
  if (magtek_->connected()) return DEVICE_TYPE_USB_MSR;
  return DEVICE_TYPE_AUTOMATIC;
}

std::shared_ptr<KXDeviceInfo> KXDevices::getConnectedDeviceInfo(int type, Error* error) {
  return getConnectedDeviceInfo(type, 0, error);
}

std::shared_ptr<KXDeviceInfo> KXDevices::getConnectedDeviceInfo(int type, int index, Error* error) {
  auto fail = [&](const char* text) -> std::shared_ptr<KXDeviceInfo> {
    if (error) {
      *error = KXUNISDKGlobals::makeError(-16, std::string(text));
      KXUNISDKGlobals::LOG("ERROR: %s", error->text.c_str());
    }
    return nullptr;
  };
  auto info = std::make_shared<KXDeviceInfo>();
  info->deviceType = type;
  const int lookup = type == DEVICE_TYPE_AUTOMATIC ? getFistConnectedDeviceType() : type;
  const bool known = lookup >= DEVICE_TYPE_SLEEVE && lookup <= DEVICE_TYPE_USB_KEYBOARD &&
                     lookup != DEVICE_TYPE_PRINTER_ALIAS;
  if (!known) return fail(kNoSuchDeviceText);
  // Only the printers have a second slot.
  const int slots = lookup == DEVICE_TYPE_PRINTER ? 2 : 1;
  if (index < 0 || index >= slots) return fail(kNotConnectedText);

  auto fill = [&](KXDriverBase& d, int connectionType) {
    info->connectionType = connectionType;
    info->name = d.deviceName();
    info->model = d.deviceModel();
    info->firmwareRevision = d.firmwareRevision();
    info->hardwareRevision = d.hardwareRevision();
    info->serialNumber = d.serialNumber();
  };
  auto managed = [&](KXManagedDriver& d) {
    if (d.connstate() != CONN_CONNECTED) return false;
    fill(d, d.connectionType());
    return true;
  };
  auto stream = [&](KXStreamDriver& d) {
    if (!d.connected()) return false;
    fill(d, 0);
    return true;
  };
  auto reader = [&](KXStreamDriver& d, const char* name) {
    if (!d.connected()) return false;
    info->name = name;
    // The reader's own USB strings, where it gives them.
    if (const auto usb = d.usbDeviceDescriptor()) {
      if (!usb->iManufacturer.empty()) info->name = usb->iManufacturer;
      if (!usb->iProduct.empty()) info->model = usb->iProduct;
      if (!usb->iSerialNumber.empty()) info->serialNumber = usb->iSerialNumber;
    }
    return true;
  };

  bool found = false;
  switch (lookup) {
    case DEVICE_TYPE_SLEEVE: found = managed(*sleeve_); break;
    case DEVICE_TYPE_PRINTER: found = managed(*printers_[size_t(index)]); break;
    case DEVICE_TYPE_PINPAD:
      found = managed(*pinpad_);
      if (found) info->serialNumberCPU = pinpad_->serialNumberCPU();
      break;
    case DEVICE_TYPE_SERIAL_ADAPTER: found = stream(*adapter_); break;
    case DEVICE_TYPE_HUB: found = stream(*hub_); break;
    case DEVICE_TYPE_HID_BARCODE: found = reader(*barcodeHID_, "HID Barcode"); break;
    case DEVICE_TYPE_USB_MSR: found = reader(*magtek_, "USB MSR"); break;
    case DEVICE_TYPE_USB_KEYBOARD: found = reader(*keyboardHID_, "HID Keyboard"); break;
    default: break;
  }
  return found ? info : fail(kNotConnectedText);
}

std::vector<std::shared_ptr<KXDeviceInfo>> KXDevices::getConnectedDevicesInfo(Error* /*error*/) {
  std::vector<std::shared_ptr<KXDeviceInfo>> out;
  for (int index : {0, 1})
    for (int type : {DEVICE_TYPE_SLEEVE, DEVICE_TYPE_PRINTER, DEVICE_TYPE_PINPAD, DEVICE_TYPE_SERIAL_ADAPTER,
                     DEVICE_TYPE_HUB, DEVICE_TYPE_HID_BARCODE, DEVICE_TYPE_USB_MSR})
      if (auto info = getConnectedDeviceInfo(type, index, nullptr)) out.push_back(std::move(info));
  return out;
}

}  // namespace kestra
