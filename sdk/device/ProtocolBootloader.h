#pragma once
// ProtocolBootloader: the charging case's boot-loader protocol on
// "com.okt.toravel.bootloader", used only for firmware updates. It runs the download: target
// information, create store, the image in chunks of up to 128 bytes, end of data, a CRC-32
// verify and install, each command answered by a reply with the same code within three
// seconds (`kBootloaderResponseTimeout`, on the `Clock`).
//
// It reports through notifications whose object is this `ProtocolBootloader`, posted
// synchronously on the session's thread: "BootloaderStatusReady" when the target answered,
// "BootloaderStatusUpdate" before each chunk and before the end command, and
// "BootloaderStatusComplete" {"BootloaderStatus": text} when the download stopped or reached a
// step worth reporting (see the texts below).
//
// One object per update, owned by the `FirmwareLoader`; it shares the case's session
// controller with the control protocol (only one of the two is open at a time). Bad input:
// noise and impossible headers are skipped, replies of the wrong length end the update
// with a text, an unknown reply code is reported and changes nothing.

#include <cstdint>
#include <memory>
#include <string>

#include "platform/foundation/Clock.h"
#include "platform/foundation/Timer.h"
#include "sdk/device/OKTEADSessionController.h"

namespace kestra {

inline constexpr const char* kCaseBootloaderProtocol = "com.okt.toravel.bootloader";
inline constexpr const char* kBootloaderStatusReady = "BootloaderStatusReady";
inline constexpr const char* kBootloaderStatusUpdate = "BootloaderStatusUpdate";
inline constexpr const char* kBootloaderStatusComplete = "BootloaderStatusComplete";
inline constexpr const char* kBootloaderStatusDebug = "BootloaderStatusDebug";
inline constexpr const char* kBootloaderStatusKey = "BootloaderStatus";
inline constexpr foundation::Duration kBootloaderResponseTimeout = std::chrono::seconds(3);
inline constexpr size_t kBootloaderMaxDataSize = 128;

// The download's progress.
enum BootloaderState : int {
  kBootIdle = 0,
  kBootTargetRequested = 1,
  kBootReady = 2,
  kBootCreatingStore = 3,
  kBootSending = 4,
  kBootVerifying = 5,
  kBootInstalling = 6,
};

class ProtocolBootloader {
 public:
  explicit ProtocolBootloader(std::shared_ptr<OKTEADSessionController> controller = nullptr);
  ~ProtocolBootloader();
  ProtocolBootloader(const ProtocolBootloader&) = delete;
  ProtocolBootloader& operator=(const ProtocolBootloader&) = delete;

  const std::shared_ptr<OKTEADSessionController>& eaSessionController();

  int openSession();
  void closeSession();
  // Asks for the target's information; false (and idle) when no session is open.
  bool initializeAccessory();
  // Keeps the image, computes its CRC-32 and asks the case to create a store for it.
  bool startDownload(const Bytes& image);
  // 0 when written, 5 when no session is open.
  int sendCommand(const Bytes& payload, uint16_t code);
  void sendFirmwareChunk();

  std::string getAccessoryName();
  std::string getAccessoryModel();
  std::string getAccessoryManufacturer();
  std::string getAccessoryFirmwareRevision();
  std::string getAccessoryHardwareRevision();
  std::string getFirmwareID() const;
  std::string getFirmwareVersion() const;
  size_t getCurrentDownloadLocation() const { return chunkStart_; }
  size_t getFirmwareSize() const { return image_.size(); }
  uint32_t imageCrc() const { return crc_; }
  int state() const { return state_; }

 private:
  void sessionDataReceived();
  void handleFrame(uint16_t code, const Bytes& payload);
  void complete(const std::string& text);
  void restartTimer();
  void stopTimer();

  std::shared_ptr<OKTEADSessionController> controller_;
  Bytes image_;
  uint32_t crc_ = 0;
  size_t chunkStart_ = 0;
  size_t maxDataSize_ = 0;
  uint32_t firmwareId_ = 0;
  uint8_t versionMajor_ = 0, versionMinor_ = 0, versionPatch_ = 0;
  uint16_t lastCommand_ = 0;
  int state_ = kBootIdle;
  std::shared_ptr<foundation::Timer> timer_;
};

}  // namespace kestra
