#pragma once
// The far end of a stream pair (a TCP connection on loopback) for simulated network devices
// and links: network receipt printers, a pinpad or hub reached over the network. The SDK
// connects to `host():port()` through its stream-pair transport, so the code that runs in
// tests is the code that runs against a real device on the network.
//
// The peer listens on 127.0.0.1 (an ephemeral port unless one is given) and serves one
// connection at a time: a new connection replaces the old one. Received bytes are recorded
// and handed to `onReceive` on the peer's own thread. With a frame parser, the peer runs a
// `FrameCommandDevice` (FrameCommandDevice.h): frames are cut, handlers answer, and scripted
// faults (unanswered, late, split, garbage, dropped) apply to the replies.
//
// How a new network simulator uses it: derive from it, pass the device's frame parser, and
// register handlers on `frames()` (or override `onReceive` for a protocol without frames);
// the test connects the driver to `port()`.
//
// Fault knobs: `dropLink()` closes the connection now; `setRefuseConnections(true)` closes
// new connections at once; per-send faults through `sendWith`.
//
// Threads: every public member may be called from any thread. A subclass whose
// `onReceive` uses its own members calls `stop()` in its destructor.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/RunLoop.h"
#include "testing/devices/base/FrameCommandDevice.h"
#include "testing/devices/base/SimulatedAccessory.h"

namespace devices {

class StreamPairPeer {
 public:
  using SendFaults = SimulatedAccessory::SendFaults;

  // `parser` empty: bytes go only to `onReceive`.
  explicit StreamPairPeer(FrameParser parser = {}, uint16_t port = 0);
  virtual ~StreamPairPeer();
  StreamPairPeer(const StreamPairPeer&) = delete;
  StreamPairPeer& operator=(const StreamPairPeer&) = delete;

  // Starts listening. False when the port cannot be bound.
  bool start();
  void stop();
  static std::string host() { return "127.0.0.1"; }
  uint16_t port() const { return port_.load(); }

  FrameCommandDevice& frames() { return *frames_; }

  // Peer -> host on the current connection (nothing without one). Sends keep their order.
  void send(const Bytes& bytes) { sendWith(bytes, {}); }
  void sendWith(const Bytes& bytes, const SendFaults& faults);

  Bytes received() const;
  void clearReceived();
  // Real-time bounds below are safety nets; the waits end on the event.
  bool waitForReceived(size_t count, std::chrono::milliseconds timeout = std::chrono::milliseconds(20000));
  bool connected() const;
  bool waitForConnection(bool up = true, std::chrono::milliseconds timeout = std::chrono::milliseconds(20000));
  int connectionsAccepted() const;

  void dropLink();
  void setRefuseConnections(bool on) { refuse_ = on; }

 protected:
  // Peer thread: bytes from the host, in order.
  virtual void onReceive(const uint8_t* data, size_t length);
  virtual void onConnected() {}
  virtual void onDisconnected() {}

 private:
  void threadMain();
  void onAccept();
  void onReadable(int fd);
  void closeConnection();

  std::unique_ptr<FrameCommandDevice> frames_;
  const uint16_t requestedPort_;
  std::atomic<uint16_t> port_{0};
  std::atomic<bool> refuse_{false};
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  Bytes received_;
  int connFd_ = -1;
  int accepted_ = 0;
  int listenFd_ = -1;
  std::unique_ptr<foundation::RunLoop> loop_;
  std::thread thread_;
  std::atomic<bool> stopping_{false};
};

}  // namespace devices
