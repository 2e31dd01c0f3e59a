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
//
// Threads: the owner appends on its receive thread; readers read on theirs; the thread
// announces quiet periods and flushes the cache. The buffer and the cache are guarded by one
// lock that is never held across a delegate call or a module write; every read and removal
// takes it. Announcements arrive on the thread that caused them. Every wait follows the
// current `Clock`.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <thread>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Clock.h"
#include "platform/foundation/Error.h"

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
  static constexpr int kWriteCacheSize = 2048;
  static constexpr foundation::Duration kThreadPass = std::chrono::milliseconds(50);
  static constexpr foundation::Duration kCacheAge = std::chrono::milliseconds(101);

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
  // The count accepted, or -1.
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
  bool notificationsEnabled() const { return notificationsEnabled_.load(); }
  void setNotificationsEnabled(bool on) { notificationsEnabled_ = on; }
  bool writeCachingEnabled() const { return writeCachingEnabled_.load(); }
  void setWriteCachingEnabled(bool on) { writeCachingEnabled_ = on; }
  // Drops the held bytes and the unsent cache.
  void clear();
  // Sends what the cache holds.
  void flush();
  // Starts the "BTStream Thread" unless it runs; `stop` ends it and waits for it.
  void run();
  void stop();
  bool threadRunning() const { return threadRunning_.load(); }

  // Sends bytes to the module; the module driver's.
  virtual bool btWrite(const uint8_t* data, int length, foundation::Error* error) = 0;

 protected:
  // Waits until `ready(held bytes)` holds (checked under the lock at every append and clear)
  // or `timeout` passed; the result of `ready` at the end.
  bool waitForHeld(foundation::Duration timeout, const std::function<bool(const Bytes&)>& ready);
  // Runs `edit` on the held bytes under the lock.
  void editHeld(const std::function<void(Bytes&)>& edit);
  // Pauses the calling thread for `d` of the current clock.
  static void pause(foundation::Duration d);

 private:
  void threadMain();
  bool policyAnnounces() const;  // lock held
  void send(int event);

  mutable std::mutex lock_;
  std::condition_variable dataChanged_;
  Bytes streamData_;
  uint8_t writeCache_[kWriteCacheSize] = {};
  int writeCacheLen_ = 0;
  foundation::MonoTime writeCacheDate_{};
  bool writeCacheDated_ = false;
  foundation::Duration maxTime_{};
  int maxLength_ = 0;
  Bytes sequence_;
  foundation::MonoTime lastPacketTime_{};
  bool packetSeen_ = false;
  bool notificationSent_ = false;

  std::atomic<int> status_{0};
  std::atomic<bool> notificationsEnabled_{false};
  std::atomic<bool> writeCachingEnabled_{false};
  mutable std::mutex delegateMutex_;
  std::shared_ptr<BTStreamDelegate> delegate_;

  std::mutex threadMutex_;  // serialises run and stop
  std::condition_variable threadWake_;
  std::atomic<bool> threadStop_{false};
  std::atomic<bool> threadRunning_{false};
  std::thread thread_;
};

}  // namespace kestra
