// The sleeve's own firmware: the file's header, the match with the connected sleeve, and the
// transfer to the boot loader (F0 enter, F1 erase, F2 pages, F3 restart).

#include <typeinfo>

#include "sdk/foundation/KXIdleTimer.h"
#include "sdk/hub/PagedFirmware.h"
#include "sdk/sleeve/Pellan.h"
#include "sdk/sleeve/PellanImpl.h"

namespace kestra {

namespace {
constexpr uint8_t kCmdEnterBootLoader = 0xF0;
constexpr uint8_t kCmdErase = 0xF1;
constexpr uint8_t kCmdWritePage = 0xF2;
constexpr uint8_t kCmdRestart = 0xF3;
constexpr int kUpdateAttempts = 3;
constexpr foundation::Duration kAttemptPause = std::chrono::milliseconds(1500);

bool logged(Error* error, const Error& e) {
  KXUNISDKGlobals::LOG("ERROR: %s", e.description().c_str());
  return foundation::fail(error, e);
}
}  // namespace

std::optional<pellan::FirmwareFileInfo> Pellan::getFirmwareFileInformation(const Bytes& image,
                                                                           Error* error) {
  Error e;
  auto info = pellan::readFirmwareFile(image, &e);
  if (!info) logged(error, e);
  return info;
}

bool Pellan::isDeviceNameEqual(const std::string& name) const {
  return pellan::firmwareNameEqual(d_->name(), name);
}

bool Pellan::isDeviceModelEqual(const std::string& model) const {
  return pellan::firmwareModelEqual(d_->model(), model);
}

void Pellan::updateNotify(int phase, int percent) {
  d_->fanOut(sel::firmwareUpdateProgress, [&](PellanDelegate& del) {
    KXUNISDKGlobals::LOG("TDelegate %s responds to selector, will be notified", typeid(del).name());
    del.firmwareUpdateProgress(phase, percent);
  });
}

bool Pellan::updateFirmwareData(const Bytes& image, bool validate, Error* error) {
  // A file that cannot be read is refused before anything is sent, whatever `validate`
  // says: its header is what tells how much of the sleeve it would overwrite.
  Error e;
  const auto info = pellan::readFirmwareFile(image, &e);
  if (!info) return logged(error, e);
  if (validate) {
    const std::string model = d_->model(), name = d_->name();
    if (info->deviceModel != model &&
        pellan::replaceAll(info->deviceModel, "PM", "AM") != pellan::replaceAll(model, "PM", "AM"))
      return logged(error, KXUNISDKGlobals::makeError(
                               -9, "Invalid device model in the firmware file, expected %s, got %s",
                               model.c_str(), info->deviceModel.c_str()));
    if (!isDeviceNameEqual(info->deviceName))
      return logged(error, KXUNISDKGlobals::makeError(
                               -9, "Invalid device name in the firmware file, expected %s, got %s",
                               name.c_str(), info->deviceName.c_str()));
  }
  auto& t = d_->transport;
  const size_t pageSize = t.nChannels == 1 ? 256 : 128;
  if (!t.sendCommand(0, kCmdEnterBootLoader, nullptr, 0, false, &e)) return logged(error, e);

  idleTimerStop();
  t.firmwareUpdate = true;
  PagedFirmwareSteps steps;
  steps.pageSize = pageSize;
  steps.attempts = kUpdateAttempts;
  steps.attemptPause = kAttemptPause;
  steps.start = [&] { return t.sendCommand(0, kCmdErase, nullptr, 0, true, nullptr).has_value(); };
  steps.writePage = [&](size_t offset, const uint8_t* page, size_t length) {
    Bytes data;
    foundation::appendBE32(data, uint32_t(offset));
    data.insert(data.end(), page, page + length);
    return t.sendCommand(0, kCmdWritePage, data.data(), data.size(), true, nullptr).has_value();
  };
  steps.progress = [&](int phase, int percent) { updateNotify(phase, percent); };
  const bool done = sendFirmwarePages(image, steps);

  t.firmwareUpdate = false;
  updateNotify(3, 100);
  idleTimerRestore();
  t.sendCommand(0, kCmdRestart, nullptr, 0, true, nullptr);
  if (!done) return logged(error, KXUNISDKGlobals::makeError(-20, std::string("Firmware update failed")));
  return true;
}

}  // namespace kestra
