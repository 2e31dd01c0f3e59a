#include "sdk/printer/PrinterFrame.h"

namespace kestra::printer {

void appendFrame(foundation::Bytes& out, uint8_t channel, uint8_t operation, const uint8_t* data,
                 size_t length) {
  if (!data) length = 0;
  if (length > kMaxPayload) length = kMaxPayload;
  out.reserve(out.size() + kHeaderSize + length);
  out.push_back(channel);
  out.push_back(operation);
  foundation::appendBE16(out, uint16_t(length));
  if (length) out.insert(out.end(), data, data + length);
}

foundation::Bytes makeFrame(uint8_t channel, uint8_t operation, const foundation::Bytes& data) {
  foundation::Bytes out;
  appendFrame(out, channel, operation, data.data(), data.size());
  return out;
}

ReplyVerdict judgeReply(uint8_t channel, const uint8_t* header) {
  const uint8_t status = header[1];
  // A busy printer may answer without echoing the channel; busy wins.
  if (status & kStatusBusy) return ReplyVerdict::Busy;
  if (header[0] != uint8_t(channel + 0x80)) return ReplyVerdict::WrongChannel;
  if (status & kStatusFailure) return ReplyVerdict::Failed;
  return ReplyVerdict::Accepted;
}

size_t splitProtocolStream(const uint8_t* buffer, size_t length, StreamSink& sink) {
  size_t pos = 0;
  while (length - pos >= kHeaderSize) {
    const uint8_t* p = buffer + pos;
    if (p[0] & 0x80) {
      const size_t n = replyDataLength(p);
      if (kHeaderSize + n > kReceiveBufferSize) {
        sink.onOversizeReply(p);
        return length;
      }
      if (length - pos < kHeaderSize + n) break;
      sink.onReply(p, kHeaderSize + n);
      pos += kHeaderSize + n;
    } else {
      sink.onEvent(p);
      pos += kEventSize;
    }
  }
  return pos;
}

}  // namespace kestra::printer
