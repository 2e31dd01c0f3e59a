// Feeds arbitrary bytes to the HID report decoders and to the hub readers' report parsers
// (serial barcode lines, magnetic-stripe reports), as one report and cut into reports, and
// the hidraw identity reader (a sysfs uevent text). No
// parser may read outside its input or grow its text past its bound.
#include <cstddef>
#include <cstdint>
#include <cstdlib>

#include "sdk/hub/HidDecode.h"
#include "sdk/hub/HidrawReader.h"
#include "sdk/hub/HubReaders.h"

namespace {
struct Sink final : kestra::HidKeyReceiver {
  void keyboardButtonPressed(bool, int vk, signed char, int) override {
    if (vk <= 0 || vk > 0xFF) abort();
  }
};
}  // namespace

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  const foundation::Bytes copy(data, data + size);
  const int n = int(size > 100000 ? 100000 : size);
  if (kestra::processHIDData(copy.data(), n).size() > kestra::kHidMaxText) abort();
  Sink sink;
  kestra::processHIDEvents(&sink, copy.data(), n);

  static auto serial = [] {
    auto b = kestra::BarcodeHID::create();
    b->accessoryShouldConnect("fuzz", {"serial.barcode"});
    return b;
  }();
  static auto msr = kestra::Magtek::create();
  // Reports of the length the first byte gives, then the rest in one.
  size_t pos = 0;
  while (pos < copy.size()) {
    const size_t piece = std::min(copy.size() - pos, size_t(copy[pos]) + 1);
    const foundation::Bytes report(copy.begin() + long(pos), copy.begin() + long(pos + piece));
    serial->accessoryData(0, report.data(), int(report.size()));
    msr->accessoryData(1, report.data(), int(report.size()));
    pos += piece;
  }
  kestra::HidrawDevice device;
  (void)kestra::parseHidUevent(std::string(copy.begin(), copy.end()), device);
  return 0;
}
