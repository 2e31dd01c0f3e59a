// Feeds arbitrary bytes to the hub's firmware file reader. It must refuse or describe the
// file without reading outside it; a described file always has a model and a name.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "sdk/hub/USBManager.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  static auto hub = kestra::USBManager::create();
  const foundation::Bytes file(data, data + size);
  foundation::Error error;
  auto info = hub->getFirmwareFileInformation(file, &error);
  if (info && (info->deviceModel.empty() || info->deviceName.empty())) abort();
  if (!info && error.code != -21) abort();
  return 0;
}
