#pragma once
// The seams around a classic Bluetooth module that sits inside an accessory (the sleeve,
// the pinpad, the serial adapter).
//
// `BTModule` is what an owning driver asks of the module driver; `BTModuleHost` is what the
// module driver asks of its owner to reach the module (power and bytes, or module commands,
// which the owner carries in its own protocol) and where it reports the module's events.
// `BTModuleEvents` are the Bluetooth callbacks that reach the owner's delegates.
//
// Threads: the module driver calls its host from its own threads; the host's calls block
// while the accessory answers. Module methods may be called from any thread.

#include <memory>
#include <optional>
#include <string>
#include <string_view>
#include <vector>

#include "platform/foundation/Bytes.h"
#include "platform/foundation/Error.h"
#include "sdk/foundation/KXDelegate.h"

namespace kestra {

namespace btsel {
inline constexpr std::string_view bluetoothDiscoverComplete = "bluetoothDiscoverComplete:";
inline constexpr std::string_view bluetoothDeviceDiscovered = "bluetoothDeviceDiscovered:name:";
inline constexpr std::string_view bluetoothDeviceConnected = "bluetoothDeviceConnected:";
inline constexpr std::string_view bluetoothDeviceDisconnected = "bluetoothDeviceDisconnected:";
inline constexpr std::string_view bluetoothDeviceRequestedConnection = "bluetoothDeviceRequestedConnection:name:";
inline constexpr std::string_view bluetoothDevicePINCodeRequired = "bluetoothDevicePINCodeRequired:name:";
inline constexpr std::string_view bluetoothDevicePassKeySent = "bluetoothDevicePassKeySent:passKey:";
}  // namespace btsel

// Bluetooth callbacks of a delegate; all optional (see KXDelegate).
class BTModuleEvents : public virtual KXDelegate {
 public:
  virtual void bluetoothDiscoverComplete(bool /*success*/) {}
  virtual void bluetoothDeviceDiscovered(const std::string& /*address*/, const std::string& /*name*/) {}
  virtual void bluetoothDeviceConnected(const std::string& /*address*/) {}
  virtual void bluetoothDeviceDisconnected(const std::optional<std::string>& /*address*/) {}
  virtual bool bluetoothDeviceRequestedConnection(const std::string& /*address*/,
                                                  const std::string& /*name*/) {
    return false;
  }
  virtual std::optional<std::string> bluetoothDevicePINCodeRequired(const std::string& /*address*/,
                                                                    const std::string& /*name*/) {
    return std::nullopt;
  }
  virtual void bluetoothDevicePassKeySent(const std::string& /*address*/, const std::string& /*passKey*/) {}
  // Whether one of this delegate's own delegates implements `selector` (the device API
  // answers for its clients).
  virtual bool clientsRespondToSelector(std::string_view /*selector*/) { return false; }
};

// What the module driver asks of its host.
class BTModuleHost {
 public:
  virtual ~BTModuleHost() = default;
  // A module driven with command packets (the sleeve's own module): one command, its
  // reply's data or nothing with the host's error.
  virtual std::optional<foundation::Bytes> _btUniCommand(const uint8_t* /*data*/, int /*length*/,
                                                         foundation::Error* error) {
    if (error) *error = foundation::Error{"com.sabrel.errors", -7, "Function not supported on the connected device"};
    return std::nullopt;
  }
  // Writes up to `*length` bytes; `*length` becomes the count taken.
  virtual bool _bt301Write(const uint8_t* data, int* length, foundation::Error* error) = 0;
  virtual bool _bt301SetEnabled(bool enabled, foundation::Error* error) = 0;
  // Module events; the host passes them on.
  virtual void bluetoothDeviceConnected(const std::string& address) = 0;
  virtual void bluetoothDeviceDisconnected(const std::string& address) = 0;
  virtual bool bluetoothDeviceRequestedConnection(const std::string& address, const std::string& name) = 0;
  virtual std::optional<std::string> bluetoothDevicePINCodeRequired(const std::string& address,
                                                                    const std::string& name) = 0;
  virtual void bluetoothDevicePassKeySent(const std::string& address, const std::string& passKey) = 0;
  virtual bool clientsRespondToSelector(std::string_view selector) = 0;
};

// What the pinpad asks of the module driver.
class BTModule {
 public:
  virtual ~BTModule() = default;
  virtual void setControlDelegate(std::weak_ptr<BTModuleHost> host) = 0;
  virtual bool enabled() = 0;
  virtual void setEnabled(bool on) = 0;
  virtual bool btWrite(const uint8_t* data, int length, foundation::Error* error) = 0;
  virtual bool btWrite(const std::string& text, foundation::Error* error) = 0;
  // Count read (never more than `length`), negative on failure.
  virtual int btRead(uint8_t* buffer, int length, double timeoutSeconds, foundation::Error* error) = 0;
  virtual std::optional<std::string> btReadLine(double timeoutSeconds, foundation::Error* error) = 0;
  virtual bool btDiscoverDevices(int maxDevices, double maxTime, unsigned cod, foundation::Error* error) = 0;
  // Results of the last discovery, in the same order; nullopt before any.
  virtual std::optional<std::vector<std::string>> btDeviceAddresses() = 0;
  virtual std::vector<std::string> btDeviceNames() = 0;
  virtual bool btDiscoverDevicesInBackground(int maxDevices, double maxTime, unsigned cod, int filter,
                                             std::vector<std::weak_ptr<BTModuleEvents>> delegates,
                                             foundation::Error* error) = 0;
  virtual bool btConnect(const std::string& address, const std::string& pin, foundation::Error* error) = 0;
  virtual bool btDisconnect(const std::string& address, foundation::Error* error) = 0;
  virtual void setWriteCachingEnabled(bool on) = 0;
  virtual bool setDataNotificationMaxTime(double maxTime, int maxLength, const foundation::Bytes& sequence,
                                          foundation::Error* error) = 0;
  virtual std::vector<std::string> btConnectedDevices() = 0;
  // Bytes the module sent, handed in by the host.
  virtual void btAppendData(const uint8_t* data, size_t length) = 0;
};

}  // namespace kestra
