#pragma once
// The serial adapter's data path (its RS-232 port, or its Bluetooth link in data mode) as a
// platform stream pair, for drivers that talk over stream pairs: a printer or a pinpad
// behind the adapter's Bluetooth link. The input side becomes the adapter's stream delegate
// while it is open and reports the adapter's events itself (it is scheduled on no loop); the
// output side writes through the adapter's data writer.
//
// Threads: events arrive on the thread that caused them (the adapter's receive path on the
// common run-loop thread, or the caller of a connect or disconnect); reads and writes from
// any thread but the run-loop thread (a write is a command that waits for its reply).

#include <memory>

#include "platform/accessory/Stream.h"

namespace kestra {

class CarvikStream;

struct CarvikStreamPair {
  std::shared_ptr<accessory::InputStream> input;
  std::shared_ptr<accessory::OutputStream> output;
};

// Empty for no adapter.
CarvikStreamPair carvikStreams(const std::shared_ptr<CarvikStream>& adapter);

}  // namespace kestra
