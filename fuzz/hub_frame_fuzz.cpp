// Feeds arbitrary bytes to the hub's frame splitter in pieces, the way the accessory
// stream's buffer offers them (unconsumed bytes stay in front of the next piece). Every
// frame handed on must lie inside the buffer, the splitter must never consume more than it
// holds, and a transport-sized buffer must never fill without progress.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "platform/foundation/Bytes.h"
#include "sdk/hub/HubFrame.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  constexpr size_t kTransportBuffer = 4112;
  foundation::Bytes held;
  size_t pos = 0;
  while (pos < size) {
    // The first byte of each piece says how long the piece is.
    const size_t piece = std::min(size - pos, size_t(data[pos]) + 1);
    held.insert(held.end(), data + pos, data + pos + piece);
    pos += piece;
    const uint8_t* begin = held.data();
    const uint8_t* end = begin + held.size();
    const int used = kestra::hub::splitFrames(begin, int(held.size()), [&](const kestra::hub::Frame& f) {
      if (f.raw < begin || f.raw + f.rawLength > end || f.data + f.length > end) abort();
      if (f.length > kestra::hub::kMaxData) abort();
    });
    if (used < 0 || size_t(used) > held.size()) abort();
    held.erase(held.begin(), held.begin() + used);
    if (held.size() >= kTransportBuffer) abort();
  }
  return 0;
}
