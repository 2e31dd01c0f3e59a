#pragma once
// The Bluetooth Low Energy central: scanning, connecting peripherals, and the peripheral,
// service and characteristic objects through which a client discovers, reads, writes and
// subscribes to a peripheral's values. The radio behind it is pluggable (Radio.h).
//
// How a client uses it:
//   auto central = CentralManager::create(weakDelegate, "com.example.queue");
//   central->scanForPeripherals({serviceUuid});       // -> didDiscoverPeripheral
//   central->connectPeripheral(p);                     // -> didConnectPeripheral
//   p->setDelegate(weakPeripheralDelegate);
//   p->discoverServices({});                           // -> didDiscoverServices
//   p->discoverCharacteristics({uuid}, service);       // -> didDiscoverCharacteristics
//   p->setNotifyValue(true, characteristic);           // -> didUpdateNotificationState
//   p->writeValue(bytes, characteristic, WriteType::WithoutResponse);
//
// Threads: every call may be made from any thread and returns at once. Every delegate call
// runs on the central's own serial queue (named at creation), one at a time, in the order
// the radio reported the events; the object model (a peripheral's state, services, a
// characteristic's value) is updated on that queue just before the delegate is called, and
// may be read from any thread.
//
// Lifetimes: delegates are held weakly. A peripheral object is made once per identifier per
// central and kept by the central for its life, so the same object comes back from a scan,
// `retrievePeripherals` and every event.

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/bluetooth/Radio.h"

namespace foundation {
class OperationQueue;
}

namespace bluetooth {

class CentralManager;
class Peripheral;
class Service;

enum class PeripheralState : int { Disconnected = 0, Connecting = 1, Connected = 2, Disconnecting = 3 };
enum class WriteType : int { WithResponse = 0, WithoutResponse = 1 };

class Characteristic {
 public:
  Characteristic(Uuid uuid, std::weak_ptr<Service> service) : uuid_(uuid), service_(std::move(service)) {}
  const Uuid& UUID() const { return uuid_; }
  std::shared_ptr<Service> service() const { return service_.lock(); }
  // The last value read or notified (empty before the first).
  Bytes value() const;
  bool isNotifying() const { return notifying_.load(); }

 private:
  friend class CentralManager;
  const Uuid uuid_;
  const std::weak_ptr<Service> service_;
  mutable std::mutex mutex_;
  Bytes value_;
  std::atomic<bool> notifying_{false};
};

class Service {
 public:
  Service(Uuid uuid, std::weak_ptr<Peripheral> peripheral) : uuid_(uuid), peripheral_(std::move(peripheral)) {}
  const Uuid& UUID() const { return uuid_; }
  std::shared_ptr<Peripheral> peripheral() const { return peripheral_.lock(); }
  // The characteristics discovered so far, in the peripheral's order.
  std::vector<std::shared_ptr<Characteristic>> characteristics() const;
  std::shared_ptr<Characteristic> characteristic(const Uuid& uuid) const;

 private:
  friend class CentralManager;
  const Uuid uuid_;
  const std::weak_ptr<Peripheral> peripheral_;
  mutable std::mutex mutex_;
  std::vector<std::shared_ptr<Characteristic>> characteristics_;
};

class PeripheralDelegate {
 public:
  virtual ~PeripheralDelegate() = default;
  virtual void didDiscoverServices(Peripheral&, const std::optional<Error>&) {}
  virtual void didDiscoverCharacteristicsForService(Peripheral&, Service&, const std::optional<Error>&) {}
  virtual void didUpdateNotificationStateForCharacteristic(Peripheral&, Characteristic&,
                                                           const std::optional<Error>&) {}
  virtual void didUpdateValueForCharacteristic(Peripheral&, Characteristic&, const std::optional<Error>&) {}
  virtual void didWriteValueForCharacteristic(Peripheral&, Characteristic&, const std::optional<Error>&) {}
};

class Peripheral : public std::enable_shared_from_this<Peripheral> {
 public:
  Peripheral(std::weak_ptr<CentralManager> central, Uuid identifier, std::string name);

  const Uuid& identifier() const { return identifier_; }
  std::string name() const;
  PeripheralState state() const { return state_.load(); }
  // The services found by the last discovery, in the peripheral's order; nothing before one
  // has finished.
  std::optional<std::vector<std::shared_ptr<Service>>> services() const;

  void setDelegate(std::weak_ptr<PeripheralDelegate> delegate);
  std::shared_ptr<PeripheralDelegate> delegate() const;

