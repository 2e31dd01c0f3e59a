#pragma once
// btBT301: the driver of the BT301, a classic Bluetooth (serial port profile) module inside an
// accessory (the older sleeve module, or the pinpad's). The owner carries the module's bytes:
// power through `_bt301SetEnabled`, writes through `_bt301Write`, and the module's output is
// handed back with `btAppendData`.
//
// The module speaks AT commands ending in CR LF and answers in lines; link events are lines
// beginning with "+". Once a serial link is up it is in data mode: bytes pass through until
// the escape "+++" returns it to command mode. While a link is up the received bytes are
// watched for "+LINK_LOST=" and "+DISCONNECTED=" (matched across deliveries; the link is
// ended on the host side once the byte after a whole text arrives, even when the text was
// payload; with listening on, the module is then put back into listening). While listening
// in command mode, "+CONNECTING=<address>" (the address up to the line's end) starts one
// incoming-connection handler on a global-queue worker: it answers "+PINCODE" and "+ACCEPT?"
// with the owner's answers and ends in data mode on "+CONNECTED"; a refusal, a missing PIN,
// a failure line or ten seconds of silence end it, and listening is started again.
//
// Threads: operations block the caller; every wait (line reads, pauses, the state poll, the
// pass key answer) follows the current `Clock` and is bounded. `bluetoothDeviceConnected` for
// an incoming link and `bluetoothDevicePassKeySent` go to the owner on the main queue; the
// incoming handler asks its PIN and accept questions on its own worker.

#include <atomic>
#include <condition_variable>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "sdk/transport/bluetooth/btModule.h"

namespace kestra {

class btBT301 : public btModule {
 public:
  static constexpr foundation::Duration kSyncLimit = std::chrono::seconds(10);
  static constexpr foundation::Duration kSyncPoll = std::chrono::milliseconds(500);
  static constexpr foundation::Duration kPassKeyWait = std::chrono::seconds(30);
  static constexpr foundation::Duration kEscapeGuard = std::chrono::milliseconds(1200);
  static constexpr foundation::Duration kNamePause = std::chrono::seconds(1);

  static std::shared_ptr<btBT301> create() { return std::shared_ptr<btBT301>(new btBT301()); }

  bool inDataMode() const { return inDataMode_.load(); }
  std::optional<std::string> connectingAddress() const;

  // A line from the module. Link-loss lines ("+LINK_LOST=", "+DISCONNECTED=") leave data mode
  // and end every link; with `consumeEvents` they are skipped, else returned.
  std::optional<std::string> bt301ReadLine(double timeoutSeconds, bool consumeEvents, foundation::Error* error);
  std::optional<std::string> bt301ReadLine(double timeoutSeconds, foundation::Error* error) {
    return bt301ReadLine(timeoutSeconds, true, error);
  }
  // One command, one reply line; nothing for no line or a failure word in it.
  std::optional<std::string> _sendCommand(const std::string& command, foundation::Error* error);
  // Waits until the module reports an idle state (at most `kSyncLimit`).
  bool _sync(foundation::Error* error);
  // The remote device's name (the module must be on).
  std::optional<std::string> _btGetDeviceName(const std::string& address, foundation::Error* error);
  bool _btConfirmPassKey(bool accept, foundation::Error* error = nullptr) override;
  void btAppendData(const uint8_t* data, size_t length) override;

 protected:
  btBT301() = default;
  bool _btSetEnabled(bool on, foundation::Error* error) override;
  bool _btWrite(const uint8_t* data, int* length, foundation::Error* error) override;
  std::optional<std::string> _btGetLocalAddress(foundation::Error* error) override;
  std::optional<std::vector<std::string>> _btCommand(const std::string& command, foundation::Error* error) override;
  bool _btDiscoverDevices(int maxDevices, double maxTime, unsigned cod, foundation::Error* error) override;
  bool _btConnect(const std::string& address, const std::string& pin, foundation::Error* error) override;
  bool _btListenForDevices(bool listen, bool discoverable, const std::string& localName, unsigned cod,
                           foundation::Error* error) override;
  void _btDisconnect(const std::string& address) override;
  void _btDeviceDisconnected(const std::string& address) override;
  void _btDisconnectFinished() override;

 private:
  bool confirmPassKey(const std::string& address, const std::string& eventLine);
  void linkDown();
  // A link is up: data mode, the device listed, the link-loss watch started afresh.
  void linkUp(const std::string& address);
  void handleIncoming();
  bool listen(bool discoverable, const std::string& localName, unsigned cod, foundation::Error* error);

  std::atomic<bool> inDataMode_{false};
  mutable std::mutex stateMutex_;  // connectingAddress_, the matchers, the pass key answer
  std::condition_variable passKeyAnswered_;
  std::optional<std::string> connectingAddress_;
  int passKeyResponse_ = -1;
  size_t lostPos_ = 0;
  size_t disconnectedPos_ = 0;
  std::atomic<bool> incomingRunning_{false};
  std::atomic<bool> relistenPending_{false};  // listen again once a disconnect is done
};

}  // namespace kestra
