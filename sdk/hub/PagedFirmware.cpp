#include "sdk/hub/PagedFirmware.h"

#include <algorithm>
#include <condition_variable>
#include <mutex>

namespace kestra {

void pauseOnClock(foundation::Duration d) {
  auto& clock = foundation::Clock::current();
  std::mutex m;
  std::condition_variable cv;
  std::unique_lock lock(m);
  const auto until = clock.now() + d;
  clock.waitFor(lock, cv, d, [&] { return clock.now() >= until; });
}

bool sendFirmwarePages(const foundation::Bytes& file, const PagedFirmwareSteps& steps) {
  try {
    for (int attempt = 0; attempt < steps.attempts; ++attempt) {
      steps.progress(0, 0);
      pauseOnClock(steps.attemptPause);
      steps.progress(1, 0);
      if (!steps.start()) continue;
      bool failed = false;
      for (size_t offset = 0; offset < file.size() && !failed;) {
        steps.progress(2, int(offset * 100 / file.size()));
        const size_t len = std::min(file.size() - offset, steps.pageSize);
        const uint8_t* page = file.data() + offset;
        if (!std::all_of(page, page + len, [](uint8_t b) { return b == 0xFF; }))
          failed = !steps.writePage(offset, page, len);
        offset += len;
      }
      if (!failed) return true;
    }
  } catch (...) {
  }
  return false;
}

}  // namespace kestra
