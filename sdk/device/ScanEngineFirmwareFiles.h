#pragma once
// The layouts of the Intermec and Zebra engine firmware files, read without trusting them:
// every length a file states is checked against the file's own size, and a file whose header
// or records run past its end is no file at all (nothing is returned). Pure functions; any
// thread.

#include <cstddef>
#include <cstdint>
#include <optional>
#include <vector>

#include "platform/foundation/Bytes.h"

namespace kestra::scanengine {

// An Intermec file: magic 33 05 61 39 98 58, N (big-endian 16), N engine identifiers
// (big-endian 32), 8 bytes, then the payload.
struct IntermecFile {
  std::vector<uint32_t> engines;
  size_t payloadOffset = 0;
};
std::optional<IntermecFile> parseIntermecFile(const foundation::Bytes& file);

// A Zebra file: 8 header bytes, then records [n][3 bytes][n bytes of packet body], taken while
// a record starts below the file's length less 11. At least one record.
struct ZebraRecord {
  size_t offset = 0;  // of the record's length byte
  size_t length = 0;  // of its body, which starts 4 bytes later
};
std::optional<std::vector<ZebraRecord>> parseZebraFile(const foundation::Bytes& file);

}  // namespace kestra::scanengine
