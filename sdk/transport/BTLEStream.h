#pragma once
// BTLEStream: a Bluetooth Low Energy peripheral of the SDK's device families as one byte
// stream. The device API owns one; it scans with it for peripherals that advertise a
// supported service, connects one (link, characteristic discovery, the power-on handshake
// and pairing), and hands its two faces (`inputStream`, `outputStream`) to a driver's
// stream-pair wrapper. Bytes the peripheral notifies on its data-in characteristic are
// buffered and announced to the input face's delegate; bytes written go to the data-out
// characteristic in 20-byte pieces. Link changes go to the control delegate (`BTLEDelegate`).
//
// The faces deliver their own events (they are never scheduled on a run loop): received
// data and the end of the link are reported from the stream's Bluetooth queue
// ("com.sabrel.btleQueue"), the open event from the thread that opens a face.
//
// Writes: a write fails at once when the stream is not open or no peripheral is held; a
// piece the radio refuses, or a write with response the peripheral answers with an error,
// is kept as the sender's error, reported as an error event, and fails the next write.
//
// Discovery and connect block their caller while they wait (4 s, and up to 10 + 22 + 40 s
// for the phases of a connect), on the `Clock`; on the main thread the discovery and pairing
// waits run the main run loop meanwhile. Any thread but the stream's queue.

#include <sys/types.h>

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <semaphore>
#include <vector>

#include "platform/accessory/Stream.h"
#include "platform/bluetooth/Central.h"
#include "platform/foundation/Error.h"
#include "sdk/transport/BTStreamCore.h"

