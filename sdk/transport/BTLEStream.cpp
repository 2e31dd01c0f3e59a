#include "sdk/transport/BTLEStream.h"

#include <algorithm>

#include "platform/foundation/RunLoop.h"
#include "sdk/foundation/KXUNISDKGlobals.h"
#include "sdk/transport/GlobalQueue.h"

namespace kestra {

using accessory::StreamEvent;
using accessory::StreamStatus;
using bluetooth::Characteristic;
using bluetooth::Peripheral;
using bluetooth::PeripheralState;
using bluetooth::Uuid;
using foundation::Clock;

namespace {

constexpr const char* kQueueName = "com.sabrel.btleQueue";
// The Device Information service, whose characteristics are not the stream's.
const Uuid kDeviceInformation = Uuid::fromString("180A");

Error fail(Error* out, int code, const char* text) {
  Error e = KXUNISDKGlobals::makeError(code, "%s", text);
  KXUNISDKGlobals::LOG("ERROR: %s", e.text.c_str());
  if (out) *out = e;
  return e;
}

}  // namespace

const Uuid& BTLEStream::kDataIn() {
  static const Uuid u = Uuid::fromString("1F6B14C9-97FA-4F1E-AAA6-7E152FDD04F4");
  return u;
}
const Uuid& BTLEStream::kDataOut() {
  static const Uuid u = Uuid::fromString("B378DB85-4EC3-4DAA-828E-1B99607BD6A0");
  return u;
}
const Uuid& BTLEStream::kCheckOn() {
  static const Uuid u = Uuid::fromString("22FFC547-1BEF-48E2-AA87-B87E23AC0BBD");
  return u;
}
const Uuid& BTLEStream::kPowerOn() {
  static const Uuid u = Uuid::fromString("F953144B-E33A-4079-B202-E3D7C1F3DBB0");
  return u;
}

std::vector<Uuid> BTLEStream::serviceUUIDsForTypes(int types) {
  std::vector<Uuid> out;
  if (types & 2)
    for (const char* s : {"D839FC3C-84DD-4C36-9126-187B07255126", "D839FC3C-84DD-4C36-9126-187B07255115",
                          "D839FC3C-84DD-4C36-9126-187B07255111", "D839FC3C-84DD-4C36-9126-187B07255125",
                          "D839FC3C-84DD-4C36-9126-187B07255114", "D839FC3C-84DD-4C36-9126-187B07255127"})
      out.push_back(Uuid::fromString(s));
  if (types & 1)
    for (const char* s : {"65311AB6-D92E-4CE5-A515-F9CD53167F18", "d839fc3c-84dd-4c36-9126-187b07255202",
                          "67390300-A0DF-44B7-905E-BD91F291F716", "81DED26E-CBE9-45AA-8F26-E4D192A04BA8",
                          "D839FC3C-84DD-4C36-9126-187B07255280"})
      out.push_back(Uuid::fromString(s));
  out.push_back(Uuid::fromString("227DAF10-3127-402A-9907-0485AF3468CE"));
  return out;
}

// ---- The two faces ------------------------------------------------------------------------------------

// The faces outlive neither their stream's use nor a wrapper that still holds them: once the
// stream has gone they read as closed and take nothing.
template <class Base>
class BTLEStream::Face : public Base {
 public:
  void bind(std::weak_ptr<BTLEStream> s) { s_ = std::move(s); }
  void open() override {
    if (auto s = s_.lock()) s->open();
    this->notify(StreamEvent::OpenCompleted);
  }
  void close() override {
    if (auto s = s_.lock()) s->close();
  }
  StreamStatus status() const override {
    auto s = s_.lock();
    return s ? s->streamStatus() : StreamStatus::Closed;
  }
  void schedule(foundation::RunLoop&) override {}
  void remove(foundation::RunLoop&) override {}
  bool deliversOwnEvents() const override { return true; }

