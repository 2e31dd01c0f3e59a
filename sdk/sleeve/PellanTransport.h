#pragma once
// The sleeve's command path: one command at a time, framed, written to the link, and
// answered by the reply that the byte-stream side stores here.
//
// `sendCommand` runs on the caller's thread and blocks it: at most `kCommandLockTimeout`
// for the command lock, then `responseTimeout()` for the reply. Replies are stored by
// `storeReply` on the thread that delivers the link's bytes (the common run-loop thread),
// which never takes the command lock. `abortWait` (called when the link goes away) ends a
// waiting command at once with "Command response lost". Every wait runs on
// `foundation::Clock`, so tests drive the time-outs with a manual clock.
//
// The object is owned by the sleeve driver and lives as long as it does; every method may be
// called from any thread.

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Error.h"

namespace kestra {

// The byte-stream seam under the command path: an accessory session, a stream pair or a
// test double.
class PellanLink {
 public:
  virtual ~PellanLink() = default;
  // Writes all of `data` to `channel`; false when the link refused or timed out.
  virtual bool write(int channel, const uint8_t* data, size_t length) = 0;
  virtual bool isOpen() const = 0;
};

class PellanTransport {
 public:
  static constexpr foundation::Duration kCommandLockTimeout = std::chrono::seconds(30);
  static constexpr foundation::Duration kDefaultResponseTimeout = std::chrono::seconds(7);
  // Writes on the one-channel updater link go out in pieces this big, with a pause after
  // every piece but the last.
  static constexpr size_t kUpdaterChunk = 127;
  static constexpr foundation::Duration kUpdaterChunkPause = std::chrono::milliseconds(50);

  PellanTransport();

  // Sends `command` with `data` (may be null) on `channel` and returns the reply's result
  // bytes (the data after the two status bytes), or nothing with `error` filled.
  std::optional<foundation::Bytes> sendCommand(int channel, int command, const uint8_t* data,
                                               size_t length, bool forced,
                                               foundation::Error* error);
  std::optional<foundation::Bytes> sendCommand(int channel, int command,
                                               const foundation::Bytes& data,
                                               foundation::Error* error) {
    return sendCommand(channel, command, data.empty() ? nullptr : data.data(), data.size(),
                       false, error);
  }

  // Waits until a reply of at least `count` bytes is held or `timeout` passes (or the wait is
  // aborted); returns the smaller of the held length and `count`, or 0 when the link is not
  // usable any more.
  int commWaitData(int count, foundation::Duration timeout);

  // Byte-stream side: a complete reply frame (header included). Frames longer than the
  // command buffer are cut to their header, so the waiting command fails its length check.
  void storeReply(const uint8_t* frame, size_t length);
  // Forgets a held reply (each command and each identification attempt start clean).
  void resetReply();
  // Ends a waiting command now (the link went away).
  void abortWait();

  // The link commands are written to; null while none is attached.
  void setLink(std::shared_ptr<PellanLink> link);
  std::shared_ptr<PellanLink> link() const;

  // Link state the command path checks. `connState`: 0 disconnected, 1 connecting,
  // 2 connected.
  std::atomic<int> connState{0};
  std::atomic<bool> inConnection{false};
  std::atomic<bool> firmwareUpdate{false};
  std::atomic<int> nChannels{1};
  std::atomic<bool> updaterLink{false};

  foundation::Duration responseTimeout() const;
  void setResponseTimeout(foundation::Duration timeout);
  // Monotonic time of the last command sent or event parsed; empty before the first.
  std::optional<foundation::MonoTime> lastCommandTime() const;
  void touchLastCommandTime();

 private:
  bool acquireCommandLock();
  void releaseCommandLock();
  // Forgets a held reply and returns the abort count as it stands, so that a wait begun
  // later still ends when the link goes away in between.
  uint64_t startReply();
  int waitReply(int count, foundation::Duration timeout, uint64_t generation);

  std::mutex lockMutex_;
  std::condition_variable lockCv_;
  bool commandBusy_ = false;

  mutable std::mutex waitMutex_;
  std::condition_variable waitCv_;
  foundation::Bytes cmdBuffer_;
  size_t cmdLen_ = 0;
  uint64_t abortGeneration_ = 0;

  mutable std::mutex stateMutex_;
  std::shared_ptr<PellanLink> link_;
  foundation::Duration responseTimeout_ = kDefaultResponseTimeout;
  std::optional<foundation::MonoTime> lastCommandTime_;
  uint8_t messageId_ = 0;
};

// The SDK's error for a failed sleeve command (domain "com.sabrel.errors").
foundation::Error pellanError(int code, std::string text);
// Fills `error` (when given) and returns false, so that commands can `return pellanFail(...)`.
bool pellanFail(foundation::Error* error, int code, std::string text);
// printf-style text for error messages.
std::string pellanFormat(const char* format, ...) __attribute__((format(printf, 1, 2)));
// Pauses the calling thread for `d` of the current clock's time (a manual clock must be
// advanced for the pause to end).
void pellanPause(foundation::Duration d);

}  // namespace kestra
