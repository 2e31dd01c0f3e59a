#pragma once
// The hub's value records: a port as the hub lists it and the USB device descriptor of the
// device on a port. Plain structs, copied freely; kept apart from USBManager.h so the device
// API's interface can name them without the hub's machinery.

#include <cstdint>
#include <string>
#include <vector>

namespace kestra {

// One port of the hub as `getPortsInfo` lists it.
struct TrelmoPortInfo {
  int portIndex = 0;
  int portType = 0;    // 1 a generic USB device, else an RS-232 port
  int portStatus = 0;  // 1 a device is attached
  std::string portConfig;
  std::string portConfigName;
  std::vector<std::string> portConfigCommunication;
  std::vector<std::string> portConfigChannel;
};

// The standard USB device descriptor of the device on a port, with its strings.
struct TrelmoUSBDeviceDescriptor {
  uint16_t bcdUSB = 0;
  uint8_t bDeviceClass = 0, bDeviceSubClass = 0, bDeviceProtocol = 0, bMaxPacketSize = 0;
  uint16_t idVendor = 0, idProduct = 0, bcdDevice = 0;
  std::string iManufacturer, iProduct, iSerialNumber;
  uint8_t bNumConfigurations = 0;
};

}  // namespace kestra
