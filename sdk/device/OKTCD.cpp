#include "sdk/device/OKTCD.h"

#include <cstdio>

#include "platform/accessory/AccessoryManager.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "sdk/device/ChargingCaseFrames.h"
#include "sdk/device/OKTKXDevices.h"
#include "sdk/transport/EAManager.h"

namespace kestra {

namespace {

std::string lowerCase(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

// The two device names a case firmware file may carry.
const Bytes& packedName(int which) {
  static const Bytes kestraCharge = chargingcase::packCaseName("Kestra Charge");
  static const Bytes toravel = chargingcase::packCaseName("Toravel");
  return which == 0 ? kestraCharge : toravel;
}

}  // namespace

// The caller of a firmware update waits on this until the update's end is known.
struct OKTCD::UpdateWait {
  std::mutex mutex;
  std::condition_variable cv;
  bool signalled = false;
  bool started = false;
  std::optional<Error> error;

  void signal(bool didStart) {
    std::lock_guard lock(mutex);
    started = didStart;
    signalled = true;
    cv.notify_all();
  }
};

std::shared_ptr<OKTCD> OKTCD::sharedDevice() {
  // Lives for the whole process (its session ends with it); the holder stays reachable.
  static const std::shared_ptr<OKTCD>* const holder =
      new std::shared_ptr<OKTCD>(create(OKTEADSessionController::sharedController(), KXPhoneBattery::system()));
  return *holder;
}

std::shared_ptr<OKTCD> OKTCD::create(std::shared_ptr<OKTEADSessionController> controller,
                                     std::shared_ptr<KXPhoneBattery> phoneBattery) {
  std::shared_ptr<OKTCD> device(new OKTCD(std::move(controller), std::move(phoneBattery)));
  device->start();
  return device;
}

OKTCD::OKTCD(std::shared_ptr<OKTEADSessionController> controller, std::shared_ptr<KXPhoneBattery> phoneBattery)
    : controller_(std::move(controller)), phoneBattery_(std::move(phoneBattery)), control_(controller_) {}

OKTCD::~OKTCD() {
  foundation::NotificationCenter::defaultCenter().removeObserver(this);
  controller_->registry().unregisterForLocalNotifications();
  loader_.reset();
  control_.closeSession();
}

void OKTCD::start() {
  auto& center = foundation::NotificationCenter::defaultCenter();
  auto& registry = controller_->registry();
  std::weak_ptr<OKTCD> weak = weak_from_this();
  center.addObserver(this, accessory::kAccessoryDidConnectNotification, &registry,
                     [weak, &registry](const foundation::Notification& n) {
                       if (auto self = weak.lock()) self->accessoryConnected(registry.accessoryFromNotification(n));
                     });
  center.addObserver(this, accessory::kAccessoryDidDisconnectNotification, &registry,
                     [weak, &registry](const foundation::Notification& n) {
                       if (auto self = weak.lock()) self->accessoryDisconnected(registry.accessoryFromNotification(n));
                     });
  registry.registerForLocalNotifications();
  center.addObserver(this, kDemo1ReceivedAccessoryInformation, &control_,
                     [this](const foundation::Notification&) { control_.sendLEDs(ledMask_); });
  center.addObserver(this, kDemo1ReceivedSwitchPositions, &control_,
                     [this](const foundation::Notification&) { switchPositions(); });
  for (const char* name : {kDemo1ReceivedBatteryHealth, kDemo1ReceivedBatteryCapacity,
                           kDemo1ReceivedBatteryAuxInformation})
    center.addObserver(this, name, &control_, [this](const foundation::Notification&) { batteryChanged(); });
  if (foundation::MainQueue::isMainThread())
    center.addObserver(this, kApplicationWillEnterForegroundNotification, nullptr,
                       [this](const foundation::Notification&) { willEnterForeground(); });
}

bool OKTCD::isAccessoryToravel(const std::shared_ptr<accessory::Accessory>& accessory) {
  if (!accessory) return false;
  const std::string manufacturer = lowerCase(accessory->manufacturer());
  const std::string name = lowerCase(accessory->name());
  return manufacturer.find("corvanta") != std::string::npos &&
         (name.find("kestra charge") != std::string::npos || name.find("toravel") != std::string::npos);
}

bool OKTCD::isToravelFirmware(const Bytes& data) {
  if (data.size() < 33) return false;
  const Bytes named(data.begin() + 12, data.begin() + 32);
  return named == packedName(0) || named == packedName(1);
}

void OKTCD::setDelegate(std::weak_ptr<OKTCDDelegate> delegate) {
  std::lock_guard lock(mutex_);
  delegate_ = std::move(delegate);
}

std::shared_ptr<OKTCDDelegate> OKTCD::delegate() const {
  std::lock_guard lock(mutex_);
  return delegate_.lock();
}

void OKTCD::announce(int state) {
  if (auto d = delegate()) d->toravelConnectionState(state);
}

void OKTCD::connect() {
  if (!connected_) openSession();
}

void OKTCD::disconnect() {
  control_.closeSession();
  if (control_.isSessionOpen()) return;
  connected_ = false;
  connState_ = 0;
  announce(0);
}

void OKTCD::openSession() {
  if (connState_ != 2) connState_ = 1;
  const int result = control_.openSession();
  std::weak_ptr<OKTCD> weak = weak_from_this();
  auto later = [weak](foundation::Duration delay) {
    foundation::RunLoop::current().addTimer(foundation::Clock::current().now() + delay, [weak] {
      if (auto self = weak.lock()) self->connected();
    });
  };
  if (result == kEADSessionOpened) {
    control_.sendInitialize();
    nlohmann::json info{{"Name", control_.getAccessoryName()},
                        {"Model", control_.getAccessoryModel()},
                        {"Serial", control_.getAccessorySerialNumber().value_or("")},
                        {"FirmwareRev", control_.getAccessoryFirmwareRevision()},
                        {"HardwareRev", control_.getAccessoryHardwareRevision()}};
    {
      std::lock_guard lock(stateMutex_);
      deviceInfo_ = std::move(info);
    }
    updatePowerSource(1);
    connected_ = true;
    if (connState_ != 2) {
      connState_ = 2;
      later(kCaseConnectedDelay);
    }
  } else if (result == kEADNoAccessory) {
    if (!connected_) later(kCaseNoAccessoryDelay);
  }
}

void OKTCD::connected() { announce(connected_ ? 2 : connState_.load()); }

void OKTCD::accessoryConnected(const std::shared_ptr<accessory::Accessory>& accessory) {
  if (!isAccessoryToravel(accessory)) return;
  connected_ = true;
  connState_ = 2;
  updatePowerSource(1);
  announce(2);
  openSession();
}

void OKTCD::accessoryDisconnected(const std::shared_ptr<accessory::Accessory>& accessory) {
  if (!isAccessoryToravel(accessory)) return;
  connected_ = false;
  connState_ = 0;
  {
    std::lock_guard lock(stateMutex_);
    batteryInfo_ = nlohmann::json::object();
    deviceInfo_ = nlohmann::json::object();
  }
  control_.closeSession();
  announce(0);
}

void OKTCD::willEnterForeground() {
  if (!connected_) return;
  control_.closeSession();
  openSession();
}

void OKTCD::updatePowerSource(int refresh) {
  if (refresh == 0) return;
  std::string source = control_.getStrPowerSource();
  std::lock_guard lock(stateMutex_);
  powerSource_ = std::move(source);
}

bool OKTCD::isCharging() {
  std::lock_guard lock(stateMutex_);
  return powerSource_ == "Charging";
}

nlohmann::json OKTCD::getDeviceInfo() const {
  std::lock_guard lock(stateMutex_);
  return deviceInfo_;
}

nlohmann::json OKTCD::batteryInfo() const {
  std::lock_guard lock(stateMutex_);
  return batteryInfo_;
}

void OKTCD::switchPositions() {
  const int bits = control_.getSwitchPositions();
  const int pim = control_.getPIM();
  if (pim != 4 && pim != 6) return;
  auto d = delegate();
  for (int button = 1; button <= 3; ++button) {
    const bool on = (bits >> (button - 1)) & 1;
    bool& flag = buttons_[button - 1];
    if (on && !flag) {
      flag = true;
      if (d) d->deviceButtonPressed(button);
    } else if (!on && flag) {
      flag = false;
      if (d) d->deviceButtonReleased(button);
    }
  }
}

nlohmann::json OKTCD::batteryDictionary(bool full) const {
  nlohmann::json info = nlohmann::json::object();
  // A const view of the protocol: the serial getters read through the session.
  auto& control = const_cast<ProtocolControl&>(control_);
  if (auto serial = control.getStrBatterySerialNumber()) info["Serial"] = *serial;
  info["Max Capacity"] = control_.getStrBatteryMaxCapacity();
  info["Remaining Charge"] = control_.getStrBatteryCapacity();
  info["Voltage"] = control_.getStrBatteryVoltage();
  info["Health"] = control_.getStrBatteryHealth();
  info["Cycle"] = control_.getStrBatteryChargeCount();
  {
    std::lock_guard lock(stateMutex_);
    info["Source"] = powerSource_;
  }
  if (full) {
    info["Temperature"] = control_.getTemperature();
    info["Firmware Version"] = control_.getStrBatteryFirmwareVer();
  }
  return info;
}

void OKTCD::batteryChanged() {
  // "Source" is the power source as it stood before this reply.
  nlohmann::json info = batteryDictionary(false);
  {
    std::lock_guard lock(stateMutex_);
    batteryInfo_ = std::move(info);
  }
  updatePowerSource(1);
}

nlohmann::json OKTCD::getBatteryInfo() {
  if (!connected_) return nullptr;
  nlohmann::json info = batteryDictionary(true);
  std::lock_guard lock(stateMutex_);
  batteryInfo_ = info;
  return info;
}

std::string OKTCD::getAccessoryName() { return control_.getAccessoryName(); }
std::string OKTCD::getAccessoryModel() { return control_.getAccessoryModel(); }
std::string OKTCD::getAccessorySerialNumber() { return control_.getAccessorySerialNumber().value_or(""); }
std::string OKTCD::getAccessoryFirmwareRevision() { return control_.getAccessoryFirmwareRevision(); }
std::string OKTCD::getAccessoryHardwareRevision() { return control_.getAccessoryHardwareRevision(); }

bool OKTCD::isBackupCharge() {
  if (!phoneBattery_) return false;
  const int state = phoneBattery_->batteryState();
  return state == KXPhoneBattery::kCharging || state == KXPhoneBattery::kFull;
}

void OKTCD::turnOffDevice() { control_.sendInquiry(0x80); }

void OKTCD::turnOnLEDColor(int color) {
  switch (color) {
    case 0: ledMask_ |= 1; break;
    case 1: ledMask_ |= 2; break;
    case 2: ledMask_ |= 4; break;
    case 3: ledMask_ = 0; break;
    default: break;
  }
  control_.sendLEDs(ledMask_);
}

void OKTCD::turnOffLED() {
  ledMask_ = 0;
  control_.sendLEDs(0);
}

bool OKTCD::setToravelCurrent(int milliamps) {
  if (milliamps != 500 && milliamps != 1000 && milliamps != 1500) return false;
  // A current the case never received is not the case's current.
  if (control_.sendCurrent(uint16_t(milliamps)) != 0) return false;
  outputCurrent_ = milliamps;
  return true;
}

bool OKTCD::enableBatterySharing(bool enabled) {
  return control_.sendCurrent(enabled ? uint16_t(outputCurrent_) : 0) == 0;
}

// ---- Firmware ---------------------------------------------------------------------------------

FirmwareLoader& OKTCD::firmwareLoader() {
  if (!loader_) loader_ = std::make_unique<FirmwareLoader>(control_);
  return *loader_;
}

nlohmann::json OKTCD::getFirmwareFileInformation(const std::optional<Bytes>& data, foundation::Error* error) {
  return FirmwareLoader::getFirmwareInformation(data, error);
}

bool OKTCD::updateFirmwareData(const std::optional<Bytes>& data, bool validate, foundation::Error* error) {
  if (connState_ != 2) return foundation::fail(error, caseError("No device connected."));
  // The update's steps run on the main queue: waiting for them there would never end.
  if (foundation::MainQueue::isMainThread())
    return foundation::fail(error, caseError("Update error: the update cannot wait on the main thread."));
  auto wait = std::make_shared<UpdateWait>();
  {
    std::lock_guard lock(mutex_);
    firmwareUpdateCompleted_ = false;
    wait_ = wait;
  }
  std::weak_ptr<OKTCD> weak = weak_from_this();
  foundation::MainQueue::post([weak, wait, data, validate] {
    auto self = weak.lock();
    if (!self) {
      wait->signal(false);
      return;
    }
    self->beginUpdate(wait, data, validate);
  });
  std::unique_lock lock(wait->mutex);
  wait->cv.wait(lock, [&] { return wait->signalled; });
  if (error) *error = wait->error.value_or(Error());
  if (!wait->started) return false;
  bool completed;
  {
    std::lock_guard stateLock(mutex_);
    completed = firmwareUpdateCompleted_;
  }
  if (!completed) return foundation::fail(error, caseError("Update error: unknown."));
  return true;
}

void OKTCD::beginUpdate(const std::shared_ptr<UpdateWait>& wait, const std::optional<Bytes>& data, bool validate) {
  // An empty image has nothing to download and no progress to measure.
  if (!data || data->empty()) {
    wait->error = caseError("Update error: data is nil.");
    wait->signal(false);
    return;
  }
  if (validate) {
    const nlohmann::json header = getFirmwareFileInformation(data);
    if (!header.is_object() || getAccessoryName() != header.value("deviceName", "") ||
        getAccessoryModel() != header.value("deviceModel", "")) {
      wait->error = caseError("Update error: the firmware file is not compatible with connected device.");
      wait->signal(false);
      return;
    }
  }
  control_.closeSession();
  FirmwareLoader& loader = firmwareLoader();
  loader.setDelegate(std::weak_ptr<FirmwareDelegate>(shared_from_this()));
  if (auto failure = loader.updateFirmware(*data)) {
    wait->error = *failure;
    wait->signal(false);
    return;
  }
  // The loader's progress ends the wait.
}

void OKTCD::firmwareUpdateProgress(int phase, int percent) {
  if (auto d = delegate()) d->firmwareUpdateProgress(phase, percent);
  if (phase >= 1 && percent == 100)
    endUpdate(true);
  else if (phase < 0)
    endUpdate(false);
}

void OKTCD::endUpdate(bool completed) {
  std::shared_ptr<UpdateWait> wait;
  {
    std::lock_guard lock(mutex_);
    firmwareUpdateCompleted_ = completed;
    wait = std::move(wait_);
  }
  if (wait) wait->signal(true);
}

}  // namespace kestra
