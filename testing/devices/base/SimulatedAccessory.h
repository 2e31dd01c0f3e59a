#pragma once
// The base of every simulated device: an accessory that a test (or a separate process)
// attaches to and detaches from the accessory folder at run time, so the SDK finds it
// through the same registry, sessions and streams as real hardware.
//
// `attach()` listens on `<folder>/<id>.sock` and then moves the descriptor `<id>.json`
// into place (see platform/accessory/AccessoryManager.h); `detach()` removes both and
// drops every open channel, which the host sees as end of stream. Each channel the host
// opens is one connection to the socket (the session handshake of
// platform/accessory/Session.h); channel n is the n-th protocol string.
//
// A device is a byte-in/byte-out state machine: subclasses override `onReceive`, which
// runs on the device's own thread with the bytes in the order the host sent them, and
// answer with `send`. Everything the host sent is also recorded per channel.
//
// Fault knobs, all settable from any thread at any time:
// - silence: `setSilent(true)` - bytes are recorded but `onReceive` is not called and
//   `send` delivers nothing;
// - delay: `setReplyDelay(d)` - every `send` is delivered `d` of the `Clock` later (under
//   a manual clock, when the test advances it);
// - split delivery: `setSplitDelivery(true)` sends every byte as its own read on the host;
//   `sendInPieces` splits one message at the boundaries given - a test loops over every
//   boundary. A piece goes out only after the host has read the previous one (bounded
//   wait), so the host really sees separate reads;
// - garbage before a frame: `injectGarbageBeforeNextSend(bytes)`;
// - link dropped mid-frame: `dropLinkAfter(n)` - the next `send` delivers only its first n
//   bytes, then every channel connection is closed (the accessory stays attached);
//   `dropLink()` closes them now;
// - stalled writes: `setStallReads(true)` - the device stops reading, so the host's
//   writes fill the link and make no progress;
// - sessions: `setRefuseSessions(true)` closes new channel connections at once (a refused
//   session); `setHoldSessions(true)` never answers them (a session that never opens).
//
// Thread safety: every public member may be called from any thread, except that attach and
// detach are never called from the device thread (detach waits for it to end); attaches and
// detaches from several threads take turns. The destructor detaches; subclasses must call
// `detach()` in their own destructor if `onReceive` uses their members.

#include <atomic>
#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>
#include <vector>

#include "platform/accessory/Accessory.h"
#include "platform/foundation/Bytes.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/RunLoop.h"

namespace devices {

using foundation::Bytes;

class SimulatedAccessory {
 public:
  // `folder` defaults to the accessory folder the SDK watches.
  explicit SimulatedAccessory(accessory::AccessoryIdentity identity,
                              std::filesystem::path folder = {});
  virtual ~SimulatedAccessory();
  SimulatedAccessory(const SimulatedAccessory&) = delete;
  SimulatedAccessory& operator=(const SimulatedAccessory&) = delete;

  // Returns false (and stays detached) when the socket cannot be made.
  bool attach();
  void detach();
  bool attached() const;

  const accessory::AccessoryIdentity& identity() const { return identity_; }
  // Replaces what the next `attach` announces (a device restarting as other firmware or as
  // its boot loader). Only while detached.
  void setIdentity(accessory::AccessoryIdentity identity) { identity_ = std::move(identity); }
  const std::string& id() const { return id_; }
  std::filesystem::path socketPath() const;
  std::filesystem::path descriptorPath() const;

  // Device -> host on `channel`, after the knobs. Any thread; sends keep their order.
  void send(int channel, const Bytes& bytes);
  void sendInPieces(int channel, const Bytes& bytes, const std::vector<size_t>& boundaries);

