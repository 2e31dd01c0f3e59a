// Answers every command of the encrypted-head library with arbitrary bytes: the reply parser
// and the functions that read fields out of replies must return a code, never read or write
// outside the packet buffer or their outputs.
#include <cstddef>
#include <cstdint>
#include <cstring>

#include "sdk/foundation/EMSRDeviceInfo.h"
#include "sdk/foundation/Emsr.h"

namespace {

const uint8_t* gReply = nullptr;
size_t gReplySize = 0;

int fuzzTransport(void*, const uint8_t*, int, uint8_t* reply, int, int) {
  if (gReplySize == 0) return -1;
  // Replies are consumed in slices so that multi-command functions see several answers.
  size_t n = gReply[0] % 64 + 4;
  if (n > gReplySize) n = gReplySize;
  const size_t copy = n > size_t(kestra::kEmsrPacketSize) ? size_t(kestra::kEmsrPacketSize) : n;
  std::memcpy(reply, gReply, copy);
  gReply += n;
  gReplySize -= n;
  // Occasionally claim a length the transport did not write, within the buffer.
  return (copy >= 5 && (reply[4] & 0x80)) ? kestra::kEmsrPacketSize : int(copy);
}

}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestra;
  if (size < 1) return 0;
  emsrResetState();
  int owner = 0;
  emsrSetCallbacks(&owner, fuzzTransport);
  gReply = data + 1;
  gReplySize = size - 1;

  foundation::Bytes out;
  int v = 0;
  uint32_t u = 0;
  bool b = false;
  char model[17];
  switch (data[0] % 12) {
    case 0: { EMSRInfo info; if (emsrGetInfo(&owner, &info) == 0) (void)EMSRDeviceInfo(info, 0); break; }
    case 1: { EMSRKeyInfo k; if (emsrGetKeyInfo(&owner, &k) == 0) (void)EMSRKeysInfo(k); break; }
    case 2: emsrGetDeviceModel(&owner, model); emsrGetFirmwareVersion(&owner, &v); break;
    case 3: emsrGetSecurityVersion(&owner, &v); emsrGetMaskedData(&owner, &out); break;
    case 4: emsrGetKeyVersion(&owner, 1, &u); emsrIsTampered(&owner, &b); break;
    case 5: emsrGetTracksRead(&owner, &v); emsrGetEncryptedCardData(&owner, 1, &out); break;
    case 6: { const uint8_t p[3] = {1, 2, 3}; emsrSetEncryption(&owner, 1, 2, p, 3); break; }
    case 7: emsrGetSerialNumber(&owner, &out); emsrGetDUKPTSerial(&owner, 32, &out); break;
    case 8: { const foundation::Bytes r(16, 7); emsrAuthenticate(&owner, r, &out); break; }
    case 9: {
      const foundation::Bytes fw(52 + 700, 0x5A);
      emsrUpdateFirmware(&owner, fw.data(), int(fw.size()));
      break;
    }
    case 10: {
      char name[17];
      emsrGetFirmwareInformation(&owner, data, int(size), name, &v);
      break;
    }
    default: emsrGenerateRandom(&owner, &out); emsrGetSupportedEncryptions(&owner, &out); break;
  }
  emsrResetState();
  return 0;
}
