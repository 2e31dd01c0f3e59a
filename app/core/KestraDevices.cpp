#include "app/core/KestraDevices.h"

#include "app/core/FirmwareProgressView.h"
#include "sdk/agent/OKTVexa.h"
#include "sdk/agent/VexaConfiguration.h"
#include "sdk/device/OKTKXDevices.h"

namespace orvo {

// The SDK's delegate that passes the application's five events to its delegates.
class KestraDevices::Bridge final : public kestra::KXDeviceDelegate {
 public:
  Bridge() {
    implements({kestra::kxsel::connectionState, kestra::kxsel::deviceButtonPressed,
                kestra::kxsel::deviceButtonReleased, kestra::kxsel::barcodeData_type,
                kestra::kxsel::magneticCardData});
  }
  void add(std::weak_ptr<orvo::KXDeviceDelegate> d) {
    std::lock_guard l(m_);
    auto strong = d.lock();
    if (!strong) return;
    for (const auto& w : delegates_)
      if (w.lock() == strong) return;
    delegates_.push_back(std::move(d));
  }
  template <class F>
  void each(F f) {
    std::vector<std::shared_ptr<orvo::KXDeviceDelegate>> live;
    {
      std::lock_guard l(m_);
      for (const auto& w : delegates_)
        if (auto d = w.lock()) live.push_back(std::move(d));
    }
    for (const auto& d : live) f(*d);
  }
  void connectionState(int state) override { each([&](auto& d) { d.connectionState(state); }); }
  void deviceButtonPressed(int button) override { each([&](auto& d) { d.deviceButtonPressed(button); }); }
  void deviceButtonReleased(int button) override { each([&](auto& d) { d.deviceButtonReleased(button); }); }
  void barcodeData(const std::string& barcode, int type) override {
    each([&](auto& d) { d.barcodeData(barcode, type); });
  }
  void magneticCardData(const kestra::OptText& t1, const kestra::OptText& t2, const kestra::OptText& t3) override {
    each([&](auto& d) { d.magneticCardData(t1, t2, t3); });
  }

 private:
  std::mutex m_;
  std::vector<std::weak_ptr<orvo::KXDeviceDelegate>> delegates_;
};

KestraDevices::KestraDevices(std::shared_ptr<kestra::OKTKXDevices> sdk)
    : sdk_(std::move(sdk)), bridge_(std::make_shared<Bridge>()) {
  sdk_->addDelegate(bridge_);
}

KestraDevices::~KestraDevices() { sdk_->removeDelegate(bridge_); }

std::shared_ptr<KestraDevices> KestraDevices::install() {
  auto devices = std::make_shared<KestraDevices>(kestra::OKTKXDevices::sharedDevice().shared_from_this());
  OKTKXDevices::setShared(devices);
  // The SDK's agent (the facade starts it too) and the view it shows while it flashes firmware.
  OKTVexa::setRegistrar([] { kestra::OKTVexa::registerOKTVexa(); });
  kestra::VexaConfiguration::sharedConfiguration().setProgressView(std::make_shared<FirmwareProgressView>());
  return devices;
}

void KestraDevices::addDelegate(std::weak_ptr<KXDeviceDelegate> delegate) { bridge_->add(std::move(delegate)); }
void KestraDevices::connect() { sdk_->connect(); }
void KestraDevices::disconnect() { sdk_->disconnect(); }
int KestraDevices::connstate() { return sdk_->connstate(); }
bool KestraDevices::setCharging(bool enabled, foundation::Error* error) { return sdk_->setCharging(enabled, error); }
bool KestraDevices::setPassThroughSync(bool enabled, foundation::Error* error) {
  return sdk_->setPassThroughSync(enabled, error);
}
bool KestraDevices::barcodeSetScanButtonMode(int mode, foundation::Error* error) {
  return sdk_->barcodeSetScanButtonMode(mode, error);
}
bool KestraDevices::barcodeSetScanBeep(bool enabled, int volume, const int32_t* beepData, int length,
                                       foundation::Error* error) {
  return sdk_->barcodeSetScanBeep(enabled, volume, beepData, length, error);
}
bool KestraDevices::playSound(int volume, const int32_t* beepData, int length, foundation::Error* error) {
  return sdk_->playSound(volume, beepData, length, error);
}
bool KestraDevices::getBatteryCapacity(int* capacity, float* voltage, foundation::Error* error) {
  return sdk_->getBatteryCapacity(capacity, voltage, error);
}
std::optional<nlohmann::json> KestraDevices::msProcessFinancialCard(const std::optional<std::string>& track1,
                                                                    const std::optional<std::string>& track2) {
  auto card = sdk_->msProcessFinancialCard(track1, track2);
  if (!card) return std::nullopt;
  nlohmann::json out = nlohmann::json::object();
  for (const auto& [key, value] : *card) out[key] = value;
  return out;
}

}  // namespace orvo
