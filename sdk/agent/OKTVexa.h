#pragma once
// OKTVexa: the device-management agent. One object per process (`registerOKTVexa`) reports
// the phone, the connected accessories and the host's own devices to the management server
// (the check-in), uploads metrics, locations, device tags, transaction receipts and its own
// log, and asks the server for configuration jobs for the devices it reported.
//
// It reaches accessories only through the device facade (`OKTKXDevices`, behind the small
// `VexaDevices` interface so tests can stand in a facade), follows the application's life
// (became active: a check-in 5 s later; background) and the facade's connection state
// (connected: the connected devices' information is collected 4 s later), and tells its
// delegates what it is doing, always on the main queue.
//
// Check-ins run one at a time on the agent's check-in queue and are refused (-1004 "Check-in
// is not permitted!") while one runs, while paused, while disabled, and before the check-in
// interval has passed (unless forced). Every check-in calls its completion exactly once,
// unless `pause` drops it before it starts.
// Waits (the 5 s for a location fix, the 30 s before the configuration request) and timers
// run on `foundation::Clock`, so tests drive them with the manual clock.
//
// Threads: public calls from any thread. The agent never blocks the main queue.

#include <atomic>
#include <condition_variable>
#include <functional>
#include <memory>
#include <mutex>
#include <nlohmann/json_fwd.hpp>
#include <optional>
#include <string>
#include <vector>

#include "platform/foundation/OperationQueue.h"
#include "platform/foundation/Timer.h"
#include "sdk/agent/OKTVexaPlugins.h"
#include "sdk/agent/VexaLocator.h"
#include "sdk/agent/VexaNetworkAction.h"
#include "sdk/device/KXChargingCase.h"
#include "sdk/device/KXDeviceDelegate.h"
#include "sdk/foundation/KXDeviceInfo.h"

