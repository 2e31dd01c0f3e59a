#pragma once
// What the hub's and the serial adapter's firmware updates share: the clock pause, and the
// attempts of a start command followed by the file's pages (pages of only 0xFF skipped),
// with progress (0 an attempt begins, 1 before its start command, 2 writing with the
// percent of the file passed; phase 3 is the caller's, after the closing command).
//
// Threads: the caller's, which it holds for the whole transfer.

#include <cstdint>
#include <functional>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Clock.h"

namespace kestra {

// Waits `d` of the current clock.
void pauseOnClock(foundation::Duration d);

struct PagedFirmwareSteps {
  size_t pageSize = 128;
  int attempts = 3;
  foundation::Duration attemptPause = std::chrono::milliseconds(1500);
  std::function<bool()> start;                                        // false: the attempt failed
  std::function<bool(size_t offset, const uint8_t* page, size_t length)> writePage;  // false: failed
  std::function<void(int phase, int percent)> progress;
};

// True when an attempt got through its start command and every page; an exception from a
// step fails the update.
bool sendFirmwarePages(const foundation::Bytes& file, const PagedFirmwareSteps& steps);

}  // namespace kestra
