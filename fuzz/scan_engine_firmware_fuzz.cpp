// Feeds arbitrary bytes as Intermec and Zebra engine firmware files. Whatever they state, the
// layouts returned must lie inside the file: the identifier list and payload start of an
// Intermec file, every record body of a Zebra file, records in order and not overlapping.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "sdk/device/ScanEngineFirmwareFiles.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestra::scanengine;
  const foundation::Bytes file(data, data + size);
  if (const auto intermec = parseIntermecFile(file)) {
    if (intermec->payloadOffset > size) std::abort();
    if (8 + 4 * intermec->engines.size() > size) std::abort();
  }
  if (const auto records = parseZebraFile(file)) {
    size_t next = 8;
    for (const auto& r : *records) {
      if (r.offset < next || r.offset + 4 + r.length > size) std::abort();
      next = r.offset + 4 + r.length;
    }
  }
  return 0;
}
