// System and settings commands of the sleeve: power, clock, identification, sound,
// charging, sync button, LEDs, vibration, speaker, automatic power-off and raw pass-through
// commands; and the magnetic-stripe reader's modes.

#include <cmath>
#include <cstdint>
#include <ctime>

#include "sdk/sleeve/Pellan.h"
#include "sdk/sleeve/PellanImpl.h"
#include "sdk/sleeve/PellanModels.h"

namespace kestra {

namespace {

constexpr uint8_t kCmdSystem = 1;
constexpr uint8_t kCmdSound = 15;
constexpr uint8_t kSystemCmdCharging = 16;
constexpr uint8_t kCmdSyncButton = 17;
constexpr uint8_t kCmdLeds = 52;
constexpr uint8_t kCmdVibration = 53;
constexpr uint8_t kSystemCmdSettings = 58;
constexpr uint8_t kCmdVoltage = 59;
constexpr uint8_t kCmdEngineReady = 63;
constexpr uint8_t kCmdTransArmor = 65;
constexpr uint8_t kCmdHandle = 80;

constexpr uint8_t kSysPowerOff = 0x01;
constexpr uint8_t kSysSaveSettings = 0x02;
constexpr uint8_t kSysSetDate = 0x03;
constexpr uint8_t kSysGetDate = 0x04;
constexpr uint8_t kSysIdent = 0x05;
constexpr uint8_t kSysMute = 0x0D;
constexpr uint8_t kSysPassThrough = 0x10;

constexpr uint8_t kSettingUsbCurrent = 0x02;
constexpr uint8_t kSettingOffWhenDisconnected = 0x03;
constexpr uint8_t kSettingOffWhenIdle = 0x04;
constexpr uint8_t kSettingCharging = 0x05;
constexpr uint8_t kSettingSpeaker = 0x06;
constexpr uint8_t kSettingSpeakerAuto = 0x09;
constexpr uint8_t kSettingSpeakerButton = 0x0A;

constexpr double kDefaultOffWhenDisconnected = 30.0;

// Magnetic reader, channel 1.
constexpr uint8_t kMsEnable = 0;
constexpr uint8_t kMsDisable = 1;
constexpr uint8_t kMsCardDataMode = 4;
constexpr int kMsModeTranslationFirmware = 2043;

bool setFlag(Pellan::Impl& d, uint8_t id, bool on, Error* error) {
  return d.command(0, kSystemCmdSettings, {0x00, id, uint8_t(on ? 1 : 0)}, error).has_value();
}

bool getFlag(Pellan::Impl& d, uint8_t id, bool* on, Error* error) {
  uint8_t b;
  if (!pellanFirstByte(d.command(0, kSystemCmdSettings, {0x01, id}, error), &b, error)) return false;
  if (on) *on = b != 0;
  return true;
}

bool chargingBySettings(const std::string& name) {
  for (auto prefix : pellan::kSettingsChargingModels)
    if (pellan::nameHasPrefix(name, prefix)) return true;
  return false;
}

// The whole part of `v`, saturated to the 64-bit range (NaN gives 0): a caller's time that
// is out of range never becomes an undefined conversion.
int64_t wholePart(double v) {
  if (std::isnan(v)) return 0;
  if (v >= 9.2e18) return INT64_MAX;
  if (v <= -9.2e18) return INT64_MIN;
  return int64_t(v);
}

Bytes seconds4(double s) {
  Bytes b;
  foundation::appendBE32(b, uint32_t(wholePart(s)));
  return b;
}

}  // namespace

bool Pellan::sysPowerOff(Error* error) {
  return d_->command(0, kCmdSystem, {kSysPowerOff}, error).has_value();
}

bool Pellan::sysSaveSettingsToFlash(Error* error) {
  return d_->command(0, kCmdSystem, {kSysSaveSettings}, error).has_value();
}

bool Pellan::rtcSetDate(std::optional<std::chrono::system_clock::time_point> date, Error* error) {
  const auto when = date ? *date : foundation::Clock::current().wallNow();
  const std::time_t t = std::chrono::system_clock::to_time_t(when);
  std::tm utc{};
  gmtime_r(&t, &utc);
  const Bytes payload = {kSysSetDate,
                         uint8_t(utc.tm_year + 1900 - 2000),
                         uint8_t(utc.tm_mon + 1),
                         uint8_t(utc.tm_mday),
                         uint8_t(utc.tm_hour),
                         uint8_t(utc.tm_min),
                         uint8_t(utc.tm_sec)};
  return d_->command(0, kCmdSystem, payload, error).has_value();
}

std::optional<std::chrono::system_clock::time_point> Pellan::rtcGetDate(Error* error) {
  const auto answer = d_->command(0, kCmdSystem, {kSysGetDate}, error);
  if (!answer) return std::nullopt;
  if (answer->size() < 6) {
    pellanFail(error, -6, "Invalid data length received");
    return std::nullopt;
  }
  const Bytes& a = *answer;
  std::tm utc{};
  utc.tm_year = a[0] + 2000 - 1900;
  utc.tm_mon = a[1] - 1;
  utc.tm_mday = a[2];
  utc.tm_hour = a[3];
  utc.tm_min = a[4];
  utc.tm_sec = a[5];
  return std::chrono::system_clock::from_time_t(timegm(&utc));
}

std::optional<std::vector<std::string>> Pellan::sysGetIdent(Error* error) {
  const auto answer = d_->command(0, kCmdSystem, {kSysIdent}, error);
  if (!answer) return std::nullopt;
  std::vector<std::string> items;
  std::string cur;
  for (uint8_t c : *answer) {
    if (c == '|') {
      items.push_back(std::move(cur));
      cur.clear();
    } else {
      cur.push_back(char(c));
    }
  }
  items.push_back(std::move(cur));
  return items;
}

bool Pellan::sysMute(Error* error) {
  return d_->command(0, kCmdSystem, {kSysMute}, error).has_value();
}

bool Pellan::sysEnterPassThrough(Error* error) {
  return d_->command(0, kCmdSystem, {kSysPassThrough}, error).has_value();
}

bool Pellan::playSound(int volume, const int* beepData, int length, Error* error) {
  if (volume < 0 || volume > 100) return pellanFail(error, -9, "Volume can be between 0 and 100");
  if (length < 0 || length > 200 || length % 4 != 0)
    return pellanFail(error, -9, "Length must be no more than 200 bytes");
  Bytes payload = {uint8_t((volume / 2) & 0x7F)};
  for (int i = 0; beepData && i < length / 4; ++i)
    foundation::appendBE16(payload, uint16_t(beepData[i]));
  return d_->command(0, kCmdSound, payload, error).has_value();
}

bool Pellan::getCharging(bool* charging, Error* error) {
  if (chargingBySettings(d_->name())) return getFlag(*d_, kSettingCharging, charging, error);
  uint8_t b;
  if (!pellanFirstByte(d_->command(0, kSystemCmdCharging, {0x01}, error), &b, error)) return false;
  if (charging) *charging = b == 1;
  return true;
}

bool Pellan::setCharging(bool enabled, Error* error) {
  if (chargingBySettings(d_->name())) return setFlag(*d_, kSettingCharging, enabled, error);
  const uint8_t value = enabled ? 1 : 0;
  uint8_t echo;
  if (!pellanFirstByte(d_->command(0, kSystemCmdCharging, {0x00, value}, error), &echo, error))
    return false;
  if (echo != value) return pellanFail(error, -20, "Failed changing charging");
  return true;
}

bool Pellan::getSyncButtonMode(int* mode, Error* error) {
  uint8_t b;
  if (!pellanFirstByte(d_->command(0, kCmdSyncButton, {0x01}, error), &b, error)) return false;
  if (mode) *mode = b;
  return true;
}

bool Pellan::setSyncButtonMode(int mode, Error* error) {
  if (mode != 0 && mode != 1)
    return pellanFail(error, -9, "Mode can be BUTTON_DISABLED or BUTTON_ENABLED");
  uint8_t echo;
  if (!pellanFirstByte(d_->command(0, kCmdSyncButton, {0x00, uint8_t(mode)}, error), &echo,
                       error))
    return false;
  if (echo != mode)
    return pellanFail(error, -9, pellanFormat("Mode sent: %d, received: %d", mode, echo));
  return true;
}

bool Pellan::getPassThroughSync(bool* enabled, Error* error) {
  int mode = 0;
  if (!getSyncButtonMode(&mode, error)) return false;
  if (enabled) *enabled = mode != 0;
  return true;
}

bool Pellan::setPassThroughSync(bool enabled, Error* error) {
  return setSyncButtonMode(enabled ? 1 : 0, error);
}

bool Pellan::uiControlLEDsWithBitMask(uint32_t mask, Error* error) {
  Bytes payload;
  foundation::appendBE32(payload, mask);
  return d_->command(0, kCmdLeds, payload, error).has_value();
}

bool Pellan::uiEnableVibrationForTime(float seconds, Error* error) {
  Bytes payload;
  foundation::appendBE16(payload, uint16_t(wholePart(double(seconds * 1000))));
  return d_->command(0, kCmdVibration, payload, error).has_value();
}

bool Pellan::setUSBChargeCurrent(int current, Error* error) {
  Bytes payload = {0x00, kSettingUsbCurrent};
  foundation::appendBE16(payload, uint16_t(current));
  return d_->command(0, kSystemCmdSettings, payload, error).has_value();
}

bool Pellan::getUSBChargeCurrent(int* current, Error* error) {
  const auto a = d_->command(0, kSystemCmdSettings, {0x01, kSettingUsbCurrent}, error);
  if (!a) return false;
  if (a->size() < 2) return pellanFail(error, -6, "Invalid data length received");
  if (current) *current = foundation::readBE16(a->data());
  return true;
}

bool Pellan::uiEnableSpeaker(bool on, Error* error) {
  return setFlag(*d_, kSettingSpeaker, on, error);
}
bool Pellan::uiIsSpeakerEnabled(bool* on, Error* error) {
  return getFlag(*d_, kSettingSpeaker, on, error);
}
bool Pellan::uiEnableSpeakerAutoControl(bool on, Error* error) {
  KXUNISDKGlobals::LOG("PN:Enable speaker mode: %d", on ? 1 : 0);
  return setFlag(*d_, kSettingSpeakerAuto, on, error);
}
bool Pellan::uiIsSpeakerAutoControlEnabled(bool* on, Error* error) {
  return getFlag(*d_, kSettingSpeakerAuto, on, error);
}
bool Pellan::uiEnableSpeakerButton(bool on, Error* error) {
  KXUNISDKGlobals::LOG("PN:Enable speaker button: %d", on ? 1 : 0);
  return setFlag(*d_, kSettingSpeakerButton, on, error);
}
bool Pellan::uiIsSpeakerButtonEnabled(bool* on, Error* error) {
  return getFlag(*d_, kSettingSpeakerButton, on, error);
}

bool Pellan::setAutoOffWhenIdle(double idleSeconds, double disconnectedSeconds, Error* error) {
  d_->idleTimeout = idleSeconds;
  Bytes idle = {0x00, kSettingOffWhenIdle};
  const Bytes is = seconds4(idleSeconds);
  idle.insert(idle.end(), is.begin(), is.end());
  if (!d_->command(0, kSystemCmdSettings, idle, error)) return false;
  Bytes disc = {0x00, kSettingOffWhenDisconnected};
  const Bytes ds = seconds4(disconnectedSeconds);
  disc.insert(disc.end(), ds.begin(), ds.end());
  d_->command(0, kSystemCmdSettings, disc, nullptr);
  return true;
}

bool Pellan::getAutoOffWhenIdle(double* idleSeconds, Error* error) {
  const auto a = d_->command(0, kSystemCmdSettings, {0x01, kSettingOffWhenIdle}, error);
  if (!a) return false;
  if (a->size() < 4) return pellanFail(error, -6, "Invalid data length received");
  if (idleSeconds) *idleSeconds = int32_t(foundation::readBE32(a->data()));
  return true;
}

bool Pellan::getAutoOffWhenIdle(double* idleSeconds, double* disconnectedSeconds,
                                Error* error) {
  if (idleSeconds) *idleSeconds = 0;
  if (disconnectedSeconds) *disconnectedSeconds = kDefaultOffWhenDisconnected;
  if (!getAutoOffWhenIdle(idleSeconds, error)) return false;
  const auto a = d_->command(0, kSystemCmdSettings, {0x01, kSettingOffWhenDisconnected}, error);
  if (!a) return false;
  if (a->size() >= 4 && disconnectedSeconds)
    *disconnectedSeconds = int32_t(foundation::readBE32(a->data()));
  return true;
}

bool Pellan::getTimeRemainingToPowerOff(double* seconds, Error* error) {
  const auto last = d_->transport.lastCommandTime();
  if (d_->transport.nChannels == 2 || !last)
    return pellanFail(error, -7, "Unsupported method or operation");
  const double since =
      std::chrono::duration<double>(foundation::Clock::current().now() - *last).count();
  if (seconds) *seconds = d_->idleTimeout - since;
  return true;
}

std::optional<Bytes> Pellan::voltageCommand(const uint8_t* data, int length, Error* error) {
  return sendCommand(0, kCmdVoltage, data, uint64_t(std::max(length, 0)), error);
}

bool Pellan::barcodeEngineCheckReady(bool* ready, Error* error) {
  if (d_->feature(1) != 2) {
    if (ready) *ready = true;
    return true;
  }
  Error e;
  if (d_->command(0, kCmdEngineReady, {}, &e) || e.code == -5) {
    if (ready) *ready = true;
    return true;
  }
  return foundation::fail(error, e);
}

std::optional<Bytes> Pellan::taCommand(const Bytes& data, Error* error) {
  if (!(d_->feature(0) & 32)) {
    pellanFail(error, -7, "TransArmor not supported on this device");
    return std::nullopt;
  }
  return d_->command(0, kCmdTransArmor, data, nullptr);
}

std::optional<Bytes> Pellan::handleCommand(const Bytes& data, Error* error) {
  return d_->command(0, kCmdHandle, data, error);
}

// ---- Magnetic-stripe reader ------------------------------------------------------------------

bool Pellan::msEnable(Error* error) { return d_->command(1, kMsEnable, {}, error).has_value(); }

bool Pellan::msDisable(Error* error) { return d_->command(1, kMsDisable, {}, error).has_value(); }

bool Pellan::msGetCardDataMode(int* mode, Error* error) {
  uint8_t b;
  if (!pellanFirstByte(d_->command(1, kMsCardDataMode, {0x01}, error), &b, error)) return false;
  int m = b;
  if (d_->fwVer >= kMsModeTranslationFirmware && m == 2) m = 0;
  if (mode) *mode = m;
  return true;
}

bool Pellan::msSetCardDataMode(int mode, Error* error) {
  const int sent = (d_->fwVer >= kMsModeTranslationFirmware && mode == 0) ? 2 : mode;
  uint8_t echo;
  if (!pellanFirstByte(d_->command(1, kMsCardDataMode, {0x00, uint8_t(sent)}, error), &echo,
                       error))
    return false;
  if (echo != sent)
    return pellanFail(error, -9, pellanFormat("Mode sent: %d, received: %d", sent, echo));
  return true;
}

}  // namespace kestra
