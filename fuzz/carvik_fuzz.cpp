// Feeds arbitrary bytes to the serial adapter's packet reader (in pieces, the way the
// accessory stream offers them, unconsumed bytes kept in front) and to its firmware file
// reader. The reader must never consume more than it holds nor stall a full buffer; the
// file reader must refuse or describe the file without reading outside it.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "sdk/hub/CarvikStream.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto adapter = kestra::CarvikStream::create();
  constexpr size_t kTransportBuffer = 4112;
  foundation::Bytes held;
  size_t pos = 0;
  while (pos < size) {
    const size_t piece = std::min(size - pos, size_t(data[pos]) + 1);
    held.insert(held.end(), data + pos, data + pos + piece);
    pos += piece;
    const int used = adapter->accessoryData(0, held.data(), int(held.size()));
    if (used < 0 || size_t(used) > held.size()) abort();
    held.erase(held.begin(), held.begin() + used);
    if (held.size() >= kTransportBuffer) abort();
  }
  adapter->clear();
  foundation::Error error;
  const foundation::Bytes file(data, data + size);
  if (!adapter->getFirmwareFileInformation(file, &error) && error.code != -21) abort();
  return 0;
}
