// The agent: registration and set-up, the application's life, delegates, and the host's
// registrations.

#include "sdk/agent/OKTVexa.h"

#include <nlohmann/json.hpp>

#include "platform/foundation/FirstFrame.h"
#include "platform/foundation/MainQueue.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/UserDefaults.h"
#include "sdk/agent/UICKeyChainStore.h"
#include "sdk/agent/VexaConfiguration.h"
#include "sdk/agent/VexaMDMConfiguration.h"
#include "sdk/agent/VexaDevicePlugin.h"
#include "sdk/agent/VexaHelper.h"
#include "sdk/agent/VexaIdentifier.h"
#include "sdk/agent/VexaLog.h"
#include "sdk/agent/VexaPhonePlugins.h"
#include "sdk/device/KXThreadRouting.h"
#include "sdk/device/OKTKXDevices.h"

namespace kestra {

using nlohmann::json;

namespace {

constexpr const char* kApplicationStateKey = "OKTVEXA_APPLICATION_STATE";
constexpr foundation::Duration kActiveCheckInDelay = std::chrono::seconds(5);
constexpr foundation::Duration kCollectDelay = std::chrono::milliseconds(4000);

// A facade as the agent uses it: the one given, or the process's own (asked for at each call,
// as the process's facade makes its agent while it is itself being made).
class FacadeDevices final : public VexaDevices {
 public:
  explicit FacadeDevices(std::shared_ptr<OKTKXDevices> facade = nullptr) : facade_(std::move(facade)) {}
  int connstate() override { return facade().connstate(); }
  std::vector<std::shared_ptr<KXDeviceInfo>> getConnectedDevicesInfo(Error* error) override {
    return facade().getConnectedDevicesInfo(error);
  }
  int activeDeviceType() override { return facade().devices().activeDeviceType(); }
  bool setActiveDeviceType(int type, Error* error) override { return facade().setActiveDeviceType(type, error); }
  // The device API's own routing of one thread: the application's active type (most often
  // automatic, which no call could put back) stays as it is while the agent reads a device.
  std::shared_ptr<void> routeThisThread(int type) override {
    return std::make_shared<KXThreadRouting>(facade().devices(), type);
  }
  std::optional<std::string> deviceName() override { return facade().deviceName(); }
  std::optional<std::string> serialNumber() override { return facade().serialNumber(); }
  void addDelegate(const std::shared_ptr<KXDeviceDelegate>& delegate) override { facade().addDelegate(delegate); }

