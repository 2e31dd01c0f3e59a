// Pass-through commands the link uses: the encrypted head's transport and the EMV kernel's
// command channel (kernel detection).
#include <cstring>

#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadImpl.h"

namespace kestra {

namespace {
constexpr uint8_t kGroupEmsr = 0x3B;
constexpr uint8_t kGroupEmv2 = 0x3C;
constexpr uint8_t kGroupEmv2New = 0x3E;
constexpr uint32_t kHeadServedByFirmware = 0x02042605;
}  // namespace

int PPad::emsrCommand(const uint8_t* data, int length, uint8_t* out, int outCapacity, int* outLength) {
  uint32_t firmware;
  {
    std::lock_guard<std::mutex> lock(d_->identityMutex);
    firmware = d_->devInfo.firmwareVersion;
  }
  if (firmware > kHeadServedByFirmware) return ppad::kNotSupported;
  if (length < 0 || (!data && length > 0)) return ppad::kInvalidParameter;
  Bytes reply;
  const int r = d_->command(kGroupEmsr, Bytes(data, data + length), &reply);
  if (r != 0) return r;
  if (int(reply.size()) > outCapacity) return ppad::kFailed;  // never past the caller's buffer
  if (out && !reply.empty()) std::memcpy(out, reply.data(), reply.size());
  if (outLength) *outLength = int(reply.size());
  return 0;
}

int PPad::emv2Command(const uint8_t* data, int length, Bytes* result) {
  if (length < 0 || (!data && length > 0)) return ppad::kInvalidParameter;
  const uint8_t group = (d_->emvKernelType & 4) ? kGroupEmv2New : kGroupEmv2;
  Bytes reply;
  const int r = d_->command(group, Bytes(data, data + length), &reply);
  if (r == 0 && result) result->assign(reply.size() > 2 ? reply.begin() + 2 : reply.end(), reply.end());
  return r;
}

}  // namespace kestra
