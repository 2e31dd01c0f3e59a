// Feeds arbitrary bytes, in arbitrary pieces, to the charging case's control and boot-loader
// readers. They must never read outside what they hold, always make progress (a buffer they
// cannot use shrinks or waits for more), and every frame they report must fit the buffer.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "sdk/device/ChargingCaseFrames.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  using namespace kestra::chargingcase;
  if (size == 0) return 0;
  // The first byte chooses how the rest is cut into reads.
  const size_t piece = size_t(data[0] % 16) + 1;
  foundation::Bytes control, boot;
  CaseReportedValues values;
  for (size_t at = 1; at < size; at += piece) {
    const size_t n = std::min(piece, size - at);
    control.insert(control.end(), data + at, data + at + n);
    boot.insert(boot.end(), data + at, data + at + n);
    applyControlReplies(control, values, nullptr);
    if (control.size() >= kControlMessageLength) std::abort();  // a whole message was left unread
    for (;;) {
      const size_t before = boot.size();
      const size_t length = scanBootloaderFrame(boot);
      if (boot.size() > before) std::abort();
      if (length == 0) break;
      if (length < kBootHeaderLength || length > boot.size()) std::abort();
      (void)bootloaderFrameCode(boot);
      if (bootloaderFramePayload(boot, length).size() != length - kBootHeaderLength) std::abort();
      boot.erase(boot.begin(), boot.begin() + long(length));
    }
  }
  return 0;
}
