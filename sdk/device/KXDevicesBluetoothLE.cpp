// The device API's Bluetooth Low Energy links: discovery and look-up through the stream, the
// connect that recognises the device family by the peripheral's services and hands the
// stream to the matching driver, the raw-stream mode, disconnection and the link events.
#include <algorithm>

#include "platform/accessory/Stream.h"
#include "platform/bluetooth/Central.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/RunLoop.h"
#include "sdk/device/BTLELink.h"
#include "sdk/device/KXDevices.h"
#include "sdk/transport/BTLEStream.h"

namespace kestra {

using bluetooth::Uuid;

// ---- Without a radio ---------------------------------------------------------------------------------

std::optional<std::vector<std::shared_ptr<bluetooth::Peripheral>>> KXBLEStreamDriver::discoverSupportedDevices(
    int, bool, Error* error) {
  foundation::fail(error, noDeviceError());
  return std::nullopt;
}

std::shared_ptr<bluetooth::Peripheral> KXBLEStreamDriver::getKnownDevice(const Uuid&, Error* error) {
  foundation::fail(error, noDeviceError());
  return nullptr;
}

bool KXBLEStreamDriver::connectToDevice(const std::shared_ptr<bluetooth::Peripheral>&, Error* error) {
  return foundation::fail(error, noDeviceError());
}

bool KXSleeveDriver::connectWithStreams(std::shared_ptr<accessory::InputStream>,
                                        std::shared_ptr<accessory::OutputStream>, Error* error) {
  return foundation::fail(error, noDeviceError());
}

bool KXPrinterDriver::connectWithStreams(std::shared_ptr<accessory::InputStream>,
                                         std::shared_ptr<accessory::OutputStream>, Error* error) {
  return foundation::fail(error, noDeviceError());
}

// ---- The stream as the device API's link ---------------------------------------------------------------------

namespace {

// Passes the stream's link reports on to the device API.
class LinkReports final : public BTLEDelegate {
 public:
  explicit LinkReports(std::weak_ptr<KXDevices> api) : api_(std::move(api)) {}
  void btleDeviceConnected(const std::shared_ptr<bluetooth::Peripheral>& p) override {
    if (auto api = api_.lock()) api->btleDeviceConnected(p);
  }
  void btleDeviceDisconnected(const std::shared_ptr<bluetooth::Peripheral>& p) override {
    if (auto api = api_.lock()) api->btleDeviceDisconnected(p);
  }

 private:
  std::weak_ptr<KXDevices> api_;
};

class BTLELink final : public KXBLEStreamDriver {
 public:
  explicit BTLELink(std::shared_ptr<BTLEStream> stream) : stream_(std::move(stream)) {}
  void attach(std::weak_ptr<KXDevices> api) override {
    reports_ = std::make_shared<LinkReports>(std::move(api));
    stream_->setControlDelegate(reports_);
  }
  bool linkOpen() override { return stream_->peripheral() != nullptr; }
  void close() override { stream_->close(); }
  std::optional<std::vector<std::shared_ptr<bluetooth::Peripheral>>> discoverSupportedDevices(
      int types, bool stopOnFound, Error* error) override {
    return stream_->discoverSupportedDevices(types, stopOnFound, error);
  }
  void discoverStop() override { stream_->discoverStop(); }
  std::shared_ptr<bluetooth::Peripheral> getKnownDevice(const Uuid& identifier, Error* error) override {
    return stream_->btleGetKnownDeviceWithUUID(identifier, error);
  }
  bool connectToDevice(const std::shared_ptr<bluetooth::Peripheral>& p, Error* error) override {
    return stream_->connectToDevice(p, error);
  }
  std::shared_ptr<accessory::InputStream> inputStream() override { return stream_->inputStream(); }
  std::shared_ptr<accessory::OutputStream> outputStream() override { return stream_->outputStream(); }

