// Feeds arbitrary bytes to the pinpad's packet reader, delivered in pieces the way a
// transport buffer does (unconsumed bytes stay in front of the next piece), and to the
// command path as the response to a command. Every packet handed on must lie inside the
// buffer; the reader must never consume more than it holds, and a receive buffer must never
// fill without progress (a stalled link). A command must end with a result code.
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <memory>

#include "platform/foundation/Bytes.h"
#include "sdk/pinpad/PPadFrame.h"
#include "sdk/pinpad/PPadTransport.h"

namespace {

using namespace kestra;

constexpr size_t kReceiveBuffer = 4096;

class CheckingSink : public ppad::PacketSink {
 public:
  const uint8_t* begin = nullptr;
  const uint8_t* end = nullptr;
  uint8_t checksum = 0;
  void onPacket(const ppad::Packet& p) override {
    if (p.start < begin || p.start + p.frameLength() > end) abort();
    if (p.dataLength > ppad::kMaxPacketData) abort();
    for (size_t i = 0; i < p.frameLength(); ++i) checksum ^= p.start[i];  // touch every byte
  }
};

// Answers every command with the fuzz bytes, split into packets as the reader would.
class ReplyLink : public PPadLink {
 public:
  PPadTransport* transport = nullptr;
  const uint8_t* reply = nullptr;
  size_t replyLength = 0;
  bool write(const uint8_t*, size_t) override {
    struct Store : ppad::PacketSink {
      PPadTransport* t;
      void onPacket(const ppad::Packet& p) override {
        if (p.type() == ppad::kTypeResponse) t->storeResponse(p.body(), p.bodyLength());
      }
    } store;
    store.t = transport;
    ppad::demultiplex(reply, replyLength, store);
    return true;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  const size_t piece = size_t(data[0]) + 1;
  data += 1;
  size -= 1;

  // 1. The byte stream in pieces.
  foundation::Bytes held;
  CheckingSink sink;
  for (size_t off = 0; off < size; off += piece) {
    const size_t n = std::min(piece, size - off);
    if (held.size() + n > kReceiveBuffer) abort();  // the reader must have consumed by now
    held.insert(held.end(), data + off, data + off + n);
    sink.begin = held.data();
    sink.end = held.data() + held.size();
    const size_t used = ppad::demultiplex(held.data(), held.size(), sink);
    if (used > held.size()) abort();
    held.erase(held.begin(), held.begin() + long(used));
    if (held.size() >= ppad::kMaxPacketData + ppad::kFrameOverhead) abort();
  }

  // 2. The same bytes as the response to a command.
  static auto link = std::make_shared<ReplyLink>();
  static PPadTransport transport;
  transport.connState = 2;
  transport.setLink(link);
  link->transport = &transport;
  link->reply = data;
  link->replyLength = size;
  foundation::Bytes out;
  const int r = transport.command(0x36, {0x09}, &out, false, foundation::Duration::zero());
  if (r < 0 || r > 255) abort();
  if (out.size() > PPadTransport::kMaxResponseData) abort();
  return 0;
}