 private:
  OKTKXDevices& facade() const { return facade_ ? *facade_ : OKTKXDevices::sharedDevice(); }
  const std::shared_ptr<OKTKXDevices> facade_;
};

void writeApplicationState(const char* state) {
  UICKeyChainStore::sharedStore().setString(std::string(state), std::string(kApplicationStateKey));
  auto& defaults = foundation::UserDefaults::standard();
  defaults.setString(kApplicationStateKey, state);
  defaults.synchronize();
}

}  // namespace

std::shared_ptr<VexaDevices> VexaDevices::facade() { return std::make_shared<FacadeDevices>(); }

std::shared_ptr<VexaDevices> VexaDevices::overFacade(std::shared_ptr<OKTKXDevices> facade) {
  return std::make_shared<FacadeDevices>(std::move(facade));
}

std::shared_ptr<void> VexaDevices::routeThisThread(int type) {
  const int previous = activeDeviceType();
  setActiveDeviceType(type, nullptr);
  return std::shared_ptr<void>(nullptr, [this, previous](void*) { setActiveDeviceType(previous, nullptr); });
}

// The facade's agent.
std::shared_ptr<KXDeviceAgent> registerDeviceAgent() { return OKTVexa::registerOKTVexa(); }

std::shared_ptr<OKTVexa> OKTVexa::registerOKTVexa() {
  // The agent lives for the whole process: its own threads may still be at work while the
  // process exits. The holder stays reachable through this static, so leak checkers see it as in use.
  static std::shared_ptr<OKTVexa>* const agent = new std::shared_ptr<OKTVexa>([] {
    std::shared_ptr<OKTVexa> a(new OKTVexa(VexaDevices::facade(), nullptr));
    a->setup();
    VexaDevicePlugins plugins;
    plugins.pellanDevice = std::make_shared<VexaPellanProDevice>();
    plugins.toravelDevice = std::make_shared<VexaToravelDevice>();
    plugins.kestraTabDevice = std::make_shared<VexaKestraTabDevice>();
    plugins.zizoriDDevice = std::make_shared<VexaZizoriDDevice>();
    plugins.skyrigDevice = std::make_shared<VexaSkyrigDevice>();
    plugins.printerDevice = std::make_shared<VexaVKPPrinterDevice>();
    a->setDevicePlugins(plugins);
    a->setPhonePlugins(standardPhonePlugins(a));
    a->setConfigJobsHandler([](const json& jobs) { VexaConfiguration::sharedConfiguration().addConfigJobs(jobs); });
    return a;
  }());
  return *agent;
}

std::shared_ptr<OKTVexa> OKTVexa::create(std::shared_ptr<VexaDevices> devices, VexaLocator* locator) {
  std::shared_ptr<OKTVexa> a(new OKTVexa(std::move(devices), locator));
  a->setup();
  return a;
}

OKTVexa::OKTVexa(std::shared_ptr<VexaDevices> devices, VexaLocator* locator)
    : devices_(std::move(devices)), locator_(locator) {
  implements({kxsel::connectionState});
}

OKTVexa::~OKTVexa() {
  foundation::NotificationCenter::defaultCenter().removeObserver(this);
  sleeper_->stop();
  {
    std::lock_guard lock(timerMutex_);
    for (auto* t : {&timerCheckin_, &timerConfigCheckin_, &timerLocationUpload_})
      if (*t) (*t)->invalidate();
  }
  for (auto* q : {&checkInQueue_, &configCheckinQueue_, &payloadKXDevicesQueue_, &payloadCustomDevicesQueue_,
                  &payloadMobileQueue_, &networkQueue_, &collectQueue_})
    q->cancelAllOperations();
}

bool OKTVexa::Sleeper::sleep(foundation::Duration d) {
  std::unique_lock lock(mutex);
  ++sleeping;
  foundation::Clock::current().waitFor(lock, cv, d, [&] { return stopping; });
  --sleeping;
  return !stopping;
}

int OKTVexa::sleepingOperations() const {
  std::lock_guard lock(sleeper_->mutex);
  return sleeper_->sleeping;
}

void OKTVexa::Sleeper::stop() {
  {
    std::lock_guard lock(mutex);
    stopping = true;
  }
  cv.notify_all();
}

void OKTVexa::setup() {
  (void)UICKeyChainStore::sharedStore();
  unknownDevice_ = std::make_shared<VexaKXDevicePlugin>();
  oktDeviceInfo_ = std::make_shared<json>(json::array());
  // The application plug-in's switches start on.
  // One write for both switches (each write is a disk flush on the way to the first frame).
  auto& defaults = foundation::UserDefaults::standard();
  json seeds = json::object();
  for (const char* key : {"checkInEnabled", "locationEnabled"})
    if (defaults.objectForKey(key).is_null()) seeds[key] = true;
  defaults.setObjects(seeds);
  defaults.synchronize();

  std::weak_ptr<OKTVexa> weak = weak_from_this();
  auto& center = foundation::NotificationCenter::defaultCenter();
  center.addObserver(this, kApplicationDidBecomeActiveNotification, nullptr, [weak](const foundation::Notification&) {
    if (auto self = weak.lock()) self->applicationDidBecomeActive();
  });
  center.addObserver(this, kVexaApplicationDidEnterBackgroundNotification, nullptr,
                     [weak](const foundation::Notification&) {
                       if (auto self = weak.lock()) self->applicationDidEnterBackground();
                     });
  center.addObserver(this, kOKT_DEVICE_CONNECTED_NOTIFICATION, nullptr, [weak](const foundation::Notification&) {
    if (auto self = weak.lock()) self->scheduleCollectDevicesInfo();
  });
  // The location lookup (on a desktop a GeoClue subprocess) waits for the window's first
  // frame; without a window it starts here, as before.
  foundation::FirstFrame::runAfter([weak] {
    if (auto self = weak.lock()) self->vexaLocator().requestNewLocation();
  });
}

VexaDevices& OKTVexa::device() {
  devices_->addDelegate(shared_from_this());
  return *devices_;
}

VexaLocator& OKTVexa::vexaLocator() {
  VexaLocator& locator = locator_ ? *locator_ : VexaLocator::sharedLocator();
  locator.setDelegate(weak_from_this());
  return locator;
}

std::shared_ptr<VexaKXDevicePlugin> OKTVexa::pluginForName(const std::string& name, bool fallback) {
  struct Row {
    std::initializer_list<const char*> words;
    std::shared_ptr<VexaKXDevicePlugin> VexaDevicePlugins::*slot;
  };
  static const Row kRows[] = {
      {{"zizorid"}, &VexaDevicePlugins::zizoriDDevice},
      {{"pellanpro", "pellanvrok"}, &VexaDevicePlugins::pellanDevice},
      {{"pellantab", "pellanpad", "kestratab", "kestrapad"}, &VexaDevicePlugins::kestraTabDevice},
      {{"skyrik", "skyrig", "sk500m", "mpos"}, &VexaDevicePlugins::skyrigDevice},
      {{"vkp"}, &VexaDevicePlugins::printerDevice},
      {{"toravel", "kestracharge"}, &VexaDevicePlugins::toravelDevice},
  };
  std::lock_guard lock(mutex_);
  for (const auto& row : kRows)
    for (const char* word : row.words)
      if (VexaHelper::string(name, word)) {
        auto plugin = plugins_.*row.slot;
        return plugin || !fallback ? plugin : unknownDevice_;
      }
  return fallback ? unknownDevice_ : nullptr;
}

std::shared_ptr<VexaKXDevicePlugin> OKTVexa::activeDevice() {
  return pluginForName(device().deviceName().value_or(""), true);
}

void OKTVexa::setDevicePlugins(VexaDevicePlugins plugins) {
  std::lock_guard lock(mutex_);
  plugins_ = std::move(plugins);
}

std::vector<std::shared_ptr<VexaPhonePlugin>> OKTVexa::standardPhonePlugins(const std::shared_ptr<OKTVexa>& agent) {
  return {std::make_shared<VexaMobileSystem>(), std::make_shared<VexaMobileNetwork>(),
          std::make_shared<VexaMobileDevice>(), std::make_shared<VexaMobileApp>(),
          std::make_shared<VexaMDMConfiguration>(agent)};
}

void OKTVexa::setPhonePlugins(std::vector<std::shared_ptr<VexaPhonePlugin>> plugins) {
  std::lock_guard lock(mutex_);
  phonePlugins_ = std::move(plugins);
}

void OKTVexa::setConfigJobsHandler(std::function<void(const json&)> handler) {
  std::lock_guard lock(mutex_);
  configJobsHandler_ = std::move(handler);
}

// ---- Switches ---------------------------------------------------------------------------------

void OKTVexa::pause() {
  isPause_ = true;
  std::lock_guard gate(gateMutex_);
  for (auto* q : {&payloadKXDevicesQueue_, &checkInQueue_, &configCheckinQueue_}) q->cancelAllOperations();
  checkInQueued_ = false;  // a queued check-in was dropped; one that started cleared it
}

void OKTVexa::resume() {
  isPause_ = false;
  for (auto* q : {&payloadKXDevicesQueue_, &checkInQueue_, &configCheckinQueue_}) q->setSuspended(false);
  checkIn(false);
}

void OKTVexa::setCheckInEnabled(bool on) {
  auto& defaults = foundation::UserDefaults::standard();
  defaults.setBool("checkInEnabled", on);
  defaults.synchronize();
}
bool OKTVexa::checkInEnabled() const { return foundation::UserDefaults::standard().boolForKey("checkInEnabled"); }
void OKTVexa::setLocationEnabled(bool on) {
  auto& defaults = foundation::UserDefaults::standard();
  defaults.setBool("locationEnabled", on);
  defaults.synchronize();
}
bool OKTVexa::locationEnabled() const { return foundation::UserDefaults::standard().boolForKey("locationEnabled"); }
void OKTVexa::setEnableLogging(bool on) { VexaInternalLogger::shared().setIsEnabled(on); }

// ---- Registrations ---------------------------------------------------------------------------------

void OKTVexa::addExtension(const std::shared_ptr<VexaExtensionPlugin>& extension) {
  if (!extension) return;
  std::lock_guard lock(mutex_);
  for (const auto& e : arrayExtensions_)
    if (e->name() == extension->name() && e->pluginName() == extension->pluginName()) return;
  arrayExtensions_.push_back(extension);
}

void OKTVexa::removeExtension(const VexaExtensionPlugin& extension) {
  std::lock_guard lock(mutex_);
  std::erase_if(arrayExtensions_, [&](const auto& e) {
    return e->name() == extension.name() && e->pluginName() == extension.pluginName();
  });
}

std::vector<std::shared_ptr<VexaExtensionPlugin>> OKTVexa::getExtensions() const {
  std::lock_guard lock(mutex_);
  return arrayExtensions_;
}

void OKTVexa::addCustomDevice(const std::shared_ptr<VexaCustomDevicePlugin>& device) {
  if (!device) return;
  std::lock_guard lock(mutex_);
  for (const auto& d : arrayCustomDevices_)
    if (d->deviceName() == device->deviceName() && d->deviceModel() == device->deviceModel() &&
        d->deviceSerial() == device->deviceSerial())
      return;
  arrayCustomDevices_.push_back(device);
}

void OKTVexa::removeCustomDevice(const VexaCustomDevicePlugin& device) {
  std::lock_guard lock(mutex_);
  std::erase_if(arrayCustomDevices_, [&](const auto& d) {
    return d->deviceName() == device.deviceName() && d->deviceModel() == device.deviceModel() &&
           d->deviceSerial() == device.deviceSerial();
  });
}

std::vector<std::shared_ptr<VexaCustomDevicePlugin>> OKTVexa::customDevices() const {
  std::lock_guard lock(mutex_);
  return arrayCustomDevices_;
}

// ---- Delegates ------------------------------------------------------------------------------------

void OKTVexa::addDelegate(const std::shared_ptr<KXDeviceDelegate>& delegate) {
  if (!delegate) return;
  std::lock_guard lock(mutex_);
  std::erase_if(delegates_, [](const auto& w) { return w.expired(); });
  for (const auto& w : delegates_)
    if (w.lock().get() == static_cast<KXDelegate*>(delegate.get())) return;
  delegates_.push_back(std::static_pointer_cast<KXDelegate>(delegate));
}

void OKTVexa::addDelegate(const std::shared_ptr<OKTVexaDelegate>& delegate) {
  if (!delegate) return;
  std::lock_guard lock(mutex_);
  std::erase_if(delegates_, [](const auto& w) { return w.expired(); });
  for (const auto& w : delegates_)
    if (w.lock().get() == static_cast<KXDelegate*>(delegate.get())) return;
  delegates_.push_back(std::static_pointer_cast<KXDelegate>(delegate));
}

void OKTVexa::removeDelegate(const std::shared_ptr<KXDelegate>& delegate) {
  std::lock_guard lock(mutex_);
  std::erase_if(delegates_, [&](const auto& w) { return w.expired() || w.lock() == delegate; });
}

void OKTVexa::performDelegateSelector(std::string_view selector, const json& object1,
                                      const std::optional<Error>& object2) {
  std::vector<std::shared_ptr<KXDelegate>> targets;
  {
    std::lock_guard lock(mutex_);
    for (const auto& w : delegates_)
      if (auto d = w.lock()) targets.push_back(std::move(d));
  }
  if (targets.empty()) return;
  foundation::MainQueue::post([targets = std::move(targets), name = std::string(selector), object1, object2] {
    for (const auto& target : targets) {
      if (!target->responds(name)) continue;
      auto* d = dynamic_cast<OKTVexaDelegate*>(target.get());
      if (!d) continue;
      try {
        if (name == vexasel::oktDevicesInfo)
          d->oktDevicesInfo(object1);
        else if (name == vexasel::oktvexaStatus)
          d->oktvexaStatus(object1.is_string() ? object1.get<std::string>() : std::string());
        else if (name == vexasel::deviceTagStatus_error)
          d->deviceTagStatus(object1.is_boolean() && object1.get<bool>(), object2);
        else if (name == vexasel::configsDidUpdateWithReport)
          d->configsDidUpdateWithReport(object1);
      } catch (const std::exception& e) {
        kestra::VexaLog("<OKTVexa> %s exception: %s", name.c_str(), e.what());
      }
    }
  });
}

void OKTVexa::status(const std::string& text) { performDelegateSelector(vexasel::oktvexaStatus, text); }

void OKTVexa::VexaLog(const std::string& line) { kestra::VexaLog("%s", line.c_str()); }

// ---- Small services --------------------------------------------------------------------------------

std::string OKTVexa::getUUID() { return VexaIdentifier::getUUID(); }

std::optional<std::string> OKTVexa::getCompanyCode() {
  auto code = foundation::UserDefaults::standard().objectForKey("companyCode");
  if (code.is_string() && !code.get<std::string>().empty()) return code.get<std::string>();
  return std::nullopt;
}

json OKTVexa::getConnectedDeviceInfo() const {
  std::lock_guard lock(mutex_);
  return *oktDeviceInfo_;
}

std::string OKTVexa::convertTimeToUTC(foundation::WallTime t) { return VexaHelper::convertTimeToUTC(t); }
std::string OKTVexa::getDeviceNameFromRawName(const std::string& raw) { return VexaHelper::getDeviceNameFromRawName(raw); }

void OKTVexa::updateNumberOfDevicesCheckingIn() {
  std::weak_ptr<OKTVexa> weak = weak_from_this();
  foundation::MainQueue::post([weak] {
    auto self = weak.lock();
    if (!self) return;
    Error error;
    auto infos = self->device().getConnectedDevicesInfo(&error);
    const size_t count = (error.isError() ? 0 : infos.size()) + self->customDevices().size() + 1;
    self->status("Checking in " + std::to_string(count) + " device(s)");
  });
}

// ---- Events ------------------------------------------------------------------------------------------

void OKTVexa::connectionState(int state) {
  if (state != CONN_CONNECTED) return;
  std::weak_ptr<OKTVexa> weak = weak_from_this();
  foundation::RunLoop::current().addTimer(foundation::Clock::current().now() + kCollectDelay, [weak] {
    if (auto self = weak.lock()) self->scheduleCollectDevicesInfo();
  });
}

void OKTVexa::scheduleCollectDevicesInfo() {
  // One refresh waiting is enough: it reads the devices as they are when it runs.
  if (collectQueue_.operationCount() > 1) return;
  std::weak_ptr<OKTVexa> weak = weak_from_this();
  collectQueue_.addOperation([weak] {
    if (auto self = weak.lock()) self->collectDevicesInfo();
  });
}

void OKTVexa::didFinishAllConfigJobsWithReport(const json& report) {
  status("Configurations updated");
  performDelegateSelector(vexasel::configsDidUpdateWithReport, report);
  kestra::VexaLog("<OKTVexa> Config applied: %s", report.dump().c_str());
}

void OKTVexa::applicationDidBecomeActive() {
  kestra::VexaLog("<OKTVexa> App Did Become Active");
  std::weak_ptr<OKTVexa> weak = weak_from_this();
  foundation::MainQueue::postAfter(kActiveCheckInDelay, [weak] {
    if (auto self = weak.lock()) self->checkInWithCompletionBlock(nullptr);
  });
  writeApplicationState("Active");
}

void OKTVexa::applicationDidEnterBackground() {
  kestra::VexaLog("<OKTVexa> App Did Enter Background");
  writeApplicationState("Background");
}

}  // namespace kestra