  // Faults for one send only, on top of the knobs below.
  struct SendFaults {
    std::optional<foundation::Duration> delay;  // instead of the reply delay
    std::vector<size_t> boundaries;             // split the bytes here
    bool everyByte = false;                     // every byte its own read
    Bytes garbage;                              // sent just before the bytes
    long dropAfter = -1;  // >= 0: deliver this many bytes, then close every channel
  };
  void sendWith(int channel, const Bytes& bytes, const SendFaults& faults);
  // Writes `bytes` on the calling thread at once, past every knob and queued send (for
  // benchmarks that time the host from the moment the bytes are on the link). False when the
  // channel is not open.
  bool writeNow(int channel, const Bytes& bytes);

  // What the host sent on `channel` so far.
  Bytes received(int channel) const;
  Bytes takeReceived(int channel);
  void clearReceived();
  // Waits (real time, bounded) until at least `count` bytes were received on `channel`.
  bool waitForReceived(int channel, size_t count,
                       std::chrono::milliseconds timeout = std::chrono::milliseconds(20000));
  // Waits (real time, bounded) until everything sent so far on `channel` has been read by the
  // host: the sends queued before the call went out and the link holds nothing unread.
  bool waitUntilHostRead(int channel, std::chrono::milliseconds timeout = std::chrono::milliseconds(20000));
  // Whether the host has `channel` open now, and waiting for it.
  bool channelOpen(int channel) const;
  bool waitForChannel(int channel, bool open = true,
                      std::chrono::milliseconds timeout = std::chrono::milliseconds(20000));
  // Sessions the host opened (accepted) since the device was made.
  int sessionsOpened() const;
  // Whether bytes are on their way between host and device now: the host's wait unread on a
  // channel, a read is being handled, or a send (not one held back by a reply delay) has not
  // been read by the host yet. A test clock holds still while it is true.
  bool busy() const;

  void setSilent(bool on);
  void setReplyDelay(foundation::Duration delay);
  void setSplitDelivery(bool on);
  void injectGarbageBeforeNextSend(const Bytes& garbage);
  void dropLinkAfter(size_t bytes);
  void dropLink();
  void setStallReads(bool on);
  void setRefuseSessions(bool on);
  void setHoldSessions(bool on);

 protected:
  // Device thread. Bytes the host sent on `channel` (not called while silent).
  virtual void onReceive(int channel, const uint8_t* data, size_t length);
  // Device thread. The host opened or closed `channel`.
  virtual void onChannelOpened(int channel);
  virtual void onChannelClosed(int channel);

 private:
  struct Pending {
    int fd = -1;
    std::string line;
  };
  void threadMain();
  void onListen();
  void onPendingReadable(int fd);
  void onChannelReadable(int channel, int fd);
  void closeChannel(int channel);
  void deliver(int channel, Bytes bytes, std::vector<size_t> boundaries);
  void writePiece(int fd, const uint8_t* data, size_t length, bool waitDrained);
  void closeAllChannels();

  accessory::AccessoryIdentity identity_;
  const std::filesystem::path folder_;
  const std::string id_;

  std::mutex lifecycleMutex_;  // held through attach() and detach()
  mutable std::mutex mutex_;
  std::condition_variable changed_;
  std::map<int, Bytes> received_;
  std::map<int, int> channelFds_;  // channel -> connection fd (device thread writes)
  std::map<int, Pending> pending_;
  int sessionsOpened_ = 0;
  bool attached_ = false;

  std::atomic<bool> silent_{false};
  std::atomic<bool> splitDelivery_{false};
  std::atomic<bool> stallReads_{false};
  std::atomic<bool> refuseSessions_{false};
  std::atomic<bool> holdSessions_{false};
  foundation::Duration replyDelay_{};
  Bytes garbage_;
  long dropAfter_ = -1;

  int listenFd_ = -1;
  std::thread thread_;
  std::unique_ptr<foundation::RunLoop> ownedLoop_;  // outlives the device thread
  foundation::RunLoop* loop_ = nullptr;  // set while attached
  std::atomic<bool> stopping_{false};
  std::atomic<bool> handling_{false};  // the device thread is reading or handling bytes
  std::atomic<int> sendsQueued_{0};    // sends queued on the device thread, not yet written
};

}  // namespace devices
