#pragma once
// The application's device facade over the SDK's `kestra::OKTKXDevices`: the calls the
// application makes are passed to the SDK's facade unchanged, and the five device events the
// application handles (connection state, buttons, barcodes as text, card tracks) come back
// from the SDK through one bridge delegate that the SDK holds weakly. The program installs
// it at start-up with `install()`; tests may build one over a facade of their own.
//
// Threads: any thread; events arrive on the thread the SDK delivers them on (the main queue
// for the sleeve's events and connection changes).

#include <memory>
#include <mutex>
#include <vector>

#include "app/core/DeviceServices.h"

namespace kestra {
class OKTKXDevices;
}

namespace orvo {

class KestraDevices final : public OKTKXDevices {
 public:
  explicit KestraDevices(std::shared_ptr<kestra::OKTKXDevices> sdk);
  ~KestraDevices() override;
  // Installs a facade over the SDK's process-wide facade as `OKTKXDevices::sharedDevice()`,
  // makes `OKTVexa::registerOKTVexa` start the SDK's agent, and gives the agent's job runner
  // the application's firmware progress view.
  static std::shared_ptr<KestraDevices> install();

  void addDelegate(std::weak_ptr<KXDeviceDelegate> delegate) override;
  void connect() override;
  void disconnect() override;
  int connstate() override;
  bool setCharging(bool enabled, foundation::Error* error = nullptr) override;
  bool setPassThroughSync(bool enabled, foundation::Error* error = nullptr) override;
  bool barcodeSetScanButtonMode(int mode, foundation::Error* error = nullptr) override;
  bool barcodeSetScanBeep(bool enabled, int volume, const int32_t* beepData, int length,
                          foundation::Error* error = nullptr) override;
  bool playSound(int volume, const int32_t* beepData, int length, foundation::Error* error = nullptr) override;
  bool getBatteryCapacity(int* capacity, float* voltage, foundation::Error* error = nullptr) override;
  std::optional<nlohmann::json> msProcessFinancialCard(const std::optional<std::string>& track1,
                                                       const std::optional<std::string>& track2) override;

  kestra::OKTKXDevices& sdk() const { return *sdk_; }

 private:
  class Bridge;
  std::shared_ptr<kestra::OKTKXDevices> sdk_;
  std::shared_ptr<Bridge> bridge_;
};

}  // namespace orvo
