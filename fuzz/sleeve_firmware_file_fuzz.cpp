// Feeds arbitrary bytes to the sleeve firmware file reader and the name and model rules
// that match a file to a sleeve. A file is read or refused with -21; nothing is read past
// its end.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "sdk/sleeve/PellanFirmwareFile.h"

using namespace kestra;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const foundation::Bytes file(data, data + size);
  foundation::Error error;
  const auto info = pellan::readFirmwareFile(file, &error);
  if (!info) {
    if (error.code != -21) abort();
    return 0;
  }
  if (info->deviceModel.empty() || info->deviceName.empty() || info->deviceModel.size() > 16 ||
      info->deviceName.size() > 16)
    abort();
  pellan::firmwareModelEqual(info->deviceModel, info->deviceName);
  pellan::firmwareModelEqual(info->deviceName, info->deviceModel);
  pellan::firmwareNameEqual(info->deviceName, info->deviceModel);
  pellan::firmwareNameEqual("ZizoriD" + info->deviceName, "HC" + info->deviceName);
  return 0;
}