 protected:
  std::weak_ptr<BTLEStream> s_;
};

class BTLEStream::InputFace final : public Face<accessory::InputStream> {
 public:
  ssize_t read(uint8_t* buffer, size_t maxLength) override {
    auto s = s_.lock();
    return s ? ssize_t(s->read(buffer, maxLength)) : 0;
  }
  bool hasBytesAvailable() const override {
    auto s = s_.lock();
    return s && s->hasBytesAvailable();
  }
  bool tell(StreamEvent e) {
    if (!delegate()) return false;
    notify(e);
    return true;
  }
};

class BTLEStream::OutputFace final : public Face<accessory::OutputStream> {
 public:
  ssize_t write(const uint8_t* data, size_t length) override {
    auto s = s_.lock();
    return s ? s->write(data, length) : -1;
  }
  bool hasSpaceAvailable() const override { return true; }
  void tell(StreamEvent e) {
    if (delegate()) notify(e);
  }
};

std::shared_ptr<accessory::InputStream> BTLEStream::inputStream() const { return input_; }
std::shared_ptr<accessory::OutputStream> BTLEStream::outputStream() const { return output_; }

// ---- Life -----------------------------------------------------------------------------------------------

std::shared_ptr<BTLEStream> BTLEStream::create(std::shared_ptr<bluetooth::Radio> radio) {
  std::shared_ptr<BTLEStream> s(new BTLEStream(std::move(radio)));
  s->input_->bind(s);
  s->output_->bind(s);
  return s;
}

BTLEStream::BTLEStream(std::shared_ptr<bluetooth::Radio> radio)
    : radio_(std::move(radio)),
      core_([this] { return input_->tell(StreamEvent::HasBytesAvailable); },
            [this](const uint8_t* data, size_t length) { return btWrite(data, int(length)); }) {
  input_ = std::make_shared<InputFace>();
  output_ = std::make_shared<OutputFace>();
  // Every received value is announced as it comes, unless a policy says otherwise.
  core_.setNotificationsEnabled(true);
}

BTLEStream::~BTLEStream() {
  core_.stop();
  input_->clearDelegate();
  output_->clearDelegate();
}

void BTLEStream::setControlDelegate(std::weak_ptr<BTLEDelegate> delegate) {
  std::lock_guard<std::mutex> lock(mutex_);
  controlDelegate_ = std::move(delegate);
}

std::shared_ptr<Peripheral> BTLEStream::peripheral() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return peripheral_;
}

template <class Pred>
bool BTLEStream::waitFor(foundation::Duration timeout, Pred pred) {
  std::unique_lock<std::mutex> lock(mutex_);
  return Clock::current().waitFor(lock, cv_, timeout, pred);
}

template <class Pred>
bool BTLEStream::waitRunningMainLoop(foundation::Duration timeout, Pred pred) {
  if (!foundation::RunLoop::isMainThread()) return waitFor(timeout, pred);
  const auto deadline = Clock::current().now() + timeout;
  mainLoopWaiting_ = true;
  for (;;) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (pred() || Clock::current().now() >= deadline) {
        mainLoopWaiting_ = false;
        return pred();
      }
    }
    foundation::RunLoop::main().runOnce(std::chrono::milliseconds(100));
  }
}

void BTLEStream::sleepFor(foundation::Duration d) {
  std::mutex m;
  std::condition_variable cv;
  std::unique_lock<std::mutex> lock(m);
  Clock::current().waitFor(lock, cv, d, [] { return false; });
}

void BTLEStream::wake() {
  ++generation_;
  cv_.notify_all();
  if (mainLoopWaiting_.load()) foundation::RunLoop::main().wakeUp();
}

std::shared_ptr<bluetooth::CentralManager> BTLEStream::manager() {
  std::lock_guard<std::mutex> once(managerMutex_);
  if (!manager_) {
    manager_ = bluetooth::CentralManager::create(weak_from_this(), kQueueName, radio_);
    waitFor(kPowerOnWait, [this] { return btReady_; });
  }
  return manager_;
}

// ---- Discovery ------------------------------------------------------------------------------------------

