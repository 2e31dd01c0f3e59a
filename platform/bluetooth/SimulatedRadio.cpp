#include "platform/bluetooth/SimulatedRadio.h"

#include <algorithm>

#include "platform/foundation/OperationQueue.h"

namespace bluetooth {

namespace {
Error radioError(int code, const std::string& text) { return Error(kBluetoothErrorDomain, code, text); }
// The platform's codes: 6 connection timed out / lost, 7 peripheral disconnected.
constexpr int kLinkLost = 6;
constexpr int kDisconnected = 7;
}  // namespace

// ---- Peripheral ---------------------------------------------------------------------------------------

SimulatedPeripheral::SimulatedPeripheral(std::string name, std::vector<Uuid> advertisedServices, Uuid identifier)
    : identifier_(identifier), name_(std::move(name)), advertised_(std::move(advertisedServices)) {}

std::string SimulatedPeripheral::name() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return name_;
}

std::vector<Uuid> SimulatedPeripheral::advertisedServices() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return advertised_;
}

void SimulatedPeripheral::addService(const Uuid& service, const std::vector<Uuid>& characteristics) {
  std::lock_guard<std::mutex> lock(mutex_);
  Svc s{service, {}};
  for (const auto& c : characteristics) s.chars.push_back(Chr{c, {}, false, std::nullopt, false});
  services_.push_back(std::move(s));
}

void SimulatedPeripheral::setConnectable(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  connectable_ = on;
}

void SimulatedPeripheral::setConnectError(std::optional<Error> error) {
  std::lock_guard<std::mutex> lock(mutex_);
  connectError_ = std::move(error);
}

void SimulatedPeripheral::setNotifyError(const Uuid& characteristic, std::optional<Error> error) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (Chr* c = findChr(characteristic)) c->notifyError = std::move(error);
}

void SimulatedPeripheral::setSilentNotify(const Uuid& characteristic, bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (Chr* c = findChr(characteristic)) c->silentNotify = on;
}

void SimulatedPeripheral::setRefuseWrites(bool on) {
  std::lock_guard<std::mutex> lock(mutex_);
  refuseWrites_ = on;
}

void SimulatedPeripheral::setOnWrite(std::function<void(const Uuid&, const Bytes&, bool)> f) {
  std::lock_guard<std::mutex> lock(mutex_);
  onWrite_ = std::move(f);
}

SimulatedPeripheral::Chr* SimulatedPeripheral::findChr(const Uuid& ch) {
  for (auto& s : services_)
    for (auto& c : s.chars)
      if (c.uuid == ch) return &c;
  return nullptr;
}

SimulatedPeripheral::Chr* SimulatedPeripheral::findChr(const Uuid& service, const Uuid& ch) {
  for (auto& s : services_)
    if (s.uuid == service)
      for (auto& c : s.chars)
        if (c.uuid == ch) return &c;
  return nullptr;
}

std::optional<Uuid> SimulatedPeripheral::serviceOf(const Uuid& ch) const {
  for (const auto& s : services_)
    for (const auto& c : s.chars)
      if (c.uuid == ch) return s.uuid;
  return std::nullopt;
}

void SimulatedPeripheral::setValue(const Uuid& characteristic, const Bytes& value) {
  std::lock_guard<std::mutex> lock(mutex_);
  if (Chr* c = findChr(characteristic)) c->value = value;
}

Bytes SimulatedPeripheral::value(const Uuid& characteristic) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& s : services_)
    for (const auto& c : s.chars)
      if (c.uuid == characteristic) return c.value;
  return {};
}

bool SimulatedPeripheral::notify(const Uuid& characteristic, const Bytes& value) {
  std::shared_ptr<SimulatedRadio> radio;
  std::optional<Uuid> service;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    Chr* c = findChr(characteristic);
    if (!c) return false;
    c->value = value;
    if (!c->notifying || !connected_) return false;
    radio = radio_.lock();
    service = serviceOf(characteristic);
  }
  if (!radio) return false;
  radio->emit([id = identifier_, s = *service, characteristic, value](RadioListener& l) {
    l.radioValueUpdated(id, s, characteristic, value, std::nullopt);
  });
  return true;
}

void SimulatedPeripheral::drop() {
  if (auto radio = radio_.lock()) radio->lose(shared_from_this(), radioError(kLinkLost, "The connection has timed out unexpectedly."));
}

bool SimulatedPeripheral::connected() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connected_;
}

bool SimulatedPeripheral::notifying(const Uuid& characteristic) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& s : services_)
    for (const auto& c : s.chars)
      if (c.uuid == characteristic) return c.notifying;
  return false;
}

std::vector<SimulatedPeripheral::Write> SimulatedPeripheral::writes() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return writes_;
}

