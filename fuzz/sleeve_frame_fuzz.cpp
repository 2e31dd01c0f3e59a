// Feeds arbitrary bytes to the sleeve's frame demultiplexer, delivered in pieces the way a
// transport buffer does (unconsumed bytes stay in front of the next piece), and to the
// command path's reply checks. Every frame handed on must lie inside the buffer; the
// demultiplexer must never consume more than it holds, and a transport-sized buffer must
// never fill without progress (a stalled channel). Replies must give a result or an error.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "platform/foundation/Bytes.h"
#include "sdk/sleeve/PellanFrame.h"
#include "sdk/sleeve/PellanTransport.h"

namespace {

using namespace kestra;

constexpr size_t kTransportBuffer = 4112;

class CheckingSink : public pellan::FrameSink {
 public:
  const uint8_t* begin = nullptr;
  const uint8_t* end = nullptr;
  uint8_t checksum = 0;
  void onFrame(const pellan::RoutedFrame& f) override {
    if (f.frame < begin || f.frame + f.frameLength > end) abort();
    if (f.kind != pellan::FrameKind::OversizeReply &&
        f.frameLength != f.dataLength + pellan::kFrameHeaderSize)
      abort();
    if (f.frameLength > pellan::kMaxFrameSize) abort();
    for (size_t i = 0; i < f.frameLength; ++i) checksum ^= f.frame[i];  // touch every byte
  }
};

class ReplyLink : public PellanLink {
 public:
  PellanTransport* transport = nullptr;
  const uint8_t* reply = nullptr;
  size_t replyLength = 0;
  bool write(int, const uint8_t*, size_t) override {
    transport->storeReply(reply, replyLength);
    return true;
  }
  bool isOpen() const override { return true; }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const int nChannels = (data[0] & 1) ? 2 : 1;
  const int channel = (data[0] >> 1) & 3;
  const size_t piece = size_t(data[1]) + 1;
  data += 2;
  size -= 2;

  // 1. The byte stream in pieces.
  foundation::Bytes held;
  CheckingSink sink;
  for (size_t off = 0; off < size; off += piece) {
    const size_t n = std::min(piece, size - off);
    if (held.size() + n > kTransportBuffer) {
      // The transport's buffer is full: the demultiplexer must have consumed by now.
      abort();
    }
    held.insert(held.end(), data + off, data + off + n);
    sink.begin = held.data();
    sink.end = held.data() + held.size();
    const size_t used = pellan::demultiplex(channel, held.data(), held.size(), nChannels, sink);
    if (used > held.size()) abort();
    held.erase(held.begin(), held.begin() + long(used));
    if (held.size() >= pellan::kMaxFrameSize + pellan::kFrameHeaderSize) abort();
  }

  // 2. The same bytes as the reply to a command.
  static auto link = std::make_shared<ReplyLink>();
  static PellanTransport transport;
  transport.connState = 2;
  transport.nChannels = nChannels;
  transport.setLink(link);
  transport.setResponseTimeout(foundation::Duration::zero());  // a short reply is lost at once
  link->transport = &transport;
  link->reply = data;
  link->replyLength = size;
  foundation::Error error;
  const auto result = transport.sendCommand(channel, size ? data[size / 2] : 0, nullptr, 0,
                                            false, &error);
  if (!result && error.code == 0) abort();
  return 0;
}
