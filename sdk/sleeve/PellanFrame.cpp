#include "sdk/sleeve/PellanFrame.h"

namespace kestra::pellan {

void appendFrame(foundation::Bytes& out, uint8_t code, uint8_t direction, uint8_t messageId,
                 const uint8_t* data, size_t len) {
  out.reserve(out.size() + kFrameHeaderSize + (data ? len : 0));
  out.push_back(kFrameMarker);
  out.push_back(uint8_t(len >> 8));
  out.push_back(uint8_t(len));
  out.push_back(code);
  out.push_back(direction);
  out.push_back(messageId);
  if (data && len) out.insert(out.end(), data, data + len);
}

foundation::Bytes makeFrame(uint8_t code, uint8_t direction, uint8_t messageId,
                            const foundation::Bytes& data) {
  foundation::Bytes out;
  appendFrame(out, code, direction, messageId, data.data(), data.size());
  return out;
}

FrameKind classifyFrame(int arrivalChannel, uint8_t rawCode, int nChannels, int* channel,
                        uint8_t* code) {
  int ch;
  uint8_t c = rawCode;
  if (nChannels < 2) {
    if ((rawCode & 0xF0) == kChannelOneFold) {
      ch = 1;
      c = uint8_t(rawCode - kChannelOneFold);
    } else {
      ch = 0;
    }
  } else {
    ch = arrivalChannel;
  }
  *channel = ch;
  *code = c;

  if (ch == 0) {
    switch (c) {
      case 0x02: case 0x05: case 0x06: case 0x25: case 0x38: case 0x45: case 0x47: case 0x49:
        return FrameKind::Event;
      case 0x1E:
        return FrameKind::BluetoothEvent;
      case 0x1F: case 0x26:
        return FrameKind::RfData;
      case 0x3D:
        return FrameKind::IClass;
      case 0x51:
        return FrameKind::Generic;
      default:
        return FrameKind::Reply;
    }
  }
  if (ch == 1) {
    switch (c) {
      case 0x02: case 0x03: case 0x05: case 0x06:
        return FrameKind::Event;
      default:
        return FrameKind::Reply;
    }
  }
  // Any other channel: only track data is an event.
  return c == 0x02 ? FrameKind::Event : FrameKind::Reply;
}

size_t demultiplex(int arrivalChannel, const uint8_t* buffer, size_t length, int nChannels,
                   FrameSink& sink) {
  if (length == 0) return 0;
  if (buffer[0] != kFrameMarker) return length;  // not a frame start: drop the delivery
  size_t pos = 0;
  while (length - pos >= kFrameHeaderSize) {
    const uint8_t* f = buffer + pos;
    // Every frame must start with the marker; anything else means the stream lost its
    // place, and the rest of this delivery cannot be trusted.
    if (f[0] != kFrameMarker) return length;
    const size_t n = foundation::readBE16(f + 1);
    const uint8_t direction = f[4];
    if (direction != kDirectionToHost) return length;
    if (n + kFrameHeaderSize > kMaxFrameSize) {
      // No valid frame is this long; waiting for its bytes would stall the channel (the
      // transport's buffer may never hold them). Tell the command in flight, then drop.
      int ch;
      uint8_t code;
      if (classifyFrame(arrivalChannel, f[3], nChannels, &ch, &code) == FrameKind::Reply)
        sink.onFrame(RoutedFrame{FrameKind::OversizeReply, ch, code, f, kFrameHeaderSize, n});
      return length;
    }
    if (length - pos < n + kFrameHeaderSize) break;
    int ch;
    uint8_t code;
    const FrameKind kind = classifyFrame(arrivalChannel, f[3], nChannels, &ch, &code);
    sink.onFrame(RoutedFrame{kind, ch, code, f, n + kFrameHeaderSize, n});
    pos += n + kFrameHeaderSize;
  }
  return pos;
}

}  // namespace kestra::pellan
