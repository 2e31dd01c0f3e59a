#pragma once
// The radio of a Linux machine: BlueZ over D-Bus (org.bluez, the first adapter it offers).
//
// Peripherals are BlueZ devices; a device's identifier is made from its address
// ("00000000-0000-0000-0000-AABBCCDDEEFF"), so it is stable across runs. Scans set a
// discovery filter for the services and the LE transport, then start discovery; devices
// already known and devices that appear are reported when their advertised services match
// (a device whose advertisement carries no service list is reported too: BlueZ filtered it
// already). Connecting calls Device1.Connect; services are listed once BlueZ has resolved
// them (ServicesResolved); characteristics, reads, writes (type "request" or "command") and
// notifications go through GattCharacteristic1, values arriving as PropertiesChanged
// "Value". Pairing is left to BlueZ's agent: a characteristic that needs it fails until the
// device is paired.
//
// One thread of its own owns the bus connection: it runs every call in order and reads
// the bus's signals between them; events reach the listeners on it. `busAddress` empty: the
// system bus; otherwise that bus (tests use a private bus with a mock BlueZ).

#include <atomic>
#include <condition_variable>
#include <deque>
#include <functional>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>

#include "platform/bluetooth/Radio.h"

namespace bluetooth {

class BlueZRadio : public Radio, public std::enable_shared_from_this<BlueZRadio> {
 public:
  static std::shared_ptr<BlueZRadio> create(std::string busAddress = {});
  ~BlueZRadio() override;

  // Real-time bounded wait until every call made so far has run (tests).
  bool waitIdle(std::chrono::milliseconds timeout = std::chrono::milliseconds(10000));
  // The identifier of the device with `address` ("AA:BB:CC:DD:EE:FF").
  static Uuid identifierForAddress(const std::string& address);

  CentralState state() const override { return state_.load(); }
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

  struct Impl;

 private:
  explicit BlueZRadio(std::string busAddress);
  void post(std::function<void(Impl&)> job);
  void threadMain();

  const std::string busAddress_;
  std::atomic<CentralState> state_{CentralState::Unknown};
  std::unique_ptr<Impl> impl_;
  std::mutex mutex_;
  std::condition_variable cv_;
  std::deque<std::function<void(Impl&)>> jobs_;
  int running_ = 0;
  bool stop_ = false;
  std::thread thread_;
};

}  // namespace bluetooth