std::optional<std::vector<std::shared_ptr<Peripheral>>> BTLEStream::discoverSupportedDevices(int types,
                                                                                            bool stopOnFound,
                                                                                            Error* error) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (btScanInProcess_) {
      fail(error, -5, "Another scan is already in progres");
      return std::nullopt;
    }
    btScanInProcess_ = true;
    serviceUUIDs_ = serviceUUIDsForTypes(types);
    btleDevices_.clear();
  }
  auto central = manager();
  std::vector<Uuid> services;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    services = serviceUUIDs_;
  }
  central->scanForPeripherals(services, false);
  KXUNISDKGlobals::LOG("Scan started");
  waitRunningMainLoop(kScanTime, [&] { return stopOnFound && !btleDevices_.empty(); });
  central->stopScan();
  KXUNISDKGlobals::LOG("Scan ended");
  std::lock_guard<std::mutex> lock(mutex_);
  btScanInProcess_ = false;
  return btleDevices_;
}

void BTLEStream::discoverStop() {
  if (auto central = manager()) central->stopScan();
}

std::shared_ptr<Peripheral> BTLEStream::btleGetKnownDeviceWithUUID(const Uuid& identifier, Error* error) {
  auto found = manager()->retrievePeripherals({identifier});
  if (found.empty()) {
    fail(error, -16, "No device found with that indentifier");
    return nullptr;
  }
  return found.front();
}

// ---- Connect -----------------------------------------------------------------------------------------------

void BTLEStream::forget() {
  std::lock_guard<std::mutex> lock(mutex_);
  peripheral_.reset();
  fromPeripheral_ = toPeripheral_ = checkOn_ = powerOn_ = nullptr;
}

bool BTLEStream::connectToDevice(const std::shared_ptr<Peripheral>& peripheral, Error* error) {
  if (!peripheral) return fail(error, -6, "Device connect timeout"), false;
  auto central = manager();
  if (auto held = this->peripheral()) {
    KXUNISDKGlobals::LOG("BTLE: closing existing connection before attempting new");
    central->cancelPeripheralConnection(held);
    close();
    forget();
  }
  Error last;
  for (int attempt = 0; attempt < 2; ++attempt) {
    last = Error();
    {
      std::lock_guard<std::mutex> lock(mutex_);
      peripheral_ = peripheral;
    }
    if (connectOnce(peripheral, &last)) {
      KXUNISDKGlobals::LOG("BTLE: Sleeping");
      sleepFor(kSettle);
      KXUNISDKGlobals::LOG("BTLE: Awake");
      std::shared_ptr<BTLEDelegate> control;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        control = controlDelegate_.lock();
      }
      if (control) control->btleDeviceConnected(peripheral);
      return true;
    }
    bool paired;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      paired = btPairingComplete_;
    }
    if (paired || attempt == 1) break;
    sleepFor(kRetryPause);
  }
  if (auto held = this->peripheral()) {
    central->cancelPeripheralConnection(held);
    close();
  }
  forget();
  if (error) *error = last;
  return false;
}

