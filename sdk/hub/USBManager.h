#pragma once
// The driver of the USB/serial hub accessory, and the accessory manager of its ports.
//
// `USBManager` claims the hub's accessory ("com.sabrel.carvik.communication"), frames
// commands to the hub and to single ports (HubFrame.h), and splits the hub's bytes into
// command replies and port events. At connection it scans the ports (up to ten), makes one
// `USBStream` and one port device per port (HubPort.h), and offers every attached port to
// the registered port-device drivers through the ordinary accessory contract
// (`AccessoryManagerDelegate`), with the port's `USBStream` standing in for a session: the
// first driver, in registration order, that accepts the port takes it. A port no driver takes
// is announced to the control delegate as a generic hub device.
//
// Threads: commands run on the caller's thread and are serialised (the command lock, 30 s
// of the `Clock`); replies and port events arrive on the common run-loop thread; port
// dispatch runs on the global queue; removals and generic-device announcements reach their
// receivers on the main queue. Never send a command from the run-loop thread: only it can
// deliver the reply.
//
// Bad input: a frame with an impossible length is skipped up to the next marker; a reply
// too large for the reply buffer is dropped (the waiting command fails with -6 "Command
// response lost"); events for ports beyond the tenth are dropped; bytes for a port whose
// receive buffer is full are dropped and logged. An attach or remove event that arrives
// while the connection's port scan is still running is kept and applied to the port when the
// scan ends, so a device plugged in at that moment is still offered to the drivers.
//
// Lifetime: shared; `sharedManager()` is the process-wide one, `create()` makes one for a
// test. Streams and port devices live until the next hub connection replaces them.

#include <array>
#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Error.h"
#include "sdk/hub/TrelmoRecords.h"
#include "sdk/transport/EAManager.h"

