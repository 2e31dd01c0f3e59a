#include "platform/bluetooth/Central.h"

#include <algorithm>

#include "platform/foundation/OperationQueue.h"

namespace bluetooth {

// ---- Radio ------------------------------------------------------------------------------------

void Radio::addListener(std::weak_ptr<RadioListener> listener) {
  std::lock_guard<std::mutex> lock(listenersMutex_);
  listeners_.push_back(std::move(listener));
}

std::vector<std::shared_ptr<RadioListener>> Radio::listeners() const {
  std::lock_guard<std::mutex> lock(listenersMutex_);
  std::vector<std::shared_ptr<RadioListener>> live;
  std::erase_if(listeners_, [](const auto& w) { return w.expired(); });
  for (const auto& w : listeners_)
    if (auto l = w.lock()) live.push_back(std::move(l));
  return live;
}

// ---- Characteristic, service, peripheral ---------------------------------------------------------

Bytes Characteristic::value() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return value_;
}

std::vector<std::shared_ptr<Characteristic>> Service::characteristics() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return characteristics_;
}

std::shared_ptr<Characteristic> Service::characteristic(const Uuid& uuid) const {
  std::lock_guard<std::mutex> lock(mutex_);
  for (const auto& c : characteristics_)
    if (c->UUID() == uuid) return c;
  return nullptr;
}

Peripheral::Peripheral(std::weak_ptr<CentralManager> central, Uuid identifier, std::string name)
    : central_(std::move(central)), identifier_(identifier), name_(std::move(name)) {}

std::string Peripheral::name() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return name_;
}

std::optional<std::vector<std::shared_ptr<Service>>> Peripheral::services() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return services_;
}

void Peripheral::setDelegate(std::weak_ptr<PeripheralDelegate> delegate) {
  std::lock_guard<std::mutex> lock(mutex_);
  delegate_ = std::move(delegate);
}

std::shared_ptr<PeripheralDelegate> Peripheral::delegate() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return delegate_.lock();
}

std::shared_ptr<Radio> Peripheral::radio() const {
  auto central = central_.lock();
  return central ? central->radio() : nullptr;
}

void Peripheral::discoverServices(const std::vector<Uuid>& uuids) {
  if (auto r = radio()) r->discoverServices(identifier_, uuids);
}

void Peripheral::discoverCharacteristics(const std::vector<Uuid>& uuids, const std::shared_ptr<Service>& service) {
  if (auto r = radio(); r && service) r->discoverCharacteristics(identifier_, service->UUID(), uuids);
}

namespace {
// The service UUID of `c` when it belongs to `p`.
std::optional<Uuid> serviceOf(const Peripheral& p, const std::shared_ptr<Characteristic>& c) {
  if (!c) return std::nullopt;
  auto s = c->service();
  if (!s || s->peripheral().get() != &p) return std::nullopt;
  return s->UUID();
}
}  // namespace

void Peripheral::setNotifyValue(bool on, const std::shared_ptr<Characteristic>& characteristic) {
  auto s = serviceOf(*this, characteristic);
  if (auto r = radio(); r && s) r->setNotify(identifier_, *s, characteristic->UUID(), on);
}

void Peripheral::readValue(const std::shared_ptr<Characteristic>& characteristic) {
  auto s = serviceOf(*this, characteristic);
  if (auto r = radio(); r && s) r->readValue(identifier_, *s, characteristic->UUID());
}

bool Peripheral::writeValue(const Bytes& value, const std::shared_ptr<Characteristic>& characteristic,
                            WriteType type) {
  auto s = serviceOf(*this, characteristic);
  auto r = radio();
  if (!r || !s || state() != PeripheralState::Connected) return false;
  return r->writeValue(identifier_, *s, characteristic->UUID(), value, type == WriteType::WithResponse);
}

// ---- Central ---------------------------------------------------------------------------------------

