#include "sdk/device/FirmwareLoader.h"

#include <algorithm>
#include <cstdio>
#include <nlohmann/json.hpp>

#include "platform/foundation/NotificationCenter.h"
#include "sdk/device/ChargingCaseFrames.h"
#include "sdk/device/OKTCD.h"
#include "sdk/foundation/KXUNISDKGlobals.h"

namespace kestra {

using namespace chargingcase;

foundation::Error caseError(const std::string& text) { return foundation::Error(kOKTErrorDomain, 1, text); }

namespace {

std::string trimBlanks(std::string s) {
  const auto first = s.find_first_not_of(' ');
  if (first == std::string::npos) return {};
  return s.substr(first, s.find_last_not_of(' ') - first + 1);
}

std::string lower(std::string s) {
  for (char& c : s) c = char(std::tolower(static_cast<unsigned char>(c)));
  return s;
}

}  // namespace

FirmwareLoader::FirmwareLoader(ProtocolControl& control)
    : controller_(control.eaSessionController()) {
  auto& center = foundation::NotificationCenter::defaultCenter();
  auto& registry = controller_->registry();
  registry.registerForLocalNotifications();
  center.addObserver(this, accessory::kAccessoryDidConnectNotification, &registry,
                     [this, &registry](const foundation::Notification& n) {
                       if (OKTCD::isAccessoryToravel(registry.accessoryFromNotification(n))) flDeviceConnected_ = true;
                     });
  center.addObserver(this, accessory::kAccessoryDidDisconnectNotification, &registry,
                     [this, &registry](const foundation::Notification& n) {
                       if (OKTCD::isAccessoryToravel(registry.accessoryFromNotification(n))) caseDisconnected();
                     });
  center.addObserver(this, kBootloaderStatusReady, nullptr, [this](const foundation::Notification& n) {
    if (bootloader_ && n.object == bootloader_.get()) bootloaderReady();
  });
  center.addObserver(this, kBootloaderStatusUpdate, nullptr, [this](const foundation::Notification& n) {
    if (bootloader_ && n.object == bootloader_.get()) bootloaderUpdate();
  });
  center.addObserver(this, kBootloaderStatusComplete, nullptr, [this](const foundation::Notification& n) {
    if (!bootloader_ || n.object != bootloader_.get()) return;
    std::string text;
    if (n.userInfo.is_object() && n.userInfo.contains(kBootloaderStatusKey) &&
        n.userInfo[kBootloaderStatusKey].is_string())
      text = n.userInfo[kBootloaderStatusKey].get<std::string>();
    bootloaderComplete(text);
  });
}

FirmwareLoader::~FirmwareLoader() {
  foundation::NotificationCenter::defaultCenter().removeObserver(this);
  controller_->registry().unregisterForLocalNotifications();
  if (restartWatchdog_) restartWatchdog_->invalidate();
}

std::optional<foundation::Error> FirmwareLoader::updateFirmware(const Bytes& image) {
  flUpdateDidStart_ = true;
  installing_ = false;
  firmwareData_ = image;
  bootloader_ = std::make_unique<ProtocolBootloader>(controller_);
  flDownloading_ = false;
  const int result = bootloader_->openSession();
  std::optional<foundation::Error> error;
  switch (result) {
    case kEADSessionOpened: {
      const std::string model = bootloader_->getAccessoryModel();
      const std::string hardware = bootloader_->getAccessoryHardwareRevision();
      if (model == kCaseBoardModel && hardware == kCaseBoardHardwareRevision) {
        flDemoPIC32_ = true;
        if (!bootloader_->initializeAccessory())
          error = caseError("Update error: bootloader unable to communicate with device.");
      } else if (model == kCaseModel && hardware == kCaseHardwareRevision) {
        flDemoPIC32_ = false;
        if (!bootloader_->initializeAccessory()) error = caseError("Update error: unable to communicate with device.");
      } else {
        error = caseError("Update error: the firmware file is not compatible with connected device.");
      }
      break;
    }
    case kEADNoAccessory: error = caseError("Update error: no device connected."); break;
    case kEADProtocolNotFound: error = caseError("Update error: protocol not found."); break;
    case kEADSessionNotCreated: error = caseError("Update error: unable to open session."); break;
    case kEADSessionGone: error = caseError("Update error: bad access!"); break;
    case 0: error = caseError("Update error: code 0!"); break;
    default: error = caseError("Update error: unknown!"); break;
  }
  // An update that never started must not take the next disconnect for its restart.
  if (error) flUpdateDidStart_ = false;
  return error;
}

void FirmwareLoader::startDownloading(const Bytes& image) {
  if (bootloader_) bootloader_->startDownload(image);
}

nlohmann::json FirmwareLoader::getFirmwareInformation(const std::optional<Bytes>& data, foundation::Error* error) {
  if (error) *error = {};
  if (!data) {
    foundation::fail(error, caseError("Data cannot be nil."));
    return nullptr;
  }
  if (data->size() < 32) {
    foundation::fail(error, caseError("Incorrect data length."));
    return nullptr;
  }
  if (!OKTCD::isToravelFirmware(*data)) {
    foundation::fail(error, caseError("Incompatible firmware data."));
    return nullptr;
  }
  const Bytes& d = *data;
  char text[32];
  std::snprintf(text, sizeof text, "%01x.%01x.%01x", d[10], d[9], d[8]);
  const std::string revision = trimBlanks(text);
  std::snprintf(text, sizeof text, "%02x%02x%02x%02x", d[7], d[6], d[5], d[4]);
  const std::string id = text;
  std::string digits;
  for (char c : revision)
    if (c != '.') digits += c;
  long long number = 0;
  for (char c : digits) {
    if (c < '0' || c > '9') break;
    number = number * 10 + (c - '0');
  }
  return nlohmann::json{{"firmwareRevision", revision},
                        {"firmwareID", id},
                        {"deviceName", trimBlanks(unpackCaseName(d.data() + 12))},
                        {"firmwareRevisionNumber", number},
                        {"deviceModel", kCaseModel}};
}

void FirmwareLoader::report(int phase, int percent) {
  if (auto d = delegate_.lock()) d->firmwareUpdateProgress(phase, percent);
}

void FirmwareLoader::bootloaderReady() {
  flReadyToDownload_ = true;
  flDownloading_ = true;
  flDownloadNormal_ = true;
  startDownloading(firmwareData_);
}

void FirmwareLoader::bootloaderUpdate() {
  if (!bootloader_ || !flUpdateDidStart_) return;
  const size_t handed = bootloader_->getCurrentDownloadLocation();
  const size_t size = bootloader_->getFirmwareSize();
  if (size == 0) return;  // nothing to download: no progress to tell
  int percent = std::min(95, int(double(handed) / double(size) * 100.0));
  int phase = handed <= 10 ? 1 : 2;
  if (handed > 10 && handed == size) percent = 95;
  report(phase, percent);
}

void FirmwareLoader::bootloaderComplete(const std::string& text) {
  flIsDownloadSuccesful_ = true;
  // A report after the update already ended (a late reply) changes nothing.
  if (!flUpdateDidStart_) return;
  const std::string l = lower(text);
  const bool refused = l.find("nack") != std::string::npos;
  if (!refused && (l.find("verifying") != std::string::npos || l.find("installing") != std::string::npos ||
                   l.find("install") != std::string::npos)) {
    installing_ = true;
    // The case restarts once it has installed the image; one that never does fails the update.
    if (restartWatchdog_) restartWatchdog_->invalidate();
    restartWatchdog_ = foundation::Timer::scheduled(kCaseRestartTimeout, false, [this](foundation::Timer&) {
      restartWatchdog_.reset();
      if (!flUpdateDidStart_) return;
      KXUNISDKGlobals::LOG("Warning: Toravel update error: the case did not restart");
      finish();
      report(-1, 95);
    });
    report(2, 98);
    return;
  }
  KXUNISDKGlobals::LOG("Warning: Toravel update error: %s", text.c_str());
  finish();
  report(-1, 95);
}

void FirmwareLoader::finish() {
  flUpdateDidStart_ = false;
  installing_ = false;
  if (restartWatchdog_) restartWatchdog_->invalidate();
  restartWatchdog_.reset();
}

void FirmwareLoader::caseDisconnected() {
  if (flUpdateDidStart_) {
    const bool installed = installing_;
    finish();
    // Only a case that took the image restarts into it; going away before that is a failure.
    report(installed ? 3 : -1, installed ? 100 : 95);
  }
  flDownloading_ = false;
  flDeviceConnected_ = false;
  if (bootloader_) bootloader_->closeSession();
}

}  // namespace kestra
