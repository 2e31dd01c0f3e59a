#pragma once
// Records of the encrypted magnetic head, built from the raw records that the command
// library fills (Emsr.h): the head's identity and versions, and its key list.

#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "sdk/foundation/Emsr.h"

namespace kestra {

struct EMSRDeviceInfo {
  std::string ident;
  foundation::Bytes serialNumber;  // 16 bytes
  std::string serialNumberString;  // 32 upper-case hex digits
  int firmwareVersion = 0;
  std::string firmwareVersionString;  // "2.14" for 214
  int securityVersion = 0;
  std::string securityVersionString;

  EMSRDeviceInfo() = default;
  // A version of 0 in `info` is replaced by `fakeVersion` (the device API passes the
  // sleeve's firmware version when the sleeve carries the head).
  EMSRDeviceInfo(const EMSRInfo& info, int fakeVersion);
  static EMSRDeviceInfo initWithInfo(const EMSRInfo& info, int fakeVersion) {
    return EMSRDeviceInfo(info, fakeVersion);
  }
};

struct EMSRKey {
  int keyID = 0;
  int keyVersion = 0;
  std::optional<foundation::Bytes> dukptKSN;  // 10 bytes, for the DUKPT keys only
  std::string keyName;
};

struct EMSRKeysInfo {
  std::vector<EMSRKey> keys;
  bool tampered = false;

  EMSRKeysInfo() = default;
  // Keys 8 and 10 are left out.
  explicit EMSRKeysInfo(const EMSRKeyInfo& info);
  static EMSRKeysInfo initWithInfo(const EMSRKeyInfo& info) { return EMSRKeysInfo(info); }

  // The name of a key id ("AES256 Authentication", "DUKPT 1", ...); "Unknown" for others.
  static std::string keyNameByID(int keyID);
  // The version of key `keyID`; 0 when the list has no such key.
  int getKeyVersion(int keyID) const;
};

}  // namespace kestra
