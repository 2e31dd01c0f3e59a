#pragma once
// The application delegate: the one owner of the session state (`settings`, `globalSO`,
// `globalPick`, the `scanner` record), the window's navigation controller and the device
// facade. It launches the application, turns the facade's events into application
// notifications, and offers screens the activity viewer, the answer reading
// (`parseXmlData`, `errorResponseData`), the order-state reset (`initFlag`), scanner and
// sleeve controls, and the inactivity time-out.
//
// Screens reach it with `OrvoMobileAppDelegate::shared()` (the shared application's
// delegate). It is created with std::make_shared and handed to `ui::Application::launch`;
// `window` and `navigationController` must be set before launching.
//
// Threads: everything runs on the main thread, except the facade's callbacks, which may
// arrive on any thread; they copy what they were given and continue on the main queue, so
// the notifications are posted, and their observers run, on the main thread.

#include <memory>
#include <optional>
#include <string>

#include "app/core/DeviceServices.h"
#include "app/core/GlobalPick.h"
#include "app/core/GlobalSO.h"
#include "app/core/Service.h"
#include "app/core/Settings.h"
#include "platform/foundation/Timer.h"
#include "platform/ui/ActivityIndicatorView.h"
#include "platform/ui/AlertView.h"
#include "platform/ui/Application.h"
#include "platform/ui/Label.h"
#include "platform/ui/NavigationController.h"
#include "platform/ui/Window.h"

namespace orvo {

class OverlayViewController;

// The last connection state reported by the facade and the last battery capacity (%).
struct ScannerState {
  int conn = CONN_DISCONNECTED;
  int bat = 0;
};

// Alert tag of the time-out warning; the delegate's alert handler acts on no other tag.
inline constexpr int kTimeOutAlertTag = 80;
// Seconds the time-out warning counts down before the application ends.
inline constexpr int kExitCountdownSeconds = 10;

class OrvoMobileAppDelegate : public ui::ApplicationDelegate,
                              public KXDeviceDelegate,
                              public ui::AlertViewDelegate,
                              public std::enable_shared_from_this<OrvoMobileAppDelegate> {
 public:
  OrvoMobileAppDelegate();
  ~OrvoMobileAppDelegate() override;

  // The shared application's delegate, or nullptr when it is not this class.
  static OrvoMobileAppDelegate* shared();

  // Set before launching.
  std::shared_ptr<ui::Window> window;
  std::shared_ptr<ui::NavigationController> navigationController;

  Settings& settings() { return settings_; }
  GlobalSO& globalSO() { return globalSO_; }
  GlobalPick& globalPick() { return globalPick_; }
  ScannerState& scanner() { return scanner_; }
  std::shared_ptr<OKTKXDevices> kxdev() const { return kxdev_; }

  // ui::ApplicationDelegate.
  bool didFinishLaunchingWithOptions(ui::Application&, const nlohmann::json& options) override;

  // KXDeviceDelegate: any thread.
  void connectionState(int state) override;
  void deviceButtonPressed(int which) override;
  void deviceButtonReleased(int which) override;
  void barcodeData(const std::string& barcode, int type) override;
  void magneticCardData(const std::optional<std::string>& track1,
                        const std::optional<std::string>& track2,
                        const std::optional<std::string>& track3) override;

  // Scanner and sleeve controls.
  void startBarcode();
  void stopBarcode();
  // Posts "getScannerStatus" half a second later when the facade is not disconnected.
  void startMS();
  void msStart();
  void stopMS() {}
  void initKXDevice();
  bool enableCharging(bool enabled);
  bool enablePassSync(bool enabled);
  void updateBattery();
  void changeScanBeep(bool silent);

  // Development aid: connects the debug socket and feeds every message it receives to
  // `handleDebugMessage`. Nothing in the application calls it.
  void testSocket();
  // A message shorter than 21 characters is a barcode (type 0); a longer one is track 1 of
  // a card swipe.
  void handleDebugMessage(const std::string& message);

  // Order state.
  void initFlag();
  void AutoSaveFuncDataInit();

  // Activity viewer.
  void showActivityViewer(const std::string& text);
  void hideActivityViewer();
  bool isActivityViewerShown() const { return indicatorOn_; }
  void networkActivityStarted();
  void networkActivityStopped();
  void showOV();
  void hideOV();

  // Answer reading. The result text of a SOAP answer, or nothing (with the "Error" alert
  // when the envelope lacks the operation's response or result element).
  std::optional<std::string> parseXmlData(const std::string& answer, const std::string& funcName);
  // Words a failed request for the user (hides the activity viewer first).
  void errorResponseData(const ServiceFailure& failure);

  // Inactivity time-out.
  void timeOutInit();
  void timeOutStart();
  void timeOutEnd();
  void timeOutGoLogin();
  void exitTimerStart();
  void timeOutExitUpdater();
  void ovOn(const std::string& text);
  void yesTimeout();
  void noTimeout();
  bool isTimeOutArmed() const { return timeOutTimer_ != nullptr; }
  // ui::AlertViewDelegate.
  void clickedButtonAtIndex(ui::AlertView& alert, int buttonIndex) override;

  // Views of the activity viewer and the countdown (for the screens' tests).
  ui::ActivityIndicatorView* activityWheel() const { return activityWheel_.get(); }
  ui::Label* actLabel() const { return actLabel_.get(); }
  ui::Label* actLabelText() const { return actLabelText_.get(); }
  ui::Label* timerLabel() const { return timerLabel_.get(); }
  OverlayViewController* ovController() const { return ovController_.get(); }

 private:
  void buildActivityViews();
  void postOnMain(std::string name, nlohmann::json userInfo);

  std::shared_ptr<OKTKXDevices> kxdev_;
  std::shared_ptr<OverlayViewController> ovController_;
  int networkActivityCount_ = 0;
  std::shared_ptr<ui::ActivityIndicatorView> activityWheel_;
  std::shared_ptr<ui::Label> actLabel_;
  std::shared_ptr<ui::Label> actLabelText_;
  bool indicatorOn_ = false;
  std::shared_ptr<foundation::Timer> timeOutTimer_;
  std::string timeOut_;
  std::shared_ptr<foundation::Timer> exitTimer_;
  int exitSeconds_ = 0;
  std::shared_ptr<ui::Label> timerLabel_;
  ScannerState scanner_;
  Settings settings_;
  GlobalSO globalSO_;
  GlobalPick globalPick_;
};

}  // namespace orvo
