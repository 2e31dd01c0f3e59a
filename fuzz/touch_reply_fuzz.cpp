// Feeds arbitrary fingerprint-module replies to the device API: the reply parser itself, and
// every command that reads a reply (slot lists, identities, templates, the finger image read
// in pieces) over a transport that answers each request with the input. Also reads the input
// as PEM text. Nothing may read past a buffer, throw, or loop without end.
#include <cstddef>
#include <cstdint>
#include <string>

#include "sdk/device/KXDevicesInternal.h"
#include "sdk/device/KXDevicesTestSupport.h"

using namespace kestra;
using namespace kestra::testing;

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const Bytes reply(data, data + size);
  Error e;
  touchParseResponse(reply, &e);
  touchParseResponseAsString(reply, &e);
  ConvertPEM2Data(std::string(reply.begin(), reply.end()));

  ApiFixture f;
  f.api->setTouchTransport([&reply](const Bytes&, Error*) { return std::optional<Bytes>(reply); });
  int slot = 0;
  f.api->touchEnrolIdentityString("id", &slot, &e);
  f.api->touchListSlots(&e);
  f.api->touchCheckIdentity(&e);
  f.api->touchGetTemplateWithFormat(1, &e);
  f.api->touchSetTemplateWithFormat(1, Bytes{1, 2}, &slot, &e);
  f.api->touchGetIdentityWithImageSize(1, 1, 0, &e);
  return 0;
}
