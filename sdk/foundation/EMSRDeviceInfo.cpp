#include "sdk/foundation/EMSRDeviceInfo.h"

#include <cstdio>
#include <cstring>

#include "sdk/foundation/KXUNISDKGlobals.h"

namespace kestra {
namespace {

std::string versionText(int v) {
  char buf[32];
  std::snprintf(buf, sizeof buf, "%d.%02d", v / 100, v % 100);
  return buf;
}

}  // namespace

EMSRDeviceInfo::EMSRDeviceInfo(const EMSRInfo& info, int fakeVersion) {
  ident.assign(info.ident, strnlen(info.ident, sizeof info.ident));
  firmwareVersion = info.firmwareVersion ? int(info.firmwareVersion) : fakeVersion;
  firmwareVersionString = versionText(firmwareVersion);
  securityVersion = info.securityVersion ? int(info.securityVersion) : fakeVersion;
  securityVersionString = versionText(securityVersion);
  serialNumber.assign(info.serialNumber, info.serialNumber + sizeof info.serialNumber);
  serialNumberString = KXUNISDKGlobals::toHexString(serialNumber.data(), serialNumber.size(), false);
}

EMSRKeysInfo::EMSRKeysInfo(const EMSRKeyInfo& info) {
  tampered = info.tampered != 0;
  const uint32_t count = std::min<uint32_t>(info.count, 20);
  for (uint32_t i = 0; i < count; ++i) {
    const EMSRKeyInfoEntry& e = info.keys[i];
    if (e.keyID == 8 || e.keyID == 10) continue;
    EMSRKey k;
    k.keyID = int(e.keyID);
    k.keyVersion = int(e.keyVersion);
    k.keyName = keyNameByID(k.keyID);
    if (e.keyID >= 32 && e.keyID <= 34) k.dukptKSN = foundation::Bytes(e.dukptKSN, e.dukptKSN + 10);
    keys.push_back(std::move(k));
  }
}

std::string EMSRKeysInfo::keyNameByID(int keyID) {
  switch (keyID) {
    case 0: return "AES256 Authentication";
    case 1: return "AES256 Encryption 1";
    case 2: return "AES256 KEK";
    case 3: return "AES256 Encryption 2";
    case 4: return "AES256 Encryption 3";
    case 9: return "AES128 Encryption 1";
    case 11: return "AES128 Encryption 2";
    case 12: return "AES128 Encryption 3";
    case 16: return "TMK";
    case 32: return "DUKPT 1";
    case 33: return "DUKPT 2";
    case 34: return "DUKPT 3";
    default: return "Unknown";
  }
}

int EMSRKeysInfo::getKeyVersion(int keyID) const {
  for (const auto& k : keys)
    if (k.keyID == keyID) return k.keyVersion;
  return 0;
}

}  // namespace kestra
