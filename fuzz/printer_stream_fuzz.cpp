// Feeds arbitrary bytes to the printer's protocol-mode stream splitter, delivered in pieces
// the way a transport buffer does (unconsumed bytes stay in front of the next piece), and
// judges every reply it hands on. Every reply and event must lie inside the buffer, the
// splitter must never consume more than it holds, and a transport-sized buffer must never
// fill without progress.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/foundation/Bytes.h"
#include "sdk/printer/PrinterFrame.h"

namespace {

using namespace kestra;

constexpr size_t kTransportBuffer = 4112;

class CheckingSink : public printer::StreamSink {
 public:
  const uint8_t* begin = nullptr;
  const uint8_t* end = nullptr;
  uint8_t channel = 1;
  uint32_t touched = 0;
  void check(const uint8_t* p, size_t n) {
    if (p < begin || p + n > end) abort();
    for (size_t i = 0; i < n; ++i) touched += p[i];
  }
  void onReply(const uint8_t* r, size_t n) override {
    check(r, n);
    if (n != printer::kHeaderSize + printer::replyDataLength(r) || n > printer::kReceiveBufferSize) abort();
    (void)printer::judgeReply(channel, r);
  }
  void onOversizeReply(const uint8_t* h) override {
    check(h, printer::kHeaderSize);
    if (printer::kHeaderSize + printer::replyDataLength(h) <= printer::kReceiveBufferSize) abort();
  }
  void onEvent(const uint8_t* e) override {
    check(e, printer::kEventSize);
    if (e[0] & 0x80) abort();
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 2) return 0;
  const size_t piece = size_t(data[0]) + 1;
  CheckingSink sink;
  sink.channel = data[1];
  data += 2;
  size -= 2;
  foundation::Bytes held;
  for (size_t off = 0; off < size; off += piece) {
    const size_t n = std::min(piece, size - off);
    if (held.size() + n > kTransportBuffer) abort();
    held.insert(held.end(), data + off, data + off + n);
    sink.begin = held.data();
    sink.end = held.data() + held.size();
    const size_t used = printer::splitProtocolStream(held.data(), held.size(), sink);
    if (used > held.size()) abort();
    held.erase(held.begin(), held.begin() + long(used));
    // What stays is at most one partial reply (or fewer than four bytes).
    if (held.size() >= printer::kReceiveBufferSize + printer::kHeaderSize) abort();
  }
  return 0;
}