namespace kestra {

using foundation::Bytes;
using foundation::Error;

class USBStream;
class TrelmoDevice;

inline constexpr const char* kHubProtocol = "com.sabrel.carvik.communication";

// The device API's side of the hub: connection of the hub and of ports no driver took.
class HubControlDelegate {
 public:
  virtual ~HubControlDelegate() = default;
  virtual void TrelmoConnected() {}
  virtual void TrelmoDisconnected() {}
  virtual void TrelmoDeviceConnected(const std::shared_ptr<TrelmoDevice>& /*device*/) {}
  virtual void TrelmoDeviceDisconnected(const std::shared_ptr<TrelmoDevice>& /*device*/) {}
  // A hub firmware update's progress, on the updating thread: phase 0 an attempt begins, 1
  // before its start command, 2 writing (percent of the file), 3 finished.
  virtual void firmwareUpdateProgress(int /*phase*/, int /*percent*/) {}
};

// A port's configuration text "name|COMM/SETTINGS|proto1,proto2", split.
struct HubPortConfig {
  std::string name;
  std::vector<std::string> communication;
  std::vector<std::string> channels;
};
// Nothing when the text has fewer than three fields.
std::optional<HubPortConfig> parsePortConfig(const std::string& text);

class USBManager final : public AccessoryManagerDelegate,
                         public std::enable_shared_from_this<USBManager> {
 public:
  static constexpr int kMaxPorts = 10;
  static constexpr int kPortBufferSize = 4112;
  static constexpr foundation::Duration kCommandLockTimeout = std::chrono::seconds(30);
  static constexpr foundation::Duration kReplyTimeout = std::chrono::seconds(30);
  // A printer on a port gets this long after its attach event before its driver is told.
  static constexpr foundation::Duration kPrinterSettleTime = std::chrono::milliseconds(3500);
  // Between the remove and the attach event that re-dispatch a reconfigured port.
  static constexpr foundation::Duration kRecreatePause = std::chrono::milliseconds(100);

  static USBManager& sharedManager();
  static std::shared_ptr<USBManager> create();

  // Port-device drivers, asked in registration order; no duplicates.
  void setDelegate(std::shared_ptr<AccessoryManagerDelegate> driver);
  std::shared_ptr<AccessoryManagerDelegate> delegate() const;
  void setControlDelegate(std::weak_ptr<HubControlDelegate> d);
  std::shared_ptr<HubControlDelegate> controlDelegate() const;

  // The accessory contract towards the accessory manager.
  std::optional<std::vector<std::string>> accessoryShouldConnect(const std::string& name,
                                                                 std::vector<std::string> channels) override;
  void accessoryConnected(const std::shared_ptr<EAStream>& stream) override;
  int accessoryData(int channel, const uint8_t* buffer, int length) override;
  void accessoryDisconnected(const std::shared_ptr<EAStream>& stream) override;

  void connect() {}
  // Closes the hub's session (if any), then `TrelmoDisconnected` to the control delegate.
  void disconnect();
  bool connected() const { return connected_.load(); }
  int nStreams() const { return nStreams_.load(); }
  bool firmwareUpdate() const { return firmwareUpdate_.load(); }

  // One hub command: the reply's data, or nothing with the error filled.
  std::optional<Bytes> sendCommand(int command, int slave, const uint8_t* data, size_t length,
                                   Error* error = nullptr);
  std::optional<Bytes> sendCommand(int command, int slave, const Bytes& data = {}, Error* error = nullptr) {
    return sendCommand(command, slave, data.data(), data.size(), error);
  }

  // Port operations.
  int getSupportedFeature(int feature, Error* error = nullptr) const;
  std::optional<std::vector<TrelmoPortInfo>> getPortsInfo(Error* error = nullptr);
  std::optional<std::string> getPortConfig(int port, Error* error = nullptr);
  bool setPortConfig(const std::string& config, int port, bool recreateConnection, Error* error = nullptr);
  bool setUSBCharge(bool on, int port, Error* error = nullptr);
  bool setAppleCharge(int current, Error* error = nullptr);
  bool getAppleCharge(int* current, Error* error = nullptr);
  bool setSerial(const std::string& serial, Error* error = nullptr);
  std::optional<TrelmoUSBDeviceDescriptor> getUSBDeviceDescriptorForSlave(int port, Error* error = nullptr);
  std::shared_ptr<TrelmoDevice> getPortDeviceFormPort(int port, Error* error = nullptr);
  std::shared_ptr<USBStream> stream(int port) const;

  // Identity of the hub, from its accessory session.
  std::string deviceName() const;
  std::string deviceModel() const;
  std::string firmwareRevision() const;
  std::string hardwareRevision() const;
  std::string serialNumber() const;

  // One event frame (command byte 0), as the demultiplexer hands it on.
  void processData(const uint8_t* frame, int length);
  // Offers an attached port to the drivers (global queue).
  void slaveConnected(const std::shared_ptr<USBStream>& stream);

  // ---- Firmware (HubFirmware.cpp) ----
  static constexpr int kFirmwareMinSize = 512;
  static constexpr int kFirmwarePage = 2038;
  static constexpr int kFirmwareAttempts = 3;
  static constexpr foundation::Duration kFirmwareAttemptPause = std::chrono::milliseconds(1500);
  struct FirmwareInfo {
    std::string deviceModel, deviceName, firmwareRevision;
    int firmwareRevisionNumber = 0;  // the version's parts folded as value * 256 + part
  };
  // The identity in a firmware file's header; -21 for a short file or a bad header.
  std::optional<FirmwareInfo> getFirmwareFileInformation(const Bytes& file, Error* error = nullptr) const;
  // Sends the file to the hub (blocking the caller for the whole transfer). The file is
  // checked first, and with `validate` also that it is made for this hub: a file that fails
  // is refused before any firmware command goes out.
  bool updateFirmwareData(const Bytes& file, bool validate, Error* error = nullptr);

 private:
  USBManager() = default;
  void updateNotify(int phase, int percent);
  void scanPorts();
  void dropPorts();
  foundation::Clock& clock() const { return foundation::Clock::current(); }
  uint64_t nowMs() const;

  mutable std::mutex mutex_;  // guards the fields below up to the command state
  std::vector<std::shared_ptr<AccessoryManagerDelegate>> delegates_;
  std::weak_ptr<HubControlDelegate> controlDelegate_;
  std::shared_ptr<EAStream> session_;
  std::string deviceName_, deviceModel_, firmwareRevision_, hardwareRevision_, serialNumber_;
  std::array<std::shared_ptr<USBStream>, kMaxPorts> streams_;
  std::array<std::shared_ptr<TrelmoDevice>, kMaxPorts> devices_;
  std::array<bool, kMaxPorts> portHandled_{};
  // An attach (true) or remove (false) event that came for a port before the scan made its
  // stream: the scan applies it when it installs the streams.
  std::array<std::optional<bool>, kMaxPorts> pendingAttach_{};

  // Command state: one command at a time; the reply passes from the run-loop thread.
  std::mutex cmdMutex_;
  std::condition_variable cmdCv_;
  bool cmdBusy_ = false;
  bool replyReady_ = false;
  bool replyLost_ = false;
  Bytes reply_;

  // Per-port receive buffers (bulk data waiting for its driver).
  std::mutex memLock_;
  std::array<Bytes, kMaxPorts> readBuffer_;

  std::atomic<bool> connected_{false};
  std::atomic<int> nStreams_{0};
  std::atomic<bool> firmwareUpdate_{false};
};

}  // namespace kestra
