#pragma once
// The pinpad's command path: one command at a time, framed, written to the link (or queued
// in the command cache, or passed through a tunnel), and answered by the response packet
// that the byte-stream side stores here.
//
// `command` runs on the caller's thread and blocks it: at most `kCommandLockTimeout` for the
// command lock, then the command's time-out for the response. Responses are stored by
// `storeResponse` on the thread that delivers the link's bytes (the common run-loop thread),
// which never takes the command lock; a command waits for its response without holding
// anything that thread needs. `abortWait` (the link went away) ends a waiting command at
// once. Every wait runs on `foundation::Clock`, so tests drive the time-outs with a manual
// clock.
//
// Responses are not matched to commands: the first response packet stored after a
// command's frame was written is that command's answer.
//
// Command cache: in caching mode a command sent with `cached` set is queued and reports
// success at once; the queue is written in one write before the next direct command, or by
// the "CacheWrite Thread" once no command was queued for `kCacheQuiet`. The responses of
// queued commands are counted and dropped as they arrive. In direct mode every command is
// written at once. Leaving caching mode writes the queue first.
//
// Result codes: 0 success, 1 to 34 the pinpad's status (getErrorText), 3 an argument the
// pinpad could never take (refused before anything is sent), 9 local failure (command lock
// not obtained, write failed, no or malformed response), 16 not connected.
//
// The object is owned by the pinpad driver and lives as long as it does; every method may
// be called from any thread.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <thread>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Clock.h"

namespace kestra {

namespace ppad {
inline constexpr int kOK = 0;
inline constexpr int kInvalidParameter = 3;
inline constexpr int kNoData = 8;
inline constexpr int kFailed = 9;
inline constexpr int kNotSupported = 13;
inline constexpr int kHardwareError = 16;
inline constexpr int kNotConnected = 16;

// The text of a pinpad status ("OK", "General Error", ...); "Unknown" for other values.
std::string getErrorText(int status);
}  // namespace ppad

// The byte-stream seam under the command path: an accessory session, a stream pair or a
// test double.
class PPadLink {
 public:
  virtual ~PPadLink() = default;
  // Writes all of `data`; false when the link refused or timed out.
  virtual bool write(const uint8_t* data, size_t length) = 0;
  // False once the link is gone. Read by a waiting command (with its wait lock held), so it
  // must be quick and take no lock of the command path.
  virtual bool isOpen() const { return true; }
};

// A device that carries the pinpad's commands for it (a tunnel). It receives one whole host
// frame and returns the response packet from its type byte on ([0x00][status][length BE]
// [data][check]), or nothing when the exchange failed.
class PPadTunnel {
 public:
  virtual ~PPadTunnel() = default;
  virtual std::optional<foundation::Bytes> ppadPassThrough(const foundation::Bytes& frame) = 0;
};

class PPadTransport {
 public:
  static constexpr foundation::Duration kCommandLockTimeout = std::chrono::seconds(30);
  static constexpr foundation::Duration kDefaultTimeout = std::chrono::seconds(10);
  // Largest command data (sub-command byte and arguments).
  static constexpr size_t kCmdBufferSize = 2148;
  // Largest response data a command accepts (the packet header comes on top).
  static constexpr size_t kMaxResponseData = 2148;
  static constexpr size_t kCacheBufferSize = 3052;
  static constexpr foundation::Duration kCacheQuiet = std::chrono::milliseconds(101);
  static constexpr foundation::Duration kCachePoll = std::chrono::milliseconds(100);
  // How often a waiting command looks whether its link is still there: the loss itself is
  // reported on the main queue, which the waiting thread may be holding up.
  static constexpr foundation::Duration kLinkCheck = std::chrono::milliseconds(20);

  PPadTransport();
  ~PPadTransport();
  PPadTransport(const PPadTransport&) = delete;
  PPadTransport& operator=(const PPadTransport&) = delete;

