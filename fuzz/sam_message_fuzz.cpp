// Feeds arbitrary bytes to the iClass SAM message layer: the TLV reader on the whole input,
// and the dispatcher with the input cut into SAM frames that arrive one per host write (RF
// requests, acknowledgements, answers of every node, bad status words, oversized input).
// Nothing may read outside what it was given, and every result must be a count or an error.
#include <atomic>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <thread>

#include "platform/foundation/Clock.h"
#include "sdk/rf/IClassSam.h"

namespace {

using foundation::Bytes;

const uint8_t* gData = nullptr;
size_t gLeft = 0;

// Each host write is followed by the next length-prefixed piece of the input as SAM bytes.
class FuzzSam final : public kestra::IClassTransport {
 public:
  int iClassWrite(const uint8_t*, int) override {
    if (gLeft == 0) return 0;
    const size_t n = std::min<size_t>(size_t(gData[0]) * 3, gLeft - 1);
    kestra::iClassDataAvailable(gData + 1, int(n));
    gData += n + 1;
    gLeft -= n + 1;
    return 0;
  }
  int iClassRFCommand(int, int, int, const uint8_t* data, int length, Bytes* out, int) override {
    if (length % 3 == 0) return -6;
    out->assign(data, data + length);
    return length;
  }
};

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestra;
  if (size < 1) return 0;
  size_t at = 0;
  while (at < size) {
    size_t used = 0;
    auto t = tlvParse(data + at, size - at, &used);
    if (!t) break;
    if (used == 0 || used > size - at || t->value.size() > used) std::abort();
    at += used;
  }
  tlvFind1(data, size, 0x80);
  tlvFind1(data, size, 0x9F26);

  // The dispatcher waits on the clock; a manual one lets silence end at once.
  foundation::ScopedManualClock clock;
  iClassSetTransport(std::make_shared<FuzzSam>());
  gData = data;
  gLeft = size;
  std::atomic<bool> done{false};
  int result = 0;
  Bytes out;
  std::thread command([&] {
    result = data[0] & 1 ? samCommandGetContentElement(4, data, int(std::min<size_t>(size, 8)), nullptr, 0, &out)
                         : samCommandProcessConfigCard();
    done = true;
  });
  // Moves the clock past a wait as soon as one begins, and stops the moment the command ends:
  // waiting a slice of real time for a wait that will not come again cost most of each run.
  while (!done) {
    if (clock->waiters() > 0)
      clock->advance(std::chrono::milliseconds(2001));
    else
      std::this_thread::yield();
  }
  command.join();
  if (result > 0 && size_t(result) != out.size()) std::abort();
  iClassSetTransport(nullptr);
  return 0;
}
