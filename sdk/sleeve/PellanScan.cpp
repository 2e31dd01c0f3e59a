// Barcode scanning, scan settings, kiosk mode and battery commands of the sleeve.

#include <nlohmann/json.hpp>
#include <thread>

#include "sdk/foundation/KXBatteryInfo.h"
#include "sdk/sleeve/Pellan.h"
#include "sdk/sleeve/PellanImpl.h"

namespace kestra {

namespace {

constexpr uint8_t kCmdStartScan = 3;
constexpr uint8_t kCmdStopScan = 4;
constexpr uint8_t kCmdScanTimeout = 8;
constexpr uint8_t kCmdScanMode = 9;
constexpr uint8_t kCmdScanButtonMode = 10;
constexpr uint8_t kCmdScanBeep = 11;
constexpr uint8_t kCmdBatteryVoltage = 13;
constexpr uint8_t kCmdCharging = 16;
constexpr uint8_t kCmdBarcodeTypeMode = 21;
constexpr uint8_t kCmdSettings = 58;
constexpr uint8_t kCmdBatteryInfo = 64;

constexpr uint8_t kSettingBatteryMaxCapacity = 0x07;
constexpr uint8_t kSettingKiosk = 0x08;
constexpr uint8_t kSettingChargeCurrentMode = 0x0E;
constexpr uint8_t kSettingUVLights = 0x0F;
constexpr uint8_t kSettingBeepOnReady = 0x10;

constexpr std::chrono::milliseconds kStopScanPause{10};

}  // namespace

bool pellanFirstByte(const std::optional<Bytes>& answer, uint8_t* out, Error* error) {
  if (!answer) return false;
  if (answer->empty()) return pellanFail(error, -6, "Invalid data length received");
  *out = (*answer)[0];
  return true;
}

namespace {

bool setSetting(Pellan::Impl& d, uint8_t id, bool on, Error* error) {
  return d.command(0, kCmdSettings, {0x00, id, uint8_t(on ? 1 : 0)}, error).has_value();
}

bool getSettingFlag(Pellan::Impl& d, uint8_t id, bool* on, Error* error) {
  uint8_t b;
  if (!pellanFirstByte(d.command(0, kCmdSettings, {0x01, id}, error), &b, error)) return false;
  if (on) *on = b != 0;
  return true;
}

}  // namespace

bool Pellan::barcodeStartScan(Error* error) {
  std::lock_guard<std::mutex> lock(d_->btLock);
  KXUNISDKGlobals::filterBarcodeReset();
  return d_->command(0, kCmdStartScan, {}, error).has_value();
}

bool Pellan::barcodeStopScan(Error* error) {
  std::lock_guard<std::mutex> lock(d_->btLock);
  if (!d_->command(0, kCmdStopScan, {}, error)) return false;
  // A short settling pause for the engine (not a time-out, so it is real time).
  std::this_thread::sleep_for(kStopScanPause);
  return true;
}

bool Pellan::barcodeGetScanTimeout(int* timeout, Error* error) {
  uint8_t b;
  if (!pellanFirstByte(d_->command(0, kCmdScanTimeout, {0x01}, error), &b, error)) return false;
  if (timeout) *timeout = b;
  return true;
}

bool Pellan::barcodeSetScanTimeout(int timeout, Error* error) {
  if (timeout < 0 || timeout > 60) return pellanFail(error, -9, "Timeout must be between 0 and 255");
  return d_->command(0, kCmdScanTimeout, {0x00, uint8_t(timeout)}, error).has_value();
}

bool Pellan::barcodeGetScanButtonMode(int* mode, Error* error) {
  uint8_t b;
  if (!pellanFirstByte(d_->command(0, kCmdScanButtonMode, {0x01}, error), &b, error))
    return false;
  if (mode) *mode = b;
  return true;
}

bool Pellan::barcodeSetScanButtonMode(int mode, Error* error) {
  if (mode != BUTTON_DISABLED && mode != BUTTON_ENABLED)
    return pellanFail(error, -9, "Mode can be BUTTON_DISABLED or BUTTON_ENABLED");
  return d_->command(0, kCmdScanButtonMode, {0x00, uint8_t(mode)}, error).has_value();
}

bool Pellan::barcodeGetScanMode(int* mode, Error* error) {
  int cached = d_->barScanMode;
  if (cached == -1) {
    uint8_t b;
    if (!pellanFirstByte(d_->command(0, kCmdScanMode, {0x01}, error), &b, error)) return false;
    cached = b;
    d_->barScanMode = cached;
  }
  if (mode) *mode = cached;
  return true;
}

bool Pellan::barcodeSetScanMode(int mode, Error* error) {
  if (mode < 0 || mode >= 5)
    return pellanFail(error, -9,
                      "Mode can be MODE_SINGLE_SCAN, MODE_MULTI_SCAN, MODE_MOTION_DETECT, "
                      "MODE_SINGLE_SCAN_RELEASE, MODE_MULTI_SCAN_NO_DUPLICATES");
  int sent = mode;
  if (mode == MODE_MULTI_SCAN_NO_DUPLICATES && d_->fwVer > 5000 && d_->feature(1) == 1)
    sent = MODE_MULTI_SCAN;
  if (!d_->command(0, kCmdScanMode, {0x00, uint8_t(sent)}, error)) return false;
  d_->barScanMode = sent;
  return true;
}

namespace {

// Checks a beep or sound table: volume 0..100, at most 200 bytes in whole pairs of ints.
bool checkTones(int volume, int length, Error* error) {
  if (volume < 0 || volume > 100) return pellanFail(error, -9, "Volume can be between 0 and 100");
  if (length < 0 || length > 200 || length % 4 != 0)
    return pellanFail(error, -9, "Length must be no more than 200 bytes");
  return true;
}

void appendTones(Bytes& out, const int* tones, int length) {
  for (int i = 0; tones && i < length / 4; ++i) foundation::appendBE16(out, uint16_t(tones[i]));
}

}  // namespace

bool Pellan::barcodeSetScanBeep(bool enabled, int volume, const int* beepData, int length,
                                Error* error) {
  if (!enabled) {
    uint8_t b;
    if (!pellanFirstByte(d_->command(0, kCmdScanBeep, {0x00, 0x00}, error), &b, error))
      return false;
    if (b != 0) return pellanFail(error, -21, pellanFormat("Enabled sent: %d, received: %d", 0, b));
    return true;
  }
  if (!checkTones(volume, length, error)) return false;
  Bytes payload = {0x00, 0x01, uint8_t(volume)};
  appendTones(payload, beepData, length);
  return d_->command(0, kCmdScanBeep, payload, error).has_value();
}

bool Pellan::barcodeGetTypeMode(int* mode, Error*) {
  if (mode) *mode = d_->barcodeTypeMode;
  return true;
}

int Pellan::barcodeGetTypeMode() const { return d_->barcodeTypeMode; }

bool Pellan::barcodeSetTypeMode(int mode, Error* error) {
  if (mode < 0 || mode > 2)
    return pellanFail(error, -9,
                      "Mode can be BARCODE_TYPE_DEFAULT, BARCODE_TYPE_EXTENDED or "
                      "BARCODE_TYPE_ISO15424");
  d_->barcodeTypeMode = mode;
  return true;
}

bool Pellan::_barcodeSetTypeMode(int mode, Error* error) {
  uint8_t b;
  return pellanFirstByte(d_->command(0, kCmdBarcodeTypeMode, {0x00, uint8_t(mode)}, error), &b,
                         error);
}

std::string Pellan::barcodeType2Text(int type) const {
  return KXUNISDKGlobals::barcodeType2Text(type, d_->barcodeTypeMode);
}

bool Pellan::barcodeSetUVLights(bool on, Error* error) {
  return setSetting(*d_, kSettingUVLights, on, error);
}
bool Pellan::barcodeGetUVLights(bool* on, Error* error) {
  return getSettingFlag(*d_, kSettingUVLights, on, error);
}
bool Pellan::barcodeSetBeepOnReady(bool on, Error* error) {
  return setSetting(*d_, kSettingBeepOnReady, on, error);
}
bool Pellan::barcodeGetBeepOnReady(bool* on, Error* error) {
  return getSettingFlag(*d_, kSettingBeepOnReady, on, error);
}

bool Pellan::setKioskMode(bool on, Error* error) {
  if (on) {
    uint8_t source;
    if (!pellanFirstByte(d_->command(0, kCmdCharging, {0x01}, error), &source, error))
      return false;
    if (source != 2)
      return pellanFail(error, -20, "Kiosk mode can be only enabled when plugged to a cable!");
  }
  if (!setSetting(*d_, kSettingKiosk, on, error)) return false;
  setUSBChargeCurrent(2400, nullptr);
  return true;
}

bool Pellan::getKioskMode(bool* on, Error* error) {
  return getSettingFlag(*d_, kSettingKiosk, on, error);
}

bool Pellan::setBatteryMaxCapacity(int capacity, Error* error) {
  Bytes payload = {0x00, kSettingBatteryMaxCapacity};
  foundation::appendBE16(payload, uint16_t(capacity));
  return d_->command(0, kCmdSettings, payload, error).has_value();
}

bool Pellan::setInternalBatteryChargeCurrentMode(bool on, Error* error) {
  return setSetting(*d_, kSettingChargeCurrentMode, on, error);
}
bool Pellan::getInternalBatteryChargeCurrentMode(bool* on, Error* error) {
  return getSettingFlag(*d_, kSettingChargeCurrentMode, on, error);
}

bool Pellan::getBatteryCapacity(int* percent, float* volts, Error* error) {
  uint8_t tenths;
  if (!pellanFirstByte(d_->command(0, kCmdBatteryVoltage, {}, error), &tenths, error))
    return false;
  if (tenths < 20 || tenths > 50) return pellanFail(error, -9, "Invalid battery voltage received");
  // The ladder the sleeve's firmware has always reported: 1, 25 and 75 per cent never come
  // out (the thresholds were compared against the voltage as a widened float).
  int p;
  if (tenths <= 33) p = 0;
  else if (tenths == 34) p = 5;
  else if (tenths <= 36) p = 10;
  else if (tenths <= 38) p = 50;
  else if (tenths == 39) p = 90;
  else if (tenths <= 41) p = 95;
  else p = 100;
  if (volts) *volts = float(tenths) / 10.0f;
  if (percent) *percent = p;
  return true;
}

std::shared_ptr<KXBatteryInfo> Pellan::getBatteryInfo(Error* error) {
  auto info = std::make_shared<KXBatteryInfo>();
  const auto answer = d_->command(0, kCmdBatteryInfo, {}, nullptr);
  if (!answer || answer->size() < 6) {
    int percent = 0;
    float volts = 0;
    if (!getBatteryCapacity(&percent, &volts, error)) return nullptr;
    info->capacity = percent;
    info->voltage = volts;
    return info;
  }
  const Bytes& a = *answer;
  auto at = [&](size_t i) -> int { return i < a.size() ? a[i] : 0; };
  info->voltage = float(foundation::readBE16(a.data()) / 1000.0);
  info->capacity = a[2];
  info->health = a[3];
  info->maximumCapacity = foundation::readBE16(a.data() + 4);
  info->charging = at(6) != 0;
  info->batteryChipType = 0;
  info->extendedInfo = nullptr;
  if (a.size() > 7) {
    info->batteryChipType = a[7];
    // Extended values are taken only as far as the answer reaches.
    auto s16 = [&](size_t i) -> std::optional<int> {
      if (i + 1 >= a.size()) return std::nullopt;
      return int(int16_t(foundation::readLE16(a.data() + i)));
    };
    nlohmann::json ext = nlohmann::json::object();
    if (info->batteryChipType == 1) {
      static constexpr struct {
        const char* key;
        size_t at;
      } kFields[] = {{"Temperature", 8},          {"Voltage", 10},
                     {"NominalAvailableCapacity", 12}, {"FullAvailableCapacity", 14},
                     {"RemainingCapacity", 16},    {"FullChargeCapacity", 18},
                     {"AverageCurrent", 20},       {"StandbyCurrent", 22},
                     {"MaxLoadCurrent", 24},       {"AveragePower", 26}};
      for (const auto& f : kFields)
        if (auto v = s16(f.at)) ext[f.key] = *v;
      if (a.size() > 28) ext["StateOfCharge"] = int(int8_t(a[28]));
      if (auto v = s16(30)) ext["IntTemperature"] = *v;
      ext["StateOfHealth"] = info->health;
      info->extendedInfo = ext;
    } else if (info->batteryChipType == 2) {
      if (auto v = s16(8)) ext["CRRatePercent"] = *v;
      info->extendedInfo = ext;
    }
  }
  return info;
}

}  // namespace kestra
