#pragma once
// The application object: launch, its delegate, the key window, the idle-timer flag and
// status bar, and the hooks through which the application leaves the model (opening a URL,
// ending the process). Tests replace the hooks to observe them; the Qt host installs ones
// that open the desktop's handler and quit its event loop. Also the device facts
// (`Device`). Main thread.

#include <functional>
#include <memory>
#include <optional>
#include <string>
#include <vector>

#include <nlohmann/json_fwd.hpp>

namespace ui {

class Window;
class Application;

// What the application object posts on the default notification centre (object nullptr),
// each right after the delegate's method of the same moment, as the platform does: others
// than the delegate (the device-management agent) follow the application's life this way.
inline constexpr const char* kApplicationDidFinishLaunchingNotification = "UIApplicationDidFinishLaunchingNotification";
inline constexpr const char* kApplicationDidBecomeActiveNotification = "UIApplicationDidBecomeActiveNotification";
inline constexpr const char* kApplicationWillResignActiveNotification = "UIApplicationWillResignActiveNotification";
inline constexpr const char* kApplicationDidEnterBackgroundNotification = "UIApplicationDidEnterBackgroundNotification";
inline constexpr const char* kApplicationWillEnterForegroundNotification = "UIApplicationWillEnterForegroundNotification";
inline constexpr const char* kApplicationWillTerminateNotification = "UIApplicationWillTerminateNotification";

// Where the application stands: in front and taking input, in front but not taking input
// (another window has the focus), or in the background (minimised, hidden).
enum class ApplicationState { Active, Inactive, Background };

enum class StatusBarStyle { Default, LightContent };

class ApplicationDelegate {
 public:
  virtual ~ApplicationDelegate() = default;
  virtual bool didFinishLaunchingWithOptions(Application&, const nlohmann::json& options) = 0;
  virtual void applicationWillResignActive(Application&) {}
  virtual void applicationDidEnterBackground(Application&) {}
  virtual void applicationWillEnterForeground(Application&) {}
  virtual void applicationDidBecomeActive(Application&) {}
  virtual void applicationWillTerminate(Application&) {}
  // A shake while nothing else took it (after the responder chain).
  virtual void motionEnded(Application&) {}
};

class Application {
 public:
  using OpenUrlHook = std::function<bool(const std::string& url)>;
  using ExitHook = std::function<void(int status)>;

  static Application& shared();

  // Keeps `delegate`, calls its launch method, and becomes active.
  bool launch(std::shared_ptr<ApplicationDelegate> delegate);
  std::shared_ptr<ApplicationDelegate> delegate() const { return delegate_; }
  bool isLaunched() const { return launched_; }
  Window* keyWindow() const;

  // While the idle timer is disabled the screen stays awake. The flag goes to the hook
  // whenever it changes (the Qt host suspends the desktop's screen saver with it).
  bool isIdleTimerDisabled() const { return idleTimerDisabled_; }
  void setIdleTimerDisabled(bool d);
  using IdleTimerHook = std::function<void(bool disabled)>;
  // Installs `hook` and calls it at once with the flag as it stands.
  void setIdleTimerHook(IdleTimerHook hook);
  bool applicationSupportsShakeToEdit() const { return shakeToEdit_; }
  void setApplicationSupportsShakeToEdit(bool s) { shakeToEdit_ = s; }
  bool isStatusBarHidden() const { return statusBarHidden_; }
  void setStatusBarHidden(bool h) { statusBarHidden_ = h; }
  StatusBarStyle statusBarStyle() const { return statusBarStyle_; }
  void setStatusBarStyle(StatusBarStyle s) { statusBarStyle_ = s; }
  bool isNetworkActivityIndicatorVisible() const { return networkIndicator_; }
  void setNetworkActivityIndicatorVisible(bool v) { networkIndicator_ = v; }

  // Opens `url` through the hook (default: recorded only, answered true).
  bool openURL(const std::string& url);
  bool canOpenURL(const std::string& url) const;
  const std::vector<std::string>& openedURLs() const { return opened_; }
  void setOpenUrlHook(OpenUrlHook hook) { openHook_ = std::move(hook); }

  // Ends the application through the hook (default: std::exit). The hook may return (tests,
  // the Qt host quitting its loop); `exitStatus()` then tells what was asked.
  void exit(int status);
  void setExitHook(ExitHook hook) { exitHook_ = std::move(hook); }
  std::optional<int> exitStatus() const { return exitStatus_; }

  // Life-cycle events (the host or a test calls them). Each tells the delegate and posts
  // the notifications of the moment; a call that does not change the state does nothing
  // (entering the background from it, or becoming active while active). `terminate` posts
  // once.
  ApplicationState applicationState() const { return state_; }
  void resignActive();
  void becomeActive();
  void enterBackground();
  void enterForeground();
  void terminate();

  // Forgets the delegate, hooks and flags (tests).
  void reset();

 private:
  std::shared_ptr<ApplicationDelegate> delegate_;
  bool launched_ = false;
  ApplicationState state_ = ApplicationState::Inactive;
  bool terminated_ = false;
  bool idleTimerDisabled_ = false;
  bool shakeToEdit_ = true;
  bool statusBarHidden_ = false;
  StatusBarStyle statusBarStyle_ = StatusBarStyle::Default;
  bool networkIndicator_ = false;
  std::vector<std::string> opened_;
  OpenUrlHook openHook_;
  ExitHook exitHook_;
  IdleTimerHook idleHook_;
  std::optional<int> exitStatus_;
};

// Facts about the phone. Defaults come from the system (host name, kernel); tests and the
// demo may set them.
class Device {
 public:
  static Device& current();
  std::string name() const;
  void setName(std::string n) { name_ = std::move(n); }
  std::string model() const { return model_; }
  void setModel(std::string m) { model_ = std::move(m); }
  std::string systemName() const { return systemName_; }
  std::string systemVersion() const { return systemVersion_; }
  void setSystemVersion(std::string v) { systemVersion_ = std::move(v); }
  // A UUID that stays the same for this process (set it to keep one across runs).
  std::string identifierForVendor() const;
  void setIdentifierForVendor(std::string id) { vendorId_ = std::move(id); }

 private:
  std::string name_;
  std::string model_ = "iPhone";
  std::string systemName_ = "iOS";
  std::string systemVersion_ = "9.3";
  mutable std::string vendorId_;
};

}  // namespace ui
