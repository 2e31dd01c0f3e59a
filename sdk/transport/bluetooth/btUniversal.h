#pragma once
// btUniversal: the Bluetooth module that an accessory's firmware runs itself (the sleeve's
// newer module). The host sends short module commands inside the accessory's own protocol
// (through its owner's `_btUniCommand`) and learns of results from the accessory's Bluetooth
// events, which the owner hands to `processEvent`.
//
// Module events (the same numbering as the serial adapter's radio): 1 ready, 2 connect
// failed, 3 connected, 4 module closed, 5 and 6 link lost, 7 device found ([6 address
// bytes][name]), 8 discovery complete, 9 discovery failed, 10 data. `parseBTModuleEvent` reads
// one; bad input (short, unknown) gives nothing and changes nothing.
//
// Threads: operations block the caller; `processEvent` runs on the owner's delivering thread
// and never blocks.

#include <atomic>
#include <optional>
#include <string>

#include "sdk/transport/bluetooth/btModule.h"

namespace kestra {

enum BTModuleEventCode : int {
  kBTEventReady = 1, kBTEventConnectFailed = 2, kBTEventConnected = 3, kBTEventClosed = 4,
  kBTEventDisconnected = 5, kBTEventLinkLost = 6, kBTEventFound = 7, kBTEventDiscoverDone = 8,
  kBTEventDiscoverFailed = 9, kBTEventData = 10,
};

struct BTModuleEvent {
  int code = 0;
  std::string address;  // found: twelve upper-case hexadecimal digits
  std::string name;     // found: up to the first zero byte
  foundation::Bytes data;
};

// One module event [code][data...]; nothing for an empty, short or unknown one.
std::optional<BTModuleEvent> parseBTModuleEvent(const uint8_t* data, size_t length);

class btUniversal : public btModule {
 public:
  static constexpr foundation::Duration kConnectTimeout = std::chrono::seconds(10);
  static constexpr foundation::Duration kConnectPoll = std::chrono::milliseconds(200);
  static constexpr foundation::Duration kInquiryPoll = std::chrono::milliseconds(500);
  static constexpr size_t kMaxText = 254;

  static std::shared_ptr<btUniversal> create() { return std::shared_ptr<btUniversal>(new btUniversal()); }

  // -1 pending, 0 failed, 1 done.
  int btConnectResult() const { return connectResult_.load(); }
  void setBtConnectResult(int r) { connectResult_ = r; }
  int btInquiryResult() const { return inquiryResult_.load(); }
  void setBtInquiryResult(int r) { inquiryResult_ = r; }

  bool _btGetEnabled(bool* on, foundation::Error* error = nullptr);
  std::optional<std::string> btGetLocalName(foundation::Error* error = nullptr) override;
  // Does not power the module on by itself.
  std::optional<std::string> btGetLocalAddress(foundation::Error* error = nullptr) override;
  bool _btSetLocalName(const std::string& name, foundation::Error* error = nullptr);
  bool _btSetPIN(const std::string& pin, foundation::Error* error = nullptr);
  bool btSetDiscoverable(bool on, foundation::Error* error = nullptr);
  bool _btUniStartInquiry(foundation::Error* error = nullptr);
  bool _btSetDataMode(bool, foundation::Error* = nullptr) { return true; }

  // One module event from the owner (see above): results, found devices, link loss, data.
  void processEvent(const uint8_t* data, size_t length);

 protected:
  btUniversal() = default;
  bool _btSetEnabled(bool on, foundation::Error* error) override;
  bool _btDiscoverDevices(int maxDevices, double maxTime, unsigned cod, foundation::Error* error) override;
  bool _btConnect(const std::string& address, const std::string& pin, foundation::Error* error) override;
  void _btDisconnect(const std::string& address) override;
  bool _btWrite(const uint8_t* data, int* length, foundation::Error* error) override;

 private:
  std::optional<foundation::Bytes> command(uint8_t sub, const foundation::Bytes& payload, foundation::Error* error);
  // Polls `result` every `poll` until it is 0 or 1 or `timeout` passed.
  int waitResult(const std::atomic<int>& result, foundation::Duration poll, foundation::Duration timeout);
  std::atomic<int> connectResult_{0};
  std::atomic<int> inquiryResult_{0};
};

}  // namespace kestra
