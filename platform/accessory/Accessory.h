#pragma once
// One attached accessory: an identity and a set of byte-stream channels, one per protocol
// string. Accessories are made by the `AccessoryManager` when an endpoint appears and are
// marked not connected (for good) when it disappears; a later re-attach of the same
// endpoint is a new `Accessory` object with a new connection id, as on the platform.
//
// Two kinds of endpoint exist on Linux:
// - a Unix-domain socket in the accessory folder, made by a simulator, with a descriptor
//   file beside it naming the identity and protocol strings; every channel is a separate
//   connection to that socket, which names its protocol string in a handshake;
// - serial ports named in the serial configuration file, one device path per protocol
//   string (a real sleeve or printer on USB serial).
//
// All members are safe from any thread. The delegate is held weakly and is told on the
// main queue when the accessory goes away.

#include <atomic>
#include <cstdint>
#include <memory>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <string>
#include <vector>

namespace accessory {

class Accessory;

// The identity and channels of an accessory, as its descriptor gives them.
struct AccessoryIdentity {
  std::string name;
  std::string manufacturer;
  std::string modelNumber;
  std::string serialNumber;
  std::string firmwareRevision;
  std::string hardwareRevision;
  std::vector<std::string> protocolStrings;
};

// Reads and writes the descriptor form ({"name": ..., "manufacturer": ..., "modelNumber":
// ..., "serialNumber": ..., "firmwareRevision": ..., "hardwareRevision": ...,
// "protocolStrings": [...]}). Missing text fields are empty; fields of the wrong type make
// the descriptor invalid (nothing returned).
bool identityFromJson(const nlohmann::json& j, AccessoryIdentity& out);
nlohmann::json identityToJson(const AccessoryIdentity& identity);

class AccessoryDelegate {
 public:
  virtual ~AccessoryDelegate() = default;
  // Main queue. The accessory is already marked not connected.
  virtual void accessoryDidDisconnect(const std::shared_ptr<Accessory>& accessory) = 0;
};

struct AccessoryEndpoint {
  enum class Kind { Socket, Serial };
  Kind kind = Kind::Socket;
  // Socket: the socket path. Serial: one device path per protocol string (same order).
  std::string socketPath;
  std::vector<std::string> serialDevices;
  int baudRate = 115200;
};

class Accessory {
 public:
  Accessory(uint32_t connectionID, AccessoryIdentity identity, AccessoryEndpoint endpoint);

  uint32_t connectionID() const { return connectionID_; }
  const std::string& name() const { return identity_.name; }
  const std::string& manufacturer() const { return identity_.manufacturer; }
  const std::string& modelNumber() const { return identity_.modelNumber; }
  const std::string& serialNumber() const { return identity_.serialNumber; }
  const std::string& firmwareRevision() const { return identity_.firmwareRevision; }
  const std::string& hardwareRevision() const { return identity_.hardwareRevision; }
  const std::vector<std::string>& protocolStrings() const { return identity_.protocolStrings; }
  const AccessoryIdentity& identity() const { return identity_; }
  const AccessoryEndpoint& endpoint() const { return endpoint_; }

  // True until the endpoint disappears.
  bool isConnected() const { return connected_.load(); }

  void setDelegate(std::weak_ptr<AccessoryDelegate> delegate);
  std::shared_ptr<AccessoryDelegate> delegate() const;

  // The accessory as a JSON object (connection id and identity), the form carried under
  // "EAAccessoryKey" in the manager's notifications.
  nlohmann::json toJson() const;

 private:
  friend class AccessoryManager;
  void markDisconnected() { connected_ = false; }

  const uint32_t connectionID_;
  const AccessoryIdentity identity_;
  const AccessoryEndpoint endpoint_;
  std::atomic<bool> connected_{true};
  mutable std::mutex mutex_;
  std::weak_ptr<AccessoryDelegate> delegate_;
};

}  // namespace accessory
