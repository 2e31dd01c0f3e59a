#pragma once
// The application's first screen and the root of the main navigation controller: a
// two-row form (user name, password), a scanner status line, an info button (About) and a
// settings button (behind the administrator-password lock).
//
// When it loads it checks that the server settings are complete and handles a change of
// Wi-Fi network through the settings profiles (`LoginClass`). It logs in with
// "AuthenticateUser", stores the credentials, applies the server's options to `Settings`
// and presents the main menu or the order type screen. An "UPDATE" answer opens the
// over-the-air installation link and ends the application. Until the first logout of the
// run, every appearance with "AutoLogin" on logs in again by itself.
//
// Owned by the navigation controller; main thread only.

#include <functional>
#include <memory>
#include <string>
#include <vector>

#include "app/core/ScreenRequest.h"
#include "platform/ui/AlertController.h"
#include "platform/ui/Label.h"
#include "platform/ui/TableView.h"
#include "platform/ui/TextField.h"
#include "platform/ui/ViewController.h"

namespace orvo {

class OrvoMobileAppDelegate;

class LoginViewController : public ui::ViewController,
                            public ui::TableViewDataSource,
                            public ui::TableViewDelegate,
                            public ui::TextFieldDelegate {
 public:
  // The administrator password in force while none is stored, and the master password
  // that always opens the settings.
  static constexpr const char* kDefaultAdminPw = "q73";
  static constexpr const char* kMasterPw = "rv27hold";

  LoginViewController() : ui::ViewController("LoginViewController") {}
  explicit LoginViewController(std::string nibName) : ui::ViewController(std::move(nibName)) {}
  ~LoginViewController() override;

  void loadView() override;
  void viewDidLoad() override;
  void viewWillAppear(bool animated) override;
  void viewDidAppear(bool animated) override;
  void viewWillDisappear(bool animated) override;
  void viewWillLayoutSubviews() override;

  // Login.
  void loginButtonClicked();
  void loginResponseData(const RequestAnswer& answer);
  bool checkOrvoSettings();
  void updateOrvoMobile(const std::string& version);
  void showMainMenuView(bool animated);
  void showSoOrderTypeView(bool animated);
  void infoButtonClicked();

  // Settings lock.
  void settingsButtonClicked();
  void alertSetting(ui::TextField& field, bool yesOrNo);
  void settingsChangePw();
  void alertChangePW(ui::TextField& pw1, ui::TextField& pw2);
  void gotoSettingsView();

  // Scanner status line.
  void scanButtonPressed();
  void updateScannerStatus();
  void displayScannerState();
  static std::string getScannerState(int state);
  void setChargingMode();
  void setPassSyncMode();
  void showUpdateIosWarning();

  void subscribeForKeyboardNotification();
  void keyboardWillAppear(const nlohmann::json& userInfo);
  void disappearAllKeyboard();

  // ui::TableViewDataSource / ui::TableViewDelegate.
  int numberOfRowsInSection(ui::TableView&, int section) override;
  std::shared_ptr<ui::TableViewCell> cellForRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;
  void didSelectRowAtIndexPath(ui::TableView&, ui::IndexPath ip) override;
  // ui::TextFieldDelegate.
  bool textFieldShouldReturn(ui::TextField& field) override;
  bool textFieldShouldEndEditing(ui::TextField&) override { return true; }

  // State the tests read.
  ui::TableView* tableView() const { return table_.get(); }
  ui::TextField* usernameTextField() const { return usernameTextField_.get(); }
  ui::TextField* passwordTextField() const { return passwordTextField_.get(); }
  ui::Label* scannerStatusLabel() const { return scannerStatusLabel_.get(); }
  const std::string& adminPw() const { return adminPw_; }
  const std::string& userId() const { return userId_; }
  bool settingErrorFlag() const { return settingErrorFlag_; }
  double keyboardAnimationDuration() const { return keyboardAnimationDuration_; }
  double keyboardHeight() const { return keyboardHeight_; }

  // How the pause before the application ends is spent (default: the thread sleeps).
  static void setSleepHook(std::function<void(double seconds)> hook);

 private:
  std::weak_ptr<LoginViewController> weakSelf();
  void performAfter(double seconds, void (LoginViewController::*method)());
  void showMessage(const std::string& message);
  void presentInNavigation(const std::string& interfaceName, bool animated);
  void applyLoginOptions(const nlohmann::json& options);

  OrvoMobileAppDelegate* orvoDelegate_ = nullptr;
  std::shared_ptr<ui::TableView> table_;
  std::vector<std::string> loginItemsArray_;
  std::shared_ptr<ui::TextField> usernameTextField_;
  std::shared_ptr<ui::TextField> passwordTextField_;
  std::string userId_;
  std::string userPassword_;
  std::string adminPw_;
  std::shared_ptr<ui::Label> scannerStatusLabel_;
  std::vector<std::shared_ptr<ui::TableViewCell>> cells_;
  bool settingErrorFlag_ = false;
  double keyboardAnimationDuration_ = 0;
  double keyboardHeight_ = 0;
};

}  // namespace orvo
