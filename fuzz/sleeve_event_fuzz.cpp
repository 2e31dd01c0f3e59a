// Feeds arbitrary event records to the sleeve driver's event parsers: the record form that
// the frame splitter hands to the main queue ([channel][code][st1][st2][payload...]) and the
// Bluetooth-module events handled on the delivering thread. A delegate that implements every
// callback receives whatever they deliver; nothing may read outside the record.
#include <chrono>
#include <cstddef>
#include <cstdint>
#include <cstdlib>
#include <filesystem>

#include "platform/foundation/RunLoop.h"
#include "sdk/sleeve/Pellan.h"
#include "testing/devices/sleeve/SleeveTestBench.h"

extern "C" int LLVMFuzzerTestOneInput(const uint8_t* data, size_t size) {
  if (size < 1) return 0;
  // A driver over a private accessory folder, never connected: events are parsed all the same.
  // It lives as long as the process; its folder goes when the process ends.
  static auto* bench = [] {
    auto* made = new devices::SleeveTestBench();
    static const std::filesystem::path folder = made->folder;
    std::atexit([] {
      std::error_code ec;
      std::filesystem::remove_all(folder, ec);
    });
    return made;
  }();
  foundation::Bytes record(data + 1, data + size);
  if (data[0] & 1) {
    bench->pellan->processBTEvents(record);
  } else {
    bench->pellan->processData(std::move(record));
  }
  foundation::RunLoop::main().runOnce(std::chrono::milliseconds(0));
  bench->delegate->clear();
  return 0;
}
