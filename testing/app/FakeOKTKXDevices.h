#pragma once
// A scriptable stand-in for the SDK facade, for tests and for demos without a sleeve.
// Results are set by the test (`connState`, `chargingResults`, ...); every command is
// recorded in `calls()` with its arguments as text; `raise...` calls the delegates
// synchronously on the calling thread, so a test can raise events from any thread as the
// SDK does. Thread-safe.

#include <deque>
#include <mutex>
#include <string>
#include <vector>

#include "app/core/DeviceServices.h"

namespace orvo {

class FakeOKTKXDevices final : public OKTKXDevices {
 public:
  struct Sound {
    bool isScanBeep = false;  // barcodeSetScanBeep (true) or playSound (false)
    bool enabled = true;
    int volume = 0;
    std::vector<int32_t> tones;  // frequency / duration pairs
    int length = 0;              // the length argument, in bytes
  };

  // Scripted results.
  void setConnState(int state) { std::lock_guard l(m_); conn_ = state; }
  // Results of successive setCharging calls; `true` when the queue is empty.
  void queueChargingResults(std::vector<bool> results);
  void setPassSyncResult(bool ok, std::string errorText = {});
  void setBattery(bool ok, int capacity, float voltage = 3.9f);
  void setFinancialCard(std::optional<nlohmann::json> fields);

  // Observations.
  std::vector<std::string> calls() const;
  std::vector<Sound> sounds() const;
  std::vector<int> scanButtonModes() const;
  size_t delegateCount() const;

  // Events, delivered synchronously on the calling thread to every live delegate.
  void raiseConnectionState(int state);
  void raiseBarcode(const std::string& barcode, int type = 0);
  void raiseCard(std::optional<std::string> t1, std::optional<std::string> t2,
                 std::optional<std::string> t3 = std::nullopt);
  void raiseButtonPressed(int which = 0);
  void raiseButtonReleased(int which = 0);

  // OKTKXDevices.
  void addDelegate(std::weak_ptr<KXDeviceDelegate> delegate) override;
  void connect() override;
  void disconnect() override;
  int connstate() override;
  bool setCharging(bool enabled, foundation::Error* error = nullptr) override;
  bool setPassThroughSync(bool enabled, foundation::Error* error = nullptr) override;
  bool barcodeSetScanButtonMode(int mode, foundation::Error* error = nullptr) override;
  bool barcodeSetScanBeep(bool enabled, int volume, const int32_t* beepData, int length,
                          foundation::Error* error = nullptr) override;
  bool playSound(int volume, const int32_t* beepData, int length,
                 foundation::Error* error = nullptr) override;
  bool getBatteryCapacity(int* capacity, float* voltage,
                          foundation::Error* error = nullptr) override;
  std::optional<nlohmann::json> msProcessFinancialCard(
      const std::optional<std::string>& track1, const std::optional<std::string>& track2) override;

 private:
  std::vector<std::shared_ptr<KXDeviceDelegate>> liveDelegates();
  void record(std::string call);

  mutable std::mutex m_;
  std::vector<std::weak_ptr<KXDeviceDelegate>> delegates_;
  std::vector<std::string> calls_;
  std::vector<Sound> sounds_;
  std::vector<int> scanModes_;
  int conn_ = CONN_DISCONNECTED;
  std::deque<bool> charging_;
  bool passSyncOk_ = true;
  std::string passSyncError_;
  bool batteryOk_ = false;
  int capacity_ = 0;
  float voltage_ = 0;
  std::optional<nlohmann::json> card_;
};

}  // namespace orvo
