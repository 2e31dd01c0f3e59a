// The serial adapter's firmware file and update (commands 240 to 243).

#include <array>
#include <cstring>

#include "sdk/foundation/KXIdleTimer.h"
#include "sdk/foundation/KXUNISDKGlobals.h"
#include "sdk/hub/CarvikStream.h"
#include "sdk/hub/PagedFirmware.h"

namespace kestra {

namespace {
constexpr size_t kModelAt = 272, kModelSize = 16, kNameAt = 288, kNameSize = 18, kMajorAt = 306, kMinorAt = 307;
enum { kCmdFwStart = 240, kCmdFwErase = 241, kCmdFwWrite = 242, kCmdFwFinish = 243 };
// The oldest adapter firmware that can update itself.
constexpr int kUpdatableFrom[3] = {1, 24, 0};

std::string text(const Bytes& file, size_t at, size_t size) {
  const char* p = reinterpret_cast<const char*>(file.data() + at);
  return std::string(p, strnlen(p, size));
}

// "1.24.0" as (1, 24, 0); missing parts are 0.
std::array<int, 3> revision(const std::string& r) {
  std::array<int, 3> v{};
  size_t start = 0;
  for (int& part : v) {
    if (start > r.size()) break;
    const size_t dot = std::min(r.find('.', start), r.size());
    part = std::atoi(r.substr(start, dot - start).c_str());
    start = dot + 1;
  }
  return v;
}
}  // namespace

std::optional<CarvikStream::FirmwareInfo> CarvikStream::getFirmwareFileInformation(const Bytes& file,
                                                                                   Error* error) const {
  if (file.size() < size_t(kFirmwareMinSize)) {
    foundation::fail(error, KXUNISDKGlobals::makeError(-21, std::string("Data is nil or invalid")));
    return std::nullopt;
  }
  if (KXUNISDKGlobals::crc16ccit(file.data(), uint32_t(file.size()), 0) != 0) {
    foundation::fail(error, KXUNISDKGlobals::makeError(-21, std::string("Invalid firmware checksum")));
    return std::nullopt;
  }
  FirmwareInfo info;
  info.deviceModel = text(file, kModelAt, kModelSize);
  info.deviceName = text(file, kNameAt, kNameSize);
  info.firmwareRevisionNumber = file[kMajorAt] * 100 + file[kMinorAt];
  info.firmwareRevision = std::to_string(file[kMajorAt]) + "." + std::to_string(file[kMinorAt]) + ".0";
  return info;
}

bool CarvikStream::updateFirmwareData(const Bytes& file, Error* error) {
  const auto have = revision(firmwareRevision());
  if (have < std::array<int, 3>{kUpdatableFrom[0], kUpdatableFrom[1], kUpdatableFrom[2]})
    return foundation::fail(error, KXUNISDKGlobals::makeError(-7, std::string("Firmware update not supported on this firmware version")));
  const std::string model = deviceModel(), name = deviceName();
  auto info = getFirmwareFileInformation(file, nullptr);
  if (!info || info->deviceModel != model)
    return foundation::fail(error, KXUNISDKGlobals::makeError(
                                       -9, "Invalid device model in the firmware file, expected %s, got %s",
                                       model.c_str(), info ? info->deviceModel.c_str() : ""));
  if (info->deviceName != name)
    return foundation::fail(error, KXUNISDKGlobals::makeError(
                                       -9, "Invalid device name in the firmware file, expected %s, got %s",
                                       name.c_str(), info->deviceName.c_str()));
  if (!sendCommand(0, kCmdFwStart, {}, error)) return false;
  idleTimerStop();  // the screen must not lock half-way through
  firmwareUpdate_ = true;
  auto notify = [this](int phase, int percent) {
    if (auto c = control()) {
      try {
        c->firmwareUpdateProgress(phase, percent);
      } catch (...) {
      }
    }
  };
  PagedFirmwareSteps steps;
  steps.pageSize = kFirmwarePage;
  steps.attemptPause = kFirmwareAttemptPause;
  // A command counts as accepted when the adapter answered it without an error.
  steps.start = [&] { return sendCommand(0, kCmdFwErase, {}).has_value(); };
  steps.writePage = [&](size_t offset, const uint8_t* page, size_t len) {
    Bytes data;
    data.reserve(len + 4);
    for (int shift : {24, 16, 8, 0}) data.push_back(uint8_t(offset >> shift));
    data.insert(data.end(), page, page + len);
    return sendCommand(0, kCmdFwWrite, data).has_value();
  };
  steps.progress = notify;
  const bool done = sendFirmwarePages(file, steps);
  firmwareUpdate_ = false;
  notify(3, 100);
  idleTimerRestore();
  sendCommand(0, kCmdFwFinish, {});
  if (!done) return foundation::fail(error, KXUNISDKGlobals::makeError(-20, std::string("Firmware update failed")));
  return true;
}

}  // namespace kestra
