#pragma once
// OKTKXDevices: the SDK's public door. One object per process (`sharedDevice`) stands in
// front of the device API (`KXDevices`) and the charging case, and starts the device-
// management agent. It merges the connection state and identity of the case and the
// device API into one view, serves battery, charging, current and LED calls from the case
// while the case is connected, forwards every other device API call unchanged (from the
// one list in KXDevicesAPI.inc), and passes the events of both sides on to the
// application's delegates.
//
// Delegates: held weakly, without duplicates; a delegate that is freed simply stops
// receiving events. Events reach them synchronously on the thread that delivered them to
// the facade (the main queue for connection changes and sleeve events); the walk goes over
// a snapshot, so a delegate may add or remove delegates from inside a callback, and an
// exception thrown by one delegate is caught and logged without stopping the others.
//
// Device type 100 is the charging case: while the case is connected, calls with type 100
// are its own; `setActiveDeviceType` and `setActiveDeviceIndexForType` always pass 0 for it.
//
// Threads: calls run on the caller's thread (device calls block until the device answers);
// the facade has no thread or lock of its own beyond its delegate table's.

#include <atomic>
#include <map>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/Timer.h"
#include "sdk/device/KXChargingCase.h"
#include "sdk/device/KXDevices.h"

namespace kestra {

// The phone's battery as the automatic charging sees it.
class KXPhoneBattery {
 public:
  // The platform's numbering: 0 undetermined, 1 unplugged, 2 charging, 3 full.
  enum State : int { kUnknown = 0, kUnplugged = 1, kCharging = 2, kFull = 3 };
  virtual ~KXPhoneBattery() = default;
  virtual int batteryState() = 0;
  // 0.0 to 1.0, or -1.0 when it cannot be told.
  virtual float batteryLevel() = 0;
  virtual void setBatteryMonitoringEnabled(bool /*on*/) {}
  // The phone's own battery (Linux power-supply class).
  static std::shared_ptr<KXPhoneBattery> system();
};

// Posted (object nullptr) when the phone's battery level changes.
inline constexpr const char* kDeviceBatteryLevelDidChangeNotification = "UIDeviceBatteryLevelDidChangeNotification";

class OKTKXDevices final : public KXDeviceDelegate,
                           public OKTCDDelegate,
                           public std::enable_shared_from_this<OKTKXDevices> {
 public:
  // Which side the application sees: none or both, the case alone, the device API alone.
  enum ActiveDevice : int { kActiveNone = 0, kActiveChargingCase = 1, kActiveDeviceAPI = 2 };
  // Automatic charging checks the phone's battery this often.
  static constexpr foundation::Duration kBatteryCheckInterval = std::chrono::seconds(60);
  // The keyboard-wedge read command of the HID card reader.
  static const Bytes& pacsReadCommand();

  // The process-wide facade over the shared device API, the charging case and the agent;
  // made once, thread-safely.
  static OKTKXDevices& sharedDevice();
  // A facade of its own (tests, embedding).
  static std::shared_ptr<OKTKXDevices> create(std::shared_ptr<KXDevices> api,
                                              std::shared_ptr<KXChargingCase> chargingCase,
                                              std::shared_ptr<KXDeviceAgent> agent);
  ~OKTKXDevices() override;

  // ---- Delegates -------------------------------------------------------------------------
  void addDelegate(const std::shared_ptr<KXDeviceDelegate>& delegate);
  void removeDelegate(const std::shared_ptr<KXDeviceDelegate>& delegate);
  // The live delegates.
  std::vector<std::shared_ptr<KXDeviceDelegate>> delegates() const;
  // Accepted and ignored.
  void setDelegates(const std::vector<std::shared_ptr<KXDeviceDelegate>>&) {}
  // A reference kept for the caller; events do not go to it.
  void setDelegate(const std::shared_ptr<KXDeviceDelegate>& delegate);
  std::shared_ptr<KXDeviceDelegate> delegate() const;

  // ---- Connection and identity -------------------------------------------------------------
  void connect();
  void disconnect();
  int connstate();
  bool isPresent(int type);
  int getDeviceConnectionState(int type);
  bool setActiveDeviceType(int type, Error* error = nullptr);
  bool setActiveDeviceIndexForType(int type, int index, Error* error = nullptr);
  int deviceType();
  int connectionType();
  std::optional<std::string> deviceName();
  std::optional<std::string> deviceModel();
  std::optional<std::string> firmwareRevision();
  std::optional<std::string> hardwareRevision();
  std::optional<std::string> serialNumber();
  int firmwareRevisionNumber();
  std::string sdkVersionString() const;
  int sdkVersion() const;
  std::chrono::system_clock::time_point sdkBuildDate() const { return api_->sdkBuildDate(); }
  int16_t emvLastStatus() const { return api_->emvLastStatus(); }
  int oktActiveDevice() const { return oktActiveDevice_.load(); }

  // ---- Served by the charging case while it is connected -------------------------------------
  // Out-places may be nullptr; only those given are written.
  bool getBatteryCapacity(int* capacity, float* voltage, Error* error = nullptr);
  std::shared_ptr<KXBatteryInfo> getBatteryInfo(Error* error = nullptr);
  std::shared_ptr<KXBatteryInfo> getConnectedDeviceBatteryInfo(int type, Error* error = nullptr);
  std::shared_ptr<KXDeviceInfo> getConnectedDeviceInfo(int type, Error* error = nullptr);
  std::vector<std::shared_ptr<KXDeviceInfo>> getConnectedDevicesInfo(Error* error = nullptr);
  bool getCharging(bool* charging, Error* error = nullptr);
  bool setCharging(bool enabled, Error* error = nullptr);
  bool getUSBChargeCurrent(int* current, Error* error = nullptr);
  bool setUSBChargeCurrent(int current, Error* error = nullptr);
  bool uiControlLEDsWithBitMask(uint32_t mask, Error* error = nullptr);
  // Flashes a firmware image into the charging case while one is connected, else into the
  // device the device API drives (the sleeve); blocks until the update has ended, so never
  // call it on the main thread. Its progress reaches the delegates.
  bool updateFirmwareData(const std::optional<Bytes>& data, Error* error = nullptr);
  bool updateFirmwareData(const Bytes& data, Error* error = nullptr) {
    return updateFirmwareData(data, true, error);
  }
  bool updateFirmwareData(const Bytes& data, bool validate, Error* error = nullptr);
  // A firmware file's information: the device API's answer (a file of the sleeve, the pinpad
  // or the hub), else the charging case's (a case file). An exception on either side counts
  // as no answer from it. Nothing, with the device API's error, when neither knows the file.
  std::optional<nlohmann::json> getFirmwareFileInformation(const Bytes& data, Error* error = nullptr);

  // ---- Forwarded unchanged to the device API ------------------------------------------------
#define KX_API(R, N, P, A) \
  R N P { return api_->N A; }
#define KX_OWN(R, N, P, A)
#define KX_FACADE(R, N, P, A)
#include "sdk/device/KXDevicesAPI.inc"
#undef KX_FACADE
#undef KX_OWN
#undef KX_API

  // ---- Automatic charging -----------------------------------------------------------------------
  // Keeps the phone's battery between `lower` and `upper` per cent by switching the attached
  // device's charging of the phone. Refused unless 1 <= lower <= 99, upper <= 100,
  // upper > lower and a device is connected. Checks on every battery-level change and every
  // minute on the calling thread's run loop.
  bool setAutoChargeWithUpperLimit(int upper, int lower);
  // The check. Does nothing while the phone cannot tell its battery level.
  void iOSBatteryLevelDidChange();
  bool shouldAutoCharge() const { return shouldAutoCharge_.load(); }
  void setShouldAutoCharge(bool on) { shouldAutoCharge_ = on; }
  float upperChargeLimit() const { return upperChargeLimit_.load(); }
  float lowerChargeLimit() const { return lowerChargeLimit_.load(); }
  std::shared_ptr<foundation::Timer> batteryTimer() const;
  void setPhoneBattery(std::shared_ptr<KXPhoneBattery> battery);

  // ---- HID access cards -------------------------------------------------------------------------
  std::optional<std::string> hidReadPACS(int cardIndex, Error* error = nullptr);
  std::optional<Bytes> hidReadData(int cardIndex, Error* error = nullptr);
  std::optional<Bytes> hidReadData(Error* error = nullptr) { return hidReadData(-1, error); }
  // Cuts a card number (lower-case hex text) into fields by `format`: "N-<part>-<part>...",
  // N the card number's bit count, each part a field whose first letter names it (F
  // "Facility", N "CardNumber", C "CompanyCode", M "ManufacturerCode", A "Auxiliary"; P one
  // parity bit) and whose length is its width. Nothing for data shorter than N bits or a
  // field that runs past the end.
  static std::optional<std::map<std::string, int64_t>> hidExtractCardInfo(const Bytes& cardData,
                                                                          const std::string& format);
  bool hidLoadConfig(const std::string& path, Error* error = nullptr);

  // ---- Events from the device API and the charging case ------------------------------------------
  void connectionState(int state) override;
  void toravelConnectionState(int state) override;
  void barcodeNSData(const Bytes& barcode, int type) override;
  void barcodeNSData(const Bytes& barcode, const std::string& isotype) override;
  void magneticCardEncryptedData(int encryption, int tracks, const Bytes& data, const OptText& track1masked,
                                 const OptText& track2masked, const OptText& track3, int source) override;
  bool bluetoothDeviceRequestedConnection(const std::string& address, const std::string& name) override;
  OptText bluetoothDevicePINCodeRequired(const std::string& address, const std::string& name) override;
  bool bluetoothLEDeviceDiscovered(const std::shared_ptr<CBPeripheral>& peripheral) override;
#define KX_EVENT(S, N, P, A) void N P override;
#include "sdk/device/KXDeviceEvents.inc"
#undef KX_EVENT
  // An event the facade passes on unchanged (KXDeviceEvents.inc) is answered only while one
  // of the application's delegates implements it: the device API then falls back as it does
  // when no delegate answers. The events the facade treats itself are always answered.
  bool respondsNow(std::string_view selector) const override;

  // The device API and the case behind the facade.
  KXDevices& devices() const { return *api_; }
  KXChargingCase& chargingCase() const { return *case_; }

 private:
  OKTKXDevices(std::shared_ptr<KXDevices> api, std::shared_ptr<KXChargingCase> chargingCase,
               std::shared_ptr<KXDeviceAgent> agent);
  void getInstances();
  bool caseConnected() const { return case_->connState() == CONN_CONNECTED; }
  std::shared_ptr<KXDeviceInfo> caseRecord() const;
  // Sends to every live delegate that responds to `selector`; returns how many it reached.
  size_t passOn(std::string_view selector, const std::function<void(KXDeviceDelegate&)>& call) const;
  void sendConnectionState(int state) const;

  std::shared_ptr<KXDevices> api_;
  std::shared_ptr<KXChargingCase> case_;
  std::shared_ptr<KXDeviceAgent> agent_;

  KXDelegateList<KXDeviceDelegate> oktdelegates_{"OKTKXDevices"};
  mutable std::mutex delegateMutex_;  // delegate_
  std::weak_ptr<KXDeviceDelegate> delegate_;
  std::atomic<int> oktActiveDevice_{kActiveNone};

  std::atomic<bool> shouldAutoCharge_{false};
  std::atomic<float> upperChargeLimit_{-1.0f};
  std::atomic<float> lowerChargeLimit_{-1.0f};
  mutable std::mutex chargeMutex_;  // the timer, the battery source and the observations
  std::shared_ptr<foundation::Timer> batteryTimer_;
  std::shared_ptr<KXPhoneBattery> phoneBattery_;
  std::vector<uint64_t> batteryObservers_;
};

}  // namespace kestra
