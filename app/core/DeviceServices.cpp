#include "app/core/DeviceServices.h"

#include <mutex>
#include <nlohmann/json.hpp>

namespace orvo {

namespace {

const char kNoDevice[] = "No device connected";

// The facade in force before a real one is installed: no device, every command fails.
class NoDevices final : public OKTKXDevices {
 public:
  void addDelegate(std::weak_ptr<KXDeviceDelegate>) override {}
  void connect() override {}
  void disconnect() override {}
  int connstate() override { return CONN_DISCONNECTED; }
  bool setCharging(bool, foundation::Error* e) override { return none(e); }
  bool setPassThroughSync(bool, foundation::Error* e) override { return none(e); }
  bool barcodeSetScanButtonMode(int, foundation::Error* e) override { return none(e); }
  bool barcodeSetScanBeep(bool, int, const int32_t*, int, foundation::Error* e) override {
    return none(e);
  }
  bool playSound(int, const int32_t*, int, foundation::Error* e) override { return none(e); }
  bool getBatteryCapacity(int*, float*, foundation::Error* e) override { return none(e); }
  std::optional<nlohmann::json> msProcessFinancialCard(const std::optional<std::string>&,
                                                       const std::optional<std::string>&) override {
    return std::nullopt;
  }

 private:
  static bool none(foundation::Error* e) {
    return foundation::fail(e, {"com.sabrel.errors", -11, kNoDevice});
  }
};

std::mutex gMutex;
std::shared_ptr<OKTKXDevices> gShared;
std::function<void()> gRegistrar;
bool gRegistered = false;

}  // namespace

std::shared_ptr<OKTKXDevices> OKTKXDevices::sharedDevice() {
  std::lock_guard lock(gMutex);
  if (!gShared) gShared = std::make_shared<NoDevices>();
  return gShared;
}

void OKTKXDevices::setShared(std::shared_ptr<OKTKXDevices> facade) {
  std::lock_guard lock(gMutex);
  gShared = std::move(facade);
}

void OKTVexa::registerOKTVexa() {
  std::function<void()> registrar;
  {
    std::lock_guard lock(gMutex);
    if (gRegistered) return;
    gRegistered = true;
    registrar = gRegistrar;
  }
  if (registrar) registrar();
}

void OKTVexa::setRegistrar(std::function<void()> registrar) {
  std::lock_guard lock(gMutex);
  gRegistrar = std::move(registrar);
  gRegistered = false;
}

}  // namespace orvo
