#pragma once
// Stream pairs over outgoing sockets: TCP to a host and port (network printers), and
// classic Bluetooth RFCOMM to a device address and channel through the kernel's Bluetooth
// sockets (AF_BLUETOOTH, BTPROTO_RFCOMM).
//
// Both connect synchronously on the caller's thread and hand the connected socket to
// `makeFdStreamPair`. A failure gives nothing and an error with a clear text; on a system
// whose kernel has no Bluetooth sockets the RFCOMM connect says so ("Bluetooth sockets are not
// available on this system") instead of failing obscurely.

#include <array>
#include <cstdint>
#include <optional>
#include <string>

#include "platform/accessory/FdStream.h"
#include "platform/foundation/Error.h"

namespace accessory {

// `host` is a name or a numeric address. `timeoutMs` bounds the connect.
std::optional<FdStreamPair> connectTcpStreamPair(const std::string& host, uint16_t port,
                                                 foundation::Error* error = nullptr, int timeoutMs = 10000);

// `address` is six bytes in hexadecimal ("00:11:22:AA:BB:CC" or "001122AABBCC"); channel 1-30.
std::optional<FdStreamPair> connectRfcommStreamPair(const std::string& address, int channel,
                                                    foundation::Error* error = nullptr);
// The six address bytes, most significant first, or nothing for a text that is not one.
std::optional<std::array<uint8_t, 6>> parseBluetoothAddress(const std::string& address);

}  // namespace accessory
