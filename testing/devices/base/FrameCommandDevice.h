#pragma once
// The frame-and-command core that every simulated device with a framed command protocol
// stands on (the sleeve, printers, the pinpad, the hub, the charging case, RF readers).
//
// A device gives one frame parser and its command handlers; the core keeps the bytes the
// host sent per channel, cuts them into frames with the parser, records every frame, runs
// the handler of the frame's command and returns the replies to send - each with the fault
// the test scripted for it. It does no I/O and starts no thread: `FrameCommandSimulator`
// (an accessory) and `StreamPairPeer` (TCP on loopback) put it behind a link.
//
// How a new simulator uses it:
//   FrameCommandSimulator printer(identity, folder, printerFrameParser);  // or a StreamPairPeer
//   printer.frames().on(0x1B, [&](const HostFrame& f) { return reply(f, status()); });
//   printer.frames().script(0x1B, ScriptedFault::late(std::chrono::seconds(3)));
//   printer.frames().script(kAnyCommand, ScriptedFault::dropped(2));  // link drops mid-reply
// The parser looks only at the bytes at the front: it answers "need more", "a frame of n
// bytes with command c" or "skip n bytes" (noise, a frame it rejects). Frames whose command
// has no handler go to the `onOther` handler, or get no reply.
//
// Scripted faults, used once each in the order scripted, for the next reply to a command
// (or to any command): unanswered (the frame is recorded, nothing is sent), late (sent after
// a delay on the `Clock`, so a manual clock decides when), split (at given boundaries, or
// every byte on its own), garbage (bytes sent just before the reply), dropped (only the
// first n bytes of the reply, then the link closes).
//
// Threads: every member may be called from any thread; handlers run on the thread that
// feeds the bytes (the device's own thread), without the core's lock held, so a handler may
// script faults or read the record. Bad input never throws: a parser that answers nonsense
// (a length past the bytes held) is treated as "need more".

#include <chrono>
#include <condition_variable>
#include <cstdint>
#include <deque>
#include <functional>
#include <map>
#include <mutex>
#include <optional>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Clock.h"

namespace devices {

using foundation::Bytes;

inline constexpr uint32_t kAnyCommand = 0xFFFFFFFFu;

// What a frame parser found at the front of a channel's bytes.
struct FrameScan {
  enum Kind { NeedMore, Frame, Skip };
  Kind kind = NeedMore;
  size_t length = 0;     // Frame: the whole frame; Skip: bytes to drop
  uint32_t command = 0;  // Frame: the key of its handler

  static FrameScan needMore() { return {}; }
  static FrameScan frame(size_t length, uint32_t command) { return {Frame, length, command}; }
  static FrameScan skip(size_t length) { return {Skip, length, 0}; }
};
using FrameParser = std::function<FrameScan(const uint8_t* data, size_t length)>;

// One frame the host sent, whole.
struct HostFrame {
  int channel = 0;
  uint32_t command = 0;
  Bytes bytes;
};

struct ScriptedFault {
  enum Kind { Unanswered, Late, Split, Garbage, Dropped };
  Kind kind = Unanswered;
  foundation::Duration delay{};     // Late
  std::vector<size_t> boundaries;   // Split; empty: every byte on its own
  Bytes garbage;                    // Garbage
  size_t keep = 0;                  // Dropped: bytes of the reply that still go out

  static ScriptedFault unanswered() { return {}; }
  static ScriptedFault late(foundation::Duration d) { return {Late, d, {}, {}, 0}; }
  static ScriptedFault split(std::vector<size_t> at = {}) { return {Split, {}, std::move(at), {}, 0}; }
  static ScriptedFault garbageBefore(Bytes bytes) { return {Garbage, {}, {}, std::move(bytes), 0}; }
  static ScriptedFault dropped(size_t keep) { return {Dropped, {}, {}, {}, keep}; }
};

// Bytes to send to the host, with the fault scripted for them (if any).
struct Outgoing {
  int channel = 0;
  Bytes bytes;
  std::optional<ScriptedFault> fault;
};

class FrameCommandDevice {
 public:
  // A reply to a frame: bytes for the frame's own channel, or for another one.
  struct Reply {
    Bytes bytes;
    int channel = -1;  // -1: the frame's channel
  };
  using Handler = std::function<std::vector<Reply>(const HostFrame& frame)>;

  explicit FrameCommandDevice(FrameParser parser) : parser_(std::move(parser)) {}

  void on(uint32_t command, Handler handler);
  void onOther(Handler handler);
  // The next `times` replies to `command` (kAnyCommand: to any command) get `fault`.
  void script(uint32_t command, ScriptedFault fault, int times = 1);
  void clearScript();
  // `command` is never answered until `setAnswered(command, true)` (a persistent unanswered).
  void setAnswered(uint32_t command, bool answered);

  // Bytes the host sent on `channel`: the replies to every whole frame they complete.
  std::vector<Outgoing> feed(int channel, const uint8_t* data, size_t length);

  std::vector<HostFrame> hostFrames() const;
  void clearHostFrames();
  size_t framesOf(uint32_t command) const;
  // Waits (real time, bounded: a safety net) until `count` frames of `command` (kAnyCommand:
  // any) arrived.
  bool waitForFrames(uint32_t command, size_t count,
                     std::chrono::milliseconds timeout = std::chrono::milliseconds(20000)) const;
  // Forgets the partial frame of `channel` (its link closed).
  void resetChannel(int channel);

 private:
  std::optional<ScriptedFault> takeFault(uint32_t command);

  const FrameParser parser_;
  mutable std::mutex mutex_;
  mutable std::condition_variable framesChanged_;
  std::map<uint32_t, Handler> handlers_;
  Handler other_;
  std::deque<std::pair<uint32_t, ScriptedFault>> script_;
  std::vector<uint32_t> unanswered_;
  std::map<int, Bytes> pending_;
  std::vector<HostFrame> frames_;
};

}  // namespace devices
