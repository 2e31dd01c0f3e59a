#pragma once
// The registry of attached accessories. It watches two sources and keeps the list of
// attached accessories current:
//
// - The accessory folder, `$XDG_RUNTIME_DIR/kestra-accessories` by default (see
//   `defaultFolder()`), watched with inotify. A simulator attaches an accessory `<id>` by
//   listening on the Unix-domain socket `<id>.sock` there and then moving the descriptor
//   `<id>.json` into place (the identity and protocol strings, see Accessory.h; an optional
//   "pid" names the process serving it, and a descriptor whose process is gone is ignored).
//   Removing the descriptor detaches the accessory.
// - The serial configuration file, `$XDG_CONFIG_HOME/KestraSDK/serial-accessories.json` by
//   default: {"accessories": [{identity fields..., "devices": ["/dev/ttyACM0", ...],
//   "baudRate": 115200}]}, one device path per protocol string. Such an accessory is
//   attached while every one of its device paths exists; the folders holding them are
//   watched, so plugging and unplugging a USB serial device attaches and detaches it.
//
// Changes are noticed on the registry's own watcher thread. The list changes at once; the
// accessory delegate's `accessoryDidDisconnect` and the notifications run on the main
// queue. While at least one `registerForLocalNotifications()` is in force, the registry
// posts on `foundation::NotificationCenter::defaultCenter()`, with itself as the object:
//   "EAAccessoryDidConnectNotification"    userInfo {"EAAccessoryKey": accessory JSON}
//   "EAAccessoryDidDisconnectNotification" userInfo {"EAAccessoryKey": accessory JSON}
// (`accessoryFromNotification` gives the accessory object back.)
//
// One process-wide registry exists (`shared()`); tests may make their own over a folder of
// their own. Every member is safe from any thread. A malformed descriptor or configuration
// entry is logged and skipped; it never detaches the other accessories.

#include <atomic>
#include <condition_variable>
#include <cstdint>
#include <filesystem>
#include <map>
#include <memory>
#include <mutex>
#include <string>
#include <thread>
#include <vector>

#include "platform/accessory/Accessory.h"
#include "platform/foundation/NotificationCenter.h"
#include "platform/foundation/RunLoop.h"

namespace accessory {

inline constexpr const char* kAccessoryDidConnectNotification =
    "EAAccessoryDidConnectNotification";
inline constexpr const char* kAccessoryDidDisconnectNotification =
    "EAAccessoryDidDisconnectNotification";
inline constexpr const char* kAccessoryKey = "EAAccessoryKey";
inline constexpr const char* kAccessoryFolderName = "kestra-accessories";

class AccessoryManager {
 public:
  // The process-wide registry over `defaultFolder()` and `defaultSerialConfig()`.
  static AccessoryManager& shared();
  static std::filesystem::path defaultFolder();
  static std::filesystem::path defaultSerialConfig();

  // Starts watching at once (the folder is created, mode 0700, when missing). An empty
  // `serialConfig` means no serial accessories.
  AccessoryManager(std::filesystem::path folder, std::filesystem::path serialConfig = {});
  ~AccessoryManager();
  AccessoryManager(const AccessoryManager&) = delete;
  AccessoryManager& operator=(const AccessoryManager&) = delete;

  // The attached accessories, in the order they appeared.
  std::vector<std::shared_ptr<Accessory>> connectedAccessories() const;
  bool isAttached(const std::shared_ptr<Accessory>& accessory) const;

  void registerForLocalNotifications();
  void unregisterForLocalNotifications();
  bool notificationsRegistered() const;

  // The accessory object named by a notification of this registry (nullptr when unknown).
  std::shared_ptr<Accessory> accessoryFromNotification(const foundation::Notification& n) const;

  // Reads both sources again now, on the calling thread. The watcher does this by itself;
  // a caller that just changed the serial configuration file may ask for it.
  void rescan();

  const std::filesystem::path& folder() const { return folder_; }
  const std::filesystem::path& serialConfig() const { return serialConfig_; }

 private:
  struct Found {
    std::string key;  // "socket:<path>" or "serial:<index>:<devices>"
    AccessoryIdentity identity;
    AccessoryEndpoint endpoint;
  };
  void watcherMain();
  void setUpWatches();
  std::vector<Found> scanFolder() const;
  std::vector<Found> scanSerial() const;
  void apply(std::vector<Found> found);
  void postConnect(const std::shared_ptr<Accessory>& a);
  void postDisconnect(const std::shared_ptr<Accessory>& a);

  const std::filesystem::path folder_;
  const std::filesystem::path serialConfig_;

  mutable std::mutex mutex_;
  std::vector<std::pair<std::string, std::shared_ptr<Accessory>>> attached_;
  std::map<uint32_t, std::weak_ptr<Accessory>> known_;
  uint32_t nextConnectionID_ = 1;
  int registrations_ = 0;

  std::mutex scanMutex_;  // one scan at a time
  int inotifyFd_ = -1;
  std::map<int, std::string> watches_;
  std::unique_ptr<foundation::RunLoop> watcherLoop_;  // owned: outlives the thread
  std::atomic<bool> stopping_{false};
  std::thread watcher_;
  std::mutex startMutex_;
  std::condition_variable startCv_;
  bool watcherReady_ = false;
  std::shared_ptr<int> alive_;  // main-queue blocks check it before touching the registry
};

}  // namespace accessory
