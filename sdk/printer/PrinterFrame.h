#pragma once
// The receipt printer's framed "protocol mode": building host frames and splitting the
// printer's byte stream into replies and events.
//
// A host frame is [channel][operation][payload length, 2 bytes big-endian][payload, at most
// 380 bytes]. A reply is [channel + 0x80][status][data length, 2 bytes big-endian][data]; an
// event is 4 bytes whose first byte has bit 7 clear (byte 3 carries the event flags).
//
// Everything here is a pure function over bytes: no locks, safe on any thread. Bad input
// never reads outside the buffer given: a partial reply or event is left for the next
// delivery, and a reply that declares more data than the driver could ever hold is reported
// by its header alone and the delivery dropped, so a corrupt length cannot stall the link.

#include <cstddef>
#include <cstdint>

#include "platform/foundation/Bytes.h"

namespace kestra::printer {

inline constexpr size_t kHeaderSize = 4;
inline constexpr size_t kMaxPayload = 380;
// The driver's receive buffer; a reply longer than this can never be taken whole.
inline constexpr size_t kReceiveBufferSize = 512;
inline constexpr size_t kEventSize = 4;

// Operations.
inline constexpr uint8_t kOpOpenChannel = 0;
inline constexpr uint8_t kOpCloseChannel = 1;
inline constexpr uint8_t kOpWrite = 2;
inline constexpr uint8_t kOpRead = 3;
inline constexpr uint8_t kOpGenerateRandom = 16;
inline constexpr uint8_t kOpSetKey = 17;
inline constexpr uint8_t kOpAuthenticate = 18;

// Channels.
inline constexpr int kChannelPrint = 1;
inline constexpr int kChannelSmartCard = 2;
inline constexpr int kChannelEncryptedHead = 15;
inline constexpr int kChannelMifare = 16;
inline constexpr int kChannelLabel = 50;
// Channels 0-16 have a receive cache of their own.
inline constexpr int kChannelCount = 17;

// Reply status bits.
inline constexpr uint8_t kStatusFailure = 0x05;  // bits 0 and 2
inline constexpr uint8_t kStatusBusy = 0x02;
inline constexpr uint8_t kStatusPaperOut = 0x20;  // bit 5
inline constexpr uint8_t kStatusJobRunning = 0x80;

// Event flags (byte 3).
inline constexpr uint8_t kEventBarcode = 0x01;
inline constexpr uint8_t kEventCard = 0x02;
inline constexpr uint8_t kEventPaperPresent = 0x04;
inline constexpr uint8_t kEventEncryptedCard = 0x10;
inline constexpr uint8_t kEventPaperChanged = 0x20;

// Appends one frame; `length` must be at most kMaxPayload (callers split longer payloads).
void appendFrame(foundation::Bytes& out, uint8_t channel, uint8_t operation, const uint8_t* data,
                 size_t length);
foundation::Bytes makeFrame(uint8_t channel, uint8_t operation, const foundation::Bytes& data);

// What the printer's answer to one frame means for the command that sent it.
enum class ReplyVerdict {
  Busy,        // status bit 1: send the same frame again after a pause
  WrongChannel,  // byte 0 does not echo the channel: "Command failed with error: %d"
  Failed,      // status bit 0 or 2: "Command failed"
  Accepted,
};
// `header` holds at least kHeaderSize bytes.
ReplyVerdict judgeReply(uint8_t channel, const uint8_t* header);
inline size_t replyDataLength(const uint8_t* header) { return foundation::readBE16(header + 2); }

class StreamSink {
 public:
  virtual ~StreamSink() = default;
  // A whole reply, header included (4 + its data length bytes).
  virtual void onReply(const uint8_t* reply, size_t length) = 0;
  // A reply whose declared length could never fit the receive buffer: its header only. The
  // rest of the delivery is dropped.
  virtual void onOversizeReply(const uint8_t* header) = 0;
  // One 4-byte event.
  virtual void onEvent(const uint8_t* event) = 0;
};

// Protocol mode: hands every whole reply and event at the front of `buffer` to `sink`, in
// order, and returns how many leading bytes were consumed. A partial reply (or fewer than 4
// bytes) stays for the next delivery.
size_t splitProtocolStream(const uint8_t* buffer, size_t length, StreamSink& sink);

}  // namespace kestra::printer
