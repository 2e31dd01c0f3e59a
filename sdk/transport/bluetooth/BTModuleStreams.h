#pragma once
// A Bluetooth module object as a platform stream pair, for drivers that talk over stream
// pairs (a printer or a pinpad behind the module's link). The input side turns on the
// module's notifications and reports its events itself (it is scheduled on no loop); the
// output side writes through the module's stream (and its write cache).
//
// Threads: events arrive on the thread that caused them (the module's receive path or its
// "BTStream Thread"); reads and writes from any thread.

#include <memory>

#include "platform/accessory/Stream.h"
#include "sdk/transport/bluetooth/btModule.h"

namespace kestra {

struct BTModuleStreamPair {
  std::shared_ptr<accessory::InputStream> input;
  std::shared_ptr<accessory::OutputStream> output;
};

BTModuleStreamPair btModuleStreams(const std::shared_ptr<btModule>& module);

}  // namespace kestra