bool BTLEStream::connectOnce(const std::shared_ptr<Peripheral>& given, Error* error) {
  auto central = manager();
  std::shared_ptr<Peripheral> p = given;
  auto known = central->retrievePeripherals({given->identifier()});
  if (!known.empty()) p = known.front();
  KXUNISDKGlobals::LOG("Connecting to peripheral %s: %s", p->identifier().string().c_str(), p->name().c_str());
  {
    std::lock_guard<std::mutex> lock(mutex_);
    peripheral_ = p;
    btServicesDiscovered_ = btPairingComplete_ = btPairingError_ = false;
    btConnectionError_.reset();
    fromPeripheral_ = toPeripheral_ = checkOn_ = powerOn_ = nullptr;
  }
  central->connectPeripheral(p);

  // Link: connected with the services found, or the central's error.
  std::optional<Error> linkError;
  const bool linked = waitFor(kLinkTimeout, [&] {
    if (btConnectionError_) linkError = btConnectionError_;
    return linkError || (p->state() == PeripheralState::Connected && btServicesDiscovered_);
  });
  if (linkError) {
    if (error) *error = *linkError;
    KXUNISDKGlobals::LOG("ERROR: %s", linkError->text.c_str());
    return false;
  }
  if (!linked) return fail(error, -6, "Device connect timeout"), false;

  // Power-on handshake, for devices that have one.
  std::shared_ptr<Characteristic> powerOn, checkOn;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    powerOn = powerOn_;
    checkOn = checkOn_;
  }
  if (powerOn) {
    sleepFor(std::chrono::milliseconds(200));
    if (p->state() != PeripheralState::Connected) return fail(error, -6, "Please turn on the device"), false;
    const auto start = Clock::current().now();
    bool written = false;
    for (;;) {
      const Bytes status = checkOn ? checkOn->value() : Bytes{};
      if (!status.empty()) {
        KXUNISDKGlobals::LOG("Device power status: %02X", status[0]);
        if (status[0] == '1' || status[0] == '4') {
          KXUNISDKGlobals::LOG("Power on complete!");
          sleepFor(std::chrono::milliseconds(200));
          break;
        }
        if (!written) {
          const std::string name = p->name();
          p->writeValue(Bytes(name.begin(), name.end()), powerOn, bluetooth::WriteType::WithResponse);
          written = true;
        }
      }
      if (p->state() != PeripheralState::Connected) return fail(error, -6, "Please turn on the device"), false;
      const auto elapsed = Clock::current().now() - start;
      if (elapsed >= kPowerOnTimeout) return fail(error, -6, "Power on timeout"), false;
      // The next look comes with a new value, a change of the link, or after 0.1 s.
      uint64_t seen;
      {
        std::lock_guard<std::mutex> lock(mutex_);
        seen = generation_;
      }
      waitFor(std::min<foundation::Duration>(std::chrono::milliseconds(100), kPowerOnTimeout - elapsed),
              [&] { return generation_ != seen; });
    }
  }

  // Data: subscribe to data-in, which pairs the devices.
  std::shared_ptr<Characteristic> dataIn;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    dataIn = fromPeripheral_;
  }
  if (!dataIn) return fail(error, -6, "Bluetooth connection timeout"), false;
  p->readValue(dataIn);
  p->setNotifyValue(true, dataIn);
  waitRunningMainLoop(kPairingTimeout, [&] {
    return (p->state() == PeripheralState::Connected && btServicesDiscovered_ && btPairingComplete_) ||
           btPairingError_;
  });
  bool complete;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    complete = btPairingComplete_;
  }
  const bool connected = p->state() == PeripheralState::Connected;
  if (connected && complete) {
    std::lock_guard<std::mutex> lock(mutex_);
    peripheral_ = p;
    senderError_.reset();
    // A new link is a stream to open (and to close) again, whatever became of the last one.
    status_ = StreamStatus::NotOpen;
    return true;
  }
  if (!connected && complete) return fail(error, -6, "Bluetooth connection timeout"), false;
  central->cancelPeripheralConnection(p);
  return fail(error, -20, "Bluetooth pairing required"), false;
}

// ---- Stream ---------------------------------------------------------------------------------------------

void BTLEStream::open() {
  status_ = StreamStatus::Open;
  core_.run();
}

void BTLEStream::close() {
  const StreamStatus was = status_.exchange(StreamStatus::Closed);
  if (was == StreamStatus::Closed) return;
  core_.stop();
  std::shared_ptr<Peripheral> p;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    p = peripheral_;
  }
  if (p && manager_) manager_->cancelPeripheralConnection(p);
  if (was == StreamStatus::Open) input_->tell(StreamEvent::EndEncountered);
}

size_t BTLEStream::read(uint8_t* buffer, size_t maxLength) { return core_.read(buffer, maxLength); }

ssize_t BTLEStream::write(const uint8_t* data, size_t length) { return core_.write(data, length); }

bool BTLEStream::setDataNotificationMaxTime(double maxTime, int maxLength, std::optional<Bytes> sequenceData,
                                            Error*) {
  core_.setDataNotification(maxTime, maxLength, std::move(sequenceData));
  return true;
}

bool BTLEStream::btWrite(const uint8_t* data, int length, Error* error) {
  if (length < 0 || (length > 0 && !data)) return fail(error, -9, "Invalid paremeter"), false;
  std::shared_ptr<Peripheral> p;
  std::shared_ptr<Characteristic> out;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (senderError_) {
      // The last write did not reach the device.
      if (error) *error = *senderError_;
      senderError_.reset();
      return false;
    }
    p = peripheral_;
    out = toPeripheral_;
  }
  if (status_.load() != StreamStatus::Open || !p || !out) return fail(error, -20, "No device connected"), false;
  writeLock_.acquire();  // held until the sender has sent everything
  Bytes bytes(data, data + length);
  GlobalQueue::async([self = shared_from_this(), p, out, bytes = std::move(bytes)]() mutable {
    self->sendPieces(std::move(p), std::move(out), std::move(bytes));
  });
  return true;
}

