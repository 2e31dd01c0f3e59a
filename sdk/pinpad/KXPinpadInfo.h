#pragma once
// Value records of the pinpad: its system information (`KXPinpadInfo`, made from the
// record the pinpad reports, without a command) and one key slot (`KXKeyInfo`, filled by
// the device API from the pinpad's key inventory).

#include <cstdint>
#include <optional>
#include <string>

#include "platform/foundation/Bytes.h"

namespace kestra {

struct KXPinpadInfo {
  foundation::Bytes cpuSerial;       // 16 bytes
  std::string cpuSerialString;       // the same as upper-case hex without spaces
  uint32_t cpuVersion = 0;
  uint32_t cpuLoaderVersion = 0;
  uint32_t cpuHALVersion = 0;
  foundation::Bytes pinpadSerial;    // 4 bytes, most significant first
  std::string pinpadSerialString;    // "%u"
  std::string loaderName;
  uint32_t loaderVersion = 0;
  std::string fwName;
  uint32_t fwVersion = 0;
};

struct KXKeyInfo {
  int position = 0;
  foundation::Bytes checkValue;
  std::optional<foundation::Bytes> ksn;  // DUKPT keys only
  int type = 0;
  std::string usage;
  int8_t mode = 0;
  int version = 0;

  bool isDUKPTKey() const { return ksn.has_value(); }
  // "DUKPT_3DES_112", "AES_128", ... ; "Unknown" for other types.
  std::string typeString() const;
};

}  // namespace kestra