void SimulatedPeripheral::clearWrites() {
  std::lock_guard<std::mutex> lock(mutex_);
  writes_.clear();
}

int SimulatedPeripheral::connects() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return connects_;
}

// ---- Radio ----------------------------------------------------------------------------------------------

std::shared_ptr<SimulatedRadio> SimulatedRadio::create(CentralState state) {
  return std::shared_ptr<SimulatedRadio>(new SimulatedRadio(state));
}

SimulatedRadio::SimulatedRadio(CentralState state)
    : queue_(std::make_unique<foundation::OperationQueue>(1)), state_(state) {}

SimulatedRadio::~SimulatedRadio() = default;

void SimulatedRadio::emit(std::function<void(RadioListener&)> f) {
  auto listeners = this->listeners();
  queue_->addOperation([listeners = std::move(listeners), f = std::move(f)] {
    for (const auto& l : listeners) f(*l);
  });
}

void SimulatedRadio::waitIdle() { queue_->waitUntilAllOperationsAreFinished(); }

std::shared_ptr<SimulatedPeripheral> SimulatedRadio::find(const Uuid& id) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = peripherals_.find(id);
  return it == peripherals_.end() ? nullptr : it->second;
}

void SimulatedRadio::advertise(const std::shared_ptr<SimulatedPeripheral>& p) {
  Advertisement ad{p->identifier(), p->name(), p->advertisedServices(), -60};
  {
    std::lock_guard<std::mutex> lock(mutex_);
    if (!scanning_ || state_ != CentralState::PoweredOn) return;
    if (!scanServices_.empty()) {
      bool match = false;
      for (const auto& s : ad.services)
        match = match || std::find(scanServices_.begin(), scanServices_.end(), s) != scanServices_.end();
      if (!match) return;
    }
  }
  emit([ad](RadioListener& l) { l.radioDiscovered(ad); });
}

void SimulatedRadio::add(const std::shared_ptr<SimulatedPeripheral>& peripheral) {
  {
    std::lock_guard<std::mutex> plock(peripheral->mutex_);
    peripheral->radio_ = weak_from_this();
  }
  {
    std::lock_guard<std::mutex> lock(mutex_);
    peripherals_[peripheral->identifier()] = peripheral;
  }
  advertise(peripheral);
}

void SimulatedRadio::remove(const std::shared_ptr<SimulatedPeripheral>& peripheral) {
  lose(peripheral, radioError(kLinkLost, "The connection has timed out unexpectedly."));
  std::lock_guard<std::mutex> lock(mutex_);
  peripherals_.erase(peripheral->identifier());
}

void SimulatedRadio::lose(const std::shared_ptr<SimulatedPeripheral>& p, const Error& error) {
  {
    std::lock_guard<std::mutex> plock(p->mutex_);
    if (!p->connected_) return;
    p->connected_ = false;
    for (auto& s : p->services_)
      for (auto& c : s.chars) c.notifying = false;
  }
  emit([id = p->identifier(), error](RadioListener& l) { l.radioDisconnected(id, error); });
}

void SimulatedRadio::setState(CentralState state) {
  std::vector<std::shared_ptr<SimulatedPeripheral>> all;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    state_ = state;
    for (auto& [id, p] : peripherals_) all.push_back(p);
  }
  if (state != CentralState::PoweredOn)
    for (auto& p : all) {
      std::lock_guard<std::mutex> plock(p->mutex_);
      p->connected_ = false;
      for (auto& s : p->services_)
        for (auto& c : s.chars) c.notifying = false;
    }
  emit([state](RadioListener& l) { l.radioStateChanged(state); });
}

bool SimulatedRadio::scanning() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return scanning_;
}

CentralState SimulatedRadio::state() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return state_;
}

void SimulatedRadio::startScan(const std::vector<Uuid>& services) {
  std::vector<std::shared_ptr<SimulatedPeripheral>> all;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    scanning_ = true;
    scanServices_ = services;
    for (auto& [id, p] : peripherals_) all.push_back(p);
  }
  for (auto& p : all) advertise(p);
}

void SimulatedRadio::stopScan() {
  std::lock_guard<std::mutex> lock(mutex_);
  scanning_ = false;
}

std::optional<Advertisement> SimulatedRadio::knownPeripheral(const Uuid& identifier) {
  auto p = find(identifier);
  if (!p) return std::nullopt;
  return Advertisement{p->identifier(), p->name(), p->advertisedServices(), -60};
}