 private:
  std::shared_ptr<BTLEStream> stream_;
  std::shared_ptr<LinkReports> reports_;
};

enum class BleRoute { Pinpad, Printer, Raw, Sleeve };

// The services that name a device family, in the order they are compared.
const std::vector<std::pair<Uuid, BleRoute>>& routeTable() {
  static const std::vector<std::pair<Uuid, BleRoute>> table = {
      {Uuid::fromString("D839FC3C-84DD-4C36-9126-187B07255126"), BleRoute::Pinpad},
      {Uuid::fromString("D839FC3C-84DD-4C36-9126-187B07255115"), BleRoute::Pinpad},
      {Uuid::fromString("D839FC3C-84DD-4C36-9126-187B07255111"), BleRoute::Pinpad},
      {Uuid::fromString("D839FC3C-84DD-4C36-9126-187B07255125"), BleRoute::Pinpad},
      {Uuid::fromString("D839FC3C-84DD-4C36-9126-187B07255114"), BleRoute::Pinpad},
      {Uuid::fromString("65311AB6-D92E-4CE5-A515-F9CD53167F18"), BleRoute::Printer},
      {Uuid::fromString("d839fc3c-84dd-4c36-9126-187b07255202"), BleRoute::Printer},
      {Uuid::fromString("D839FC3C-84DD-4C36-9126-187B07255280"), BleRoute::Printer},
      {Uuid::fromString("67390300-A0DF-44B7-905E-BD91F291F716"), BleRoute::Raw},
      {Uuid::fromString("227DAF10-3127-402A-9907-0485AF3468CE"), BleRoute::Sleeve},
  };
  return table;
}

// The route of the first of the peripheral's services (in its own order) that the table names.
std::optional<BleRoute> routeFor(const std::vector<std::shared_ptr<bluetooth::Service>>& services) {
  for (const auto& s : services)
    for (const auto& [uuid, route] : routeTable())
      if (s->UUID() == uuid) return route;
  return std::nullopt;
}

// Runs this thread's run loop for `d` of the clock, so that work queued on it goes on.
void runCurrentLoopFor(foundation::Duration d) {
  auto& loop = foundation::RunLoop::current();
  auto due = std::make_shared<std::atomic<bool>>(false);
  const auto timer = loop.addTimer(foundation::Clock::current().now() + d, [due] { *due = true; });
  loop.runUntil([due] { return due->load(); }, std::chrono::milliseconds(600000));
  loop.cancelTimer(timer);
}

void sleepFor(foundation::Duration d) {
  std::mutex m;
  std::condition_variable cv;
  std::unique_lock<std::mutex> lock(m);
  foundation::Clock::current().waitFor(lock, cv, d, [] { return false; });
}

constexpr foundation::Duration kHandOffWait = std::chrono::milliseconds(500);
constexpr foundation::Duration kPinpadSettle = std::chrono::milliseconds(200);
constexpr size_t kPinpadDiscard = 512;

Error failLogged(Error* error, int code, const char* text) {
  Error e = KXUNISDKGlobals::makeError(code, "%s", text);
  KXUNISDKGlobals::LOG("ERROR: %s", e.text.c_str());
  if (error) *error = e;
  return e;
}

}  // namespace

std::shared_ptr<KXBLEStreamDriver> makeBTLELink(std::shared_ptr<BTLEStream> stream) {
  return std::make_shared<BTLELink>(stream ? std::move(stream) : BTLEStream::create());
}

// ---- Calls ----------------------------------------------------------------------------------------------

std::optional<std::vector<std::shared_ptr<CBPeripheral>>> KXDevices::btleDiscoverSupportedDevices(int types,
                                                                                                 bool stopOnFound,
                                                                                                 Error* error) {
  return ble_->discoverSupportedDevices(types, stopOnFound, error);
}

bool KXDevices::btleDiscoverStop() {
  ble_->discoverStop();
  return true;
}

std::shared_ptr<CBPeripheral> KXDevices::btleGetKnownDeviceWithUUID(const Uuid& identifier, Error* error) {
  return ble_->getKnownDevice(identifier, error);
}

bool KXDevices::btleConnectToDevice(const std::shared_ptr<CBPeripheral>& peripheral, Error* error) {
  btleCanNotifyConnection_ = false;
  const bool ok = _btleConnectToDevice(peripheral, error);
  btleCanNotifyConnection_ = true;
  if (!ok) {
    std::lock_guard<std::mutex> lock(bleLock_);
    btleConnectedDevices_.reset();
  }
  return ok;
}

bool KXDevices::_btleConnectToDevice(const std::shared_ptr<CBPeripheral>& peripheral, Error* error) {
  {
    std::lock_guard<std::mutex> lock(bleLock_);
    if (btleConnectedDevices_ && peripheral &&
        std::find(btleConnectedDevices_->begin(), btleConnectedDevices_->end(), peripheral) !=
            btleConnectedDevices_->end())
      return true;  // already linked
    btleConnectedDevices_.reset();
  }
  if (!ble_->connectToDevice(peripheral, error)) return false;
  {
    std::lock_guard<std::mutex> lock(bleLock_);
    btleConnectedDevices_ = std::vector<std::shared_ptr<CBPeripheral>>{peripheral};
  }
  const auto services = peripheral->services();
  if (!services) return failLogged(error, -7, "No compatilbe services found"), false;
  const auto route = routeFor(*services);
  if (!route) {
    btleDisconnect(peripheral, nullptr);
    return failLogged(error, -7, "Bluetooth device is not supported"), false;
  }
  runCurrentLoopFor(kHandOffWait);
  bool ok = true;
  switch (*route) {
    case BleRoute::Sleeve:
      sleeve_->setConnectionType(3);
      ok = sleeve_->connectWithStreams(ble_->inputStream(), ble_->outputStream(), error);
      break;
    case BleRoute::Printer:
      printer().setConnectionType(3);
      ok = printer().connectWithStreams(ble_->inputStream(), ble_->outputStream(), error);
      break;
    case BleRoute::Pinpad: {
      pinpad_->setConnectionType(3);
      sleepFor(kPinpadSettle);
      if (auto in = ble_->inputStream(); in && in->hasBytesAvailable()) {
        uint8_t discard[kPinpadDiscard];
        const ssize_t n = in->read(discard, sizeof discard);
        KXUNISDKGlobals::LOG("Waaa: %d", int(n));
      }
      const int status = pinpad_->connectWithStreams(ble_->inputStream(), ble_->outputStream());
      if (status != 0) {
        ok = false;
        foundation::fail(error, ppadError(status));
      }
      break;
    }
    case BleRoute::Raw: break;
  }
  if (!ok) {
    btleDisconnect(peripheral, nullptr);
    return false;
  }
  if (foundation::MainQueue::isMainThread()) {
    btleFanOut(true, peripheral);
  } else {
    std::weak_ptr<KXDevices> self = weak_from_this();
    foundation::MainQueue::post([self, peripheral] {
      if (auto api = self.lock()) api->btleFanOut(true, peripheral);
    });
  }
  return true;
}

bool KXDevices::btleConnectToDeviceAndGetStreams(const std::shared_ptr<CBPeripheral>& peripheral, Error* error) {
  {
    std::lock_guard<std::mutex> lock(bleLock_);
    btleConnectedDevices_.reset();
  }
  btleCanNotifyConnection_ = false;
  const bool linked = ble_->connectToDevice(peripheral, error);
  btleCanNotifyConnection_ = true;
  if (!linked) return false;
  if (!peripheral->services()) return failLogged(error, -7, "No compatilbe services found"), false;
  runCurrentLoopFor(kHandOffWait);
  {
    std::lock_guard<std::mutex> lock(bleLock_);
    btleConnectedDevices_ = std::vector<std::shared_ptr<CBPeripheral>>{peripheral};
  }
  std::weak_ptr<KXDevices> self = weak_from_this();
  foundation::MainQueue::post([self, peripheral] {
    if (auto api = self.lock()) api->btleFanOut(true, peripheral);
  });
  return true;
}

bool KXDevices::btleDisconnect(const std::shared_ptr<CBPeripheral>&, Error*) {
  ble_->close();
  std::optional<std::vector<std::shared_ptr<CBPeripheral>>> taken;
  {
    std::lock_guard<std::mutex> lock(bleLock_);
    taken = std::move(btleConnectedDevices_);
    // Empty, not none: the stream's own report of this link's end is not passed on again.
    btleConnectedDevices_.emplace();
  }
  if (taken && !taken->empty()) {
    std::weak_ptr<KXDevices> self = weak_from_this();
    foundation::MainQueue::post([self, p = taken->front()] {
      if (auto api = self.lock()) api->btleFanOut(false, p);
    });
  }
  return true;
}

std::shared_ptr<accessory::InputStream> KXDevices::btleInputStream() {
  std::lock_guard<std::mutex> lock(bleLock_);
  return ble_->inputStream();
}

std::shared_ptr<accessory::OutputStream> KXDevices::btleOutputStream() {
  std::lock_guard<std::mutex> lock(bleLock_);
  return ble_->outputStream();
}

std::optional<std::vector<std::shared_ptr<CBPeripheral>>> KXDevices::btleConnectedDevices() {
  std::lock_guard<std::mutex> lock(bleLock_);
  return btleConnectedDevices_;
}

// ---- Stream reports ----------------------------------------------------------------------------------------

void KXDevices::btleDeviceConnected(const std::shared_ptr<CBPeripheral>& peripheral) {
  if (!btleCanNotifyConnection_.load()) return;
  KXUNISDKGlobals::LOG("btleDeviceConnected: %s", peripheral ? peripheral->name().c_str() : "(null)");
  std::weak_ptr<KXDevices> self = weak_from_this();
  foundation::MainQueue::post([self, peripheral] {
    if (auto api = self.lock()) api->btleFanOut(true, peripheral);
  });
}

void KXDevices::btleDeviceDisconnected(const std::shared_ptr<CBPeripheral>& peripheral) {
  KXUNISDKGlobals::LOG("btleDeviceDisconnected: %s", peripheral ? peripheral->name().c_str() : "(null)");
  {
    // Told once per link: a link that `btleDisconnect` closed was announced there. A loss
    // while a connect runs (no list yet) is passed on.
    std::lock_guard<std::mutex> lock(bleLock_);
    if (btleConnectedDevices_ && std::erase(*btleConnectedDevices_, peripheral) == 0) return;
  }
  std::weak_ptr<KXDevices> self = weak_from_this();
  foundation::MainQueue::post([self, peripheral] {
    if (auto api = self.lock()) api->btleFanOut(false, peripheral);
  });
}

void KXDevices::btleFanOut(bool connected, const std::shared_ptr<CBPeripheral>& peripheral) const {
  if (connected)
    fanOut(kxsel::bluetoothLEDeviceConnected, [&](KXDeviceDelegate& d) { d.bluetoothLEDeviceConnected(peripheral); });
  else
    fanOut(kxsel::bluetoothLEDeviceDisconnected,
           [&](KXDeviceDelegate& d) { d.bluetoothLEDeviceDisconnected(peripheral); });
}

}  // namespace kestra
