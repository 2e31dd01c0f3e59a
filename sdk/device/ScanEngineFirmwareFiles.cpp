#include "sdk/device/ScanEngineFirmwareFiles.h"

#include <algorithm>

namespace kestra::scanengine {

namespace {
constexpr uint8_t kIntermecMagic[6] = {0x33, 0x05, 0x61, 0x39, 0x98, 0x58};
constexpr size_t kZebraHeader = 8;
constexpr size_t kZebraTail = 11;
}  // namespace

std::optional<IntermecFile> parseIntermecFile(const foundation::Bytes& file) {
  if (file.size() < 8 || !std::equal(std::begin(kIntermecMagic), std::end(kIntermecMagic), file.begin()))
    return std::nullopt;
  const size_t n = foundation::readBE16(file.data() + 6);
  IntermecFile out;
  out.payloadOffset = 16 + 4 * n;
  if (out.payloadOffset > file.size()) return std::nullopt;
  for (size_t i = 0; i < n; ++i) out.engines.push_back(foundation::readBE32(file.data() + 8 + 4 * i));
  return out;
}

std::optional<std::vector<ZebraRecord>> parseZebraFile(const foundation::Bytes& file) {
  std::vector<ZebraRecord> out;
  for (size_t at = kZebraHeader; file.size() > kZebraTail && at < file.size() - kZebraTail;) {
    const size_t n = file[at];
    if (at + 4 + n > file.size()) return std::nullopt;
    out.push_back({at, n});
    at += 4 + n;
  }
  if (out.empty()) return std::nullopt;
  return out;
}

}  // namespace kestra::scanengine