namespace kestra {

using foundation::Bytes;
using foundation::Error;

class BTLEDelegate {
 public:
  virtual ~BTLEDelegate() = default;
  virtual void btleDeviceConnected(const std::shared_ptr<bluetooth::Peripheral>& peripheral) = 0;
  virtual void btleDeviceDisconnected(const std::shared_ptr<bluetooth::Peripheral>& peripheral) = 0;
};

class BTLEStream : public bluetooth::CentralManagerDelegate,
                   public bluetooth::PeripheralDelegate,
                   public std::enable_shared_from_this<BTLEStream> {
 public:
  // The characteristics of a supported peripheral.
  static const bluetooth::Uuid& kDataIn();
  static const bluetooth::Uuid& kDataOut();
  static const bluetooth::Uuid& kCheckOn();
  static const bluetooth::Uuid& kPowerOn();
  // Every service a discovery with `types` scans for, in order (bit 2, bit 1, always).
  static std::vector<bluetooth::Uuid> serviceUUIDsForTypes(int types);

  static constexpr size_t kPieceSize = 20;
  static constexpr size_t kResponseEvery = 27;
  static constexpr foundation::Duration kPowerOnWait = std::chrono::milliseconds(5000);
  static constexpr foundation::Duration kScanTime = std::chrono::milliseconds(4000);
  static constexpr foundation::Duration kLinkTimeout = std::chrono::milliseconds(10000);
  static constexpr foundation::Duration kPowerOnTimeout = std::chrono::milliseconds(22000);
  static constexpr foundation::Duration kPairingTimeout = std::chrono::milliseconds(40000);
  static constexpr foundation::Duration kSettle = std::chrono::milliseconds(1000);
  static constexpr foundation::Duration kRetryPause = std::chrono::milliseconds(1000);

  // `radio` nullptr: the default radio.
  static std::shared_ptr<BTLEStream> create(std::shared_ptr<bluetooth::Radio> radio = nullptr);
  ~BTLEStream() override;

  // The central, made on first use (then waits up to 5 s for the radio to power on).
  std::shared_ptr<bluetooth::CentralManager> manager();

  // ---- Discovery and connect ----
  std::optional<std::vector<std::shared_ptr<bluetooth::Peripheral>>> discoverSupportedDevices(
      int types, bool stopOnFound, Error* error = nullptr);
  void discoverStop();
  std::shared_ptr<bluetooth::Peripheral> btleGetKnownDeviceWithUUID(const bluetooth::Uuid& identifier,
                                                                   Error* error = nullptr);
  bool connectToDevice(const std::shared_ptr<bluetooth::Peripheral>& peripheral, Error* error = nullptr);
  std::shared_ptr<bluetooth::Peripheral> peripheral() const;

  // ---- Stream ----
  void open();
  void close();
  accessory::StreamStatus streamStatus() const { return status_.load(); }
  size_t read(uint8_t* buffer, size_t maxLength);
  Bytes buffer() const { return core_.held(); }
  bool hasBytesAvailable() const { return core_.heldLength() > 0; }
  // `length` when taken, -1 on failure.
  ssize_t write(const uint8_t* data, size_t length);
  bool btWrite(const uint8_t* data, int length, Error* error = nullptr);
  void flush() { core_.flush(); }
  void clear() { core_.clear(); }
  bool setDataNotificationMaxTime(double maxTime, int maxLength, std::optional<Bytes> sequenceData,
                                  Error* error = nullptr);
  void streamNotify() { core_.notify(); }
  BTStreamCore& core() { return core_; }

  std::shared_ptr<accessory::InputStream> inputStream() const;
  std::shared_ptr<accessory::OutputStream> outputStream() const;
  void setControlDelegate(std::weak_ptr<BTLEDelegate> delegate);

  // ---- Central and peripheral callbacks (the stream's queue) ----
  void centralManagerDidUpdateState(bluetooth::CentralManager&) override;
  void didDiscoverPeripheral(bluetooth::CentralManager&, const std::shared_ptr<bluetooth::Peripheral>&,
                             const bluetooth::Advertisement&) override;
  void didConnectPeripheral(bluetooth::CentralManager&, const std::shared_ptr<bluetooth::Peripheral>&) override;
  void didFailToConnectPeripheral(bluetooth::CentralManager&, const std::shared_ptr<bluetooth::Peripheral>&,
                                  const Error&) override;
  void didDisconnectPeripheral(bluetooth::CentralManager&, const std::shared_ptr<bluetooth::Peripheral>&,
                               const std::optional<Error>&) override;
  void didDiscoverServices(bluetooth::Peripheral&, const std::optional<Error>&) override;
  void didDiscoverCharacteristicsForService(bluetooth::Peripheral&, bluetooth::Service&,
                                            const std::optional<Error>&) override;
  void didUpdateNotificationStateForCharacteristic(bluetooth::Peripheral&, bluetooth::Characteristic&,
                                                   const std::optional<Error>&) override;
  void didUpdateValueForCharacteristic(bluetooth::Peripheral&, bluetooth::Characteristic&,
                                       const std::optional<Error>&) override;
  void didWriteValueForCharacteristic(bluetooth::Peripheral&, bluetooth::Characteristic&,
                                      const std::optional<Error>&) override;

 private:
  template <class Base>
  class Face;  // what the two faces share
  class InputFace;
  class OutputFace;
  explicit BTLEStream(std::shared_ptr<bluetooth::Radio> radio);
  bool connectOnce(const std::shared_ptr<bluetooth::Peripheral>& peripheral, Error* error);
  // Waits on the `Clock` until `pred` holds (true) or `timeout` passed (false).
  template <class Pred>
  bool waitFor(foundation::Duration timeout, Pred pred);
  // As `waitFor`, but on the main thread it runs the main run loop meanwhile (in steps of at
  // most 0.1 s), so that the main queue's work goes on while a discovery or a pairing waits.
  template <class Pred>
  bool waitRunningMainLoop(foundation::Duration timeout, Pred pred);
  void sleepFor(foundation::Duration d);
  void wake();
  void sendPieces(std::shared_ptr<bluetooth::Peripheral> p, std::shared_ptr<bluetooth::Characteristic> out,
                  Bytes bytes);
  void forget();

  const std::shared_ptr<bluetooth::Radio> radio_;
  std::shared_ptr<bluetooth::CentralManager> manager_;
  std::mutex managerMutex_;

  BTStreamCore core_;
  std::shared_ptr<InputFace> input_;
  std::shared_ptr<OutputFace> output_;
  std::atomic<accessory::StreamStatus> status_{accessory::StreamStatus::NotOpen};
  std::binary_semaphore writeLock_{1};

  mutable std::mutex mutex_;  // everything below
  std::condition_variable cv_;
  std::weak_ptr<BTLEDelegate> controlDelegate_;
  bool btReady_ = false;
  bool btScanInProcess_ = false;
  std::vector<bluetooth::Uuid> serviceUUIDs_;
  std::vector<std::shared_ptr<bluetooth::Peripheral>> btleDevices_;
  std::shared_ptr<bluetooth::Peripheral> peripheral_;
  bool btServicesDiscovered_ = false;
  bool btPairingComplete_ = false;
  bool btPairingError_ = false;
  std::optional<Error> btConnectionError_;
  std::optional<Error> senderError_;
  std::shared_ptr<bluetooth::Characteristic> fromPeripheral_, toPeripheral_, checkOn_, powerOn_;
  uint64_t generation_ = 0;  // bumped by every wake-worthy change
  std::atomic<bool> mainLoopWaiting_{false};
};

}  // namespace kestra
