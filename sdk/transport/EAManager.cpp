#include "sdk/transport/EAManager.h"

#include <algorithm>
#include <cctype>
#include <nlohmann/json.hpp>

#include "platform/foundation/MainQueue.h"
#include "sdk/transport/GlobalQueue.h"
#include "sdk/transport/KXUNISDKCommRunLoop.h"

namespace kestra {

namespace {
std::string lower(std::string s) {
  std::transform(s.begin(), s.end(), s.begin(), [](unsigned char c) { return std::tolower(c); });
  return s;
}
template <class T>
bool contains(const std::vector<T>& list, const T& s) {
  return std::find(list.begin(), list.end(), s) != list.end();
}
}  // namespace

EAManager& EAManager::sharedManager() {
  // Created once under the static's guard; never destroyed.
  static std::shared_ptr<EAManager>* manager = new std::shared_ptr<EAManager>(
      create(accessory::AccessoryManager::shared(), KXUNISDKCommRunLoop::sharedClass()));
  return **manager;
}

std::shared_ptr<EAManager> EAManager::create(accessory::AccessoryManager& registry,
                                             KXUNISDKCommRunLoop& commRunLoop) {
  std::shared_ptr<EAManager> m(new EAManager(registry, commRunLoop));
  m->observeApplication();
  m->onRegister();
  return m;
}

EAManager::EAManager(accessory::AccessoryManager& registry, KXUNISDKCommRunLoop& commRunLoop)
    : registry_(registry), commRunLoop_(commRunLoop) {}

EAManager::~EAManager() {
  foundation::NotificationCenter::defaultCenter().removeObserver(this);
  if (registered_.exchange(false)) registry_.unregisterForLocalNotifications();
}

void EAManager::observeApplication() {
  auto& center = foundation::NotificationCenter::defaultCenter();
  std::weak_ptr<EAManager> weak = weak_from_this();
  center.addUniqueObserver(this, kApplicationDidEnterBackgroundNotification, nullptr,
                           [weak](const foundation::Notification&) {
                             if (auto self = weak.lock()) self->UIApplicationDidEnterBackground();
                           });
  center.addUniqueObserver(this, kApplicationWillEnterForegroundNotification, nullptr,
                           [weak](const foundation::Notification&) {
                             if (auto self = weak.lock()) self->UIApplicationWillEnterForeground();
                           });
}

void EAManager::onRegister() {
  auto& center = foundation::NotificationCenter::defaultCenter();
  std::weak_ptr<EAManager> weak = weak_from_this();
  center.addUniqueObserver(this, accessory::kAccessoryDidConnectNotification, &registry_,
                           [weak](const foundation::Notification& n) {
                             if (auto self = weak.lock()) self->EAAccessoryDidConnect(&n);
                           });
  center.addUniqueObserver(this, accessory::kAccessoryDidDisconnectNotification, &registry_,
                           [weak](const foundation::Notification& n) {
                             if (auto self = weak.lock()) self->EAAccessoryDidDisconnect(n);
                           });
  if (!registered_.exchange(true)) registry_.registerForLocalNotifications();
}

void EAManager::onUnregister() {
  auto& center = foundation::NotificationCenter::defaultCenter();
  center.removeObserver(this, accessory::kAccessoryDidConnectNotification, &registry_);
  center.removeObserver(this, accessory::kAccessoryDidDisconnectNotification, &registry_);
  if (registered_.exchange(false)) registry_.unregisterForLocalNotifications();
}

void EAManager::setDelegate(std::shared_ptr<AccessoryManagerDelegate> driver) {
  if (!driver) return;
  std::lock_guard<std::mutex> lock(mutex_);
  if (!contains(delegates_, driver)) delegates_.push_back(std::move(driver));
}

void EAManager::tryConnect() {
  setDisabledAccessory("");
  connectEnabled_ = true;
  std::weak_ptr<EAManager> weak = weak_from_this();
  foundation::MainQueue::post([weak] {
    if (auto self = weak.lock()) self->EAAccessoryDidConnect(nullptr);
  });
}

void EAManager::disconnect() { connectEnabled_ = false; }

bool EAManager::isAccessoryPresent(const std::string& text) const {
  const std::string prefix = lower(text);
  for (const auto& a : registry_.connectedAccessories()) {
    if (a->name().empty() || a->protocolStrings().empty()) continue;
    if (lower(a->name()).rfind(prefix, 0) == 0) return true;
    if (contains(a->protocolStrings(), text)) return true;
  }
  return false;
}

void EAManager::EAAccessoryDidConnect(const foundation::Notification*) {
  if (disabled_ || !connectEnabled_) return;
  // An attach that arrives during a search (which may be busy identifying another
  // accessory) makes that search run once more when it ends, so the accessory is not lost.
  searchAgain_ = true;
  if (searchInProgress_.exchange(true)) return;
  std::shared_ptr<EAManager> self = shared_from_this();
  GlobalQueue::async([self] {
    do {
      self->searchAgain_ = false;
      self->findAccessory();
      self->searchInProgress_ = false;
    } while (self->searchAgain_.load() && !self->searchInProgress_.exchange(true));
  });
}

bool EAManager::findAccessory() {
  cleanUp();
  bool result = true;
  for (const auto& acc : registry_.connectedAccessories()) {
    const std::string& name = acc->name();
    const auto& offered = acc->protocolStrings();
    if (name.empty() || offered.empty() || name == disabledAccessory()) continue;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      bool served = std::any_of(devices_.begin(), devices_.end(),
                                [&](const auto& s) { return s->deviceName() == name; });
      if (served) continue;
    }
    for (size_t i = 0;; ++i) {
      std::shared_ptr<AccessoryManagerDelegate> driver;
      {
        std::lock_guard<std::mutex> lock(mutex_);  // the list may grow between drivers
        if (i >= delegates_.size()) break;
        driver = delegates_[i];
      }
      auto answer = driver->accessoryShouldConnect(name, offered);
      if (!answer) continue;
      std::vector<std::string> kept;
      for (const auto& p : *answer)
        if (contains(offered, p)) kept.push_back(p);
      auto stream = EAStream::initWithAccessory(acc, kept, weak_from_this(), &commRunLoop_);
      if (stream) {
        stream->setDelegate(driver);
        {
          std::lock_guard<std::mutex> lock(mutex_);
          devices_.push_back(stream);
        }
        driver->accessoryConnected(stream);
        result = true;
      } else {
        result = false;
      }
      break;  // a claim that failed is not passed on to later drivers
    }
  }
  return result;
}