  // Sends `data` (the sub-command byte and its arguments) in `group` and waits for the
  // response. On a result of 0 or a pinpad status, `out` (when given) receives the response
  // data; on 3, 9 and 16 it is left empty.
  int command(uint8_t group, const foundation::Bytes& data, foundation::Bytes* out = nullptr,
              bool cached = false, foundation::Duration timeout = kDefaultTimeout);

  // Byte-stream side: one response packet from its type byte on (N + 4 bytes).
  void storeResponse(const uint8_t* body, size_t length);
  // Ends a waiting command now (the link went away or an accessory detached).
  void abortWait();

  void setLink(std::shared_ptr<PPadLink> link);
  std::shared_ptr<PPadLink> link() const;
  void setTunnel(std::shared_ptr<PPadTunnel> tunnel);
  std::shared_ptr<PPadTunnel> tunnel() const;

  // Caching mode (true) or direct mode (false, the default). Leaving caching mode writes
  // whatever is queued.
  void setCaching(bool caching);
  bool caching() const { return caching_.load(); }
  // Writes the queue in one write; a failed batch is dropped and its responses are no
  // longer expected. False when the write failed.
  bool flushCache();
  // Forgets the queue and every expected cached response (a new link).
  void resetCache();
  int cachedResponsesOutstanding() const;

  // Starts the "CacheWrite Thread", which flushes the queue after `kCacheQuiet` without a
  // new queued command while the link is up (`fakeConnected` or state 2). Ends by itself
  // when neither holds; `stopCacheWriteThread` ends it at once and waits for it.
  void startCacheWriteThread();
  void stopCacheWriteThread();

  // Link state the command path checks. `connState`: 0 disconnected, 1 connecting,
  // 2 connected. `fakeConnected` lets identification send commands before state 2.
  std::atomic<int> connState{0};
  std::atomic<bool> fakeConnected{false};

  // A command holds the command lock (it is being sent or waits for its response).
  bool commandRunning() const { return commandRunning_.load(); }

  // Monotonic time of the last direct command written or event received; empty before.
  std::optional<foundation::MonoTime> lastCommandTime() const;
  void touchLastCommandTime();

 private:
  class CommandLock;
  bool writeToLink(const uint8_t* data, size_t length);
  int exchange(uint8_t group, const foundation::Bytes& data, foundation::Bytes* out,
               bool cached, foundation::Duration timeout);
  void cacheWriteThreadMain();

  // The command lock: held by one command from start to result (`cmdBusy_`, waited for on
  // `cmdLockCv_` under `cmdLockMutex_`).
  std::mutex cmdLockMutex_;
  std::condition_variable cmdLockCv_;
  bool cmdBusy_ = false;
  std::atomic<bool> commandRunning_{false};

  // The response hand-over (`commWaitHandle`).
  mutable std::mutex waitMutex_;
  std::condition_variable waitCv_;
  foundation::Bytes cmdBuffer_;
  size_t cmdLen_ = 0;
  uint64_t abortGeneration_ = 0;

  // The command cache (`cacheLock`); `flushMutex_` keeps queued batches in order while
  // they are written without holding `cacheMutex_`.
  mutable std::mutex cacheMutex_;
  std::mutex flushMutex_;
  foundation::Bytes cmdCacheBuffer_;
  int cmdCacheQueued_ = 0;      // frames in the queue
  int cmdCacheNCommands_ = 0;   // cached responses still to come
  foundation::MonoTime cmdCacheTime_{};
  std::atomic<bool> caching_{false};

  mutable std::mutex stateMutex_;
  std::shared_ptr<PPadLink> link_;
  std::shared_ptr<PPadTunnel> tunnel_;
  std::optional<foundation::MonoTime> lastCommandTime_;

  std::mutex threadMutex_;
  std::condition_variable threadCv_;
  std::thread cacheThread_;
  bool stopThread_ = false;
};

}  // namespace kestra
