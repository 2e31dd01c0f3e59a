#pragma once
// The serial adapter (`CarvikStream`): a small accessory module with an RS-232 port (model
// "R") or a Bluetooth radio (model "B"), whose data path it shows as a byte stream.
//
// It speaks the sleeve's framed command protocol (00, length u16 big-endian, command,
// direction 01 to the adapter / 02 from it, message id, data; 512 bytes a frame at most)
// on channel 0 of its accessory stream. Replies carry a status and a code byte before the
// answer. The adapter sends serial data in (command 6) and Bluetooth events (command 30)
// on its own. The accessory is one named "Carvik..." that offers
// "com.sabrel.carvik.communication" (on a real machine a USB serial device listed in the
// serial accessory configuration); the hub manager takes every other accessory with that
// protocol string.
//
// Threads: commands run on the caller's thread, one at a time (30 s for the command lock,
// 3 s for a reply, both on the `Clock`); never call them from the common run-loop thread,
// which parses the replies and events. Stream events reach the stream delegate on the
// run-loop thread; discovery results reach the control delegate on the main queue.
//
// Bad input: a packet from the wrong direction drops what is held; a frame whose length can
// never fit is skipped to the next 00 byte; a reply longer than 512 bytes fails the waiting
// command; Bluetooth addresses must be exactly 12 hexadecimal digits.

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sdk/transport/bluetooth/btUniversal.h"
#include "platform/foundation/Bytes.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Error.h"
#include "sdk/transport/EAManager.h"

namespace kestra {

using foundation::Bytes;
using foundation::Error;

inline constexpr const char* kCarvikAccessoryName = "Carvik";

// Stream events, as the platform's streams number them.
enum CarvikStreamEvent { kStreamOpenCompleted = 1, kStreamHasBytesAvailable = 2, kStreamEndEncountered = 16 };

class CarvikStreamDelegate {
 public:
  virtual ~CarvikStreamDelegate() = default;
  virtual void handleEvent(int event) = 0;
};

class CarvikControlDelegate {
 public:
  virtual ~CarvikControlDelegate() = default;
  virtual void carvikConnected() {}
  virtual void carvikDisconnected() {}
  virtual void bluetoothDeviceDiscovered(const std::string& /*address*/, const std::string& /*name*/) {}
  virtual void bluetoothDiscoverComplete(bool /*success*/) {}
  virtual void bluetoothDeviceDisconnected() {}
  virtual void firmwareUpdateProgress(int /*phase*/, int /*percent*/) {}
};

class CarvikStream final : public AccessoryManagerDelegate, public std::enable_shared_from_this<CarvikStream> {
 public:
  static constexpr int kMaxFrame = 512;
  static constexpr int kHeader = 6;
  static constexpr foundation::Duration kCommandLockTimeout = std::chrono::seconds(30);
  static constexpr foundation::Duration kReplyTimeout = std::chrono::seconds(3);
  static constexpr foundation::Duration kFullPause = std::chrono::milliseconds(100);
  static constexpr int kSerialChunk = 128;
  // Received bytes not yet read are kept up to this many; beyond it the oldest are dropped.
  static constexpr size_t kMaxUnread = 65536;
  static constexpr int kBluetoothChunk = 240;
  static constexpr foundation::Duration kRadioOnTimeout = std::chrono::seconds(5);
  static constexpr foundation::Duration kConnectTimeout = std::chrono::seconds(15);
  static constexpr foundation::Duration kBluetoothWriteTimeout = std::chrono::seconds(5);
  // A serial write whose bytes the adapter keeps refusing fails after this long.
  static constexpr foundation::Duration kSerialWriteTimeout = std::chrono::seconds(5);
  enum Command { kCmdSerialSettings = 3, kCmdSerialOut = 5, kCmdSerialIn = 6, kCmdBluetooth = 29, kCmdBluetoothEvent = 30 };

  static std::shared_ptr<CarvikStream> create() { return std::shared_ptr<CarvikStream>(new CarvikStream()); }

  void setDelegate(std::weak_ptr<CarvikStreamDelegate> d);
  void setControlDelegate(std::weak_ptr<CarvikControlDelegate> d);

  // Accessory contract.
  std::optional<std::vector<std::string>> accessoryShouldConnect(const std::string& name,
                                                                 std::vector<std::string> channels) override;
  void accessoryConnected(const std::shared_ptr<EAStream>& stream) override;
  int accessoryData(int channel, const uint8_t* buffer, int length) override;
  void accessoryDisconnected(const std::shared_ptr<EAStream>& stream) override;

  // One command: the reply data (status and code bytes first), or nothing with the error.
  std::optional<Bytes> sendCommand(int channel, int command, const Bytes& data, Error* error = nullptr);

  // Stream face.
  int streamStatus() const { return streamStatus_.load(); }
  void open();
  void close();
  int read(uint8_t* buffer, int maxLength);
  bool hasBytesAvailable() const;
  int write(const uint8_t* data, int length);
  void clear();
  void disconnect();

  // Serial port.
  bool serialSetSettings(int baud, int parity, int dataBits, int stopBits, int flowControl, Error* error = nullptr);
  bool applySerialSettings(Error* error = nullptr);
  bool serialConnect(Error* error = nullptr);
  bool btWrite(const uint8_t* data, int length, Error* error = nullptr);