void EAManager::cleanUp() {
  std::lock_guard<std::mutex> lock(mutex_);
  devices_.erase(std::remove_if(devices_.begin(), devices_.end(),
                                [](const auto& s) { return !s->connected(); }),
                 devices_.end());
}

void EAManager::eaClean() {
  std::vector<std::shared_ptr<EAStream>> gone;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    for (const auto& s : devices_)
      if (!isAccessoryPresent(s->deviceName())) gone.push_back(s);
    devices_.erase(std::remove_if(devices_.begin(), devices_.end(),
                                  [&](const auto& s) { return contains(gone, s); }),
                   devices_.end());
  }
  for (const auto& s : gone) s->disconnect();
}

void EAManager::accessoryDisconnected(const std::shared_ptr<EAStream>& stream) {
  std::lock_guard<std::mutex> lock(mutex_);
  devices_.erase(std::remove(devices_.begin(), devices_.end(), stream), devices_.end());
}

void EAManager::EAAccessoryDidDisconnect(const foundation::Notification& n) {
  if (!n.userInfo.is_object()) return;
  auto it = n.userInfo.find(accessory::kAccessoryKey);
  if (it == n.userInfo.end() || !it->is_object()) return;
  auto nameIt = it->find("name");
  if (nameIt == it->end() || !nameIt->is_string()) return;
  const std::string name = nameIt->get<std::string>();
  if (name.empty()) return;
  {
    std::lock_guard<std::mutex> lock(mutex_);
    // The stream itself closes on its own detach callback.
    auto s = std::find_if(devices_.begin(), devices_.end(),
                          [&](const auto& d) { return d->deviceName() == name; });
    if (s != devices_.end()) devices_.erase(s);
    if (name == disabledAccessory_) disabledAccessory_.clear();
  }
}

void EAManager::UIApplicationDidEnterBackground() {
  if (!isBackgroundApp()) {
    std::vector<std::shared_ptr<EAStream>> streams;
    {
      std::lock_guard<std::mutex> lock(mutex_);
      if (!devices_.empty()) {
        disabledAccessory_.clear();
        streams.swap(devices_);
      }
    }
    for (const auto& s : streams) s->disconnect();
  }
  onUnregister();
}

void EAManager::UIApplicationWillEnterForeground() {
  setDisabledAccessory("");
  if (!connectEnabled_) return;
  std::weak_ptr<EAManager> weak = weak_from_this();
  foundation::MainQueue::postAfter(kForegroundDelay, [weak] {
    if (auto self = weak.lock()) self->onRegister();
  });
  foundation::MainQueue::postAfter(kForegroundDelay, [weak] {
    if (auto self = weak.lock()) self->tryConnect();
  });
}

std::string EAManager::disabledAccessory() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return disabledAccessory_;
}

void EAManager::setDisabledAccessory(const std::string& name) {
  std::lock_guard<std::mutex> lock(mutex_);
  disabledAccessory_ = name;
}

bool EAManager::connected() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return !devices_.empty();
}

std::shared_ptr<AccessoryManagerDelegate> EAManager::delegate() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return delegates_.empty() ? nullptr : delegates_.front();
}

std::vector<std::shared_ptr<AccessoryManagerDelegate>> EAManager::delegates() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return delegates_;
}

std::vector<std::shared_ptr<EAStream>> EAManager::devices() const {
  std::lock_guard<std::mutex> lock(mutex_);
  return devices_;
}

}  // namespace kestra
