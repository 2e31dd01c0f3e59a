#pragma once
// The objects of one hub port: `USBStream`, which stands in for an accessory session so
// that a driver written against the accessory contract talks to a device on a hub port,
// and the port device (`TrelmoDevice`, or `TrelmoRS232Device` for an RS-232 port), the
// stream's default delegate and the object the application gets for a port no driver
// claims.
//
// Bytes to a port go out as hub command 0x01 in chunks of at most 2,000 bytes; the hub
// answers how many it accepted (0: it is full, the stream pauses and sends again).
//
// Threads: port data reaches the stream's delegate on the common run-loop thread; writes,
// reads and commands run on the caller's thread (never the run-loop thread).
//
// Lifetime: the hub manager owns both from a hub connection until the next one replaces
// them; the stream holds its manager weakly.

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Error.h"
#include "sdk/transport/EAManager.h"
#include "sdk/transport/EAStream.h"

namespace kestra {

using foundation::Bytes;
using foundation::Error;

class USBManager;

class USBStream final : public EAStream {
 public:
  static constexpr int kMaxChunk = 2000;
  static constexpr foundation::Duration kWriteTimeout = std::chrono::seconds(10);
  static constexpr foundation::Duration kFullPause = std::chrono::milliseconds(100);

  USBStream(int slaveID, int portType, int connectionState, std::weak_ptr<USBManager> manager);

  int slaveID() const { return slaveID_; }
  int portType() const { return portType_; }
  int connectionState() const { return connectionState_.load(); }
  void setConnectionState(int s) { connectionState_ = s; }
  void setPortConnected(bool on) { setConnected(on); }
  std::shared_ptr<USBManager> manager() const { return manager_.lock(); }
  uint64_t lastConnectTime() const { return lastConnectTime_.load(); }
  void setLastConnectTime(uint64_t t) { lastConnectTime_ = t; }
  uint64_t lastEventTime() const { return lastEventTime_.load(); }
  void setLastEventTime(uint64_t t) { lastEventTime_ = t; }

  bool isOpen() const override { return true; }
  // True when every byte was accepted in time.
  bool write(int channel, const uint8_t* data, size_t length) override;
  // The bytes the hub accepted; -1 when none was accepted before the deadline, or when a
  // hub command failed (the caller must not take a partial write for success).
  int write(int channel, const uint8_t* data, size_t length, foundation::Duration timeout, Error* error);
  // A port stream has no session of its own: the hub manager ends it.
  void disconnect() override {}

 private:
  const int slaveID_;
  const int portType_;
  std::atomic<int> connectionState_;
  std::weak_ptr<USBManager> manager_;
  std::atomic<uint64_t> lastConnectTime_{0};
  std::atomic<uint64_t> lastEventTime_{0};
};

class TrelmoDevice;

// A port device's data as a platform-style byte stream (used as both its input and its
// output stream). Received bytes wait in the stream until read; the delegate hears
// `kTrelmoHasBytesAvailable` when data arrives: at once with no condition set, or once the
// unread bytes reach the length set with `setDataNotification`. A time or byte-sequence
// condition alone never announces (the stream has no thread to watch the time). Writes go
// straight to the port.
// Unread bytes are kept up to `kMaxUnread`; beyond that the oldest are dropped (and logged),
// so a port nobody reads cannot take the process's memory.
// Threads: data is appended on the run-loop thread; everything else on any thread.
enum TrelmoStreamEvent { kTrelmoOpenCompleted = 1, kTrelmoHasBytesAvailable = 2, kTrelmoEndEncountered = 16 };

class TrelmoStreamDelegate {
 public:
  virtual ~TrelmoStreamDelegate() = default;
  virtual void handleEvent(int event) = 0;
};

class TrelmoStream {
 public:
  static constexpr size_t kMaxUnread = 65536;
  explicit TrelmoStream(std::weak_ptr<USBStream> port) : port_(std::move(port)) {}
  void setDelegate(std::weak_ptr<TrelmoStreamDelegate> d);
  int streamStatus() const { return status_.load(); }  // 0 not open, 2 open, 6 closed
  void open();
  void close();
  int read(uint8_t* buffer, int maxLength);
  bool hasBytesAvailable() const;
  // The bytes the port accepted, 0 or -1 (see `USBStream::write`).
  int write(const uint8_t* data, int length);
  void clear();
  void setDataNotification(foundation::Duration maxTime, int maxLength, const Bytes& sequence);
  void setNotificationsEnabled(bool on) { notificationsEnabled_ = on; }
  bool notificationsEnabled() const { return notificationsEnabled_.load(); }
  void streamAppendData(const uint8_t* data, int length);
  void streamNotify();

