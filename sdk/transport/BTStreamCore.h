#pragma once
// The receive buffer, notification policy and write cache of the SDK's Bluetooth byte
// streams. A stream owns one core, pushes received bytes into it (`append`, then `notify`),
// lets its reader take them (`read`), and writes through it (`write`), naming two hooks: how
// to tell its delegate that bytes are available, and how to send bytes to the device.
//
// Notification policy (`notify`), set by `setDataNotification`:
// - nothing is announced while notifications are off, or when nobody takes the event (the
//   announce hook answers false);
// - a length threshold (`maxLength` >= 1) announces once that many bytes are held; below
//   it, and with no threshold but some other setting, the sequence test decides;
// - with no setting at all, every append is announced;
// - the sequence test announces when the held bytes contain the sequence anywhere;
// - a quiet time (`maxTime`) alone never announces on append: the stream's thread announces
//   once the quiet time has passed since the last append, once per quiet period (and marks
//   it made even while notifications are off).
//
// Write cache (`setWriteCachingEnabled(true)`): writes gather in a 2,048-byte cache; a full
// cache goes out at once, a partial one after 101 ms without a write into it (the thread's
// pass), by `flush`, or is dropped by `clear`. Without caching every write goes out at once.
//
// Time comes from the `Clock`, so tests run the quiet time and the cache delay on a manual
// clock. The thread passes every 50 ms of that clock while `run` has it going.
//
// Threads: every member may be called from any thread. The hooks are called without any
// lock of the core held: `announce` on the thread that appended (or the core's thread),
// `send` on the writer's thread (or the core's thread for a delayed flush).

#include <sys/types.h>

#include <array>
#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <functional>
#include <mutex>
#include <optional>
#include <thread>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Clock.h"

namespace kestra {

class BTStreamCore {
 public:
  using Announce = std::function<bool()>;  // true when a delegate took the event
  using Send = std::function<bool(const uint8_t* data, size_t length)>;

  static constexpr size_t kWriteCacheSize = 2048;
  // Received bytes not yet read are kept up to this many; beyond it the oldest are dropped.
  static constexpr size_t kMaxUnread = 65536;
  static constexpr foundation::Duration kWriteCacheDelay = std::chrono::milliseconds(101);
  static constexpr foundation::Duration kThreadPass = std::chrono::milliseconds(50);

  BTStreamCore(Announce announce, Send send);
  ~BTStreamCore();
  BTStreamCore(const BTStreamCore&) = delete;
  BTStreamCore& operator=(const BTStreamCore&) = delete;

  // ---- Receive ----
  void append(const uint8_t* data, size_t length);
  // Applies the notification policy once.
  void notify();
  // Takes up to `maxLength` bytes from the front; the count taken.
  size_t read(uint8_t* buffer, size_t maxLength);
  // A copy of the held bytes.
  foundation::Bytes held() const;
  size_t heldLength() const;
  // Runs `edit` on the held bytes under the lock.
  void editHeld(const std::function<void(foundation::Bytes&)>& edit);
  // Drops the held bytes and the unsent cache.
  void clear();

  // ---- Policy ----
  // `maxTime` in seconds (negative: off); `maxLength` 0: off; no sequence: off.
  void setDataNotification(double maxTime, int maxLength, std::optional<foundation::Bytes> sequence);
  void setNotificationsEnabled(bool on) { notificationsEnabled_ = on; }
  bool notificationsEnabled() const { return notificationsEnabled_.load(); }
  bool notificationSent() const { return notificationSent_.load(); }

  // ---- Write ----
  void setWriteCachingEnabled(bool on) { writeCachingEnabled_ = on; }
  bool writeCachingEnabled() const { return writeCachingEnabled_.load(); }
  // Returns `length` when everything was taken (sent or cached), -1 when a send failed.
  ssize_t write(const uint8_t* data, size_t length);
  // Sends what the cache holds. False when a send failed (the bytes are dropped).
  bool flush();
  size_t cachedLength() const;

  // ---- Thread ----
  void run();
  void stop();
  bool running() const { return threadStarted_.load(); }

 private:
  void threadMain();
  bool announceNow();

  const Announce announce_;
  const Send send_;
  mutable std::mutex lock_;  // the buffer, the policy and the cache
  foundation::Bytes streamData_;
  std::optional<foundation::MonoTime> lastPacketTime_;
  foundation::Duration maxTime_{};
  int maxLength_ = 0;
  std::optional<foundation::Bytes> sequenceData_;
  std::atomic<bool> notificationSent_{false};
  std::atomic<bool> notificationsEnabled_{false};
  std::atomic<bool> writeCachingEnabled_{false};
  std::array<uint8_t, kWriteCacheSize> writeCache_{};
  size_t writeCacheLen_ = 0;
  std::optional<foundation::MonoTime> writeCacheDate_;
  std::mutex sendMutex_;  // keeps the cache's sends in order with direct ones

  std::mutex threadMutex_;
  std::condition_variable threadCv_;
  std::atomic<bool> threadStarted_{false};
  bool threadStop_ = false;
  std::thread thread_;
};

}  // namespace kestra
