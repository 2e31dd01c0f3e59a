#pragma once
// BTStream: the byte stream through which a driver talks to a remote device over a classic
// Bluetooth module inside another accessory. Nothing is scheduled on a run loop: the module
// driver pushes the module's bytes in (`streamAppendData`, then `streamNotify`), and the
// stream tells its delegate that bytes are available by a notification policy: at once with
// no policy; once `maxLength` bytes are held; when the held bytes contain a byte sequence;
// or, watched by the "BTStream Thread", once no byte came for `maxTime`. Outgoing bytes go
// out at once, or through a 2048-byte write cache that the thread flushes once 101 ms passed
// since its last write (a full cache goes out at once).
//
// The stream never talks to hardware: `btWrite` belongs to the module driver (btModule).
// The buffer, the policy, the cache and the thread are a `BTStreamCore`'s; the stream adds
// its open/close status and events, its delegate, and waits on the held bytes.
//
// Threads: the owner appends on its receive thread; readers read on theirs; the thread
// announces quiet periods and flushes the cache. No lock is held across a delegate call.
// Announcements arrive on the thread that caused them. Every wait follows the current `Clock`.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Error.h"
#include "sdk/transport/BTStreamCore.h"

namespace kestra {

using foundation::Bytes;

class BTStream;

// Stream events, as the platform's stream events.
enum BTStreamEvent : int { kBTStreamOpenCompleted = 1, kBTStreamHasBytesAvailable = 2, kBTStreamEndEncountered = 16 };

class BTStreamDelegate {
 public:
  virtual ~BTStreamDelegate() = default;
  virtual void handleEvent(BTStream& stream, int event) = 0;
};

class BTStream {
 public:
  static constexpr int kWriteCacheSize = int(BTStreamCore::kWriteCacheSize);
  static constexpr foundation::Duration kThreadPass = BTStreamCore::kThreadPass;
  static constexpr foundation::Duration kCacheAge = BTStreamCore::kWriteCacheDelay;

  BTStream();
  virtual ~BTStream();
  BTStream(const BTStream&) = delete;
  BTStream& operator=(const BTStream&) = delete;

  // ---- Stream face --------------------------------------------------------------------
  // 0 not open, 2 open, 6 closed.
  int streamStatus() const { return status_.load(); }
  // Status 2; the open event when notifications are on.
  void open();
  // Status 6; the end event when the stream was open (whatever the notification switch).
  void close();
  // Takes up to `maxLength` bytes from the front; the count (0 when none are held).
  int read(uint8_t* buffer, int maxLength);
  bool hasBytesAvailable() const;
  // A copy of the held bytes.
  Bytes heldBytes() const;
  size_t heldLength() const;
  // The count accepted, or -1 when the bytes could not go out (with caching on: a full
  // cache that this write filled failed to go out).
  int write(const uint8_t* data, int length);
  void setDelegate(std::shared_ptr<BTStreamDelegate> delegate);
  std::shared_ptr<BTStreamDelegate> delegate() const;

  // ---- Owner face ---------------------------------------------------------------------
  void streamAppendData(const uint8_t* data, size_t length);
  // Applies the notification policy once.
  void streamNotify();
  // `maxTime` seconds (negative: off), `maxLength` (0: off), `sequence` (empty: off).
  bool setDataNotificationMaxTime(double maxTime, int maxLength, const Bytes& sequence,
                                  foundation::Error* error = nullptr);
  bool notificationsEnabled() const { return core_.notificationsEnabled(); }
  void setNotificationsEnabled(bool on) { core_.setNotificationsEnabled(on); }
  bool writeCachingEnabled() const { return core_.writeCachingEnabled(); }
  void setWriteCachingEnabled(bool on) { core_.setWriteCachingEnabled(on); }
  // Drops the held bytes and the unsent cache.
  void clear();
  // Sends what the cache holds; false when it could not go out.
  bool flush();
  // Starts the "BTStream Thread" unless it runs; `stop` ends it and waits for it.
  void run();
  void stop();
  bool threadRunning() const { return core_.running(); }

  // Sends bytes to the module; the module driver's.
  virtual bool btWrite(const uint8_t* data, int length, foundation::Error* error) = 0;

 protected:
  // Waits until `ready(held bytes)` holds (checked under the lock after every append, clear
  // and edit) or `timeout` passed; the result of `ready` at the end.
  bool waitForHeld(foundation::Duration timeout, const std::function<bool(const Bytes&)>& ready);
  // Runs `edit` on the held bytes under the lock.
  void editHeld(const std::function<void(Bytes&)>& edit);
  // Pauses the calling thread for `d` of the current clock.
  static void pause(foundation::Duration d);

 private:
  bool announceBytes();
  void send(int event);
  // Wakes `waitForHeld` after the held bytes changed (taking `heldWaitMutex_` first, so no
  // wake-up falls between a waiter's test and its wait).
  void heldChanged();

  std::atomic<int> status_{0};
  mutable std::mutex delegateMutex_;
  std::shared_ptr<BTStreamDelegate> delegate_;

  std::mutex heldWaitMutex_;
  std::condition_variable heldChanged_;
  BTStreamCore core_;  // last: its thread stops before the members above go
};

}  // namespace kestra
