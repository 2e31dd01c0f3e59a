// Uses the installed SDK's public headers and library; exits 0 when the answers are right.
#include <cstdio>

#include "sdk/device/KXDevices.h"
#include "sdk/foundation/KXUNISDKGlobals.h"

int main() {
  const kestra::Error e = kestra::ppadError(41);
  const uint8_t check[] = {'1', '2', '3', '4', '5', '6', '7', '8', '9'};
  const bool ok = e.code == -16508 && e.text == "There is no data to be returned" &&
                  kestra::KXUNISDKGlobals::crc16ccit(check, 9, 0) == 0x31C3;
  std::printf("%s\n", ok ? "KestraSDK ok" : "KestraSDK wrong answers");
  return ok ? 0 : 1;
}
