#pragma once
// An in-process radio with simulated peripherals, for tests and the demo. Peripherals
// advertise a name and services, accept links, expose services with characteristics, take
// writes with and without response, notify values, and drop their link when told.
//
// Knobs on a peripheral (set before the host acts; any thread):
// - `connectable` false: a connect is never answered (the host's own time-out ends it);
//   `connectError`: a connect fails with that error;
// - `notifyErrors`: enabling notifications on a characteristic fails with that error (a
//   refused pairing, for instance); `silentNotify`: such a request is never answered;
// - `setRefuseWrites`: writes cannot be queued (the host's write fails at once);
// - `onWrite`: called with every write (on the radio's thread); `writes()` records them;
// - `setValue` / `notify`: a characteristic's value, read by the host or pushed to it;
// - `drop()`: the link is lost (the host sees a disconnect with an error).
//
// Threads: every call may come from any thread. Events reach the listeners on the radio's
// own thread, in order. `onWrite` runs on that thread too; it may call `notify`.

#include <functional>
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

class SimulatedRadio;

class SimulatedPeripheral : public std::enable_shared_from_this<SimulatedPeripheral> {
 public:
  struct Write {
    Uuid characteristic;
    Bytes value;
    bool withResponse;
  };

  SimulatedPeripheral(std::string name, std::vector<Uuid> advertisedServices,
                      Uuid identifier = Uuid::random());

  const Uuid& identifier() const { return identifier_; }
  std::string name() const;
  std::vector<Uuid> advertisedServices() const;

  // A service with characteristics, in the order given (services keep the order added).
  void addService(const Uuid& service, const std::vector<Uuid>& characteristics);

  // ---- Knobs ----
  void setConnectable(bool on);
  void setConnectError(std::optional<Error> error);
  void setNotifyError(const Uuid& characteristic, std::optional<Error> error);
  void setSilentNotify(const Uuid& characteristic, bool on);
  void setOnWrite(std::function<void(const Uuid& characteristic, const Bytes& value, bool withResponse)> f);
  // Writes are refused (the radio cannot queue them) while the link stays up.
  void setRefuseWrites(bool on);

  // ---- Acting as the device ----
  // Sets the value the host reads.
  void setValue(const Uuid& characteristic, const Bytes& value);
  Bytes value(const Uuid& characteristic) const;
  // Sets the value and, when the host subscribed, pushes it. False when nobody subscribed.
  bool notify(const Uuid& characteristic, const Bytes& value);
  // Loses the link.
  void drop();

  // ---- What the host did ----
  bool connected() const;
  bool notifying(const Uuid& characteristic) const;
  std::vector<Write> writes() const;
  void clearWrites();
  int connects() const;

 private:
  friend class SimulatedRadio;
  struct Chr {
    Uuid uuid;
    Bytes value;
    bool notifying = false;
    std::optional<Error> notifyError;
    bool silentNotify = false;
  };
  struct Svc {
    Uuid uuid;
    std::vector<Chr> chars;
  };
  Chr* findChr(const Uuid& ch);
  Chr* findChr(const Uuid& service, const Uuid& ch);
  std::optional<Uuid> serviceOf(const Uuid& ch) const;

  const Uuid identifier_;
  mutable std::mutex mutex_;
  std::string name_;
  std::vector<Uuid> advertised_;
  std::vector<Svc> services_;
  bool connectable_ = true;
  bool refuseWrites_ = false;
  std::optional<Error> connectError_;
  bool connected_ = false;
  int connects_ = 0;
  std::vector<Write> writes_;
  std::function<void(const Uuid&, const Bytes&, bool)> onWrite_;
  std::weak_ptr<SimulatedRadio> radio_;
};

class SimulatedRadio : public Radio, public std::enable_shared_from_this<SimulatedRadio> {
 public:
  static std::shared_ptr<SimulatedRadio> create(CentralState state = CentralState::PoweredOn);
  ~SimulatedRadio() override;

  // The peripheral is in range from now on (and advertises while a scan runs).
  void add(const std::shared_ptr<SimulatedPeripheral>& peripheral);
  // Out of range: a link it had is lost.
  void remove(const std::shared_ptr<SimulatedPeripheral>& peripheral);
  // Powering off loses every link.
  void setState(CentralState state);
  bool scanning() const;
  // Real-time bounded wait until every event so far has reached the listeners (tests).
  void waitIdle();

  CentralState state() const override;
  void startScan(const std::vector<Uuid>& services) override;
  void stopScan() override;
  std::optional<Advertisement> knownPeripheral(const Uuid& identifier) override;
  void connect(const Uuid& peripheral) override;
  void cancelConnection(const Uuid& peripheral) override;
  void discoverServices(const Uuid& peripheral, const std::vector<Uuid>& filter) override;
  void discoverCharacteristics(const Uuid& peripheral, const Uuid& service, const std::vector<Uuid>& filter) override;
  void setNotify(const Uuid& peripheral, const Uuid& service, const Uuid& characteristic, bool on) override;
  void readValue(const Uuid& peripheral, const Uuid& service, const Uuid& characteristic) override;
  bool writeValue(const Uuid& peripheral, const Uuid& service, const Uuid& characteristic, const Bytes& value,
                  bool withResponse) override;

 private:
  friend class SimulatedPeripheral;
  SimulatedRadio(CentralState state);
  std::shared_ptr<SimulatedPeripheral> find(const Uuid& id) const;
  // Runs `f` on the radio's thread with every live listener.
  void emit(std::function<void(RadioListener&)> f);
  void advertise(const std::shared_ptr<SimulatedPeripheral>& p);
  void lose(const std::shared_ptr<SimulatedPeripheral>& p, const Error& error);

  std::unique_ptr<foundation::OperationQueue> queue_;
  mutable std::mutex mutex_;
  CentralState state_;
  bool scanning_ = false;
  std::vector<Uuid> scanServices_;
  std::map<Uuid, std::shared_ptr<SimulatedPeripheral>> peripherals_;
};

}  // namespace bluetooth
