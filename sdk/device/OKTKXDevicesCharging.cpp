// The facade's automatic charging of the phone and its HID access-card helpers.

#include <algorithm>
#include <filesystem>
#include <fstream>

#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"
#include "sdk/device/OKTKXDevices.h"

namespace kestra {

namespace {

// The phone's battery from the Linux power-supply class: the first supply of type
// "Battery". Without one the state is unknown and the level -1.
class SystemPhoneBattery final : public KXPhoneBattery {
 public:
  int batteryState() override {
    const std::string status = read("status");
    if (status == "Charging") return kCharging;
    if (status == "Full") return kFull;
    if (status == "Discharging" || status == "Not charging") return kUnplugged;
    return kUnknown;
  }
  float batteryLevel() override {
    const std::string capacity = read("capacity");
    try {
      return capacity.empty() ? -1.0f : std::clamp(std::stof(capacity) / 100.0f, 0.0f, 1.0f);
    } catch (...) {
      return -1.0f;
    }
  }

 private:
  static std::string read(const char* item) {
    std::error_code ec;
    for (const auto& entry : std::filesystem::directory_iterator("/sys/class/power_supply", ec)) {
      std::ifstream type(entry.path() / "type");
      std::string kind;
      if (!(type >> kind) || kind != "Battery") continue;
      std::ifstream in(entry.path() / item);
      std::string value;
      std::getline(in, value);
      return value;
    }
    return {};
  }
};

}  // namespace

std::shared_ptr<KXPhoneBattery> KXPhoneBattery::system() { return std::make_shared<SystemPhoneBattery>(); }

void OKTKXDevices::setPhoneBattery(std::shared_ptr<KXPhoneBattery> battery) {
  std::lock_guard lock(chargeMutex_);
  phoneBattery_ = std::move(battery);
}

std::shared_ptr<foundation::Timer> OKTKXDevices::batteryTimer() const {
  std::lock_guard lock(chargeMutex_);
  return batteryTimer_;
}

bool OKTKXDevices::setAutoChargeWithUpperLimit(int upper, int lower) {
  if (lower < 1 || lower > 99 || upper > 100 || upper <= lower) return false;
  if (connstate() != CONN_CONNECTED) return false;
  shouldAutoCharge_ = true;
  upperChargeLimit_ = float(upper) / 100.0f;
  lowerChargeLimit_ = float(lower) / 100.0f;
  std::weak_ptr<OKTKXDevices> self = weak_from_this();
  std::lock_guard lock(chargeMutex_);
  if (!phoneBattery_) phoneBattery_ = KXPhoneBattery::system();
  phoneBattery_->setBatteryMonitoringEnabled(true);
  // One observation is enough: every later arming reuses it.
  if (batteryObservers_.empty())
    batteryObservers_.push_back(foundation::NotificationCenter::defaultCenter().addObserver(
        this, kDeviceBatteryLevelDidChangeNotification, nullptr, [self](const foundation::Notification&) {
          if (auto f = self.lock()) f->iOSBatteryLevelDidChange();
        }));
  if (batteryTimer_) batteryTimer_->invalidate();
  batteryTimer_ = foundation::Timer::scheduled(kBatteryCheckInterval, true, [self](foundation::Timer&) {
    if (auto f = self.lock()) f->iOSBatteryLevelDidChange();
  });
  return true;
}

void OKTKXDevices::iOSBatteryLevelDidChange() {
  if (!(upperChargeLimit_.load() > 0) || !(lowerChargeLimit_.load() > 0) || !shouldAutoCharge_.load()) return;
  std::shared_ptr<KXPhoneBattery> battery;
  {
    std::lock_guard lock(chargeMutex_);
    if (!phoneBattery_) phoneBattery_ = KXPhoneBattery::system();
    battery = phoneBattery_;
  }
  const int state = battery->batteryState();
  const float level = battery->batteryLevel();
  // A level the phone cannot tell is no reason to switch anything.
  if (level < 0) return;
  if (state != KXPhoneBattery::kCharging) {
    if (level <= lowerChargeLimit_.load()) {
      setCharging(true, nullptr);
      return;
    }
    if (state != KXPhoneBattery::kFull) return;
  } else if (!(level >= 1.0f || level >= upperChargeLimit_.load())) {
    return;
  }
  setCharging(false, nullptr);
  std::lock_guard lock(chargeMutex_);
  if (batteryTimer_) batteryTimer_->invalidate();
  batteryTimer_.reset();
}

// ---- HID access cards ----------------------------------------------------------------------------

const Bytes& OKTKXDevices::pacsReadCommand() {
  static const Bytes command{0xFF, 0x68, 0x0D, 0x00, 0x00};
  return command;
}

std::optional<std::string> OKTKXDevices::hidReadPACS(int cardIndex, Error* error) {
  auto data = api_->hidExecuteAPDU(cardIndex, pacsReadCommand(), error);
  if (!data) return std::nullopt;
  return std::string(data->begin(), data->end());
}

std::optional<Bytes> OKTKXDevices::hidReadData(int cardIndex, Error* error) {
  return api_->hidExecuteAPDU(cardIndex, pacsReadCommand(), error);
}

std::optional<std::map<std::string, int64_t>> OKTKXDevices::hidExtractCardInfo(const Bytes& cardData,
                                                                              const std::string& format) {
  std::string bits;
  for (uint8_t c : cardData) {
    int v;
    if (c >= '0' && c <= '9')
      v = c - '0';
    else if (c >= 'a' && c <= 'f')
      v = c - 'a' + 10;
    else
      break;
    for (int b = 3; b >= 0; --b) bits += ((v >> b) & 1) ? '1' : '0';
  }
  std::vector<std::string> parts;
  size_t start = 0;
  while (true) {
    const size_t dash = format.find('-', start);
    parts.push_back(format.substr(start, dash == std::string::npos ? std::string::npos : dash - start));
    if (dash == std::string::npos) break;
    start = dash + 1;
  }
  size_t n = 0;
  try {
    const long value = std::stol(parts.front());
    if (value < 0) return std::nullopt;
    n = size_t(value);
  } catch (...) {
    return std::nullopt;
  }
  if (bits.size() < n) return std::nullopt;
  size_t pos = bits.size() - n;
  std::map<std::string, int64_t> out;
  for (size_t i = 1; i < parts.size(); ++i) {
    const std::string& part = parts[i];
    if (part.empty()) continue;
    const size_t width = part[0] == 'P' ? 1 : part.size();
    // A field that runs past the card number's bits has no value.
    if (pos + width > bits.size()) return std::nullopt;
    uint32_t value = 0;
    for (size_t b = 0; b < width; ++b) value = (value << 1) | (bits[pos + b] == '1' ? 1u : 0u);
    pos += width;
    const char* key = nullptr;
    switch (part[0]) {
      case 'F': key = "Facility"; break;
      case 'N': key = "CardNumber"; break;
      case 'C': key = "CompanyCode"; break;
      case 'M': key = "ManufacturerCode"; break;
      case 'A': key = "Auxiliary"; break;
      default: break;
    }
    if (key) out[key] = int64_t(value);
  }
  return out;
}

bool OKTKXDevices::updateFirmwareData(const std::optional<Bytes>& data, Error* error) {
  if (caseConnected()) return case_->updateFirmwareData(data, error);
  if (!data) return foundation::fail(error, KXUNISDKGlobals::makeError(-20, "No device connected"));
  return api_->updateFirmwareData(*data, true, error);
}

bool OKTKXDevices::updateFirmwareData(const Bytes& data, bool validate, Error* error) {
  if (caseConnected()) return case_->updateFirmwareData(data, validate, error);
  return api_->updateFirmwareData(data, validate, error);
}

std::optional<nlohmann::json> OKTKXDevices::getFirmwareFileInformation(const Bytes& data, Error* error) {
  Error apiError;
  try {
    if (auto info = api_->getFirmwareFileInformation(data, &apiError)) return info;
  } catch (...) {
  }
  try {
    Error caseError;
    nlohmann::json info = case_->getFirmwareFileInformation(data, &caseError);
    if (!info.is_null()) return info;
  } catch (...) {
  }
  foundation::fail(error, apiError);
  return std::nullopt;
}

bool OKTKXDevices::hidLoadConfig(const std::string& path, Error* error) {
  std::ifstream in(path, std::ios::binary);
  if (!in) return foundation::fail(error, KXUNISDKGlobals::makeError(-9, "Cannot read " + path));
  const Bytes data((std::istreambuf_iterator<char>(in)), std::istreambuf_iterator<char>());
  return api_->hidUpdateConfig(data, error);
}

}  // namespace kestra
