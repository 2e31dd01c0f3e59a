// The hub's firmware file and its update through the firmware commands of the hub frame.

#include <cstdint>
#include <cstdlib>
#include <cstring>

#include "sdk/foundation/KXIdleTimer.h"
#include "sdk/foundation/KXUNISDKGlobals.h"
#include "sdk/hub/HubFrame.h"
#include "sdk/hub/PagedFirmware.h"
#include "sdk/hub/USBManager.h"

namespace kestra {

namespace {
constexpr size_t kMagicAt = 0x100, kModelAt = 0x110, kNameAt = 0x120, kVersionAt = 0x130, kFieldSize = 0x10;
constexpr const char* kMagic = "SABREL";

// The NUL-ended text of a 16-byte header field (a field without NUL ends at its size).
std::string field(const Bytes& file, size_t at) {
  const char* p = reinterpret_cast<const char*>(file.data() + at);
  return std::string(p, strnlen(p, kFieldSize));
}

std::string replaceAll(std::string s, const std::string& from, const std::string& to) {
  for (size_t at = s.find(from); at != std::string::npos; at = s.find(from, at + to.size()))
    s.replace(at, from.size(), to);
  return s;
}

}  // namespace

std::optional<USBManager::FirmwareInfo> USBManager::getFirmwareFileInformation(const Bytes& file,
                                                                               Error* error) const {
  if (file.size() < size_t(kFirmwareMinSize)) {
    foundation::fail(error, KXUNISDKGlobals::makeError(-21, std::string("Data is nil or invalid")));
    return std::nullopt;
  }
  const Error invalid = KXUNISDKGlobals::makeError(-21, std::string("Data is invalid"));
  if (field(file, kMagicAt) != kMagic) {
    foundation::fail(error, invalid);
    return std::nullopt;
  }
  FirmwareInfo info;
  info.deviceModel = field(file, kModelAt);
  info.deviceName = field(file, kNameAt);
  info.firmwareRevision = field(file, kVersionAt);
  // Each dotted part is one byte of the number. The sum is kept in 32 unsigned bits, so a
  // field that no hub writes (long runs of digits, many parts) reads without overflow.
  uint32_t value = 0;
  size_t start = 0;
  const std::string& v = info.firmwareRevision;
  while (start <= v.size()) {
    const size_t dot = std::min(v.find('.', start), v.size());
    value = value * 256u + uint32_t(std::strtoul(v.substr(start, dot - start).c_str(), nullptr, 10));
    start = dot + 1;
  }
  info.firmwareRevisionNumber = int(value);
  if (info.deviceName.empty() || info.deviceModel.empty()) {
    foundation::fail(error, invalid);
    return std::nullopt;
  }
  return info;
}

void USBManager::updateNotify(int phase, int percent) {
  if (auto cd = controlDelegate()) {
    try {
      cd->firmwareUpdateProgress(phase, percent);
    } catch (...) {
    }
  }
}

bool USBManager::updateFirmwareData(const Bytes& file, bool validate, Error* error) {
  // A file that is not a hub firmware file is never sent, whatever `validate` says.
  auto info = getFirmwareFileInformation(file, error);
  if (!info) return false;
  if (validate) {
    const std::string model = deviceModel(), name = deviceName();
    if (info->deviceModel != model && replaceAll(info->deviceModel, "1E", "E1") != replaceAll(model, "PM", "AM"))
      return foundation::fail(error, KXUNISDKGlobals::makeError(
                                         -9, "Invalid device model in the firmware file, expected %s, got %s",
                                         model.c_str(), info->deviceModel.c_str()));
    if (info->deviceName != name)
      return foundation::fail(error, KXUNISDKGlobals::makeError(
                                         -9, "Invalid device name in the firmware file, expected %s, got %s",
                                         name.c_str(), info->deviceName.c_str()));
  }
  if (!sendCommand(hub::kCmdFwStart, 0, {}, error)) return false;
  idleTimerStop();  // the screen must not lock half-way through
  firmwareUpdate_ = true;
  PagedFirmwareSteps steps;
  steps.pageSize = kFirmwarePage;
  steps.attempts = kFirmwareAttempts;
  steps.attemptPause = kFirmwareAttemptPause;
  steps.start = [&] { return sendCommand(hub::kCmdFwErase, 0).has_value(); };
  steps.writePage = [&](size_t offset, const uint8_t* page, size_t len) {
    Bytes data{uint8_t(offset >> 24), uint8_t(offset >> 16), uint8_t(offset >> 8), uint8_t(offset)};
    data.insert(data.end(), page, page + len);
    return sendCommand(hub::kCmdFwWrite, 0, data).has_value();
  };
  steps.progress = [&](int phase, int percent) { updateNotify(phase, percent); };
  const bool done = sendFirmwarePages(file, steps);
  firmwareUpdate_ = false;
  updateNotify(3, 100);
  idleTimerRestore();
  sendCommand(hub::kCmdFwFinish, 0);
  if (!done) return foundation::fail(error, KXUNISDKGlobals::makeError(-20, std::string("Firmware update failed")));
  return true;
}

}  // namespace kestra
