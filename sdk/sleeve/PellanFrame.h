#pragma once
// The sleeve's packet framing: building host frames and splitting the device's byte stream
// into replies and events.
//
// A frame is [0x00][length N, 2 bytes big-endian][code][direction][message id][N data bytes];
// host frames carry direction 0x01, device frames 0x02. Replies start their data with two
// status bytes, events with two status bytes followed by the payload.
//
// Everything here is a pure function over bytes: no locks, no allocation on the parsing
// path, safe on any thread. Bad input never reads outside the buffer: a delivery that does
// not start with the marker, a frame travelling the wrong way or a frame whose declared
// length exceeds the protocol's maximum is consumed and dropped, so a corrupt length can
// never stall a channel waiting for bytes that will not come.

#include <cstddef>
#include <cstdint>

#include "platform/foundation/Bytes.h"

namespace kestra::pellan {

inline constexpr uint8_t kFrameMarker = 0x00;
inline constexpr size_t kFrameHeaderSize = 6;
// The largest frame either side sends or accepts (the driver's command buffer).
inline constexpr size_t kMaxFrameSize = 2048;
inline constexpr uint8_t kDirectionToDevice = 0x01;
inline constexpr uint8_t kDirectionToHost = 0x02;
// On a one-channel link, channel-1 codes travel on channel 0 with this offset added.
inline constexpr uint8_t kChannelOneFold = 0xE0;

// Appends a frame to `out` with `len` bytes of `data` (`data` may be null only when `len`
// is 0; the command path refuses anything else before framing).
void appendFrame(foundation::Bytes& out, uint8_t code, uint8_t direction, uint8_t messageId,
                 const uint8_t* data, size_t len);
foundation::Bytes makeFrame(uint8_t code, uint8_t direction, uint8_t messageId,
                            const foundation::Bytes& data);

// What a complete device frame is, once its code and channel are known.
enum class FrameKind {
  Reply,         // answer to the command in flight
  Event,         // goes to the event parser (record form, main thread)
  BluetoothEvent,  // code 0x1E: Bluetooth-module event, handled on the delivering thread
  RfData,        // codes 0x1F, 0x26: RF module data
  IClass,        // code 0x3D: iClass reader answer
  Generic,       // code 0x51: generic event to `handleEvent`
  OversizeReply  // a reply-classed frame whose declared length exceeds kMaxFrameSize;
                 // only its header is present in `frame`
};

struct RoutedFrame {
  FrameKind kind;
  int channel;          // the logical channel (0 or 1, or the arrival channel for others)
  uint8_t code;         // the logical code (channel-1 codes with the fold removed)
  const uint8_t* frame; // the whole frame (header included); for OversizeReply the header
  size_t frameLength;   // N + 6 (for OversizeReply only the header's 6 bytes are readable)
  size_t dataLength;    // N
  const uint8_t* data() const { return frame + kFrameHeaderSize; }
};

class FrameSink {
 public:
  virtual ~FrameSink() = default;
  virtual void onFrame(const RoutedFrame& frame) = 0;
};

// Classifies one frame's code by the channel it arrived on and the link's channel count.
// Returns the logical channel and code through the out-parameters.
FrameKind classifyFrame(int arrivalChannel, uint8_t rawCode, int nChannels, int* channel,
                        uint8_t* code);

// Splits the held bytes of one channel into frames, hands each complete frame to `sink` in
// order and returns how many leading bytes were consumed (whole frames, or dropped
// garbage). A partial frame at the end is left for the next delivery.
size_t demultiplex(int arrivalChannel, const uint8_t* buffer, size_t length, int nChannels,
                   FrameSink& sink);

}  // namespace kestra::pellan