 private:
  void send(int event);
  std::weak_ptr<USBStream> port_;
  mutable std::mutex mutex_;  // guards the fields below
  std::weak_ptr<TrelmoStreamDelegate> delegate_;
  Bytes streamData_;
  foundation::Duration maxTime_{};
  int maxLength_ = 0;
  Bytes sequence_;
  std::atomic<int> status_{0};
  std::atomic<bool> notificationsEnabled_{false};
};

// The application's side of a generic port device. Run-loop thread.
class TrelmoDeviceDelegate {
 public:
  virtual ~TrelmoDeviceDelegate() = default;
  virtual void TrelmoDataReceivedForDevice(TrelmoDevice& device, const Bytes& data) = 0;
  virtual void TrelmoUSBInterruptDataReceivedForDevice(TrelmoDevice& /*device*/, const Bytes& /*data*/) {}
};

class TrelmoDevice : public AccessoryManagerDelegate {
 public:
  static std::shared_ptr<TrelmoDevice> create(std::shared_ptr<USBStream> stream, bool rs232);

  // The hub command `command` to this port.
  std::optional<Bytes> sendCommand(int command, const Bytes& data, Error* error = nullptr);
  // Waits up to `timeout` for `length` bytes (0: any byte) and takes them; nothing with
  // -6 "Timeout waitintg for data" when none came.
  std::optional<Bytes> readData(int length, foundation::Duration timeout, Error* error = nullptr);
  int writeData(const Bytes& data, foundation::Duration timeout, Error* error = nullptr);

  std::optional<std::vector<std::string>> accessoryShouldConnect(const std::string& name,
                                                                 std::vector<std::string> channels) override;
  void accessoryConnected(const std::shared_ptr<EAStream>& stream) override;
  int accessoryData(int channel, const uint8_t* buffer, int length) override;
  void accessoryDisconnected(const std::shared_ptr<EAStream>& stream) override;

  const std::shared_ptr<USBStream>& stream() const { return stream_; }
  // The port's byte stream (input and output alike).
  TrelmoStream& inputStream() { return istream_; }
  TrelmoStream& outputStream() { return istream_; }
  void setDelegate(std::weak_ptr<TrelmoDeviceDelegate> d);
  bool isRS232() const { return rs232_; }

  // Port facts, set by the hub manager when it announces the device.
  std::atomic<int> portIndex{0};
  std::atomic<int> portType{0};
  std::atomic<int> portStatus{0};
  std::string portConfig() const;
  void setPortConfig(const std::string& text);

  // RS-232 ports only: hub command 0x20 with the baud rate (u32 big-endian) and the low
  // bytes of the other four values, passed through as the hub defines them.
  bool setRS232ConfigWithBaud(int baud, int dataBits, int stopBits, int parity, int flowControl,
                              Error* error = nullptr);

 protected:
  TrelmoDevice(std::shared_ptr<USBStream> stream, bool rs232);

 private:
  const std::shared_ptr<USBStream> stream_;
  const bool rs232_;
  TrelmoStream istream_;
  mutable std::mutex mutex_;  // guards delegate_, portConfig_, rxBuf_
  std::condition_variable rxCv_;
  // Bytes kept for `readData`, at most `TrelmoStream::kMaxUnread` (the oldest go first).
  std::weak_ptr<TrelmoDeviceDelegate> delegate_;
  std::string portConfig_;
  Bytes rxBuf_;
};

}  // namespace kestra