  void discoverServices(const std::vector<Uuid>& uuids);
  void discoverCharacteristics(const std::vector<Uuid>& uuids, const std::shared_ptr<Service>& service);
  void setNotifyValue(bool on, const std::shared_ptr<Characteristic>& characteristic);
  void readValue(const std::shared_ptr<Characteristic>& characteristic);
  // False when the write cannot go out (no link, a characteristic of no service of this
  // peripheral, or the radio refused it).
  bool writeValue(const Bytes& value, const std::shared_ptr<Characteristic>& characteristic, WriteType type);

 private:
  friend class CentralManager;
  std::shared_ptr<Radio> radio() const;

  const std::weak_ptr<CentralManager> central_;
  const Uuid identifier_;
  mutable std::mutex mutex_;
  std::string name_;
  std::atomic<PeripheralState> state_{PeripheralState::Disconnected};
  std::optional<std::vector<std::shared_ptr<Service>>> services_;
  std::weak_ptr<PeripheralDelegate> delegate_;
};

class CentralManagerDelegate {
 public:
  virtual ~CentralManagerDelegate() = default;
  virtual void centralManagerDidUpdateState(CentralManager&) {}
  virtual void didDiscoverPeripheral(CentralManager&, const std::shared_ptr<Peripheral>&, const Advertisement&) {}
  virtual void didConnectPeripheral(CentralManager&, const std::shared_ptr<Peripheral>&) {}
  virtual void didFailToConnectPeripheral(CentralManager&, const std::shared_ptr<Peripheral>&, const Error&) {}
  virtual void didDisconnectPeripheral(CentralManager&, const std::shared_ptr<Peripheral>&,
                                       const std::optional<Error>&) {}
};

class CentralManager : public std::enable_shared_from_this<CentralManager> {
 public:
  // `radio` nullptr: the default radio (Radio.h).
  static std::shared_ptr<CentralManager> create(std::weak_ptr<CentralManagerDelegate> delegate,
                                                std::string queueName, std::shared_ptr<Radio> radio = nullptr);
  ~CentralManager();

  CentralState state() const;
  const std::string& queueName() const { return queueName_; }

  void scanForPeripherals(const std::vector<Uuid>& services, bool allowDuplicates = false);
  void stopScan();
  bool isScanning() const { return scanning_.load(); }
  // The peripherals the radio knows under `identifiers` (unknown ones are left out).
  std::vector<std::shared_ptr<Peripheral>> retrievePeripherals(const std::vector<Uuid>& identifiers);
  void connectPeripheral(const std::shared_ptr<Peripheral>& peripheral);
  void cancelPeripheralConnection(const std::shared_ptr<Peripheral>& peripheral);

  const std::shared_ptr<Radio>& radio() const { return radio_; }
  // Blocks until every event queued so far has reached the delegates (tests). Never on the
  // central's own queue.
  void waitUntilIdle();

 private:
  class Listener;
  CentralManager(std::weak_ptr<CentralManagerDelegate> delegate, std::string queueName, std::shared_ptr<Radio> radio);
  std::shared_ptr<Peripheral> peripheralFor(const Uuid& identifier, const std::string& name);
  std::shared_ptr<Peripheral> existing(const Uuid& identifier) const;
  void onQueue(std::function<void()> block);

  // Event handlers, on the queue.
  void handleState(CentralState state);
  void handleDiscovered(const Advertisement& ad);
  void handleConnected(const Uuid& id);
  void handleConnectFailed(const Uuid& id, const Error& error);
  void handleDisconnected(const Uuid& id, const std::optional<Error>& error);
  void handleServices(const Uuid& id, const std::vector<Uuid>& services, const std::optional<Error>& error);
  void handleCharacteristics(const Uuid& id, const Uuid& service, const std::vector<Uuid>& chars,
                             const std::optional<Error>& error);
  void handleNotifyState(const Uuid& id, const Uuid& service, const Uuid& ch, bool on,
                         const std::optional<Error>& error);
  void handleValue(const Uuid& id, const Uuid& service, const Uuid& ch, const Bytes& value,
                   const std::optional<Error>& error);
  void handleWritten(const Uuid& id, const Uuid& service, const Uuid& ch, const std::optional<Error>& error);
  std::shared_ptr<Characteristic> find(const std::shared_ptr<Peripheral>& p, const Uuid& service, const Uuid& ch) const;

  const std::weak_ptr<CentralManagerDelegate> delegate_;
  const std::string queueName_;
  const std::shared_ptr<Radio> radio_;
  std::shared_ptr<Listener> listener_;
  std::unique_ptr<foundation::OperationQueue> queue_;
  std::atomic<bool> scanning_{false};
  std::atomic<CentralState> state_{CentralState::Unknown};
  mutable std::mutex mutex_;  // the peripherals and the scan's seen list
  std::map<Uuid, std::shared_ptr<Peripheral>> peripherals_;
  std::vector<Uuid> scanServices_;
  std::vector<Uuid> seen_;
  bool allowDuplicates_ = false;
};

}  // namespace bluetooth
