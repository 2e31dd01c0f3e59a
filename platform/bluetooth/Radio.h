#pragma once
// The back end of the Bluetooth Low Energy central (Central.h): what a radio does and what it
// reports. Two back ends exist: `SimulatedRadio` (in-process peripherals, for tests and the
// demo) and `BlueZRadio` (BlueZ over D-Bus on a Linux machine).
//
// Peripherals, services and characteristics are named by UUID: a peripheral by its
// identifier (stable for as long as the radio knows it), a service by its UUID within the
// peripheral, a characteristic by its UUID within the service.
//
// Calls may come from any thread and never block on the air: results come back as events
// to every listener, on the radio's own thread, in the order the radio saw them. A call about
// a peripheral the radio does not know (or one that is not connected, where that matters)
// is answered by the matching failure event, never by a crash.

#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/bluetooth/BluetoothUuid.h"
#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"

namespace bluetooth {

using foundation::Bytes;
using foundation::Error;

// The central's power state, with the platform's values.
enum class CentralState : int {
  Unknown = 0,
  Resetting = 1,
  Unsupported = 2,
  Unauthorized = 3,
  PoweredOff = 4,
  PoweredOn = 5,
};

// What a scan saw of a peripheral.
struct Advertisement {
  Uuid identifier;
  std::string name;  // empty when it has none
  std::vector<Uuid> services;
  int rssi = -60;
};

// The error domain of radio failures.
inline constexpr const char* kBluetoothErrorDomain = "CBErrorDomain";

class RadioListener {
 public:
  virtual ~RadioListener() = default;
  virtual void radioStateChanged(CentralState state) = 0;
  virtual void radioDiscovered(const Advertisement& advertisement) = 0;
  virtual void radioConnected(const Uuid& peripheral) = 0;
  virtual void radioConnectFailed(const Uuid& peripheral, const Error& error) = 0;
  virtual void radioDisconnected(const Uuid& peripheral, const std::optional<Error>& error) = 0;
  virtual void radioServicesDiscovered(const Uuid& peripheral, const std::vector<Uuid>& services,
                                       const std::optional<Error>& error) = 0;
  virtual void radioCharacteristicsDiscovered(const Uuid& peripheral, const Uuid& service,
                                              const std::vector<Uuid>& characteristics,
                                              const std::optional<Error>& error) = 0;
  virtual void radioNotifyStateChanged(const Uuid& peripheral, const Uuid& service, const Uuid& characteristic,
                                       bool notifying, const std::optional<Error>& error) = 0;
  virtual void radioValueUpdated(const Uuid& peripheral, const Uuid& service, const Uuid& characteristic,
                                 const Bytes& value, const std::optional<Error>& error) = 0;
  virtual void radioValueWritten(const Uuid& peripheral, const Uuid& service, const Uuid& characteristic,
                                 const std::optional<Error>& error) = 0;
};

class Radio {
 public:
  virtual ~Radio() = default;

  // Listeners are held weakly; one that has gone is skipped.
  void addListener(std::weak_ptr<RadioListener> listener);

  virtual CentralState state() const = 0;
  // Reports every peripheral seen that advertises one of `services` (all with none), each
  // once per scan.
  virtual void startScan(const std::vector<Uuid>& services) = 0;
  virtual void stopScan() = 0;
  // What the radio knows of `identifier` (seen before or paired), or nothing.
  virtual std::optional<Advertisement> knownPeripheral(const Uuid& identifier) = 0;
  virtual void connect(const Uuid& peripheral) = 0;
  virtual void cancelConnection(const Uuid& peripheral) = 0;
  // `filter` empty: every service (characteristic).
  virtual void discoverServices(const Uuid& peripheral, const std::vector<Uuid>& filter) = 0;
  virtual void discoverCharacteristics(const Uuid& peripheral, const Uuid& service,
                                       const std::vector<Uuid>& filter) = 0;
  virtual void setNotify(const Uuid& peripheral, const Uuid& service, const Uuid& characteristic, bool on) = 0;
  virtual void readValue(const Uuid& peripheral, const Uuid& service, const Uuid& characteristic) = 0;
  // False when the write cannot be queued at all (no such link or characteristic). A write
  // with response is answered by `radioValueWritten`; one without response is not.
  virtual bool writeValue(const Uuid& peripheral, const Uuid& service, const Uuid& characteristic,
                          const Bytes& value, bool withResponse) = 0;

 protected:
  // The live listeners, in the order they were added.
  std::vector<std::shared_ptr<RadioListener>> listeners() const;

 private:
  mutable std::mutex listenersMutex_;
  mutable std::vector<std::weak_ptr<RadioListener>> listeners_;
};

// The radio that centrals made without one of their own use: the one installed here, else
// BlueZ on the system bus (made on first use).
std::shared_ptr<Radio> defaultRadio();
// Installs `radio` as the default (nullptr: back to BlueZ). Centrals made before keep theirs.
void setDefaultRadio(std::shared_ptr<Radio> radio);

}  // namespace bluetooth
