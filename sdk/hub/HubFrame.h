#pragma once
// The USB/serial hub's frame, as pure functions over bytes.
//
// Host to hub: 0x3E, command, 0x00, data length (u16 big-endian), slave (port), data.
// Hub to host: any byte, command echo (0 for an event), status or event code, data length,
// port, data. A frame whose length field exceeds the largest frame the hub can send
// (`kMaxData`) can never complete: the splitter treats its first byte as garbage and looks
// for the next 0x3E, so one corrupt length never stalls the link.
//
// Threads: stateless; any thread.

#include <cstdint>
#include <functional>
#include <optional>
#include <string>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"

namespace kestra::hub {

using foundation::Bytes;
using foundation::Error;

inline constexpr uint8_t kMarker = 0x3E;
inline constexpr int kHeaderSize = 6;
// The most data a frame carries in either direction.
inline constexpr int kMaxData = 2074;
// The largest reply frame the command transport keeps.
inline constexpr int kMaxReplyFrame = 2048;

// Hub commands.
enum Command : uint8_t {
  kCmdWrite = 0x01,
  kCmdPortType = 0x02,
  kCmdPortStatus = 0x03,
  kCmdSetPortConfig = 0x04,
  kCmdGetPortConfig = 0x05,
  kCmdSetSerialNumber = 0x07,
  kCmdUSBDescriptor = 0x10,
  kCmdUSBStrings = 0x11,
  kCmdChargeCurrent = 0x12,
  kCmdPortCharging = 0x13,
  kCmdSerialSettings = 0x20,
  kCmdFwStart = 0xF0,
  kCmdFwErase = 0xF1,
  kCmdFwWrite = 0xF2,
  kCmdFwFinish = 0xF3,
};

// Hub events (frames whose command byte is 0).
enum Event : uint8_t {
  kEventConnect = 1,
  kEventDisconnect = 2,
  kEventReceive = 3,
  kEventReceiveInterrupt = 5,
};

// One frame from the hub, parsed.
struct Frame {
  uint8_t command = 0;  // 0 for an event
  uint8_t code = 0;     // reply status or event code
  uint8_t slave = 0;
  const uint8_t* data = nullptr;  // into the buffer given to `splitFrames`
  int length = 0;
  const uint8_t* raw = nullptr;  // the whole frame
  int rawLength = 0;
};

// A command frame; nothing when `length` exceeds `kMaxData`.
std::optional<Bytes> encodeCommand(int command, int slave, const uint8_t* data, size_t length);

// Cuts whole frames from the front of `buffer` and hands each to `onFrame`; garbage (a
// frame with an impossible length) is skipped up to the next marker byte. Returns the
// number of leading bytes used up (frames and skipped garbage); a partial frame stays.
int splitFrames(const uint8_t* buffer, int length, const std::function<void(const Frame&)>& onFrame);

// The error for a reply status other than 0 (see the command table of the hub).
Error statusError(int status, int command);

}  // namespace kestra::hub