// Takes the radio's events (on the radio's thread) over to the central's queue.
class CentralManager::Listener final : public RadioListener {
 public:
  explicit Listener(std::weak_ptr<CentralManager> central) : central_(std::move(central)) {}
  template <class F>
  void post(F f) {
    if (auto c = central_.lock()) {
      std::weak_ptr<CentralManager> weak = c;
      c->onQueue([weak, f = std::move(f)] {
        if (auto c2 = weak.lock()) f(*c2);
      });
    }
  }
  void radioStateChanged(CentralState s) override {
    post([s](CentralManager& c) { c.handleState(s); });
  }
  void radioDiscovered(const Advertisement& ad) override {
    post([ad](CentralManager& c) { c.handleDiscovered(ad); });
  }
  void radioConnected(const Uuid& id) override {
    post([id](CentralManager& c) { c.handleConnected(id); });
  }
  void radioConnectFailed(const Uuid& id, const Error& e) override {
    post([id, e](CentralManager& c) { c.handleConnectFailed(id, e); });
  }
  void radioDisconnected(const Uuid& id, const std::optional<Error>& e) override {
    post([id, e](CentralManager& c) { c.handleDisconnected(id, e); });
  }
  void radioServicesDiscovered(const Uuid& id, const std::vector<Uuid>& s, const std::optional<Error>& e) override {
    post([id, s, e](CentralManager& c) { c.handleServices(id, s, e); });
  }
  void radioCharacteristicsDiscovered(const Uuid& id, const Uuid& s, const std::vector<Uuid>& ch,
                                      const std::optional<Error>& e) override {
    post([id, s, ch, e](CentralManager& c) { c.handleCharacteristics(id, s, ch, e); });
  }
  void radioNotifyStateChanged(const Uuid& id, const Uuid& s, const Uuid& ch, bool on,
                               const std::optional<Error>& e) override {
    post([id, s, ch, on, e](CentralManager& c) { c.handleNotifyState(id, s, ch, on, e); });
  }
  void radioValueUpdated(const Uuid& id, const Uuid& s, const Uuid& ch, const Bytes& v,
                         const std::optional<Error>& e) override {
    post([id, s, ch, v, e](CentralManager& c) { c.handleValue(id, s, ch, v, e); });
  }
  void radioValueWritten(const Uuid& id, const Uuid& s, const Uuid& ch, const std::optional<Error>& e) override {
    post([id, s, ch, e](CentralManager& c) { c.handleWritten(id, s, ch, e); });
  }

 private:
  std::weak_ptr<CentralManager> central_;
};

std::shared_ptr<CentralManager> CentralManager::create(std::weak_ptr<CentralManagerDelegate> delegate,
                                                       std::string queueName, std::shared_ptr<Radio> radio) {
  if (!radio) radio = defaultRadio();
  std::shared_ptr<CentralManager> c(new CentralManager(std::move(delegate), std::move(queueName), std::move(radio)));
  c->listener_ = std::make_shared<Listener>(c);
  c->radio_->addListener(c->listener_);
  // The first state report, as the platform makes one when a central is created.
  const CentralState s = c->radio_->state();
  c->onQueue([weak = std::weak_ptr<CentralManager>(c), s] {
    if (auto self = weak.lock()) self->handleState(s);
  });
  return c;
}

CentralManager::CentralManager(std::weak_ptr<CentralManagerDelegate> delegate, std::string queueName,
                               std::shared_ptr<Radio> radio)
    : delegate_(std::move(delegate)),
      queueName_(std::move(queueName)),
      radio_(std::move(radio)),
      queue_(std::make_unique<foundation::OperationQueue>(1)) {}

CentralManager::~CentralManager() {
  if (scanning_.load()) radio_->stopScan();
}

void CentralManager::onQueue(std::function<void()> block) { queue_->addOperation(std::move(block)); }

CentralState CentralManager::state() const { return state_.load(); }

void CentralManager::waitUntilIdle() { queue_->waitUntilAllOperationsAreFinished(); }

