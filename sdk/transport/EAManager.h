#pragma once
// The accessory manager: the registry between the attached accessories and the SDK's
// device drivers.
//
// A driver implements `AccessoryManagerDelegate` and registers once with `setDelegate`.
// When an accessory is attached (or a driver calls `tryConnect`), the manager searches the
// attached accessories on the global queue and asks the drivers, in registration order,
// which of an accessory's protocol strings they want. The first driver that answers (with
// a list, even an empty one) takes the accessory: the manager opens those channels as one
// `EAStream` and sends the driver `accessoryConnected`. A claim whose sessions cannot be
// opened gets nothing and is not passed on to later drivers; the next search tries again.
// From then on bytes flow directly between the stream and its driver.
//
// Threads: `accessoryShouldConnect` and `accessoryConnected` arrive on a global-queue
// thread (the search), `accessoryData` on the common run-loop thread, and
// `accessoryDisconnected` on the main queue. The manager's notification handlers run on
// the main queue. Every public member may be called from any thread; the driver and
// stream lists are guarded, and no driver callback is made while the manager holds a lock.
//
// A driver's `accessoryConnected` may block while it identifies the device (its commands
// wait for replies, which the run-loop thread reads) - it runs on the search's own thread.
// It must not wait for anything that only the main queue delivers.

#include <atomic>
#include <memory>
#include <mutex>
#include <optional>
#include <string>
#include <vector>

#include "platform/accessory/AccessoryManager.h"
#include "platform/foundation/NotificationCenter.h"
#include "sdk/transport/EAStream.h"

namespace kestra {

class KXUNISDKCommRunLoop;

// The application life-cycle notifications the manager follows (posted on the main queue
// by the application layer).
inline constexpr const char* kApplicationDidEnterBackgroundNotification =
    "UIApplicationDidEnterBackgroundNotification";
inline constexpr const char* kApplicationWillEnterForegroundNotification =
    "UIApplicationWillEnterForegroundNotification";

// The contract every accessory driver implements. All four are required.
class AccessoryManagerDelegate {
 public:
  virtual ~AccessoryManagerDelegate() = default;
  // Search thread. `channels` is a fresh copy of the accessory's protocol strings. Return
  // nullopt to pass, or the protocol strings to open, in channel order (strings that the
  // accessory does not offer are dropped; the channel number is the position of what
  // remains).
  virtual std::optional<std::vector<std::string>> accessoryShouldConnect(
      const std::string& name, std::vector<std::string> channels) = 0;
  // Search thread, once, after every claimed channel is open and the driver is the
  // stream's delegate. The driver keeps the stream to write to it.
  virtual void accessoryConnected(const std::shared_ptr<EAStream>& stream) = 0;
  // Common run-loop thread. All bytes held for `channel`; returns how many leading bytes
  // it consumed (whole messages only; 0 keeps everything, and the rest is offered again
  // with the next bytes).
  virtual int accessoryData(int channel, const uint8_t* buffer, int length) = 0;
  // Main queue, once per stream, before its sessions close (writes may no longer work).
  virtual void accessoryDisconnected(const std::shared_ptr<EAStream>& stream) = 0;
};

class EAManager final : public EAStreamManagerDelegate,
                        public std::enable_shared_from_this<EAManager> {
 public:
  // The process-wide manager over `accessory::AccessoryManager::shared()` and the shared
  // run-loop thread. Created once, thread-safely; never destroyed.
  static EAManager& sharedManager();
  // A manager of its own (tests): over `registry` and `commRunLoop`, which must outlive
  // it. It observes the registry's notifications until it is destroyed.
  static std::shared_ptr<EAManager> create(accessory::AccessoryManager& registry,
                                           KXUNISDKCommRunLoop& commRunLoop);
  ~EAManager() override;

  // Appends `driver` unless it is registered already. There is no removal.
  void setDelegate(std::shared_ptr<AccessoryManagerDelegate> driver);
  // Enables searching and starts one (on the main queue, without waiting).
  void tryConnect();
  // Disables searching. Closes nothing: drivers close their own streams.
  void disconnect();
  // True when an attached accessory with a name and protocol strings has a name beginning
  // with `text` (ignoring case) or lists `text` among its protocol strings.
  bool isAccessoryPresent(const std::string& text) const;
  // The search (normally run by the attach handler on the global queue). False when the
  // last stream it tried to open failed.
  bool findAccessory();
  // Drops streams that are no longer connected.
  void cleanUp();
  // Disconnects and drops streams whose accessory is no longer present.
  void eaClean();
  // From a stream that detached.
  void accessoryDisconnected(const std::shared_ptr<EAStream>& stream) override;

  // Notification handlers (main queue). `EAAccessoryDidConnect` with nullptr is a search
  // request.
  void EAAccessoryDidConnect(const foundation::Notification* notification);
  void EAAccessoryDidDisconnect(const foundation::Notification& notification);
  void UIApplicationDidEnterBackground();
  void UIApplicationWillEnterForeground();
  // Start and stop following the registry's attach and detach notifications.
  void onRegister();
  void onUnregister();

  // Whether streams stay open in the background (the application's "external-accessory"
  // background mode). Off by default.
  bool isBackgroundApp() const { return backgroundApp_.load(); }
  void setBackgroundApp(bool on) { backgroundApp_ = on; }

  bool disabled() const { return disabled_.load(); }
  void setDisabled(bool on) { disabled_ = on; }
  bool connectEnabled() const { return connectEnabled_.load(); }
  std::string disabledAccessory() const;
  void setDisabledAccessory(const std::string& name);
  bool searchInProgress() const { return searchInProgress_.load(); }

  bool connected() const;
  std::shared_ptr<AccessoryManagerDelegate> delegate() const;  // the first registered
  std::vector<std::shared_ptr<AccessoryManagerDelegate>> delegates() const;
  std::vector<std::shared_ptr<EAStream>> devices() const;

  accessory::AccessoryManager& registry() const { return registry_; }

  // How long the foreground handler waits before registering again and searching.
  static constexpr foundation::Duration kForegroundDelay = std::chrono::seconds(1);

 private:
  EAManager(accessory::AccessoryManager& registry, KXUNISDKCommRunLoop& commRunLoop);
  void observeApplication();

  accessory::AccessoryManager& registry_;
  KXUNISDKCommRunLoop& commRunLoop_;
  mutable std::mutex mutex_;  // guards delegates_, devices_, disabledAccessory_
  std::vector<std::shared_ptr<AccessoryManagerDelegate>> delegates_;
  std::vector<std::shared_ptr<EAStream>> devices_;
  std::string disabledAccessory_;
  std::atomic<bool> disabled_{false};
  std::atomic<bool> connectEnabled_{false};
  std::atomic<bool> backgroundApp_{false};
  std::atomic<bool> searchInProgress_{false};
  std::atomic<bool> searchAgain_{false};
  std::atomic<bool> registered_{false};
};

}  // namespace kestra
