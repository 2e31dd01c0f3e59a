#include "testing/app/FakeOKTKXDevices.h"

#include <algorithm>

namespace orvo {

void FakeOKTKXDevices::queueChargingResults(std::vector<bool> results) {
  std::lock_guard l(m_);
  charging_.insert(charging_.end(), results.begin(), results.end());
}

void FakeOKTKXDevices::setPassSyncResult(bool ok, std::string errorText) {
  std::lock_guard l(m_);
  passSyncOk_ = ok;
  passSyncError_ = std::move(errorText);
}

void FakeOKTKXDevices::setBattery(bool ok, int capacity, float voltage) {
  std::lock_guard l(m_);
  batteryOk_ = ok;
  capacity_ = capacity;
  voltage_ = voltage;
}

void FakeOKTKXDevices::setFinancialCard(std::optional<nlohmann::json> fields) {
  std::lock_guard l(m_);
  card_ = std::move(fields);
}

std::vector<std::string> FakeOKTKXDevices::calls() const { std::lock_guard l(m_); return calls_; }
std::vector<FakeOKTKXDevices::Sound> FakeOKTKXDevices::sounds() const {
  std::lock_guard l(m_);
  return sounds_;
}
std::vector<int> FakeOKTKXDevices::scanButtonModes() const { std::lock_guard l(m_); return scanModes_; }

size_t FakeOKTKXDevices::delegateCount() const {
  std::lock_guard l(m_);
  return size_t(std::count_if(delegates_.begin(), delegates_.end(),
                              [](const auto& w) { return !w.expired(); }));
}

void FakeOKTKXDevices::record(std::string call) {
  std::lock_guard l(m_);
  calls_.push_back(std::move(call));
}

std::vector<std::shared_ptr<KXDeviceDelegate>> FakeOKTKXDevices::liveDelegates() {
  std::lock_guard l(m_);
  std::vector<std::shared_ptr<KXDeviceDelegate>> out;
  for (auto& w : delegates_)
    if (auto d = w.lock()) out.push_back(std::move(d));
  return out;
}

void FakeOKTKXDevices::raiseConnectionState(int state) {
  setConnState(state);
  for (auto& d : liveDelegates()) d->connectionState(state);
}
void FakeOKTKXDevices::raiseBarcode(const std::string& barcode, int type) {
  for (auto& d : liveDelegates()) d->barcodeData(barcode, type);
}
void FakeOKTKXDevices::raiseCard(std::optional<std::string> t1, std::optional<std::string> t2,
                                 std::optional<std::string> t3) {
  for (auto& d : liveDelegates()) d->magneticCardData(t1, t2, t3);
}
void FakeOKTKXDevices::raiseButtonPressed(int which) {
  for (auto& d : liveDelegates()) d->deviceButtonPressed(which);
}
void FakeOKTKXDevices::raiseButtonReleased(int which) {
  for (auto& d : liveDelegates()) d->deviceButtonReleased(which);
}

void FakeOKTKXDevices::addDelegate(std::weak_ptr<KXDeviceDelegate> delegate) {
  record("addDelegate");
  std::lock_guard l(m_);
  auto target = delegate.lock();
  for (auto& w : delegates_)
    if (w.lock() == target) return;
  delegates_.push_back(std::move(delegate));
}

void FakeOKTKXDevices::connect() { record("connect"); }
void FakeOKTKXDevices::disconnect() { record("disconnect"); }
int FakeOKTKXDevices::connstate() { std::lock_guard l(m_); return conn_; }

bool FakeOKTKXDevices::setCharging(bool enabled, foundation::Error* error) {
  record(std::string("setCharging:") + (enabled ? "1" : "0"));
  bool ok = true;
  {
    std::lock_guard l(m_);
    if (!charging_.empty()) {
      ok = charging_.front();
      charging_.pop_front();
    }
  }
  return ok || foundation::fail(error, {"com.sabrel.errors", -1, "Charging failed"});
}

bool FakeOKTKXDevices::setPassThroughSync(bool enabled, foundation::Error* error) {
  record(std::string("setPassThroughSync:") + (enabled ? "1" : "0"));
  std::lock_guard l(m_);
  return passSyncOk_ || foundation::fail(error, {"com.sabrel.errors", -1, passSyncError_});
}

bool FakeOKTKXDevices::barcodeSetScanButtonMode(int mode, foundation::Error*) {
  record("barcodeSetScanButtonMode:" + std::to_string(mode));
  std::lock_guard l(m_);
  scanModes_.push_back(mode);
  return true;
}

bool FakeOKTKXDevices::barcodeSetScanBeep(bool enabled, int volume, const int32_t* beepData,
                                          int length, foundation::Error*) {
  record("barcodeSetScanBeep");
  Sound s{true, enabled, volume, {}, length};
  if (beepData && length > 0) s.tones.assign(beepData, beepData + length / 4);
  std::lock_guard l(m_);
  sounds_.push_back(std::move(s));
  return true;
}

bool FakeOKTKXDevices::playSound(int volume, const int32_t* beepData, int length,
                                 foundation::Error*) {
  record("playSound");
  Sound s{false, true, volume, {}, length};
  if (beepData && length > 0) s.tones.assign(beepData, beepData + length / 4);
  std::lock_guard l(m_);
  sounds_.push_back(std::move(s));
  return true;
}

bool FakeOKTKXDevices::getBatteryCapacity(int* capacity, float* voltage, foundation::Error* error) {
  record("getBatteryCapacity");
  std::lock_guard l(m_);
  if (!batteryOk_) return foundation::fail(error, {"com.sabrel.errors", -11, "No device connected"});
  if (capacity) *capacity = capacity_;
  if (voltage) *voltage = voltage_;
  return true;
}

std::optional<nlohmann::json> FakeOKTKXDevices::msProcessFinancialCard(
    const std::optional<std::string>&, const std::optional<std::string>&) {
  record("msProcessFinancialCard");
  std::lock_guard l(m_);
  return card_;
}

}  // namespace orvo
