#pragma once
// The pinpad's seam to the driver of its classic Bluetooth module: the module types live with
// the module drivers of the transport layer.

#include "sdk/transport/bluetooth/BTModuleTypes.h"