void BTLEStream::sendPieces(std::shared_ptr<Peripheral> p, std::shared_ptr<Characteristic> out, Bytes bytes) {
  const auto start = Clock::current().now();
  bool ok = true;
  for (size_t offset = 0, k = 0; offset < bytes.size() && ok; offset += kPieceSize, ++k) {
    const size_t n = std::min(kPieceSize, bytes.size() - offset);
    const bool withResponse = k != 0 && k % kResponseEvery == 0;
    ok = p->writeValue(Bytes(bytes.begin() + ptrdiff_t(offset), bytes.begin() + ptrdiff_t(offset + n)), out,
                       withResponse ? bluetooth::WriteType::WithResponse : bluetooth::WriteType::WithoutResponse);
  }
  const double seconds = std::chrono::duration<double>(Clock::current().now() - start).count();
  KXUNISDKGlobals::LOG("Send complete : %.02f", seconds);
  if (!ok) {
    {
      std::lock_guard<std::mutex> lock(mutex_);
      senderError_ = KXUNISDKGlobals::makeError(-20, "%s", "No device connected");
    }
    output_->tell(StreamEvent::ErrorOccurred);
  }
  writeLock_.release();
}

// ---- Callbacks -------------------------------------------------------------------------------------------

void BTLEStream::centralManagerDidUpdateState(bluetooth::CentralManager& central) {
  const auto state = central.state();
  if (state == bluetooth::CentralState::PoweredOff) {
    KXUNISDKGlobals::LOG("CBCentralManagerStatePoweredOff");
    std::shared_ptr<Peripheral> p;
    bool wasReady;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      wasReady = btReady_;
      p = peripheral_;
    }
    if (wasReady && status_.load() == StreamStatus::Open && p)
      didDisconnectPeripheral(central, p, std::nullopt);
    std::lock_guard<std::mutex> lock(mutex_);
    btReady_ = false;
    wake();
  } else if (state == bluetooth::CentralState::PoweredOn) {
    KXUNISDKGlobals::LOG("CBCentralManagerStatePoweredOn");
    std::lock_guard<std::mutex> lock(mutex_);
    btReady_ = true;
    wake();
  } else {
    KXUNISDKGlobals::LOG("Central Manager did change state: %d", int(state));
  }
}

void BTLEStream::didDiscoverPeripheral(bluetooth::CentralManager&, const std::shared_ptr<Peripheral>& p,
                                       const bluetooth::Advertisement&) {
  KXUNISDKGlobals::LOG("didDiscoverPeripheral: %s", p->identifier().string().c_str());
  if (p->name().empty()) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (std::find(btleDevices_.begin(), btleDevices_.end(), p) == btleDevices_.end()) btleDevices_.push_back(p);
  wake();
}

void BTLEStream::didConnectPeripheral(bluetooth::CentralManager&, const std::shared_ptr<Peripheral>& p) {
  KXUNISDKGlobals::LOG("didConnectPeripheral");
  core_.clear();
  p->setDelegate(weak_from_this());
  p->discoverServices({});
  std::lock_guard<std::mutex> lock(mutex_);
  wake();
}

void BTLEStream::didFailToConnectPeripheral(bluetooth::CentralManager&, const std::shared_ptr<Peripheral>&,
                                            const Error& error) {
  KXUNISDKGlobals::LOG("Eeeeroroooor");
  std::lock_guard<std::mutex> lock(mutex_);
  btConnectionError_ = error;
  wake();
}

