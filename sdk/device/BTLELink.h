#pragma once
// The device API's Bluetooth Low Energy link: the SDK's `BTLEStream` behind the driver
// interface the device API sees (`KXBLEStreamDriver`), reporting the stream's links made and
// lost to the device API it is attached to.
//
// Threads: as `BTLEStream` (discovery and connect block their caller).

#include <memory>

#include "sdk/device/KXDeviceDrivers.h"

namespace kestra {

class BTLEStream;

// `stream` nullptr: a stream over the default radio (made when first used).
std::shared_ptr<KXBLEStreamDriver> makeBTLELink(std::shared_ptr<BTLEStream> stream = nullptr);

}  // namespace kestra
