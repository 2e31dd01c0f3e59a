#pragma once
// The hub (`USBManager`), the HID readers on its ports and the serial adapter
// (`CarvikStream`) as the device API sees them.
//
// `makeHubDriver` wraps a hub manager: the device API becomes its control delegate and
// hears of the hub's connection and of port devices no driver took. `makeHubReaderDriver`
// wraps a reader, registers it with the hub manager as a port-device driver and turns its
// events (already on the main queue) into the device API's driver callbacks.
//
// Threads: as the wrapped objects.

#include <memory>

#include "sdk/device/KXDeviceDrivers.h"

namespace kestra {

class USBManager;
class HubReader;
class CarvikStream;

std::shared_ptr<KXStreamDriver> makeHubDriver(std::shared_ptr<USBManager> manager);
std::shared_ptr<KXStreamDriver> makeHubReaderDriver(std::shared_ptr<HubReader> reader,
                                                    const std::shared_ptr<USBManager>& manager);
// The serial adapter; the device API becomes its control delegate.
std::shared_ptr<KXSerialAdapterDriver> makeSerialAdapterDriver(std::shared_ptr<CarvikStream> stream);

}  // namespace kestra