void BTLEStream::didDisconnectPeripheral(bluetooth::CentralManager&, const std::shared_ptr<Peripheral>& p,
                                         const std::optional<Error>& error) {
  std::shared_ptr<BTLEDelegate> control;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (p != peripheral_) return;  // a link this stream no longer holds
    btPairingError_ = true;
    btPairingComplete_ = true;  // ends a pairing wait
    control = controlDelegate_.lock();
    wake();
  }
  KXUNISDKGlobals::LOG("didDisconnectPeripheral: %s", error ? error->text.c_str() : "(null)");
  close();
  if (control) control->btleDeviceDisconnected(p);
  forget();
}

void BTLEStream::didDiscoverServices(Peripheral& p, const std::optional<Error>& error) {
  KXUNISDKGlobals::LOG("didDiscoverServices");
  if (error) {
    KXUNISDKGlobals::LOG("Error discovering service: %s", error->text.c_str());
    forget();
    return;
  }
  for (const auto& s : p.services().value_or(std::vector<std::shared_ptr<bluetooth::Service>>{})) {
    KXUNISDKGlobals::LOG("[%s] Service found with UUID: %s", p.name().c_str(), s->UUID().string().c_str());
    if (s->UUID() == kDeviceInformation) continue;
    p.discoverCharacteristics({kDataIn(), kDataOut(), kCheckOn(), kPowerOn()}, s);
  }
}

void BTLEStream::didDiscoverCharacteristicsForService(Peripheral& p, bluetooth::Service& service,
                                                      const std::optional<Error>& error) {
  if (error) {
    KXUNISDKGlobals::LOG("Error discovering characteristic: %s", error->text.c_str());
    forget();
    return;
  }
  const auto chars = service.characteristics();
  std::shared_ptr<Characteristic> checkOn;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& c : chars) {
      if (c->UUID() == kDataIn()) fromPeripheral_ = c;
      if (c->UUID() == kDataOut()) toPeripheral_ = c;
      if (c->UUID() == kCheckOn()) checkOn = checkOn_ = c;
      if (c->UUID() == kPowerOn()) powerOn_ = c;
    }
  }
  if (checkOn) {
    p.setNotifyValue(true, checkOn);
    // A device that is already on may never notify a change: its status is read as well.
    p.readValue(checkOn);
  }
  std::lock_guard<std::mutex> lock(mutex_);
  if (chars.size() >= 2) btServicesDiscovered_ = true;
  wake();
}

void BTLEStream::didUpdateNotificationStateForCharacteristic(Peripheral& p, Characteristic& c,
                                                             const std::optional<Error>& error) {
  const bool dataIn = c.UUID() == kDataIn();
  if (error) {
    KXUNISDKGlobals::LOG("Error changing notification state: %s", error->text.c_str());
    if (dataIn) {
      KXUNISDKGlobals::LOG("Pairing started!");
      std::lock_guard<std::mutex> lock(mutex_);
      btPairingError_ = true;
      wake();
    }
    return;
  }
  if (dataIn) {
    std::lock_guard<std::mutex> lock(mutex_);
    btPairingComplete_ = true;
    wake();
  }
  if (!dataIn && c.UUID() != kDataOut()) return;
  auto self = c.service() ? c.service()->characteristic(c.UUID()) : nullptr;
  if (c.isNotifying()) {
    if (self) p.readValue(self);
  } else if (manager_) {
    manager_->cancelPeripheralConnection(p.shared_from_this());
  }
}

void BTLEStream::didUpdateValueForCharacteristic(Peripheral&, Characteristic& c, const std::optional<Error>& error) {
  if (error) {
    KXUNISDKGlobals::LOG("Error didUpdateValueForCharacteristic: %s", error->text.c_str());
    return;
  }
  if (c.UUID() == kDataIn()) {
    const Bytes value = c.value();
    core_.append(value.data(), value.size());
    core_.notify();
    return;
  }
  std::lock_guard<std::mutex> lock(mutex_);
  wake();  // the power-on handshake watches the check-on value
}

void BTLEStream::didWriteValueForCharacteristic(Peripheral&, Characteristic& c, const std::optional<Error>& error) {
  if (!error) return;
  KXUNISDKGlobals::LOG("Error writing characteristic value: %s", error->text.c_str());
  if (c.UUID() != kDataOut()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    senderError_ = *error;
  }
  output_->tell(StreamEvent::ErrorOccurred);
}

}  // namespace kestra
