// The facade: creation, delegates, the merged connection view, the calls the charging case
// serves, and the events passed on to the application.

#include "sdk/device/OKTKXDevices.h"

#include <algorithm>
#include <cstdio>
#include <sstream>

#include "platform/foundation/NotificationCenter.h"
#include "sdk/device/OKTCD.h"

#ifndef KESTRA_SDK_VERSION_STRING
#define KESTRA_SDK_VERSION_STRING "1.0.0"
#endif

namespace kestra {

OKTKXDevices& OKTKXDevices::sharedDevice() {
  // Lives for the whole process, like the drivers: the device-management agent's workers may
  // still ask it for devices while the process exits. The holder stays reachable here.
  static std::shared_ptr<OKTKXDevices>* const holder = new std::shared_ptr<OKTKXDevices>(
      create(KXDevices::sharedDevice().shared_from_this(), OKTCD::sharedDevice(),
             registerDeviceAgent ? registerDeviceAgent() : std::make_shared<KXDeviceAgentStandIn>()));
  return **holder;
}

std::shared_ptr<OKTKXDevices> OKTKXDevices::create(std::shared_ptr<KXDevices> api,
                                                   std::shared_ptr<KXChargingCase> chargingCase,
                                                   std::shared_ptr<KXDeviceAgent> agent) {
  std::shared_ptr<OKTKXDevices> facade(new OKTKXDevices(std::move(api), std::move(chargingCase), std::move(agent)));
  facade->getInstances();
  return facade;
}

OKTKXDevices::OKTKXDevices(std::shared_ptr<KXDevices> api, std::shared_ptr<KXChargingCase> chargingCase,
                           std::shared_ptr<KXDeviceAgent> agent)
    : api_(std::move(api)), case_(std::move(chargingCase)), agent_(std::move(agent)) {
  // Every event but the text barcode forms, the six-argument encrypted card form and three
  // disconnections that never reach the application through the facade.
  implements({kxsel::connectionState, kxsel::barcodeNSData_type, kxsel::barcodeNSData_isotype,
              kxsel::magneticCardEncryptedData_masked_source, kxsel::bluetoothDeviceRequestedConnection,
              kxsel::bluetoothDevicePINCodeRequired, kxsel::bluetoothLEDeviceDiscovered});
#define KX_EVENT(S, N, P, A) implements({S});
#include "sdk/device/KXDeviceEvents.inc"
#undef KX_EVENT
}

void OKTKXDevices::getInstances() {
  std::weak_ptr<const OKTKXDevices> self = weak_from_this();
  oktdelegates_.setExceptionHandler([self](std::string_view selector, const char* what) {
    if (auto facade = self.lock())
      facade->agent_->VexaLog("<OKTKXDevices> " + std::string(selector) + " exception" +
                              (*what ? std::string(": ") + what : std::string()));
  });
  api_->addDelegate(shared_from_this());
  agent_->addDelegate(shared_from_this());
  case_->setDelegate(std::weak_ptr<OKTCDDelegate>(shared_from_this()));
}

OKTKXDevices::~OKTKXDevices() {
  case_->setDelegate({});
  std::lock_guard lock(chargeMutex_);
  if (batteryTimer_) batteryTimer_->invalidate();
  for (auto token : batteryObservers_) foundation::NotificationCenter::defaultCenter().removeToken(token);
}

// ---- Delegates ---------------------------------------------------------------------------------

void OKTKXDevices::addDelegate(const std::shared_ptr<KXDeviceDelegate>& delegate) {
  oktdelegates_.clean();
  oktdelegates_.add(delegate);
}

void OKTKXDevices::removeDelegate(const std::shared_ptr<KXDeviceDelegate>& delegate) {
  if (delegate) oktdelegates_.remove(delegate);
}

std::vector<std::shared_ptr<KXDeviceDelegate>> OKTKXDevices::delegates() const { return oktdelegates_.live(); }

void OKTKXDevices::setDelegate(const std::shared_ptr<KXDeviceDelegate>& delegate) {
  std::lock_guard lock(delegateMutex_);
  delegate_ = delegate;
}

std::shared_ptr<KXDeviceDelegate> OKTKXDevices::delegate() const {
  std::lock_guard lock(delegateMutex_);
  return delegate_.lock();
}

bool OKTKXDevices::respondsNow(std::string_view selector) const {
  if (!responds(selector)) return false;
  static const std::string_view relayed[] = {
#define KX_EVENT(S, N, P, A) S,
#include "sdk/device/KXDeviceEvents.inc"
#undef KX_EVENT
  };
  if (std::find(std::begin(relayed), std::end(relayed), selector) == std::end(relayed)) return true;
  for (const auto& d : oktdelegates_.live())
    if (d->respondsNow(selector)) return true;
  return false;
}

size_t OKTKXDevices::passOn(std::string_view selector, const std::function<void(KXDeviceDelegate&)>& call) const {
  return oktdelegates_.fanOut(selector, call, KXFanOutOrder::FirstLast);
}

// ---- Connection and identity ---------------------------------------------------------------------

void OKTKXDevices::connect() {
  case_->connect();
  api_->connect();
}

void OKTKXDevices::disconnect() {
  case_->disconnect();
  api_->disconnect();
}

int OKTKXDevices::connstate() {
  const int caseState = case_->connState();
  const int apiState = api_->connstate();
  if (caseState == CONN_CONNECTED || apiState == CONN_CONNECTED) return CONN_CONNECTED;
  if (caseState == CONN_CONNECTING && apiState == CONN_CONNECTING) return CONN_CONNECTING;
  return CONN_DISCONNECTED;
}

bool OKTKXDevices::isPresent(int type) {
  if (type == DEVICE_TYPE_CHARGING_CASE && caseConnected()) return true;
  return api_->isPresent(type);
}

int OKTKXDevices::getDeviceConnectionState(int type) {
  if (type == DEVICE_TYPE_AUTOMATIC)
    return caseConnected() || api_->connstate() == CONN_CONNECTED ? CONN_CONNECTED : CONN_DISCONNECTED;
  if (type == DEVICE_TYPE_CHARGING_CASE) return caseConnected() ? CONN_CONNECTED : CONN_DISCONNECTED;
  return api_->getConnectedDeviceInfo(type, nullptr) ? CONN_CONNECTED : CONN_DISCONNECTED;
}

bool OKTKXDevices::setActiveDeviceType(int type, Error* error) {
  return api_->setActiveDeviceType(type == DEVICE_TYPE_CHARGING_CASE ? DEVICE_TYPE_SLEEVE : type, error);
}

bool OKTKXDevices::setActiveDeviceIndexForType(int type, int index, Error* error) {
  return api_->setActiveDeviceIndexForType(type == DEVICE_TYPE_CHARGING_CASE ? DEVICE_TYPE_SLEEVE : type, index,
                                           error);
}

int OKTKXDevices::deviceType() { return caseConnected() ? DEVICE_TYPE_CHARGING_CASE : api_->deviceType(); }

int OKTKXDevices::connectionType() { return caseConnected() ? 0 : api_->connectionType(); }

#define KX_IDENTITY(NAME, CASE_GETTER)                                  \
  std::optional<std::string> OKTKXDevices::NAME() {                     \
    if (caseConnected()) return case_->CASE_GETTER();                   \
    if (api_->connstate() == CONN_CONNECTED) return api_->NAME();       \
    return std::nullopt;                                                \
  }
KX_IDENTITY(deviceName, getAccessoryName)
KX_IDENTITY(deviceModel, getAccessoryModel)
KX_IDENTITY(firmwareRevision, getAccessoryFirmwareRevision)
KX_IDENTITY(hardwareRevision, getAccessoryHardwareRevision)
KX_IDENTITY(serialNumber, getAccessorySerialNumber)
#undef KX_IDENTITY

int OKTKXDevices::firmwareRevisionNumber() {
  if (!caseConnected()) return api_->firmwareRevisionNumber();
  std::stringstream in(case_->getAccessoryFirmwareRevision());
  std::string part, joined;
  bool first = true;
  while (std::getline(in, part, '.')) {
    if (first) {
      joined += part;
      first = false;
      continue;
    }
    int value = 0;
    try {
      value = std::stoi(part);
    } catch (...) {
    }
    char buf[16];
    std::snprintf(buf, sizeof buf, "%02i", value);
    joined += buf;
  }
  try {
    return std::stoi(joined);
  } catch (...) {
    return 0;
  }
}

std::string OKTKXDevices::sdkVersionString() const { return KESTRA_SDK_VERSION_STRING; }

int OKTKXDevices::sdkVersion() const {
  std::string text = sdkVersionString();
  std::erase(text, '.');
  try {
    return std::stoi(text);
  } catch (...) {
    return 0;
  }
}

// ---- Served by the charging case ---------------------------------------------------------------------

std::shared_ptr<KXDeviceInfo> OKTKXDevices::caseRecord() const {
  auto info = std::make_shared<KXDeviceInfo>();
  info->name = case_->getAccessoryName();
  info->model = case_->getAccessoryModel();
  info->serialNumber = case_->getAccessorySerialNumber();
  info->hardwareRevision = case_->getAccessoryHardwareRevision();
  info->firmwareRevision = case_->getAccessoryFirmwareRevision();
  info->connectionType = 0;
  info->deviceType = DEVICE_TYPE_CHARGING_CASE;
  return info;
}

bool OKTKXDevices::getBatteryCapacity(int* capacity, float* voltage, Error* error) {
  if (!caseConnected()) return api_->getBatteryCapacity(capacity, voltage, error);
  if (capacity) *capacity = case_->getBatteryCapacity();
  if (voltage) *voltage = case_->getBatteryVoltage();
  return true;
}

std::shared_ptr<KXBatteryInfo> OKTKXDevices::getBatteryInfo(Error* error) {
  if (!caseConnected()) return api_->getBatteryInfo(error);
  auto info = std::make_shared<KXBatteryInfo>();
  info->voltage = case_->getBatteryVoltage();
  info->capacity = case_->getBatteryCapacity();
  info->health = case_->getBatteryHealth();
  info->maximumCapacity = case_->getBatteryMaxCapacity();
  info->charging = case_->isCharging();
  info->batteryChipType = 0;
  info->extendedInfo = case_->getBatteryInfo();
  return info;
}

std::shared_ptr<KXBatteryInfo> OKTKXDevices::getConnectedDeviceBatteryInfo(int type, Error* error) {
  if (caseConnected() && (type == DEVICE_TYPE_CHARGING_CASE || type == DEVICE_TYPE_AUTOMATIC))
    return getBatteryInfo(error);
  return api_->getConnectedDeviceBatteryInfo(type, error);
}

std::shared_ptr<KXDeviceInfo> OKTKXDevices::getConnectedDeviceInfo(int type, Error* error) {
  if (caseConnected() && (type == DEVICE_TYPE_CHARGING_CASE || type == DEVICE_TYPE_AUTOMATIC)) return caseRecord();
  return api_->getConnectedDeviceInfo(type, error);
}

std::vector<std::shared_ptr<KXDeviceInfo>> OKTKXDevices::getConnectedDevicesInfo(Error* error) {
  std::vector<std::shared_ptr<KXDeviceInfo>> out;
  if (caseConnected()) out.push_back(caseRecord());
  for (auto& r : api_->getConnectedDevicesInfo(error)) out.push_back(std::move(r));
  return out;
}

bool OKTKXDevices::getCharging(bool* charging, Error* error) {
  if (!caseConnected()) return api_->getCharging(charging, error);
  if (charging) *charging = case_->isBackupCharge();
  return true;
}

bool OKTKXDevices::setCharging(bool enabled, Error* error) {
  if (caseConnected()) return case_->enableBatterySharing(enabled);
  if (api_->connstate() == CONN_CONNECTED) return api_->setCharging(enabled, error);
  return false;
}

bool OKTKXDevices::getUSBChargeCurrent(int* current, Error* error) {
  if (!caseConnected()) return api_->getUSBChargeCurrent(current, error);
  if (current) *current = case_->getToravelCurrent();
  return true;
}

bool OKTKXDevices::setUSBChargeCurrent(int current, Error* error) {
  if (caseConnected()) return case_->setToravelCurrent(current);
  return api_->setUSBChargeCurrent(current, error);
}

bool OKTKXDevices::uiControlLEDsWithBitMask(uint32_t mask, Error* error) {
  if (!caseConnected()) {
    if (api_->connstate() == CONN_CONNECTED) return api_->uiControlLEDsWithBitMask(mask, error);
    return false;
  }
  switch (mask) {
    case 0: case_->turnOffLED(); return true;
    case 1: case_->turnOnLEDColor(1); return true;
    case 2: case_->turnOnLEDColor(0); return true;
    case 3:
      case_->turnOffLED();
      case_->turnOnLEDColor(1);
      case_->turnOnLEDColor(0);
      return true;
    case 4: case_->turnOnLEDColor(2); return true;
    default: return false;
  }
}

// ---- Events ----------------------------------------------------------------------------------------

void OKTKXDevices::sendConnectionState(int state) const {
  passOn(kxsel::connectionState, [state](KXDeviceDelegate& d) { d.connectionState(state); });
}

void OKTKXDevices::connectionState(int state) {
  const size_t devices = api_->getConnectedDevicesInfo(nullptr).size();
  const bool caseUp = caseConnected();
  int active = kActiveNone;
  if (devices == 0 && caseUp)
    active = kActiveChargingCase;
  else if (devices != 0)
    active = caseUp ? kActiveNone : kActiveDeviceAPI;
  oktActiveDevice_ = active;
  // While the case alone is what the application sees, the device API's changes are not its.
  if (active != kActiveChargingCase) sendConnectionState(state);
  if (state == CONN_CONNECTED) iOSBatteryLevelDidChange();
}

void OKTKXDevices::toravelConnectionState(int state) {
  const size_t devices = api_->getConnectedDevicesInfo(nullptr).size();
  int active;
  if (state == CONN_CONNECTED)
    active = devices == 0 ? kActiveChargingCase : kActiveNone;
  else
    active = devices != 0 ? kActiveDeviceAPI : kActiveNone;
  oktActiveDevice_ = active;
  // The case leaving while a device stays connected changes nothing the application sees.
  if (active != kActiveDeviceAPI) sendConnectionState(state);
}

void OKTKXDevices::barcodeNSData(const Bytes& barcode, int type) {
  const std::string text(barcode.begin(), barcode.end());
  oktdelegates_.forEach(
      kxsel::barcodeNSData_type, [](KXDeviceDelegate&) { return true; },
      [&](KXDeviceDelegate& d) {
        if (d.responds(kxsel::barcodeNSData_type)) d.barcodeNSData(barcode, type);
        if (d.responds(kxsel::barcodeData_type)) d.barcodeData(text, type);
      },
      KXFanOutOrder::FirstLast);
}

void OKTKXDevices::barcodeNSData(const Bytes& barcode, const std::string& isotype) {
  const std::string text(barcode.begin(), barcode.end());
  oktdelegates_.forEach(
      kxsel::barcodeNSData_isotype, [](KXDeviceDelegate&) { return true; },
      [&](KXDeviceDelegate& d) {
        if (d.responds(kxsel::barcodeNSData_isotype)) d.barcodeNSData(barcode, isotype);
        if (d.responds(kxsel::barcodeData_isotype)) d.barcodeData(text, isotype);
      },
      KXFanOutOrder::FirstLast);
}

void OKTKXDevices::magneticCardEncryptedData(int encryption, int tracks, const Bytes& data,
                                             const OptText& track1masked, const OptText& track2masked,
                                             const OptText& track3, int source) {
  passOn(kxsel::magneticCardEncryptedData_masked_source, [&](KXDeviceDelegate& d) {
    d.magneticCardEncryptedData(encryption, tracks, data, track1masked, track2masked, track3, source);
  });
  passOn(kxsel::magneticCardEncryptedData_masked, [&](KXDeviceDelegate& d) {
    d.magneticCardEncryptedData(encryption, tracks, data, track1masked, track2masked, track3);
  });
  // The device API stops at the most specific form the facade takes, so a delegate that
  // implements only the three-argument form gets it here; otherwise its card would be lost.
  oktdelegates_.forEach(
      kxsel::magneticCardEncryptedData,
      [](KXDeviceDelegate& d) {
        return d.responds(kxsel::magneticCardEncryptedData) &&
               !d.responds(kxsel::magneticCardEncryptedData_masked_source) &&
               !d.responds(kxsel::magneticCardEncryptedData_masked);
      },
      [&](KXDeviceDelegate& d) { d.magneticCardEncryptedData(encryption, tracks, data); },
      KXFanOutOrder::FirstLast);
}

bool OKTKXDevices::bluetoothDeviceRequestedConnection(const std::string& address, const std::string& name) {
  bool answer = false;
  passOn(kxsel::bluetoothDeviceRequestedConnection,
         [&](KXDeviceDelegate& d) { answer = d.bluetoothDeviceRequestedConnection(address, name); });
  return answer;
}

OptText OKTKXDevices::bluetoothDevicePINCodeRequired(const std::string& address, const std::string& name) {
  OptText answer;
  passOn(kxsel::bluetoothDevicePINCodeRequired,
         [&](KXDeviceDelegate& d) { answer = d.bluetoothDevicePINCodeRequired(address, name); });
  return answer;
}

bool OKTKXDevices::bluetoothLEDeviceDiscovered(const std::shared_ptr<CBPeripheral>& peripheral) {
  bool answer = false;
  passOn(kxsel::bluetoothLEDeviceDiscovered,
         [&](KXDeviceDelegate& d) { answer = d.bluetoothLEDeviceDiscovered(peripheral); });
  return answer;
}

#define KX_EVENT(S, N, P, A) \
  void OKTKXDevices::N P { passOn(S, [&](KXDeviceDelegate& d) { d.N A; }); }
#include "sdk/device/KXDeviceEvents.inc"
#undef KX_EVENT

}  // namespace kestra
