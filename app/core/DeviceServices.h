#pragma once
// What the application needs of the device SDK: the facade `OKTKXDevices` over the sleeve
// and the charging case, its delegate protocol `KXDeviceDelegate`, and the device-management
// agent `OKTVexa`. The application is written against these interfaces only; at start-up
// the program installs the implementation (the SDK's facade, or `FakeOKTKXDevices` in tests
// and demos) with `OKTKXDevices::setShared`.
//
// Threads: facade calls may be made from any thread. Delegate callbacks arrive on whatever
// thread the implementation delivers them on; the application delegate moves them to the
// main queue before it touches any state.

#include <cstdint>
#include <functional>
#include <memory>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>

#include "platform/foundation/Error.h"

namespace orvo {

// Connection states reported by `connstate` and `connectionState`.
enum ConnState : int { CONN_DISCONNECTED = 0, CONN_CONNECTING = 1, CONN_CONNECTED = 2 };

// The facade's delegate. Every method is optional: the defaults do nothing.
class KXDeviceDelegate {
 public:
  virtual ~KXDeviceDelegate() = default;
  virtual void connectionState(int /*state*/) {}
  virtual void deviceButtonPressed(int /*which*/) {}
  virtual void deviceButtonReleased(int /*which*/) {}
  virtual void barcodeData(const std::string& /*barcode*/, int /*type*/) {}
  virtual void magneticCardData(const std::optional<std::string>& /*track1*/,
                                const std::optional<std::string>& /*track2*/,
                                const std::optional<std::string>& /*track3*/) {}
};

class OKTKXDevices {
 public:
  virtual ~OKTKXDevices() = default;

  // The installed facade; a facade with no device ("No device connected") until one is set.
  static std::shared_ptr<OKTKXDevices> sharedDevice();
  // Installs the facade that `sharedDevice` returns from now on (nullptr: the empty one).
  static void setShared(std::shared_ptr<OKTKXDevices> facade);

  // Adds a delegate, held weakly and without duplicates.
  virtual void addDelegate(std::weak_ptr<KXDeviceDelegate> delegate) = 0;
  virtual void connect() = 0;
  virtual void disconnect() = 0;
  // 0 disconnected, 1 connecting, 2 connected.
  virtual int connstate() = 0;
  virtual bool setCharging(bool enabled, foundation::Error* error = nullptr) = 0;
  virtual bool setPassThroughSync(bool enabled, foundation::Error* error = nullptr) = 0;
  // 1: the scan button triggers the barcode engine; 0: it does not.
  virtual bool barcodeSetScanButtonMode(int mode, foundation::Error* error = nullptr) = 0;
  // `beepData` holds frequency (Hz) / duration (ms) pairs; `length` is its size in bytes.
  virtual bool barcodeSetScanBeep(bool enabled, int volume, const int32_t* beepData, int length,
                                  foundation::Error* error = nullptr) = 0;
  // A frequency of 0 is a pause.
  virtual bool playSound(int volume, const int32_t* beepData, int length,
                         foundation::Error* error = nullptr) = 0;
  virtual bool getBatteryCapacity(int* capacity, float* voltage,
                                  foundation::Error* error = nullptr) = 0;
  // The fields of a financial card ("cardholderName", "accountNumber", "expirationMonth",
  // "expirationYear"), or nothing when the tracks hold no financial card.
  virtual std::optional<nlohmann::json> msProcessFinancialCard(
      const std::optional<std::string>& track1, const std::optional<std::string>& track2) = 0;
};

// The device-management agent.
class OKTVexa {
 public:
  // Creates and starts the agent once; later calls do nothing more.
  static void registerOKTVexa();
  // What `registerOKTVexa` runs (the SDK's agent start, or a test's counter).
  static void setRegistrar(std::function<void()> registrar);
};

}  // namespace orvo