  int getSupportedFeature(int feature, Error* error = nullptr) const;
  bool connected() const { return connected_.load(); }
  bool serialSupported() const { return serialSupported_.load(); }
  bool bluetoothSupported() const { return bluetoothSupported_.load(); }
  bool serialEnabled() const { return serialEnabled_.load(); }
  bool btEnabled() const { return btEnabled_.load(); }
  bool btDataMode() const { return btDataMode_.load(); }
  bool btDiscoverInProgress() const { return btDiscoverInProgress_.load(); }
  std::vector<std::string> btConnectedDevices() const;
  // The devices the last discovery found (addresses and names in the same order).
  std::vector<std::string> btDeviceAddresses() const;
  std::vector<std::string> btDeviceNames() const;
  std::string deviceName() const;
  std::string deviceModel() const;
  std::string firmwareRevision() const;
  std::string hardwareRevision() const;
  std::string serialNumber() const;
  std::atomic<int> discoverFilter{0};

  // Bluetooth (CarvikBluetooth.cpp).
  bool btUniSetEnabled(bool on, Error* error = nullptr);
  bool btUniGetEnabled(bool* on, Error* error = nullptr);
  std::optional<std::string> btUniGetLocalName(Error* error = nullptr);
  bool btUniSetLocalName(const std::string& name, Error* error = nullptr);
  bool btUniSetPIN(const std::string& pin, Error* error = nullptr);
  std::optional<std::string> btUniGetLocalAddress(Error* error = nullptr);
  bool btUniSetDiscoverable(bool on, Error* error = nullptr);
  bool btUniDiscoverDevices(int maxDevices, double maxTimeSeconds, int codTypes, Error* error = nullptr);
  bool btUniConnect(const std::string& address, const std::string& pin, Error* error = nullptr);
  bool btUniDisconnect(Error* error = nullptr);
  bool btUniSetDataMode(bool on, Error* error = nullptr);
  bool btUniWrite(const uint8_t* data, int length, Error* error = nullptr);
  // Firmware (CarvikFirmware.cpp).
  static constexpr int kFirmwareMinSize = 512;
  static constexpr int kFirmwarePage = 128;
  static constexpr foundation::Duration kFirmwareAttemptPause = std::chrono::milliseconds(1500);
  struct FirmwareInfo {
    std::string deviceModel, deviceName, firmwareRevision;  // revision "major.minor.0"
    int firmwareRevisionNumber = 0;                          // major * 100 + minor
  };
  // -21 for a short file or one whose CRC-16 does not check.
  std::optional<FirmwareInfo> getFirmwareFileInformation(const Bytes& file, Error* error = nullptr) const;
  // Checks the adapter's revision (1.24.0 or later) and that the file is made for this
  // adapter before any firmware command goes out; progress to the control delegate.
  bool updateFirmwareData(const Bytes& file, Error* error = nullptr);
  bool firmwareUpdate() const { return firmwareUpdate_.load(); }

  // Run-loop thread: one Bluetooth event (the data after the status and code bytes).
  void processBTEvents(const uint8_t* data, int length);

 private:
  CarvikStream() = default;
  void notify(int event);
  void appendStreamData(const uint8_t* data, int length);
  bool dataPathOpen() const;
  std::shared_ptr<CarvikControlDelegate> control() const;
  void discoverFinish(std::optional<Error> error);
  bool btCommand(uint8_t sub, const Bytes& data, Error* error, Bytes* reply = nullptr);
  // Waits `timeout` of the clock for `pred`, re-checked when an event arrives.
  template <class Pred>
  bool waitEvent(foundation::Duration timeout, Pred pred);

  mutable std::mutex mutex_;  // guards identity, delegates, the stream buffer and connected devices
  std::weak_ptr<CarvikStreamDelegate> delegate_;
  std::weak_ptr<CarvikControlDelegate> control_;
  std::shared_ptr<EAStream> eaStream_;
  std::string deviceName_, deviceModel_, firmwareRevision_, hardwareRevision_, serialNumber_;
  Bytes streamData_;
  // The radio's found and connected devices, kept by the Bluetooth module base; the radio's
  // events are read by its event parser.
  std::shared_ptr<btUniversal> module_ = btUniversal::create();

  std::mutex cmdMutex_;  // the command state below
  std::condition_variable cmdCv_;
  bool cmdBusy_ = false;
  bool replyReady_ = false, replyLost_ = false;
  Bytes reply_;
  uint8_t messageId_ = 0;

  std::mutex eventMutex_;
  std::condition_variable eventCv_;

  std::atomic<int> streamStatus_{0};
  std::atomic<bool> connected_{false}, serialSupported_{false}, bluetoothSupported_{false};
  std::atomic<bool> serialEnabled_{false}, btEnabled_{false}, btDataMode_{false};
  std::atomic<bool> firmwareUpdate_{false};
  std::atomic<bool> btInitResult_{false}, btDiscoverInProgress_{false};
  std::atomic<int> btConnectResult_{-1};
  std::atomic<int> baudRate_{115200}, parity_{0}, dataBits_{0}, stopBits_{0}, flowControl_{0};
};

}  // namespace kestra