void CentralManager::scanForPeripherals(const std::vector<Uuid>& services, bool allowDuplicates) {
  {
    std::lock_guard<std::mutex> lock(mutex_);
    scanServices_ = services;
    seen_.clear();
    allowDuplicates_ = allowDuplicates;
  }
  scanning_ = true;
  radio_->startScan(services);
}

void CentralManager::stopScan() {
  scanning_ = false;
  radio_->stopScan();
}

std::shared_ptr<Peripheral> CentralManager::existing(const Uuid& identifier) const {
  std::lock_guard<std::mutex> lock(mutex_);
  auto it = peripherals_.find(identifier);
  return it == peripherals_.end() ? nullptr : it->second;
}

std::shared_ptr<Peripheral> CentralManager::peripheralFor(const Uuid& identifier, const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  auto& p = peripherals_[identifier];
  if (!p) {
    p = std::make_shared<Peripheral>(weak_from_this(), identifier, name);
  } else if (!name.empty()) {
    std::lock_guard<std::mutex> plock(p->mutex_);
    p->name_ = name;
  }
  return p;
}

std::vector<std::shared_ptr<Peripheral>> CentralManager::retrievePeripherals(const std::vector<Uuid>& identifiers) {
  std::vector<std::shared_ptr<Peripheral>> found;
  for (const auto& id : identifiers) {
    if (auto p = existing(id)) {
      found.push_back(p);
    } else if (auto ad = radio_->knownPeripheral(id)) {
      found.push_back(peripheralFor(id, ad->name));
    }
  }
  return found;
}

void CentralManager::connectPeripheral(const std::shared_ptr<Peripheral>& peripheral) {
  if (!peripheral) return;
  auto own = peripheralFor(peripheral->identifier(), {});
  if (own != peripheral) return;  // a peripheral of another central
  if (peripheral->state() == PeripheralState::Connected) {
    onQueue([weak = weak_from_this(), id = peripheral->identifier()] {
      if (auto self = weak.lock()) self->handleConnected(id);
    });
    return;
  }
  peripheral->state_ = PeripheralState::Connecting;
  radio_->connect(peripheral->identifier());
}

void CentralManager::cancelPeripheralConnection(const std::shared_ptr<Peripheral>& peripheral) {
  if (!peripheral || existing(peripheral->identifier()) != peripheral) return;
  if (peripheral->state() == PeripheralState::Disconnected) return;
  if (peripheral->state() == PeripheralState::Connected) peripheral->state_ = PeripheralState::Disconnecting;
  radio_->cancelConnection(peripheral->identifier());
}

// ---- Events, on the queue ---------------------------------------------------------------------------

void CentralManager::handleState(CentralState s) {
  state_ = s;
  if (s != CentralState::PoweredOn) {
    // Links do not survive the radio going away.
    std::vector<std::shared_ptr<Peripheral>> all;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      for (auto& [id, p] : peripherals_) all.push_back(p);
    }
    for (auto& p : all) p->state_ = PeripheralState::Disconnected;
  }
  if (auto d = delegate_.lock()) d->centralManagerDidUpdateState(*this);
}

void CentralManager::handleDiscovered(const Advertisement& ad) {
  if (!scanning_.load()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // An advertisement without a service list was filtered by the radio already.
    if (!scanServices_.empty() && !ad.services.empty()) {
      bool match = false;
      for (const auto& s : ad.services)
        if (std::find(scanServices_.begin(), scanServices_.end(), s) != scanServices_.end()) match = true;
      if (!match) return;
    }
    if (!allowDuplicates_) {
      if (std::find(seen_.begin(), seen_.end(), ad.identifier) != seen_.end()) return;
      seen_.push_back(ad.identifier);
    }
  }
  auto p = peripheralFor(ad.identifier, ad.name);
  if (auto d = delegate_.lock()) d->didDiscoverPeripheral(*this, p, ad);
}

void CentralManager::handleConnected(const Uuid& id) {
  auto p = existing(id);
  if (!p) return;
  p->state_ = PeripheralState::Connected;
  if (auto d = delegate_.lock()) d->didConnectPeripheral(*this, p);
}

