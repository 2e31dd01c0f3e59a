// Feeds arbitrary bytes to a Bluetooth module's two parsers of outside bytes: the text-line
// reader over what the module sends (first half of the input, appended in pieces) and the
// module event parser with the event handling of the sleeve's own module (second half).
// Lines must come out of the held bytes without reading past them, never longer than the
// line limit and never holding a line break; events must parse or be refused.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "sdk/transport/bluetooth/btModule.h"
#include "sdk/transport/bluetooth/btUniversal.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const size_t half = size / 2;
  foundation::Bytes held;
  for (size_t at = 0; at < half;) {
    const size_t piece = 1 + data[at] % 7;
    const size_t n = std::min(piece, half - at);
    held.insert(held.end(), data + at, data + at + n);
    at += n;
    while (auto line = kestra::btTakeLine(held, kestra::btModule::kLineMax)) {
      if (line->size() > kestra::btModule::kLineMax) std::abort();
      if (line->find_first_of("\r\n") != std::string::npos) std::abort();
    }
  }
  auto module = kestra::btUniversal::create();
  const uint8_t* events = data + half;
  const size_t left = size - half;
  for (size_t at = 0; at < left;) {
    const size_t n = std::min<size_t>(1 + events[at] % 24, left - at);
    auto e = kestra::parseBTModuleEvent(events + at, n);
    if (e && e->code == kestra::kBTEventFound && e->address.size() != 12) std::abort();
    // Link losses and closes would hand work to other threads; the rest is handled here.
    if (e && e->code != kestra::kBTEventLinkLost && e->code != kestra::kBTEventDisconnected)
      module->processEvent(events + at, n);
    at += n;
  }
  return 0;
}
