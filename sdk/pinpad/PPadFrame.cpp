#include "sdk/pinpad/PPadFrame.h"

#include <cstring>

namespace kestra::ppad {

uint8_t xorCheck(const uint8_t* data, size_t len) {
  uint8_t x = 0;
  for (size_t i = 0; i < len; ++i) x ^= data[i];
  return x;
}

void appendFrame(foundation::Bytes& out, uint8_t group, const uint8_t* data, size_t len) {
  const size_t start = out.size();
  out.reserve(start + len + kFrameOverhead);
  out.push_back(kMarker);
  out.push_back(group);
  out.push_back(0x00);
  out.push_back(uint8_t(len >> 8));
  out.push_back(uint8_t(len));
  if (data && len) out.insert(out.end(), data, data + len);
  out.push_back(xorCheck(out.data() + start, out.size() - start));
}

foundation::Bytes makeFrame(uint8_t group, const foundation::Bytes& data) {
  foundation::Bytes out;
  appendFrame(out, group, data.data(), data.size());
  return out;
}

size_t demultiplex(const uint8_t* buffer, size_t length, PacketSink& sink) {
  size_t consumed = 0;
  while (consumed < length) {
    const void* found = std::memchr(buffer + consumed, kMarker, length - consumed);
    if (!found) {
      // Bytes without a marker can never begin a packet: drop them, so that a long run of
      // noise cannot fill the receive buffer and stall the link.
      consumed = length;
      break;
    }
    size_t at = size_t(static_cast<const uint8_t*>(found) - buffer);
    if (at + 1 < length && buffer[at + 1] == kMarker) ++at;
    const size_t avail = length - at;
    if (avail < kHeaderSize) {
      consumed = at;
      break;
    }
    const size_t n = foundation::readBE16(buffer + at + 3);
    if (n > kMaxPacketData) {
      consumed = at + 1;  // cannot be a packet we could ever hold: drop the marker, resync
      continue;
    }
    if (avail < n + kFrameOverhead) {
      consumed = at;
      break;
    }
    sink.onPacket(Packet{buffer + at, n});
    consumed = at + n + kFrameOverhead;
  }
  return consumed;
}

}  // namespace kestra::ppad
