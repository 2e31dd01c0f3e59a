#pragma once
// FirmwareLoader: updates the charging case's firmware. It reads the header of a case
// firmware file, checks the attached case, starts a `ProtocolBootloader` download, turns the
// boot loader's notifications into progress reports for its delegate, and takes the case's
// restart (its accessory going away after the install) as the end of a good update.
//
// Progress reports (phase, percent): (1, 0) as the download starts, (2, up to 95) while it
// runs, (2, 98) once the case verified the image and installs it, (3, 100) when the case
// restarts after the install, and (-1, 95) when the update failed. A refused install and a
// case that never restarts within `kCaseRestartTimeout` are failures too, so a caller
// waiting for the end is always released.
//
// Owned by the case device (`OKTCD`), created on first use; runs on the main thread. Bad
// input: a file too short or for another device is refused with an error before anything is
// sent.

#include <memory>
#include <optional>
#include <string>

#include <nlohmann/json_fwd.hpp>

#include "platform/foundation/Error.h"
#include "platform/foundation/Timer.h"
#include "sdk/device/ProtocolBootloader.h"
#include "sdk/device/ProtocolControl.h"

namespace kestra {

inline constexpr const char* kOKTErrorDomain = "com.okt.KestraSDK";
inline constexpr const char* kCaseModel = "TORAVEL-PH7";
inline constexpr const char* kCaseHardwareRevision = "Rev A";
inline constexpr const char* kCaseBoardModel = "DV320032 PIC32";
inline constexpr const char* kCaseBoardHardwareRevision = "Rev 3";
// How long the case may take to restart after it accepted the new firmware.
inline constexpr foundation::Duration kCaseRestartTimeout = std::chrono::seconds(60);

class FirmwareDelegate {
 public:
  virtual ~FirmwareDelegate() = default;
  virtual void firmwareUpdateProgress(int phase, int percent) = 0;
};

// An error of the case's own domain (code 1).
foundation::Error caseError(const std::string& text);

class FirmwareLoader {
 public:
  // `control` is the case's control protocol; its session controller is the one the boot
  // loader uses.
  explicit FirmwareLoader(ProtocolControl& control);
  ~FirmwareLoader();
  FirmwareLoader(const FirmwareLoader&) = delete;
  FirmwareLoader& operator=(const FirmwareLoader&) = delete;

  void setDelegate(std::weak_ptr<FirmwareDelegate> delegate) { delegate_ = std::move(delegate); }

  // Opens the boot loader and asks the case for its information: nothing when the download
  // has started, else the reason.
  std::optional<foundation::Error> updateFirmware(const Bytes& image);
  void startDownloading(const Bytes& image);

  // The file header: "firmwareRevision", "firmwareID", "deviceName",
  // "firmwareRevisionNumber", "deviceModel". Null (and `error` filled) for a file that is
  // too short or made for another device.
  static nlohmann::json getFirmwareInformation(const std::optional<Bytes>& data, foundation::Error* error = nullptr);

  bool updateDidStart() const { return flUpdateDidStart_; }
  bool isDemoBoard() const { return flDemoPIC32_; }
  ProtocolBootloader* bootloader() const { return bootloader_.get(); }

 private:
  void report(int phase, int percent);
  void bootloaderReady();
  void bootloaderUpdate();
  void bootloaderComplete(const std::string& text);
  void caseDisconnected();
  void finish();

  std::shared_ptr<OKTEADSessionController> controller_;
  std::weak_ptr<FirmwareDelegate> delegate_;
  std::unique_ptr<ProtocolBootloader> bootloader_;
  Bytes firmwareData_;
  bool flDownloading_ = false;
  bool flReadyToDownload_ = false;
  bool flDownloadNormal_ = true;
  bool flDemoPIC32_ = false;
  bool flIsDownloadSuccesful_ = false;
  bool flDeviceConnected_ = false;
  bool flUpdateDidStart_ = false;
  // The case took the new image and is installing it: its restart ends the update well.
  bool installing_ = false;
  std::shared_ptr<foundation::Timer> restartWatchdog_;
};

}  // namespace kestra
