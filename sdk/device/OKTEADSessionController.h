#pragma once
// OKTEADSessionController: the charging case's one accessory session. The case speaks two
// protocols (control and boot loader) over separate protocol strings, but only one is open
// at a time, so one controller serves both: it opens a session on the first attached
// accessory that offers the protocol string, buffers what is to be written until the link
// takes it, buffers what was read until a protocol reader consumes it, and after every read
// posts "EADSessionDataReceivedNotification" (object: the controller) synchronously on the
// thread whose run loop serves the streams.
//
// The case does not go through the SDK's accessory manager or its run-loop thread: the
// streams are scheduled on the run loop of the thread that opens the session (the main
// thread in practice), and every call must come from that thread.
//
// Bad input: the controller does not interpret bytes; the readers above it do.

#include <memory>
#include <optional>
#include <string>

#include "platform/accessory/Accessory.h"
#include "platform/accessory/AccessoryManager.h"
#include "platform/accessory/Session.h"
#include "platform/accessory/Stream.h"
#include "platform/foundation/Bytes.h"
#include "platform/foundation/RunLoop.h"

namespace kestra {

using foundation::Bytes;

inline constexpr const char* kEADSessionDataReceivedNotification = "EADSessionDataReceivedNotification";

// Results of `openSessionWithProtocol`, passed on unchanged by the protocol readers.
enum EADSessionResult : int {
  kEADSessionOpened = 50,
  kEADNoAccessory = 51,
  kEADProtocolNotFound = 52,
  kEADSessionNotCreated = 53,
  kEADSessionGone = 54,
};

class OKTEADSessionController final : public accessory::StreamDelegate,
                                      public accessory::AccessoryDelegate,
                                      public std::enable_shared_from_this<OKTEADSessionController> {
 public:
  // The process-wide controller over the process-wide accessory registry.
  static std::shared_ptr<OKTEADSessionController> sharedController();
  // A controller over `registry` (tests use a registry of their own).
  static std::shared_ptr<OKTEADSessionController> create(accessory::AccessoryManager& registry);
  ~OKTEADSessionController() override;

  accessory::AccessoryManager& registry() const { return registry_; }
  std::shared_ptr<accessory::Accessory> accessory() const { return accessory_; }
  const std::string& protocolString() const { return protocolString_; }

  // Closes an open session first, then opens one on `protocol`.
  int openSessionWithProtocol(const std::string& protocol);
  // Unconsumed bytes are lost. The accessory reference stays.
  void closeSession();
  bool sessionIsOpen() const { return session_ != nullptr; }

  void writeData(const Bytes& data);
  // The first `count` buffered bytes, removed; nothing (and nothing removed) when fewer are
  // buffered.
  std::optional<Bytes> readData(size_t count);
  std::optional<Bytes> peekData(size_t count) const;
  size_t readBytesAvailable() const { return readData_.size(); }
  // The buffered bytes themselves, for readers that resynchronise in place.
  Bytes& readBuffer() { return readData_; }

  // The open session's accessory identity; "not connected" while no session is open.
  std::string accessoryName() const;
  std::string accessoryManufacturer() const;
  std::string accessoryModel() const;
  std::string accessorySerialNumber() const;
  std::string accessoryFirmwareRevision() const;
  std::string accessoryHardwareRevision() const;

  void handleEvent(accessory::Stream& stream, accessory::StreamEvent event) override;
  void accessoryDidDisconnect(const std::shared_ptr<accessory::Accessory>& accessory) override;

 private:
  explicit OKTEADSessionController(accessory::AccessoryManager& registry) : registry_(registry) {}
  std::string identity(std::string accessory::AccessoryIdentity::*field) const;
  void readAvailable();
  void writeBuffered();

  accessory::AccessoryManager& registry_;
  std::shared_ptr<accessory::Accessory> accessory_;
  std::shared_ptr<accessory::Session> session_;
  foundation::RunLoop* loop_ = nullptr;
  std::string protocolString_;
  Bytes writeData_;
  Bytes readData_;
};

}  // namespace kestra
