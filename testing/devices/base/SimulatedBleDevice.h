#pragma once
// A device of the SDK's families behind a simulated Bluetooth Low Energy radio: one service
// with the four characteristics the SDK's Bluetooth Low Energy stream looks for (data in,
// data out, power status and power on). The device is off ("0" on the power-status
// characteristic) until the host writes its name to the power-on characteristic, then on
// ("1"); `startOn` skips the handshake. Bytes the host writes to data out go to `onReceive`
// (on the radio's thread, in order); `send` notifies bytes on data in, 20 at a time.
//
// Knobs beyond the peripheral's own (`peripheral()`): `refusePairing` fails the host's
// subscription to data in, as a user who refuses pairing does; `withoutPowerOn` leaves the
// power characteristics out.
//
// Threads: any thread; `onReceive` runs on the radio's thread.

#include <functional>
#include <memory>
#include <mutex>
#include <string>

#include "platform/bluetooth/SimulatedRadio.h"

namespace devices {

class SimulatedBleDevice {
 public:
  struct Options {
    std::string name = "Pellan BLE";
    std::string service = "227DAF10-3127-402A-9907-0485AF3468CE";
    bool startOn = false;
    bool withoutPowerOn = false;
    bool refusePairing = false;
  };

  SimulatedBleDevice(std::shared_ptr<bluetooth::SimulatedRadio> radio, Options options);
  virtual ~SimulatedBleDevice();

  const std::shared_ptr<bluetooth::SimulatedPeripheral>& peripheral() const { return peripheral_; }
  // Device -> host on data in. False when the host has not subscribed.
  bool send(const foundation::Bytes& bytes);
  // Every byte the host wrote to data out, in order.
  foundation::Bytes received() const;
  // The names written to the power-on characteristic.
  int powerOnWrites() const;
  // Takes the device out of range and waits until the radio delivered what it had queued. A
  // subclass whose `onReceive` uses its own members calls it in its destructor.
  void shutdown();

 protected:
  // Radio thread: bytes the host wrote to data out.
  virtual void onReceive(const foundation::Bytes& bytes);

 private:
  std::shared_ptr<bluetooth::SimulatedRadio> radio_;
  std::shared_ptr<bluetooth::SimulatedPeripheral> peripheral_;
  mutable std::mutex mutex_;
  foundation::Bytes received_;
  int powerOnWrites_ = 0;
};

}  // namespace devices
