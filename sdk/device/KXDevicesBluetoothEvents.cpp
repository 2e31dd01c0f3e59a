// The events of a classic Bluetooth module inside a connected accessory (the pinpad's), passed
// on to the device API's delegates on the thread they arrive on.

#include "sdk/device/KXDevices.h"

namespace kestra {

void KXDevices::bluetoothDiscoverComplete(bool success) {
  fanOut(kxsel::bluetoothDiscoverComplete, [&](KXDeviceDelegate& d) { d.bluetoothDiscoverComplete(success); });
}

void KXDevices::bluetoothDeviceDiscovered(const std::string& address, const std::string& name) {
  fanOut(kxsel::bluetoothDeviceDiscovered, [&](KXDeviceDelegate& d) { d.bluetoothDeviceDiscovered(address, name); });
}

void KXDevices::bluetoothDeviceConnected(const std::string& address) {
  fanOut(kxsel::bluetoothDeviceConnected, [&](KXDeviceDelegate& d) { d.bluetoothDeviceConnected(address); });
}

void KXDevices::bluetoothDeviceDisconnected(const OptText& address) {
  std::string connected;
  for (const auto& a : btConnectedDevices()) connected += (connected.empty() ? "" : ", ") + a;
  KXUNISDKGlobals::LOG("uni:bluetoothDeviceDisconnected: (%s)", connected.c_str());
  fanOut(kxsel::bluetoothDeviceDisconnected, [&](KXDeviceDelegate& d) { d.bluetoothDeviceDisconnected(address); });
}

bool KXDevices::bluetoothDeviceRequestedConnection(const std::string& address, const std::string& name) {
  bool answer = false;
  fanOut(kxsel::bluetoothDeviceRequestedConnection,
         [&](KXDeviceDelegate& d) { answer = d.bluetoothDeviceRequestedConnection(address, name); });
  return answer;
}

OptText KXDevices::bluetoothDevicePINCodeRequired(const std::string& address, const std::string& name) {
  OptText answer;
  fanOut(kxsel::bluetoothDevicePINCodeRequired,
         [&](KXDeviceDelegate& d) { answer = d.bluetoothDevicePINCodeRequired(address, name); });
  return answer;
}

}  // namespace kestra
