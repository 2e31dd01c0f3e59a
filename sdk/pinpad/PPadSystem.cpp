// The pinpad's system commands (group 0x36): settings, clock, sound, LEDs, status line,
// flash, system and hardware information, power, events and firmware update.
#include <algorithm>

#include <nlohmann/json.hpp>

#include "platform/foundation/DateFormat.h"
#include "platform/foundation/Values.h"
#include "sdk/pinpad/PPad.h"
#include "sdk/pinpad/PPadImpl.h"

namespace kestra {

namespace {

constexpr uint8_t kGetSetting = 0x15;
constexpr uint8_t kSetSetting = 0x16;
constexpr uint8_t kSettingBatteryWarning = 0x02;
constexpr uint8_t kSettingAutoOff = 0x03;
constexpr uint8_t kSettingUSBCurrent = 0x06;
constexpr uint8_t kSettingVolume = 0x07;
constexpr size_t kFirmwarePage = 256;
constexpr const char* kDatePattern = "yyyy MM dd HH mm ss";

}  // namespace

// ---- Settings ----------------------------------------------------------------------------

namespace {
// A setting read: reply byte 0 (or bytes 0-1), 9 when the reply has fewer.
int readSetting(PPad::Impl& d, uint8_t setting, size_t bytes, bool cached, int* value) {
  Bytes reply;
  const int r = d.command(ppad::kGroupSystem, {kGetSetting, setting}, &reply, cached);
  if (r != 0) return r;
  if (reply.size() < bytes) return ppad::kFailed;
  if (value) *value = bytes == 2 ? foundation::readLE16(reply.data()) : reply[0];
  return 0;
}
}  // namespace

int PPad::sysGetBatteryWarningLevelPercent(int* percent) {
  return readSetting(*d_, kSettingBatteryWarning, 1, false, percent);
}

int PPad::sysSetBatteryWarningLevelPercent(int percent) {
  return d_->command(ppad::kGroupSystem, {kSetSetting, kSettingBatteryWarning, uint8_t(percent)}, nullptr, true);
}

int PPad::sysGetAutoOffTimeSec(int* seconds) {
  int minutes = 0;
  const int r = readSetting(*d_, kSettingAutoOff, 2, false, &minutes);
  if (r == 0 && seconds) *seconds = minutes * 60;
  return r;
}

int PPad::sysSetAutoOffTimeSec(int seconds) {
  if (seconds < 60) return ppad::kInvalidParameter;
  Bytes data = {kSetSetting, kSettingAutoOff};
  foundation::appendLE16(data, uint16_t(seconds / 60));
  return d_->command(ppad::kGroupSystem, data, nullptr, true);
}

int PPad::uiGetSettingsGlobalVolume(int* volume) { return readSetting(*d_, kSettingVolume, 1, false, volume); }

int PPad::uiSetSettingsGlobalVolume(int volume) {
  return d_->command(ppad::kGroupSystem, {kSetSetting, kSettingVolume, uint8_t(volume)}, nullptr, true);
}

int PPad::sysGetUSBChargingCurrent(int* value) { return readSetting(*d_, kSettingUSBCurrent, 1, true, value); }

int PPad::sysSetUSBChargingCurrent(int value) {
  Bytes data = {kSetSetting, kSettingUSBCurrent};
  foundation::appendLE16(data, uint16_t(value));
  return d_->command(ppad::kGroupSystem, data, nullptr, true);
}

// ---- Clock ---------------------------------------------------------------------------------

int PPad::sysGetDate(std::chrono::system_clock::time_point* date) {
  Bytes r;
  const int result = d_->command(ppad::kGroupSystem, {0x01}, &r);
  if (result != 0) return result;
  if (r.size() < 6) return ppad::kFailed;
  char text[40];
  std::snprintf(text, sizeof text, "%04d %02d %02d %02d %02d %02d", 2000 + r[0], r[1], r[2], r[3], r[4], r[5]);
  const auto parsed = foundation::toWallTime(foundation::parseDate(text, kDatePattern));
  if (!parsed) return ppad::kFailed;  // not a date the pinpad could hold
  if (date) *date = *parsed;
  return 0;
}

int PPad::sysSetDate(std::chrono::system_clock::time_point date) {
  const std::string text = foundation::formatDate(date, kDatePattern);
  Bytes data = {0x02};
  size_t start = 0;
  for (int field = 0; field < 6; ++field) {
    const size_t end = text.find(' ', start);
    const int v = foundation::intValue(std::string_view(text).substr(start, end - start));
    data.push_back(uint8_t(field == 0 ? v - 2000 : v));
    if (end == std::string::npos) break;
    start = end + 1;
  }
  if (data.size() != 7) return ppad::kInvalidParameter;
  return d_->command(ppad::kGroupSystem, data, nullptr, true);
}

// ---- Sound and lights ------------------------------------------------------------------------

int PPad::sysBeep(int frequency, int durationMs, int volume) {
  if (volume < 0 || volume > 100) return ppad::kInvalidParameter;
  Bytes data = {0x03};
  foundation::appendLE16(data, uint16_t(frequency));
  foundation::appendLE16(data, uint16_t(durationMs));
  data.push_back(uint8_t((volume / 2) & 0x7F));
  return d_->command(ppad::kGroupSystem, data, nullptr, true);
}

int PPad::sysPlaySound(const int* data, int length, int volume) {
  if (volume < 0 || volume > 100) return ppad::kInvalidParameter;
  if (!data || length < 4) return 0;
  const int n = length / 4;  // an unpaired last number is ignored
  for (int i = 0; i + 1 < n; i += 2) {
    const int r = sysBeep(data[i] & 0xFFFF, data[i + 1] & 0xFFFF, volume);
    if (r != 0) return r;
  }
  return 0;
}

int PPad::sysLEDControl(int led, int pattern) {
  if (led < 0 || led > 3) return ppad::kInvalidParameter;
  Bytes data = {0x04, uint8_t(led)};
  foundation::appendLE16(data, uint16_t(pattern));
  return d_->command(ppad::kGroupSystem, data, nullptr, true);
}

int PPad::sysBitmaskLEDControl2(uint32_t value) {
  Bytes data = {0x04};
  foundation::appendLE32(data, value);
  return d_->command(ppad::kGroupSystem, data, nullptr, true);
}

int PPad::sysBitmaskLEDControl(const std::vector<PPadLEDEntry>& leds) {
  Bytes data = {0x04, 0x00};
  for (const auto& e : leds) {
    // A 32-bit pattern has at most 32 bits to send.
    if (e.bitCount < 0 || e.bitCount > 32) return ppad::kInvalidParameter;
    data.push_back(uint8_t(e.led == 0x1F ? 4 : e.led));
    data.push_back(uint8_t(e.period / 10));
    data.push_back(uint8_t(e.bitCount));
    for (int k = (e.bitCount + 7) / 8 - 1; k >= 0; --k) data.push_back(uint8_t(e.pattern >> (8 * k)));
  }
  return d_->command(ppad::kGroupSystem, data, nullptr, true);
}

int PPad::sysStatusLine(bool on) {
  const int r = d_->command(ppad::kGroupSystem, {0x05, uint8_t(on ? 1 : 0)}, nullptr, true);
  if (r == 0) d_->topMargin = on ? d_->statusHeight.load() : 0;
  return r;
}

int PPad::sysMelody(const Bytes& melody) {
  if (melody.empty()) return ppad::kInvalidParameter;
  Bytes data = withArgs({0x06}, melody);
  data.push_back(0x00);
  return d_->command(ppad::kGroupSystem, data, nullptr, true);
}

// ---- Flash, information, power ------------------------------------------------------------------

int PPad::sysEraseFlashPage(uint32_t page) {
  Bytes data = {0x07};
  foundation::appendLE32(data, page);
  return d_->command(ppad::kGroupSystem, data);
}

int PPad::sysWriteFlashPage(uint32_t page, const Bytes& bytes) {
  if (bytes.empty()) return ppad::kInvalidParameter;
  const Bytes data = withArgs({0x08, uint8_t(page), uint8_t(page >> 8), uint8_t(page >> 16),
                               uint8_t(page >> 24), 0x00},
                              bytes);
  return d_->command(ppad::kGroupSystem, data);
}

int PPad::sysGetSystemInfo(ppad::SystemInfo* info) {
  Bytes reply;
  const int r = d_->command(ppad::kGroupSystem, {0x09}, &reply, false, kSystemInfoTimeout);
  if (r == 0 && info) *info = ppad::parseSystemInfo(reply);
  return r;
}

int PPad::sysGetHardwareInfo(PPadHardwareInfo* info) {
  Bytes r;
  const int result = d_->command(ppad::kGroupSystem, {0x0A}, &r);
  if (result != 0) return result;
  if (r.size() < 3) return ppad::kFailed;
  if (info) {
    info->charging = r[1] & 0x01;
    info->flag1 = r[1] & 0x02;
    info->flag2 = r[1] & 0x04;
    info->flag3 = r[1] & 0x08;
    info->value0 = r[0];
    info->value2 = r[2];
  }
  return 0;
}

int PPad::sysTurnOff() { return d_->command(ppad::kGroupSystem, {0x0B}); }
int PPad::sysRestart() { return d_->command(ppad::kGroupSystem, {0x0C}); }
int PPad::sysStartFirmwareUpdate() { return d_->command(ppad::kGroupSystem, {0x0D}); }

int PPad::sysFirmwareUpdateWritePage(const uint8_t* page, size_t length) {
  return d_->command(ppad::kGroupSystem, withArgs({0x0E}, page, length));
}

int PPad::sysEndFirmwareUpdate() { return d_->command(ppad::kGroupSystem, {0x0F}); }

int PPad::sysEnableEvents(uint32_t mask) {
  Bytes data = {0x10};
  foundation::appendLE32(data, mask);
  const int r = d_->command(ppad::kGroupSystem, data, nullptr, true);
  if (r == 0) d_->events = mask;
  return r;
}

int PPad::sysGetEnabledEvents(uint32_t* mask) const {
  if (mask) *mask = d_->events;
  return 0;
}

int PPad::btUpdate(const std::optional<Bytes>& extra) {
  const Bytes data = extra ? withArgs({0x14, 0x66}, *extra) : Bytes{0x14, 0x66};
  return d_->command(ppad::kGroupSystem, data, nullptr, false, kBTUpdateTimeout);
}

int PPad::btGetFirmwareVersion(std::string* version) {
  Bytes reply;
  const int r = d_->command(ppad::kGroupSystem, {0x14, 0x67}, &reply);
  if (r == 0 && version) {
    const auto end = std::find(reply.begin(), reply.end(), 0);
    *version = std::string(reply.begin(), end);
  }
  return r;
}

int PPad::getTimeRemainingToPowerOff(double* seconds) const {
  const auto last = d_->transport.lastCommandTime();
  if (!last) return ppad::kNotSupported;
  if (!seconds) return 0;
  const double idle = std::chrono::duration<double>(foundation::Clock::current().now() - *last).count();
  *seconds = d_->idleTimeout - idle;
  return 0;
}

std::optional<nlohmann::json> PPad::sysGetFirmwareFileInformation(const Bytes& file) const {
  const auto info = ppad::firmwareFileInformation(file);
  if (!info) return std::nullopt;
  return nlohmann::json{{"deviceModel", info->deviceModel},
                        {"deviceName", info->deviceName},
                        {"firmwareRevisionNumber", info->firmwareRevisionNumber},
                        {"firmwareRevision", info->firmwareRevision}};
}

void PPad::updateNotify(int phase, int percent) {
  d_->fanOut(ppsel::firmwareUpdateProgress,
             [&](PPadDelegate& del) { del.firmwareUpdateProgress(phase, percent); });
}

int PPad::commTest(int repetitions, int nBytes) {
  if (repetitions < 1) return 0;
  if (nBytes < 0 || size_t(nBytes) > PPadTransport::kCmdBufferSize) return ppad::kInvalidParameter;
  Bytes pattern(static_cast<size_t>(nBytes), 0);
  for (size_t i = 0; i < pattern.size(); ++i) pattern[i] = uint8_t('0' + i % 10);
  for (int i = 0; i < repetitions; ++i) {
    const int r = d_->command(ppad::kGroupTest, pattern);
    if (r != 0) return r;
  }
  return 0;
}

// ---- Firmware update ---------------------------------------------------------------------------

int PPad::sysUpdateFile(const std::optional<Bytes>& file) {
  if (!file || file->empty()) return ppad::kInvalidParameter;
  updateNotify(0, 0);
  int r = sysStartFirmwareUpdate();
  if (r != 0) return r;
  const size_t total = file->size();
  int lastPercent = -1;
  for (size_t offset = 0; offset < total; offset += kFirmwarePage) {
    Bytes page(kFirmwarePage, 0xFF);
    const size_t n = std::min(kFirmwarePage, total - offset);
    std::copy(file->begin() + long(offset), file->begin() + long(offset + n), page.begin());
    const int percent = int(offset * 100 / total);
    if (percent != lastPercent) {
      updateNotify(2, percent);
      lastPercent = percent;
    }
    r = sysFirmwareUpdateWritePage(page.data(), page.size());
    if (r != 0) return r;
  }
  return sysEndFirmwareUpdate();
}

int PPad::sysFirmwareUpdate(const std::optional<Bytes>& file) {
  const int r = sysUpdateFile(file);
  if (r == 0) {
    updateNotify(3, 100);
    sysRestart();
  }
  return r;
}

int PPad::btFirmwareUpdate(const std::optional<Bytes>& file, const std::optional<Bytes>& additionalData) {
  const int r = sysUpdateFile(file);
  if (r == 0) {
    updateNotify(3, 100);
    btUpdate(additionalData);
  }
  return r;
}

}  // namespace kestra
