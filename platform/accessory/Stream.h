#pragma once
// Byte streams with the platform's stream semantics: an input side and an output side,
// each opened, scheduled on a run loop and closed on its own, reporting events to a
// delegate on the thread of the run loop it is scheduled on.
//
// Events follow the platform's rules:
// - `OpenCompleted` once the stream is open (for a pair that needs a handshake, only after
//   it succeeded);
// - `HasBytesAvailable` when bytes can be read; it is reported again only after the delegate
//   has called `read()` with room for at least one byte, so a delegate that leaves bytes
//   unread (a full buffer) is not called again until it reads;
// - `EndEncountered` when the far end closed the link (after every byte was read);
// - `ErrorOccurred` when the link failed.
//
// The delegate is held weakly: a stream never keeps its owner alive, and an event for an
// owner that has gone is dropped. Streams themselves are shared (`std::shared_ptr`).
//
// Streams that deliver their own events (from a radio queue or a simulated link) answer
// true to `deliversOwnEvents()`; callers must not schedule those on a run loop.
//
// Thread safety: `read`/`write`/`hasBytesAvailable`/`hasSpaceAvailable`/`status` may be
// called from any thread; a stream's events never run concurrently with each other.

#include <sys/types.h>

#include <cstddef>
#include <cstdint>
#include <memory>
#include <mutex>

#include "platform/foundation/RunLoop.h"

namespace accessory {

enum class StreamStatus : int {
  NotOpen = 0,
  Opening = 1,
  Open = 2,
  Reading = 3,
  Writing = 4,
  AtEnd = 5,
  Closed = 6,
  Error = 7,
};

enum class StreamEvent : int {
  None = 0,
  OpenCompleted = 1,
  HasBytesAvailable = 2,
  HasSpaceAvailable = 4,
  ErrorOccurred = 8,
  EndEncountered = 16,
};

class Stream;

class StreamDelegate {
 public:
  virtual ~StreamDelegate() = default;
  virtual void handleEvent(Stream& stream, StreamEvent event) = 0;
};

class Stream : public std::enable_shared_from_this<Stream> {
 public:
  virtual ~Stream() = default;

  virtual void open() = 0;
  // Stops events and releases the stream's side of the link. Safe more than once.
  virtual void close() = 0;
  virtual StreamStatus status() const = 0;

  // Events go to `delegate` on the loop the stream is scheduled on. A stream scheduled on
  // no loop reports nothing (unless it delivers its own events).
  virtual void schedule(foundation::RunLoop& loop) = 0;
  virtual void remove(foundation::RunLoop& loop) = 0;
  virtual bool deliversOwnEvents() const { return false; }

  void setDelegate(std::weak_ptr<StreamDelegate> delegate);
  void clearDelegate();
  std::shared_ptr<StreamDelegate> delegate() const;

 protected:
  // Calls the delegate (if it is still alive) with `event`.
  void notify(StreamEvent event);

 private:
  mutable std::mutex delegateMutex_;
  std::weak_ptr<StreamDelegate> delegate_;
};

class InputStream : public Stream {
 public:
  // Reads up to `maxLength` bytes. Returns the count read, 0 at the end of the stream (or
  // when `maxLength` is 0), -1 on error or when nothing is available on an open stream
  // (errno EAGAIN) - callers test `hasBytesAvailable()` first or stop on < 1.
  virtual ssize_t read(uint8_t* buffer, size_t maxLength) = 0;
  virtual bool hasBytesAvailable() const = 0;
};

class OutputStream : public Stream {
 public:
  // Writes up to `length` bytes without blocking. Returns the count accepted (0 when the
  // link has no room right now) or -1 when the link failed or the stream is not open.
  virtual ssize_t write(const uint8_t* data, size_t length) = 0;
  virtual bool hasSpaceAvailable() const = 0;
};

}  // namespace accessory