void CentralManager::handleConnectFailed(const Uuid& id, const Error& error) {
  auto p = existing(id);
  if (!p) return;
  p->state_ = PeripheralState::Disconnected;
  if (auto d = delegate_.lock()) d->didFailToConnectPeripheral(*this, p, error);
}

void CentralManager::handleDisconnected(const Uuid& id, const std::optional<Error>& error) {
  auto p = existing(id);
  if (!p || p->state() == PeripheralState::Disconnected) return;
  p->state_ = PeripheralState::Disconnected;
  {
    // A new link discovers its services again.
    std::lock_guard<std::mutex> lock(p->mutex_);
    if (p->services_)
      for (const auto& s : *p->services_)
        for (const auto& c : s->characteristics()) c->notifying_ = false;
  }
  if (auto d = delegate_.lock()) d->didDisconnectPeripheral(*this, p, error);
}

void CentralManager::handleServices(const Uuid& id, const std::vector<Uuid>& services,
                                    const std::optional<Error>& error) {
  auto p = existing(id);
  if (!p) return;
  if (!error) {
    std::vector<std::shared_ptr<Service>> list;
    for (const auto& u : services) list.push_back(std::make_shared<Service>(u, p));
    std::lock_guard<std::mutex> lock(p->mutex_);
    p->services_ = std::move(list);
  }
  if (auto d = p->delegate()) d->didDiscoverServices(*p, error);
}

void CentralManager::handleCharacteristics(const Uuid& id, const Uuid& service, const std::vector<Uuid>& chars,
                                           const std::optional<Error>& error) {
  auto p = existing(id);
  if (!p) return;
  std::shared_ptr<Service> s;
  for (const auto& candidate : p->services().value_or(std::vector<std::shared_ptr<Service>>{}))
    if (candidate->UUID() == service) s = candidate;
  if (!s) return;
  if (!error) {
    std::lock_guard<std::mutex> lock(s->mutex_);
    for (const auto& u : chars) {
      bool known = false;
      for (const auto& c : s->characteristics_) known = known || c->UUID() == u;
      if (!known) s->characteristics_.push_back(std::make_shared<Characteristic>(u, s));
    }
  }
  if (auto d = p->delegate()) d->didDiscoverCharacteristicsForService(*p, *s, error);
}

std::shared_ptr<Characteristic> CentralManager::find(const std::shared_ptr<Peripheral>& p, const Uuid& service,
                                                     const Uuid& ch) const {
  if (!p) return nullptr;
  for (const auto& s : p->services().value_or(std::vector<std::shared_ptr<Service>>{}))
    if (s->UUID() == service)
      if (auto c = s->characteristic(ch)) return c;
  return nullptr;
}

void CentralManager::handleNotifyState(const Uuid& id, const Uuid& service, const Uuid& ch, bool on,
                                       const std::optional<Error>& error) {
  auto p = existing(id);
  auto c = find(p, service, ch);
  if (!c) return;
  if (!error) c->notifying_ = on;
  if (auto d = p->delegate()) d->didUpdateNotificationStateForCharacteristic(*p, *c, error);
}

void CentralManager::handleValue(const Uuid& id, const Uuid& service, const Uuid& ch, const Bytes& value,
                                 const std::optional<Error>& error) {
  auto p = existing(id);
  auto c = find(p, service, ch);
  if (!c) return;
  if (!error) {
    std::lock_guard<std::mutex> lock(c->mutex_);
    c->value_ = value;
  }
  if (auto d = p->delegate()) d->didUpdateValueForCharacteristic(*p, *c, error);
}

void CentralManager::handleWritten(const Uuid& id, const Uuid& service, const Uuid& ch,
                                   const std::optional<Error>& error) {
  auto p = existing(id);
  auto c = find(p, service, ch);
  if (!c) return;
  if (auto d = p->delegate()) d->didWriteValueForCharacteristic(*p, *c, error);
}

}  // namespace bluetooth