namespace kestra {

class OKTKXDevices;
class VexaMetrics;
struct VexaTransactionReceipt;

inline constexpr const char* kOKT_DEVICE_CONNECTED_NOTIFICATION = "kOKT_DEVICE_CONNECTED_NOTIFICATION";

// Compares dotted versions part by part as numbers: <0, 0 or >0.
int compareVersions(const std::string& a, const std::string& b);

// Selectors of the agent's delegates.
namespace vexasel {
inline constexpr std::string_view oktDevicesInfo = "oktDevicesInfo:";
inline constexpr std::string_view oktvexaStatus = "oktvexaStatus:";
inline constexpr std::string_view deviceTagStatus_error = "deviceTagStatus:error:";
inline constexpr std::string_view configsDidUpdateWithReport = "configsDidUpdateWithReport:";
}  // namespace vexasel

// The agent's delegate; every callback optional (declared with `implements`).
class OKTVexaDelegate : public virtual KXDelegate {
 public:
  virtual void oktDevicesInfo(const nlohmann::json& /*infos*/) {}
  virtual void oktvexaStatus(const std::string& /*status*/) {}
  virtual void deviceTagStatus(bool /*ok*/, const std::optional<Error>& /*error*/) {}
  virtual void configsDidUpdateWithReport(const nlohmann::json& /*report*/) {}
};

// What the agent uses of the device facade.
class VexaDevices {
 public:
  virtual ~VexaDevices() = default;
  virtual int connstate() = 0;
  virtual std::vector<std::shared_ptr<KXDeviceInfo>> getConnectedDevicesInfo(Error* error) = 0;
  virtual int activeDeviceType() = 0;
  virtual bool setActiveDeviceType(int type, Error* error) = 0;
  // Routes the calling thread's device calls to `type` until the returned scope ends, for
  // work the agent does on its own behalf. The host's choice of device (automatic routing
  // included) must not change for the host's threads meanwhile, nor afterwards. This default
  // makes `type` active and puts the previous type back when the scope ends.
  virtual std::shared_ptr<void> routeThisThread(int type);
  virtual std::optional<std::string> deviceName() = 0;
  virtual std::optional<std::string> serialNumber() = 0;
  virtual void addDelegate(const std::shared_ptr<KXDeviceDelegate>& delegate) = 0;
  // The facade of the process.
  static std::shared_ptr<VexaDevices> facade();
  // `facade` (a facade of its own, as an embedding host or a test makes one), held for the
  // life of the result; its device reads are routed as the process's facade routes them.
  static std::shared_ptr<VexaDevices> overFacade(std::shared_ptr<OKTKXDevices> facade);
};

// The accessory plug-ins by family; an empty slot means the family has no plug-in.
struct VexaDevicePlugins {
  std::shared_ptr<VexaKXDevicePlugin> zizoriDDevice, pellanDevice, kestraTabDevice, skyrigDevice, printerDevice,
      toravelDevice;
};

class OKTVexa final : public KXDeviceDelegate,
                      public KXDeviceAgent,
                      public VexaLocatorDelegate,
                      public std::enable_shared_from_this<OKTVexa> {
 public:
  using Completion = VexaPostCompletion;

  // The agent of the process: made and set up on the first call, thread-safely.
  static std::shared_ptr<OKTVexa> registerOKTVexa();
  // An agent of its own over `devices` and `locator` (tests, embedding); set up at once.
  static std::shared_ptr<OKTVexa> create(std::shared_ptr<VexaDevices> devices, VexaLocator* locator);
  ~OKTVexa() override;

  // ---- Check-in -------------------------------------------------------------------------
  void checkIn(bool force);
  void checkInWithCompletionBlock(Completion completion);
  void configCheckin(bool force);
  void configCheckinWithCompletion(Completion completion);
  bool shouldCheckIn();
  bool shouldCheckConfig(bool force);
  std::optional<foundation::WallTime> lastCheckInDate();

  void pause();
  void resume();
  bool isPause() const { return isPause_.load(); }
  bool isCheckingIn() const;
  void setAllowCheckIn(bool allow);
  void setAllowLocationUpload(bool allow) { requestLocation_ = allow; }
  void setTestMode(bool on) { testMode_ = on; }
  // How many of the agent's operations are waiting on the clock right now (diagnostics).
  int sleepingOperations() const;

  void setCheckInEnabled(bool on);
  bool checkInEnabled() const;
  void setLocationEnabled(bool on);
  bool locationEnabled() const;
  void setEnableLogging(bool on);

  void setCheckInInterval(double seconds);
  void setConfigCheckInInterval(double seconds);
  void setLocationUploadInterval(int64_t seconds);
  int64_t getCheckInInterval();
  int64_t getConfigCheckInInterval();
  int64_t getLocationUploadInterval();
  void resetCheckinTimer();
  void resetConfigCheckInTimer();
  void resetLocationUploadTimer();
  void resetCheckInAndLocationRequestTimer();
  // The periods the timers were last armed with (0 before the first).
  double timeIntervalCheckIn() const;
  double timeIntervalConfigCheckin() const;
  double timeIntervalLocationUpload() const;

  // ---- Payloads -------------------------------------------------------------------------
  nlohmann::json getCheckinJSON();
  nlohmann::json getDevicePayloadJSONs();
  nlohmann::json getCheckinPayloadForMobileDeviceJSON();
  nlohmann::json getCheckinPayloadForOKTDeviceJSON();
  nlohmann::json getCheckinPayloadForCustomDeviceJSON(VexaCustomDevicePlugin& device);
  // {"bundle", "serial", "manufacturer"} per entry of `checkin` (of a new one when absent).
  nlohmann::json extractCheckinDeviceSerialsPayloadFrom(const std::optional<nlohmann::json>& checkin);
  // Refreshes the caches on the calling thread (the device queries and the public-address
  // lookup may take seconds). The agent's own triggers run it on a worker of its own.
  void collectDevicesInfo();
  void sendPluginHeaders(const nlohmann::json& message);
  nlohmann::json checkInPayload() const;
  nlohmann::json configResponse() const;

  // ---- Server requests ------------------------------------------------------------------
  void setDeviceTag(const std::string& tag);
  void uploadTransactionReceipt(const VexaTransactionReceipt& receipt);
  bool shouldUploadLocation();
  void requestNewLocation();
  void addMetric(const VexaMetrics& metric);
  void removeMetric(const VexaMetrics& metric);
  void metricCheckin(VexaMetrics& metric);

  // ---- Registrations --------------------------------------------------------------------
  void addExtension(const std::shared_ptr<VexaExtensionPlugin>& extension);
  void removeExtension(const VexaExtensionPlugin& extension);
  std::vector<std::shared_ptr<VexaExtensionPlugin>> getExtensions() const;
  void addCustomDevice(const std::shared_ptr<VexaCustomDevicePlugin>& device);
  void removeCustomDevice(const VexaCustomDevicePlugin& device);
  std::vector<std::shared_ptr<VexaCustomDevicePlugin>> customDevices() const;
  void setDevicePlugins(VexaDevicePlugins plugins);
  void setPhonePlugins(std::vector<std::shared_ptr<VexaPhonePlugin>> plugins);
  // The phone's plug-ins of the process's agent, in the order the server lists them: system,
  // network, device, app, then the managed configuration.
  static std::vector<std::shared_ptr<VexaPhonePlugin>> standardPhonePlugins(const std::shared_ptr<OKTVexa>& agent);
  std::shared_ptr<VexaKXDevicePlugin> activeDevice();

  void addDelegate(const std::shared_ptr<KXDeviceDelegate>& delegate) override;
  void addDelegate(const std::shared_ptr<OKTVexaDelegate>& delegate);
  void removeDelegate(const std::shared_ptr<KXDelegate>& delegate);
  void VexaLog(const std::string& line) override;

  static std::string getUUID();
  static std::optional<std::string> getCompanyCode();
  nlohmann::json getConnectedDeviceInfo() const;
  static std::string convertTimeToUTC(foundation::WallTime t);
  static std::string getDeviceNameFromRawName(const std::string& raw);
  void updateNumberOfDevicesCheckingIn();

  // ---- Events ---------------------------------------------------------------------------
  void connectionState(int state) override;
  void didUpdateLocation(const LocationFix& location) override;
  void didFinishAllConfigJobsWithReport(const nlohmann::json& report);
  void applicationDidBecomeActive();
  void applicationDidEnterBackground();

  // Sends `selector` with its arguments to every delegate that responds to it, on the main
  // queue; unknown selectors are dropped.
  void performDelegateSelector(std::string_view selector, const nlohmann::json& object1,
                               const std::optional<Error>& object2 = std::nullopt);
  void status(const std::string& text);

  // The hand-over of new configuration jobs (the job runner); nothing by default.
  void setConfigJobsHandler(std::function<void(const nlohmann::json& jobs)> handler);

 private:
  OKTVexa(std::shared_ptr<VexaDevices> devices, VexaLocator* locator);
  void setup();
  VexaDevices& device();
  VexaLocator& vexaLocator();
  void refuseCheckIn(const Completion& completion);
  // The check-in after its wait for a location fix.
  void checkInOperation(Completion completion);
  void processCheckinResponse(const Completion& completion, const VexaPostResult& result);
  void processConfigResponse(const Completion& completion, const VexaPostResult& result);
  void uploadCheckInPayload(const nlohmann::json& json, Completion completion);
  void setCheckingIn(bool on);
  // Runs `collectDevicesInfo` on `collectQueue_`, never on the thread that reported the event.
  void scheduleCollectDevicesInfo();
  std::shared_ptr<VexaKXDevicePlugin> pluginForName(const std::string& name, bool fallback);
  nlohmann::json phoneDetails();
  nlohmann::json phonePluginList();
  void addPluginData(const std::optional<nlohmann::json>& data);
  void resetTimer(std::shared_ptr<foundation::Timer>& timer, double& period, int64_t seconds,
                  std::function<void()> action);
  int64_t readInterval(const char* key, int64_t fallback);

  std::shared_ptr<VexaDevices> devices_;
  VexaLocator* locator_;

  std::atomic<bool> isPause_{false};
  std::atomic<bool> requestCheckin_{false};
  std::atomic<bool> requestLocation_{false};
  std::atomic<bool> testMode_{false};
  mutable std::mutex checkingMutex_;  // the agent's own lock
  bool isCheckingIn_ = false;
  std::mutex gateMutex_;  // held while the gate tests and queues a check-in
  bool checkInQueued_ = false;  // a check-in waits in `checkInQueue_` (under `gateMutex_`)

  mutable std::mutex mutex_;  // collections below
  std::vector<std::shared_ptr<VexaExtensionPlugin>> arrayExtensions_;
  std::vector<std::shared_ptr<VexaCustomDevicePlugin>> arrayCustomDevices_;
  std::vector<std::weak_ptr<KXDelegate>> delegates_;
  std::shared_ptr<nlohmann::json> oktDeviceInfo_;
  std::shared_ptr<nlohmann::json> configResponse_;
  std::shared_ptr<nlohmann::json> checkInPayload_;
  std::vector<std::shared_ptr<VexaPhonePlugin>> phonePlugins_;
  VexaDevicePlugins plugins_;
  std::shared_ptr<VexaKXDevicePlugin> unknownDevice_;
  std::function<void(const nlohmann::json&)> configJobsHandler_;

  std::mutex pluginsDataMutex_;  // pluginsData and the payload result list
  std::vector<nlohmann::json> pluginsData_;

  mutable std::mutex timerMutex_;
  std::shared_ptr<foundation::Timer> timerCheckin_, timerConfigCheckin_, timerLocationUpload_;
  double timeIntervalCheckIn_ = 0, timeIntervalConfigCheckin_ = 0, timeIntervalLocationUpload_ = 0;

  foundation::OperationQueue checkInQueue_{1};
  foundation::OperationQueue configCheckinQueue_{1};
  foundation::OperationQueue payloadKXDevicesQueue_{1};
  foundation::OperationQueue payloadCustomDevicesQueue_{1};
  foundation::OperationQueue payloadMobileQueue_{100};
  foundation::OperationQueue networkQueue_{100};
  foundation::OperationQueue collectQueue_{1};
  // The waits of the agent's operations (on the clock). Operations hold this, not the agent,
  // while they wait, so the agent can go away meanwhile; the wait then ends at once.
  struct Sleeper {
    std::mutex mutex;
    std::condition_variable cv;
    bool stopping = false;
    int sleeping = 0;
    // False when the agent went away.
    bool sleep(foundation::Duration d);
    void stop();
  };
  std::shared_ptr<Sleeper> sleeper_ = std::make_shared<Sleeper>();
};

}  // namespace kestra