void SimulatedRadio::connect(const Uuid& id) {
  auto p = find(id);
  if (!p || state() != CentralState::PoweredOn) return;  // never answered, as out of range
  std::optional<Error> refused;
  {
    std::lock_guard<std::mutex> plock(p->mutex_);
    if (!p->connectable_) return;
    refused = p->connectError_;
    if (!refused) {
      p->connected_ = true;
      ++p->connects_;
    }
  }
  if (refused)
    emit([id, e = *refused](RadioListener& l) { l.radioConnectFailed(id, e); });
  else
    emit([id](RadioListener& l) { l.radioConnected(id); });
}

void SimulatedRadio::cancelConnection(const Uuid& id) {
  auto p = find(id);
  if (!p) return;
  {
    std::lock_guard<std::mutex> plock(p->mutex_);
    if (!p->connected_) return;
    p->connected_ = false;
    for (auto& s : p->services_)
      for (auto& c : s.chars) c.notifying = false;
  }
  emit([id](RadioListener& l) { l.radioDisconnected(id, std::nullopt); });
}

void SimulatedRadio::discoverServices(const Uuid& id, const std::vector<Uuid>& filter) {
  auto p = find(id);
  if (!p) return;
  std::vector<Uuid> found;
  std::optional<Error> error;
  {
    std::lock_guard<std::mutex> plock(p->mutex_);
    if (!p->connected_) error = radioError(kDisconnected, "The specified device has disconnected from us.");
    for (const auto& s : p->services_)
      if (filter.empty() || std::find(filter.begin(), filter.end(), s.uuid) != filter.end()) found.push_back(s.uuid);
  }
  if (error) found.clear();
  emit([id, found, error](RadioListener& l) { l.radioServicesDiscovered(id, found, error); });
}

void SimulatedRadio::discoverCharacteristics(const Uuid& id, const Uuid& service, const std::vector<Uuid>& filter) {
  auto p = find(id);
  if (!p) return;
  std::vector<Uuid> found;
  std::optional<Error> error;
  {
    std::lock_guard<std::mutex> plock(p->mutex_);
    if (!p->connected_) error = radioError(kDisconnected, "The specified device has disconnected from us.");
    for (const auto& s : p->services_)
      if (s.uuid == service)
        for (const auto& c : s.chars)
          if (filter.empty() || std::find(filter.begin(), filter.end(), c.uuid) != filter.end())
            found.push_back(c.uuid);
  }
  if (error) found.clear();
  emit([id, service, found, error](RadioListener& l) { l.radioCharacteristicsDiscovered(id, service, found, error); });
}

void SimulatedRadio::setNotify(const Uuid& id, const Uuid& service, const Uuid& ch, bool on) {
  auto p = find(id);
  if (!p) return;
  std::optional<Error> error;
  {
    std::lock_guard<std::mutex> plock(p->mutex_);
    SimulatedPeripheral::Chr* c = p->connected_ ? p->findChr(service, ch) : nullptr;
    if (!c) {
      error = radioError(kDisconnected, "The specified device has disconnected from us.");
    } else if (c->silentNotify && on) {
      return;
    } else if (c->notifyError && on) {
      error = c->notifyError;
    } else {
      c->notifying = on;
    }
  }
  emit([id, service, ch, on, error](RadioListener& l) { l.radioNotifyStateChanged(id, service, ch, on, error); });
}

void SimulatedRadio::readValue(const Uuid& id, const Uuid& service, const Uuid& ch) {
  auto p = find(id);
  if (!p) return;
  Bytes value;
  std::optional<Error> error;
  {
    std::lock_guard<std::mutex> plock(p->mutex_);
    SimulatedPeripheral::Chr* c = p->connected_ ? p->findChr(service, ch) : nullptr;
    if (c)
      value = c->value;
    else
      error = radioError(kDisconnected, "The specified device has disconnected from us.");
  }
  emit([id, service, ch, value, error](RadioListener& l) { l.radioValueUpdated(id, service, ch, value, error); });
}

bool SimulatedRadio::writeValue(const Uuid& id, const Uuid& service, const Uuid& ch, const Bytes& value,
                                bool withResponse) {
  auto p = find(id);
  if (!p) return false;
  std::function<void(const Uuid&, const Bytes&, bool)> onWrite;
  {
    std::lock_guard<std::mutex> plock(p->mutex_);
    if (!p->connected_ || p->refuseWrites_ || !p->findChr(service, ch)) return false;
    p->writes_.push_back({ch, value, withResponse});
    onWrite = p->onWrite_;
  }
  // The device takes the bytes on the radio's thread, in order with everything else.
  queue_->addOperation([onWrite, ch, value, withResponse] {
    if (onWrite) onWrite(ch, value, withResponse);
  });
  if (withResponse)
    emit([id, service, ch](RadioListener& l) { l.radioValueWritten(id, service, ch, std::nullopt); });
  return true;
}

}  // namespace bluetooth
