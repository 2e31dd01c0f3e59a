#pragma once
// The pinpad's packet framing: building host frames and splitting the pinpad's byte
// stream into packets.
//
// A host frame is [">"][group][0x00][length N, 2 bytes big-endian][N data bytes][XOR of
// every byte before it]; the data is the sub-command byte and its arguments. A pinpad
// packet is [">"][type][status][length N, big-endian][N data bytes][check byte]; the check
// byte is not verified (the pinpad does not always fill it), so a packet is told only by
// its marker and its length.
//
// Everything here is a pure function over bytes: no locks, safe on any thread. Bad input
// never reads outside the buffer. Bytes before a marker (or without one) are consumed as
// garbage; a packet
// whose declared length could never fit in a transport's receive buffer is dropped marker
// by marker (the search goes on after it), so a corrupt length never stalls the link
// waiting for bytes that will not come. A partial packet at the end is left for the next
// delivery.

#include <cstddef>
#include <cstdint>

#include "platform/foundation/Bytes.h"

namespace kestra::ppad {

inline constexpr uint8_t kMarker = 0x3E;  // '>'
inline constexpr size_t kHeaderSize = 5;  // marker, type/group, status/0, length
inline constexpr size_t kFrameOverhead = 6;  // header and check byte
// The longest packet data the reader waits for: a whole packet must fit in the 4,096-byte
// receive buffer of a stream pair.
inline constexpr size_t kMaxPacketData = 4096 - kFrameOverhead;

// Packet types the link layer routes itself; everything else is an event.
inline constexpr uint8_t kTypeResponse = 0x00;
inline constexpr uint8_t kTypeBluetooth = 0x09;
inline constexpr uint8_t kTypeRfData = 0x0A;
inline constexpr uint8_t kTypeDebug = 0x0C;
inline constexpr uint8_t kTypeBorica = 0x0E;
inline constexpr uint8_t kTypeBoricaInternet = 0x0F;
inline constexpr uint8_t kTypePog = 0x10;

// Appends the host frame for `group` with `len` bytes of `data` (null only when `len` is 0).
// `len` must be at most 65,535; the command layer refuses longer data before framing.
void appendFrame(foundation::Bytes& out, uint8_t group, const uint8_t* data, size_t len);
foundation::Bytes makeFrame(uint8_t group, const foundation::Bytes& data);
// XOR of `len` bytes.
uint8_t xorCheck(const uint8_t* data, size_t len);

// One complete pinpad packet inside the buffer handed to `demultiplex`.
struct Packet {
  const uint8_t* start;  // the marker
  size_t dataLength;     // N
  uint8_t type() const { return start[1]; }
  uint8_t status() const { return start[2]; }
  const uint8_t* data() const { return start + kHeaderSize; }
  // From the type byte on, without the check byte: N + 4 bytes (what the command buffer
  // collects and what the event parser receives).
  const uint8_t* body() const { return start + 1; }
  size_t bodyLength() const { return dataLength + 4; }
  size_t frameLength() const { return dataLength + kFrameOverhead; }
};

class PacketSink {
 public:
  virtual ~PacketSink() = default;
  virtual void onPacket(const Packet& packet) = 0;
};

// Splits `buffer` into packets, hands each complete one to `sink` in order and returns how
// many leading bytes were consumed (whole packets and the garbage before them). When the
// byte after a marker is a marker too, the packet starts at the second one.
size_t demultiplex(const uint8_t* buffer, size_t length, PacketSink& sink);

}  // namespace kestra::ppad
