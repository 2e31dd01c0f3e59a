#pragma once
// Drivers without a device for the kinds that are not part of this build (printers, pinpad,
// serial adapter, hub and its port devices, Bluetooth Low Energy stream). They are the
// driver interfaces' own "no device" bodies: connection state 0, not connected, not
// present, no features; a command fails as the real driver fails without a device (false
// with -20 "No device connected", or the pinpad's status 16). They never call back.
//
// Threads: stateless; any thread.

#include "sdk/device/KXDeviceDrivers.h"

namespace kestra {

class KXStandInPrinter final : public KXPrinterDriver {};
class KXStandInPinpad final : public KXPinpadDriver {};
class KXStandInStream final : public KXSerialAdapterDriver {};
class KXStandInBLEStream final : public KXBLEStreamDriver {};

}  // namespace kestra
